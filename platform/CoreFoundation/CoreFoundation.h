// Core Foundation over the same objects Foundation uses: a CFTypeRef points at
// an NSObject, a CFStringRef at an NSString, and so on. CFRetain/CFRelease
// are retain/release; CFGetTypeID is the class's run-time type identifier.
// Create/Copy functions answer a reference the caller owns; Get functions
// answer a borrowed one.
#pragma once

#include "CoreFoundation/StringEncodings.h"
#include "Foundation/Foundation.h"

typedef const NSObject* CFTypeRef;
typedef const NSString* CFStringRef;
typedef NSMutableString* CFMutableStringRef;
typedef const NSNumber* CFNumberRef;
typedef const NSBooleanNumber* CFBooleanRef;   // a number underneath, a type of its own
typedef const NSData* CFDataRef;
typedef NSMutableData* CFMutableDataRef;
typedef const NSDate* CFDateRef;
typedef const NSURL* CFURLRef;
typedef const NSArray* CFArrayRef;
typedef NSMutableArray* CFMutableArrayRef;
typedef const NSDictionary* CFDictionaryRef;
typedef NSMutableDictionary* CFMutableDictionaryRef;
typedef const NSSet* CFSetRef;
typedef NSMutableSet* CFMutableSetRef;
typedef const NSCountedSet* CFBagRef;
typedef NSCountedSet* CFMutableBagRef;
typedef const NSError* CFErrorRef;
typedef const NSObject* CFPropertyListRef;
typedef const void* CFAllocatorRef;
typedef long CFIndex;
typedef unsigned long CFOptionFlags;
typedef unsigned char Boolean;
typedef char16_t UniChar;
typedef uint8_t UInt8;
typedef NSComparisonResult CFComparisonResult;
typedef double CFTimeInterval;

#define kCFAllocatorDefault nullptr
#define kCFAllocatorNull nullptr

struct CFRange {
    CFIndex location;
    CFIndex length;
};
inline CFRange CFRangeMake(CFIndex location, CFIndex length) { return {location, length}; }

enum : CFComparisonResult { kCFCompareLessThan = -1, kCFCompareEqualTo = 0, kCFCompareGreaterThan = 1 };
typedef CFOptionFlags CFStringCompareFlags;
enum : CFStringCompareFlags { kCFCompareCaseInsensitive = 1, kCFCompareBackwards = 4, kCFCompareNonliteral = 16 };
enum : CFIndex { kCFNotFound = -1 };

// ---------------------------------------------------------------- CFType
CFTypeRef CFRetain(CFTypeRef object);
void CFRelease(CFTypeRef object);
CFTypeRef CFAutorelease(CFTypeRef object);
CFIndex CFGetRetainCount(CFTypeRef object);
CFTypeID CFGetTypeID(CFTypeRef object);
CFStringRef CFCopyTypeIDDescription(CFTypeID type);
CFStringRef CFCopyDescription(CFTypeRef object);
Boolean CFEqual(CFTypeRef a, CFTypeRef b);
NSUInteger CFHash(CFTypeRef object);

CFTypeID CFStringGetTypeID();
CFTypeID CFNumberGetTypeID();
CFTypeID CFBooleanGetTypeID();
CFTypeID CFDataGetTypeID();
CFTypeID CFDateGetTypeID();
CFTypeID CFURLGetTypeID();
CFTypeID CFArrayGetTypeID();
CFTypeID CFDictionaryGetTypeID();
CFTypeID CFSetGetTypeID();
CFTypeID CFBagGetTypeID();
CFTypeID CFNullGetTypeID();
CFTypeID CFErrorGetTypeID();

// ---------------------------------------------------------------- CFString
CFStringRef __CFStringMakeConstantString(const char* text);
#define CFSTR(text) __CFStringMakeConstantString("" text "")

CFStringRef CFStringCreateWithCString(CFAllocatorRef, const char* cString, CFStringEncoding encoding);
CFStringRef CFStringCreateWithBytes(CFAllocatorRef, const UInt8* bytes, CFIndex numBytes, CFStringEncoding encoding,
                                    Boolean isExternalRepresentation);
CFStringRef CFStringCreateWithCharacters(CFAllocatorRef, const UniChar* characters, CFIndex numChars);
CFStringRef CFStringCreateWithPascalString(CFAllocatorRef, const unsigned char* pString, CFStringEncoding encoding);
CFStringRef CFStringCreateCopy(CFAllocatorRef, CFStringRef string);
CFMutableStringRef CFStringCreateMutable(CFAllocatorRef, CFIndex maxLength);
CFMutableStringRef CFStringCreateMutableCopy(CFAllocatorRef, CFIndex maxLength, CFStringRef string);
void CFStringAppend(CFMutableStringRef string, CFStringRef appended);
void CFStringAppendCString(CFMutableStringRef string, const char* cString, CFStringEncoding encoding);
CFIndex CFStringGetLength(CFStringRef string);
UniChar CFStringGetCharacterAtIndex(CFStringRef string, CFIndex index);
void CFStringGetCharacters(CFStringRef string, CFRange range, UniChar* buffer);
// False when the string does not fit in bufferSize (NUL included) or a
// character has no form in the encoding.
Boolean CFStringGetCString(CFStringRef string, char* buffer, CFIndex bufferSize, CFStringEncoding encoding);
// Always NULL here: strings hold UTF-16, so there is no internal 8-bit buffer
// to lend (the function is allowed to answer NULL).
const char* CFStringGetCStringPtr(CFStringRef string, CFStringEncoding encoding);
// Converts the characters in `range`; answers how many were converted and, in
// usedBufLen, the bytes written. A character with no form stops the
// conversion unless lossByte stands in for it. A null buffer only counts.
CFIndex CFStringGetBytes(CFStringRef string, CFRange range, CFStringEncoding encoding, UInt8 lossByte,
                         Boolean isExternalRepresentation, UInt8* buffer, CFIndex maxBufLen, CFIndex* usedBufLen);
CFIndex CFStringGetMaximumSizeForEncoding(CFIndex length, CFStringEncoding encoding);
Boolean CFStringIsEncodingAvailable(CFStringEncoding encoding);
CFComparisonResult CFStringCompare(CFStringRef a, CFStringRef b, CFStringCompareFlags options);
CFStringEncoding CFStringGetSystemEncoding();
NSStringEncoding CFStringConvertEncodingToNSStringEncoding(CFStringEncoding encoding);
CFStringEncoding CFStringConvertNSStringEncodingToEncoding(NSStringEncoding encoding);

// ---------------------------------------------------------------- CFNumber, CFBoolean
// The two boolean singletons, usable from any static initialiser.
#define kCFBooleanTrue (static_cast<CFBooleanRef>(NSBooleanNumber::trueValue()))
#define kCFBooleanFalse (static_cast<CFBooleanRef>(NSBooleanNumber::falseValue()))
Boolean CFBooleanGetValue(CFBooleanRef boolean);
CFNumberRef CFNumberCreate(CFAllocatorRef, CFNumberType type, const void* valuePtr);
CFNumberType CFNumberGetType(CFNumberRef number);
CFIndex CFNumberGetByteSize(CFNumberRef number);
Boolean CFNumberIsFloatType(CFNumberRef number);
Boolean CFNumberGetValue(CFNumberRef number, CFNumberType type, void* valuePtr);

// ---------------------------------------------------------------- CFData, CFDate
CFDataRef CFDataCreate(CFAllocatorRef, const UInt8* bytes, CFIndex length);
CFMutableDataRef CFDataCreateMutable(CFAllocatorRef, CFIndex capacity);
void CFDataAppendBytes(CFMutableDataRef data, const UInt8* bytes, CFIndex length);
CFIndex CFDataGetLength(CFDataRef data);
const UInt8* CFDataGetBytePtr(CFDataRef data);
CFDateRef CFDateCreate(CFAllocatorRef, CFAbsoluteTime at);
CFAbsoluteTime CFDateGetAbsoluteTime(CFDateRef date);
CFAbsoluteTime CFAbsoluteTimeGetCurrent();

// ---------------------------------------------------------------- CFURL
typedef CFIndex CFURLPathStyle;
enum : CFURLPathStyle { kCFURLPOSIXPathStyle = 0 };
CFURLRef CFURLCreateWithFileSystemPath(CFAllocatorRef, CFStringRef path, CFURLPathStyle style, Boolean isDirectory);
CFURLRef CFURLCreateFromFileSystemRepresentation(CFAllocatorRef, const UInt8* buffer, CFIndex length, Boolean isDirectory);
CFURLRef CFURLCreateWithString(CFAllocatorRef, CFStringRef text, CFURLRef base);
CFStringRef CFURLCopyFileSystemPath(CFURLRef url, CFURLPathStyle style);
CFStringRef CFURLCopyLastPathComponent(CFURLRef url);
CFStringRef CFURLGetString(CFURLRef url);
Boolean CFURLGetFileSystemRepresentation(CFURLRef url, Boolean resolveAgainstBase, UInt8* buffer, CFIndex maxBufLen);
CFURLRef CFURLCreateCopyAppendingPathComponent(CFAllocatorRef, CFURLRef url, CFStringRef component, Boolean isDirectory);
CFURLRef CFURLCreateCopyDeletingLastPathComponent(CFAllocatorRef, CFURLRef url);

// ---------------------------------------------------------------- collections
// Callbacks are accepted for signature's sake; collections always retain.
struct CFArrayCallBacks { CFIndex version; };
struct CFDictionaryKeyCallBacks { CFIndex version; };
struct CFDictionaryValueCallBacks { CFIndex version; };
struct CFSetCallBacks { CFIndex version; };
struct CFBagCallBacks { CFIndex version; };
extern const CFArrayCallBacks kCFTypeArrayCallBacks;
extern const CFDictionaryKeyCallBacks kCFTypeDictionaryKeyCallBacks;
extern const CFDictionaryKeyCallBacks kCFCopyStringDictionaryKeyCallBacks;
extern const CFDictionaryValueCallBacks kCFTypeDictionaryValueCallBacks;
extern const CFSetCallBacks kCFTypeSetCallBacks;
extern const CFBagCallBacks kCFTypeBagCallBacks;

CFArrayRef CFArrayCreate(CFAllocatorRef, const void** values, CFIndex count, const CFArrayCallBacks* callBacks);
CFMutableArrayRef CFArrayCreateMutable(CFAllocatorRef, CFIndex capacity, const CFArrayCallBacks* callBacks);
void CFArrayAppendValue(CFMutableArrayRef array, const void* value);
CFIndex CFArrayGetCount(CFArrayRef array);
const void* CFArrayGetValueAtIndex(CFArrayRef array, CFIndex index);

CFDictionaryRef CFDictionaryCreate(CFAllocatorRef, const void** keys, const void** values, CFIndex count,
                                   const CFDictionaryKeyCallBacks* keyCallBacks, const CFDictionaryValueCallBacks* valueCallBacks);
CFMutableDictionaryRef CFDictionaryCreateMutable(CFAllocatorRef, CFIndex capacity, const CFDictionaryKeyCallBacks* keyCallBacks,
                                                 const CFDictionaryValueCallBacks* valueCallBacks);
void CFDictionarySetValue(CFMutableDictionaryRef dictionary, const void* key, const void* value);
const void* CFDictionaryGetValue(CFDictionaryRef dictionary, const void* key);
Boolean CFDictionaryContainsKey(CFDictionaryRef dictionary, const void* key);
CFIndex CFDictionaryGetCount(CFDictionaryRef dictionary);
void CFDictionaryGetKeysAndValues(CFDictionaryRef dictionary, const void** keys, const void** values);

CFSetRef CFSetCreate(CFAllocatorRef, const void** values, CFIndex count, const CFSetCallBacks* callBacks);
CFMutableSetRef CFSetCreateMutable(CFAllocatorRef, CFIndex capacity, const CFSetCallBacks* callBacks);
void CFSetAddValue(CFMutableSetRef set, const void* value);
CFIndex CFSetGetCount(CFSetRef set);
Boolean CFSetContainsValue(CFSetRef set, const void* value);

CFMutableBagRef CFBagCreateMutable(CFAllocatorRef, CFIndex capacity, const CFBagCallBacks* callBacks);
void CFBagAddValue(CFMutableBagRef bag, const void* value);
CFIndex CFBagGetCount(CFBagRef bag);
CFIndex CFBagGetCountOfValue(CFBagRef bag, const void* value);

// ---------------------------------------------------------------- property lists
typedef CFOptionFlags CFPropertyListMutabilityOptions;
enum : CFPropertyListMutabilityOptions {
    kCFPropertyListImmutable = 0,
    kCFPropertyListMutableContainers = 1,
    kCFPropertyListMutableContainersAndLeaves = 2,
};
typedef CFIndex CFPropertyListFormat;
enum : CFPropertyListFormat {
    kCFPropertyListOpenStepFormat = 1,
    kCFPropertyListXMLFormat_v1_0 = 100,
    kCFPropertyListBinaryFormat_v1_0 = 200,
};
// XML (or, as on the platform, binary) data to a property list the caller
// owns; NULL, with an error text the caller owns, when it does not parse.
CFPropertyListRef CFPropertyListCreateFromXMLData(CFAllocatorRef, CFDataRef xmlData, CFOptionFlags mutabilityOption,
                                                  CFStringRef* errorString);
CFPropertyListRef CFPropertyListCreateWithData(CFAllocatorRef, CFDataRef data, CFOptionFlags options,
                                               CFPropertyListFormat* format, CFErrorRef* error);

// The toll-free bridge: the same object seen through either name.
template <class To, class From>
To* CFBridgingCast(From* object)
{
    return static_cast<To*>(const_cast<std::remove_const_t<From>*>(object));
}

// Bundles: the same objects as NSBundle.
#include "CoreFoundation/CFBundle.h"
