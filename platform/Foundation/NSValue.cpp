#include "Foundation/Foundation.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <limits>

// ---------------------------------------------------------------- NSNumber

OBJC_IMPLEMENTATION_TYPEID(NSNumber, NSObject, kCFTypeIDNumber) {}

namespace {

bool isFloat(CFNumberType type)
{
    return type == kCFNumberFloat32Type || type == kCFNumberFloat64Type || type == kCFNumberFloatType ||
           type == kCFNumberDoubleType || type == kCFNumberCGFloatType;
}

template <class T>
bool storeInteger(long double exact, bool isInteger, void* out)
{
    // Out-of-range values saturate; the answer says whether nothing was lost
    // (no truncated fraction, no overflow).
    bool fits = exact >= static_cast<long double>(std::numeric_limits<T>::min()) &&
                exact <= static_cast<long double>(std::numeric_limits<T>::max());
    T value = fits ? static_cast<T>(exact) : exact < 0 ? std::numeric_limits<T>::min() : std::numeric_limits<T>::max();
    std::memcpy(out, &value, sizeof value);
    return fits && isInteger;
}

} // namespace

size_t NSNumber::byteSizeOfType(CFNumberType type)
{
    switch (type) {
    case kCFNumberSInt8Type:
    case kCFNumberCharType: return 1;
    case kCFNumberSInt16Type:
    case kCFNumberShortType: return 2;
    case kCFNumberSInt32Type:
    case kCFNumberIntType:
    case kCFNumberFloat32Type:
    case kCFNumberFloatType: return 4;
    case kCFNumberSInt64Type:
    case kCFNumberLongLongType:
    case kCFNumberFloat64Type:
    case kCFNumberDoubleType:
    case kCFNumberLongType:
    case kCFNumberCFIndexType:
    case kCFNumberNSIntegerType:
    case kCFNumberCGFloatType: return 8;
    default: return 0;
    }
}

NSNumber* NSNumber::numberWithBool(bool value) { return value ? NSBooleanNumber::trueValue() : NSBooleanNumber::falseValue(); }

NSNumber* NSNumber::numberWithLongLong(long long value)
{
    NSNumber* n = new NSNumber;
    n->m_type = (value >= INT32_MIN && value <= INT32_MAX) ? kCFNumberSInt32Type : kCFNumberSInt64Type;
    n->m_store = Store::Signed;
    n->m_value.i = value;
    return static_cast<NSNumber*>(n->autorelease());
}

NSNumber* NSNumber::numberWithUnsignedLongLong(unsigned long long value)
{
    if (value <= static_cast<unsigned long long>(INT64_MAX))
        return numberWithLongLong(static_cast<long long>(value));
    NSNumber* n = new NSNumber;
    n->m_type = kCFNumberSInt64Type;
    n->m_store = Store::Unsigned;
    n->m_value.u = value;
    return static_cast<NSNumber*>(n->autorelease());
}

NSNumber* NSNumber::numberWithDouble(double value)
{
    NSNumber* n = new NSNumber;
    n->m_type = kCFNumberFloat64Type;
    n->m_store = Store::Double;
    n->m_value.d = value;
    return static_cast<NSNumber*>(n->autorelease());
}

NSNumber* NSNumber::numberWithFloat(float value)
{
    NSNumber* n = numberWithDouble(value);
    n->m_type = kCFNumberFloat32Type;
    return n;
}

NSNumber* NSNumber::numberWithType(CFNumberType type, const void* valuePtr)
{
    if (!valuePtr || byteSizeOfType(type) == 0)
        return nil;
    NSNumber* n = nullptr;
    switch (type) {
    case kCFNumberSInt8Type:
    case kCFNumberCharType: { int8_t v; std::memcpy(&v, valuePtr, 1); n = numberWithLongLong(v); break; }
    case kCFNumberSInt16Type:
    case kCFNumberShortType: { int16_t v; std::memcpy(&v, valuePtr, 2); n = numberWithLongLong(v); break; }
    case kCFNumberSInt32Type:
    case kCFNumberIntType: { int32_t v; std::memcpy(&v, valuePtr, 4); n = numberWithLongLong(v); break; }
    case kCFNumberFloat32Type:
    case kCFNumberFloatType: { float v; std::memcpy(&v, valuePtr, 4); n = numberWithFloat(v); break; }
    case kCFNumberFloat64Type:
    case kCFNumberDoubleType:
    case kCFNumberCGFloatType: { double v; std::memcpy(&v, valuePtr, 8); n = numberWithDouble(v); break; }
    default: { int64_t v; std::memcpy(&v, valuePtr, 8); n = numberWithLongLong(v); break; }
    }
    n->m_type = type;
    return n;
}

bool NSNumber::getValue(CFNumberType type, void* valuePtr) const
{
    if (!valuePtr || byteSizeOfType(type) == 0)
        return false;
    long double exact = m_store == Store::Signed     ? static_cast<long double>(m_value.i)
                        : m_store == Store::Unsigned ? static_cast<long double>(m_value.u)
                                                     : static_cast<long double>(m_value.d);
    bool integral = m_store != Store::Double || (std::isfinite(m_value.d) && std::trunc(m_value.d) == m_value.d);
    if (isFloat(type)) {
        if (byteSizeOfType(type) == 4) {
            float v = static_cast<float>(exact);
            std::memcpy(valuePtr, &v, 4);
            return static_cast<long double>(v) == exact || (m_store == Store::Double && std::isnan(m_value.d));
        }
        double v = static_cast<double>(exact);
        std::memcpy(valuePtr, &v, 8);
        return static_cast<long double>(v) == exact || (m_store == Store::Double && std::isnan(m_value.d));
    }
    if (m_store == Store::Double && !std::isfinite(m_value.d)) {
        std::memset(valuePtr, 0, byteSizeOfType(type));
        return false;
    }
    switch (byteSizeOfType(type)) {
    case 1: return storeInteger<int8_t>(exact, integral, valuePtr);
    case 2: return storeInteger<int16_t>(exact, integral, valuePtr);
    case 4: return storeInteger<int32_t>(exact, integral, valuePtr);
    default: return storeInteger<int64_t>(exact, integral, valuePtr);
    }
}

bool NSNumber::boolValue() const
{
    switch (m_store) {
    case Store::Signed: return m_value.i != 0;
    case Store::Unsigned: return m_value.u != 0;
    default: return m_value.d != 0;
    }
}

long long NSNumber::longLongValue() const
{
    switch (m_store) {
    case Store::Signed: return m_value.i;
    case Store::Unsigned: return static_cast<long long>(m_value.u);
    default: return std::isfinite(m_value.d) && std::fabs(m_value.d) < 9.2e18 ? static_cast<long long>(m_value.d) : 0;
    }
}

unsigned long long NSNumber::unsignedLongLongValue() const
{
    return m_store == Store::Unsigned ? m_value.u : static_cast<unsigned long long>(longLongValue());
}

int NSNumber::intValue() const { return static_cast<int>(longLongValue()); }
NSInteger NSNumber::integerValue() const { return static_cast<NSInteger>(longLongValue()); }
unsigned NSNumber::unsignedIntValue() const { return static_cast<unsigned>(unsignedLongLongValue()); }

double NSNumber::doubleValue() const
{
    switch (m_store) {
    case Store::Signed: return static_cast<double>(m_value.i);
    case Store::Unsigned: return static_cast<double>(m_value.u);
    default: return m_value.d;
    }
}

NSComparisonResult NSNumber::compare(const NSNumber* other) const
{
    if (!other)
        return NSOrderedDescending;
    if (m_store != Store::Double && other->m_store != Store::Double) {
        auto key = [](const NSNumber* n) {
            return n->m_store == Store::Unsigned ? std::pair<int, unsigned long long>(1, n->m_value.u)
                   : n->m_value.i < 0            ? std::pair<int, unsigned long long>(-1, static_cast<unsigned long long>(n->m_value.i))
                                                 : std::pair<int, unsigned long long>(0, static_cast<unsigned long long>(n->m_value.i));
        };
        auto a = key(this), b = key(other);
        // Unsigned stores are all above INT64_MAX, so the bucket orders first.
        if (a.first == 1 && b.first == 0)
            return NSOrderedDescending;
        if (a.first == 0 && b.first == 1)
            return NSOrderedAscending;
        if (a.first != b.first)
            return a.first < b.first ? NSOrderedAscending : NSOrderedDescending;
        return a.second < b.second ? NSOrderedAscending : a.second > b.second ? NSOrderedDescending : NSOrderedSame;
    }
    double x = doubleValue(), y = other->doubleValue();
    return x < y ? NSOrderedAscending : x > y ? NSOrderedDescending : NSOrderedSame;
}

NSString* NSNumber::description() const
{
    switch (m_store) {
    case Store::Signed: return NSString::stringWithFormat("%lld", m_value.i);
    case Store::Unsigned: return NSString::stringWithFormat("%llu", m_value.u);
    default:
        // As the platform prints doubles: the shortest text that reads back.
        return NSString::stringWithFormat(m_type == kCFNumberFloat32Type || m_type == kCFNumberFloatType ? "%.9g" : "%.17g",
                                          m_value.d);
    }
}

BOOL NSNumber::isEqual(const NSObject* other) const
{
    return other && other->isKindOfClass(NSNumber::class_()) && isEqualToNumber(static_cast<const NSNumber*>(other));
}

NSUInteger NSNumber::hash() const
{
    double d = doubleValue();
    return std::hash<double>()(d == 0 ? 0.0 : d);
}

OBJC_IMPLEMENTATION_TYPEID(NSBooleanNumber, NSNumber, kCFTypeIDBoolean) {}

NSNumber* NSBooleanNumber::trueValue()
{
    static NSBooleanNumber* value = [] {
        auto* n = new NSBooleanNumber;
        n->m_type = kCFNumberCharType;
        n->m_value.i = 1;
        n->makeImmortal();
        return n;
    }();
    return value;
}

NSNumber* NSBooleanNumber::falseValue()
{
    static NSBooleanNumber* value = [] {
        auto* n = new NSBooleanNumber;
        n->m_type = kCFNumberCharType;
        n->m_value.i = 0;
        n->makeImmortal();
        return n;
    }();
    return value;
}

OBJC_IMPLEMENTATION_TYPEID(NSNull, NSObject, kCFTypeIDNull) {}

NSNull* NSNull::null()
{
    static NSNull* value = [] {
        auto* n = new NSNull;
        n->makeImmortal();
        return n;
    }();
    return value;
}

NSString* NSNull::description() const { return NSSTR("<null>"); }

// ---------------------------------------------------------------- NSData

OBJC_IMPLEMENTATION_TYPEID(NSData, NSObject, kCFTypeIDData)
{
    cls.property("length", &NSData::length);
}

NSData* NSData::data() { return static_cast<NSData*>((new NSData)->autorelease()); }

NSData* NSData::dataWithBytes(const void* bytes, NSUInteger length)
{
    NSData* d = new NSData;
    if (bytes && length)
        d->m_bytes.assign(static_cast<const uint8_t*>(bytes), static_cast<const uint8_t*>(bytes) + length);
    return static_cast<NSData*>(d->autorelease());
}

NSData* NSData::dataWithVector(std::vector<uint8_t> bytes)
{
    NSData* d = new NSData;
    d->m_bytes = std::move(bytes);
    return static_cast<NSData*>(d->autorelease());
}

NSData* NSData::dataWithData(const NSData* other) { return other ? dataWithVector(other->m_bytes) : data(); }

NSData* NSData::dataWithContentsOfFile(const NSString* path)
{
    if (!path)
        return nil;
    std::ifstream in(path->utf8(), std::ios::binary);
    if (!in)
        return nil;
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad())
        return nil;
    return dataWithVector(std::move(bytes));
}

void NSData::getBytes(void* buffer, NSUInteger length) const
{
    if (buffer)
        std::memcpy(buffer, m_bytes.data(), std::min<size_t>(length, m_bytes.size()));
}

NSData* NSData::subdataWithRange(NSRange range) const
{
    if (range.location > m_bytes.size() || range.length > m_bytes.size() - range.location)
        NSException::raise(NSRangeException, "-[NSData subdataWithRange:]: range {%lu, %lu} exceeds data length %lu",
                           range.location, range.length, m_bytes.size());
    return dataWithBytes(m_bytes.data() + range.location, range.length);
}

NSString* NSData::description() const
{
    static const char digits[] = "0123456789abcdef";
    std::string text = "<";
    for (size_t i = 0; i < m_bytes.size(); ++i) {
        if (i && i % 4 == 0)
            text.push_back(' ');
        text.push_back(digits[m_bytes[i] >> 4]);
        text.push_back(digits[m_bytes[i] & 15]);
    }
    text.push_back('>');
    return NSString::stringWithUTF8(text);
}

BOOL NSData::isEqual(const NSObject* other) const
{
    return other && other->isKindOfClass(NSData::class_()) && isEqualToData(static_cast<const NSData*>(other));
}

NSUInteger NSData::hash() const
{
    // Like the platform, only the first bytes take part.
    return std::hash<std::string_view>()(
        std::string_view(reinterpret_cast<const char*>(m_bytes.data()), std::min<size_t>(m_bytes.size(), 80)));
}

NSObject* NSData::copy() const
{
    if (isMemberOfClass(NSData::class_()))
        return retain();
    NSData* d = new NSData;
    d->m_bytes = m_bytes;
    return d;
}

NSObject* NSData::mutableCopy() const
{
    NSMutableData* d = new NSMutableData;
    d->m_bytes = m_bytes;
    return d;
}

OBJC_IMPLEMENTATION(NSMutableData, NSData) {}

NSMutableData* NSMutableData::data() { return static_cast<NSMutableData*>((new NSMutableData)->autorelease()); }

NSMutableData* NSMutableData::dataWithLength(NSUInteger length)
{
    NSMutableData* d = data();
    d->m_bytes.resize(length);
    return d;
}

void NSMutableData::appendBytes(const void* bytes, NSUInteger length)
{
    if (bytes && length)
        m_bytes.insert(m_bytes.end(), static_cast<const uint8_t*>(bytes), static_cast<const uint8_t*>(bytes) + length);
}

void NSMutableData::appendData(const NSData* other)
{
    if (other)
        appendBytes(other->bytes(), other->length());
}

void NSMutableData::setLength(NSUInteger length) { m_bytes.resize(length); }

// ---------------------------------------------------------------- NSDate

OBJC_IMPLEMENTATION_TYPEID(NSDate, NSObject, kCFTypeIDDate) {}

NSDate* NSDate::distantPast()
{
    static NSDate* const date = [] {
        auto* d = new NSDate();
        d->m_seconds = -63113904000.0;   // year 1
        d->makeImmortal();
        return d;
    }();
    return date;
}

NSDate* NSDate::distantFuture()
{
    static NSDate* const date = [] {
        auto* d = new NSDate();
        d->m_seconds = 63113904000.0;   // year 4001
        d->makeImmortal();
        return d;
    }();
    return date;
}

NSDate* NSDate::date()
{
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return dateWithTimeIntervalSince1970(static_cast<double>(now.tv_sec) + now.tv_nsec / 1e9);
}

NSDate* NSDate::dateWithTimeIntervalSinceReferenceDate(NSTimeInterval seconds)
{
    NSDate* d = new NSDate;
    d->m_seconds = seconds;
    return static_cast<NSDate*>(d->autorelease());
}

NSDate* NSDate::dateWithTimeIntervalSince1970(NSTimeInterval seconds)
{
    return dateWithTimeIntervalSinceReferenceDate(seconds - NSTimeIntervalSince1970);
}

NSComparisonResult NSDate::compare(const NSDate* other) const
{
    double a = m_seconds, b = other ? other->m_seconds : 0;
    return a < b ? NSOrderedAscending : a > b ? NSOrderedDescending : NSOrderedSame;
}

NSString* NSDate::description() const
{
    double unix = std::floor(timeIntervalSince1970());
    if (!std::isfinite(unix) || std::fabs(unix) > 6.7e16)
        return NSSTR("(invalid date)");
    time_t t = static_cast<time_t>(unix);
    tm parts{};
    if (!gmtime_r(&t, &parts))
        return NSSTR("(invalid date)");
    char text[64];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S +0000", &parts);
    return NSString::stringWithUTF8String(text);
}

BOOL NSDate::isEqual(const NSObject* other) const
{
    return other && other->isKindOfClass(NSDate::class_()) && isEqualToDate(static_cast<const NSDate*>(other));
}

NSUInteger NSDate::hash() const { return std::hash<double>()(m_seconds); }
