#include "codesign/Cms.h"

#include <openssl/bio.h>
#include <openssl/cms.h>
#include <openssl/err.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <climits>
#include <memory>
#include <string>

namespace codesign {

namespace {

struct CmsDeleter {
    void operator()(CMS_ContentInfo* cms) const { CMS_ContentInfo_free(cms); }
};
struct BioDeleter {
    void operator()(BIO* bio) const { BIO_free(bio); }
};
struct CertStackDeleter {
    void operator()(STACK_OF(X509)* certs) const { sk_X509_pop_free(certs, X509_free); }
};

// The oldest OpenSSL error as text, and an empty queue afterwards so that the
// caller's next OpenSSL call starts clean.
std::string takeOpenSslError() {
    const unsigned long code = ERR_peek_error();
    std::string text;
    if (code != 0) {
        char buffer[256];
        ERR_error_string_n(code, buffer, sizeof buffer);
        text = buffer;
    }
    ERR_clear_error();
    return text;
}

Error failed(const std::string& what) {
    std::string message = "CMS signature " + what;
    const std::string detail = takeOpenSslError();
    if (!detail.empty()) message += " (" + detail + ")";
    return {errSecCSSignatureFailed, message};
}

// The issuer's subject is the subject's issuer and their key identifiers agree.
bool issued(X509* issuer, X509* subject) { return X509_check_issued(issuer, subject) == X509_V_OK; }

bool namedIssuer(X509* issuer, X509* subject) {
    return X509_NAME_cmp(X509_get_subject_name(issuer), X509_get_issuer_name(subject)) == 0;
}

// The issuer's key verifies the subject's signature.
bool signedBy(X509* issuer, X509* subject) {
    EVP_PKEY* key = X509_get0_pubkey(issuer);
    return key && X509_verify(subject, key) == 1;
}

// How well a certificate fits as the subject's issuer: 3 it issued and signed
// it, 2 it issued it (a re-keyed certificate of the same name and key
// identifiers that did not sign it stays behind), 1 only the names match,
// 0 not at all. A signature we cannot check still leaves the names, which
// is what a chain ending in certificates we hold no keys for needs.
int issuerFit(X509* issuer, X509* subject) {
    if (issued(issuer, subject)) return signedBy(issuer, subject) ? 3 : 2;
    if (namedIssuer(issuer, subject)) return signedBy(issuer, subject) ? 3 : 1;
    return 0;
}

}  // namespace

Expected<std::vector<Certificate>> certificatesFromCms(std::span<const std::uint8_t> bytes) {
    ERR_clear_error();
    if (bytes.empty()) return failed("is empty");
    if (bytes.size() > INT_MAX) return failed("is too large");
    std::unique_ptr<BIO, BioDeleter> bio(BIO_new_mem_buf(bytes.data(), static_cast<int>(bytes.size())));
    if (!bio) return failed("could not be read");
    std::unique_ptr<CMS_ContentInfo, CmsDeleter> cms(d2i_CMS_bio(bio.get(), nullptr));
    if (!cms) return failed("is not valid DER or BER");
    if (OBJ_obj2nid(CMS_get0_type(cms.get())) != NID_pkcs7_signed) return failed("is not a SignedData");

    std::unique_ptr<STACK_OF(X509), CertStackDeleter> stack(CMS_get1_certs(cms.get()));
    ERR_clear_error();  // no certificates at all is not an error
    const int count = stack ? sk_X509_num(stack.get()) : 0;
    if (count <= 0) return std::vector<Certificate>{};
    if (static_cast<std::size_t>(count) > kMaxCmsCertificates) {
        return failed("holds " + std::to_string(count) + " certificates, more than " +
                      std::to_string(kMaxCmsCertificates));
    }
    std::vector<X509*> stored;
    for (int i = 0; i < count; ++i) stored.push_back(sk_X509_value(stack.get(), i));

    // 1. The leaf.
    std::size_t leaf = stored.size();
    STACK_OF(CMS_SignerInfo)* signers = CMS_get0_SignerInfos(cms.get());
    if (signers && sk_CMS_SignerInfo_num(signers) > 0) {
        CMS_SignerInfo* signer = sk_CMS_SignerInfo_value(signers, 0);
        for (std::size_t i = 0; i < stored.size() && leaf == stored.size(); ++i) {
            if (CMS_SignerInfo_cert_cmp(signer, stored[i]) == 0) leaf = i;
        }
    }
    for (std::size_t i = 0; i < stored.size() && leaf == stored.size(); ++i) {
        bool issuesAnother = false;
        for (std::size_t j = 0; j < stored.size() && !issuesAnother; ++j) {
            issuesAnother = j != i && issued(stored[i], stored[j]);
        }
        if (!issuesAnother) leaf = i;
    }
    if (leaf == stored.size()) leaf = 0;

    // 2. Its issuers, the best fitting one at each step. Certificates off
    // this path are not part of the chain.
    std::vector<bool> used(stored.size(), false);
    std::vector<std::size_t> order{leaf};
    used[leaf] = true;
    for (std::size_t current = leaf; !issued(stored[current], stored[current]);) {
        std::size_t next = stored.size();
        int bestFit = 0;
        for (std::size_t i = 0; i < stored.size() && bestFit < 3; ++i) {
            if (used[i]) continue;
            const int fit = issuerFit(stored[i], stored[current]);
            if (fit > bestFit) {
                bestFit = fit;
                next = i;
            }
        }
        if (next == stored.size()) break;
        used[next] = true;
        order.push_back(next);
        current = next;
    }

    std::vector<Certificate> out;
    out.reserve(order.size());
    for (std::size_t index : order) {
        unsigned char* der = nullptr;
        const int length = i2d_X509(stored[index], &der);
        if (length <= 0) return failed("holds a certificate that cannot be encoded");
        out.emplace_back(der, der + length);
        OPENSSL_free(der);
    }
    ERR_clear_error();
    return out;
}

}  // namespace codesign
