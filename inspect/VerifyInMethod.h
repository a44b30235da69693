// The status check of the debug log for code that names its method the way
// the platform prints it ("-[SecureSigningIdentity evaluateSigningCertDictionary]").
#pragma once

#include "CoreMachDebugLog.h"

#define VERIFY_OSERR_IN(method, expression)                                                       \
    _CoreMachDebugVerifyOSerr((expression), method, __FILE__, __LINE__, " code : " #expression)
