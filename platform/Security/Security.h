// The code-signing and certificate services the system uses, over our own
// reader of macOS code signatures (codesign/) and OpenSSL. Code objects and
// certificates are objects of the common object model, so CFRelease and
// CFGetTypeID work on them.
#pragma once

#include "CoreFoundation/CoreFoundation.h"
#include "CertificateOutline.h"
#include "codesign/Status.h"

#include <cstdint>
#include <mutex>
#include <optional>
#include <vector>

typedef int32_t OSStatus;
typedef uint32_t SecCSFlags;

enum : OSStatus {
    errSecSuccess = 0,
    errSecParam = -50,
    errSecAllocate = -108,
    errSecUnknownFormat = -25257,
    errSecNoSuchAttr = -25303,
    errSecDecode = -26275,
    errSecCSUnimplemented = -67072,
    errSecCSInvalidObjectRef = -67071,
    errSecCSInvalidFlags = -67070,
    errSecCSObjectRequired = -67069,
    errSecCSStaticCodeNotFound = codesign::errSecCSStaticCodeNotFound,
    errSecCSUnsigned = codesign::errSecCSUnsigned,
    errSecCSSignatureFailed = codesign::errSecCSSignatureFailed,
    errSecCSSignatureNotVerifiable = codesign::errSecCSSignatureNotVerifiable,
    errSecCSSignatureUnsupported = codesign::errSecCSSignatureUnsupported,
    errSecCSBadObjectFormat = codesign::errSecCSBadObjectFormat,
    errSecCSInternalError = codesign::errSecCSInternalError,
    errSecCSInfoPlistFailed = codesign::errSecCSInfoPlistFailed,
    errSecCSNoMainExecutable = codesign::errSecCSNoMainExecutable,
    errSecCSBadBundleFormat = codesign::errSecCSBadBundleFormat,
};

enum : SecCSFlags {
    kSecCSDefaultFlags = 0,
    kSecCSInternalInformation = 1 << 0,
    kSecCSSigningInformation = 1 << 1,
    kSecCSRequirementInformation = 1 << 2,
    kSecCSDynamicInformation = 1 << 3,
    kSecCSContentInformation = 1 << 4,
};

// Keys of the signing-information dictionary, with the platform's values.
#define kSecCodeInfoIdentifier CFSTR("identifier")
#define kSecCodeInfoFormat CFSTR("format")
#define kSecCodeInfoMainExecutable CFSTR("main-executable")
#define kSecCodeInfoSource CFSTR("source")
#define kSecCodeInfoFlags CFSTR("flags")
#define kSecCodeInfoUnique CFSTR("unique")
#define kSecCodeInfoDigestAlgorithm CFSTR("digest-algorithm")
#define kSecCodeInfoCertificates CFSTR("certificates")
#define kSecCodeInfoTeamIdentifier CFSTR("teamid")
#define kSecCodeInfoPList CFSTR("info-plist")
#define kSecCodeInfoEntitlements CFSTR("entitlements")
#define kSecCodeInfoEntitlementsDict CFSTR("entitlements-dict")
#define kSecCodeInfoRequirementData CFSTR("requirement-data")
// Our own addition: the architectures of a universal file, one dictionary per
// slice ("architecture", "identifier", "signature": none/ad-hoc/certificates,
// "chosen": whether this slice is the one described).
#define kSecCodeInfoSlices CFSTR("sentrel-slices")

// A code object: the code at a path, read once when the object is made.
class SecStaticCode : public NSObject {
    OBJC_CLASS(SecStaticCode, NSObject)
public:
    SecStaticCode();
    // The facts behind the signing information (used by the dictionary builder).
    struct Facts;
    const Facts& facts() const;
    static SecStaticCode* withFacts(std::unique_ptr<Facts> facts);
    ~SecStaticCode() override;

private:
    std::unique_ptr<Facts> m_facts;
};
typedef const SecStaticCode* SecStaticCodeRef;
typedef const SecStaticCode* SecCodeRef;

CFTypeID SecStaticCodeGetTypeID();
CFTypeID SecCodeGetTypeID();

// A code object for the bundle, thin Mach-O or universal file at `path`
// (a file URL). Anything else fails with a status and yields no object.
OSStatus SecStaticCodeCreateWithPath(CFURLRef path, SecCSFlags flags, SecStaticCodeRef* staticCode);
// The running program. A Linux executable carries no Mach-O signature, so it
// reads as unsigned — except inside a Flatpak application sandbox, where the
// program reports the application-sandbox entitlement for itself, with the
// Flatpak application ID as its identifier.
OSStatus SecCodeCopySelf(SecCSFlags flags, SecCodeRef* self);
// The signing information of a code object, as the platform lays it out.
OSStatus SecCodeCopySigningInformation(SecStaticCodeRef code, SecCSFlags flags, CFDictionaryRef* information);

// Replaces what SecCodeCopySelf answers (nil restores the real program). For
// tests that need a program with entitlements of their choosing.
void SecCodeSetSelfForTesting(SecCodeRef code);
// The running program as a Flatpak sandbox describes it in its information
// file (/.flatpak-info at the root, for the program itself): the
// app-sandbox entitlement and the application's ID. Null when there is no
// such file.
SecCodeRef SecCodeCreateFromFlatpakInfo(const char* infoPath);
// A code object made from facts given directly: an identifier (nil for
// unsigned code) and an entitlements blob (nil for none).
SecStaticCodeRef SecStaticCodeCreateForTesting(CFStringRef identifier, CFDataRef entitlementsBlob);

// ---------------------------------------------------------------- certificates

class SecCertificate : public NSObject {
    OBJC_CLASS(SecCertificate, NSObject)
public:
    SecCertificate() = default;
    const std::vector<uint8_t>& der() const { return m_der; }
    // nil when the bytes are not one DER-encoded X.509 certificate. The
    // names are read from the bytes; OpenSSL decodes the certificate only
    // when the DER walk cannot (CertificateOutline.h) or x509() is asked for.
    static SecCertificate* certificateWithDER(std::vector<uint8_t> der);
    ~SecCertificate() override;
    void* x509() const;   // OpenSSL's X509*, kept opaque here; decoded on first use
    // The subject's names as the DER walk found them; null when it could not.
    const sentrel::security::CertificateOutline* outline() const { return m_outline ? &*m_outline : nullptr; }

    NSString* description() const override;
    BOOL isEqual(const NSObject* other) const override;
    NSUInteger hash() const override;

private:
    std::vector<uint8_t> m_der;
    std::optional<sentrel::security::CertificateOutline> m_outline;   // spans into m_der
    mutable std::once_flag m_decoded;
    mutable void* m_x509 = nullptr;
};
typedef const SecCertificate* SecCertificateRef;

typedef uint32_t CSSM_CERT_TYPE;
typedef uint32_t CSSM_CERT_ENCODING;
enum : CSSM_CERT_TYPE { CSSM_CERT_X_509v3 = 3 };
enum : CSSM_CERT_ENCODING { CSSM_CERT_ENCODING_DER = 3 };
struct CSSM_DATA {
    size_t Length;
    uint8_t* Data;
};

CFTypeID SecCertificateGetTypeID();
// The encoded data, borrowed from the certificate.
OSStatus SecCertificateGetData(SecCertificateRef certificate, CSSM_DATA* data);
OSStatus SecCertificateCreateFromData(const CSSM_DATA* data, CSSM_CERT_TYPE type, CSSM_CERT_ENCODING encoding,
                                      SecCertificateRef* certificate);
SecCertificateRef SecCertificateCreateWithData(CFAllocatorRef, CFDataRef data);
CFDataRef SecCertificateCopyData(SecCertificateRef certificate);
// The subject's common name (the last one when there are several);
// errSecNoSuchAttr when the subject has none.
OSStatus SecCertificateCopyCommonName(SecCertificateRef certificate, CFStringRef* commonName);
// A one-line name for the subject: its common name, else its organisation,
// organisational unit or e-mail address, else the first naming attribute.
CFStringRef SecCertificateCopySubjectSummary(SecCertificateRef certificate);

// ---------------------------------------------------------------- digests

#define CC_SHA1_DIGEST_LENGTH 20
typedef uint32_t CC_LONG;
unsigned char* CC_SHA1(const void* data, CC_LONG length, unsigned char* md);
