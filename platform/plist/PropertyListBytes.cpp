#include "plist/PropertyListBytes.h"

#include <expat.h>
#include <sys/random.h>

#include <climits>
#include <cstring>
#include <optional>
#include <vector>

namespace plistbytes {

namespace {

// libplist 2.2 accepts XML cut short, followed by junk, or with bytes that
// are not UTF-8. The platform refuses all of these, so the text must first be
// a well-formed XML document whose root element is <plist>. Expat reads it as
// a stream, building nothing: it loads no external entity or DTD (none is
// asked for), keeps entity expansion within its own limits, and knows the
// encodings a property list is written in (UTF-8, UTF-16, ISO-8859-1 and
// US-ASCII); a document in any other is refused. Nothing is written anywhere.
bool isWellFormedPlistXML(const uint8_t* bytes, size_t length)
{
    if (length > static_cast<size_t>(INT32_MAX))
        return false;
    XML_Parser parser = XML_ParserCreate(nullptr);
    if (!parser)
        return false;
    // The salt that keeps a document's names from being chosen to collide
    // in Expat's tables, drawn once per process: Expat would otherwise ask
    // the system for one with every document (as it still does if this
    // draw fails).
    static const unsigned long salt = [] {
        unsigned long value = 0;
        return ::getrandom(&value, sizeof value, 0) == static_cast<ssize_t>(sizeof value) ? value : 0;
    }();
    if (salt != 0)
        XML_SetHashSalt(parser, salt);
    // The first element's name, looked at once: whatever follows inside it
    // only has to be well-formed.
    enum class Root { None, Plist, Other } root = Root::None;
    XML_SetUserData(parser, &root);
    XML_SetStartElementHandler(parser, [](void* data, const XML_Char* name, const XML_Char**) {
        Root& first = *static_cast<Root*>(data);
        if (first == Root::None)
            first = std::strcmp(name, "plist") == 0 ? Root::Plist : Root::Other;
    });
    const bool parsed = XML_Parse(parser, reinterpret_cast<const char*>(bytes), static_cast<int>(length), 1) == XML_STATUS_OK;
    XML_ParserFree(parser);
    return parsed && root == Root::Plist;
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
        // libplist takes any offset before the table, even one inside the
        // header, so the scan does too.
        const uint64_t offset = bigEndian(table + index * offsetSize, offsetSize);
        if (offset >= end)
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

} // namespace

Parsed parsePropertyList(const std::uint8_t* bytes, std::size_t length)
{
    Parsed parsed;
    plist_t root = nullptr;
    parsed.binary = length >= 8 && std::memcmp(bytes, "bplist00", 8) == 0;
    if (parsed.binary) {
        if (length > UINT32_MAX) {
            parsed.problem = "Binary property list too large";
            return parsed;
        }
        if (binaryPlistHasUnreadableKeys(bytes, length)) {
            parsed.problem = "The binary property list has a dictionary key that holds a NUL character, or objects "
                             "that overlap";
            return parsed;
        }
        plist_from_bin(reinterpret_cast<const char*>(bytes), static_cast<uint32_t>(length), &root);
    } else {
        if (length > UINT32_MAX || !isWellFormedPlistXML(bytes, length)) {
            parsed.problem = "The data is not a well-formed XML property list";
            return parsed;
        }
        plist_from_xml(reinterpret_cast<const char*>(bytes), static_cast<uint32_t>(length), &root);
    }
    parsed.root.reset(root);
    if (!root)
        parsed.problem = parsed.binary ? "The data is not a valid binary property list" : "The XML is not a property list";
    return parsed;
}

std::string_view stringOf(plist_t node)
{
    if (!node || plist_get_node_type(node) != PLIST_STRING)
        return {};
    uint64_t length = 0;
    const char* text = plist_get_string_ptr(node, &length);
    return text ? std::string_view(text, static_cast<size_t>(length)) : std::string_view();
}

} // namespace plistbytes
