// Whether a code signature's CMS is what it claims: its signature over the
// code directory, the signed list of code directory hashes, its timestamp,
// and the signer's certificate chain up to a trusted root. The kind of signer
// is read from the certificate-profile extensions Apple puts in the
// certificates it issues, never from their names.
#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "codesign/Cms.h"

namespace codesign {

// What verification trusts: its anchors, the intermediates it may use to
// complete a chain, and the time to check validity at when a signature has
// no timestamp.
struct TrustPolicy {
    std::vector<Certificate> anchors;
    std::vector<Certificate> intermediates;
    std::optional<std::time_t> now;  // none: the clock

    // Apple Root CA and Apple Root CA - G3, with Apple's public intermediates.
    static const TrustPolicy& apple();
};

// Every code directory of a signature, in slot order (the primary first), with
// the full digest of its blob in its own hash type.
struct DirectoryDigest {
    std::uint8_t hashType = 0;
    std::vector<std::uint8_t> digest;
};

// Signer kinds, as shown.
inline constexpr const char* kSignerDeveloperID = "Developer ID Application";
inline constexpr const char* kSignerDeveloperIDInstaller = "Developer ID Installer";
inline constexpr const char* kSignerMacAppStore = "Mac App Store";
inline constexpr const char* kSignerDevelopment = "Apple Development";
inline constexpr const char* kSignerAppleSoftware = "Apple system software";
inline constexpr const char* kSignerOtherApple = "Apple-issued, other";

struct SignatureTrust {
    std::vector<std::string> problems;
    bool chainTrusted = false;  // the signer's chain reaches an anchor, every link valid
    std::string signerKind;     // when the chain is trusted; empty otherwise
    std::optional<std::time_t> signingTime;  // the timestamp's, else the signed attribute's
    bool timestamped = false;                // a timestamp token that verifies
};

// `signedDirectory` is the primary code directory blob, the content the CMS
// signs (detached).
SignatureTrust checkSignature(std::span<const std::uint8_t> cms, std::span<const std::uint8_t> signedDirectory,
                              const std::vector<DirectoryDigest>& directories, const TrustPolicy& policy);

// "2026-12-06 04:52:22 UTC"
std::string formatUtc(std::time_t time);

}  // namespace codesign
