// Mach-O CPU types and the architecture names the platform's tools print.
#pragma once

#include <cstdint>
#include <string>

namespace codesign {

inline constexpr std::uint32_t CPU_ARCH_ABI64 = 0x01000000;
inline constexpr std::uint32_t CPU_ARCH_ABI64_32 = 0x02000000;
inline constexpr std::uint32_t CPU_TYPE_X86 = 7;
inline constexpr std::uint32_t CPU_TYPE_X86_64 = CPU_TYPE_X86 | CPU_ARCH_ABI64;
inline constexpr std::uint32_t CPU_TYPE_ARM = 12;
inline constexpr std::uint32_t CPU_TYPE_ARM64 = CPU_TYPE_ARM | CPU_ARCH_ABI64;
inline constexpr std::uint32_t CPU_TYPE_ARM64_32 = CPU_TYPE_ARM | CPU_ARCH_ABI64_32;
inline constexpr std::uint32_t CPU_TYPE_POWERPC = 18;
inline constexpr std::uint32_t CPU_TYPE_POWERPC64 = CPU_TYPE_POWERPC | CPU_ARCH_ABI64;

// The high byte of a subtype carries capability bits (pointer authentication
// ABI, 64-bit libraries), not the subtype itself.
inline constexpr std::uint32_t CPU_SUBTYPE_MASK = 0xff000000;
inline constexpr std::uint32_t CPU_SUBTYPE_X86_64_ALL = 3;
inline constexpr std::uint32_t CPU_SUBTYPE_X86_64_H = 8;
inline constexpr std::uint32_t CPU_SUBTYPE_I386_ALL = 3;
inline constexpr std::uint32_t CPU_SUBTYPE_ARM64_ALL = 0;
inline constexpr std::uint32_t CPU_SUBTYPE_ARM64E = 2;

// "x86_64", "x86_64h", "arm64", "arm64e", "i386", "armv7", "ppc", ...; an
// unknown type reads "cpu 0x<type>" and an unknown subtype of a known type
// gets " subtype 0x<subtype>" appended to the family's name.
std::string architectureName(std::uint32_t cpuType, std::uint32_t cpuSubtype);

// The CPU type of the machine this library was built for (x86_64 on an x86-64
// build, arm64 on an AArch64 one, ...), or 0 when it has no Mach-O equivalent.
std::uint32_t hostCpuType();

}  // namespace codesign
