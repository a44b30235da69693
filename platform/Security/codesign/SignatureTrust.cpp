#include "codesign/SignatureTrust.h"

#include <openssl/asn1.h>
#include <openssl/bio.h>
#include <openssl/cms.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/ts.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

#include "codesign/AppleCertificates.h"
#include "plist/PropertyListBytes.h"

namespace codesign {

namespace {

struct CmsDeleter { void operator()(CMS_ContentInfo* p) const { CMS_ContentInfo_free(p); } };
struct BioDeleter { void operator()(BIO* p) const { BIO_free(p); } };
struct X509Deleter { void operator()(X509* p) const { X509_free(p); } };
struct StackDeleter { void operator()(STACK_OF(X509)* p) const { sk_X509_pop_free(p, X509_free); } };
struct StoreDeleter { void operator()(X509_STORE* p) const { X509_STORE_free(p); } };
struct StoreCtxDeleter { void operator()(X509_STORE_CTX* p) const { X509_STORE_CTX_free(p); } };
struct ObjectDeleter { void operator()(ASN1_OBJECT* p) const { ASN1_OBJECT_free(p); } };
struct TstDeleter { void operator()(TS_TST_INFO* p) const { TS_TST_INFO_free(p); } };

using CmsPtr = std::unique_ptr<CMS_ContentInfo, CmsDeleter>;
using BioPtr = std::unique_ptr<BIO, BioDeleter>;
using X509Ptr = std::unique_ptr<X509, X509Deleter>;
using StackPtr = std::unique_ptr<STACK_OF(X509), StackDeleter>;
using StorePtr = std::unique_ptr<X509_STORE, StoreDeleter>;

// Apple's arcs: certificate-profile extensions and signed attributes.
constexpr const char* kAppleExtensionArc = "1.2.840.113635.100.";
constexpr const char* kOidDeveloperIDLeaf = "1.2.840.113635.100.6.1.13";
constexpr const char* kOidDeveloperIDInstallerLeaf = "1.2.840.113635.100.6.1.14";
constexpr const char* kOidDeveloperIDIntermediate = "1.2.840.113635.100.6.2.6";
constexpr const char* kOidMacAppStoreLeaf = "1.2.840.113635.100.6.1.9";
constexpr const char* kOidMacDevelopmentLeaf = "1.2.840.113635.100.6.1.12";
constexpr const char* kOidAppleDevelopmentLeaf = "1.2.840.113635.100.6.1.2";
constexpr const char* kOidAppleCodeSigningUsage = "1.2.840.113635.100.4.1";
constexpr const char* kOidCdHashesPlist = "1.2.840.113635.100.9.1";
constexpr const char* kOidCdHashesAgility = "1.2.840.113635.100.9.2";
constexpr const char* kOidTimestampToken = "1.2.840.113549.1.9.16.2.14";

std::unique_ptr<ASN1_OBJECT, ObjectDeleter> objectFor(const char* oid) {
    return std::unique_ptr<ASN1_OBJECT, ObjectDeleter>(OBJ_txt2obj(oid, 1));
}

X509Ptr decode(std::span<const std::uint8_t> der) {
    const unsigned char* p = der.data();
    return X509Ptr(d2i_X509(nullptr, &p, static_cast<long>(der.size())));
}

// A trust policy's certificates (Apple's roots and intermediates, or a
// test's own) are decoded once per process and shared, OpenSSL counting the
// references: decoding a certificate costs about as much as checking the rest
// of a signature. Keyed by their bytes; policies hold few and fixed ones.
X509Ptr decodePolicyCertificate(const Certificate& der) {
    static std::mutex mutex;
    static auto* decoded = new std::unordered_map<std::string, X509*>;  // never destroyed: used until the process ends
    std::lock_guard<std::mutex> lock(mutex);
    auto [entry, added] = decoded->try_emplace(std::string(der.begin(), der.end()), nullptr);
    if (added) entry->second = decode(der).release();
    if (entry->second) X509_up_ref(entry->second);
    return X509Ptr(entry->second);
}

std::string commonName(X509* cert) {
    X509_NAME* name = X509_get_subject_name(cert);
    const int at = name ? X509_NAME_get_index_by_NID(name, NID_commonName, -1) : -1;
    if (at < 0) return "unnamed";
    unsigned char* utf8 = nullptr;
    const int length = ASN1_STRING_to_UTF8(&utf8, X509_NAME_ENTRY_get_data(X509_NAME_get_entry(name, at)));
    std::string text = length > 0 ? std::string(reinterpret_cast<char*>(utf8), std::size_t(length)) : "unnamed";
    OPENSSL_free(utf8);
    for (char& c : text)
        if (static_cast<unsigned char>(c) < 0x20) c = '?';
    return text;
}

bool hasExtension(X509* cert, const char* oid) {
    if (!cert) return false;
    auto object = objectFor(oid);
    return object && X509_get_ext_by_OBJ(cert, object.get(), -1) >= 0;
}

bool hasExtendedUsage(X509* cert, const char* oid) {
    auto* usages = static_cast<EXTENDED_KEY_USAGE*>(X509_get_ext_d2i(cert, NID_ext_key_usage, nullptr, nullptr));
    if (!usages) return false;
    auto object = objectFor(oid);
    bool found = false;
    for (int i = 0; object && i < sk_ASN1_OBJECT_num(usages); ++i)
        found = found || OBJ_cmp(sk_ASN1_OBJECT_value(usages, i), object.get()) == 0;
    sk_ASN1_OBJECT_pop_free(usages, ASN1_OBJECT_free);
    return found;
}

std::optional<std::time_t> timeOf(const ASN1_TIME* time) {
    std::tm tm {};
    if (!time || ASN1_TIME_to_tm(time, &tm) != 1) return std::nullopt;
    return timegm(&tm);
}

std::string dateOf(const ASN1_TIME* time) {
    const auto seconds = timeOf(time);
    return seconds ? formatUtc(*seconds).substr(0, 10) : "an unreadable date";
}

// ------------------------------------------------------------ chain checking

// Every certificate-path error the verifier meets, kept to be told afterwards.
struct PathError {
    int error = 0;
    int depth = 0;
};
struct PathErrors {
    std::vector<PathError> errors;
};

// Apple marks its own profile extensions critical; OpenSSL knows none of
// them. A certificate whose only unknown critical extensions are Apple's is
// accepted; any other unknown critical extension is still an error.
bool onlyAppleCriticalExtensions(X509* cert) {
    for (int i = 0; i < X509_get_ext_count(cert); ++i) {
        X509_EXTENSION* ext = X509_get_ext(cert, i);
        if (!X509_EXTENSION_get_critical(ext) || X509_supported_extension(ext)) continue;
        char oid[80];
        OBJ_obj2txt(oid, sizeof oid, X509_EXTENSION_get_object(ext), 1);
        if (std::strncmp(oid, kAppleExtensionArc, std::strlen(kAppleExtensionArc)) != 0) return false;
    }
    return true;
}

bool appleExtensionOnly(X509_STORE_CTX* ctx) {
    return X509_STORE_CTX_get_error(ctx) == X509_V_ERR_UNHANDLED_CRITICAL_EXTENSION &&
           onlyAppleCriticalExtensions(X509_STORE_CTX_get_current_cert(ctx));
}

// Stops at the first error, other than an Apple extension.
int stopAtPathError(int ok, X509_STORE_CTX* ctx) { return ok || appleExtensionOnly(ctx); }

// Goes on past every error, keeping each in the context's PathErrors, so that
// all the problems of a chain are told.
int collectPathErrors(int ok, X509_STORE_CTX* ctx) {
    if (ok || appleExtensionOnly(ctx)) return 1;
    auto* errors = static_cast<PathErrors*>(X509_STORE_CTX_get_app_data(ctx));
    if (!errors) return 0;
    errors->errors.push_back({X509_STORE_CTX_get_error(ctx), X509_STORE_CTX_get_error_depth(ctx)});
    return 1;
}

StorePtr makeStore(const TrustPolicy& policy, std::time_t at, bool collect) {
    StorePtr store(X509_STORE_new());
    if (!store) return store;
    for (const Certificate& der : policy.anchors)
        if (X509Ptr cert = decodePolicyCertificate(der)) X509_STORE_add_cert(store.get(), cert.get());
    X509_VERIFY_PARAM* param = X509_STORE_get0_param(store.get());
    X509_VERIFY_PARAM_set_time(param, at);
    X509_VERIFY_PARAM_set_purpose(param, X509_PURPOSE_ANY);
    X509_STORE_set_verify_cb(store.get(), collect ? collectPathErrors : stopAtPathError);
    return store;
}

StackPtr untrustedCertificates(CMS_ContentInfo* cms, const TrustPolicy& policy) {
    StackPtr stack(CMS_get1_certs(cms));
    if (!stack) stack.reset(sk_X509_new_null());
    for (const Certificate& der : policy.intermediates)
        if (X509* cert = decodePolicyCertificate(der).release()) sk_X509_push(stack.get(), cert);
    return stack;
}

std::string describePathError(const PathError& failure, STACK_OF(X509)* chain, std::time_t at, bool timestamped) {
    const int count = chain ? sk_X509_num(chain) : 0;
    auto name = [&](int depth) {
        return depth < count ? "certificate " + std::to_string(depth) + " (\"" + commonName(sk_X509_value(chain, depth)) + "\")"
                             : "certificate " + std::to_string(depth);
    };
    X509* cert = failure.depth < count ? sk_X509_value(chain, failure.depth) : nullptr;
    const std::string when = formatUtc(at) + (timestamped ? " (the timestamp)" : " (now; the signature has no timestamp)");
    switch (failure.error) {
        case X509_V_ERR_CERT_SIGNATURE_FAILURE:
            return name(failure.depth) + " is not signed by " + name(failure.depth + 1);
        case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
        case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
        case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
        case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
            return "leaf not issued by an Apple CA (the chain ends at " + name(count > 0 ? count - 1 : 0) + ")";
        case X509_V_ERR_CERT_HAS_EXPIRED:
            return name(failure.depth) + " expired on " + (cert ? dateOf(X509_get0_notAfter(cert)) : "?") +
                   ", before the signing time " + when;
        case X509_V_ERR_CERT_NOT_YET_VALID:
            return name(failure.depth) + " is valid only from " + (cert ? dateOf(X509_get0_notBefore(cert)) : "?") +
                   ", after the signing time " + when;
        case X509_V_ERR_UNHANDLED_CRITICAL_EXTENSION:
            return name(failure.depth) + " has a critical extension that is not Apple's and is not understood";
        default:
            return name(failure.depth) + ": " + X509_verify_cert_error_string(failure.error);
    }
}

std::string kindOf(STACK_OF(X509)* chain) {
    X509* leaf = sk_X509_value(chain, 0);
    X509* intermediate = sk_X509_num(chain) > 1 ? sk_X509_value(chain, 1) : nullptr;
    const bool developerIdCa = hasExtension(intermediate, kOidDeveloperIDIntermediate);
    if (developerIdCa && hasExtension(leaf, kOidDeveloperIDLeaf)) return kSignerDeveloperID;
    if (developerIdCa && hasExtension(leaf, kOidDeveloperIDInstallerLeaf)) return kSignerDeveloperIDInstaller;
    if (hasExtension(leaf, kOidMacAppStoreLeaf)) return kSignerMacAppStore;
    if (hasExtension(leaf, kOidMacDevelopmentLeaf) || hasExtension(leaf, kOidAppleDevelopmentLeaf)) return kSignerDevelopment;
    if (hasExtendedUsage(leaf, kOidAppleCodeSigningUsage)) return kSignerAppleSoftware;
    return kSignerOtherApple;
}

// ------------------------------------------------------------ signed attributes

ASN1_TYPE* signedAttribute(CMS_SignerInfo* si, const char* oid, int value = 0) {
    auto object = objectFor(oid);
    const int at = object ? CMS_signed_get_attr_by_OBJ(si, object.get(), -1) : -1;
    X509_ATTRIBUTE* attribute = at >= 0 ? CMS_signed_get_attr(si, at) : nullptr;
    return attribute && value < X509_ATTRIBUTE_count(attribute) ? X509_ATTRIBUTE_get0_type(attribute, value) : nullptr;
}

int signedAttributeCount(CMS_SignerInfo* si, const char* oid) {
    auto object = objectFor(oid);
    const int at = object ? CMS_signed_get_attr_by_OBJ(si, object.get(), -1) : -1;
    X509_ATTRIBUTE* attribute = at >= 0 ? CMS_signed_get_attr(si, at) : nullptr;
    return attribute ? X509_ATTRIBUTE_count(attribute) : 0;
}

std::vector<std::uint8_t> truncated(const std::vector<std::uint8_t>& digest) {
    return {digest.begin(), digest.begin() + std::min<std::size_t>(digest.size(), 20)};
}

// The plist of cdhashes: one per code directory, in slot order.
void checkCdHashList(CMS_SignerInfo* si, const std::vector<DirectoryDigest>& directories, SignatureTrust& trust) {
    ASN1_TYPE* value = signedAttribute(si, kOidCdHashesPlist);
    if (!value) {
        if (directories.size() > 1)
            trust.problems.push_back("the alternate code directories are not covered by the signature (no signed cdhash list)");
        return;
    }
    if (value->type != V_ASN1_OCTET_STRING || value->value.octet_string->length <= 0) {
        trust.problems.push_back("the signed cdhash list is not a property list");
        return;
    }
    const plistbytes::Parsed parsed =
        plistbytes::parsePropertyList(value->value.octet_string->data, std::size_t(value->value.octet_string->length));
    plist_t root = parsed.root.get();
    plist_t list = root && plist_get_node_type(root) == PLIST_DICT ? plist_dict_get_item(root, "cdhashes") : nullptr;
    if (!list || plist_get_node_type(list) != PLIST_ARRAY) {
        trust.problems.push_back("the signed cdhash list is not a property list with a cdhashes array");
        return;
    }
    const std::uint32_t count = plist_array_get_size(list);
    for (std::size_t i = 0; i < directories.size(); ++i) {
        plist_t item = i < count ? plist_array_get_item(list, std::uint32_t(i)) : nullptr;
        std::vector<std::uint8_t> signedHash;
        if (item && plist_get_node_type(item) == PLIST_DATA) {
            std::uint64_t length = 0;
            const char* data = plist_get_data_ptr(item, &length);
            if (data) signedHash.assign(data, data + length);
        }
        if (signedHash != truncated(directories[i].digest)) {
            trust.problems.push_back("the signed cdhash list does not match code directory " + std::to_string(i));
        }
    }
}

int hashTypeOfDigestNid(int nid) {
    switch (nid) {
        case NID_sha1: return 1;
        case NID_sha256: return 2;
        case NID_sha384: return 4;
        default: return 0;
    }
}

// The hash-agility attribute: SEQUENCE { digest algorithm OID, OCTET STRING
// full digest } per code directory.
void checkAgility(CMS_SignerInfo* si, const std::vector<DirectoryDigest>& directories, SignatureTrust& trust) {
    const int count = signedAttributeCount(si, kOidCdHashesAgility);
    for (int i = 0; i < count; ++i) {
        ASN1_TYPE* value = signedAttribute(si, kOidCdHashesAgility, i);
        if (!value || value->type != V_ASN1_SEQUENCE) {
            trust.problems.push_back("the signed code directory hashes are malformed");
            continue;
        }
        const unsigned char* p = value->value.sequence->data;
        long length = 0;
        int tag = 0, cls = 0;
        const long total = value->value.sequence->length;
        const int header = ASN1_get_object(&p, &length, &tag, &cls, total);
        if ((header & 0x80) || tag != V_ASN1_SEQUENCE || length > total) {
            trust.problems.push_back("the signed code directory hashes are malformed");
            continue;
        }
        const unsigned char* end = p + length;
        std::unique_ptr<ASN1_OBJECT, ObjectDeleter> algorithm(d2i_ASN1_OBJECT(nullptr, &p, end - p));
        ASN1_OCTET_STRING* hash = algorithm && p < end ? d2i_ASN1_OCTET_STRING(nullptr, &p, end - p) : nullptr;
        if (!hash) {
            trust.problems.push_back("the signed code directory hashes are malformed");
            continue;
        }
        const int hashType = hashTypeOfDigestNid(OBJ_obj2nid(algorithm.get()));
        const std::vector<std::uint8_t> signedHash(hash->data, hash->data + hash->length);
        ASN1_OCTET_STRING_free(hash);
        for (std::size_t d = 0; d < directories.size(); ++d) {
            if (directories[d].hashType == hashType && directories[d].digest != signedHash)
                trust.problems.push_back("the signed hash of code directory " + std::to_string(d) + " does not match it");
        }
    }
}

// ------------------------------------------------------------ the timestamp

struct Timestamp {
    bool present = false;
    std::optional<std::time_t> time;  // when the token verifies
    std::string problem;
};

Timestamp checkTimestamp(CMS_SignerInfo* si, STACK_OF(X509)* untrusted, const TrustPolicy& policy) {
    Timestamp result;
    auto object = objectFor(kOidTimestampToken);
    const int at = object ? CMS_unsigned_get_attr_by_OBJ(si, object.get(), -1) : -1;
    X509_ATTRIBUTE* attribute = at >= 0 ? CMS_unsigned_get_attr(si, at) : nullptr;
    if (!attribute) return result;
    result.present = true;
    ASN1_TYPE* value = X509_ATTRIBUTE_count(attribute) > 0 ? X509_ATTRIBUTE_get0_type(attribute, 0) : nullptr;
    if (!value || value->type != V_ASN1_SEQUENCE) {
        result.problem = "the timestamp token is malformed";
        return result;
    }
    const unsigned char* p = value->value.sequence->data;
    CmsPtr token(d2i_CMS_ContentInfo(nullptr, &p, value->value.sequence->length));
    if (!token || OBJ_obj2nid(CMS_get0_eContentType(token.get())) != NID_id_smime_ct_TSTInfo) {
        result.problem = "the timestamp token is not a signed TSTInfo";
        return result;
    }
    ASN1_OCTET_STRING** content = CMS_get0_content(token.get());
    if (!content || !*content) {
        result.problem = "the timestamp token has no content";
        return result;
    }
    const unsigned char* q = (*content)->data;
    std::unique_ptr<TS_TST_INFO, TstDeleter> info(d2i_TS_TST_INFO(nullptr, &q, (*content)->length));
    const auto genTime = info ? timeOf(TS_TST_INFO_get_time(info.get())) : std::nullopt;
    if (!genTime) {
        result.problem = "the timestamp token's time is unreadable";
        return result;
    }

    // It must stamp this signature: its imprint is the digest of the signature value.
    TS_MSG_IMPRINT* imprint = TS_TST_INFO_get_msg_imprint(info.get());
    const ASN1_OBJECT* algorithm = nullptr;
    X509_ALGOR_get0(&algorithm, nullptr, nullptr, TS_MSG_IMPRINT_get_algo(imprint));
    const EVP_MD* md = algorithm ? EVP_get_digestbyobj(algorithm) : nullptr;
    ASN1_OCTET_STRING* signature = CMS_SignerInfo_get0_signature(si);
    ASN1_OCTET_STRING* stamped = TS_MSG_IMPRINT_get_msg(imprint);
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (!md || !signature || !stamped ||
        EVP_Digest(signature->data, std::size_t(signature->length), digest, &length, md, nullptr) != 1 ||
        int(length) != stamped->length || std::memcmp(digest, stamped->data, length) != 0) {
        result.problem = "the timestamp does not stamp this signature";
        return result;
    }

    StorePtr store = makeStore(policy, *genTime, false);
    if (!store || CMS_verify(token.get(), untrusted, store.get(), nullptr, nullptr, CMS_BINARY) != 1) {
        result.problem = "the timestamp token does not verify to an Apple root (" + takeOpenSslError() + ")";
        return result;
    }
    result.time = genTime;
    return result;
}

}  // namespace

std::string formatUtc(std::time_t time) {
    std::tm tm {};
    gmtime_r(&time, &tm);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", &tm);
    return text;
}

const TrustPolicy& TrustPolicy::apple() {
    static const TrustPolicy policy = [] {
        TrustPolicy made;
        for (const EmbeddedCertificate& certificate : appleCertificates()) {
            Certificate der(certificate.der.begin(), certificate.der.end());
            (certificate.anchor ? made.anchors : made.intermediates).push_back(std::move(der));
        }
        return made;
    }();
    return policy;
}

SignatureTrust checkSignature(std::span<const std::uint8_t> cmsBytes, std::span<const std::uint8_t> signedDirectory,
                              const std::vector<DirectoryDigest>& directories, const TrustPolicy& policy) {
    SignatureTrust trust;
    ERR_clear_error();
    if (cmsBytes.empty() || cmsBytes.size() > INT_MAX || signedDirectory.size() > INT_MAX) {
        trust.problems.push_back("the CMS signature is empty or too large");
        return trust;
    }
    BioPtr input(BIO_new_mem_buf(cmsBytes.data(), int(cmsBytes.size())));
    CmsPtr cms(input ? d2i_CMS_bio(input.get(), nullptr) : nullptr);
    if (!cms || OBJ_obj2nid(CMS_get0_type(cms.get())) != NID_pkcs7_signed) {
        trust.problems.push_back("the CMS signature does not parse as SignedData");
        ERR_clear_error();
        return trust;
    }
    STACK_OF(CMS_SignerInfo)* signers = CMS_get0_SignerInfos(cms.get());
    const int signerCount = signers ? sk_CMS_SignerInfo_num(signers) : 0;
    if (signerCount != 1) {
        trust.problems.push_back("the CMS signature has " + std::to_string(signerCount) + " signers, not 1");
        if (signerCount == 0) return trust;
    }
    CMS_SignerInfo* si = sk_CMS_SignerInfo_value(signers, 0);
    StackPtr untrusted = untrustedCertificates(cms.get(), policy);

    // The signature over the code directory: its messageDigest attribute and
    // the signature over the signed attributes.
    // Read through a buffering BIO: handed a memory BIO, OpenSSL 3.0's
    // CMS_verify copies it into one of its own, which it leaks when the
    // signature's content cannot be set up (found by fuzz_verify).
    std::unique_ptr<BIO, decltype(&BIO_free_all)> content(BIO_new(BIO_f_buffer()), BIO_free_all);
    if (content) BIO_push(content.get(), BIO_new_mem_buf(signedDirectory.data(), int(signedDirectory.size())));
    if (!content || !BIO_next(content.get()) ||
        CMS_verify(cms.get(), untrusted.get(), nullptr, content.get(), nullptr,
                   CMS_BINARY | CMS_NO_SIGNER_CERT_VERIFY) != 1) {
        const int reason = ERR_GET_REASON(ERR_peek_last_error());
        if (reason == CMS_R_CONTENT_VERIFY_ERROR)
            trust.problems.push_back("the CMS signature was made over a different code directory (messageDigest differs)");
        else if (reason == CMS_R_SIGNER_CERTIFICATE_NOT_FOUND)
            trust.problems.push_back("the CMS signature does not carry its signer's certificate");
        else
            trust.problems.push_back("the CMS signature does not verify with its signer's key (" + takeOpenSslError() + ")");
        ERR_clear_error();
    }
    X509* signer = nullptr;
    CMS_SignerInfo_get0_algs(si, nullptr, &signer, nullptr, nullptr);
    for (int i = 0; !signer && i < sk_X509_num(untrusted.get()); ++i)
        if (CMS_SignerInfo_cert_cmp(si, sk_X509_value(untrusted.get(), i)) == 0) signer = sk_X509_value(untrusted.get(), i);

    checkCdHashList(si, directories, trust);
    checkAgility(si, directories, trust);

    if (ASN1_TYPE* value = signedAttribute(si, "1.2.840.113549.1.9.5")) {
        if (value->type == V_ASN1_UTCTIME || value->type == V_ASN1_GENERALIZEDTIME)
            trust.signingTime = timeOf(value->value.utctime);
    }
    const Timestamp timestamp = checkTimestamp(si, untrusted.get(), policy);
    if (!timestamp.problem.empty()) trust.problems.push_back(timestamp.problem);
    if (timestamp.time) {
        trust.timestamped = true;
        trust.signingTime = timestamp.time;
    }
    ERR_clear_error();

    if (!signer) {
        if (trust.problems.empty()) trust.problems.push_back("the CMS signature does not carry its signer's certificate");
        return trust;
    }
    const std::time_t at = trust.timestamped ? *trust.signingTime : policy.now.value_or(std::time(nullptr));
    StorePtr store = makeStore(policy, at, true);
    std::unique_ptr<X509_STORE_CTX, StoreCtxDeleter> ctx(X509_STORE_CTX_new());
    if (!store || !ctx || X509_STORE_CTX_init(ctx.get(), store.get(), signer, untrusted.get()) != 1) {
        trust.problems.push_back("the certificate chain could not be checked (" + takeOpenSslError() + ")");
        return trust;
    }
    PathErrors errors;
    X509_STORE_CTX_set_app_data(ctx.get(), &errors);
    const bool verified = X509_verify_cert(ctx.get()) == 1;
    STACK_OF(X509)* chain = X509_STORE_CTX_get0_chain(ctx.get());
    std::vector<std::string> messages;
    for (const PathError& failure : errors.errors) {
        std::string message = describePathError(failure, chain, at, trust.timestamped);
        if (std::find(messages.begin(), messages.end(), message) == messages.end()) messages.push_back(std::move(message));
    }
    if (!verified && messages.empty()) messages.push_back("the certificate chain does not verify");
    if (X509_get_extension_flags(signer) & EXFLAG_XKUSAGE && !(X509_get_extended_key_usage(signer) & XKU_CODE_SIGN))
        messages.push_back("the leaf certificate is not for code signing (no codeSigning extended key usage)");
    trust.chainTrusted = verified && messages.empty();
    trust.problems.insert(trust.problems.end(), messages.begin(), messages.end());
    if (trust.chainTrusted && chain) trust.signerKind = kindOf(chain);
    ERR_clear_error();
    return trust;
}

}  // namespace codesign
