#include "codesign/Architecture.h"

#include <cstdio>

namespace codesign {

namespace {

std::string hex(std::uint32_t value) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "0x%x", value);
    return buffer;
}

std::string withSubtype(const char* family, std::uint32_t subtype) {
    return std::string(family) + " subtype " + hex(subtype);
}

}  // namespace

std::string architectureName(std::uint32_t cpuType, std::uint32_t cpuSubtype) {
    const std::uint32_t sub = cpuSubtype & ~CPU_SUBTYPE_MASK;
    switch (cpuType) {
        case CPU_TYPE_X86_64:
            if (sub == CPU_SUBTYPE_X86_64_H) return "x86_64h";
            return "x86_64";
        case CPU_TYPE_X86:
            return "i386";
        case CPU_TYPE_ARM64:
            if (sub == CPU_SUBTYPE_ARM64E) return "arm64e";
            if (sub == CPU_SUBTYPE_ARM64_ALL || sub == 1) return "arm64";  // 1 is arm64v8
            return withSubtype("arm64", sub);
        case CPU_TYPE_ARM64_32:
            return "arm64_32";
        case CPU_TYPE_ARM:
            switch (sub) {
                case 0: return "arm";
                case 5: return "armv4t";
                case 6: return "armv6";
                case 7: return "armv5";
                case 9: return "armv7";
                case 10: return "armv7f";
                case 11: return "armv7s";
                case 12: return "armv7k";
                case 14: return "armv6m";
                case 15: return "armv7m";
                case 16: return "armv7em";
                default: return withSubtype("arm", sub);
            }
        case CPU_TYPE_POWERPC:
            return "ppc";
        case CPU_TYPE_POWERPC64:
            return "ppc64";
        default:
            return "cpu " + hex(cpuType);
    }
}

std::uint32_t hostCpuType() {
#if defined(__x86_64__)
    return CPU_TYPE_X86_64;
#elif defined(__aarch64__)
    return CPU_TYPE_ARM64;
#elif defined(__i386__)
    return CPU_TYPE_X86;
#elif defined(__arm__)
    return CPU_TYPE_ARM;
#elif defined(__powerpc64__)
    return CPU_TYPE_POWERPC64;
#elif defined(__powerpc__)
    return CPU_TYPE_POWERPC;
#else
    return 0;
#endif
}

}  // namespace codesign

