// The embedded signature that LC_CODE_SIGNATURE points at: a SuperBlob, that
// is a big-endian header (magic, length, count) followed by an index of
// (slot type, offset) pairs, each offset naming a blob inside the SuperBlob.
// Every blob starts with its own magic and length. All of it is checked when
// the SuperBlob is read; the blobs it hands out are known to lie inside it.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "codesign/ByteReader.h"
#include "codesign/Expected.h"
#include "codesign/Source.h"

namespace codesign {

inline constexpr std::uint32_t CSMAGIC_REQUIREMENT = 0xfade0c00;
inline constexpr std::uint32_t CSMAGIC_REQUIREMENTS = 0xfade0c01;
inline constexpr std::uint32_t CSMAGIC_CODEDIRECTORY = 0xfade0c02;
inline constexpr std::uint32_t CSMAGIC_EMBEDDED_SIGNATURE = 0xfade0cc0;
inline constexpr std::uint32_t CSMAGIC_EMBEDDED_ENTITLEMENTS = 0xfade7171;
inline constexpr std::uint32_t CSMAGIC_EMBEDDED_DER_ENTITLEMENTS = 0xfade7172;
inline constexpr std::uint32_t CSMAGIC_BLOBWRAPPER = 0xfade0b01;

inline constexpr std::uint32_t CSSLOT_CODEDIRECTORY = 0;
inline constexpr std::uint32_t CSSLOT_INFOSLOT = 1;
inline constexpr std::uint32_t CSSLOT_REQUIREMENTS = 2;
inline constexpr std::uint32_t CSSLOT_RESOURCEDIR = 3;
inline constexpr std::uint32_t CSSLOT_APPLICATION = 4;
inline constexpr std::uint32_t CSSLOT_ENTITLEMENTS = 5;
inline constexpr std::uint32_t CSSLOT_DER_ENTITLEMENTS = 7;
inline constexpr std::uint32_t CSSLOT_ALTERNATE_CODEDIRECTORIES = 0x1000;
inline constexpr std::uint32_t CSSLOT_ALTERNATE_CODEDIRECTORY_MAX = 5;
inline constexpr std::uint32_t CSSLOT_SIGNATURESLOT = 0x10000;

inline constexpr std::uint64_t kBlobHeaderSize = 8;        // magic, length
inline constexpr std::uint64_t kSuperBlobHeaderSize = 12;  // magic, length, count
inline constexpr std::uint64_t kBlobIndexEntrySize = 8;    // type, offset

// "code directory", "entitlements", "alternate code directory 1", "slot 0x20", ...
std::string slotName(std::uint32_t slot);

// The magic a blob in this slot must carry, or 0 when the slot is not one we know.
std::uint32_t expectedMagicForSlot(std::uint32_t slot);

struct Blob {
    std::uint32_t slot = 0;
    std::uint32_t magic = 0;
    std::span<const std::uint8_t> bytes;  // the whole blob, its magic and length included

    std::span<const std::uint8_t> payload() const { return bytes.subspan(kBlobHeaderSize); }
};

struct EmbeddedSignature {
    std::uint32_t length = 0;  // of the SuperBlob; the LC_CODE_SIGNATURE data may be padded past it
    std::vector<Blob> blobs;   // in index order; views into the bytes that were parsed

    const Blob* find(std::uint32_t slot) const;
};

// Parses the SuperBlob at the start of the LC_CODE_SIGNATURE data. The result
// views `data`, which must outlive it.
Expected<EmbeddedSignature> parseEmbeddedSignature(std::span<const std::uint8_t> data);

// Where each blob of a SuperBlob lies, for a reader that takes only the blobs
// it needs (a large binary's code directory is megabytes of page hashes).
struct BlobEntry {
    std::uint32_t slot = 0;
    std::uint32_t magic = 0;
    std::uint64_t offset = 0;  // from the start of the SuperBlob
    std::uint32_t length = 0;  // the whole blob, its header included
};

struct SignatureIndex {
    std::uint32_t length = 0;
    std::vector<BlobEntry> entries;  // in index order

    const BlobEntry* find(std::uint32_t slot) const;
};

// The same checks as parseEmbeddedSignature, reading from `source` only the
// SuperBlob's header, its index and each blob's magic and length. The
// SuperBlob starts at `start` and has at most `available` bytes.
Expected<SignatureIndex> readSignatureIndex(const Source& source, std::uint64_t start, std::uint64_t available);

}  // namespace codesign
