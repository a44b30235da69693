#include "codesign/SuperBlob.h"

#include <cstdio>
#include <unordered_set>

namespace codesign {

namespace {

std::string hex(std::uint32_t value, int width = 0) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "0x%0*x", width, value);
    return buffer;
}

Error failed(std::string message) { return {errSecCSSignatureFailed, "embedded signature " + std::move(message)}; }

}  // namespace

std::string slotName(std::uint32_t slot) {
    switch (slot) {
        case CSSLOT_CODEDIRECTORY: return "code directory";
        case CSSLOT_INFOSLOT: return "Info.plist slot";
        case CSSLOT_REQUIREMENTS: return "requirements";
        case CSSLOT_RESOURCEDIR: return "resource directory";
        case CSSLOT_APPLICATION: return "application slot";
        case CSSLOT_ENTITLEMENTS: return "entitlements";
        case CSSLOT_DER_ENTITLEMENTS: return "DER entitlements";
        case CSSLOT_SIGNATURESLOT: return "CMS signature";
        default: break;
    }
    if (slot >= CSSLOT_ALTERNATE_CODEDIRECTORIES &&
        slot < CSSLOT_ALTERNATE_CODEDIRECTORIES + CSSLOT_ALTERNATE_CODEDIRECTORY_MAX) {
        return "alternate code directory " + std::to_string(slot - CSSLOT_ALTERNATE_CODEDIRECTORIES + 1);
    }
    return "slot " + hex(slot);
}

std::uint32_t expectedMagicForSlot(std::uint32_t slot) {
    switch (slot) {
        case CSSLOT_CODEDIRECTORY: return CSMAGIC_CODEDIRECTORY;
        case CSSLOT_REQUIREMENTS: return CSMAGIC_REQUIREMENTS;
        case CSSLOT_ENTITLEMENTS: return CSMAGIC_EMBEDDED_ENTITLEMENTS;
        case CSSLOT_DER_ENTITLEMENTS: return CSMAGIC_EMBEDDED_DER_ENTITLEMENTS;
        case CSSLOT_SIGNATURESLOT: return CSMAGIC_BLOBWRAPPER;
        default: break;
    }
    if (slot >= CSSLOT_ALTERNATE_CODEDIRECTORIES &&
        slot < CSSLOT_ALTERNATE_CODEDIRECTORIES + CSSLOT_ALTERNATE_CODEDIRECTORY_MAX) {
        return CSMAGIC_CODEDIRECTORY;
    }
    return 0;
}

const Blob* EmbeddedSignature::find(std::uint32_t slot) const {
    for (const Blob& blob : blobs) {
        if (blob.slot == slot) return &blob;
    }
    return nullptr;
}

Expected<EmbeddedSignature> parseEmbeddedSignature(std::span<const std::uint8_t> data) {
    const ByteReader region(data, Endian::Big);
    if (region.size() < kSuperBlobHeaderSize) {
        return failed("is too short (" + std::to_string(region.size()) + " bytes)");
    }
    const std::uint32_t magic = *region.u32(0);
    if (magic != CSMAGIC_EMBEDDED_SIGNATURE) {
        return failed("magic " + hex(magic, 8) + " is not " + hex(CSMAGIC_EMBEDDED_SIGNATURE, 8));
    }
    EmbeddedSignature signature;
    signature.length = *region.u32(4);
    const std::uint32_t count = *region.u32(8);
    if (signature.length < kSuperBlobHeaderSize) {
        return failed("length " + std::to_string(signature.length) + " is smaller than its header");
    }
    if (signature.length > region.size()) {
        return failed("length " + std::to_string(signature.length) +
                      " extends past the end of the LC_CODE_SIGNATURE data (" + std::to_string(region.size()) +
                      " bytes)");
    }
    const ByteReader blob = *region.sub(0, signature.length);
    const std::uint64_t indexEnd = kSuperBlobHeaderSize + std::uint64_t(count) * kBlobIndexEntrySize;
    if (indexEnd > blob.size()) {
        return failed("count " + std::to_string(count) + " does not fit in its length " +
                      std::to_string(signature.length));
    }

    signature.blobs.reserve(count);
    std::unordered_set<std::uint32_t> seen;
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::uint64_t at = kSuperBlobHeaderSize + std::uint64_t(i) * kBlobIndexEntrySize;
        const std::uint32_t slot = *blob.u32(at);
        const std::uint32_t offset = *blob.u32(at + 4);
        const std::string label = "index " + std::to_string(i) + " (" + slotName(slot) + ")";
        if (!seen.insert(slot).second) {
            return failed(label + " repeats a slot that an earlier index entry already names");
        }
        if (offset < indexEnd) {
            return failed(label + " offset " + std::to_string(offset) + " points into the index");
        }
        const auto length = blob.u32(std::uint64_t(offset) + 4);
        if (!length) {
            return failed(label + " offset " + std::to_string(offset) + " extends past the end of the SuperBlob");
        }
        if (*length < kBlobHeaderSize) {
            return failed(label + " blob length " + std::to_string(*length) + " is smaller than its header");
        }
        const auto bytes = blob.span(offset, *length);
        if (!bytes) {
            return failed(label + " blob length " + std::to_string(*length) +
                          " extends past the end of the SuperBlob");
        }
        const std::uint32_t blobMagic = *blob.u32(offset);
        const std::uint32_t expected = expectedMagicForSlot(slot);
        // A blob of a type we do not know in an entitlements slot is taken for
        // a newer format, not for damage: the signature stands, and whoever
        // decodes the entitlements finds no dictionary of a kind it reads.
        const bool entitlementsSlot = slot == CSSLOT_ENTITLEMENTS || slot == CSSLOT_DER_ENTITLEMENTS;
        if (expected != 0 && blobMagic != expected && !entitlementsSlot) {
            return failed(label + " blob magic " + hex(blobMagic, 8) + " is not " + hex(expected, 8));
        }
        signature.blobs.push_back(Blob{slot, blobMagic, *bytes});
    }
    return signature;
}

}  // namespace codesign
