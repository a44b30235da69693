// The Apple System Log client calls over syslog(3).
//
// A client carries the sender's name (ident), a facility name and options.
// Each record goes to syslog(3) with the client's ident, the process id and
// the record's level (ASL levels and syslog priorities have the same values);
// syslog has no named facilities, so every record is filed under LOG_USER.
// With ASL_OPT_STDERR the record is also echoed on standard error, by the
// C library's own LOG_PERROR echo: "ident[pid]: message", a line feed added
// only when the message lacks one.
//
// syslog's ident and options are process-wide; a record sets them for the
// duration of one call and puts syslog back to its defaults afterwards (no
// ident, no options), so code that calls syslog(3) directly is not affected.
#pragma once

#include <cstdarg>
#include <cstdint>

struct __aslclient;
struct __aslmsg;
typedef __aslclient* aslclient;
typedef __aslmsg* aslmsg;

enum : uint32_t {
    ASL_OPT_STDERR = 0x00000001,
    ASL_OPT_NO_DELAY = 0x00000002,
    ASL_OPT_NO_REMOTE = 0x00000004,
};

enum : int {
    ASL_LEVEL_EMERG = 0,
    ASL_LEVEL_ALERT = 1,
    ASL_LEVEL_CRIT = 2,
    ASL_LEVEL_ERR = 3,
    ASL_LEVEL_WARNING = 4,
    ASL_LEVEL_NOTICE = 5,
    ASL_LEVEL_INFO = 6,
    ASL_LEVEL_DEBUG = 7,
};

// A new client; null idents take the program's name. Never fails short of
// memory exhaustion.
aslclient asl_open(const char* ident, const char* facility, uint32_t opts);
void asl_close(aslclient client);

// Formats with the printf rules and writes one record. A null client logs
// with the program's name and no echo. `msg` (a prepared message object) is
// not supported and must be null. Answers 0, or -1 for a level outside 0...7.
int asl_log(aslclient client, aslmsg msg, int level, const char* format, ...)
    __attribute__((format(printf, 4, 5)));
int asl_vlog(aslclient client, aslmsg msg, int level, const char* format, va_list ap)
    __attribute__((format(printf, 4, 0)));
