// The console log: one line per call on standard error, led by the date, the
// program's name and its process and thread numbers, as the platform writes it.
#pragma once

#include "Foundation/NSString.h"

void NSLogWrite(std::string_view message);

template <class... Args>
void NSLog(std::string_view format, const Args&... args)
{
    NSLogWrite(formatString(format, args...));
}

// Where the formatted message goes instead of standard error (nil restores it):
// the hook gets the message, without the leading date and names, its length,
// and whether a date and names would have been written.
typedef void (*NSLogCStringFunction)(const char* message, unsigned length, BOOL withSyslogBanner);
void _NSSetLogCStringFunction(NSLogCStringFunction function);
NSLogCStringFunction _NSLogCStringFunction();
