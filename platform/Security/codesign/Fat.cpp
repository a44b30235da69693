#include "codesign/Fat.h"

#include <algorithm>

#include "codesign/Architecture.h"
#include "codesign/ByteReader.h"

namespace codesign {

namespace {

Error bad(std::string message) { return {errSecCSBadObjectFormat, std::move(message)}; }

}  // namespace

bool isFatMagic(std::uint32_t magic) { return magic == FAT_MAGIC || magic == FAT_MAGIC_64; }

std::string sliceLabel(std::size_t index, const FatSlice& slice) {
    return "slice " + std::to_string(index) + " (" + architectureName(slice.cpuType, slice.cpuSubtype) + ")";
}

Expected<std::vector<FatSlice>> readFat(const Source& source) {
    if (source.size() < kFatHeaderSize) return bad("the file is too short for a universal header");
    auto headerBytes = source.read(0, kFatHeaderSize);
    if (!headerBytes) return headerBytes.error();
    const ByteReader header(*headerBytes, Endian::Big);
    const std::uint32_t magic = *header.u32(0);
    if (!isFatMagic(magic)) return bad("not a universal file");
    const bool wide = magic == FAT_MAGIC_64;
    const std::uint32_t count = *header.u32(4);
    if (count == 0) return bad("universal file has no slices");

    const std::uint64_t entrySize = wide ? kFatArch64Size : kFatArchSize;
    const std::uint64_t tableSize = std::uint64_t(count) * entrySize;  // count < 2^32, no overflow
    if (!rangeFits(kFatHeaderSize, tableSize, source.size())) {
        return bad("nfat_arch " + std::to_string(count) + " slice entries extend past the end of the file");
    }
    auto tableBytes = source.read(kFatHeaderSize, tableSize);
    if (!tableBytes) return tableBytes.error();
    const ByteReader table(*tableBytes, Endian::Big);
    const std::uint64_t tableEnd = kFatHeaderSize + tableSize;

    std::vector<FatSlice> slices;
    slices.reserve(count);
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::uint64_t at = std::uint64_t(i) * entrySize;
        FatSlice slice;
        slice.cpuType = *table.u32(at);
        slice.cpuSubtype = *table.u32(at + 4);
        if (wide) {
            slice.offset = *table.u64(at + 8);
            slice.size = *table.u64(at + 16);
            slice.align = *table.u32(at + 24);
        } else {
            slice.offset = *table.u32(at + 8);
            slice.size = *table.u32(at + 12);
            slice.align = *table.u32(at + 16);
        }
        const std::string label = sliceLabel(i, slice);
        if (!rangeFits(slice.offset, slice.size, source.size())) {
            return bad(label + " offset + size extends past the end of the file");
        }
        if (slice.offset < tableEnd) return bad(label + " overlaps the universal header");
        if (slice.size == 0) return bad(label + " is empty");
        if (slice.align > kMaxFatAlign) {
            return bad(label + " alignment 2^" + std::to_string(slice.align) + " is too large");
        }
        if (slice.offset % (std::uint64_t(1) << slice.align) != 0) {
            return bad(label + " offset " + std::to_string(slice.offset) + " is not aligned to 2^" +
                       std::to_string(slice.align));
        }
        for (std::size_t j = 0; j < slices.size(); ++j) {
            if (slices[j].cpuType == slice.cpuType &&
                (slices[j].cpuSubtype & ~CPU_SUBTYPE_MASK) == (slice.cpuSubtype & ~CPU_SUBTYPE_MASK)) {
                return bad(label + " has the same architecture as slice " + std::to_string(j));
            }
        }
        slices.push_back(slice);
    }

    // Overlaps: with the slices in file order, each must end where or before
    // the next one starts.
    std::vector<std::size_t> order(slices.size());
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::sort(order.begin(), order.end(),
              [&](std::size_t a, std::size_t b) { return slices[a].offset < slices[b].offset; });
    for (std::size_t k = 1; k < order.size(); ++k) {
        const FatSlice& before = slices[order[k - 1]];
        const FatSlice& after = slices[order[k]];
        if (before.offset + before.size > after.offset) {  // both fit in the file, no overflow
            const std::size_t a = std::min(order[k - 1], order[k]);
            const std::size_t b = std::max(order[k - 1], order[k]);
            return bad(sliceLabel(b, slices[b]) + " overlaps " + sliceLabel(a, slices[a]));
        }
    }
    return slices;
}

}  // namespace codesign
