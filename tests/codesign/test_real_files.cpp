// Signatures made on a Mac by the platform's own tools, from two published
// binaries (see tests/data/README.md). Only the headers, load commands and
// signatures are left in the data files, so every value below is what the
// original files carry.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>

#include "Support.h"
#include "codesign/Status.h"
#include "codesign/Verify.h"

using codesign::SignatureKind;
using testsupport::TempDir;

namespace {

const std::string kDataDir = SENTREL_TEST_DATA_DIR;

// Unpacks a gzip file, leaving holes where the data is zero.
std::string gunzipSparse(const std::string& gz, const std::filesystem::path& out) {
    gzFile in = gzopen(gz.c_str(), "rb");
    if (!in) return "cannot open " + gz;
    const int fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<char> buffer(1 << 16);
    off_t size = 0;
    int n;
    while ((n = gzread(in, buffer.data(), static_cast<unsigned>(buffer.size()))) > 0) {
        const bool zero = std::all_of(buffer.begin(), buffer.begin() + n, [](char c) { return c == 0; });
        if (zero) {
            size += n;
            continue;
        }
        if (::pwrite(fd, buffer.data(), static_cast<std::size_t>(n), size) != n) break;
        size += n;
    }
    gzclose(in);
    const bool ok = n == 0 && ::ftruncate(fd, size) == 0;
    ::close(fd);
    return ok ? "" : "cannot unpack " + gz;
}

std::vector<std::string> sha1s(const codesign::SigningInfo& info) {
    std::vector<std::string> out;
    for (const auto& der : info.certificates) out.push_back(testsupport::sha1Hex(der));
    return out;
}

std::string hexOf(const std::vector<std::uint8_t>& bytes) { return fixtures::hex(bytes, true); }

TEST(RealSignatures, UniversalDeveloperIdBinary) {
    TempDir dir;
    const auto path = dir / "sentry-cli";
    ASSERT_EQ(gunzipSparse(kDataDir + "/sentry-cli-darwin-3.8.0.zeroed.gz", path), "");
    auto info = codesign::readStaticCode(path.string());
    ASSERT_TRUE(info) << info.error().message;

    ASSERT_EQ(info->slices.size(), 2u);
    EXPECT_EQ(info->slices[0].architecture, "x86_64");
    EXPECT_EQ(info->slices[0].identifier, "sentry-cli-Darwin-universal");
    EXPECT_EQ(info->slices[0].kind, SignatureKind::Certificates);
    EXPECT_EQ(info->slices[1].architecture, "arm64");
    EXPECT_EQ(info->slices[1].identifier, "sentry_cli-ed605fe0983d3ac0");
    EXPECT_EQ(info->slices[1].kind, SignatureKind::Certificates);

    EXPECT_EQ(info->teamIdentifier, "97JCY7859U");
    EXPECT_EQ(info->codeDirectoryFlags, 0x10000u);  // hardened runtime
    EXPECT_EQ(info->codeDirectoryVersion, 0x20500u);
    EXPECT_EQ(info->hashType, 2u);
    EXPECT_EQ(info->pageSize, 4096u);
    // Stored intermediate, root, leaf; read leaf first.
    EXPECT_EQ(testsupport::commonNames(*info),
              (std::vector<std::string>{"Developer ID Application: GetSentry LLC (97JCY7859U)",
                                        "Developer ID Certification Authority", "Apple Root CA"}));
    EXPECT_EQ(sha1s(*info), (std::vector<std::string>{"CA886EB0F2EF765B26CDA592CD42DA4E9C92C916",
                                                      "3B166C3B7DC4B751C9FE2AFAB9135641E388E186",
                                                      "611E5B662C593A08FF58D14AE22452D198DF6C60"}));
    ASSERT_TRUE(info->entitlementsBlob);
    const std::string entitlements(info->entitlementsBlob->begin() + 8, info->entitlementsBlob->end());
    EXPECT_EQ(info->entitlementsBlob->size(), 188u);
    EXPECT_NE(entitlements.find("<dict/>"), std::string::npos);
    ASSERT_TRUE(info->derEntitlementsBlob);
    EXPECT_EQ(info->derEntitlementsBlob->size(), 15u);
    ASSERT_TRUE(info->requirementsBlob);

    // The cdhashes equal the message digests the CMS signatures carry (cut to 20 bytes).
    const std::string x86_64 = "FCD45AE42C5190BDDE8C0709168C2286074AADEB";
    const std::string arm64 = "0B061C70BE64938C3CEFA26BB236F2EF5D6C9425";
    if (info->architecture == "x86_64") {
        EXPECT_EQ(info->identifier, "sentry-cli-Darwin-universal");
        EXPECT_EQ(hexOf(info->cdhash), x86_64);
    } else {
        EXPECT_EQ(info->architecture, "arm64");
        EXPECT_EQ(hexOf(info->cdhash), arm64);
    }
}

TEST(RealSignatures, LinkerSignedArm64Binary) {
    TempDir dir;
    const auto path = dir / "esbuild";
    ASSERT_EQ(gunzipSparse(kDataDir + "/esbuild-darwin-arm64-0.28.2.zeroed.gz", path), "");
    auto info = codesign::readStaticCode(path.string());
    ASSERT_TRUE(info) << info.error().message;
    EXPECT_EQ(info->architecture, "arm64");
    EXPECT_EQ(info->kind, SignatureKind::AdHoc);
    EXPECT_EQ(info->identifier, "a.out");
    EXPECT_EQ(info->teamIdentifier, "");
    EXPECT_EQ(info->codeDirectoryFlags, 0x20002u);  // ad-hoc, linker-signed
    EXPECT_EQ(info->codeDirectoryVersion, 0x20400u);
    EXPECT_EQ(hexOf(info->cdhash), "FAF804AB3DEF337A0E99314B6092EF431C3D7AB5");
    EXPECT_TRUE(info->certificates.empty());
    EXPECT_FALSE(info->entitlementsBlob);
    EXPECT_FALSE(info->requirementsBlob);
}

}  // namespace

namespace {

// The CMS signatures and chains of the real binary verify to Apple's roots;
// its code pages, zeroed for the test data, are reported as modified.
TEST(RealSignatures, DeveloperIdSignatureVerifiesButZeroedPagesDiffer) {
    TempDir dir;
    const auto path = dir / "sentry-cli";
    ASSERT_EQ(gunzipSparse(kDataDir + "/sentry-cli-darwin-3.8.0.zeroed.gz", path), "");
    const auto verdict = codesign::verifyStaticCode(path.string());
    std::string text;
    for (const std::string& problem : verdict.problems) text += problem + "\n";
    EXPECT_FALSE(verdict.genuine);
    EXPECT_EQ(verdict.signerKind, "Developer ID Application") << text;
    EXPECT_TRUE(verdict.timestamped) << text;
    for (const std::string& problem : verdict.problems) {
        const bool aboutPages = problem.find(": page ") != std::string::npos || problem.find(" more pages differ") != std::string::npos;
        EXPECT_TRUE(aboutPages) << problem;
    }
    EXPECT_NE(text.find("x86_64: page "), std::string::npos) << text;
    EXPECT_NE(text.find("arm64: page "), std::string::npos) << text;
}

// A whole published binary, when scripts/fetch-test-data.sh has fetched one.
TEST(RealSignatures, WholeDeveloperIdBinaryIsGenuine) {
    const std::string whole = kDataDir + "/fetched/sentry-cli";
    if (!std::filesystem::exists(whole)) GTEST_SKIP() << "run scripts/fetch-test-data.sh to fetch " << whole;
    const auto verdict = codesign::verifyStaticCode(whole);
    std::string text;
    for (const std::string& problem : verdict.problems) text += problem + "\n";
    EXPECT_TRUE(verdict.genuine) << text;
    EXPECT_EQ(verdict.signerKind, "Developer ID Application");
    EXPECT_TRUE(verdict.timestamped);
}

}  // namespace
