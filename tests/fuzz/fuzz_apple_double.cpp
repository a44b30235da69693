// libFuzzer target: the AppleDouble reader and its ATTR block. A file that
// reads must also survive being written again: the rewrite reads back with
// the same entries' ids, Finder info and attributes.
#include "sys/AppleDouble.h"

#include <cstdint>
#include <cstdlib>

using namespace sentrel::sys;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::span<const uint8_t> bytes(data, size);
    const AppleDoubleParse parsed = parseAppleDouble(bytes);
    if (parsed.status != AppleDoubleStatus::ok)
        return 0;
    (void)appleDoubleIsEmpty(parsed.file, bytes);
    const std::vector<uint8_t> rewritten = writeAppleDouble(parsed.file, bytes);
    const AppleDoubleParse again = parseAppleDouble(rewritten);
    if (again.status != AppleDoubleStatus::ok || again.file.entries.size() != parsed.file.entries.size() ||
        again.file.attributes.size() != parsed.file.attributes.size())
        std::abort();
    for (size_t i = 0; i < parsed.file.attributes.size(); ++i)
        if (again.file.attributes[i].name != parsed.file.attributes[i].name ||
            again.file.attributes[i].value != parsed.file.attributes[i].value)
            std::abort();
    for (size_t i = 0; i < parsed.file.entries.size(); ++i)
        if (again.file.entries[i].id != parsed.file.entries[i].id)
            std::abort();
    return 0;
}
