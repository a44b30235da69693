#include "CoreServices/Gestalt.h"

#include <algorithm>
#include <cctype>
#include <sys/utsname.h>

namespace sentrel::gestalt {

namespace {
bool readNumber(const char*& p, long& out)
{
    if (!std::isdigit(static_cast<unsigned char>(*p)))
        return false;
    out = 0;
    while (std::isdigit(static_cast<unsigned char>(*p))) {
        out = std::min(out * 10 + (*p - '0'), 1000000L);
        ++p;
    }
    return true;
}
} // namespace

SInt32 packedVersionForKernelRelease(const char* release)
{
    if (!release)
        return 0;
    const char* p = release;
    long major = 0, minor = 0;
    if (!readNumber(p, major) || *p++ != '.' || !readNumber(p, minor))
        return 0;
    long digit = major + 4;   // 3.x -> 7
    long bugFix = std::min(minor, 9L);
    if (digit > 9) {
        digit = 9;
        bugFix = 9;
    }
    digit = std::max(digit, 0L);
    return static_cast<SInt32>(0x1000 | (digit << 4) | bugFix);
}

} // namespace sentrel::gestalt

OSErr Gestalt(OSType selector, SInt32* response)
{
    if (!response)
        return paramErr;
    if (selector != gestaltSystemVersion)
        return gestaltUndefSelectorErr;
    struct utsname names;
    if (uname(&names) != 0)
        return gestaltUnknownErr;
    SInt32 version = sentrel::gestalt::packedVersionForKernelRelease(names.release);
    if (version == 0)
        return gestaltUnknownErr;
    *response = version;
    return noErr;
}
