// Numbers, booleans, null, data and dates.
#pragma once

#include "Foundation/NSString.h"

#include <cstdint>
#include <vector>

// The Core Foundation number types; values as on the platform.
typedef NSInteger CFNumberType;
enum : CFNumberType {
    kCFNumberSInt8Type = 1,
    kCFNumberSInt16Type = 2,
    kCFNumberSInt32Type = 3,
    kCFNumberSInt64Type = 4,
    kCFNumberFloat32Type = 5,
    kCFNumberFloat64Type = 6,
    kCFNumberCharType = 7,
    kCFNumberShortType = 8,
    kCFNumberIntType = 9,
    kCFNumberLongType = 10,
    kCFNumberLongLongType = 11,
    kCFNumberFloatType = 12,
    kCFNumberDoubleType = 13,
    kCFNumberCFIndexType = 14,
    kCFNumberNSIntegerType = 15,
    kCFNumberCGFloatType = 16,
    kCFNumberMaxType = 16,
};

// A number keeps the type it was made with and one of three stores: a signed
// 64-bit integer, an unsigned 64-bit integer above INT64_MAX, or a double.
class NSNumber : public NSObject {
    OBJC_CLASS(NSNumber, NSObject)
public:
    NSNumber() = default;
    static NSNumber* numberWithBool(bool value);
    static NSNumber* numberWithInt(int value) { return numberWithLongLong(value); }
    static NSNumber* numberWithInteger(NSInteger value) { return numberWithLongLong(value); }
    static NSNumber* numberWithLongLong(long long value);
    static NSNumber* numberWithUnsignedInt(unsigned value) { return numberWithLongLong(value); }
    static NSNumber* numberWithUnsignedLongLong(unsigned long long value);
    static NSNumber* numberWithDouble(double value);
    static NSNumber* numberWithFloat(float value);
    // The value at `valuePtr`, read as `type`; nil for an unknown type.
    static NSNumber* numberWithType(CFNumberType type, const void* valuePtr);

    CFNumberType numberType() const { return m_type; }
    // The size in bytes of a number type's C representation; 0 for an unknown type.
    static size_t byteSizeOfType(CFNumberType type);
    bool isFloatType() const { return m_store == Store::Double; }
    // Writes the value as `type`; answers whether it was exact (no truncation,
    // rounding or overflow), as CFNumberGetValue does.
    bool getValue(CFNumberType type, void* valuePtr) const;

    bool boolValue() const;
    int intValue() const;
    NSInteger integerValue() const;
    long long longLongValue() const;
    unsigned unsignedIntValue() const;
    unsigned long long unsignedLongLongValue() const;
    double doubleValue() const;
    NSString* stringValue() const { return description(); }
    NSComparisonResult compare(const NSNumber* other) const;
    BOOL isEqualToNumber(const NSNumber* other) const { return other && compare(other) == NSOrderedSame; }

    NSString* description() const override;
    BOOL isEqual(const NSObject* other) const override;
    NSUInteger hash() const override;

protected:
    enum class Store { Signed, Unsigned, Double };
    CFNumberType m_type = kCFNumberSInt32Type;
    Store m_store = Store::Signed;
    union {
        long long i;
        unsigned long long u;
        double d;
    } m_value{0};
};

// The two boolean numbers. Their description is "1" or "0"; their run-time
// type is CFBoolean.
class NSBooleanNumber : public NSNumber {
    OBJC_CLASS(NSBooleanNumber, NSNumber)
public:
    static NSNumber* trueValue();
    static NSNumber* falseValue();
};

class NSNull : public NSObject {
    OBJC_CLASS(NSNull, NSObject)
public:
    static NSNull* null();
    NSString* description() const override;
};

class NSData : public NSObject {
    OBJC_CLASS(NSData, NSObject)
public:
    NSData() = default;
    static NSData* data();
    static NSData* dataWithBytes(const void* bytes, NSUInteger length);
    static NSData* dataWithVector(std::vector<uint8_t> bytes);
    static NSData* dataWithData(const NSData* other);
    // The whole file, or nil when it cannot be read.
    static NSData* dataWithContentsOfFile(const NSString* path);

    NSUInteger length() const { return m_bytes.size(); }
    const uint8_t* bytes() const { return m_bytes.data(); }
    const std::vector<uint8_t>& vector() const { return m_bytes; }
    void getBytes(void* buffer, NSUInteger length) const;
    BOOL isEqualToData(const NSData* other) const { return other && other->m_bytes == m_bytes; }
    NSData* subdataWithRange(NSRange range) const;

    // NSData(CertFingerprint), defined with the code-signature inspectors:
    // the text forms of a certificate fingerprint.
    NSString* certFingerprintHexString() const;
    NSString* certFingerprintRequirement_HQUOTED() const;
    NSString* certFingerprintLeafRequirementString() const;

    // NSData(SecCertificateRef), likewise: comparison with the stored
    // 20-byte fingerprint constants.
    static NSData* certificateFingerprintWithFingerprintBytes(const uint8_t* bytes);
    bool isCertificateFingerprintBytesEqual(const uint8_t* bytes) const;
    bool isCertificateAppleOfficial() const;

    // "<00112233 44556677 ...>": lowercase hex in groups of four bytes.
    NSString* description() const override;
    BOOL isEqual(const NSObject* other) const override;
    NSUInteger hash() const override;
    NSObject* copy() const override;
    NSObject* mutableCopy() const override;

protected:
    std::vector<uint8_t> m_bytes;
};

class NSMutableData : public NSData {
    OBJC_CLASS(NSMutableData, NSData)
public:
    static NSMutableData* data();
    static NSMutableData* dataWithLength(NSUInteger length);
    void appendBytes(const void* bytes, NSUInteger length);
    void appendData(const NSData* other);
    void setLength(NSUInteger length);
    uint8_t* mutableBytes() { return m_bytes.data(); }
};

typedef double NSTimeInterval;
typedef double CFAbsoluteTime;
// Seconds from 1970-01-01 to the reference date 2001-01-01, both UTC.
constexpr NSTimeInterval NSTimeIntervalSince1970 = 978307200.0;

class NSDate : public NSObject {
    OBJC_CLASS(NSDate, NSObject)
public:
    NSDate() = default;
    static NSDate* date();
    static NSDate* dateWithTimeIntervalSinceReferenceDate(NSTimeInterval seconds);
    static NSDate* dateWithTimeIntervalSince1970(NSTimeInterval seconds);
    // The dates before and after every other: "don't wait" and "wait for ever"
    // to the calls that take a deadline.
    static NSDate* distantPast();
    static NSDate* distantFuture();
    NSTimeInterval timeIntervalSinceReferenceDate() const { return m_seconds; }
    NSTimeInterval timeIntervalSince1970() const { return m_seconds + NSTimeIntervalSince1970; }
    NSComparisonResult compare(const NSDate* other) const;
    BOOL isEqualToDate(const NSDate* other) const { return other && other->m_seconds == m_seconds; }

    // "2001-01-01 00:00:00 +0000", in UTC.
    NSString* description() const override;
    BOOL isEqual(const NSObject* other) const override;
    NSUInteger hash() const override;

private:
    NSTimeInterval m_seconds = 0;
};
