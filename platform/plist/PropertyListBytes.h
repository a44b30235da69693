#pragma once
// Property lists read with libplist from bytes nobody vouches for: a
// bundle's Info.plist and CodeResources, a signature's entitlements and
// signed attributes, a quarantine companion file. libplist 2.2 aborts the
// process on some made-up binary lists and accepts broken XML; what it
// cannot be trusted with is refused here first, and everything that reads
// a property list comes through this one door.

#include <plist/plist.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

namespace plistbytes {

struct PlistFree {
    void operator()(plist_t node) const { plist_free(node); }
};
using PlistPtr = std::unique_ptr<void, PlistFree>;

struct Parsed {
    PlistPtr root;                 // null when the bytes are refused
    bool binary = false;           // "bplist00" at the start
    const char* problem = nullptr; // why the bytes were refused
};

// A binary list when the bytes start with "bplist00", else XML, which must
// be a well-formed document whose root element is <plist>.
Parsed parsePropertyList(const std::uint8_t* bytes, std::size_t length);

// A string node's text by pointer and length (a NUL inside is kept; libplist's
// copying getter asserts against it). Empty for any other node.
std::string_view stringOf(plist_t node);

} // namespace plistbytes
