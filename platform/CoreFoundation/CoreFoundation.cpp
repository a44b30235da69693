#include "CoreFoundation/CoreFoundation.h"

#include <cstring>
#include <ctime>

namespace {

template <class T>
T* owned(T* autoreleased)
{
    // Convenience constructors answer autoreleased objects; Create functions
    // hand the caller a reference of its own.
    return autoreleased ? static_cast<T*>(autoreleased->retain()) : nullptr;
}

} // namespace

// ---------------------------------------------------------------- CFType

CFTypeRef CFRetain(CFTypeRef object) { return object ? object->retain() : nullptr; }
void CFRelease(CFTypeRef object)
{
    if (object)
        object->release();
}
CFTypeRef CFAutorelease(CFTypeRef object) { return object ? object->autorelease() : nullptr; }
CFIndex CFGetRetainCount(CFTypeRef object) { return object ? static_cast<CFIndex>(object->retainCount()) : 0; }
CFTypeID CFGetTypeID(CFTypeRef object) { return object ? object->isa()->typeID : 0; }

CFStringRef CFCopyTypeIDDescription(CFTypeID type)
{
    const char* name;
    switch (type) {
    case kCFTypeIDString: name = "CFString"; break;
    case kCFTypeIDNumber: name = "CFNumber"; break;
    case kCFTypeIDBoolean: name = "CFBoolean"; break;
    case kCFTypeIDData: name = "CFData"; break;
    case kCFTypeIDDate: name = "CFDate"; break;
    case kCFTypeIDURL: name = "CFURL"; break;
    case kCFTypeIDArray: name = "CFArray"; break;
    case kCFTypeIDDictionary: name = "CFDictionary"; break;
    case kCFTypeIDSet: name = "CFSet"; break;
    case kCFTypeIDBag: name = "CFBag"; break;
    case kCFTypeIDNull: name = "CFNull"; break;
    case kCFTypeIDError: name = "CFError"; break;
    case kCFTypeIDBundle: name = "CFBundle"; break;
    case kObjcTypeIDObject: name = "NSObject"; break;
    default: return nullptr;
    }
    return owned(NSString::stringWithUTF8String(name));
}

CFStringRef CFCopyDescription(CFTypeRef object)
{
    if (!object)
        return nullptr;
    AutoreleasePoolScope pool;
    return static_cast<CFStringRef>(object->description()->copy());
}

Boolean CFEqual(CFTypeRef a, CFTypeRef b) { return a == b || (a && b && a->isEqual(b)); }
NSUInteger CFHash(CFTypeRef object) { return object ? object->hash() : 0; }

CFTypeID CFStringGetTypeID() { return kCFTypeIDString; }
CFTypeID CFNumberGetTypeID() { return kCFTypeIDNumber; }
CFTypeID CFBooleanGetTypeID() { return kCFTypeIDBoolean; }
CFTypeID CFDataGetTypeID() { return kCFTypeIDData; }
CFTypeID CFDateGetTypeID() { return kCFTypeIDDate; }
CFTypeID CFURLGetTypeID() { return kCFTypeIDURL; }
CFTypeID CFArrayGetTypeID() { return kCFTypeIDArray; }
CFTypeID CFDictionaryGetTypeID() { return kCFTypeIDDictionary; }
CFTypeID CFSetGetTypeID() { return kCFTypeIDSet; }
CFTypeID CFBagGetTypeID() { return kCFTypeIDBag; }
CFTypeID CFNullGetTypeID() { return kCFTypeIDNull; }
CFTypeID CFErrorGetTypeID() { return kCFTypeIDError; }

// ---------------------------------------------------------------- CFString

CFStringRef __CFStringMakeConstantString(const char* text) { return NSStringLiteral(text ? text : ""); }

CFStringRef CFStringCreateWithBytes(CFAllocatorRef, const UInt8* bytes, CFIndex numBytes, CFStringEncoding encoding,
                                    Boolean isExternalRepresentation)
{
    if (numBytes < 0 || (!bytes && numBytes > 0))
        return nullptr;
    std::u16string chars;
    std::string_view view(reinterpret_cast<const char*>(bytes), static_cast<size_t>(numBytes));
    if (!sentrel::encodings::decode(view, encoding, chars))
        return nullptr;
    return owned(NSString::stringWithCharacters(chars.data(), chars.size()));
}

CFStringRef CFStringCreateWithCString(CFAllocatorRef a, const char* cString, CFStringEncoding encoding)
{
    if (!cString)
        return nullptr;
    return CFStringCreateWithBytes(a, reinterpret_cast<const UInt8*>(cString), static_cast<CFIndex>(std::strlen(cString)),
                                   encoding, false);
}

CFStringRef CFStringCreateWithCharacters(CFAllocatorRef, const UniChar* characters, CFIndex numChars)
{
    if (numChars < 0 || (!characters && numChars > 0))
        return nullptr;
    return owned(NSString::stringWithCharacters(characters, static_cast<NSUInteger>(numChars)));
}

CFStringRef CFStringCreateWithPascalString(CFAllocatorRef a, const unsigned char* pString, CFStringEncoding encoding)
{
    if (!pString)
        return nullptr;
    return CFStringCreateWithBytes(a, pString + 1, pString[0], encoding, false);
}

CFStringRef CFStringCreateCopy(CFAllocatorRef, CFStringRef string)
{
    return string ? static_cast<CFStringRef>(string->copy()) : nullptr;
}

CFMutableStringRef CFStringCreateMutable(CFAllocatorRef, CFIndex) { return owned(NSMutableString::string()); }

CFMutableStringRef CFStringCreateMutableCopy(CFAllocatorRef, CFIndex, CFStringRef string)
{
    return owned(NSMutableString::stringWithString(string));
}

void CFStringAppend(CFMutableStringRef string, CFStringRef appended)
{
    if (string)
        string->appendString(appended);
}

void CFStringAppendCString(CFMutableStringRef string, const char* cString, CFStringEncoding encoding)
{
    if (CFStringRef s = CFStringCreateWithCString(nullptr, cString, encoding)) {
        CFStringAppend(string, s);
        CFRelease(s);
    }
}

CFIndex CFStringGetLength(CFStringRef string) { return string ? static_cast<CFIndex>(string->length()) : 0; }

UniChar CFStringGetCharacterAtIndex(CFStringRef string, CFIndex index)
{
    return string ? string->characterAtIndex(static_cast<NSUInteger>(index)) : 0;
}

void CFStringGetCharacters(CFStringRef string, CFRange range, UniChar* buffer)
{
    if (!string || !buffer || range.location < 0 || range.length < 0 ||
        static_cast<size_t>(range.location) + static_cast<size_t>(range.length) > string->length())
        return;
    std::memcpy(buffer, string->characters().data() + range.location, static_cast<size_t>(range.length) * sizeof(UniChar));
}

Boolean CFStringGetCString(CFStringRef string, char* buffer, CFIndex bufferSize, CFStringEncoding encoding)
{
    if (!string || !buffer || bufferSize <= 0)
        return false;
    std::string out;
    if (!sentrel::encodings::encode(string->characters(), encoding, out) ||
        out.size() + 1 > static_cast<size_t>(bufferSize)) {
        buffer[0] = '\0';
        return false;
    }
    std::memcpy(buffer, out.data(), out.size());
    buffer[out.size()] = '\0';
    return true;
}

const char* CFStringGetCStringPtr(CFStringRef, CFStringEncoding) { return nullptr; }

CFIndex CFStringGetBytes(CFStringRef string, CFRange range, CFStringEncoding encoding, UInt8 lossByte,
                         Boolean isExternalRepresentation, UInt8* buffer, CFIndex maxBufLen, CFIndex* usedBufLen)
{
    if (usedBufLen)
        *usedBufLen = 0;
    if (!string || range.location < 0 || range.length < 0 ||
        static_cast<size_t>(range.location) + static_cast<size_t>(range.length) > string->length() ||
        !sentrel::encodings::isAvailable(encoding))
        return 0;
    const std::u16string& chars = string->characters();
    CFIndex converted = 0;
    CFIndex used = 0;
    std::string piece;
    bool first = true;
    // Character by character (a surrogate pair as one), so that the count of
    // converted characters and the bytes written stay exact when the buffer
    // or the encoding runs out.
    for (CFIndex i = range.location; i < range.location + range.length;) {
        CFIndex width = 1;
        char16_t c = chars[static_cast<size_t>(i)];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < range.location + range.length) {
            char16_t d = chars[static_cast<size_t>(i + 1)];
            if (d >= 0xDC00 && d <= 0xDFFF)
                width = 2;
        }
        piece.clear();
        bool bom = first && isExternalRepresentation;
        if (!sentrel::encodings::encode(std::u16string_view(chars).substr(static_cast<size_t>(i), static_cast<size_t>(width)),
                                        encoding, piece, lossByte, bom))
            break;
        if (buffer && used + static_cast<CFIndex>(piece.size()) > maxBufLen)
            break;
        if (buffer)
            std::memcpy(buffer + used, piece.data(), piece.size());
        used += static_cast<CFIndex>(piece.size());
        converted += width;
        i += width;
        first = false;
    }
    if (usedBufLen)
        *usedBufLen = used;
    return converted;
}

CFIndex CFStringGetMaximumSizeForEncoding(CFIndex length, CFStringEncoding encoding)
{
    if (length < 0)
        return kCFNotFound;
    size_t size = sentrel::encodings::maximumSizeForEncoding(static_cast<size_t>(length), encoding);
    return size == 0 && length > 0 ? kCFNotFound : static_cast<CFIndex>(size);
}

Boolean CFStringIsEncodingAvailable(CFStringEncoding encoding) { return sentrel::encodings::isAvailable(encoding); }

CFComparisonResult CFStringCompare(CFStringRef a, CFStringRef b, CFStringCompareFlags options)
{
    if (!a || !b)
        return a == b ? kCFCompareEqualTo : a ? kCFCompareGreaterThan : kCFCompareLessThan;
    if (options & kCFCompareCaseInsensitive) {
        auto fold = [](std::u16string s) {
            for (char16_t& c : s)
                if (c < 0x80 && c >= u'A' && c <= u'Z')
                    c = static_cast<char16_t>(c + 32);
            return s;
        };
        int c = fold(a->characters()).compare(fold(b->characters()));
        return c < 0 ? kCFCompareLessThan : c > 0 ? kCFCompareGreaterThan : kCFCompareEqualTo;
    }
    return a->compare(b);
}

CFStringEncoding CFStringGetSystemEncoding() { return kCFStringEncodingMacRoman; }

NSStringEncoding CFStringConvertEncodingToNSStringEncoding(CFStringEncoding encoding)
{
    switch (encoding) {
    case kCFStringEncodingASCII: return NSASCIIStringEncoding;
    case kCFStringEncodingNextStepLatin: return NSNEXTSTEPStringEncoding;
    case kCFStringEncodingUTF8: return NSUTF8StringEncoding;
    case kCFStringEncodingISOLatin1: return NSISOLatin1StringEncoding;
    case kCFStringEncodingNonLossyASCII: return NSNonLossyASCIIStringEncoding;
    case kCFStringEncodingUnicode: return NSUnicodeStringEncoding;
    case kCFStringEncodingWindowsLatin1: return NSWindowsCP1252StringEncoding;
    case kCFStringEncodingMacRoman: return NSMacOSRomanStringEncoding;
    case kCFStringEncodingUTF16BE: return NSUTF16BigEndianStringEncoding;
    case kCFStringEncodingUTF16LE: return NSUTF16LittleEndianStringEncoding;
    default: return 0;
    }
}

CFStringEncoding CFStringConvertNSStringEncodingToEncoding(NSStringEncoding encoding)
{
    for (CFStringEncoding e : {kCFStringEncodingASCII, kCFStringEncodingNextStepLatin, kCFStringEncodingUTF8,
                               kCFStringEncodingISOLatin1, kCFStringEncodingNonLossyASCII, kCFStringEncodingUnicode,
                               kCFStringEncodingWindowsLatin1, kCFStringEncodingMacRoman, kCFStringEncodingUTF16BE,
                               kCFStringEncodingUTF16LE})
        if (CFStringConvertEncodingToNSStringEncoding(e) == encoding)
            return e;
    return kCFStringEncodingInvalidId;
}

// ---------------------------------------------------------------- CFNumber, CFBoolean


Boolean CFBooleanGetValue(CFBooleanRef boolean) { return boolean && boolean->boolValue(); }

CFNumberRef CFNumberCreate(CFAllocatorRef, CFNumberType type, const void* valuePtr)
{
    return owned(NSNumber::numberWithType(type, valuePtr));
}

CFNumberType CFNumberGetType(CFNumberRef number) { return number ? number->numberType() : 0; }

CFIndex CFNumberGetByteSize(CFNumberRef number)
{
    return number ? static_cast<CFIndex>(NSNumber::byteSizeOfType(number->numberType())) : 0;
}

Boolean CFNumberIsFloatType(CFNumberRef number) { return number && number->isFloatType(); }

Boolean CFNumberGetValue(CFNumberRef number, CFNumberType type, void* valuePtr)
{
    return number && number->getValue(type, valuePtr);
}

// ---------------------------------------------------------------- CFData, CFDate

CFDataRef CFDataCreate(CFAllocatorRef, const UInt8* bytes, CFIndex length)
{
    if (length < 0 || (!bytes && length > 0))
        return nullptr;
    return owned(NSData::dataWithBytes(bytes, static_cast<NSUInteger>(length)));
}

CFMutableDataRef CFDataCreateMutable(CFAllocatorRef, CFIndex) { return owned(NSMutableData::data()); }

void CFDataAppendBytes(CFMutableDataRef data, const UInt8* bytes, CFIndex length)
{
    if (data && length > 0)
        data->appendBytes(bytes, static_cast<NSUInteger>(length));
}

CFIndex CFDataGetLength(CFDataRef data) { return data ? static_cast<CFIndex>(data->length()) : 0; }
const UInt8* CFDataGetBytePtr(CFDataRef data) { return data ? data->bytes() : nullptr; }

CFDateRef CFDateCreate(CFAllocatorRef, CFAbsoluteTime at) { return owned(NSDate::dateWithTimeIntervalSinceReferenceDate(at)); }
CFAbsoluteTime CFDateGetAbsoluteTime(CFDateRef date) { return date ? date->timeIntervalSinceReferenceDate() : 0; }

CFAbsoluteTime CFAbsoluteTimeGetCurrent()
{
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<double>(now.tv_sec) + now.tv_nsec / 1e9 - NSTimeIntervalSince1970;
}

// ---------------------------------------------------------------- CFURL

CFURLRef CFURLCreateWithFileSystemPath(CFAllocatorRef, CFStringRef path, CFURLPathStyle, Boolean isDirectory)
{
    return path ? owned(NSURL::fileURLWithPath(path, isDirectory)) : nullptr;
}

CFURLRef CFURLCreateFromFileSystemRepresentation(CFAllocatorRef, const UInt8* buffer, CFIndex length, Boolean isDirectory)
{
    if (!buffer || length < 0)
        return nullptr;
    std::string path(reinterpret_cast<const char*>(buffer), static_cast<size_t>(length));
    if (path.find('\0') != std::string::npos)
        path.resize(path.find('\0'));
    return owned(NSURL::fileURLWithFileSystemRepresentation(path.c_str(), isDirectory));
}

CFURLRef CFURLCreateWithString(CFAllocatorRef, CFStringRef text, CFURLRef) { return owned(NSURL::URLWithString(text)); }

CFStringRef CFURLCopyFileSystemPath(CFURLRef url, CFURLPathStyle)
{
    AutoreleasePoolScope pool;
    NSString* path = url ? url->path() : nullptr;
    return path ? static_cast<CFStringRef>(path->retain()) : nullptr;
}

CFStringRef CFURLCopyLastPathComponent(CFURLRef url)
{
    AutoreleasePoolScope pool;
    NSString* last = url ? url->lastPathComponent() : nullptr;
    return last ? static_cast<CFStringRef>(last->retain()) : nullptr;
}

CFStringRef CFURLGetString(CFURLRef url)
{
    // A borrowed reference: it lives in the current pool.
    return url ? url->absoluteString() : nullptr;
}

Boolean CFURLGetFileSystemRepresentation(CFURLRef url, Boolean, UInt8* buffer, CFIndex maxBufLen)
{
    if (!url || !buffer || maxBufLen <= 0)
        return false;
    std::string path = url->fileSystemPath();
    if (path.size() + 1 > static_cast<size_t>(maxBufLen))
        return false;
    std::memcpy(buffer, path.c_str(), path.size() + 1);
    return true;
}

CFURLRef CFURLCreateCopyAppendingPathComponent(CFAllocatorRef, CFURLRef url, CFStringRef component, Boolean isDirectory)
{
    if (!url || !component)
        return nullptr;
    std::string path = url->fileSystemPath();
    std::string joined = path + (path.back() == '/' ? "" : "/") + component->utf8();
    return owned(NSURL::fileURLWithFileSystemRepresentation(joined.c_str(), isDirectory));
}

CFURLRef CFURLCreateCopyDeletingLastPathComponent(CFAllocatorRef, CFURLRef url)
{
    return url ? owned(url->URLByDeletingLastPathComponent()) : nullptr;
}

// ---------------------------------------------------------------- collections

const CFArrayCallBacks kCFTypeArrayCallBacks{0};
const CFDictionaryKeyCallBacks kCFTypeDictionaryKeyCallBacks{0};
const CFDictionaryKeyCallBacks kCFCopyStringDictionaryKeyCallBacks{0};
const CFDictionaryValueCallBacks kCFTypeDictionaryValueCallBacks{0};
const CFSetCallBacks kCFTypeSetCallBacks{0};
const CFBagCallBacks kCFTypeBagCallBacks{0};

static id asObject(const void* value) { return const_cast<NSObject*>(static_cast<const NSObject*>(value)); }

CFArrayRef CFArrayCreate(CFAllocatorRef, const void** values, CFIndex count, const CFArrayCallBacks*)
{
    NSMutableArray* array = NSMutableArray::array();
    for (CFIndex i = 0; values && i < count; ++i)
        array->addObject(asObject(values[i]));
    return owned(NSArray::arrayWithArray(array));
}

CFMutableArrayRef CFArrayCreateMutable(CFAllocatorRef, CFIndex, const CFArrayCallBacks*) { return owned(NSMutableArray::array()); }

void CFArrayAppendValue(CFMutableArrayRef array, const void* value)
{
    if (array)
        array->addObject(asObject(value));
}

CFIndex CFArrayGetCount(CFArrayRef array) { return array ? static_cast<CFIndex>(array->count()) : 0; }

const void* CFArrayGetValueAtIndex(CFArrayRef array, CFIndex index)
{
    return array ? array->objectAtIndex(static_cast<NSUInteger>(index)) : nullptr;
}

CFDictionaryRef CFDictionaryCreate(CFAllocatorRef, const void** keys, const void** values, CFIndex count,
                                   const CFDictionaryKeyCallBacks*, const CFDictionaryValueCallBacks*)
{
    NSMutableDictionary* dict = NSMutableDictionary::dictionary();
    for (CFIndex i = 0; keys && values && i < count; ++i)
        dict->setObject(asObject(values[i]), asObject(keys[i]));
    return owned(NSDictionary::dictionaryWithDictionary(dict));
}

CFMutableDictionaryRef CFDictionaryCreateMutable(CFAllocatorRef, CFIndex, const CFDictionaryKeyCallBacks*,
                                                 const CFDictionaryValueCallBacks*)
{
    return owned(NSMutableDictionary::dictionary());
}

void CFDictionarySetValue(CFMutableDictionaryRef dictionary, const void* key, const void* value)
{
    if (dictionary)
        dictionary->setObject(asObject(value), asObject(key));
}

const void* CFDictionaryGetValue(CFDictionaryRef dictionary, const void* key)
{
    return dictionary ? dictionary->objectForKey(static_cast<const NSObject*>(key)) : nullptr;
}

Boolean CFDictionaryContainsKey(CFDictionaryRef dictionary, const void* key) { return CFDictionaryGetValue(dictionary, key) != nullptr; }
CFIndex CFDictionaryGetCount(CFDictionaryRef dictionary) { return dictionary ? static_cast<CFIndex>(dictionary->count()) : 0; }

void CFDictionaryGetKeysAndValues(CFDictionaryRef dictionary, const void** keys, const void** values)
{
    if (!dictionary)
        return;
    for (NSUInteger i = 0; i < dictionary->count(); ++i) {
        if (keys)
            keys[i] = dictionary->keyAtIndex(i);
        if (values)
            values[i] = dictionary->valueAtIndex(i);
    }
}

CFSetRef CFSetCreate(CFAllocatorRef, const void** values, CFIndex count, const CFSetCallBacks*)
{
    NSMutableSet* set = NSMutableSet::set();
    for (CFIndex i = 0; values && i < count; ++i)
        set->addObject(asObject(values[i]));
    return owned(NSSet::setWithSet(set));
}

CFMutableSetRef CFSetCreateMutable(CFAllocatorRef, CFIndex, const CFSetCallBacks*) { return owned(NSMutableSet::set()); }

void CFSetAddValue(CFMutableSetRef set, const void* value)
{
    if (set)
        set->addObject(asObject(value));
}

CFIndex CFSetGetCount(CFSetRef set) { return set ? static_cast<CFIndex>(set->count()) : 0; }
Boolean CFSetContainsValue(CFSetRef set, const void* value) { return set && set->containsObject(static_cast<const NSObject*>(value)); }

CFMutableBagRef CFBagCreateMutable(CFAllocatorRef, CFIndex, const CFBagCallBacks*) { return owned(NSCountedSet::set()); }

void CFBagAddValue(CFMutableBagRef bag, const void* value)
{
    if (bag)
        bag->addObject(asObject(value));
}

CFIndex CFBagGetCount(CFBagRef bag)
{
    if (!bag)
        return 0;
    CFIndex total = 0;
    for (id member : *bag)
        total += static_cast<CFIndex>(bag->countForObject(member));
    return total;
}

CFIndex CFBagGetCountOfValue(CFBagRef bag, const void* value)
{
    return bag ? static_cast<CFIndex>(bag->countForObject(static_cast<const NSObject*>(value))) : 0;
}

// ---------------------------------------------------------------- property lists

CFPropertyListRef CFPropertyListCreateWithData(CFAllocatorRef, CFDataRef data, CFOptionFlags options,
                                               CFPropertyListFormat* format, CFErrorRef* error)
{
    AutoreleasePoolScope pool;
    NSError* nsError = nullptr;
    NSPropertyListFormat nsFormat = 0;
    id plist = NSPropertyListSerialization::propertyListWithData(data, options, &nsFormat, &nsError);
    if (format)
        *format = static_cast<CFPropertyListFormat>(nsFormat);
    if (error)
        *error = nsError ? static_cast<CFErrorRef>(nsError->retain()) : nullptr;
    return plist ? plist->retain() : nullptr;
}

CFPropertyListRef CFPropertyListCreateFromXMLData(CFAllocatorRef a, CFDataRef xmlData, CFOptionFlags mutabilityOption,
                                                  CFStringRef* errorString)
{
    CFErrorRef error = nullptr;
    CFPropertyListRef plist = CFPropertyListCreateWithData(a, xmlData, mutabilityOption, nullptr, &error);
    if (errorString) {
        *errorString = nullptr;
        if (error) {
            AutoreleasePoolScope pool;
            NSDictionary* info = error->userInfo();
            id text = info ? info->objectForKey(std::string_view("NSDebugDescription")) : nullptr;
            *errorString = static_cast<CFStringRef>((text ? text : error->description())->description()->retain());
        }
    }
    if (error)
        CFRelease(error);
    return plist;
}
