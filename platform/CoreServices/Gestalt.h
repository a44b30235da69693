// Gestalt, for the one question this system asks: the system version.
//
// gestaltSystemVersion answers the version packed as hexadecimal digits
// 0xMMmb (0x1070 is 10.7.0), so that versions order as plain integers. On
// Linux the running system's version is its kernel's (uname), mapped onto
// that form as follows:
//
//   kernel 3.x  -> 0x107x    (Linux 3.0 and 10.7 shipped the same summer)
//   kernel 4.x  -> 0x108x
//   kernel 5.x  -> 0x109x
//   kernel 6 and later -> 0x1099, the packed form's own ceiling
//
// where x is the kernel's minor number, capped at 9; kernels before 3.0 map
// to 0x106x. Every kernel this program supports therefore answers at least
// 0x1070, and a newer kernel never answers less than an older one.
#pragma once

#include "CoreServices/MacErrors.h"

enum : OSType {
    gestaltSystemVersion = 0x73797376,   // 'sysv'
};

// noErr with the answer in *response; gestaltUndefSelectorErr for a selector
// this stand-in does not answer, gestaltUnknownErr when the kernel's release
// text cannot be read, paramErr for a null response.
OSErr Gestalt(OSType selector, SInt32* response);

namespace sentrel::gestalt {
// The packed version for a kernel release text such as "6.1.0-18-amd64";
// 0 when the text does not start with "major.minor".
SInt32 packedVersionForKernelRelease(const char* release);
} // namespace sentrel::gestalt
