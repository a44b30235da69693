#include "Foundation/NSScanner.h"

#include "Foundation/NSArray.h"
#include "Foundation/NSException.h"

#include <climits>

namespace {

// The platform's whitespaceAndNewlineCharacterSet: Unicode's Zs and the line
// and paragraph separators, plus the control characters for tab, line feed,
// vertical tab, form feed, carriage return and next line.
bool isSkippable(char16_t c)
{
    switch (c) {
    case u' ': case u'\t': case u'\n': case u'\v': case u'\f': case u'\r':
    case 0x0085: case 0x00A0: case 0x1680: case 0x2028: case 0x2029:
    case 0x202F: case 0x205F: case 0x3000:
        return true;
    default:
        return c >= 0x2000 && c <= 0x200A;
    }
}

int hexDigit(char16_t c)
{
    if (c >= u'0' && c <= u'9')
        return c - u'0';
    if (c >= u'a' && c <= u'f')
        return c - u'a' + 10;
    if (c >= u'A' && c <= u'F')
        return c - u'A' + 10;
    return -1;
}

} // namespace

OBJC_IMPLEMENTATION(NSScanner, NSObject) {}

NSScanner* NSScanner::scannerWithString(const NSString* string)
{
    return static_cast<NSScanner*>(alloc()->initWithString(string)->autorelease());
}

NSScanner* NSScanner::initWithString(const NSString* string)
{
    m_string = string ? const_cast<NSString*>(string) : NSString::string();
    m_location = 0;
    return this;
}

void NSScanner::setScanLocation(NSUInteger location)
{
    if (location > m_string->length())
        NSException::raise(NSRangeException, "-[NSScanner setScanLocation:]: Range or index out of bounds");
    m_location = location;
}

NSUInteger NSScanner::skipped(NSUInteger from) const
{
    const std::u16string& chars = m_string->characters();
    while (from < chars.size() && isSkippable(chars[from]))
        ++from;
    return from;
}

bool NSScanner::isAtEnd() const { return skipped(m_location) >= m_string->length(); }

bool NSScanner::scanHexInt(unsigned* result)
{
    const std::u16string& chars = m_string->characters();
    NSUInteger at = skipped(m_location);
    // The prefix counts only when a digit follows it; "0xg" scans as 0 and
    // stops at the "x".
    if (at + 2 < chars.size() && chars[at] == u'0' && (chars[at + 1] == u'x' || chars[at + 1] == u'X') &&
        hexDigit(chars[at + 2]) >= 0)
        at += 2;
    if (at >= chars.size() || hexDigit(chars[at]) < 0)
        return false;
    unsigned long long value = 0;
    bool overflow = false;
    for (; at < chars.size(); ++at) {
        int digit = hexDigit(chars[at]);
        if (digit < 0)
            break;
        value = value * 16 + static_cast<unsigned>(digit);
        if (value > UINT_MAX) {
            overflow = true;
            value = UINT_MAX;
        }
    }
    m_location = at;
    if (result)
        *result = overflow ? UINT_MAX : static_cast<unsigned>(value);
    return true;
}

bool NSScanner::scanDecimal(long long min, long long max, long long* result)
{
    const std::u16string& chars = m_string->characters();
    NSUInteger at = skipped(m_location);
    bool negative = false;
    if (at < chars.size() && (chars[at] == u'+' || chars[at] == u'-')) {
        negative = chars[at] == u'-';
        ++at;
    }
    if (at >= chars.size() || chars[at] < u'0' || chars[at] > u'9')
        return false;
    // Accumulated as a negative number, which reaches one further than a
    // positive one (LLONG_MIN).
    long long value = 0;
    bool overflow = false;
    for (; at < chars.size() && chars[at] >= u'0' && chars[at] <= u'9'; ++at) {
        const int digit = chars[at] - u'0';
        if (!overflow && (value < (LLONG_MIN + digit) / 10))
            overflow = true;
        if (!overflow)
            value = value * 10 - digit;
    }
    m_location = at;
    long long out;
    if (negative)
        out = overflow || value < min ? min : value;
    else
        out = overflow || value < -max ? max : -value;
    if (result)
        *result = out;
    return true;
}

bool NSScanner::scanInt(int* result)
{
    long long value = 0;
    if (!scanDecimal(INT_MIN, INT_MAX, &value))
        return false;
    if (result)
        *result = static_cast<int>(value);
    return true;
}

bool NSScanner::scanLongLong(long long* result) { return scanDecimal(LLONG_MIN, LLONG_MAX, result); }
