// libFuzzer target: the requirements blob as the signature reader finds it.
// The blob is not decoded past the signature's SuperBlob: the reader looks
// it up by slot in the index, checks its magic and that its length stays
// inside the SuperBlob, and hands its bytes on whole (the signing
// information's requirement data, behind codesignedRequirements). Each input
// is such a SuperBlob; what the reader accepts must hold up to those checks.
#include "codesign/SuperBlob.h"

#include <cstdint>
#include <cstdlib>
#include <span>

namespace {

uint32_t bigEndian(const uint8_t* p)
{
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | uint32_t(p[3]);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::span<const uint8_t> bytes(data, size);
    auto signature = codesign::parseEmbeddedSignature(bytes);
    if (!signature)
        return 0;
    if (signature->length > size)
        std::abort();
    for (const codesign::Blob& blob : signature->blobs) {
        // Every blob lies inside the SuperBlob, its header included, and says
        // its own length.
        if (blob.bytes.size() < codesign::kBlobHeaderSize || blob.bytes.data() < data ||
            blob.bytes.data() + blob.bytes.size() > data + signature->length ||
            bigEndian(blob.bytes.data()) != blob.magic || bigEndian(blob.bytes.data() + 4) != blob.bytes.size())
            std::abort();
    }
    if (const codesign::Blob* requirements = signature->find(codesign::CSSLOT_REQUIREMENTS))
        if (requirements->magic != codesign::CSMAGIC_REQUIREMENTS)
            std::abort();
    return 0;
}
