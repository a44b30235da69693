// Certificate names read by the DER walk (CertificateOutline) agree with
// OpenSSL's reading of the same certificate, and hostile bytes are refused
// without being read past their end.
#include "CertificateOutline.h"
#include "Security.h"
#include "fixtures/Certificates.h"

#include <openssl/x509.h>

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

namespace {

using sentrel::security::entryText;
using sentrel::security::outlineCertificate;

std::vector<uint8_t> toVector(const fixtures::Bytes& bytes) { return {bytes.begin(), bytes.end()}; }

struct RawEntry {
    int nid;
    int type;            // V_ASN1_UTF8STRING, V_ASN1_T61STRING, ...: the bytes are stored as they are
    std::string bytes;
    int set = -1;        // 0: joins the previous entry's RDN (a multi-valued RDN)
};

// A self-signed certificate whose subject holds exactly these entries.
std::vector<uint8_t> certificateNamed(const std::vector<RawEntry>& entries)
{
    X509* x509 = X509_new();
    X509_set_version(x509, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(x509), 7);
    X509_gmtime_adj(X509_getm_notBefore(x509), 0);
    X509_gmtime_adj(X509_getm_notAfter(x509), 3600);
    X509_NAME* name = X509_get_subject_name(x509);
    for (const RawEntry& e : entries)
        X509_NAME_add_entry_by_NID(name, e.nid, e.type, reinterpret_cast<const unsigned char*>(e.bytes.data()),
                                   static_cast<int>(e.bytes.size()), -1, e.set);
    X509_set_issuer_name(x509, name);
    const fixtures::KeyPtr key = fixtures::testKey(fixtures::KeyType::EcP256, 1);
    X509_set_pubkey(x509, key.get());
    X509_sign(x509, key.get(), EVP_sha256());
    unsigned char* der = nullptr;
    const int length = i2d_X509(x509, &der);
    std::vector<uint8_t> out(der, der + length);
    OPENSSL_free(der);
    X509_free(x509);
    return out;
}

// Every subject entry as OpenSSL reads it: OID bytes and UTF-8 text
// ("<none>" where OpenSSL gives no text).
std::vector<std::pair<std::string, std::string>> openSslEntries(const std::vector<uint8_t>& der)
{
    const unsigned char* p = der.data();
    X509* x509 = d2i_X509(nullptr, &p, static_cast<long>(der.size()));
    std::vector<std::pair<std::string, std::string>> entries;
    X509_NAME* name = X509_get_subject_name(x509);
    for (int i = 0; i < X509_NAME_entry_count(name); ++i) {
        X509_NAME_ENTRY* entry = X509_NAME_get_entry(name, i);
        const ASN1_OBJECT* object = X509_NAME_ENTRY_get_object(entry);
        std::string oid(reinterpret_cast<const char*>(OBJ_get0_data(object)), OBJ_length(object));
        unsigned char* utf8 = nullptr;
        const int length = ASN1_STRING_to_UTF8(&utf8, X509_NAME_ENTRY_get_data(entry));
        entries.emplace_back(oid, length < 0 ? "<none>" : std::string(reinterpret_cast<char*>(utf8), length));
        OPENSSL_free(utf8);
    }
    X509_free(x509);
    return entries;
}

std::vector<std::pair<std::string, std::string>> outlineEntries(const std::vector<uint8_t>& der)
{
    std::vector<std::pair<std::string, std::string>> entries;
    const auto outline = outlineCertificate(der);
    for (const auto& entry : outline->subjectEntries)
        entries.emplace_back(std::string(entry.oid.begin(), entry.oid.end()), entryText(entry).value_or("<none>"));
    return entries;
}

std::vector<std::vector<uint8_t>> realCertificates()
{
    std::vector<std::vector<uint8_t>> all;
    for (const char* file : {"AppleRootCA.cer", "AppleRootCA-G3.cer", "AppleWWDRCA-2008.cer", "AppleWWDRCAG3.cer",
                             "DeveloperIDCA.cer", "DeveloperIDG2CA.cer", "AppleTimestampCA.cer",
                             "AppleMacOSApplicationSigning.cer"})
        all.push_back(toVector(fixtures::appleCertificate(file).der()));
    for (const auto& certificate : fixtures::developerIdChain("Outline Tests", "OUTLINE123"))
        all.push_back(toVector(certificate.der()));
    for (const auto& certificate : fixtures::ownChain(3, fixtures::KeyType::Rsa2048, "Own Leaf", "TEAM000001"))
        all.push_back(toVector(certificate.der()));
    return all;
}

TEST(CertificateOutline, NamesAgreeWithOpenSsl)
{
    std::vector<std::vector<uint8_t>> certificates = realCertificates();
    // The string types certificates use, Latin-1 and non-ASCII text, a
    // multi-valued RDN and a name with no entries at all.
    certificates.push_back(certificateNamed({{NID_commonName, V_ASN1_T61STRING, "Caf\xe9 \xc0 la carte"},
                                             {NID_organizationName, V_ASN1_BMPSTRING, std::string("\0S\0\xe9\x04\x10", 6)},
                                             {NID_organizationalUnitName, V_ASN1_UTF8STRING, "\xe6\x9d\xb1\xe4\xba\xac", 0},
                                             {NID_pkcs9_emailAddress, V_ASN1_IA5STRING, "ca@example.org"},
                                             {NID_countryName, V_ASN1_PRINTABLESTRING, "FR"}}));
    certificates.push_back(certificateNamed({}));
    for (const auto& der : certificates) {
        ASSERT_TRUE(outlineCertificate(der)) << der.size() << " bytes";
        EXPECT_EQ(outlineEntries(der), openSslEntries(der));
    }
}

TEST(CertificateOutline, TextOpenSslMustReadIsLeftToIt)
{
    // UniversalString, and a UTF8String that is not UTF-8: no text from the
    // walk; the certificate still answers through OpenSSL, as it did.
    const auto universal = certificateNamed({{NID_commonName, V_ASN1_UNIVERSALSTRING, std::string("\0\0\0A\0\0\0B", 8)}});
    const auto invalid = certificateNamed({{NID_commonName, V_ASN1_UTF8STRING, "bad \xc0\x80 text"}});
    for (const auto* der : {&universal, &invalid}) {
        ASSERT_TRUE(outlineCertificate(*der));
        EXPECT_FALSE(entryText(outlineCertificate(*der)->subjectEntries.at(0)));
    }
    AutoreleasePoolScope pool;
    CFStringRef name = nullptr;
    ASSERT_EQ(SecCertificateCopyCommonName(SecCertificate::certificateWithDER(universal), &name), errSecSuccess);
    EXPECT_EQ(name->utf8(), "AB");
    CFRelease(name);
    EXPECT_EQ(SecCertificateCopyCommonName(SecCertificate::certificateWithDER(invalid), &name), errSecNoSuchAttr);
    EXPECT_EQ(SecCertificateCopySubjectSummary(SecCertificate::certificateWithDER(certificateNamed({}))), nullptr);
}

TEST(CertificateOutline, HostileBytesAreRefused)
{
    const std::vector<uint8_t> der = toVector(fixtures::appleCertificate("DeveloperIDCA.cer").der());
    ASSERT_TRUE(outlineCertificate(der));
    // Cut anywhere, or followed by anything: not a certificate.
    for (size_t length = 0; length < der.size(); ++length)
        EXPECT_FALSE(outlineCertificate(std::span(der).first(length))) << length;
    std::vector<uint8_t> longer = der;
    longer.push_back(0);
    EXPECT_FALSE(outlineCertificate(longer));
    // An indefinite length (BER, not DER) and a length past the end.
    std::vector<uint8_t> indefinite = der;
    indefinite[1] = 0x80;
    EXPECT_FALSE(outlineCertificate(indefinite));
    std::vector<uint8_t> overlong = der;
    overlong[3] = static_cast<uint8_t>(overlong[3] + 1);
    EXPECT_FALSE(outlineCertificate(overlong));
    // Every byte changed in turn: refused or read within the bytes (the
    // sanitizers watch), and never a certificate with a different subject
    // from a change outside it.
    const auto subject = outlineCertificate(der)->subject;
    const size_t subjectStart = static_cast<size_t>(subject.data() - der.data());
    for (size_t at = 0; at < der.size(); ++at) {
        std::vector<uint8_t> changed = der;
        changed[at] ^= 0xff;
        if (auto outline = outlineCertificate(changed); outline && (at < subjectStart || at >= subjectStart + subject.size())) {
            EXPECT_TRUE(std::equal(outline->subject.begin(), outline->subject.end(), subject.begin(), subject.end())) << at;
            for (const auto& entry : outline->subjectEntries)
                entryText(entry);
        }
    }
    AutoreleasePoolScope pool;
    EXPECT_EQ(SecCertificate::certificateWithDER(longer), nil);
    EXPECT_EQ(SecCertificate::certificateWithDER(std::vector<uint8_t>(der.begin(), der.begin() + 100)), nil);
}

} // namespace
