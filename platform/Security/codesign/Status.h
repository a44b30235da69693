// Status values of the code-signing services, as the platform numbers them.
// Every failure of the reader carries one of these beside its message, so the
// Security stand-in can hand it on as an OSStatus unchanged.
#pragma once

#include <cstdint>
#include <string_view>

namespace codesign {

using Status = std::int32_t;

inline constexpr Status errSecSuccess = 0;

inline constexpr Status errSecCSStaticCodeNotFound = -67068;      // no file or folder at the path
inline constexpr Status errSecCSUnsigned = -67062;                // the code carries no signature at all
inline constexpr Status errSecCSSignatureFailed = -67061;         // the signature's structure is damaged
inline constexpr Status errSecCSSignatureNotVerifiable = -67060;  // the file could not be read
inline constexpr Status errSecCSSignatureUnsupported = -67059;    // a signature version we do not know
inline constexpr Status errSecCSBadObjectFormat = -67049;         // not a valid Mach-O or universal file
inline constexpr Status errSecCSInternalError = -67048;           // a library call failed unexpectedly
inline constexpr Status errSecCSInfoPlistFailed = -67030;         // the bundle's Info.plist is unreadable
inline constexpr Status errSecCSNoMainExecutable = -67029;        // the bundle names no usable executable
inline constexpr Status errSecCSBadBundleFormat = -67028;         // a folder that is not a bundle
inline constexpr Status errSecCSUnsupportedDigestAlgorithm = -67000;  // a code directory hash we cannot compute

// The constant's name for a status above ("errSecCSUnsigned"), or an empty view.
constexpr std::string_view statusName(Status status) {
    switch (status) {
        case errSecSuccess: return "errSecSuccess";
        case errSecCSStaticCodeNotFound: return "errSecCSStaticCodeNotFound";
        case errSecCSUnsigned: return "errSecCSUnsigned";
        case errSecCSSignatureFailed: return "errSecCSSignatureFailed";
        case errSecCSSignatureNotVerifiable: return "errSecCSSignatureNotVerifiable";
        case errSecCSSignatureUnsupported: return "errSecCSSignatureUnsupported";
        case errSecCSBadObjectFormat: return "errSecCSBadObjectFormat";
        case errSecCSInternalError: return "errSecCSInternalError";
        case errSecCSInfoPlistFailed: return "errSecCSInfoPlistFailed";
        case errSecCSNoMainExecutable: return "errSecCSNoMainExecutable";
        case errSecCSBadBundleFormat: return "errSecCSBadBundleFormat";
        case errSecCSUnsupportedDigestAlgorithm: return "errSecCSUnsupportedDigestAlgorithm";
        default: return {};
    }
}

}  // namespace codesign
