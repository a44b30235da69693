#include "codesign/MachO.h"

#include <cstdio>

namespace codesign {

namespace {

std::string hex32(std::uint32_t value) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "0x%08x", value);
    return buffer;
}

Error bad(std::string message) { return {errSecCSBadObjectFormat, std::move(message)}; }

// "load command 3 LC_CODE_SIGNATURE" or "load command 3 (0x99)".
std::string commandLabel(std::uint32_t index, std::uint32_t cmd) {
    const std::string name = loadCommandName(cmd);
    return "load command " + std::to_string(index) + (name.empty() ? " (" + hex32(cmd) + ")" : " " + name);
}

}  // namespace

bool isMachOMagic(std::uint32_t magic) {
    return magic == MH_MAGIC || magic == MH_CIGAM || magic == MH_MAGIC_64 || magic == MH_CIGAM_64;
}

std::string loadCommandName(std::uint32_t cmd) {
    switch (cmd) {
        case 0x1: return "LC_SEGMENT";
        case 0x2: return "LC_SYMTAB";
        case 0x4: return "LC_THREAD";
        case 0x5: return "LC_UNIXTHREAD";
        case 0xb: return "LC_DYSYMTAB";
        case 0xc: return "LC_LOAD_DYLIB";
        case 0xd: return "LC_ID_DYLIB";
        case 0xe: return "LC_LOAD_DYLINKER";
        case 0x19: return "LC_SEGMENT_64";
        case 0x1b: return "LC_UUID";
        case 0x1d: return "LC_CODE_SIGNATURE";
        case 0x1e: return "LC_SEGMENT_SPLIT_INFO";
        case 0x21: return "LC_ENCRYPTION_INFO";
        case 0x22: return "LC_DYLD_INFO";
        case 0x24: return "LC_VERSION_MIN_MACOSX";
        case 0x26: return "LC_FUNCTION_STARTS";
        case 0x29: return "LC_DATA_IN_CODE";
        case 0x2a: return "LC_SOURCE_VERSION";
        case 0x2c: return "LC_ENCRYPTION_INFO_64";
        case 0x32: return "LC_BUILD_VERSION";
        case 0x80000018: return "LC_LOAD_WEAK_DYLIB";
        case 0x8000001c: return "LC_RPATH";
        case 0x8000001f: return "LC_REEXPORT_DYLIB";
        case 0x80000022: return "LC_DYLD_INFO_ONLY";
        case 0x80000028: return "LC_MAIN";
        case 0x80000033: return "LC_DYLD_EXPORTS_TRIE";
        case 0x80000034: return "LC_DYLD_CHAINED_FIXUPS";
        default: return {};
    }
}

Expected<MachOImage> readMachO(const Source& source, std::uint64_t base, std::uint64_t size) {
    if (!rangeFits(base, size, source.size())) return bad("the image extends past the end of the file");
    if (size < kMachHeaderSize32) {
        return bad("the file is too short for a Mach-O header (" + std::to_string(size) + " bytes)");
    }
    auto headerBytes = source.read(base, size < kMachHeaderSize64 ? size : kMachHeaderSize64);
    if (!headerBytes) return headerBytes.error();
    const ByteReader raw(*headerBytes, Endian::Big);

    MachOImage image;
    const std::uint32_t magic = *raw.u32be(0);
    switch (magic) {
        case MH_MAGIC: image.endian = Endian::Big; break;
        case MH_CIGAM: image.endian = Endian::Little; break;
        case MH_MAGIC_64: image.endian = Endian::Big; image.is64 = true; break;
        case MH_CIGAM_64: image.endian = Endian::Little; image.is64 = true; break;
        default: return bad("not a Mach-O file (magic " + hex32(magic) + ")");
    }
    if (size < image.headerSize()) {
        return bad("the file is too short for a 64-bit Mach-O header (" + std::to_string(size) + " bytes)");
    }
    const ByteReader header = raw.withEndian(image.endian);
    image.cpuType = *header.u32(4);
    image.cpuSubtype = *header.u32(8);
    image.fileType = *header.u32(12);
    image.ncmds = *header.u32(16);
    image.sizeofcmds = *header.u32(20);

    if (!rangeFits(image.headerSize(), image.sizeofcmds, size)) {
        return bad("load commands extend past the end of the file (sizeofcmds " +
                   std::to_string(image.sizeofcmds) + ", file " + std::to_string(size) + " bytes)");
    }
    if (image.sizeofcmds > kMaxSizeOfCmds) {
        return bad("sizeofcmds " + std::to_string(image.sizeofcmds) + " is larger than any real image");
    }
    if (std::uint64_t(image.ncmds) * kLoadCommandHeaderSize > image.sizeofcmds) {
        return bad("ncmds " + std::to_string(image.ncmds) + " does not fit in sizeofcmds " +
                   std::to_string(image.sizeofcmds));
    }

    auto commandBytes = source.read(base + image.headerSize(), image.sizeofcmds);
    if (!commandBytes) return commandBytes.error();
    const ByteReader commands(*commandBytes, image.endian);
    const std::uint64_t commandsEnd = image.headerSize() + image.sizeofcmds;  // within the image
    const std::uint32_t alignment = image.is64 ? 8 : 4;

    // Deliberately not checked: that the commands fill sizeofcmds exactly
    // (linkers leave padding), and any command other than LC_CODE_SIGNATURE
    // beyond its size, since nothing here reads them.
    std::uint64_t at = 0;
    for (std::uint32_t index = 0; index < image.ncmds; ++index) {
        const auto cmd = commands.u32(at);
        const auto cmdsize = commands.u32(at + 4);
        if (!cmd || !cmdsize) {
            return bad("load command " + std::to_string(index) + " extends past the end of the load commands");
        }
        const std::string label = commandLabel(index, *cmd);
        if (*cmdsize < kLoadCommandHeaderSize) {
            return bad(label + " cmdsize " + std::to_string(*cmdsize) + " is too small");
        }
        if (*cmdsize % alignment != 0) {
            return bad(label + " cmdsize " + std::to_string(*cmdsize) + " is not a multiple of " +
                       std::to_string(alignment));
        }
        if (!commands.contains(at, *cmdsize)) {
            return bad(label + " cmdsize " + std::to_string(*cmdsize) + " extends past the end of the load commands");
        }
        if (*cmd == LC_CODE_SIGNATURE) {
            if (image.codeSignature) {
                return bad(label + " is a second LC_CODE_SIGNATURE (the first is load command " +
                           std::to_string(image.codeSignature->commandIndex) + ")");
            }
            if (*cmdsize != kLinkeditDataCommandSize) {
                return bad(label + " cmdsize " + std::to_string(*cmdsize) + " is not " +
                           std::to_string(kLinkeditDataCommandSize));
            }
            CodeSignatureCommand sig;
            sig.commandIndex = index;
            sig.dataoff = *commands.u32(at + 8);
            sig.datasize = *commands.u32(at + 12);
            if (sig.dataoff > size) return bad(label + " dataoff extends past the end of the file");
            if (!rangeFits(sig.dataoff, sig.datasize, size)) {
                return bad(label + " dataoff + datasize extends past the end of the file");
            }
            if (sig.dataoff < commandsEnd && sig.datasize != 0) {
                return bad(label + " dataoff overlaps the Mach-O header and load commands");
            }
            image.codeSignature = sig;
        }
        at += *cmdsize;
    }
    return image;
}

}  // namespace codesign
