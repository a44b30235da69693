// The checks of the debug log for code that names its method the way the
// platform prints it ("-[SecureSigningIdentity evaluateSigningCertDictionary]").
#pragma once

#include "CoreMachDebugLog.h"

// VERIFY_IN(method, value, code): files "VERIFY FAILED: ..." under `method`
// with the code text `code` when `value` is false; its value is `value`.
#define VERIFY_IN(method, value, code) _CoreMachDebugVerify(static_cast<bool>(value), method, __FILE__, __LINE__, code)

#define VERIFY_OSERR_IN(method, expression)                                                       \
    _CoreMachDebugVerifyOSerr((expression), method, __FILE__, __LINE__, " code : " #expression)
