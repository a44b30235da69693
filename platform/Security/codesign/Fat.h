// Universal ("fat") files: a big-endian table of slices, each a thin Mach-O.
// The table is checked whole when it is read: every slice inside the file,
// after the table, aligned as it claims, and no two slices overlapping.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "codesign/Expected.h"
#include "codesign/Source.h"

namespace codesign {

inline constexpr std::uint32_t FAT_MAGIC = 0xcafebabe;
inline constexpr std::uint32_t FAT_MAGIC_64 = 0xcafebabf;
inline constexpr std::uint64_t kFatHeaderSize = 8;   // magic, nfat_arch
inline constexpr std::uint64_t kFatArchSize = 20;    // cputype, cpusubtype, offset, size, align
inline constexpr std::uint64_t kFatArch64Size = 32;  // the same with 64-bit offset and size, reserved
inline constexpr std::uint32_t kMaxFatAlign = 15;    // 2^15, the largest alignment tools write

struct FatSlice {
    std::uint32_t cpuType = 0;
    std::uint32_t cpuSubtype = 0;
    std::uint64_t offset = 0;
    std::uint64_t size = 0;
    std::uint32_t align = 0;  // log2
};

bool isFatMagic(std::uint32_t bigEndianMagic);

// "slice 1 (arm64)", the prefix of every message about a slice.
std::string sliceLabel(std::size_t index, const FatSlice& slice);

Expected<std::vector<FatSlice>> readFat(const Source& source);

}  // namespace codesign
