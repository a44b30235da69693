// A bundle's resource seal: _CodeSignature/CodeResources lists every file the
// signature covers with its hash (and nested code with its cdhash), and the
// rules that say which files belong to the seal at all. Checking it compares
// the list with the bundle as it is: files changed, removed, or added.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

namespace codesign {

struct NestedCode {
    std::vector<std::vector<std::uint8_t>> cdhashes;  // of every code directory of every slice
    std::vector<std::string> problems;
};

struct SealSubject {
    std::string bundleFolder;    // ends in '/'; problems name paths from here
    std::string resourceRoot;    // ends in '/'; the seal's paths start here
    std::string mainExecutable;  // full path; covered by the page hashes, not the seal
    // Verifies nested code (a bundle or a Mach-O file) at a full path.
    std::function<NestedCode(const std::string& path)> verifyNested;
};

// Every way the bundle differs from its seal ("Contents/Resources/a.png
// modified", "... removed", "... added"), in path order.
std::vector<std::string> checkResourceSeal(const SealSubject& subject, std::span<const std::uint8_t> codeResources);

}  // namespace codesign
