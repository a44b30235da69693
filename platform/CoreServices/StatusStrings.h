// The symbolic name and the comment of a status code, as the platform's
// headers give them: GetMacOSStatusErrorString(-43) is "fnfErr",
// GetMacOSStatusCommentString(-43) is "File not found". Both answer "" for a
// code they do not know, never null.
//
// The table covers the codes this system can meet: File Manager and memory
// errors, Gestalt, code signing (errSecCS...) and the Security framework's
// keychain, certificate and trust codes. It is built twice: into
// sentrel_coreservices for callers that link it, and into the executable of
// CoreServices.framework, which the debug log loads at run time.
#pragma once

#include "CoreServices/MacTypes.h"

extern "C" {
const char* GetMacOSStatusErrorString(OSStatus err);
const char* GetMacOSStatusCommentString(OSStatus err);
}
