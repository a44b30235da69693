#include "RequiredFoundation.h"

void __NSRequiredNSErrorNilBody(const NSError* error, const char* function, const char* file, int line,
                                const char* code)
{
    NSLog("REQUIRED_NSERROR_NIL FAILED (%@) : %s in %s:%d (%s)\n", error, code ? code : "", file ? file : "", line,
          function ? function : "");
}
