// Verifying code on disk: whether the code is the code that was signed and
// whether the signature is what it claims. Everything a signature covers is
// checked against the bytes it covers, in every slice of a universal file:
// the page hashes of each code directory, its special slots (Info.plist,
// requirements, the resource seal, entitlements), the bundle's resource seal
// file by file, nested code, and the CMS signature with its chain and
// timestamp. The reader (StaticCode.h) reports what a signature says; this
// reports whether it holds.
#pragma once

#include <atomic>
#include <cstdint>
#include <ctime>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "codesign/PageHashes.h"
#include "codesign/SignatureTrust.h"

namespace codesign {

struct VerifyOptions {
    const TrustPolicy* policy = nullptr;  // null: Apple's roots
    WorkControl work;
    // Total bytes of code to hash, told once before hashing starts.
    std::function<void(std::uint64_t total)> started;
};

struct Verdict {
    bool genuine = false;               // signed with an identity, nothing modified, chain to a trusted root
    std::vector<std::string> problems;  // why not, each naming its slice, slot or file
    std::string signerKind;             // "Developer ID Application", ..., "ad-hoc", "unsigned", "untrusted"
    std::optional<std::time_t> signingTime;
    bool timestamped = false;
    bool hasNotarizationTicket = false;  // a stapled ticket is present (its own signature is not checked)
    std::string cdhash;                  // hex, of the slice described
    bool cancelled = false;
};

Verdict verifyStaticCode(const std::string& path, const VerifyOptions& options = {});

}  // namespace codesign
