// The CMS SignedData in the signature's blob wrapper. Only its certificates
// are taken out; the signature itself is not verified here.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "codesign/Expected.h"

namespace codesign {

// More certificates than any real signature carries; a CMS claiming more is refused.
inline constexpr std::size_t kMaxCmsCertificates = 256;

using Certificate = std::vector<std::uint8_t>;  // DER

// The certificates of a CMS SignedData (DER or BER with indefinite lengths),
// in chain order. A signature stores them in no useful order, so:
//  1. the leaf is the certificate of the first SignerInfo (issuer and serial
//     number, or subject key identifier); when no certificate matches, the
//     first certificate that issued none of the others;
//  2. from the leaf, each certificate's issuer follows, up to a self-issued
//     root or until no issuer is present. Of several candidates the one whose
//     key verifies the child's signature wins (a re-keyed intermediate keeps
//     its name), then one whose name and key identifiers agree, then one whose
//     name alone matches;
//  3. certificates off that path are left out.
Expected<std::vector<Certificate>> certificatesFromCms(std::span<const std::uint8_t> cms);

// The oldest error in OpenSSL's queue as text ("" when there is none), and
// an empty queue afterwards so that the next OpenSSL call starts clean.
std::string takeOpenSslError();

}  // namespace codesign
