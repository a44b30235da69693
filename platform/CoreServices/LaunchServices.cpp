#include "CoreServices/LaunchServices.h"
#include "CoreServices/QuarantineProperties.h"

#include "Foundation/Foundation.h"
#include "Foundation/NSScanner.h"
#include "sys/xattr.h"

#include <climits>
#include <optional>
#include <string>
#include <vector>

namespace {

// The whole value of an attribute, following a final symbolic link; nothing
// when it is missing, empty or unreadable.
std::optional<std::vector<uint8_t>> attributeValue(const char* path, const char* name)
{
    for (int attempt = 0; attempt < 4; ++attempt) {
        ssize_t size = getxattr(path, name, nullptr, 0, 0, 0);
        if (size <= 0)
            return std::nullopt;
        std::vector<uint8_t> value(static_cast<size_t>(size));
        ssize_t got = getxattr(path, name, value.data(), value.size(), 0, 0);
        if (got > 0) {
            value.resize(static_cast<size_t>(got));
            return value;
        }
        if (got == 0 || errno != ERANGE)
            return std::nullopt;
    }
    return std::nullopt;
}

// Text up to the first NUL byte; nil when it is not UTF-8.
NSString* textOf(const std::vector<uint8_t>& bytes)
{
    size_t length = 0;
    while (length < bytes.size() && bytes[length] != 0)
        ++length;
    return NSString::stringWithBytes(bytes.data(), length, NSUTF8StringEncoding);
}

NSURL* urlFromText(NSString* text)
{
    if (!text || text->length() == 0)
        return nil;
    return NSURL::URLWithString(text);
}

// The data's address and the page's, from the XDG attributes or else from
// kMDItemWhereFroms.
void downloadAddresses(const QuarantineAttributeReader& attribute, NSURL*& dataURL, NSURL*& originURL)
{
    if (auto value = attribute("xdg.origin.url"))
        dataURL = urlFromText(textOf(*value));
    if (auto value = attribute("xdg.referrer.url"))
        originURL = urlFromText(textOf(*value));
    if (dataURL && originURL)
        return;
    auto value = attribute("com.apple.metadata:kMDItemWhereFroms");
    if (!value)
        return;
    NSData* data = NSData::dataWithVector(std::move(*value));
    id plist = NSPropertyListSerialization::propertyListWithData(data, NSPropertyListImmutable, nullptr, nullptr);
    if (!plist || !plist->isKindOfClass(NSArray::class_()))
        return;
    NSArray* addresses = static_cast<NSArray*>(plist);
    auto addressAt = [&](NSUInteger i) -> NSURL* {
        id item = i < addresses->count() ? addresses->objectAtIndex(i) : nil;
        return item && item->isKindOfClass(NSString::class_()) ? urlFromText(static_cast<NSString*>(item)) : nil;
    };
    if (!dataURL)
        dataURL = addressAt(0);
    if (!originURL)
        originURL = addressAt(1);
}

} // namespace

NSDictionary* LSQuarantinePropertiesFromAttributes(const QuarantineAttributeReader& attribute)
{
    auto record = attribute("com.apple.quarantine");
    if (!record)
        return nil;
    NSMutableDictionary* properties = NSMutableDictionary::dictionary();
    if (NSString* text = textOf(*record)) {
        NSArray* fields = text->componentsSeparatedByString(NSSTR(";"));
        auto field = [&](NSUInteger i) -> NSString* {
            return i < fields->count() ? static_cast<NSString*>(fields->objectAtIndex(i)) : nil;
        };
        unsigned seconds = 0;
        if (NSString* time = field(1); time && NSScanner::scannerWithString(time)->scanHexInt(&seconds))
            CFDictionarySetValue(properties, kLSQuarantineTimeStampKey,
                                 NSDate::dateWithTimeIntervalSince1970(static_cast<double>(seconds)));
        if (NSString* agent = field(2); agent && agent->length())
            CFDictionarySetValue(properties, kLSQuarantineAgentNameKey, agent);
        if (NSString* event = field(3); event && event->length())
            CFDictionarySetValue(properties, CFSTR("LSQuarantineEventIdentifier"), event);
    }
    NSURL* dataURL = nil;
    NSURL* originURL = nil;
    downloadAddresses(attribute, dataURL, originURL);
    if (dataURL) {
        CFDictionarySetValue(properties, kLSQuarantineDataURLKey, dataURL);
        NSString* scheme = dataURL->scheme();
        const bool web = scheme && (scheme->isEqualToString(NSSTR("http")) || scheme->isEqualToString(NSSTR("https")));
        CFDictionarySetValue(properties, kLSQuarantineTypeKey,
                             web ? kLSQuarantineTypeWebDownload : kLSQuarantineTypeOtherDownload);
    }
    if (originURL)
        CFDictionarySetValue(properties, kLSQuarantineOriginURLKey, originURL);
    return properties;
}

OSStatus LSCopyItemAttribute(const FSRef* inItem, LSRolesMask, CFStringRef inAttributeName, CFTypeRef* outValue)
{
    if (outValue)
        *outValue = nullptr;
    if (!inItem || !inAttributeName || !outValue)
        return paramErr;
    UInt8 path[PATH_MAX];
    if (OSStatus status = FSRefMakePath(inItem, path, sizeof path); status != noErr)
        return status;
    if (!CFEqual(inAttributeName, kLSItemQuarantineProperties))
        return kLSAttributeNotFoundErr;
    AutoreleasePoolScope pool;
    const char* file = reinterpret_cast<const char*>(path);
    NSDictionary* properties =
        LSQuarantinePropertiesFromAttributes([file](const char* name) { return attributeValue(file, name); });
    if (!properties)
        return kLSAttributeNotFoundErr;
    *outValue = properties->copy();
    return noErr;
}
