// A program that starts inside a Flatpak sandbox. Just before its own
// entitlements are read at load, its code becomes the one described by the
// information file that $SENTREL_FLATPAK_INFO names -- in a real sandbox
// /.flatpak-info, which a test cannot write. Prints what the program's
// entitlements say.
#include "CoreStaticInitOrder.h"
#include "UCodeEntitlements.h"

#include <cstdio>
#include <cstdlib>

CORE_INIT_FUNCTION(kCoreInitRank_CodeEntitlements - 1) static void StartInTheSandbox()
{
    if (SecCodeRef code = SecCodeCreateFromFlatpakInfo(std::getenv("SENTREL_FLATPAK_INFO"))) {
        SecCodeSetSelfForTesting(code);
        CFRelease(code);
    }
}

int main()
{
    const UCodeEntitlements& self = UCodeEntitlements::sEntitlements;
    CFStringRef identifier = self.CopySignedBundleID();
    std::printf("sandbox=%d identifier=%s\n", self.HasActiveSecuritySandbox() ? 1 : 0,
                identifier ? identifier->utf8().c_str() : "(none)");
    if (identifier)
        CFRelease(identifier);
    SecCodeSetSelfForTesting(nullptr);
    return 0;
}
