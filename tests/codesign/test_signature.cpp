// Embedded signatures written by the fixture generator and read back: what
// goes in must come out, and one damaged field per case must give its message.
#include <gtest/gtest.h>
#include <openssl/bio.h>
#include <openssl/cms.h>

#include <algorithm>
#include <functional>

#include "Support.h"
#include "codesign/Status.h"
#include "fixtures/Blobs.h"
#include "fixtures/Certificates.h"
#include "fixtures/MachO.h"

using namespace fixtures;
using codesign::SignatureKind;
using testsupport::commonNames;

namespace {

codesign::SigningInfo readOk(const Bytes& bytes) {
    auto info = codesign::readStaticCodeFromBytes(bytes);
    if (!info) {
        ADD_FAILURE() << info.error().message;
        return {};
    }
    return std::move(*info);
}

Bytes cdhashOf(std::uint8_t hashType, std::span<const std::uint8_t> codeDirectory) {
    Bytes h = hashWith(hashType, codeDirectory);
    h.resize(20);
    return h;
}

Bytes superBlobOf(const BuiltImage& image) {
    return Bytes(image.bytes.begin() + static_cast<std::ptrdiff_t>(image.signatureOffset),
                 image.bytes.begin() + static_cast<std::ptrdiff_t>(image.signatureOffset + image.superBlobSize));
}

Bytes blobIn(const Bytes& superBlob, std::uint32_t slot) {
    const std::size_t at = *blobOffset(superBlob, slot);
    return Bytes(superBlob.begin() + static_cast<std::ptrdiff_t>(at),
                 superBlob.begin() + static_cast<std::ptrdiff_t>(at + getBE32(superBlob, at + 4)));
}

std::vector<Bytes> ders(const std::vector<TestCertificate>& certificates) {
    std::vector<Bytes> out;
    for (const auto& c : certificates) out.push_back(c.der());
    return out;
}

const std::vector<TestCertificate>& rsaChain() {
    static const auto chain = ownChain(3, KeyType::Rsa2048, "Signature Test Leaf", "SIGTEST123");
    return chain;
}

TEST(SignatureRoundTrip, DeveloperIdLayoutReadsBackFieldForField) {
    const auto chain = developerIdChain("Round Trip", "RTRIP12345");
    const Entitlements entitlements = {{"com.apple.security.app-sandbox", true},
                                       {"com.apple.security.network.client", true}};
    SigningOptions options;
    options.identifier = "com.example.roundtrip";
    options.team = "RTRIP12345";
    options.flags = kFlagRuntime;
    options.version = 0x20500;
    options.entitlements = entitlements;
    options.derEntitlements = true;
    options.cms = CmsOptions{chain[0], {chain[1], chain[2], chain[0]}};  // stored intermediate, root, leaf

    const BuiltImage image = MachOBuilder().build(options);
    const codesign::SigningInfo info = readOk(image.bytes);
    EXPECT_EQ(info.kind, SignatureKind::Certificates);
    EXPECT_EQ(info.architecture, "x86_64");
    EXPECT_EQ(info.identifier, "com.example.roundtrip");
    EXPECT_EQ(info.teamIdentifier, "RTRIP12345");
    EXPECT_EQ(info.codeDirectoryFlags, kFlagRuntime);
    EXPECT_EQ(info.codeDirectoryVersion, 0x20500u);
    EXPECT_EQ(info.hashType, kHashSha256);
    EXPECT_EQ(info.pageSize, 4096u);
    EXPECT_EQ(info.cdhash, cdhashOf(kHashSha256, image.codeDirectory));
    EXPECT_EQ(info.entitlementsBlob, entitlementsBlob(entitlementsXml(entitlements)));
    EXPECT_EQ(info.derEntitlementsBlob, derEntitlementsBlob(entitlementsDer(entitlements)));
    EXPECT_EQ(info.requirementsBlob, requirementsBlob("com.example.roundtrip", std::string("RTRIP12345")));
    EXPECT_EQ(info.certificates, ders(chain));
    EXPECT_EQ(commonNames(info), (std::vector<std::string>{"Developer ID Application: Round Trip (RTRIP12345)",
                                                           "Developer ID Certification Authority", "Apple Root CA"}));
    EXPECT_TRUE(info.slices.empty());
}

TEST(SignatureRoundTrip, AdHocHasNoCertificates) {
    SigningOptions options;
    options.identifier = "com.example.adhoc";
    const codesign::SigningInfo info = readOk(MachOBuilder().build(options).bytes);
    EXPECT_EQ(info.kind, SignatureKind::AdHoc);
    EXPECT_EQ(info.codeDirectoryFlags, kFlagAdhoc);
    EXPECT_TRUE(info.certificates.empty());
    EXPECT_EQ(info.requirementsBlob, emptyRequirementsBlob());
    EXPECT_FALSE(info.entitlementsBlob);

    const codesign::SigningInfo linker = readOk(MachOBuilder().build(linkerSigned("a.out")).bytes);
    EXPECT_EQ(linker.kind, SignatureKind::AdHoc);
    EXPECT_EQ(linker.codeDirectoryFlags, kFlagAdhoc | kFlagLinkerSigned);
    EXPECT_FALSE(linker.requirementsBlob);
}

TEST(SignatureRoundTrip, ACmsWithoutCertificatesIsSignedWithoutAChain) {
    SigningOptions options;
    options.cms = CmsOptions{rsaChain()[0], {}};
    const codesign::SigningInfo info = readOk(MachOBuilder().build(options).bytes);
    EXPECT_EQ(info.kind, SignatureKind::Certificates);
    EXPECT_TRUE(info.certificates.empty());
}

TEST(SignatureRoundTrip, PageSizes) {
    for (std::uint8_t log2 : {12, 14, 0}) {
        SigningOptions options;
        options.pageSizeLog2 = log2;
        const codesign::SigningInfo info =
            readOk(MachOBuilder().cpu(kCpuArm64, 0).pageSize(16384).codeSize(3 * 16384 + 5).build(options).bytes);
        EXPECT_EQ(info.pageSize, log2 == 0 ? 0u : 1u << log2) << int(log2);
    }
}

TEST(SignatureRoundTrip, TeamIdentifierOnlyFromVersionsThatCarryIt) {
    for (std::uint32_t version : {0x20001u, 0x20100u, 0x20200u, 0x20300u, 0x20400u, 0x20500u, 0x20600u}) {
        SigningOptions options;
        options.team = "TEAMID1234";
        options.version = version;
        const codesign::SigningInfo info = readOk(MachOBuilder().build(options).bytes);
        EXPECT_EQ(info.codeDirectoryVersion, version);
        EXPECT_EQ(info.teamIdentifier, version >= 0x20200 ? "TEAMID1234" : "") << std::hex << version;
        EXPECT_EQ(info.identifier, "com.example.test");
    }
}

TEST(CodeDirectoryChoice, TheSha256AlternateGivesTheCdhashAndThePrimaryTheIdentifier) {
    SigningOptions options;
    options.identifier = "com.example.primary";
    options.hashes = Hashes::Sha1WithSha256Alternate;
    // Give the alternate a different identifier of the same length.
    options.tamper = [](Bytes& sb) {
        const std::size_t at = *blobOffset(sb, kSlotAlternateCodeDirectory);
        sb.at(at + getBE32(sb, at + cd::kIdentOffset) + std::string("com.example.").size()) = 'P';
    };
    const BuiltImage image = MachOBuilder().build(options);
    const codesign::SigningInfo info = readOk(image.bytes);
    EXPECT_EQ(info.identifier, "com.example.primary");
    EXPECT_EQ(info.hashType, kHashSha256);
    EXPECT_EQ(info.cdhash, cdhashOf(kHashSha256, blobIn(superBlobOf(image), kSlotAlternateCodeDirectory)));
    EXPECT_NE(info.cdhash, cdhashOf(kHashSha1, image.codeDirectory));
}

// A signature past 64 KiB (here 3,072 pages, a 96 KiB SHA-256 directory) is
// read blob by blob, its directories' page hashes only streamed for the cdhash.
TEST(LargeSignature, ReadsBackLikeASmallOne) {
    const auto chain = developerIdChain("Large", "LARGE12345");
    SigningOptions options;
    options.identifier = "com.example.large";
    options.team = "LARGE12345";
    options.hashes = Hashes::Sha1WithSha256Alternate;
    options.entitlements = Entitlements{{"com.apple.security.app-sandbox", true}};
    options.cms = CmsOptions{chain[0], {chain[0], chain[1], chain[2]}};
    const BuiltImage image = MachOBuilder().codeSize(12 << 20).build(options);
    ASSERT_GT(image.superBlobSize, 128u * 1024);
    const codesign::SigningInfo info = readOk(image.bytes);
    EXPECT_EQ(info.identifier, "com.example.large");
    EXPECT_EQ(info.teamIdentifier, "LARGE12345");
    EXPECT_EQ(info.hashType, kHashSha256);
    EXPECT_EQ(info.cdhash, cdhashOf(kHashSha256, blobIn(superBlobOf(image), kSlotAlternateCodeDirectory)));
    EXPECT_EQ(info.entitlementsBlob, entitlementsBlob(entitlementsXml(*options.entitlements)));
    EXPECT_EQ(info.certificates, ders(chain));
}

// No signer puts the identifier after the page hashes, but the format allows
// it: past the part read first, the whole directory is read for it.
TEST(LargeSignature, AnIdentifierAfterThePageHashesIsStillFound) {
    for (const char last : {'\0', 'x'}) {
        SigningOptions options;
        options.tamper = [last](Bytes& sb) {
            const std::size_t at = *blobOffset(sb, kSlotCodeDirectory);
            const std::uint32_t length = getBE32(sb, at + cd::kLength);
            putBE32(sb, at + cd::kIdentOffset, length - 1);
            sb.at(at + length - 1) = static_cast<std::uint8_t>(last);
        };
        const auto info = codesign::readStaticCodeFromBytes(MachOBuilder().codeSize(12 << 20).build(options).bytes);
        if (last == '\0') {
            ASSERT_TRUE(info) << info.error().message;
            EXPECT_EQ(info->identifier, "");
        } else {
            ASSERT_FALSE(info);
            EXPECT_NE(info.error().message.find("not NUL-terminated inside the code directory"), std::string::npos)
                << info.error().message;
        }
    }
}

TEST(CodeDirectoryChoice, ShaOneAloneAndUnknownAlternatesPassedOver) {
    SigningOptions sha1Only;
    sha1Only.hashes = Hashes::Sha1;
    const BuiltImage image = MachOBuilder().build(sha1Only);
    const codesign::SigningInfo info = readOk(image.bytes);
    EXPECT_EQ(info.hashType, kHashSha1);
    EXPECT_EQ(info.cdhash, cdhashOf(kHashSha1, image.codeDirectory));

    SigningOptions unknownAlternate;
    unknownAlternate.hashes = Hashes::Sha1WithSha256Alternate;
    unknownAlternate.tamper = [](Bytes& sb) { sb.at(*blobOffset(sb, kSlotAlternateCodeDirectory) + cd::kHashType) = 9; };
    const BuiltImage withUnknown = MachOBuilder().build(unknownAlternate);
    const codesign::SigningInfo chosen = readOk(withUnknown.bytes);
    EXPECT_EQ(chosen.hashType, kHashSha1);
    EXPECT_EQ(chosen.cdhash, cdhashOf(kHashSha1, withUnknown.codeDirectory));
}

// Certificates: whatever order they are stored in, the leaf comes first,
// then its issuers up to the root; anything unrelated is left out.
class CertificateOrder : public ::testing::TestWithParam<std::tuple<int, bool>> {};

TEST_P(CertificateOrder, LeafFirstWhateverTheStoredOrder) {
    const auto [permutation, ber] = GetParam();
    const auto chain = ownChain(3, KeyType::EcP256, "Order Leaf");
    const TestCertificate unrelated = appleCertificate("AppleTimestampCA.cer");
    std::vector<int> order = {0, 1, 2, 3};
    for (int i = 0; i < permutation; ++i) std::next_permutation(order.begin(), order.end());
    const std::vector<TestCertificate> all = {chain[0], chain[1], chain[2], unrelated};
    SigningOptions options;
    options.cms = CmsOptions{chain[0], {}};
    options.cms->ber = ber;
    for (int i : order) options.cms->stored.push_back(all[static_cast<std::size_t>(i)]);
    const codesign::SigningInfo info = readOk(MachOBuilder().build(options).bytes);
    EXPECT_EQ(info.certificates, ders(chain));
}

INSTANTIATE_TEST_SUITE_P(AllPermutations, CertificateOrder,
                         ::testing::Combine(::testing::Range(0, 24), ::testing::Bool()));

TEST(CertificateChains, OneToFourCertificatesStoredRootFirst) {
    for (int length = 1; length <= 4; ++length) {
        const auto chain = ownChain(length, length % 2 ? KeyType::Rsa2048 : KeyType::EcP256, "Chain Leaf");
        SigningOptions options;
        options.cms = CmsOptions{chain[0], std::vector<TestCertificate>(chain.rbegin(), chain.rend())};
        EXPECT_EQ(readOk(MachOBuilder().build(options).bytes).certificates, ders(chain)) << length;
    }
}

// Names are compared as OpenSSL compares them, not byte for byte: an
// issuer whose name is written with another string type (same key, same
// text) still continues the chain.
TEST(CertificateChains, AnIssuerNameWrittenDifferentlyStillMatches) {
    CertificateRequest root;
    root.subject = {{"CN", "Spelling Root"}};
    root.key = testKey(KeyType::EcP256, 0);
    root.ca = true;
    const TestCertificate rootCertificate = makeCertificate(root);
    CertificateRequest utf8;
    utf8.subject = {{"CN", "Spelling CA"}};
    utf8.key = testKey(KeyType::EcP256, 1);
    utf8.issuer = &rootCertificate;
    utf8.ca = true;
    CertificateRequest printable = utf8;
    printable.printableSubject = true;
    const TestCertificate issuedUnder = makeCertificate(utf8);
    const TestCertificate stored = makeCertificate(printable);
    CertificateRequest leaf;
    leaf.subject = {{"CN", "Spelling Leaf"}};
    leaf.key = testKey(KeyType::EcP256, 2);
    leaf.issuer = &issuedUnder;
    leaf.codeSigning = true;
    const TestCertificate leafCertificate = makeCertificate(leaf);
    ASSERT_NE(stored.der(), issuedUnder.der());

    SigningOptions options;
    options.cms = CmsOptions{leafCertificate, {rootCertificate, stored, leafCertificate}};
    EXPECT_EQ(readOk(MachOBuilder().build(options).bytes).certificates,
              ders({leafCertificate, stored, rootCertificate}));
}

TEST(CertificateChains, TheSignerInfoNamesTheLeafEvenWhenItIsNotOurKey) {
    const std::vector<TestCertificate> mas = {appleCertificate("AppleMacOSApplicationSigning.cer"),
                                              appleCertificate("AppleWWDRCA-2008.cer"),
                                              appleCertificate("AppleRootCA.cer")};
    SigningOptions options;
    options.cms = CmsOptions{rsaChain()[0], {mas[2], mas[1], mas[0]}, mas[0]};
    const codesign::SigningInfo info = readOk(MachOBuilder().build(options).bytes);
    EXPECT_EQ(commonNames(info),
              (std::vector<std::string>{"Apple Mac OS Application Signing",
                                        "Apple Worldwide Developer Relations Certification Authority", "Apple Root CA"}));
}

TEST(CertificateChains, WithoutAMatchingSignerTheEndEntityLeads) {
    const auto& chain = rsaChain();
    SigningOptions options;
    // The SignerInfo names a certificate that is not stored.
    options.cms = CmsOptions{chain[0], {chain[2], chain[1], chain[0]}, appleCertificate("AppleTimestampCA.cer")};
    EXPECT_EQ(readOk(MachOBuilder().build(options).bytes).certificates, ders(chain));
}

TEST(CertificateChains, AGapInTheChainEndsItThere) {
    const auto chain = ownChain(4, KeyType::EcP256, "Gap Leaf");
    SigningOptions options;
    // The first intermediate is missing: the chain stops at the leaf.
    options.cms = CmsOptions{chain[0], {chain[3], chain[2], chain[0]}};
    EXPECT_EQ(readOk(MachOBuilder().build(options).bytes).certificates, (std::vector<Bytes>{chain[0].der()}));
}

// Chains already worked out are reused for signatures that store the same
// certificates; the signer is part of what decides the leaf.
TEST(CertificateChains, TheSameCertificatesNamingAnotherSignerGiveItsChain) {
    const auto chain = ownChain(3, KeyType::EcP256, "Shared Leaf A");
    CertificateRequest second;
    second.subject = {{"CN", "Shared Leaf B"}};
    second.key = testKey(KeyType::EcP256, 7);
    second.issuer = &chain[1];
    second.serial = 0x3000;
    second.codeSigning = true;
    const TestCertificate other = makeCertificate(second);
    for (bool ber : {true, false}) {
        for (int round = 0; round < 2; ++round) {
            for (const TestCertificate* signer : {&chain[0], &other}) {
                SigningOptions options;
                options.cms = CmsOptions{*signer, {chain[2], other, chain[1], chain[0]}};
                options.cms->ber = ber;
                EXPECT_EQ(readOk(MachOBuilder().build(options).bytes).certificates,
                          (std::vector<Bytes>{signer->der(), chain[1].der(), chain[2].der()}))
                    << signer->commonName() << " ber " << ber << " round " << round;
            }
        }
    }
}

// A re-keyed intermediate keeps its name; without key identifiers only the
// signature tells which of the two issued the leaf.
TEST(CertificateChains, TheIssuerIsTheOneWhoseKeySignedTheChild) {
    auto request = [](NameEntries subject, int key, const TestCertificate* issuer, bool ca) {
        CertificateRequest r;
        r.subject = std::move(subject);
        r.key = testKey(KeyType::EcP256, key);
        r.issuer = issuer;
        r.serial = 0x2000 + key;
        r.ca = ca;
        r.codeSigning = !ca;
        r.keyIdentifiers = false;
        return makeCertificate(r);
    };
    const TestCertificate root = request({{"CN", "Rekey Root"}}, 0, nullptr, true);
    const TestCertificate current = request({{"CN", "Rekey Intermediate"}}, 1, &root, true);
    const TestCertificate retired = request({{"CN", "Rekey Intermediate"}}, 2, &root, true);
    const TestCertificate leaf = request({{"CN", "Rekey Leaf"}}, 3, &current, false);
    for (const auto& stored : {std::vector<TestCertificate>{retired, current, root, leaf},
                               std::vector<TestCertificate>{current, retired, root, leaf}}) {
        SigningOptions options;
        options.cms = CmsOptions{leaf, stored};
        EXPECT_EQ(readOk(MachOBuilder().build(options).bytes).certificates,
                  (std::vector<Bytes>{leaf.der(), current.der(), root.der()}));
    }
}

// One damaged field per case.

struct SignatureCase {
    const char* name;
    std::function<void(Bytes&)> tamper;
    codesign::Status status;
    // The expected message, from the undamaged SuperBlob.
    std::function<std::string(const Bytes&)> message;
    bool prefixOnly = false;  // for messages that end with a library's own words
};

void PrintTo(const SignatureCase& c, std::ostream* os) { *os << c.name; }

SigningOptions corruptionBase() {
    SigningOptions options;
    options.identifier = "com.example.corrupt";
    options.team = "CORRUPT123";
    options.entitlements = Entitlements{{"com.apple.security.app-sandbox", true}};
    options.derEntitlements = true;
    options.cms = CmsOptions{rsaChain()[0], {rsaChain()[0], rsaChain()[1], rsaChain()[2]}};
    return options;  // index: code directory, requirements, entitlements, DER entitlements, CMS
}

std::size_t cdAt(const Bytes& sb) { return *blobOffset(sb, kSlotCodeDirectory); }
std::uint32_t cdField(const Bytes& sb, std::size_t field) { return getBE32(sb, cdAt(sb) + field); }
void setCd(Bytes& sb, std::size_t field, std::uint32_t value) { putBE32(sb, cdAt(sb) + field, value); }
std::function<std::string(const Bytes&)> fixed(std::string text) {
    return [text](const Bytes&) { return text; };
}

// Replaces the CMS blob, the last one, keeping the SuperBlob's length right.
void replaceCms(Bytes& sb, std::span<const std::uint8_t> payload) {
    sb.resize(*blobOffset(sb, kSlotCms));
    append(sb, makeBlob(kMagicBlobWrapper, payload));
    putBE32(sb, 4, static_cast<std::uint32_t>(sb.size()));
}

Bytes cmsOfData() {
    const char text[] = "not signed";
    BIO* in = BIO_new_mem_buf(text, sizeof text);
    CMS_ContentInfo* cms = CMS_data_create(in, CMS_BINARY);
    unsigned char* der = nullptr;
    const int length = i2d_CMS_ContentInfo(cms, &der);
    Bytes out(der, der + length);
    OPENSSL_free(der);
    CMS_ContentInfo_free(cms);
    BIO_free(in);
    return out;
}

class SignatureCorruption : public ::testing::TestWithParam<SignatureCase> {};

TEST_P(SignatureCorruption, NamesTheField) {
    const SignatureCase& c = GetParam();
    const Bytes original = superBlobOf(MachOBuilder().build(corruptionBase()));
    SigningOptions options = corruptionBase();
    options.tamper = c.tamper;
    const codesign::Error error = testsupport::readError(MachOBuilder().build(options).bytes);
    EXPECT_EQ(error.status, c.status);
    if (c.prefixOnly) {
        EXPECT_EQ(error.message.substr(0, c.message(original).size()), c.message(original)) << error.message;
    } else {
        EXPECT_EQ(error.message, c.message(original));
    }
}

using codesign::errSecCSSignatureFailed;
using codesign::errSecCSSignatureUnsupported;

INSTANTIATE_TEST_SUITE_P(
    SuperBlob, SignatureCorruption,
    ::testing::Values(
        SignatureCase{"Magic", [](Bytes& sb) { putBE32(sb, 0, 0xfade0cc1); }, errSecCSSignatureFailed,
                      fixed("embedded signature magic 0xfade0cc1 is not 0xfade0cc0")},
        SignatureCase{"LengthBelowHeader", [](Bytes& sb) { putBE32(sb, 4, 11); }, errSecCSSignatureFailed,
                      fixed("embedded signature length 11 is smaller than its header")},
        SignatureCase{"CountPastLength", [](Bytes& sb) { putBE32(sb, 8, 0x10000000); }, errSecCSSignatureFailed,
                      [](const Bytes& sb) {
                          return "embedded signature count 268435456 does not fit in its length " +
                                 std::to_string(sb.size());
                      }},
        SignatureCase{"OffsetIntoIndex", [](Bytes& sb) { putBE32(sb, indexEntryOffset(1) + 4, 12); },
                      errSecCSSignatureFailed,
                      fixed("embedded signature index 1 (requirements) offset 12 points into the index")},
        SignatureCase{"OffsetPastEnd", [](Bytes& sb) { putBE32(sb, indexEntryOffset(1) + 4, 0x7ffffff0); },
                      errSecCSSignatureFailed,
                      fixed("embedded signature index 1 (requirements) offset 2147483632 extends past the end of the "
                            "SuperBlob")},
        SignatureCase{"BlobLengthBelowHeader",
                      [](Bytes& sb) { putBE32(sb, *blobOffset(sb, kSlotRequirements) + 4, 4); },
                      errSecCSSignatureFailed,
                      fixed("embedded signature index 1 (requirements) blob length 4 is smaller than its header")},
        SignatureCase{"BlobLengthPastEnd",
                      [](Bytes& sb) { putBE32(sb, *blobOffset(sb, kSlotRequirements) + 4, 0x7fffffff); },
                      errSecCSSignatureFailed,
                      fixed("embedded signature index 1 (requirements) blob length 2147483647 extends past the end "
                            "of the SuperBlob")},
        SignatureCase{"RepeatedSlot", [](Bytes& sb) { putBE32(sb, indexEntryOffset(2), kSlotRequirements); },
                      errSecCSSignatureFailed,
                      fixed("embedded signature index 2 (requirements) repeats a slot that an earlier index entry "
                            "already names")},
        SignatureCase{"BlobMagicForItsSlot",
                      [](Bytes& sb) { putBE32(sb, *blobOffset(sb, kSlotRequirements), 0xfade7170); },
                      errSecCSSignatureFailed,
                      fixed("embedded signature index 1 (requirements) blob magic 0xfade7170 is not 0xfade0c01")},
        SignatureCase{"NoCodeDirectory", [](Bytes& sb) { putBE32(sb, indexEntryOffset(0), 0x20); },
                      errSecCSSignatureFailed, fixed("embedded signature has no code directory")}),
    [](const auto& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    CodeDirectory, SignatureCorruption,
    ::testing::Values(
        SignatureCase{"TooShort", [](Bytes& sb) { setCd(sb, cd::kLength, 40); }, errSecCSSignatureFailed,
                      fixed("code directory is too short (40 bytes)")},
        SignatureCase{"HeaderShorterThanItsVersion", [](Bytes& sb) { setCd(sb, cd::kLength, 60); },
                      errSecCSSignatureFailed,
                      fixed("code directory version 0x20400 needs a 88-byte header but the blob has 60 bytes")},
        SignatureCase{"VersionTooOld", [](Bytes& sb) { setCd(sb, cd::kVersion, 0x20000); },
                      errSecCSSignatureUnsupported, fixed("code directory version 0x20000 is too old")},
        SignatureCase{"VersionTooNew", [](Bytes& sb) { setCd(sb, cd::kVersion, 0x2f000); },
                      errSecCSSignatureUnsupported, fixed("code directory version 0x2f000 is too new")},
        SignatureCase{"IdentOffsetOutside", [](Bytes& sb) { setCd(sb, cd::kIdentOffset, 0x100000); },
                      errSecCSSignatureFailed, fixed("code directory identOffset 1048576 is outside the code directory")},
        SignatureCase{"IdentifierWithoutNul",
                      [](Bytes& sb) {
                          const std::uint32_t length = cdField(sb, cd::kLength);
                          sb.at(cdAt(sb) + length - 1) = 'A';
                          setCd(sb, cd::kIdentOffset, length - 1);
                      },
                      errSecCSSignatureFailed,
                      [](const Bytes& sb) {
                          return "code directory identOffset " + std::to_string(cdField(sb, cd::kLength) - 1) +
                                 " names a string that is not NUL-terminated inside the code directory";
                      }},
        SignatureCase{"TeamOffsetOutside", [](Bytes& sb) { setCd(sb, cd::kTeamOffset, 0xffffff); },
                      errSecCSSignatureFailed, fixed("code directory teamOffset 16777215 is outside the code directory")},
        SignatureCase{"HashSizeWrongForType", [](Bytes& sb) { sb.at(cdAt(sb) + cd::kHashSize) = 20; },
                      errSecCSSignatureFailed,
                      fixed("code directory hashSize 20 does not match its hash type SHA-256 (32)")},
        SignatureCase{"SpecialSlotsBeforeTheBlob", [](Bytes& sb) { setCd(sb, cd::kNSpecialSlots, 0xffffffff); },
                      errSecCSSignatureFailed,
                      [](const Bytes& sb) {
                          return "code directory hash slots (4294967295 special, " +
                                 std::to_string(cdField(sb, cd::kNCodeSlots)) + " code, hashOffset " +
                                 std::to_string(cdField(sb, cd::kHashOffset)) + ") extend outside the code directory";
                      }},
        SignatureCase{"OneCodeSlotTooMany",
                      [](Bytes& sb) { setCd(sb, cd::kNCodeSlots, cdField(sb, cd::kNCodeSlots) + 1); },
                      errSecCSSignatureFailed,
                      [](const Bytes& sb) {
                          return "code directory hash slots (7 special, " +
                                 std::to_string(cdField(sb, cd::kNCodeSlots) + 1) + " code, hashOffset " +
                                 std::to_string(cdField(sb, cd::kHashOffset)) + ") extend outside the code directory";
                      }},
        SignatureCase{"HashOffsetPastEnd", [](Bytes& sb) { setCd(sb, cd::kHashOffset, 0xfffffff0); },
                      errSecCSSignatureFailed,
                      [](const Bytes& sb) {
                          return "code directory hash slots (7 special, " +
                                 std::to_string(cdField(sb, cd::kNCodeSlots)) +
                                 " code, hashOffset 4294967280) extend outside the code directory";
                      }},
        SignatureCase{"PageSizeTooLarge", [](Bytes& sb) { sb.at(cdAt(sb) + cd::kPageSize) = 40; },
                      errSecCSSignatureFailed, fixed("code directory page size 2^40 is too large")},
        SignatureCase{"UnknownHashType", [](Bytes& sb) { sb.at(cdAt(sb) + cd::kHashType) = 9; },
                      codesign::errSecCSUnsupportedDigestAlgorithm,
                      fixed("no code directory has a hash type that can be computed (Unknown (9))")}),
    [](const auto& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    Cms, SignatureCorruption,
    ::testing::Values(
        SignatureCase{"NotDer", [](Bytes& sb) { replaceCms(sb, toBytes("\x30\x84\xff\xff\xff\xff garbage")); },
                      errSecCSSignatureFailed,
                      fixed("CMS signature is not valid DER or BER ("), true},
        SignatureCase{"NotSignedData", [](Bytes& sb) { replaceCms(sb, cmsOfData()); }, errSecCSSignatureFailed,
                      fixed("CMS signature is not a SignedData")}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
