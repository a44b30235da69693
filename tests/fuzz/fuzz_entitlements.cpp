// libFuzzer target: the entitlements blob decoder. Inputs that already carry
// the blob header are decoded as they are; others are wrapped in a header with
// the right length first, so the property-list parser behind it is reached.
#include "UApplicationEntitlements.h"

#include <cstdint>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    AutoreleasePoolScope pool;
    std::vector<uint8_t> blob(data, data + size);
    const bool hasHeader = size >= 4 && data[0] == 0xFA && data[1] == 0xDE && data[2] == 0x71 && data[3] == 0x71;
    if (!hasHeader) {
        const uint32_t length = static_cast<uint32_t>(size + 8);
        const uint8_t header[8] = {0xFA, 0xDE, 0x71, 0x71, uint8_t(length >> 24), uint8_t(length >> 16), uint8_t(length >> 8),
                                   uint8_t(length)};
        blob.insert(blob.begin(), header, header + 8);
    }
    CFDataRef bytes = CFDataCreate(nullptr, blob.data(), static_cast<CFIndex>(blob.size()));
    UApplicationEntitlements model;
    if (CFDictionaryRef entitlements = model.copyEntitlementsDictionaryFromBlobData(bytes))
        CFRelease(entitlements);
    CFRelease(bytes);
    return 0;
}
