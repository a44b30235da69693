// Thin Mach-O images: the header and the load commands, each load command
// range-checked once when the image is read. Only LC_CODE_SIGNATURE is kept;
// the other commands are checked for size and skipped.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "codesign/ByteReader.h"
#include "codesign/Expected.h"
#include "codesign/Source.h"

namespace codesign {

inline constexpr std::uint32_t MH_MAGIC = 0xfeedface;
inline constexpr std::uint32_t MH_CIGAM = 0xcefaedfe;
inline constexpr std::uint32_t MH_MAGIC_64 = 0xfeedfacf;
inline constexpr std::uint32_t MH_CIGAM_64 = 0xcffaedfe;
inline constexpr std::uint32_t LC_CODE_SIGNATURE = 0x1d;

inline constexpr std::uint64_t kMachHeaderSize32 = 28;
inline constexpr std::uint64_t kMachHeaderSize64 = 32;
inline constexpr std::uint64_t kLoadCommandHeaderSize = 8;       // cmd, cmdsize
inline constexpr std::uint32_t kLinkeditDataCommandSize = 16;    // cmd, cmdsize, dataoff, datasize
// No linker writes load commands anywhere near this size; a larger claim is
// refused rather than read.
inline constexpr std::uint32_t kMaxSizeOfCmds = 32u << 20;

// True for the four Mach-O magic numbers, read big-endian from the first bytes.
bool isMachOMagic(std::uint32_t bigEndianMagic);

// "LC_SEGMENT_64", "LC_CODE_SIGNATURE", ... or "" for a command we do not name.
std::string loadCommandName(std::uint32_t cmd);

struct CodeSignatureCommand {
    std::uint32_t commandIndex = 0;  // position among the load commands
    std::uint32_t dataoff = 0;       // from the start of the image
    std::uint32_t datasize = 0;
};

struct MachOImage {
    bool is64 = false;
    Endian endian = Endian::Little;
    std::uint32_t cpuType = 0;
    std::uint32_t cpuSubtype = 0;
    std::uint32_t fileType = 0;
    std::uint32_t ncmds = 0;
    std::uint32_t sizeofcmds = 0;
    std::optional<CodeSignatureCommand> codeSignature;

    std::uint64_t headerSize() const { return is64 ? kMachHeaderSize64 : kMachHeaderSize32; }
};

// Reads the image that occupies [base, base + size) of the source (the whole
// file, or one slice of a universal file). "The file" in its error messages is
// that range.
Expected<MachOImage> readMachO(const Source& source, std::uint64_t base, std::uint64_t size);

}  // namespace codesign
