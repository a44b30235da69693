#include "RequiredCoreFoundation.h"

#include "CoreFoundation/CoreFoundation.h"
#include "CoreServices/StatusStrings.h"
#include "asl/asl.h"

namespace {
const char* text(const char* in_text) { return in_text ? in_text : ""; }
} // namespace

void __CFRequiredBody(const char* function, const char* file, int line, const char* code)
{
    aslclient client = asl_open(__FILE__, "__CFRequiredBody", ASL_OPT_STDERR);
    asl_log(client, nullptr, ASL_LEVEL_DEBUG, "REQUIREMENT FAILED: %s in %s:%d (%s)\n", text(code), text(file), line,
            text(function));
    asl_close(client);
}

void __OSStatusRequiredBody(OSStatus status, const char* function, const char* file, int line, const char* code)
{
    AutoreleasePoolScope pool;
    NSString* nameAndComment = NSString::stringWithFormat("%s %s", GetMacOSStatusErrorString(status),
                                                          GetMacOSStatusCommentString(status));
    aslclient client = asl_open(__FILE__, "__CFRequiredBody", ASL_OPT_STDERR);
    asl_log(client, nullptr, ASL_LEVEL_DEBUG, "REQUIRED_OSSTATUS(%ld) %s: %s in %s:%d (%s)\n", static_cast<long>(status),
            nameAndComment->UTF8String(), text(code), text(file), line, text(function));
    asl_close(client);
}
