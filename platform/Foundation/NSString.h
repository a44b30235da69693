// Strings hold UTF-16 code units, as the platform's do. Conversions to and from
// bytes go through the encodings of CoreFoundation/StringEncodings.h.
#pragma once

#include "Foundation/NSFormat.h"
#include "objc/NSObject.h"

#include <atomic>
#include <string>
#include <string_view>

class NSArray;
class NSData;

typedef NSUInteger NSStringEncoding;
enum : NSStringEncoding {
    NSASCIIStringEncoding = 1,
    NSNEXTSTEPStringEncoding = 2,
    NSUTF8StringEncoding = 4,
    NSISOLatin1StringEncoding = 5,
    NSNonLossyASCIIStringEncoding = 7,
    NSUnicodeStringEncoding = 10,
    NSUTF16StringEncoding = 10,
    NSWindowsCP1252StringEncoding = 12,
    NSMacOSRomanStringEncoding = 30,
    NSUTF16BigEndianStringEncoding = 0x90000100,
    NSUTF16LittleEndianStringEncoding = 0x94000100,
};

typedef NSInteger NSComparisonResult;
enum : NSComparisonResult { NSOrderedAscending = -1, NSOrderedSame = 0, NSOrderedDescending = 1 };

struct NSRange {
    NSUInteger location;
    NSUInteger length;
};
inline NSRange NSMakeRange(NSUInteger location, NSUInteger length) { return {location, length}; }
enum : NSUInteger { NSNotFound = static_cast<NSUInteger>(LONG_MAX) };

class NSString : public NSObject {
    OBJC_CLASS(NSString, NSObject)
public:
    NSString() = default;
    NSString* init() { return this; }

    // Convenience constructors answer autoreleased strings, or nil when the
    // input is not valid in its encoding.
    static NSString* string();
    static NSString* stringWithUTF8String(const char* utf8);
    static NSString* stringWithUTF8(std::string_view utf8);
    static NSString* stringWithCharacters(const char16_t* characters, NSUInteger length);
    static NSString* stringWithString(const NSString* other);
    static NSString* stringWithCString(const char* bytes, NSStringEncoding encoding);
    static NSString* stringWithBytes(const void* bytes, NSUInteger length, NSStringEncoding encoding);
    // A name or path as the file system stores it, bytes that need not be
    // UTF-8. Valid UTF-8 is decoded; every other byte 0xNN is kept as the
    // unpaired surrogate U+DCNN, which utf8() and fileSystemRepresentation()
    // turn back into that byte. Never nil for a non-null `bytes`.
    static NSString* stringWithFileSystemRepresentation(const char* bytes, NSUInteger length);
    template <class... Args>
    static NSString* stringWithFormat(std::string_view format, const Args&... args)
    {
        return stringWithUTF8(formatString(format, args...));
    }
    template <class... Args>
    static NSString* stringWithFormat(const NSString* format, const Args&... args)
    {
        return stringWithUTF8(formatString(format ? format->utf8() : std::string(), args...));
    }

    // init... forms: answer the receiver, or release it and answer nil.
    NSString* initWithBytes(const void* bytes, NSUInteger length, NSStringEncoding encoding);
    NSString* initWithData(const NSData* data, NSStringEncoding encoding);
    NSString* initWithUTF8String(const char* utf8);

    NSUInteger length() const { return m_chars.size(); }
    char16_t characterAtIndex(NSUInteger index) const;
    const std::u16string& characters() const { return m_chars; }

    // The UTF-8 form; nil-free. A byte kept from a file-system name (U+DC80
    // to U+DCFF alone) comes back as that byte; any other unpaired surrogate
    // becomes U+FFFD. `UTF8String` answers a buffer that lives as long as the
    // current autorelease pool; unpaired surrogates give null there.
    std::string utf8() const;
    const char* UTF8String() const;
    // The bytes to hand to the file system: utf8() in a buffer that lives as
    // long as the current autorelease pool.
    const char* fileSystemRepresentation() const;
    const char* cStringUsingEncoding(NSStringEncoding encoding) const;
    NSData* dataUsingEncoding(NSStringEncoding encoding, bool allowLossyConversion = false) const;
    NSUInteger lengthOfBytesUsingEncoding(NSStringEncoding encoding) const;
    NSUInteger maximumLengthOfBytesUsingEncoding(NSStringEncoding encoding) const;

    // Literal comparison of UTF-16 code units.
    BOOL isEqualToString(const NSString* other) const;
    NSComparisonResult compare(const NSString* other) const;
    BOOL hasPrefix(const NSString* prefix) const;
    BOOL hasSuffix(const NSString* suffix) const;
    NSRange rangeOfString(const NSString* other) const;

    NSString* substringWithRange(NSRange range) const;
    NSString* stringByAppendingString(const NSString* other) const;
    NSArray* componentsSeparatedByString(const NSString* separator) const;

    // Path helpers: '/' separates components.
    NSString* lastPathComponent() const;
    NSString* pathExtension() const;
    NSString* stringByAppendingPathComponent(const NSString* component) const;
    NSString* stringByDeletingLastPathComponent() const;

    int intValue() const;
    long long longLongValue() const;
    double doubleValue() const;

    NSString* description() const override;
    BOOL isEqual(const NSObject* other) const override;
    NSUInteger hash() const override;
    NSObject* copy() const override;
    NSObject* mutableCopy() const override;

protected:
    std::u16string m_chars;
    friend class NSMutableString;

private:
    // An immutable string's hash, worked out on first use (0: not yet).
    // Dictionaries ask for their keys' hashes over and over.
    mutable std::atomic<NSUInteger> m_hash{0};
};

class NSMutableString : public NSString {
    OBJC_CLASS(NSMutableString, NSString)
public:
    static NSMutableString* string();
    static NSMutableString* stringWithString(const NSString* other);
    void appendString(const NSString* other);
    void appendUTF8(std::string_view utf8);
    template <class... Args>
    void appendFormat(std::string_view format, const Args&... args) { appendUTF8(formatString(format, args...)); }
    void setString(const NSString* other);
    void deleteCharactersInRange(NSRange range);
    void insertString(const NSString* other, NSUInteger index);
};

// A string that lives for the whole process, made once per distinct text.
// `NSSTR("abc")` stands for the literal @"abc".
NSString* NSStringLiteral(std::string_view utf8);
#define NSSTR(text) NSStringLiteral(text)
