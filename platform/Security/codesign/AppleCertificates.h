// The public Apple certificates compiled into the program: the two roots that
// signature verification trusts, and the intermediates it may use to complete
// a chain that a signature stores only in part.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace codesign {

struct EmbeddedCertificate {
    std::string_view fileName;  // "AppleRootCA.cer", ...
    std::span<const std::uint8_t> der;
    bool anchor;  // a root we trust
};

std::span<const EmbeddedCertificate> appleCertificates();

}  // namespace codesign
