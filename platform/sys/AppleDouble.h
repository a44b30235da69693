// AppleDouble files: the "._<name>" companions in which a Mac keeps a file's
// Finder info, resource fork and extended attributes on volumes (and in zip
// archives, under "__MACOSX/") that cannot hold them.
//
// Layout, every number big-endian:
//
//   header       magic 0x00051607, version 0x00020000, 16 filler bytes,
//                entry count (16 bits)
//   entry table  count x { id, offset, length } (32 bits each), offsets from
//                the file's start
//   entry 9      Finder info: 32 bytes; on a Mac-made file followed by 2 pad
//                bytes and the extended attributes:
//     ATTR header  magic "ATTR", debug tag, total size (the file offset where
//                  the block ends), data start, data length, 12 reserved
//                  bytes, flags (16 bits), attribute count (16 bits)
//     entries      count x { value offset (from the file's start), value
//                  length, flags (16 bits), name length (8 bits, the NUL
//                  included), name }, each padded to 4 bytes
//     values       the attribute values
//   entry 2      resource fork
//
// The reader trusts nothing it reads: every offset and length is checked
// against the bytes it was given (and a value against the Finder-info entry
// that holds it) before anything is read, and every failure is a status, not
// an exception or a read outside the bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace sentrel::sys {

inline constexpr uint32_t kAppleDoubleMagic = 0x00051607;
inline constexpr uint32_t kAppleDoubleVersion = 0x00020000;
inline constexpr uint32_t kAppleDoubleAttributesMagic = 0x41545452;  // "ATTR"
inline constexpr uint32_t kAppleDoubleResourceForkID = 2;
inline constexpr uint32_t kAppleDoubleFinderInfoID = 9;
inline constexpr size_t kAppleDoubleFinderInfoSize = 32;
// The largest AppleDouble file read from disk; a larger one is refused.
inline constexpr size_t kAppleDoubleMaxFileSize = 16u << 20;

enum class AppleDoubleStatus {
    ok,
    truncatedHeader,       // shorter than the header
    badMagic,
    badVersion,
    truncatedEntryTable,   // the entry count does not fit in the file
    entryOutOfBounds,      // an entry's offset + length passes the file's end
    duplicateEntry,        // two entries with the same id
    truncatedAttributes,   // the ATTR header or an entry passes the block's end
    attributeOutOfBounds,  // a value outside the block, or over its header or entries
    overlappingAttributes, // two values share bytes
    duplicateAttribute,    // two attributes with the same name
    badAttributeName,      // a name without its NUL or with one inside it
    tooLarge,              // a file past kAppleDoubleMaxFileSize
    unreadable,            // the file could not be opened or read
};

// A few words for the status, for messages.
const char* appleDoubleStatusText(AppleDoubleStatus status);

struct AppleDoubleEntry {
    uint32_t id = 0;
    uint32_t offset = 0;
    uint32_t length = 0;
};

struct AppleDoubleAttribute {
    std::string name;
    uint16_t flags = 0;
    std::vector<uint8_t> value;
};

struct AppleDouble {
    uint32_t version = kAppleDoubleVersion;
    uint8_t filler[16] = {};
    // In the table's order.
    std::vector<AppleDoubleEntry> entries;
    // Entry 9's first 32 bytes (fewer when the entry is shorter); empty
    // without entry 9.
    std::vector<uint8_t> finderInfo;
    // Whether entry 9 carries an ATTR block, and that block's header fields
    // that are kept as they are when the file is written again.
    bool hasAttributeBlock = false;
    uint32_t attributesDebugTag = 0;
    uint8_t attributesReserved[12] = {};
    uint16_t attributesFlags = 0;
    std::vector<AppleDoubleAttribute> attributes;

    const AppleDoubleAttribute* attribute(std::string_view name) const;
};

struct AppleDoubleParse {
    AppleDoubleStatus status = AppleDoubleStatus::ok;
    AppleDouble file;
};

AppleDoubleParse parseAppleDouble(std::span<const uint8_t> bytes);

// The bytes of `file` laid out again: header, entry table, then each entry's
// bytes in the table's order, entry 9 as its Finder info, 2 pad bytes and the
// ATTR block. Every entry other than 9 takes its bytes from `original`, the
// file `file` was read from.
std::vector<uint8_t> writeAppleDouble(const AppleDouble& file, std::span<const uint8_t> original);

// Whether nothing is kept in the file read from `original`: no attributes,
// Finder info all zeros, and every other entry empty (a resource fork
// without resources counts as empty).
bool appleDoubleIsEmpty(const AppleDouble& file, std::span<const uint8_t> original);

// The file at `path`, read whole (up to kAppleDoubleMaxFileSize, following
// a final symbolic link only when it leads to a regular file); the bytes go
// to *bytes when given.
AppleDoubleParse readAppleDoubleFile(const std::string& path, std::vector<uint8_t>* bytes = nullptr);

// Where a file's AppleDouble companions would be: "._<name>" beside it, and
// "<root>/__MACOSX/<folders>/._<name>" for the nearest folder <root> above
// it that has a __MACOSX folder (where a zip made on a Mac was unpacked).
// Only paths that exist as regular files are given.
struct AppleDoubleCompanions {
    std::optional<std::string> beside;
    std::optional<std::string> zipped;
};
AppleDoubleCompanions appleDoubleCompanions(const std::string& path);

enum class AppleDoubleRemoval {
    absent,     // the file has no such attribute (or is not AppleDouble)
    rewritten,  // written again without it (a new file renamed over the old)
    deleted,    // nothing else was in it: the file is gone
    failed,     // errno says why
};

// Takes the attribute `name` out of the AppleDouble file at `path`. The new
// file is written beside the old one and renamed over it, with the old
// one's permissions and extended attributes; all other attributes, the
// Finder info and the other entries keep their bytes.
AppleDoubleRemoval removeAppleDoubleAttribute(const std::string& path, std::string_view name);

}  // namespace sentrel::sys
