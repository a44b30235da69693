// libFuzzer entry over verification's own readers of untrusted bytes: the
// first byte picks one.
//   0: a CMS signature, checked over a fixed code directory against Apple's
//      roots (signature, signed cdhash list and hash agility, timestamp
//      token, chain);
//   1: a bundle's resource seal (CodeResources), checked against a small
//      bundle made once in a temporary folder (rules as regular expressions,
//      files, symbolic links, nested code).
// Problems are the expected answer; a crash, hang or leak is a bug.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <span>
#include <string>

#include "codesign/ResourceSeal.h"
#include "codesign/SignatureTrust.h"

namespace {

namespace fs = std::filesystem;

const std::string& bundleRoot() {
    static const std::string root = [] {
        char pattern[] = "/tmp/sentrel-fuzz-seal-XXXXXX";
        const fs::path dir = mkdtemp(pattern);
        fs::create_directories(dir / "Contents/Resources/en.lproj");
        fs::create_directories(dir / "Contents/MacOS");
        std::ofstream(dir / "Contents/Resources/app.icns") << "icon";
        std::ofstream(dir / "Contents/Resources/en.lproj/Localizable.strings") << "\"a\" = \"b\";";
        std::ofstream(dir / "Contents/MacOS/Tool") << "not code";
        std::ofstream(dir / "Contents/MacOS/helper") << "not code either";
        fs::create_symlink("app.icns", dir / "Contents/Resources/link");
        return dir.string() + "/";
    }();
    return root;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const std::span<const std::uint8_t> input(data + 1, size - 1);
    if (data[0] % 2 == 0) {
        static const std::uint8_t directory[] = {0xfa, 0xde, 0x0c, 0x02, 0, 0, 0, 12, 0, 2, 4, 0};
        const std::vector<codesign::DirectoryDigest> digests{{2, std::vector<std::uint8_t>(32, 0xab)},
                                                             {1, std::vector<std::uint8_t>(20, 0xcd)}};
        const auto trust = codesign::checkSignature(input, directory, digests, codesign::TrustPolicy::apple());
        volatile std::size_t sink = trust.problems.size() + trust.signerKind.size();
        (void)sink;
    } else {
        codesign::SealSubject subject;
        subject.bundleFolder = bundleRoot();
        subject.resourceRoot = bundleRoot() + "Contents/";
        subject.mainExecutable = subject.resourceRoot + "MacOS/Tool";
        subject.verifyNested = [](const std::string&) { return codesign::NestedCode{{std::vector<std::uint8_t>(20, 1)}, {}}; };
        volatile std::size_t sink = codesign::checkResourceSeal(subject, input).size();
        (void)sink;
    }
    return 0;
}
