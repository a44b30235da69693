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

std::vector<std::uint8_t> copyOf(std::span<const std::uint8_t> bytes) { return {bytes.begin(), bytes.end()}; }

// The signature of the thin image at [base, base + size) of the source.
Expected<SigningInfo> readImage(const Source& source, std::uint64_t base, std::uint64_t size) {
    auto image = readMachO(source, base, size);
    if (!image) return image.error();
    SigningInfo info;
    info.architecture = architectureName(image->cpuType, image->cpuSubtype);
    if (!image->codeSignature) return info;  // unsigned

    const CodeSignatureCommand& command = *image->codeSignature;
    auto region = source.read(base + command.dataoff, command.datasize);
    if (!region) return region.error();
    auto signature = parseEmbeddedSignature(*region);
    if (!signature) return signature.error();

    // The primary code directory names the code; among it and its alternates
    // the one with the strongest hash type we can compute gives the cdhash.
    const Blob* primaryBlob = signature->find(CSSLOT_CODEDIRECTORY);
    if (!primaryBlob) return Error{errSecCSSignatureFailed, "embedded signature has no code directory"};
    auto primary = parseCodeDirectory(primaryBlob->bytes);
    if (!primary) return primary.error();
    CodeDirectory best = *primary;
    for (std::uint32_t i = 0; i < CSSLOT_ALTERNATE_CODEDIRECTORY_MAX; ++i) {
        const Blob* blob = signature->find(CSSLOT_ALTERNATE_CODEDIRECTORIES + i);
        if (!blob) continue;
        auto alternate = parseCodeDirectory(blob->bytes);
        if (!alternate) return withContext(slotName(blob->slot), alternate.error());
        if (hashTypePriority(alternate->hashType) > hashTypePriority(best.hashType)) best = std::move(*alternate);
    }
    if (!best.hashTypeSupported()) {
        return Error{errSecCSUnsupportedDigestAlgorithm,
                     "no code directory has a hash type that can be computed (" + hashTypeName(best.hashType) + ")"};
    }

    info.identifier = primary->identifier;
    info.teamIdentifier = primary->teamIdentifier.value_or(best.teamIdentifier.value_or(""));
    info.codeDirectoryFlags = best.flags;
    info.codeDirectoryVersion = best.version;
    info.hashType = best.hashType;
    info.pageSize = best.pageSize();
    info.cdhash = best.cdhash;

    if (const Blob* blob = signature->find(CSSLOT_ENTITLEMENTS)) info.entitlementsBlob = copyOf(blob->bytes);
    if (const Blob* blob = signature->find(CSSLOT_DER_ENTITLEMENTS)) info.derEntitlementsBlob = copyOf(blob->bytes);
    if (const Blob* blob = signature->find(CSSLOT_REQUIREMENTS)) info.requirementsBlob = copyOf(blob->bytes);

    // Ad-hoc signatures have no CMS blob, or a wrapper with nothing in it.
    info.kind = SignatureKind::AdHoc;
    const Blob* cms = signature->find(CSSLOT_SIGNATURESLOT);
    if (cms && !cms->payload().empty()) {
        auto certificates = certificatesFromCms(cms->payload());
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
