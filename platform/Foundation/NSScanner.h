// A scanner reads numbers off the front of a string, as the platform's does:
// each scan first skips the characters to be skipped (white space and line
// ends), then reads what it can; a scan that finds nothing leaves the scan
// location where it was and answers false.
#pragma once

#include "Foundation/NSString.h"

class NSScanner : public NSObject {
    OBJC_CLASS(NSScanner, NSObject)
public:
    NSScanner() = default;
    // A nil string scans as the empty string.
    static NSScanner* scannerWithString(const NSString* string);
    NSScanner* initWithString(const NSString* string);

    NSString* string() const { return m_string; }
    NSUInteger scanLocation() const { return m_location; }
    // Raises NSRangeException past the end of the string.
    void setScanLocation(NSUInteger location);
    // True when only characters to be skipped are left.
    bool isAtEnd() const;

    // Hexadecimal digits with an optional "0x" or "0X" in front, no sign.
    // A value past UINT_MAX gives UINT_MAX, and the scan still succeeds and
    // consumes every digit.
    bool scanHexInt(unsigned* result);
    // Decimal digits with an optional sign. A value out of range gives
    // INT_MAX or INT_MIN, and the scan still succeeds.
    bool scanInt(int* result);
    bool scanLongLong(long long* result);

private:
    NSUInteger skipped(NSUInteger from) const;
    bool scanDecimal(long long min, long long max, long long* result);

    Retained<NSString> m_string;
    NSUInteger m_location = 0;
};
