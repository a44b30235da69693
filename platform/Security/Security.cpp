#include "Security.h"

#include "codesign/StaticCode.h"

#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/sha.h>
#include <openssl/x509.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <fstream>
#include <mutex>
#include <string>
#include <unordered_map>

// What a code object knows: the reader's result, or an error status, plus
// where it came from.
struct SecStaticCode::Facts {
    OSStatus status = errSecSuccess;       // of the read; objects only exist for readable code
    codesign::SigningInfo info;
    std::string path;                      // what was opened (a bundle folder or a file)
    bool isBundle = false;
    Retained<NSDictionary> infoPlist;      // a bundle's Info.plist
    // Facts given directly (tests, the sandboxed program itself).
    bool synthetic = false;
    std::optional<std::vector<uint8_t>> syntheticEntitlements;

    // The certificate objects, decoded once on first request: decoding is
    // most of what a signature costs to read.
    NSArray* certificateObjects() const
    {
        std::call_once(certificatesDecoded, [this] {
            AutoreleasePoolScope pool;
            NSMutableArray* array = NSMutableArray::array();
            for (const auto& der : info.certificates)
                if (SecCertificate* certificate = SecCertificate::certificateWithDER(der))
                    array->addObject(certificate);
            certificates = NSArray::arrayWithArray(array);
        });
        return certificates;
    }

private:
    mutable std::once_flag certificatesDecoded;
    mutable Retained<NSArray> certificates;
};

OBJC_IMPLEMENTATION_TYPEID(SecStaticCode, NSObject, kCFTypeIDNextFree + 1) {}

SecStaticCode::SecStaticCode() = default;
SecStaticCode::~SecStaticCode() = default;

const SecStaticCode::Facts& SecStaticCode::facts() const
{
    static const Facts none;
    return m_facts ? *m_facts : none;
}

SecStaticCode* SecStaticCode::withFacts(std::unique_ptr<Facts> facts)
{
    SecStaticCode* code = new SecStaticCode;
    code->m_facts = std::move(facts);
    return code;
}

CFTypeID SecStaticCodeGetTypeID() { return SecStaticCode::class_()->typeID; }
CFTypeID SecCodeGetTypeID() { return SecStaticCode::class_()->typeID; }

namespace {

bool isDirectory(const std::string& path)
{
    struct stat st{};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

const char* kindName(codesign::SignatureKind kind) { return codesign::signatureKindName(kind); }

NSData* dataOf(const std::vector<uint8_t>& bytes) { return NSData::dataWithBytes(bytes.data(), bytes.size()); }

std::atomic<SecCodeRef> s_selfOverride{nullptr};

// The application a Flatpak information file names in its [Application]
// group; empty when the file cannot be read.
std::string flatpakApplicationID(const char* infoPath)
{
    std::ifstream info(infoPath);
    if (!info)
        return {};
    std::string line;
    bool inApplication = false;
    while (std::getline(info, line)) {
        if (!line.empty() && line.front() == '[')
            inApplication = line == "[Application]";
        else if (inApplication && line.rfind("name=", 0) == 0)
            return line.substr(5);
    }
    return "flatpak.application";
}

std::vector<uint8_t> entitlementsBlobFor(NSDictionary* entitlements)
{
    NSData* xml = NSPropertyListSerialization::dataWithPropertyList(entitlements, NSPropertyListXMLFormat_v1_0, nullptr);
    std::vector<uint8_t> blob = {0xFA, 0xDE, 0x71, 0x71, 0, 0, 0, 0};
    uint32_t length = static_cast<uint32_t>(xml->length() + 8);
    blob[4] = static_cast<uint8_t>(length >> 24);
    blob[5] = static_cast<uint8_t>(length >> 16);
    blob[6] = static_cast<uint8_t>(length >> 8);
    blob[7] = static_cast<uint8_t>(length);
    blob.insert(blob.end(), xml->bytes(), xml->bytes() + xml->length());
    return blob;
}

SecStaticCodeRef syntheticCode(const std::string& identifier, std::optional<std::vector<uint8_t>> entitlements)
{
    auto facts = std::make_unique<SecStaticCode::Facts>();
    facts->synthetic = true;
    facts->info.identifier = identifier;
    facts->info.kind = identifier.empty() ? codesign::SignatureKind::None : codesign::SignatureKind::AdHoc;
    facts->syntheticEntitlements = std::move(entitlements);
    return SecStaticCode::withFacts(std::move(facts));
}

} // namespace

OSStatus SecStaticCodeCreateWithPath(CFURLRef path, SecCSFlags flags, SecStaticCodeRef* staticCode)
{
    if (!staticCode)
        return errSecParam;
    *staticCode = nullptr;
    if (!path || !path->isFileURL())
        return errSecCSInvalidObjectRef;
    if (flags != kSecCSDefaultFlags)
        return errSecCSInvalidFlags;
    std::string file = path->fileSystemPath();
    codesign::Expected<codesign::SigningInfo> read = codesign::readStaticCode(file);
    if (!read)
        return read.error().status;
    auto facts = std::make_unique<SecStaticCode::Facts>();
    facts->info = std::move(read.value());
    facts->path = file;
    facts->isBundle = isDirectory(file);
    if (facts->isBundle) {
        AutoreleasePoolScope pool;
        NSBundle* bundle = NSBundle::bundleWithPath(NSString::stringWithUTF8(file));
        if (bundle && bundle->infoDictionary()->count() > 0)
            facts->infoPlist = bundle->infoDictionary();
    }
    *staticCode = SecStaticCode::withFacts(std::move(facts));
    return errSecSuccess;
}

OSStatus SecCodeCopySelf(SecCSFlags flags, SecCodeRef* self)
{
    if (!self)
        return errSecParam;
    *self = nullptr;
    if (flags != kSecCSDefaultFlags)
        return errSecCSInvalidFlags;
    if (SecCodeRef replaced = s_selfOverride.load()) {
        *self = static_cast<SecCodeRef>(replaced->retain());
        return errSecSuccess;
    }
    // Inside a Flatpak sandbox the runtime puts its information file at the
    // root. Outside one, our own executable is ELF: it has no code signature
    // to read.
    if (SecCodeRef sandboxed = SecCodeCreateFromFlatpakInfo("/.flatpak-info"))
        *self = sandboxed;
    else
        *self = syntheticCode("", std::nullopt);
    return errSecSuccess;
}

SecCodeRef SecCodeCreateFromFlatpakInfo(const char* infoPath)
{
    const std::string application = infoPath ? flatpakApplicationID(infoPath) : std::string();
    if (application.empty())
        return nullptr;
    AutoreleasePoolScope pool;
    NSDictionary* sandbox = NSDictionary::dictionaryWithObjectsForKeys(
        {{NSNumber::numberWithBool(true), NSSTR("com.apple.security.app-sandbox")}});
    return syntheticCode(application, entitlementsBlobFor(sandbox));
}

void SecCodeSetSelfForTesting(SecCodeRef code)
{
    if (code)
        code->retain();
    if (SecCodeRef old = s_selfOverride.exchange(code))
        old->release();
}

SecStaticCodeRef SecStaticCodeCreateForTesting(CFStringRef identifier, CFDataRef entitlementsBlob)
{
    std::optional<std::vector<uint8_t>> blob;
    if (entitlementsBlob)
        blob = entitlementsBlob->vector();
    return syntheticCode(identifier ? identifier->utf8() : std::string(), std::move(blob));
}

OSStatus SecCodeCopySigningInformation(SecStaticCodeRef code, SecCSFlags flags, CFDictionaryRef* information)
{
    if (!information)
        return errSecParam;
    *information = nullptr;
    if (!code)
        return errSecCSInvalidObjectRef;
    if (flags & ~(kSecCSInternalInformation | kSecCSSigningInformation | kSecCSRequirementInformation |
                  kSecCSDynamicInformation | kSecCSContentInformation))
        return errSecCSInvalidFlags;

    AutoreleasePoolScope pool;
    const SecStaticCode::Facts& facts = code->facts();
    const codesign::SigningInfo& info = facts.info;
    NSMutableDictionary* dict = NSMutableDictionary::dictionary();
    bool isSigned = info.kind != codesign::SignatureKind::None;

    // Always present: where the code is and what format it has.
    if (!facts.synthetic) {
        dict->setObject(NSURL::fileURLWithFileSystemRepresentation(info.mainExecutable.c_str(), false),
                        kSecCodeInfoMainExecutable);
        std::string format = info.slices.empty() ? "Mach-O thin (" + info.architecture + ")" : "Mach-O universal (";
        if (!info.slices.empty()) {
            for (size_t i = 0; i < info.slices.size(); ++i)
                format += (i ? " " : "") + info.slices[i].architecture;
            format += ")";
        }
        if (facts.isBundle)
            format = (facts.path.ends_with(".app") || facts.path.ends_with(".app/") ? "app bundle with " : "bundle with ") + format;
        dict->setObject(NSString::stringWithUTF8(format), kSecCodeInfoFormat);
        if (facts.infoPlist)
            dict->setObject(facts.infoPlist, kSecCodeInfoPList);
        if (!info.slices.empty()) {
            NSMutableArray* slices = NSMutableArray::array();
            for (size_t i = 0; i < info.slices.size(); ++i) {
                const codesign::Slice& s = info.slices[i];
                slices->addObject(NSDictionary::dictionaryWithObjectsForKeys(
                    {{NSString::stringWithUTF8(s.architecture), NSSTR("architecture")},
                     {NSString::stringWithUTF8(s.identifier), NSSTR("identifier")},
                     {NSString::stringWithUTF8String(kindName(s.kind)), NSSTR("signature")},
                     {NSNumber::numberWithBool(i == info.chosenSlice), NSSTR("chosen")}}));
            }
            dict->setObject(slices, kSecCodeInfoSlices);
        }
    }
    if (isSigned) {
        dict->setObject(NSString::stringWithUTF8(info.identifier), kSecCodeInfoIdentifier);
        if (!facts.synthetic) {
            dict->setObject(NSSTR("embedded"), kSecCodeInfoSource);
            dict->setObject(NSNumber::numberWithUnsignedLongLong(info.codeDirectoryFlags), kSecCodeInfoFlags);
            dict->setObject(NSNumber::numberWithUnsignedLongLong(info.hashType), kSecCodeInfoDigestAlgorithm);
            if (!info.cdhash.empty())
                dict->setObject(dataOf(info.cdhash), kSecCodeInfoUnique);
        }
    }
    if ((flags & kSecCSSigningInformation) && isSigned) {
        // A CMS signature that carries no certificates names no signer: like
        // ad-hoc code, its information has no certificate list at all.
        if (info.kind == codesign::SignatureKind::Certificates && facts.certificateObjects()->count() > 0)
            dict->setObject(facts.certificateObjects(), kSecCodeInfoCertificates);
        if (!info.teamIdentifier.empty())
            dict->setObject(NSString::stringWithUTF8(info.teamIdentifier), kSecCodeInfoTeamIdentifier);
    }
    if ((flags & kSecCSRequirementInformation) && isSigned) {
        const auto& entitlements = facts.synthetic ? facts.syntheticEntitlements : info.entitlementsBlob;
        if (entitlements) {
            NSData* blob = dataOf(*entitlements);
            dict->setObject(blob, kSecCodeInfoEntitlements);
            // The decoded form, when the blob is an XML entitlements blob
            // holding a well-formed dictionary.
            if (blob->length() > 8 && blob->bytes()[0] == 0xfa && blob->bytes()[1] == 0xde && blob->bytes()[2] == 0x71 &&
                blob->bytes()[3] == 0x71) {
                NSData* xml = blob->subdataWithRange(NSMakeRange(8, blob->length() - 8));
                id plist = NSPropertyListSerialization::propertyListWithData(xml, NSPropertyListImmutable, nullptr, nullptr);
                if (plist && plist->isKindOfClass(NSDictionary::class_()))
                    dict->setObject(plist, kSecCodeInfoEntitlementsDict);
            }
        }
        if (info.requirementsBlob)
            dict->setObject(dataOf(*info.requirementsBlob), kSecCodeInfoRequirementData);
    }
    *information = static_cast<CFDictionaryRef>(NSDictionary::dictionaryWithDictionary(dict)->retain());
    return errSecSuccess;
}

// ---------------------------------------------------------------- certificates

OBJC_IMPLEMENTATION_TYPEID(SecCertificate, NSObject, kCFTypeIDNextFree + 2) {}

CFTypeID SecCertificateGetTypeID() { return SecCertificate::class_()->typeID; }

SecCertificate::~SecCertificate() { X509_free(static_cast<X509*>(m_x509)); }

namespace {

// Every signed file of a tree carries the same few intermediates and roots,
// and each certificate is looked at through several objects (the signature's
// chain, the identity's certificates); each distinct certificate is decoded
// once per process and shared, OpenSSL counting its references. The cache is
// keyed by the DER bytes themselves and dropped whole when it gets large, so
// that a tree of differently signed files does not keep every leaf.
class DecodedCertificates {
public:
    // A new reference to the certificate the bytes encode, nullptr when they
    // are not exactly one DER-encoded certificate.
    X509* decode(const std::vector<uint8_t>& der)
    {
        const std::string key(reinterpret_cast<const char*>(der.data()), der.size());
        std::lock_guard<std::mutex> lock(m_mutex);
        if (auto found = m_decoded.find(key); found != m_decoded.end()) {
            X509_up_ref(found->second);
            return found->second;
        }
        const unsigned char* p = der.data();
        X509* x509 = d2i_X509(nullptr, &p, static_cast<long>(der.size()));
        // One certificate, and nothing after it.
        if (!x509 || p != der.data() + der.size()) {
            X509_free(x509);
            return nullptr;
        }
        if (m_decoded.size() >= kMaxEntries)
            clear();
        X509_up_ref(x509);
        m_decoded.emplace(key, x509);
        return x509;
    }

    ~DecodedCertificates() { clear(); }

private:
    static constexpr size_t kMaxEntries = 256;

    void clear()
    {
        for (auto& [der, x509] : m_decoded)
            X509_free(x509);
        m_decoded.clear();
    }

    std::mutex m_mutex;
    std::unordered_map<std::string, X509*> m_decoded;
};

DecodedCertificates& decodedCertificates()
{
    // Never destroyed: certificates may be released by destructors that run
    // after this one would.
    static DecodedCertificates* cache = new DecodedCertificates;
    return *cache;
}

} // namespace

SecCertificate* SecCertificate::certificateWithDER(std::vector<uint8_t> der)
{
    if (der.empty() || der.size() > static_cast<size_t>(INT32_MAX))
        return nil;
    SecCertificate* certificate = new SecCertificate;
    certificate->m_der = std::move(der);
    certificate->m_outline = sentrel::security::outlineCertificate(certificate->m_der);
    // What the walk cannot read, OpenSSL decodes now, and refuses as before.
    if (!certificate->m_outline && !certificate->x509()) {
        certificate->release();
        return nil;
    }
    return static_cast<SecCertificate*>(certificate->autorelease());
}

void* SecCertificate::x509() const
{
    std::call_once(m_decoded, [this] { m_x509 = decodedCertificates().decode(m_der); });
    return m_x509;
}

NSString* SecCertificate::description() const
{
    CFStringRef summary = SecCertificateCopySubjectSummary(this);
    NSString* text = NSString::stringWithFormat("<cert(%p) s: %@>", static_cast<const void*>(this), summary);
    CFRelease(summary);
    return text;
}

BOOL SecCertificate::isEqual(const NSObject* other) const
{
    return other && other->isKindOfClass(SecCertificate::class_()) && static_cast<const SecCertificate*>(other)->m_der == m_der;
}

NSUInteger SecCertificate::hash() const
{
    return std::hash<std::string_view>()(std::string_view(reinterpret_cast<const char*>(m_der.data()), m_der.size()));
}

OSStatus SecCertificateGetData(SecCertificateRef certificate, CSSM_DATA* data)
{
    if (!certificate || !data || !certificate->isKindOfClass(SecCertificate::class_()))
        return errSecParam;
    data->Length = certificate->der().size();
    data->Data = const_cast<uint8_t*>(certificate->der().data());
    return errSecSuccess;
}

OSStatus SecCertificateCreateFromData(const CSSM_DATA* data, CSSM_CERT_TYPE type, CSSM_CERT_ENCODING encoding,
                                      SecCertificateRef* certificate)
{
    if (!certificate)
        return errSecParam;
    *certificate = nullptr;
    if (!data || (!data->Data && data->Length))
        return errSecParam;
    if (type != CSSM_CERT_X_509v3 || encoding != CSSM_CERT_ENCODING_DER)
        return errSecUnknownFormat;
    SecCertificate* made = SecCertificate::certificateWithDER(std::vector<uint8_t>(data->Data, data->Data + data->Length));
    if (!made)
        return errSecUnknownFormat;
    *certificate = static_cast<SecCertificateRef>(made->retain());
    return errSecSuccess;
}

SecCertificateRef SecCertificateCreateWithData(CFAllocatorRef, CFDataRef data)
{
    if (!data)
        return nullptr;
    SecCertificate* made = SecCertificate::certificateWithDER(data->vector());
    return made ? static_cast<SecCertificateRef>(made->retain()) : nullptr;
}

CFDataRef SecCertificateCopyData(SecCertificateRef certificate)
{
    return certificate ? CFDataCreate(nullptr, certificate->der().data(), static_cast<CFIndex>(certificate->der().size()))
                       : nullptr;
}

namespace {

// The value of the last (or first) entry with the OID in the subject, as
// read from the DER bytes; nullopt when they cannot tell (no outline, a string
// type left to OpenSSL), an empty optional pointer when there is no entry.
std::optional<NSString*> subjectEntryFromOutline(SecCertificateRef certificate, std::span<const uint8_t> oid, bool last)
{
    const sentrel::security::CertificateOutline* outline = certificate->outline();
    if (!outline)
        return std::nullopt;
    const sentrel::security::NameEntry* found = nullptr;
    for (const auto& entry : outline->subjectEntries)
        if (std::equal(entry.oid.begin(), entry.oid.end(), oid.begin(), oid.end())) {
            found = &entry;
            if (!last)
                break;
        }
    if (!found)
        return nil;
    std::optional<std::string> text = sentrel::security::entryText(*found);
    if (!text)
        return std::nullopt;
    return NSString::stringWithBytes(reinterpret_cast<const uint8_t*>(text->data()), text->size(), NSUTF8StringEncoding);
}

std::span<const uint8_t> oidOf(int nid)
{
    switch (nid) {
    case NID_commonName: return sentrel::security::kOidCommonName;
    case NID_organizationName: return sentrel::security::kOidOrganizationName;
    case NID_organizationalUnitName: return sentrel::security::kOidOrganizationalUnitName;
    case NID_pkcs9_emailAddress: return sentrel::security::kOidEmailAddress;
    default: return {};
    }
}

// A subject entry's value as a string, whatever its ASN.1 string type; nil
// when OpenSSL cannot convert it to UTF-8.
NSString* nameEntryText(X509_NAME_ENTRY* entry)
{
    unsigned char* utf8 = nullptr;
    int length = ASN1_STRING_to_UTF8(&utf8, X509_NAME_ENTRY_get_data(entry));
    if (length < 0)
        return nil;
    NSString* text = NSString::stringWithBytes(utf8, static_cast<NSUInteger>(length), NSUTF8StringEncoding);
    OPENSSL_free(utf8);
    return text;
}

// The value of the last (or first) entry of `nid` in the subject, as a string.
NSString* subjectEntry(SecCertificateRef certificate, int nid, bool last)
{
    if (std::span<const uint8_t> oid = oidOf(nid); !oid.empty())
        if (std::optional<NSString*> fromOutline = subjectEntryFromOutline(certificate, oid, last))
            return *fromOutline;
    if (!certificate->x509())
        return nil;
    X509_NAME* name = X509_get_subject_name(static_cast<X509*>(certificate->x509()));
    if (!name)
        return nil;
    int found = -1;
    for (int at = X509_NAME_get_index_by_NID(name, nid, -1); at >= 0; at = X509_NAME_get_index_by_NID(name, nid, at)) {
        found = at;
        if (!last)
            break;
    }
    if (found < 0)
        return nil;
    return nameEntryText(X509_NAME_get_entry(name, found));
}

} // namespace

OSStatus SecCertificateCopyCommonName(SecCertificateRef certificate, CFStringRef* commonName)
{
    if (!commonName)
        return errSecParam;
    *commonName = nullptr;
    if (!certificate || !certificate->isKindOfClass(SecCertificate::class_()))
        return errSecParam;
    AutoreleasePoolScope pool;
    NSString* name = subjectEntry(certificate, NID_commonName, true);
    if (!name)
        return errSecNoSuchAttr;
    *commonName = static_cast<CFStringRef>(name->retain());
    return errSecSuccess;
}

namespace {

// The subject's first entry, whatever its type, as a string.
NSString* firstSubjectEntry(SecCertificateRef certificate)
{
    if (const sentrel::security::CertificateOutline* outline = certificate->outline()) {
        if (outline->subjectEntries.empty())
            return nil;
        if (std::optional<std::string> text = sentrel::security::entryText(outline->subjectEntries.front()))
            return NSString::stringWithBytes(reinterpret_cast<const uint8_t*>(text->data()), text->size(), NSUTF8StringEncoding);
    }
    X509* x509 = static_cast<X509*>(certificate->x509());
    X509_NAME* name = x509 ? X509_get_subject_name(x509) : nullptr;
    if (!name || X509_NAME_entry_count(name) == 0)
        return nil;
    return nameEntryText(X509_NAME_get_entry(name, 0));
}

} // namespace

CFStringRef SecCertificateCopySubjectSummary(SecCertificateRef certificate)
{
    if (!certificate || !certificate->isKindOfClass(SecCertificate::class_()))
        return nullptr;
    AutoreleasePoolScope pool;
    NSString* summary = nullptr;
    for (int nid : {NID_commonName, NID_organizationName, NID_organizationalUnitName, NID_pkcs9_emailAddress})
        if ((summary = subjectEntry(certificate, nid, nid == NID_commonName)))
            break;
    if (!summary)
        summary = firstSubjectEntry(certificate);
    return summary ? static_cast<CFStringRef>(summary->retain()) : nullptr;
}

unsigned char* CC_SHA1(const void* data, CC_LONG length, unsigned char* md)
{
    if (!md)
        return nullptr;
    // Fetched once: OpenSSL's one-shot SHA1() looks the algorithm up again
    // at every call.
    static EVP_MD* const sha1 = EVP_MD_fetch(nullptr, "SHA1", nullptr);
    if (!sha1 || EVP_Digest(data, length, md, nullptr, sha1, nullptr) != 1)
        SHA1(static_cast<const unsigned char*>(data), length, md);
    return md;
}
