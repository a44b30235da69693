#include "asl/asl.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <syslog.h>

struct __aslclient {
    std::string ident;      // empty: the program's name
    std::string facility;   // kept for the record's sake; syslog files it under LOG_USER
    uint32_t options = 0;
};

aslclient asl_open(const char* ident, const char* facility, uint32_t opts)
{
    auto* client = new __aslclient;
    if (ident)
        client->ident = ident;
    if (facility)
        client->facility = facility;
    client->options = opts;
    return client;
}

void asl_close(aslclient client)
{
    delete client;
}

int asl_vlog(aslclient client, aslmsg, int level, const char* format, va_list ap)
{
    if (level < ASL_LEVEL_EMERG || level > ASL_LEVEL_DEBUG || !format)
        return -1;

    int options = LOG_PID;
    if (client && (client->options & ASL_OPT_STDERR))
        options |= LOG_PERROR;
    if (client && (client->options & ASL_OPT_NO_DELAY))
        options |= LOG_NDELAY;
    const char* ident = client && !client->ident.empty() ? client->ident.c_str() : nullptr;

    openlog(ident, options, LOG_USER);
    vsyslog(level, format, ap);
    // Back to syslog's defaults: openlog keeps its options until the next
    // openlog, and closelog forgets the ident (which points into the client).
    openlog(nullptr, 0, LOG_USER);
    closelog();
    return 0;
}

int asl_log(aslclient client, aslmsg msg, int level, const char* format, ...)
{
    va_list ap;
    va_start(ap, format);
    int result = asl_vlog(client, msg, level, format, ap);
    va_end(ap);
    return result;
}
