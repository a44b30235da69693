#include "Foundation/Foundation.h"

#include "plist/PropertyListBytes.h"

#include <climits>
#include <cmath>
#include <cstring>
#include <memory>
#include <optional>
#include <vector>

namespace {

// Deeper nesting than this is refused rather than recursed into.
constexpr int kMaxDepth = 512;

using plistbytes::PlistPtr;

id objectFromNode(plist_t node, NSPropertyListMutabilityOptions options, int depth, bool& ok)
{
    if (!node || depth > kMaxDepth) {
        ok = false;
        return nil;
    }
    bool mutableContainers = options != NSPropertyListImmutable;
    switch (plist_get_node_type(node)) {
    case PLIST_BOOLEAN: {
        uint8_t value = 0;
        plist_get_bool_val(node, &value);
        return NSNumber::numberWithBool(value != 0);
    }
    case PLIST_UINT: {
        // libplist keeps integers in 64 bits; negative ones come back in
        // two's complement, so read them as signed.
        uint64_t value = 0;
        plist_get_uint_val(node, &value);
        return NSNumber::numberWithLongLong(static_cast<long long>(value));
    }
    case PLIST_REAL: {
        double value = 0;
        plist_get_real_val(node, &value);
        return NSNumber::numberWithDouble(value);
    }
    case PLIST_STRING:
    case PLIST_KEY: {
        NSString* s = nil;
        if (plist_get_node_type(node) == PLIST_STRING) {
            // By pointer and length: a string may hold NUL characters.
            const std::string_view text = plistbytes::stringOf(node);
            s = text.empty() ? NSString::string()
                             : NSString::stringWithBytes(text.data(), static_cast<NSUInteger>(text.size()),
                                                         NSUTF8StringEncoding);
        } else {
            char* text = nullptr;
            plist_get_key_val(node, &text);
            s = text ? NSString::stringWithUTF8String(text) : NSString::string();
            free(text);
        }
        if (!s)
            ok = false;
        if (s && options == NSPropertyListMutableContainersAndLeaves)
            s = NSMutableString::stringWithString(s);
        return s;
    }
    case PLIST_DATE: {
        int32_t sec = 0, usec = 0;
        plist_get_date_val(node, &sec, &usec);
        return NSDate::dateWithTimeIntervalSinceReferenceDate(sec + usec / 1e6);
    }
    case PLIST_DATA: {
        char* bytes = nullptr;
        uint64_t length = 0;
        plist_get_data_val(node, &bytes, &length);
        NSData* data = NSData::dataWithBytes(bytes, length);
        free(bytes);
        if (options == NSPropertyListMutableContainersAndLeaves) {
            NSMutableData* m = NSMutableData::data();
            m->appendData(data);
            return m;
        }
        return data;
    }
    case PLIST_ARRAY: {
        NSMutableArray* array = NSMutableArray::array();
        uint32_t count = plist_array_get_size(node);
        for (uint32_t i = 0; i < count && ok; ++i)
            if (id item = objectFromNode(plist_array_get_item(node, i), options, depth + 1, ok))
                array->addObject(item);
        return mutableContainers ? array : NSArray::arrayWithArray(array);
    }
    case PLIST_DICT: {
        NSMutableDictionary* dict = NSMutableDictionary::dictionary();
        plist_dict_iter it = nullptr;
        plist_dict_new_iter(node, &it);
        while (it && ok) {
            char* key = nullptr;
            plist_t value = nullptr;
            plist_dict_next_item(node, it, &key, &value);
            if (!key)
                break;
            NSString* keyString = NSString::stringWithUTF8String(key);
            free(key);
            id object = objectFromNode(value, options, depth + 1, ok);
            if (!keyString || !object)
                ok = false;
            else
                dict->setObject(object, keyString);
        }
        free(it);
        return mutableContainers ? static_cast<NSDictionary*>(dict) : NSDictionary::dictionaryWithDictionary(dict);
    }
    case PLIST_UID: {
        uint64_t value = 0;
        plist_get_uid_val(node, &value);
        return NSDictionary::dictionaryWithObjectsForKeys({{NSNumber::numberWithUnsignedLongLong(value), NSSTR("CF$UID")}});
    }
    default:
        ok = false;
        return nil;
    }
}

plist_t nodeFromObject(id object, int depth)
{
    if (!object || depth > kMaxDepth)
        return nullptr;
    if (object->isKindOfClass(NSBooleanNumber::class_()))
        return plist_new_bool(static_cast<NSNumber*>(object)->boolValue());
    if (object->isKindOfClass(NSNumber::class_())) {
        auto* n = static_cast<NSNumber*>(object);
        if (n->isFloatType())
            return plist_new_real(n->doubleValue());
        return plist_new_uint(static_cast<uint64_t>(n->longLongValue()));
    }
    if (object->isKindOfClass(NSString::class_()))
        return plist_new_string(static_cast<NSString*>(object)->utf8().c_str());
    if (object->isKindOfClass(NSData::class_())) {
        auto* d = static_cast<NSData*>(object);
        return plist_new_data(reinterpret_cast<const char*>(d->bytes()), d->length());
    }
    if (object->isKindOfClass(NSDate::class_())) {
        double t = static_cast<NSDate*>(object)->timeIntervalSinceReferenceDate();
        double whole = std::floor(t);
        // libplist takes whole seconds as 32 bits: about 68 years either
        // side of 2001. A date outside (as a binary property list may
        // carry, or NaN) cannot be written.
        if (!(whole >= INT32_MIN && whole <= INT32_MAX))
            return nullptr;
        return plist_new_date(static_cast<int32_t>(whole), static_cast<int32_t>((t - whole) * 1e6));
    }
    if (object->isKindOfClass(NSArray::class_())) {
        plist_t array = plist_new_array();
        for (id item : *static_cast<NSArray*>(object)) {
            plist_t child = nodeFromObject(item, depth + 1);
            if (!child) {
                plist_free(array);
                return nullptr;
            }
            plist_array_append_item(array, child);
        }
        return array;
    }
    if (object->isKindOfClass(NSDictionary::class_())) {
        auto* d = static_cast<NSDictionary*>(object);
        plist_t dict = plist_new_dict();
        for (NSUInteger i = 0; i < d->count(); ++i) {
            id key = d->keyAtIndex(i);
            plist_t child = nodeFromObject(d->valueAtIndex(i), depth + 1);
            if (!key->isKindOfClass(NSString::class_()) || !child) {
                plist_free(child);
                plist_free(dict);
                return nullptr;
            }
            plist_dict_set_item(dict, static_cast<NSString*>(key)->utf8().c_str(), child);
        }
        return dict;
    }
    return nullptr;
}

void setError(NSError** error, const char* text)
{
    if (error)
        *error = NSError::errorWithDomain(NSCocoaErrorDomain, 3840,
                                          NSDictionary::dictionaryWithObjectsForKeys(
                                              {{NSString::stringWithUTF8String(text), NSSTR("NSDebugDescription")}}));
}

} // namespace

OBJC_IMPLEMENTATION(NSPropertyListSerialization, NSObject) {}

id NSPropertyListSerialization::propertyListWithData(const NSData* data, NSPropertyListMutabilityOptions options,
                                                     NSPropertyListFormat* format, NSError** error)
{
    if (error)
        *error = nil;
    if (!data || data->length() == 0) {
        setError(error, "Cannot parse a NULL or zero-length data");
        return nil;
    }
    plistbytes::Parsed parsed = plistbytes::parsePropertyList(data->bytes(), data->length());
    if (!parsed.root) {
        setError(error, parsed.problem);
        return nil;
    }
    bool ok = true;
    id result = objectFromNode(parsed.root.get(), options, 0, ok);
    if (!ok || !result) {
        setError(error, "The property list holds a value that cannot be read");
        return nil;
    }
    if (format)
        *format = parsed.binary ? NSPropertyListBinaryFormat_v1_0 : NSPropertyListXMLFormat_v1_0;
    return result;
}

NSData* NSPropertyListSerialization::dataWithPropertyList(id plist, NSPropertyListFormat format, NSError** error)
{
    PlistPtr root(nodeFromObject(plist, 0));
    if (!root) {
        setError(error, "Property list invalid for format");
        return nil;
    }
    char* out = nullptr;
    uint32_t length = 0;
    if (format == NSPropertyListBinaryFormat_v1_0)
        plist_to_bin(root.get(), &out, &length);
    else
        plist_to_xml(root.get(), &out, &length);
    if (!out) {
        setError(error, "Property list could not be written");
        return nil;
    }
    NSData* data = NSData::dataWithBytes(out, length);
    free(out);
    return data;
}
