// libFuzzer entry over the whole reader: Mach-O and universal headers, the
// SuperBlob, code directories, CMS. Any crash, hang, leak or out-of-bounds
// read is a bug; errors are the expected answer to most inputs.
#include <cstddef>
#include <cstdint>
#include <span>

#include "codesign/StaticCode.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    auto info = codesign::readStaticCodeFromBytes(std::span<const std::uint8_t>(data, size));
    if (info) {
        // Touch what a caller would use, so nothing is read lazily out of sight.
        volatile std::size_t sink = info->identifier.size() + info->cdhash.size() + info->certificates.size();
        (void)sink;
    }
    return 0;
}
