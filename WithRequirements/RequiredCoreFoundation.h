// Requirement reports that always go to the Apple System Log, whatever route
// the debug log takes: a client with the ident of this module's source path
// and the facility "__CFRequiredBody", debug level, echoed on standard error.
#pragma once

#include "CoreServices/MacTypes.h"

void __CFRequiredBody(const char* function, const char* file, int line, const char* code);
// The line carries the status's symbolic name and comment.
void __OSStatusRequiredBody(OSStatus status, const char* function, const char* file, int line, const char* code);

inline bool __CFRequired(bool value, const char* function, const char* file, int line, const char* code)
{
    if (!value)
        __CFRequiredBody(function, file, line, code);
    return value;
}

inline OSStatus __OSStatusRequired(OSStatus status, const char* function, const char* file, int line, const char* code)
{
    if (status != 0)
        __OSStatusRequiredBody(status, function, file, line, code);
    return status;
}

// REQUIRED_CF(expression): reports "REQUIREMENT FAILED: ..." when false.
#define REQUIRED_CF(expression)                                                                   \
    __CFRequired(static_cast<bool>(expression), __func__, __FILE__, __LINE__, " code : " #expression)
// REQUIRED_OSSTATUS(expression): reports "REQUIRED_OSSTATUS(status) ..." when not 0.
#define REQUIRED_OSSTATUS(expression)                                                             \
    __OSStatusRequired((expression), __func__, __FILE__, __LINE__, " code : " #expression)
