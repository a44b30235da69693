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

const BlobEntry* SignatureIndex::find(std::uint32_t slot) const {
    for (const BlobEntry& entry : entries) {
        if (entry.slot == slot) return &entry;
    }
    return nullptr;
}

Expected<SignatureIndex> readSignatureIndex(const Source& source, std::uint64_t start, std::uint64_t available) {
    std::uint8_t header[kSuperBlobHeaderSize];
    if (available < kSuperBlobHeaderSize) return failed("is too short (" + std::to_string(available) + " bytes)");
    if (auto error = source.readInto(start, header)) return std::move(*error);
    const ByteReader head(header, Endian::Big);
    const std::uint32_t magic = *head.u32(0);
    if (magic != CSMAGIC_EMBEDDED_SIGNATURE) {
        return failed("magic " + hex(magic, 8) + " is not " + hex(CSMAGIC_EMBEDDED_SIGNATURE, 8));
    }
    SignatureIndex index;
    index.length = *head.u32(4);
    const std::uint32_t count = *head.u32(8);
    if (index.length < kSuperBlobHeaderSize) {
        return failed("length " + std::to_string(index.length) + " is smaller than its header");
    }
    if (index.length > available) {
        return failed("length " + std::to_string(index.length) +
                      " extends past the end of the LC_CODE_SIGNATURE data (" + std::to_string(available) +
                      " bytes)");
    }
    const std::uint64_t indexEnd = kSuperBlobHeaderSize + std::uint64_t(count) * kBlobIndexEntrySize;
    if (indexEnd > index.length) {
        return failed("count " + std::to_string(count) + " does not fit in its length " +
                      std::to_string(index.length));
    }
    auto table = source.read(start + kSuperBlobHeaderSize, indexEnd - kSuperBlobHeaderSize);
    if (!table) return table.error();
    const ByteReader entries(*table, Endian::Big);

    index.entries.reserve(count);
    std::unordered_set<std::uint32_t> seen;
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::uint32_t slot = *entries.u32(std::uint64_t(i) * kBlobIndexEntrySize);
        const std::uint32_t offset = *entries.u32(std::uint64_t(i) * kBlobIndexEntrySize + 4);
        const std::string label = "index " + std::to_string(i) + " (" + slotName(slot) + ")";
        if (!seen.insert(slot).second) {
            return failed(label + " repeats a slot that an earlier index entry already names");
        }
        if (offset < indexEnd) {
            return failed(label + " offset " + std::to_string(offset) + " points into the index");
        }
        if (std::uint64_t(offset) + kBlobHeaderSize > index.length) {
            return failed(label + " offset " + std::to_string(offset) + " extends past the end of the SuperBlob");
        }
        std::uint8_t blobHeader[kBlobHeaderSize];
        if (auto error = source.readInto(start + offset, blobHeader)) return std::move(*error);
        const ByteReader blob(blobHeader, Endian::Big);
        const std::uint32_t blobMagic = *blob.u32(0);
        const std::uint32_t length = *blob.u32(4);
        if (length < kBlobHeaderSize) {
            return failed(label + " blob length " + std::to_string(length) + " is smaller than its header");
        }
        if (std::uint64_t(offset) + length > index.length) {
            return failed(label + " blob length " + std::to_string(length) +
                          " extends past the end of the SuperBlob");
        }
        const std::uint32_t expected = expectedMagicForSlot(slot);
        // A blob of a type we do not know in an entitlements slot is taken for
        // a newer format, not for damage: the signature stands, and whoever
        // decodes the entitlements finds no dictionary of a kind it reads.
        const bool entitlementsSlot = slot == CSSLOT_ENTITLEMENTS || slot == CSSLOT_DER_ENTITLEMENTS;
        if (expected != 0 && blobMagic != expected && !entitlementsSlot) {
            return failed(label + " blob magic " + hex(blobMagic, 8) + " is not " + hex(expected, 8));
        }
        index.entries.push_back(BlobEntry{slot, blobMagic, offset, length});
    }
    return index;
}

Expected<EmbeddedSignature> parseEmbeddedSignature(std::span<const std::uint8_t> data) {
    const MemorySource source(data);
    auto index = readSignatureIndex(source, 0, data.size());
    if (!index) return index.error();
    EmbeddedSignature signature;
    signature.length = index->length;
    signature.blobs.reserve(index->entries.size());
    for (const BlobEntry& entry : index->entries)
        signature.blobs.push_back(Blob{entry.slot, entry.magic, data.subspan(entry.offset, entry.length)});
    return signature;
}

}  // namespace codesign
