#include "codesign/StaticCode.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "codesign/Architecture.h"
#include "codesign/Bundle.h"
#include "codesign/ByteReader.h"
#include "codesign/Cms.h"
#include "codesign/CodeDirectory.h"
#include "codesign/Fat.h"
#include "codesign/MachO.h"
#include "codesign/SuperBlob.h"

namespace codesign {

namespace {

// A signature up to this size is read in one piece; a larger one (the page
// hashes of a large binary) blob by blob, its code directories' hashes only
// streamed through for the cdhash.
constexpr std::uint64_t kWholeSignatureRead = 64 * 1024;
// What is read first of a large code directory: its header and, as every
// signer lays it out, the identifier and team strings that follow it.
constexpr std::uint64_t kCodeDirectoryHead = 4 * 1024;

// The code directory at [offset, offset + length) of the source, its cdhash
// not computed.
Expected<CodeDirectory> readCodeDirectory(const Source& source, std::uint64_t offset, std::uint32_t length) {
    if (length > kWholeSignatureRead) {
        auto head = source.read(offset, kCodeDirectoryHead);
        if (!head) return head.error();
        if (auto dir = parseCodeDirectoryHead(*head, length)) return dir;
        // Strings past the head (no signer lays them out so): read it all.
    }
    auto blob = source.read(offset, length);
    if (!blob) return blob.error();
    return parseCodeDirectoryHead(*blob, length);
}

// The signature of the thin image at [base, base + size) of the source.
Expected<SigningInfo> readImage(const Source& source, std::uint64_t base, std::uint64_t size) {
    auto image = readMachO(source, base, size);
    if (!image) return image.error();
    SigningInfo info;
    info.architecture = architectureName(image->cpuType, image->cpuSubtype);
    if (!image->codeSignature) return info;  // unsigned

    const CodeSignatureCommand& command = *image->codeSignature;
    const Source* from = &source;
    std::uint64_t start = base + command.dataoff;
    std::vector<std::uint8_t> whole;
    std::optional<MemorySource> memory;
    if (command.datasize <= kWholeSignatureRead) {
        auto region = source.read(start, command.datasize);
        if (!region) return region.error();
        whole = std::move(*region);
        from = &memory.emplace(whole);
        start = 0;
    }
    auto signature = readSignatureIndex(*from, start, command.datasize);
    if (!signature) return signature.error();
    auto blobBytes = [&](const BlobEntry& entry) { return from->read(start + entry.offset, entry.length); };

    // The primary code directory names the code; among it and its alternates
    // the one with the strongest hash type we can compute gives the cdhash.
    const BlobEntry* primaryEntry = signature->find(CSSLOT_CODEDIRECTORY);
    if (!primaryEntry) return Error{errSecCSSignatureFailed, "embedded signature has no code directory"};
    auto primary = readCodeDirectory(*from, start + primaryEntry->offset, primaryEntry->length);
    if (!primary) return primary.error();
    CodeDirectory best = *primary;
    const BlobEntry* bestEntry = primaryEntry;
    for (std::uint32_t i = 0; i < CSSLOT_ALTERNATE_CODEDIRECTORY_MAX; ++i) {
        const BlobEntry* entry = signature->find(CSSLOT_ALTERNATE_CODEDIRECTORIES + i);
        if (!entry) continue;
        auto alternate = readCodeDirectory(*from, start + entry->offset, entry->length);
        if (!alternate) return withContext(slotName(entry->slot), alternate.error());
        if (hashTypePriority(alternate->hashType) > hashTypePriority(best.hashType)) {
            best = std::move(*alternate);
            bestEntry = entry;
        }
    }
    if (!best.hashTypeSupported()) {
        return Error{errSecCSUnsupportedDigestAlgorithm,
                     "no code directory has a hash type that can be computed (" + hashTypeName(best.hashType) + ")"};
    }
    auto cdhash = cdhashOf(best.hashType, *from, start + bestEntry->offset, bestEntry->length);
    if (!cdhash) return cdhash.error();

    info.identifier = primary->identifier;
    info.teamIdentifier = primary->teamIdentifier.value_or(best.teamIdentifier.value_or(""));
    info.codeDirectoryFlags = best.flags;
    info.codeDirectoryVersion = best.version;
    info.hashType = best.hashType;
    info.pageSize = best.pageSize();
    info.cdhash = std::move(*cdhash);

    for (auto [slot, blob] : {std::pair{CSSLOT_ENTITLEMENTS, &info.entitlementsBlob},
                              std::pair{CSSLOT_DER_ENTITLEMENTS, &info.derEntitlementsBlob},
                              std::pair{CSSLOT_REQUIREMENTS, &info.requirementsBlob}}) {
        const BlobEntry* entry = signature->find(slot);
        if (!entry) continue;
        auto bytes = blobBytes(*entry);
        if (!bytes) return bytes.error();
        *blob = std::move(*bytes);
    }

    // Ad-hoc signatures have no CMS blob, or a wrapper with nothing in it.
    info.kind = SignatureKind::AdHoc;
    const BlobEntry* cms = signature->find(CSSLOT_SIGNATURESLOT);
    if (cms && cms->length > kBlobHeaderSize) {
        auto bytes = blobBytes(*cms);
        if (!bytes) return bytes.error();
        auto certificates = certificatesFromCms(std::span(*bytes).subspan(kBlobHeaderSize));
        if (!certificates) return certificates.error();
        info.certificates = std::move(*certificates);
        info.kind = SignatureKind::Certificates;
    }
    return info;
}

std::size_t chooseSlice(const std::vector<FatSlice>& slices) {
    const std::uint32_t host = hostCpuType();
    for (std::size_t i = 0; i < slices.size(); ++i) {
        if (host != 0 && slices[i].cpuType == host) return i;
    }
    return 0;
}

}  // namespace

const char* signatureKindName(SignatureKind kind) {
    switch (kind) {
        case SignatureKind::None: return "none";
        case SignatureKind::AdHoc: return "ad-hoc";
        case SignatureKind::Certificates: return "certificates";
    }
    return "unknown";
}

Expected<SigningInfo> readStaticCodeFromSource(const Source& source, const std::string& mainExecutable) {
    if (source.size() < 4) {
        return Error{errSecCSBadObjectFormat,
                     "the file is too short to be a Mach-O file (" + std::to_string(source.size()) + " bytes)"};
    }
    auto magicBytes = source.read(0, 4);
    if (!magicBytes) return magicBytes.error();
    const std::uint32_t magic = *ByteReader(*magicBytes, Endian::Big).u32(0);

    if (isMachOMagic(magic)) {
        auto info = readImage(source, 0, source.size());
        if (info) info->mainExecutable = mainExecutable;
        return info;
    }
    if (!isFatMagic(magic)) {
        char text[16];
        std::snprintf(text, sizeof text, "0x%08x", magic);
        return Error{errSecCSBadObjectFormat, std::string("not a Mach-O or universal file (magic ") + text + ")"};
    }

    auto fat = readFat(source);
    if (!fat) return fat.error();
    const std::size_t chosen = chooseSlice(*fat);
    std::optional<SigningInfo> chosenInfo;
    std::vector<Slice> slices;
    for (std::size_t i = 0; i < fat->size(); ++i) {
        const FatSlice& entry = (*fat)[i];
        Slice slice;
        slice.cpuType = entry.cpuType;
        slice.cpuSubtype = entry.cpuSubtype;
        slice.architecture = architectureName(entry.cpuType, entry.cpuSubtype);
        slice.offset = entry.offset;
        slice.size = entry.size;
        auto info = readImage(source, entry.offset, entry.size);
        if (!info) {
            const Error error = withContext(sliceLabel(i, entry), info.error());
            if (i == chosen) return error;
            slice.status = error.status;
            slice.problem = error.message;
        } else {
            slice.kind = info->kind;
            slice.identifier = info->identifier;
            if (i == chosen) chosenInfo = std::move(*info);
        }
        slices.push_back(std::move(slice));
    }
    SigningInfo result = std::move(*chosenInfo);
    result.mainExecutable = mainExecutable;
    result.architecture = slices[chosen].architecture;  // as the universal header names it
    result.slices = std::move(slices);
    result.chosenSlice = chosen;
    return result;
}

Expected<SigningInfo> readStaticCodeFromBytes(std::span<const std::uint8_t> bytes) {
    const MemorySource source(bytes);
    return readStaticCodeFromSource(source, "");
}

Expected<SigningInfo> readStaticCode(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        const int err = errno;
        const Status status =
            (err == ENOENT || err == ENOTDIR) ? errSecCSStaticCodeNotFound : errSecCSSignatureNotVerifiable;
        return Error{status, "cannot read " + path + ": " + std::strerror(err)};
    }
    std::string executable = path;
    if (S_ISDIR(st.st_mode)) {
        auto found = bundleMainExecutable(path);
        if (!found) return found.error();
        executable = std::move(*found);
    }
    auto source = FileSource::open(executable);
    if (!source) return source.error();
    auto info = readStaticCodeFromSource(**source, executable);
    if (!info) return withContext(executable, info.error());
    return info;
}

}  // namespace codesign
