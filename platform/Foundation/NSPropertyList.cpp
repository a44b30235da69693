#include "Foundation/Foundation.h"

#include <libxml/parser.h>
#include <plist/plist.h>

#include <climits>
#include <cmath>
#include <cstring>
#include <memory>
#include <optional>
#include <vector>

namespace {

// Deeper nesting than this is refused rather than recursed into.
constexpr int kMaxDepth = 512;

struct PlistFree {
    void operator()(plist_t p) const { plist_free(p); }
};
using PlistPtr = std::unique_ptr<void, PlistFree>;

// libplist 2.2 accepts XML cut short, followed by junk, or with bytes that
// are not UTF-8. The platform refuses all of these, so the text must first be
// a well-formed XML document whose root element is <plist>. External entities
// and network access stay off.
bool isWellFormedPlistXML(const uint8_t* bytes, size_t length)
{
    if (length > static_cast<size_t>(INT32_MAX))
        return false;
    xmlDocPtr doc = xmlReadMemory(reinterpret_cast<const char*>(bytes), static_cast<int>(length), nullptr, nullptr,
                                  XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING | XML_PARSE_NOBLANKS);
    if (!doc)
        return false;
    xmlNodePtr root = xmlDocGetRootElement(doc);
    bool ok = root && root->name && std::strcmp(reinterpret_cast<const char*>(root->name), "plist") == 0;
    xmlFreeDoc(doc);
    return ok;
}

// A big-endian unsigned number of `size` bytes (1 to 8).
uint64_t bigEndian(const uint8_t* bytes, size_t size)
{
    uint64_t value = 0;
    for (size_t i = 0; i < size; ++i)
        value = value << 8 | bytes[i];
    return value;
}

// Whether libplist cannot be trusted with a binary property list's
// dictionary keys: a key holding a NUL character, or dictionaries and keys
// that overlap. libplist keeps a key's length as stored beside its text, and
// its key accessor (the only way to a key) asserts that the two agree,
// aborting the process; such a list is refused before libplist reads it.
// The objects of a list that was written share no bytes, so the keys'
// references and texts fit in the file once; when they add up to more,
// objects overlap, which only a made-up file does, and looking at each
// would take time growing with the square of its size: that list is refused
// too. Only what can be checked is looked at: an object, table or count that
// does not fit is left to libplist's own reader, which refuses it.
bool binaryPlistHasUnreadableKeys(const uint8_t* bytes, size_t length)
{
    constexpr size_t kHeader = 8, kTrailer = 32;
    if (length < kHeader + kTrailer)
        return false;
    const uint8_t* trailer = bytes + length - kTrailer;
    const size_t offsetSize = trailer[6], refSize = trailer[7];
    const uint64_t objects = bigEndian(trailer + 8, 8), tableOffset = bigEndian(trailer + 24, 8);
    const size_t end = length - kTrailer;  // where objects and the table must end
    if (offsetSize < 1 || offsetSize > 8 || refSize < 1 || refSize > 8 || tableOffset > end ||
        objects > (end - tableOffset) / offsetSize)
        return false;
    const uint8_t* table = bytes + tableOffset;
    const auto objectAt = [&](uint64_t index) -> std::optional<size_t> {
        const uint64_t offset = bigEndian(table + index * offsetSize, offsetSize);
        if (offset < kHeader || offset >= end)
            return std::nullopt;
        return static_cast<size_t>(offset);
    };
    // An object's count: the marker's low four bits, or 15 and an integer
    // object after the marker. `at` moves past the count.
    const auto countAt = [&](size_t& at) -> std::optional<uint64_t> {
        const uint8_t low = bytes[at++] & 0x0F;
        if (low != 0x0F)
            return low;
        if (at >= end || (bytes[at] & 0xF0) != 0x10)
            return std::nullopt;
        const size_t size = size_t{1} << (bytes[at] & 0x0F);
        if (size > 8 || end - at - 1 < size)
            return std::nullopt;
        const uint64_t count = bigEndian(bytes + at + 1, size);
        at += 1 + size;
        return count;
    };
    // Each offset is looked at once as a dictionary and once as a key; what
    // is looked at is counted against the file's size.
    enum : uint8_t { kSeenAsDictionary = 1, kSeenAsKey = 2 };
    std::vector<uint8_t> seen(end, 0);
    size_t budget = end;
    const auto spend = [&](uint64_t bytesLookedAt) {
        if (bytesLookedAt > budget)
            return false;
        budget -= static_cast<size_t>(bytesLookedAt);
        return true;
    };
    // Whether the key at `at` holds a NUL; nullopt when the budget is spent.
    const auto keyHasNul = [&](size_t at) -> std::optional<bool> {
        const uint8_t kind = bytes[at] >> 4;
        if (kind != 0x5 && kind != 0x6)
            return false;
        const std::optional<uint64_t> count = countAt(at);
        const size_t unit = kind == 0x6 ? 2 : 1;
        if (!count || *count > (end - at) / unit)
            return false;
        if (!spend(*count * unit))
            return std::nullopt;
        for (uint64_t i = 0; i < *count; ++i)
            if (bytes[at + i * unit] == 0 && (unit == 1 || bytes[at + i * unit + 1] == 0))
                return true;
        return false;
    };
    for (uint64_t i = 0; i < objects; ++i) {
        std::optional<size_t> at = objectAt(i);
        if (!at || bytes[*at] >> 4 != 0xD || (seen[*at] & kSeenAsDictionary))
            continue;
        seen[*at] |= kSeenAsDictionary;
        size_t refs = *at;
        const std::optional<uint64_t> count = countAt(refs);
        if (!count || *count > (end - refs) / refSize)
            continue;
        if (!spend(*count * refSize))
            return true;
        for (uint64_t k = 0; k < *count; ++k) {
            const uint64_t key = bigEndian(bytes + refs + k * refSize, refSize);
            std::optional<size_t> keyAt = key < objects ? objectAt(key) : std::nullopt;
            if (!keyAt || (seen[*keyAt] & kSeenAsKey))
                continue;
            seen[*keyAt] |= kSeenAsKey;
            const std::optional<bool> nul = keyHasNul(*keyAt);
            if (!nul || *nul)
                return true;
        }
    }
    return false;
}

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
            // By pointer and length: a string may hold NUL characters, which
            // plist_get_string_val asserts against (aborting the process).
            uint64_t length = 0;
            const char* bytes = plist_get_string_ptr(node, &length);
            s = bytes ? NSString::stringWithBytes(bytes, static_cast<NSUInteger>(length), NSUTF8StringEncoding)
                      : NSString::string();
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
    const uint8_t* bytes = data->bytes();
    size_t length = data->length();
    plist_t root = nullptr;
    bool binary = length >= 8 && std::memcmp(bytes, "bplist00", 8) == 0;
    if (binary) {
        if (length > UINT32_MAX) {
            setError(error, "Binary property list too large");
            return nil;
        }
        if (binaryPlistHasUnreadableKeys(bytes, length)) {
            setError(error, "The binary property list has a dictionary key that holds a NUL character, or objects "
                            "that overlap");
            return nil;
        }
        plist_from_bin(reinterpret_cast<const char*>(bytes), static_cast<uint32_t>(length), &root);
    } else {
        if (length > UINT32_MAX || !isWellFormedPlistXML(bytes, length)) {
            setError(error, "The data is not a well-formed XML property list");
            return nil;
        }
        plist_from_xml(reinterpret_cast<const char*>(bytes), static_cast<uint32_t>(length), &root);
    }
    PlistPtr holder(root);
    if (!root) {
        setError(error, binary ? "The data is not a valid binary property list" : "The XML is not a property list");
        return nil;
    }
    bool ok = true;
    id result = objectFromNode(root, options, 0, ok);
    if (!ok || !result) {
        setError(error, "The property list holds a value that cannot be read");
        return nil;
    }
    if (format)
        *format = binary ? NSPropertyListBinaryFormat_v1_0 : NSPropertyListXMLFormat_v1_0;
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
