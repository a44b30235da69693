// The requirement report for an error object that should be nil, written
// with NSLog whatever route the debug log takes.
#pragma once

#include "Foundation/Foundation.h"

void __NSRequiredNSErrorNilBody(const NSError* error, const char* function, const char* file, int line,
                                const char* code);

inline bool __NSRequiredNSErrorNil(const NSError* error, const char* function, const char* file, int line,
                                   const char* code)
{
    if (error)
        __NSRequiredNSErrorNilBody(error, function, file, line, code);
    return error == nullptr;
}

// REQUIRED_NSERROR_NIL(error): reports "REQUIRED_NSERROR_NIL FAILED (...)" unless the error is nil.
#define REQUIRED_NSERROR_NIL(error)                                                               \
    __NSRequiredNSErrorNil((error), __func__, __FILE__, __LINE__, " code : " #error)
