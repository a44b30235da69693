// Reading the code signature of code on disk: a bundle, a thin Mach-O file or
// a universal file. What comes out is plain data for the Security layer to
// wrap; nothing here verifies hashes or trusts certificates.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "codesign/Expected.h"
#include "codesign/Source.h"
#include "codesign/Status.h"

namespace codesign {

enum class SignatureKind {
    None,          // no LC_CODE_SIGNATURE
    AdHoc,         // a code directory but no CMS signature (or an empty one)
    Certificates,  // a CMS signature made with a signing identity
};

const char* signatureKindName(SignatureKind kind);  // "none", "ad-hoc", "certificates"

struct Slice {
    std::uint32_t cpuType = 0;
    std::uint32_t cpuSubtype = 0;
    std::string architecture;  // "x86_64", "arm64", "arm64e", "i386", "ppc", ..., or "cpu 0x..."
    SignatureKind kind = SignatureKind::None;
    std::string identifier;
    std::uint64_t offset = 0;
    std::uint64_t size = 0;
    // When this slice's signature could not be read: its status and message
    // (kind is then None). Only the chosen slice makes the whole read fail.
    Status status = errSecSuccess;
    std::string problem;
};

struct SigningInfo {
    std::string mainExecutable;  // the Mach-O file actually read; empty when read from memory
    std::string architecture;    // of the thin file, or of the chosen slice
    SignatureKind kind = SignatureKind::None;
    std::string identifier;      // of the primary code directory
    std::string teamIdentifier;  // empty when the signature names none
    std::uint32_t codeDirectoryFlags = 0;
    std::uint32_t codeDirectoryVersion = 0;
    std::uint32_t hashType = 0;  // CS_HASHTYPE_*, of the code directory chosen for cdhash
    std::uint32_t pageSize = 0;  // bytes; 0 when the code is hashed as one page
    std::vector<std::uint8_t> cdhash;                 // 20 bytes when signed, else empty
    std::vector<std::vector<std::uint8_t>> certificates;  // DER: leaf, its chain to the root, then unrelated ones
    std::optional<std::vector<std::uint8_t>> entitlementsBlob;     // whole blob, 0xfade7171 magic and length included
    std::optional<std::vector<std::uint8_t>> derEntitlementsBlob;  // whole blob, 0xfade7172 magic and length included
    std::optional<std::vector<std::uint8_t>> requirementsBlob;     // whole blob, 0xfade0c01 magic and length included
    std::vector<Slice> slices;   // one per slice of a universal file; empty for a thin file
    std::size_t chosenSlice = 0; // index into slices
};

// The code at `path`: a bundle folder (see Bundle.h), a thin Mach-O or a
// universal file. Unsigned code is not an error: it reads with kind None.
// Everything else that is not readable code is an Error.
//
// For a universal file the slice read is the one built for this machine's
// architecture (the first slice with this build's CPU type, see
// hostCpuType()); when there is none, the first slice.
Expected<SigningInfo> readStaticCode(const std::string& path);

// The same for a Mach-O or universal file held in memory.
Expected<SigningInfo> readStaticCodeFromBytes(std::span<const std::uint8_t> bytes);

// The same for any source of bytes; `mainExecutable` is only reported back.
Expected<SigningInfo> readStaticCodeFromSource(const Source& source, const std::string& mainExecutable);

}  // namespace codesign
