// The running system's version, asked once of Gestalt(gestaltSystemVersion)
// and kept: a packed number 0xMMmb (0x1070 is 10.7.0) that orders as a plain
// signed integer. See CoreServices/Gestalt.h for how Linux maps onto it.
#pragma once

#include "CoreFoundation/CoreFoundation.h"
#include "CoreServices/MacTypes.h"

typedef SInt32 CoreSystemName;

class CoreSystem {
public:
    // The cached version; 0 while the query fails (it is asked again then).
    static CoreSystemName GetVersion();
    static CoreSystemName GetSystemName() { return GetVersion(); }
    static bool IsEarlierThanRevision(const CoreSystemName& in_revision) { return GetSystemName() < in_revision; }
    static bool IsAtLeast(const CoreSystemName& in_revision) { return GetSystemName() >= in_revision; }
    // Whether the named system framework loads and has the function. The
    // framework is loaded for the question and unloaded again.
    static bool SystemFrameworkHasFunction(CFStringRef in_frameworkName, CFStringRef in_functionName);
};
