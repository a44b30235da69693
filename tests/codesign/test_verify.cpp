// Verification: whether the code is what was signed and the signature what it
// claims. Test signatures chain to our own root, which the tests trust in
// place of Apple's; the forged chains are checked against Apple's roots.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>

#include <openssl/x509.h>

#include "Support.h"
#include "codesign/Cms.h"
#include "codesign/StaticCode.h"
#include "codesign/Verify.h"
#include "fixtures/Bundle.h"

using fixtures::Bytes;
using testsupport::TempDir;

namespace {

namespace fs = std::filesystem;

std::time_t at(const char* date) {  // "2026-06-01"
    std::tm tm {};
    strptime(date, "%Y-%m-%d", &tm);
    return timegm(&tm);
}

// Our own chain (leaf, intermediate, root) with the root trusted.
struct TestAuthority {
    std::vector<fixtures::TestCertificate> chain;
    codesign::TrustPolicy policy;

    explicit TestAuthority(std::vector<fixtures::TestCertificate> certificates) : chain(std::move(certificates)) {
        policy.anchors = {chain.back().der()};
        policy.now = at("2026-06-01");
    }
    TestAuthority() : TestAuthority(fixtures::ownChain(3, fixtures::KeyType::Rsa2048, "Test Developer", "TEAM1")) {}

    fixtures::CmsOptions cms() const { return fixtures::CmsOptions(chain[0], chain); }
    fixtures::SigningOptions signing() const {
        fixtures::SigningOptions options;
        options.cms = cms();
        options.entitlements = fixtures::Entitlements{{"com.apple.security.app-sandbox", true}};
        return options;
    }
};

codesign::Verdict verify(const fs::path& path, const codesign::TrustPolicy& policy) {
    codesign::VerifyOptions options;
    options.policy = &policy;
    return codesign::verifyStaticCode(path.string(), options);
}

std::string joined(const codesign::Verdict& verdict) {
    std::string text;
    for (const std::string& problem : verdict.problems) text += problem + "\n";
    return text;
}

bool says(const codesign::Verdict& verdict, const std::string& part) {
    return std::any_of(verdict.problems.begin(), verdict.problems.end(),
                       [&](const std::string& p) { return p.find(part) != std::string::npos; });
}

fs::path write(const TempDir& dir, const std::string& name, const Bytes& bytes) {
    const fs::path path = dir / name;
    fixtures::writeFile(path, bytes);
    return path;
}

std::size_t blobAt(const fixtures::BuiltImage& image, std::uint32_t slot) {
    const auto superBlob = std::span<const std::uint8_t>(image.bytes).subspan(image.signatureOffset, image.superBlobSize);
    return image.signatureOffset + fixtures::blobOffset(superBlob, slot).value();
}

TEST(Verify, IntactSignaturesAreGenuineWithEitherPageSizeAndBothHashKinds) {
    TempDir dir;
    TestAuthority authority;
    struct Case {
        std::size_t pageSize;
        std::uint8_t log2;
        fixtures::Hashes hashes;
    } cases[] = {{4096, 12, fixtures::Hashes::Sha256},
                 {16384, 14, fixtures::Hashes::Sha256},
                 {4096, 12, fixtures::Hashes::Sha1WithSha256Alternate}};
    for (const Case& c : cases) {
        auto options = authority.signing();
        options.pageSizeLog2 = c.log2;
        options.hashes = c.hashes;
        const auto image = fixtures::MachOBuilder().pageSize(c.pageSize).codeSize(5 * c.pageSize + 123).build(options);
        const auto verdict = verify(write(dir, "code", image.bytes), authority.policy);
        EXPECT_TRUE(verdict.genuine) << joined(verdict);
        EXPECT_EQ(verdict.signerKind, codesign::kSignerOtherApple);
        EXPECT_EQ(verdict.cdhash.size(), 40u);
        EXPECT_FALSE(verdict.timestamped);
        ASSERT_TRUE(verdict.signingTime);
        EXPECT_EQ(*verdict.signingTime, at("2025-01-01"));
    }
}

TEST(Verify, OneFlippedByteInEachCoveredRegionIsNamed) {
    TempDir dir;
    TestAuthority authority;
    const auto image = fixtures::MachOBuilder().codeSize(4 * 4096 + 300).build(authority.signing());
    struct Case {
        const char* region;
        std::size_t offset;
        const char* expected;
    } cases[] = {
        {"code page", 2 * 4096 + 7, "x86_64: page 3 of 6: hash differs"},
        {"requirements", blobAt(image, fixtures::kSlotRequirements) + 20, "x86_64: requirements modified"},
        {"entitlements", blobAt(image, fixtures::kSlotEntitlements) + 60, "x86_64: entitlements modified"},
        {"code directory", blobAt(image, fixtures::kSlotCodeDirectory) + 100, "made over a different code directory"},
        {"CMS signature", image.signatureOffset + image.superBlobSize - 40, "CMS signature"},
    };
    for (const Case& c : cases) {
        Bytes bytes = image.bytes;
        bytes[c.offset] ^= 0x01;
        const auto verdict = verify(write(dir, "code", bytes), authority.policy);
        EXPECT_FALSE(verdict.genuine) << c.region;
        EXPECT_TRUE(says(verdict, c.expected)) << c.region << ":\n" << joined(verdict);
    }
}

TEST(Verify, BadInputGetsAVerdict) {
    TempDir dir;
    TestAuthority authority;
    const auto image = fixtures::MachOBuilder().codeSize(4 * 4096 + 300).build(authority.signing());

    // The code cut in the middle of its third page (the signature kept): the
    // load command now points past the end, and is reported as such.
    Bytes cut(image.bytes.begin(), image.bytes.begin() + 2 * 4096 + 100);
    auto verdict = verify(write(dir, "cut", cut), authority.policy);
    EXPECT_FALSE(verdict.genuine);
    EXPECT_FALSE(verdict.problems.empty());

    // More code slots than the code limit needs.
    auto options = authority.signing();
    options.tamper = [](Bytes& superBlob) {
        const std::size_t cd = fixtures::blobOffset(superBlob, fixtures::kSlotCodeDirectory).value();
        superBlob[cd + fixtures::cd::kCodeLimit + 2] = 0;  // the limit drops to a few hundred bytes
    };
    verdict = verify(write(dir, "limit", fixtures::MachOBuilder().codeSize(4 * 4096).build(options).bytes), authority.policy);
    EXPECT_TRUE(says(verdict, "page hashes for a code limit of")) << joined(verdict);

    // A CMS blob that is not DER.
    options = authority.signing();
    options.tamper = [](Bytes& superBlob) {
        const std::size_t cms = fixtures::blobOffset(superBlob, fixtures::kSlotCms).value();
        superBlob[cms + 8] = 0x04;
    };
    verdict = verify(write(dir, "cms", fixtures::MachOBuilder().build(options).bytes), authority.policy);
    EXPECT_TRUE(says(verdict, "does not parse")) << joined(verdict);
    EXPECT_EQ(verdict.signerKind, "untrusted");

    verdict = verify(write(dir, "text", fixtures::toBytes("#!/bin/sh\necho hi\n")), authority.policy);
    EXPECT_TRUE(says(verdict, "not a Mach-O")) << joined(verdict);
    EXPECT_EQ(verdict.signerKind, "unsigned");
}

// Inputs the fuzzer found, replayed here under the test build's sanitizers:
// each must give problems, and leak nothing.
TEST(Verify, FuzzFindingsGiveProblems) {
    const fs::path folder = fs::path(SENTREL_FUZZ_REGRESSIONS_DIR) / "fuzz_verify";
    for (const auto& entry : fs::directory_iterator(folder)) {
        const Bytes input = fixtures::readFile(entry.path());
        ASSERT_FALSE(input.empty());
        const std::span<const std::uint8_t> rest(input.data() + 1, input.size() - 1);
        const std::uint8_t directory[] = {0xfa, 0xde, 0x0c, 0x02, 0, 0, 0, 12, 0, 2, 4, 0};
        const auto trust = codesign::checkSignature(rest, directory, {}, codesign::TrustPolicy::apple());
        EXPECT_FALSE(trust.problems.empty()) << entry.path();
    }
    // The reader's findings: an answer, whatever it is, without undefined behaviour.
    for (const auto& entry : fs::directory_iterator(fs::path(SENTREL_FUZZ_REGRESSIONS_DIR) / "fuzz_static_code")) {
        const Bytes input = fixtures::readFile(entry.path());
        const auto info = codesign::readStaticCodeFromBytes(input);
        EXPECT_TRUE(info || !info.error().message.empty()) << entry.path();
    }
    // The CMS reader hands out only certificates that are certificates on
    // their own, though OpenSSL lets more through inside a CMS.
    for (const auto& entry : fs::directory_iterator(fs::path(SENTREL_FUZZ_REGRESSIONS_DIR) / "fuzz_cms")) {
        const Bytes input = fixtures::readFile(entry.path());
        const auto chain = codesign::certificatesFromCms(input);
        if (!chain) continue;
        for (const codesign::Certificate& certificate : *chain) {
            const unsigned char* read = certificate.data();
            X509* decoded = d2i_X509(nullptr, &read, static_cast<long>(certificate.size()));
            EXPECT_NE(decoded, nullptr) << entry.path();
            X509_free(decoded);
        }
    }
}

TEST(Verify, AlternateDirectoriesMustBeListedInTheSignature) {
    TempDir dir;
    TestAuthority authority;
    auto options = authority.signing();
    options.hashes = fixtures::Hashes::Sha1WithSha256Alternate;
    options.cms->cdhashList = false;
    auto verdict = verify(write(dir, "code", fixtures::MachOBuilder().build(options).bytes), authority.policy);
    EXPECT_TRUE(says(verdict, "alternate code directories are not covered")) << joined(verdict);

    // A list naming other directories than the ones present.
    options.cms->cdhashList = true;
    auto other = authority.signing();
    other.identifier = "com.example.other";
    options.cms->directories = {fixtures::MachOBuilder().build(other).codeDirectory};
    verdict = verify(write(dir, "code", fixtures::MachOBuilder().build(options).bytes), authority.policy);
    EXPECT_TRUE(says(verdict, "signed cdhash list does not match code directory 0")) << joined(verdict);
}

TEST(Verify, UniversalFilesNameTheSliceThatDiffers) {
    TempDir dir;
    TestAuthority authority;
    const auto intel = fixtures::MachOBuilder().build(authority.signing());
    auto armBuilder = fixtures::MachOBuilder().cpu(fixtures::kCpuArm64, fixtures::kSubtypeArm64All).pageSize(16384);
    auto armOptions = authority.signing();
    armOptions.pageSizeLog2 = 14;
    Bytes arm = armBuilder.codeSize(3 * 16384).build(armOptions).bytes;
    arm[16384 + 5] ^= 0xff;
    const auto fat = fixtures::FatBuilder()
                         .add(fixtures::kCpuX86_64, fixtures::kSubtypeX86_64All, intel.bytes)
                         .add(fixtures::kCpuArm64, fixtures::kSubtypeArm64All, arm)
                         .build();
    const auto verdict = verify(write(dir, "fat", fat.bytes), authority.policy);
    EXPECT_FALSE(verdict.genuine);
    ASSERT_EQ(verdict.problems.size(), 1u) << joined(verdict);
    EXPECT_EQ(verdict.problems[0], "arm64: page 2 of 4: hash differs");
}

TEST(Verify, SignerKindComesFromAppleProfileExtensionsNotNames) {
    TempDir dir;
    using fixtures::CertificateRequest;
    const auto rootKey = fixtures::testKey(fixtures::KeyType::Rsa2048, 0);
    CertificateRequest rootRequest;
    rootRequest.subject = {{"CN", "Test Root"}};
    rootRequest.key = rootKey;
    rootRequest.ca = true;
    const auto root = fixtures::makeCertificate(rootRequest);
    struct Case {
        std::vector<std::string> intermediateOids, leafOids;
        std::string leafName;
        const char* kind;
    } cases[] = {
        {{"1.2.840.113635.100.6.2.6"}, {"1.2.840.113635.100.6.1.13"}, "Plain Name", codesign::kSignerDeveloperID},
        {{}, {"1.2.840.113635.100.6.1.9"}, "Plain Name", codesign::kSignerMacAppStore},
        {{}, {"1.2.840.113635.100.6.1.12"}, "Plain Name", codesign::kSignerDevelopment},
        // A Developer ID name without the extensions is not Developer ID.
        {{}, {}, "Developer ID Application: Someone (TEAM)", codesign::kSignerOtherApple},
        // The leaf extension alone, under an intermediate without the marker.
        {{}, {"1.2.840.113635.100.6.1.13"}, "Plain Name", codesign::kSignerOtherApple},
    };
    for (const Case& c : cases) {
        CertificateRequest ca;
        ca.subject = {{"CN", "Test CA"}};
        ca.key = fixtures::testKey(fixtures::KeyType::Rsa2048, 1);
        ca.issuer = &root;
        ca.ca = true;
        ca.appleExtensions = c.intermediateOids;
        const auto intermediate = fixtures::makeCertificate(ca);
        CertificateRequest leafRequest;
        leafRequest.subject = {{"CN", c.leafName}};
        leafRequest.key = fixtures::testKey(fixtures::KeyType::Rsa2048, 2);
        leafRequest.issuer = &intermediate;
        leafRequest.codeSigning = true;
        leafRequest.appleExtensions = c.leafOids;
        TestAuthority authority({fixtures::makeCertificate(leafRequest), intermediate, root});
        const auto verdict = verify(write(dir, "code", fixtures::MachOBuilder().build(authority.signing()).bytes),
                                    authority.policy);
        EXPECT_TRUE(verdict.genuine) << joined(verdict);  // Apple's critical extensions are accepted
        EXPECT_EQ(verdict.signerKind, c.kind) << c.leafName;
    }
}

TEST(Verify, ForgedChainsAreNotTrustedByApplesRoots) {
    TempDir dir;
    // Apple's public certificates beside a leaf of our own that names the
    // Developer ID CA as its issuer.
    const auto forged = fixtures::developerIdChain("Forger", "FORGE1");
    auto options = fixtures::SigningOptions();
    options.cms = fixtures::CmsOptions(forged[0], forged);
    const auto path = write(dir, "forged", fixtures::MachOBuilder().build(options).bytes);
    auto verdict = codesign::verifyStaticCode(path.string());
    EXPECT_FALSE(verdict.genuine);
    EXPECT_EQ(verdict.signerKind, "untrusted");
    EXPECT_TRUE(says(verdict, "x86_64: certificate 0 (\"Developer ID Application: Forger (FORGE1)\") is not signed by "
                              "certificate 1 (\"Developer ID Certification Authority\")"))
        << joined(verdict);

    // Apple's names on certificates of our own, keys and all.
    using fixtures::CertificateRequest;
    CertificateRequest rootRequest;
    rootRequest.subject = {{"CN", "Apple Root CA"}, {"OU", "Apple Certification Authority"}, {"O", "Apple Inc."}, {"C", "US"}};
    rootRequest.key = fixtures::testKey(fixtures::KeyType::Rsa2048, 0);
    rootRequest.ca = true;
    const auto fakeRoot = fixtures::makeCertificate(rootRequest);
    CertificateRequest leafRequest;
    leafRequest.subject = {{"CN", "Developer ID Application: Forger (FORGE1)"}};
    leafRequest.key = fixtures::testKey(fixtures::KeyType::Rsa2048, 1);
    leafRequest.issuer = &fakeRoot;
    leafRequest.codeSigning = true;
    leafRequest.appleExtensions = {"1.2.840.113635.100.6.1.13"};
    const auto fakeLeaf = fixtures::makeCertificate(leafRequest);
    options.cms = fixtures::CmsOptions(fakeLeaf, {fakeLeaf, fakeRoot});
    verdict = codesign::verifyStaticCode(write(dir, "lookalike", fixtures::MachOBuilder().build(options).bytes).string());
    EXPECT_FALSE(verdict.genuine);
    EXPECT_TRUE(says(verdict, "leaf not issued by an Apple CA")) << joined(verdict);
}

TEST(Verify, ExpiredLeafNeedsATimestampFromItsValidity) {
    TempDir dir;
    auto chain = fixtures::ownChain(2, fixtures::KeyType::Rsa2048, "unused");
    fixtures::CertificateRequest leafRequest;
    leafRequest.subject = {{"CN", "Expired Developer"}};
    leafRequest.key = fixtures::testKey(fixtures::KeyType::Rsa2048, 2);
    leafRequest.issuer = &chain[1];
    leafRequest.codeSigning = true;
    leafRequest.notBefore = "20200101000000Z";
    leafRequest.notAfter = "20220101000000Z";
    TestAuthority authority({fixtures::makeCertificate(leafRequest), chain[1]});

    auto verdict = verify(write(dir, "late", fixtures::MachOBuilder().build(authority.signing()).bytes), authority.policy);
    EXPECT_FALSE(verdict.genuine);
    EXPECT_TRUE(says(verdict, "(\"Expired Developer\") expired on 2022-01-01")) << joined(verdict);
    EXPECT_TRUE(says(verdict, "no timestamp")) << joined(verdict);

    auto options = authority.signing();
    options.cms->timestampAuthority = fixtures::timestampAuthority(chain[1]);
    options.cms->timestampTime = "20210601120000Z";
    verdict = verify(write(dir, "stamped", fixtures::MachOBuilder().build(options).bytes), authority.policy);
    EXPECT_TRUE(verdict.genuine) << joined(verdict);
    EXPECT_TRUE(verdict.timestamped);
    EXPECT_EQ(verdict.signingTime, at("2021-06-01") + 12 * 3600);

    // A timestamp after the leaf expired does not help.
    options.cms->timestampTime = "20230601000000Z";
    verdict = verify(write(dir, "stamped-late", fixtures::MachOBuilder().build(options).bytes), authority.policy);
    EXPECT_FALSE(verdict.genuine);
    EXPECT_TRUE(says(verdict, "expired on 2022-01-01")) << joined(verdict);
}

struct SignedBundle {
    TempDir dir;
    TestAuthority authority;
    fs::path bundle;
    fixtures::MachOBuilder image;

    SignedBundle() {
        bundle = fixtures::makeBundle(dir.path(), "Tool", fixtures::MachOBuilder().build().bytes, fixtures::PlistFormat::Xml);
        const fs::path resources = bundle / "Contents" / "Resources";
        fixtures::writeFile(resources / "app.icns", fixtures::toBytes("icon bytes"));
        fs::create_directories(resources / "en.lproj");
        fixtures::writeFile(resources / "en.lproj" / "Localizable.strings", fixtures::toBytes("\"a\" = \"b\";"));
        fixtures::signBundle(bundle, "Tool", image, authority.signing());
    }
    codesign::Verdict check() { return verify(bundle, authority.policy); }
};

TEST(VerifyBundle, TheSealCoversEveryResource) {
    {
        SignedBundle signedBundle;
        const auto verdict = signedBundle.check();
        EXPECT_TRUE(verdict.genuine) << joined(verdict);
        EXPECT_FALSE(verdict.hasNotarizationTicket);
    }
    {
        SignedBundle changed;
        fixtures::writeFile(changed.bundle / "Contents/Resources/app.icns", fixtures::toBytes("other bytes"));
        fixtures::writeFile(changed.bundle / "Contents/Resources/extra.txt", fixtures::toBytes("added"));
        fixtures::writeFile(changed.bundle / "Contents/Resources/.DS_Store", fixtures::toBytes("omitted by the rules"));
        const auto verdict = changed.check();
        EXPECT_EQ(verdict.problems, (std::vector<std::string>{"Contents/Resources/app.icns modified",
                                                              "Contents/Resources/extra.txt added"}))
            << joined(verdict);
    }
    {
        SignedBundle removed;
        fs::remove(removed.bundle / "Contents/Resources/app.icns");
        fs::remove_all(removed.bundle / "Contents/Resources/en.lproj");  // optional by the rules
        const auto verdict = removed.check();
        EXPECT_EQ(verdict.problems, (std::vector<std::string>{"Contents/Resources/app.icns removed"})) << joined(verdict);
    }
    {
        SignedBundle info;
        fixtures::writeFile(info.bundle / "Contents/Info.plist",
                            fixtures::infoPlist(fixtures::applicationInfo("Tool", "com.other.id"), fixtures::PlistFormat::Xml));
        const auto verdict = info.check();
        EXPECT_TRUE(says(verdict, "x86_64: Info.plist modified")) << joined(verdict);
    }
    {
        SignedBundle seal;
        fixtures::writeFile(seal.bundle / "Contents/_CodeSignature/CodeResources", fixtures::toBytes("<plist/>"));
        const auto verdict = seal.check();
        EXPECT_TRUE(says(verdict, "x86_64: resource seal (_CodeSignature/CodeResources) modified")) << joined(verdict);
    }
}

// A string object of a binary property list in UTF-16 (up to 255 units),
// the form in which a NUL character survives libplist's reading.
std::string utf16Object(const std::string& text) {
    std::string object = text.size() < 15 ? std::string(1, static_cast<char>(0x60 | text.size()))
                                          : std::string("\x6F\x10") + static_cast<char>(text.size());
    for (char c : text) object += std::string{'\0', c};
    return object;
}

// A binary property list with one-byte offsets and references, its objects
// in order, the first one the top.
Bytes binaryPlist(const std::vector<std::string>& objects) {
    std::string out = "bplist00";
    std::string table;
    for (const std::string& object : objects) {
        table += static_cast<char>(out.size());
        out += object;
    }
    const char tableOffset = static_cast<char>(out.size());
    out += table + std::string(6, '\0') + "\x01\x01" + std::string(7, '\0') + static_cast<char>(objects.size()) +
           std::string(15, '\0') + tableOffset;
    return Bytes(out.begin(), out.end());
}

// Property lists that libplist cannot be handed as they are (a sealed
// file's name or the executable's name holding a NUL) give a verdict with a
// problem.
TEST(VerifyBundle, MadeUpPropertyListsGiveProblems) {
    {
        SignedBundle seal;  // {files2: {"a\0b": "x"}}
        fixtures::writeFile(seal.bundle / "Contents/_CodeSignature/CodeResources",
                            binaryPlist({"\xD1\x01\x02", utf16Object("files2"), "\xD1\x03\x04",
                                         utf16Object(std::string("a\0b", 3)), utf16Object("x")}));
        const auto verdict = seal.check();
        EXPECT_FALSE(verdict.genuine);
        EXPECT_TRUE(says(verdict, "CodeResources")) << joined(verdict);
    }
    {
        SignedBundle info;  // {CFBundleExecutable: "To\0l"}
        fixtures::writeFile(info.bundle / "Contents/Info.plist",
                            binaryPlist({"\xD1\x01\x02", utf16Object("CFBundleExecutable"),
                                         utf16Object(std::string("To\0l", 4))}));
        const auto verdict = info.check();
        EXPECT_FALSE(verdict.genuine);
        EXPECT_TRUE(says(verdict, "CFBundleExecutable holds a NUL character")) << joined(verdict);
    }
}

TEST(VerifyBundle, NestedCodeIsCheckedByItsCdhash) {
    SignedBundle outer;
    // A helper tool of its own inside Contents/MacOS, sealed by its cdhash.
    const fs::path helper = outer.bundle / "Contents/MacOS/helper";
    fixtures::writeFile(helper, fixtures::MachOBuilder().build(outer.authority.signing()).bytes);
    fixtures::signBundle(outer.bundle, "Tool", outer.image, outer.authority.signing());
    auto verdict = outer.check();
    EXPECT_TRUE(verdict.genuine) << joined(verdict);

    Bytes bytes = fixtures::readFile(helper);
    bytes[100] ^= 1;
    fixtures::writeFile(helper, bytes);
    verdict = outer.check();
    EXPECT_TRUE(says(verdict, "Contents/MacOS/helper modified")) << joined(verdict);
}

TEST(VerifyProgress, HashingReportsEveryByteAndStopsWhenCancelled) {
    TempDir dir;
    TestAuthority authority;
    const auto image = fixtures::MachOBuilder().codeSize(12u << 20).build(authority.signing());
    const auto path = write(dir, "big", image.bytes);
    std::atomic<std::uint64_t> done{0};
    std::uint64_t total = 0;
    codesign::VerifyOptions options;
    options.policy = &authority.policy;
    options.work.threads = 2;
    options.started = [&](std::uint64_t bytes) { total = bytes; };
    options.work.advanced = [&](std::uint64_t bytes) { done += bytes; };
    auto verdict = codesign::verifyStaticCode(path.string(), options);
    EXPECT_TRUE(verdict.genuine) << joined(verdict);
    EXPECT_EQ(total, image.signatureOffset);
    EXPECT_EQ(done.load(), total);

    std::atomic<bool> cancelled{true};
    options.work.cancelled = &cancelled;
    verdict = codesign::verifyStaticCode(path.string(), options);
    EXPECT_TRUE(verdict.cancelled);
    EXPECT_FALSE(verdict.genuine);
}

}  // namespace
