// Fingerprint texts, the certificate-chain summary and the Apple credential kinds.
#include "CodeSigningIdentity.h"
#include "NSData_SecCertificateRef.h"
#include "fixtures/Certificates.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using fixtures::TestCertificate;

NSArray* certificateArray(const std::vector<TestCertificate>& chain)
{
    NSMutableArray* array = NSMutableArray::array();
    for (const TestCertificate& c : chain) {
        fixtures::Bytes der = c.der();
        SecCertificate* certificate = SecCertificate::certificateWithDER(std::vector<uint8_t>(der.begin(), der.end()));
        EXPECT_NE(certificate, nil);
        array->addObject(certificate);
    }
    return array;
}

std::string text(const NSString* s) { return s ? s->utf8() : "(nil)"; }

TEST(Fingerprints, TextForms)
{
    NSData* root = NSData::certificateFingerprintWithFingerprintBytes(kAppleCertificateAuthority_ROOT_SecCertificateFingerprintBytes);
    EXPECT_EQ(text(root->certFingerprintHexString()), "611E5B662C593A08FF58D14AE22452D198DF6C60");
    EXPECT_EQ(text(root->certFingerprintRequirement_HQUOTED()), "H\"611E5B662C593A08FF58D14AE22452D198DF6C60\"");
    EXPECT_EQ(text(root->certFingerprintLeafRequirementString()),
              "certificate leaf = H\"611E5B662C593A08FF58D14AE22452D198DF6C60\"");
    EXPECT_EQ(text(NSData::data()->certFingerprintHexString()), "");
    EXPECT_EQ(text(NSData::data()->certFingerprintRequirement_HQUOTED()), "H\"\"");
}

TEST(Fingerprints, RecognitionNeedsExactlyTwentyEqualBytes)
{
    for (const uint8_t* constant :
         {kAppleCertificateAuthority_ROOT_SecCertificateFingerprintBytes, kAppleSoftwareSigning_LEAF_SecCertificateFingerprintBytes,
          kAppleCodeSigningCertificationAuthority_INTERMEDIATE_SecCertificateFingerprintBytes,
          kAppleMacOSApplicationSigning_LEAF_SecCertificateFingerprintBytes, kApple_WWDR_INTERMEDIATE_SecCertificateFingerprintBytes,
          kApple_DEVID_INTERMEDIATE_SecCertificateFingerprintBytes}) {
        EXPECT_TRUE(NSData::dataWithBytes(constant, 20)->isCertificateAppleOfficial());
        uint8_t flipped[20];
        std::copy(constant, constant + 20, flipped);
        flipped[19] ^= 1;
        EXPECT_FALSE(NSData::dataWithBytes(flipped, 20)->isCertificateAppleOfficial());
        EXPECT_FALSE(NSData::dataWithBytes(constant, 19)->isCertificateAppleOfficial());
        uint8_t longer[21] = {};
        std::copy(constant, constant + 20, longer);
        EXPECT_FALSE(NSData::dataWithBytes(longer, 21)->isCertificateFingerprintBytesEqual(constant));
    }
    EXPECT_FALSE(NSData::data()->isCertificateFingerprintBytesEqual(nullptr));
}

TEST(SigningIdentity, ThreeCertificatesFillEveryPositionAndRow)
{
    auto chain = fixtures::ownChain(3, fixtures::KeyType::Rsa2048, "Leaf Name");
    SecureSigningIdentity* identity = SecureSigningIdentity::signingIdentityWithCertificateArray(certificateArray(chain));
    EXPECT_EQ(text(identity->leafCommonName()), "Leaf Name");
    EXPECT_EQ(text(identity->cert1CommonName()), chain[1].commonName());
    EXPECT_EQ(text(identity->rootCommonName()), chain[2].commonName());
    fixtures::Bytes rootSha1 = chain[2].sha1Fingerprint();
    EXPECT_TRUE(identity->rootFingerprint()->isCertificateFingerprintBytesEqual(rootSha1.data()));

    std::string html = text(identity->htmlDescription());
    std::string header = "<TABLE><TBODY><TR><TD><B>#</B></TD><TD></TD><TD><B>COMMON NAME</B></TD><TD></TD><TD>&nbsp;</TD>"
                         "<TD></TD><TD><B>FINGERPRINT (SHA1) x509 keyIdentifier</B></TD></TR>";
    EXPECT_EQ(html.substr(0, header.size()), header);
    std::string row0 = "<TR><TD>0</TD><TD>&nbsp;</TD><TD><U>Leaf Name</U></TD><TD>&nbsp;</TD><TD>&nbsp;</TD><TD>&nbsp;</TD><TD>" +
                       text(identity->leafFingerprint()->certFingerprintRequirement_HQUOTED()) + "</TD></TR>";
    EXPECT_NE(html.find(row0), std::string::npos) << html;
    EXPECT_NE(html.find("<TR><TD>2</TD>"), std::string::npos);
    EXPECT_TRUE(html.ends_with("</TBODY></TABLE>"));

    NSDictionary* entry = static_cast<NSDictionary*>(identity->signingDictionary()->objectForKey("certificate[1]"));
    ASSERT_NE(entry, nil);
    EXPECT_EQ(text(entry->allKeys()->componentsJoinedByString(NSSTR("|"))),
              "SecCertificateCopyCommonName(SecCertificateRef)|SecCertificateCopySubjectSummary(SecCertificateRef)|"
              "SecCertificateCopyData(SecCertificateRef) SHA1 Fingerprint (X509 keyIdentifier)");
}

TEST(SigningIdentity, ShortAndLongChainsFillOnlyTheirPositions)
{
    auto two = fixtures::ownChain(2, fixtures::KeyType::EcP256, "Two");
    SecureSigningIdentity* identity = SecureSigningIdentity::signingIdentityWithCertificateArray(certificateArray(two));
    EXPECT_EQ(text(identity->cert1CommonName()), two[1].commonName());
    EXPECT_EQ(text(identity->rootCommonName()), "");
    EXPECT_EQ(identity->rootFingerprint()->length(), 0u);

    auto four = fixtures::ownChain(4, fixtures::KeyType::EcP256, "Four");
    identity = SecureSigningIdentity::signingIdentityWithCertificateArray(certificateArray(four));
    EXPECT_EQ(text(identity->rootCommonName()), four[3].commonName());
    EXPECT_EQ(identity->signingDictionary()->count(), 4u);   // index 2 is listed but fills no position
    EXPECT_NE(text(identity->htmlDescription()).find("<TR><TD>2</TD>"), std::string::npos);
}

TEST(SigningIdentity, EmptyAndMissingArrays)
{
    CodeSigningIdentity* empty = CodeSigningIdentity::signingIdentityWithCertificateArray(NSArray::array());
    EXPECT_EQ(text(empty->htmlDescription()),
              "<TABLE><TBODY><TR><TD><B>#</B></TD><TD></TD><TD><B>COMMON NAME</B></TD><TD></TD><TD>&nbsp;</TD>"
              "<TD></TD><TD><B>FINGERPRINT (SHA1) x509 keyIdentifier</B></TD></TR></TBODY></TABLE>");
    EXPECT_EQ(text(empty->credentialsDescription()), "unknown");
    EXPECT_EQ(text(empty->description()),
              "CodeSigningIdentity\r\nunknown\r\nleaf:'' ''\r\ncer1:'' ''\r\nroot:'' ''\r\n");

    SecureSigningIdentity* none = SecureSigningIdentity::signingIdentityWithCertificateArray(nil);
    EXPECT_EQ(none->certificates()->count(), 0u);
    EXPECT_EQ(text(none->htmlDescription()), "");
}

TEST(SigningIdentity, EntriesThatAreNotCertificatesEndTheTable)
{
    auto chain = fixtures::ownChain(2, fixtures::KeyType::EcP256, "Leaf");
    NSMutableArray* array = NSMutableArray::arrayWithArray(certificateArray(chain));
    array->insertObject(NSSTR("not a certificate"), 1);
    SecureSigningIdentity* identity = SecureSigningIdentity::signingIdentityWithCertificateArray(array);
    EXPECT_EQ(identity->signingDictionary()->count(), 1u);
    EXPECT_EQ(text(identity->cert1CommonName()), "");
}

struct CredentialCase {
    std::vector<std::string> appleFiles;   // certificates after our own leaf
    bool leafIsApple;                      // use the first file as the leaf instead
    const char* expected;
};

TEST(Credentials, KindsFollowTheirOrder)
{
    auto own = fixtures::ownChain(1, fixtures::KeyType::EcP256, "Someone");
    const CredentialCase cases[] = {
        {{"DeveloperIDCA.cer", "AppleRootCA.cer"}, false, "Apple 'Developer ID' Credentials"},
        {{"AppleMacOSApplicationSigning.cer", "AppleWWDRCA-2008.cer", "AppleRootCA.cer"}, true,
         "Apple Mac App Store Software Signing Credentials"},
        {{"AppleWWDRCA-2008.cer", "AppleRootCA.cer"}, false, "Apple Mac Developer Credentials"},
        {{"AppleTimestampCA.cer", "AppleRootCA.cer"}, false, "Apple Credentials"},
        {{"DeveloperIDG2CA.cer", "AppleRootCA-G3.cer"}, false, "unknown"},
    };
    for (const CredentialCase& c : cases) {
        std::vector<TestCertificate> chain;
        if (!c.leafIsApple)
            chain.push_back(own[0]);
        for (const std::string& file : c.appleFiles)
            chain.push_back(fixtures::appleCertificate(file));
        CodeSigningIdentity* identity = CodeSigningIdentity::signingIdentityWithCertificateArray(certificateArray(chain));
        EXPECT_EQ(text(identity->credentialsDescription()), c.expected);
    }
}

TEST(Credentials, AppleMarkOnlyBesideAppleCertificates)
{
    std::vector<TestCertificate> chain = fixtures::developerIdChain("Example Corp", "ABCDE12345");
    CodeSigningIdentity* identity = CodeSigningIdentity::signingIdentityWithCertificateArray(certificateArray(chain));
    std::string html = text(identity->htmlDescription());
    EXPECT_NE(html.find("<TR><TD>2</TD><TD>&nbsp;</TD><TD><U>Apple Root CA</U></TD><TD>&nbsp;</TD><TD>&#63743;</TD>"),
              std::string::npos);
    EXPECT_NE(html.find("<TD>0</TD><TD>&nbsp;</TD><TD><U>Developer ID Application: Example Corp (ABCDE12345)</U></TD>"
                        "<TD>&nbsp;</TD><TD>&nbsp;</TD>"),
              std::string::npos);
    EXPECT_TRUE(identity->isAppleDeveloperIDCredentials());
    EXPECT_TRUE(identity->isAppleCredentials());
    EXPECT_EQ(text(identity->intermediateCommonName()), "Developer ID Certification Authority");
}

// Certificates are decoded once per process and shared; sharing must not let
// one set of bytes stand for another, nor free what a certificate still uses.
TEST(CertificateDecoding, SharedDecodingKeepsEachCertificateItsOwn)
{
    AutoreleasePoolScope pool;
    const fixtures::Bytes bytes = fixtures::appleCertificate("AppleRootCA.cer").der();
    const std::vector<uint8_t> der(bytes.begin(), bytes.end());
    SecCertificate* first = SecCertificate::certificateWithDER(der);
    SecCertificate* second = SecCertificate::certificateWithDER(der);
    ASSERT_NE(first, nil);
    ASSERT_NE(second, nil);
    EXPECT_NE(first, second);
    EXPECT_EQ(first->x509(), second->x509());

    // The same bytes with one more after them are no certificate, decoded
    // before or not.
    std::vector<uint8_t> longer = der;
    longer.push_back(0);
    EXPECT_EQ(SecCertificate::certificateWithDER(longer), nil);
    EXPECT_EQ(SecCertificate::certificateWithDER(longer), nil);

    // Many more distinct certificates than are kept decoded: the first still
    // answers, and decoding its bytes again gives the same answers.
    first->retain();
    const fixtures::KeyPtr key = fixtures::testKey(fixtures::KeyType::EcP256, 0);
    for (long serial = 1; serial <= 300; ++serial) {
        AutoreleasePoolScope inner;
        fixtures::CertificateRequest request;
        request.subject = {{"CN", "Certificate " + std::to_string(serial)}};
        request.key = key;
        request.serial = serial;
        const fixtures::Bytes other = fixtures::makeCertificate(request).der();
        SecCertificate* made = SecCertificate::certificateWithDER(std::vector<uint8_t>(other.begin(), other.end()));
        ASSERT_NE(made, nil);
        CFStringRef name = nullptr;
        ASSERT_EQ(SecCertificateCopyCommonName(made, &name), errSecSuccess);
        EXPECT_EQ(text(name), "Certificate " + std::to_string(serial));
        CFRelease(name);
    }
    for (SecCertificate* certificate : {first, SecCertificate::certificateWithDER(der)}) {
        CFStringRef name = nullptr;
        ASSERT_EQ(SecCertificateCopyCommonName(certificate, &name), errSecSuccess);
        EXPECT_EQ(text(name), "Apple Root CA");
        CFRelease(name);
    }
    first->release();
}

} // namespace
