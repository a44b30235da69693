// The CodeDirectory: the signed description of the code (identifier, team,
// flags, the hashes of its pages and of the other blobs). Fields that later
// versions added are read only when the version says they are there.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "codesign/Expected.h"
#include "codesign/Source.h"

namespace codesign {

// Versions that introduced fields, and the window we accept.
inline constexpr std::uint32_t kCodeDirectoryEarliestVersion = 0x20001;
inline constexpr std::uint32_t kCodeDirectorySupportsScatter = 0x20100;
inline constexpr std::uint32_t kCodeDirectorySupportsTeamID = 0x20200;
inline constexpr std::uint32_t kCodeDirectorySupportsCodeLimit64 = 0x20300;
inline constexpr std::uint32_t kCodeDirectorySupportsExecSegment = 0x20400;
inline constexpr std::uint32_t kCodeDirectorySupportsRuntime = 0x20500;
inline constexpr std::uint32_t kCodeDirectorySupportsLinkage = 0x20600;
inline constexpr std::uint32_t kCodeDirectoryCompatibilityLimit = 0x2f000;  // first version refused

// The header size each version needs: the fixed part up to and including the
// last field that version added.
std::uint64_t codeDirectoryHeaderSize(std::uint32_t version);

inline constexpr std::uint8_t CS_HASHTYPE_SHA1 = 1;
inline constexpr std::uint8_t CS_HASHTYPE_SHA256 = 2;
inline constexpr std::uint8_t CS_HASHTYPE_SHA256_TRUNCATED = 3;
inline constexpr std::uint8_t CS_HASHTYPE_SHA384 = 4;
inline constexpr std::size_t kCdHashLength = 20;

// Digest length of a hash type, 0 for a type we cannot compute.
std::size_t hashTypeDigestLength(std::uint8_t hashType);
// Which of several code directories to prefer: higher is better, 0 unusable.
int hashTypePriority(std::uint8_t hashType);
// "SHA-256", "SHA-1", ..., or "Unknown (7)".
std::string hashTypeName(std::uint8_t hashType);

// Code signature flags that the reader itself looks at.
inline constexpr std::uint32_t CS_ADHOC = 0x00000002;
inline constexpr std::uint32_t CS_RUNTIME = 0x00010000;
inline constexpr std::uint32_t CS_LINKER_SIGNED = 0x00020000;

struct CodeDirectory {
    std::uint32_t version = 0;
    std::uint32_t flags = 0;
    std::uint32_t hashOffset = 0;
    std::uint32_t identOffset = 0;
    std::uint32_t nSpecialSlots = 0;
    std::uint32_t nCodeSlots = 0;
    std::uint32_t codeLimit = 0;
    std::uint8_t hashSize = 0;
    std::uint8_t hashType = 0;
    std::uint8_t platform = 0;
    std::uint8_t pageSizeLog2 = 0;  // 0: the code is one page
    std::optional<std::uint32_t> scatterOffset;  // version >= 0x20100, when not 0
    std::optional<std::uint32_t> teamOffset;     // version >= 0x20200, when not 0
    std::optional<std::uint64_t> codeLimit64;    // version >= 0x20300, when not 0
    std::optional<std::uint64_t> execSegFlags;   // version >= 0x20400
    std::optional<std::uint32_t> runtime;        // version >= 0x20500

    std::string identifier;
    std::optional<std::string> teamIdentifier;
    // The hash of the whole blob with its own hash type, cut to 20 bytes;
    // empty when the hash type is not one we can compute, or not computed.
    std::vector<std::uint8_t> cdhash;

    // Page size in bytes, 0 when the code is hashed as a single page.
    std::uint32_t pageSize() const { return pageSizeLog2 == 0 ? 0 : std::uint32_t(1) << pageSizeLog2; }
    bool hashTypeSupported() const { return hashTypeDigestLength(hashType) != 0; }
};

// Checks and reads one CodeDirectory blob (magic and length included, the
// length field equal to the span's size). A hash type we do not know is not an
// error here, so that an alternate directory of a newer kind can be passed
// over; it leaves cdhash empty.
Expected<CodeDirectory> parseCodeDirectory(std::span<const std::uint8_t> blob);

// The same checks from the first bytes of a blob of `blobLength` bytes
// (`head` may be all of it), without the cdhash: for a directory too large to
// be worth holding, whose page hashes are only streamed through cdhashOf.
// Fails when a string it names lies past `head`.
Expected<CodeDirectory> parseCodeDirectoryHead(std::span<const std::uint8_t> head, std::uint64_t blobLength);

// The cdhash (cut to 20 bytes) of the blob at [offset, offset + length) of
// `source`, read a piece at a time.
Expected<std::vector<std::uint8_t>> cdhashOf(std::uint8_t hashType, const Source& source, std::uint64_t offset,
                                             std::uint64_t length);

// The digest of `data` with a supported hash type, full length.
std::vector<std::uint8_t> digest(std::uint8_t hashType, std::span<const std::uint8_t> data);

}  // namespace codesign
