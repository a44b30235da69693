#include "codesign/CodeDirectory.h"

#include <openssl/evp.h>

#include <algorithm>
#include <cstdio>
#include <memory>

#include "codesign/ByteReader.h"
#include "codesign/SuperBlob.h"

namespace codesign {

namespace {

std::string hex(std::uint32_t value) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "0x%x", value);
    return buffer;
}

Error failed(std::string message) { return {errSecCSSignatureFailed, "code directory " + std::move(message)}; }

// Fetched once each: a digest named by EVP_sha256() and the like is looked
// up in OpenSSL's provider tables again on every use, which costs more than
// hashing a code directory.
const EVP_MD* messageDigest(std::uint8_t hashType) {
    static EVP_MD* const sha1 = EVP_MD_fetch(nullptr, "SHA1", nullptr);
    static EVP_MD* const sha256 = EVP_MD_fetch(nullptr, "SHA256", nullptr);
    static EVP_MD* const sha384 = EVP_MD_fetch(nullptr, "SHA384", nullptr);
    switch (hashType) {
        case CS_HASHTYPE_SHA1: return sha1;
        case CS_HASHTYPE_SHA256:
        case CS_HASHTYPE_SHA256_TRUNCATED: return sha256;
        case CS_HASHTYPE_SHA384: return sha384;
        default: return nullptr;
    }
}

// A NUL-terminated string inside the directory (of which `cd` holds the
// first bytes), or an error naming the field.
Expected<std::string> stringAt(const ByteReader& cd, std::uint64_t blobLength, std::uint32_t offset,
                               const char* field) {
    if (offset >= blobLength) {
        return failed(std::string(field) + " " + std::to_string(offset) + " is outside the code directory");
    }
    const auto text = cd.cString(offset);
    if (!text) {
        return failed(std::string(field) + " " + std::to_string(offset) +
                      " names a string that is not NUL-terminated inside the code directory");
    }
    return std::string(*text);
}

}  // namespace

std::uint64_t codeDirectoryHeaderSize(std::uint32_t version) {
    if (version >= kCodeDirectorySupportsLinkage) return 108;
    if (version >= kCodeDirectorySupportsRuntime) return 96;
    if (version >= kCodeDirectorySupportsExecSegment) return 88;
    if (version >= kCodeDirectorySupportsCodeLimit64) return 64;
    if (version >= kCodeDirectorySupportsTeamID) return 52;
    if (version >= kCodeDirectorySupportsScatter) return 48;
    return 44;
}

std::size_t hashTypeDigestLength(std::uint8_t hashType) {
    switch (hashType) {
        case CS_HASHTYPE_SHA1: return 20;
        case CS_HASHTYPE_SHA256: return 32;
        case CS_HASHTYPE_SHA256_TRUNCATED: return 20;
        case CS_HASHTYPE_SHA384: return 48;
        default: return 0;
    }
}

int hashTypePriority(std::uint8_t hashType) {
    switch (hashType) {
        case CS_HASHTYPE_SHA384: return 4;
        case CS_HASHTYPE_SHA256: return 3;
        case CS_HASHTYPE_SHA256_TRUNCATED: return 2;
        case CS_HASHTYPE_SHA1: return 1;
        default: return 0;
    }
}

std::string hashTypeName(std::uint8_t hashType) {
    switch (hashType) {
        case CS_HASHTYPE_SHA1: return "SHA-1";
        case CS_HASHTYPE_SHA256: return "SHA-256";
        case CS_HASHTYPE_SHA256_TRUNCATED: return "SHA-256 truncated";
        case CS_HASHTYPE_SHA384: return "SHA-384";
        default: return "Unknown (" + std::to_string(hashType) + ")";
    }
}

std::vector<std::uint8_t> digest(std::uint8_t hashType, std::span<const std::uint8_t> data) {
    const EVP_MD* md = messageDigest(hashType);
    if (!md) return {};
    std::vector<std::uint8_t> out(EVP_MAX_MD_SIZE);
    unsigned int length = 0;
    if (EVP_Digest(data.data(), data.size(), out.data(), &length, md, nullptr) != 1) return {};
    out.resize(length);
    return out;
}

Expected<std::vector<std::uint8_t>> cdhashOf(std::uint8_t hashType, const Source& source, std::uint64_t offset,
                                             std::uint64_t length) {
    const EVP_MD* md = messageDigest(hashType);
    if (!md) return Error{errSecCSUnsupportedDigestAlgorithm, "hash type " + hashTypeName(hashType) + " cannot be computed"};
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> ctx(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    if (!ctx || EVP_DigestInit_ex(ctx.get(), md, nullptr) != 1) return Error{errSecCSInternalError, "code directory hash failed"};
    // A piece that stays in the cache; a fresh buffer of the whole directory
    // would cost more in page faults than the hashing itself.
    std::vector<std::uint8_t> piece(std::min<std::uint64_t>(length, 64 * 1024));
    for (std::uint64_t done = 0; done < length;) {
        const std::span<std::uint8_t> into(piece.data(), std::min<std::uint64_t>(piece.size(), length - done));
        if (auto error = source.readInto(offset + done, into)) return std::move(*error);
        if (EVP_DigestUpdate(ctx.get(), into.data(), into.size()) != 1)
            return Error{errSecCSInternalError, "code directory hash failed"};
        done += into.size();
    }
    std::vector<std::uint8_t> out(EVP_MAX_MD_SIZE);
    unsigned int size = 0;
    if (EVP_DigestFinal_ex(ctx.get(), out.data(), &size) != 1 || size < kCdHashLength)
        return Error{errSecCSInternalError, "code directory hash failed"};
    out.resize(kCdHashLength);
    return out;
}

Expected<CodeDirectory> parseCodeDirectory(std::span<const std::uint8_t> blob) {
    auto dir = parseCodeDirectoryHead(blob, blob.size());
    if (!dir || !dir->hashTypeSupported()) return dir;
    auto cdhash = cdhashOf(dir->hashType, MemorySource(blob), 0, blob.size());
    if (!cdhash) return cdhash.error();
    dir->cdhash = std::move(*cdhash);
    return dir;
}

Expected<CodeDirectory> parseCodeDirectoryHead(std::span<const std::uint8_t> head, std::uint64_t blobLength) {
    const ByteReader cd(head.first(std::min<std::uint64_t>(head.size(), blobLength)), Endian::Big);
    constexpr std::uint64_t kBaseHeader = 44;
    if (blobLength < kBaseHeader || cd.size() < kBaseHeader)
        return failed("is too short (" + std::to_string(blobLength) + " bytes)");
    if (*cd.u32(0) != CSMAGIC_CODEDIRECTORY) return failed("magic " + hex(*cd.u32(0)) + " is not 0xfade0c02");
    if (*cd.u32(4) != blobLength) {
        return failed("length " + std::to_string(*cd.u32(4)) + " does not match its blob (" +
                      std::to_string(blobLength) + " bytes)");
    }

    CodeDirectory dir;
    dir.version = *cd.u32(8);
    if (dir.version < kCodeDirectoryEarliestVersion) {
        return Error{errSecCSSignatureUnsupported, "code directory version " + hex(dir.version) + " is too old"};
    }
    if (dir.version >= kCodeDirectoryCompatibilityLimit) {
        return Error{errSecCSSignatureUnsupported, "code directory version " + hex(dir.version) + " is too new"};
    }
    const std::uint64_t headerSize = codeDirectoryHeaderSize(dir.version);
    if (blobLength < headerSize || cd.size() < headerSize) {
        return failed("version " + hex(dir.version) + " needs a " + std::to_string(headerSize) +
                      "-byte header but the blob has " + std::to_string(blobLength) + " bytes");
    }
    dir.flags = *cd.u32(12);
    dir.hashOffset = *cd.u32(16);
    dir.identOffset = *cd.u32(20);
    dir.nSpecialSlots = *cd.u32(24);
    dir.nCodeSlots = *cd.u32(28);
    dir.codeLimit = *cd.u32(32);
    dir.hashSize = *cd.u8(36);
    dir.hashType = *cd.u8(37);
    dir.platform = *cd.u8(38);
    dir.pageSizeLog2 = *cd.u8(39);
    if (dir.version >= kCodeDirectorySupportsScatter) {
        if (const std::uint32_t v = *cd.u32(44)) dir.scatterOffset = v;
    }
    if (dir.version >= kCodeDirectorySupportsTeamID) {
        if (const std::uint32_t v = *cd.u32(48)) dir.teamOffset = v;
    }
    if (dir.version >= kCodeDirectorySupportsCodeLimit64) {
        if (const std::uint64_t v = *cd.u64(56)) dir.codeLimit64 = v;
    }
    if (dir.version >= kCodeDirectorySupportsExecSegment) dir.execSegFlags = *cd.u64(80);
    if (dir.version >= kCodeDirectorySupportsRuntime) dir.runtime = *cd.u32(88);

    auto identifier = stringAt(cd, blobLength, dir.identOffset, "identOffset");
    if (!identifier) return identifier.error();
    dir.identifier = std::move(*identifier);
    if (dir.teamOffset) {
        auto team = stringAt(cd, blobLength, *dir.teamOffset, "teamOffset");
        if (!team) return team.error();
        dir.teamIdentifier = std::move(*team);
    }
    if (dir.scatterOffset && *dir.scatterOffset >= blobLength) {
        return failed("scatterOffset " + std::to_string(*dir.scatterOffset) + " is outside the code directory");
    }
    if (dir.pageSizeLog2 >= 32) {
        return failed("page size 2^" + std::to_string(dir.pageSizeLog2) + " is too large");
    }

    // The hash array: nSpecialSlots hashes before hashOffset (the special
    // slots, numbered backwards) and nCodeSlots after it, all inside the blob.
    // 64-bit arithmetic: 2^32 slots of 255 bytes cannot overflow it.
    const std::size_t expectedHashSize = hashTypeDigestLength(dir.hashType);
    if (expectedHashSize != 0 && dir.hashSize != expectedHashSize) {
        return failed("hashSize " + std::to_string(dir.hashSize) + " does not match its hash type " +
                      hashTypeName(dir.hashType) + " (" + std::to_string(expectedHashSize) + ")");
    }
    if (dir.hashSize == 0 && (dir.nSpecialSlots != 0 || dir.nCodeSlots != 0)) {
        return failed("hashSize is 0 but it lists hash slots");
    }
    const std::int64_t specialBytes = std::int64_t(dir.nSpecialSlots) * dir.hashSize;
    const std::int64_t codeBytes = std::int64_t(dir.nCodeSlots) * dir.hashSize;
    const std::int64_t start = std::int64_t(dir.hashOffset) - specialBytes;
    const std::int64_t end = std::int64_t(dir.hashOffset) + codeBytes;
    if (start < std::int64_t(headerSize) || end > std::int64_t(blobLength)) {
        return failed("hash slots (" + std::to_string(dir.nSpecialSlots) + " special, " +
                      std::to_string(dir.nCodeSlots) + " code, hashOffset " + std::to_string(dir.hashOffset) +
                      ") extend outside the code directory");
    }
    // Deliberately not checked: the page hashes against the code (that would
    // mean reading the whole file), the special slots against the other blobs,
    // and nCodeSlots against codeLimit and the page size. This reader reports
    // what the signature says; it does not validate the code.

    return dir;
}

}  // namespace codesign
