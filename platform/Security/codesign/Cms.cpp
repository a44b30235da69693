#include "codesign/Cms.h"

#include "CertificateOutline.h"

#include <openssl/bio.h>
#include <openssl/cms.h>
#include <openssl/err.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>

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


// ------------------------------------------------------------ the outline

// One BER element: its tag byte, its content and the whole of it.
struct Element {
    std::uint8_t tag = 0;
    std::span<const std::uint8_t> content;
    std::span<const std::uint8_t> whole;
};

constexpr int kMaxDepth = 32;

// The element at the start of `in` (definite or indefinite length); nullopt
// when it is not well formed or runs past the end.
std::optional<Element> readElement(std::span<const std::uint8_t> in, int depth) {
    if (depth > kMaxDepth || in.size() < 2) return std::nullopt;
    const std::uint8_t tag = in[0];
    if ((tag & 0x1f) == 0x1f) return std::nullopt;  // high tag numbers: none in a signature's outline
    std::size_t pos = 1;
    const std::uint8_t first = in[pos++];
    if (first == 0x80) {
        if (!(tag & 0x20)) return std::nullopt;  // only constructed elements have indefinite lengths
        for (std::size_t at = pos;;) {
            if (in.size() - at >= 2 && in[at] == 0 && in[at + 1] == 0)
                return Element{tag, in.subspan(pos, at - pos), in.first(at + 2)};
            auto child = readElement(in.subspan(at), depth + 1);
            if (!child) return std::nullopt;
            at += child->whole.size();
        }
    }
    std::size_t length = first;
    if (first & 0x80) {
        const std::size_t bytes = first & 0x7f;
        if (bytes == 0 || bytes > 4 || in.size() - pos < bytes) return std::nullopt;
        length = 0;
        for (std::size_t i = 0; i < bytes; ++i) length = (length << 8) | in[pos++];
    }
    if (in.size() - pos < length) return std::nullopt;
    return Element{tag, in.subspan(pos, length), in.first(pos + length)};
}

// The elements that make up a constructed element's content, exactly.
std::optional<std::vector<Element>> childrenOf(const Element& element, int depth) {
    if (!(element.tag & 0x20)) return std::nullopt;
    std::vector<Element> children;
    for (std::span<const std::uint8_t> rest = element.content; !rest.empty();) {
        auto child = readElement(rest, depth + 1);
        if (!child) return std::nullopt;
        children.push_back(*child);
        rest = rest.subspan(child->whole.size());
    }
    return children;
}

// What the chain depends on: the certificates field of the SignedData as
// stored, and the first SignerInfo's signer identifier. nullopt unless the
// ContentInfo, the SignedData and each SignerInfo are well-formed BER of the
// expected shape, with certificates that are all plain X.509 ones.
struct Outline {
    std::span<const std::uint8_t> certificates;
    std::span<const std::uint8_t> signer;
};

std::optional<Outline> outlineOf(std::span<const std::uint8_t> bytes) {
    static constexpr std::uint8_t kSignedDataOid[] = {0x2a, 0x86, 0x48, 0x86, 0xf7, 0x0d, 0x01, 0x07, 0x02};
    auto info = readElement(bytes, 0);
    if (!info || info->tag != 0x30) return std::nullopt;
    auto parts = childrenOf(*info, 0);
    if (!parts || parts->size() != 2 || (*parts)[0].tag != 0x06 || (*parts)[1].tag != 0xa0 ||
        (*parts)[0].content.size() != sizeof kSignedDataOid ||
        std::memcmp((*parts)[0].content.data(), kSignedDataOid, sizeof kSignedDataOid) != 0)
        return std::nullopt;
    auto explicitContent = childrenOf((*parts)[1], 1);
    if (!explicitContent || explicitContent->size() != 1 || (*explicitContent)[0].tag != 0x30) return std::nullopt;
    auto fields = childrenOf((*explicitContent)[0], 2);
    // version, digestAlgorithms, encapContentInfo, [0] certificates,
    // optional [1] crls, signerInfos
    if (!fields || fields->size() < 5 || fields->size() > 6 || (*fields)[0].tag != 0x02 || (*fields)[1].tag != 0x31 ||
        (*fields)[2].tag != 0x30 || (*fields)[3].tag != 0xa0 || fields->back().tag != 0x31 ||
        (fields->size() == 6 && (*fields)[4].tag != 0xa1))
        return std::nullopt;
    auto certificates = childrenOf((*fields)[3], 3);
    if (!certificates || certificates->empty()) return std::nullopt;
    for (const Element& certificate : *certificates)
        if (certificate.tag != 0x30) return std::nullopt;
    auto signers = childrenOf(fields->back(), 3);
    if (!signers || signers->empty()) return std::nullopt;
    std::span<const std::uint8_t> signer;
    for (const Element& signerInfo : *signers) {
        auto signerFields = signerInfo.tag == 0x30 ? childrenOf(signerInfo, 4) : std::nullopt;
        if (!signerFields || signerFields->size() < 5) return std::nullopt;
        if (signer.empty()) signer = (*signerFields)[1].whole;
    }
    return Outline{(*fields)[3].whole, signer};
}

// Chains already worked out, keyed by what they depend on. Files signed by
// the same identity carry the same certificates (only the signature and the
// signed attributes differ), so a tree of them costs one parse. Emptied
// whole when it gets large.
class KnownChains {
public:
    std::optional<std::vector<Certificate>> find(const std::string& key) {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto found = m_chains.find(key);
        if (found == m_chains.end()) return std::nullopt;
        return found->second;
    }
    void add(std::string key, const std::vector<Certificate>& chain) {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_chains.size() >= kMaxEntries) m_chains.clear();
        m_chains.emplace(std::move(key), chain);
    }

private:
    static constexpr std::size_t kMaxEntries = 64;
    std::mutex m_mutex;
    std::unordered_map<std::string, std::vector<Certificate>> m_chains;
};

KnownChains& knownChains() {
    static KnownChains* chains = new KnownChains;  // never destroyed: used until the end
    return *chains;
}

std::string keyOf(const Outline& outline) {
    std::string key = std::to_string(outline.certificates.size()) + ":";
    key.append(reinterpret_cast<const char*>(outline.certificates.data()), outline.certificates.size());
    key.append(reinterpret_cast<const char*>(outline.signer.data()), outline.signer.size());
    return key;
}

Expected<std::vector<Certificate>> parseCertificates(std::span<const std::uint8_t> bytes);

// The chain worked out from the certificates' names alone, read by a DER
// walk: what almost every signature allows, and OpenSSL then decodes
// nothing (decoding certificates, public keys included, is the dearest part
// of reading a signature). nullopt whenever names cannot settle it the way
// OpenSSL's rules below would: a certificate the walk does not read, a
// signer matched by no certificate or by several, an issuer named by
// several, key identifiers that disagree with the names, a self-issued
// certificate whose key identifiers differ, or certificates left over where
// the chain stops (their names might match once canonicalised).
std::optional<std::vector<Certificate>> chainByNames(const Outline& outline) {
    using sentrel::security::CertificateOutline;
    const auto same = [](std::span<const std::uint8_t> a, std::span<const std::uint8_t> b) {
        return std::equal(a.begin(), a.end(), b.begin(), b.end());
    };
    auto field = readElement(outline.certificates, 3);
    auto elements = field ? childrenOf(*field, 3) : std::nullopt;
    if (!elements || elements->empty() || elements->size() > kMaxCmsCertificates) return std::nullopt;
    std::vector<CertificateOutline> certificates;
    for (const Element& element : *elements) {
        auto certificate = sentrel::security::outlineCertificate(element.whole);
        if (!certificate) return std::nullopt;
        certificates.push_back(std::move(*certificate));
    }

    // The signer: IssuerAndSerialNumber, or [0] SubjectKeyIdentifier.
    auto signer = readElement(outline.signer, 4);
    if (!signer) return std::nullopt;
    const auto issuerAndSerial = signer->tag == 0x30 ? childrenOf(*signer, 5) : std::nullopt;
    const bool byIssuerAndSerial =
        issuerAndSerial && issuerAndSerial->size() == 2 && (*issuerAndSerial)[1].tag == 0x02;
    std::optional<std::size_t> leaf;
    for (std::size_t i = 0; i < certificates.size(); ++i) {
        bool match = false;
        if (byIssuerAndSerial) {
            match = same(certificates[i].issuer, (*issuerAndSerial)[0].whole) &&
                    same(certificates[i].serialNumber, (*issuerAndSerial)[1].content);
        } else if (signer->tag == 0x80) {
            match = !certificates[i].subjectKeyId.empty() && same(certificates[i].subjectKeyId, signer->content);
        }
        if (match && leaf) return std::nullopt;
        if (match) leaf = i;
    }
    if (!leaf) return std::nullopt;

    std::vector<bool> used(certificates.size(), false);
    std::vector<std::size_t> order{*leaf};
    used[*leaf] = true;
    // Key identifiers, where both are there, name the same key.
    const auto keysAgree = [&](const CertificateOutline& child, const CertificateOutline& issuer) {
        return child.authorityKeyId.empty() || issuer.subjectKeyId.empty() ||
               same(child.authorityKeyId, issuer.subjectKeyId);
    };
    for (std::size_t current = *leaf;;) {
        const CertificateOutline& child = certificates[current];
        if (same(child.subject, child.issuer)) {
            if (!keysAgree(child, child)) return std::nullopt;
            break;   // a self-issued root
        }
        std::optional<std::size_t> next;
        for (std::size_t i = 0; i < certificates.size(); ++i) {
            if (used[i] || !same(certificates[i].subject, child.issuer)) continue;
            if (next) return std::nullopt;
            next = i;
        }
        if (!next) {
            if (std::find(used.begin(), used.end(), false) != used.end()) return std::nullopt;
            break;
        }
        if (!keysAgree(child, certificates[*next])) return std::nullopt;
        used[*next] = true;
        order.push_back(*next);
        current = *next;
    }
    std::vector<Certificate> chain;
    chain.reserve(order.size());
    for (std::size_t index : order) chain.emplace_back((*elements)[index].whole.begin(), (*elements)[index].whole.end());
    return chain;
}

}  // namespace

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

Expected<std::vector<Certificate>> certificatesFromCms(std::span<const std::uint8_t> bytes) {
    const std::optional<Outline> outline = outlineOf(bytes);
    std::string key;
    if (outline) {
        key = keyOf(*outline);
        if (auto chain = knownChains().find(key)) return std::move(*chain);
        if (auto chain = chainByNames(*outline)) {
            knownChains().add(std::move(key), *chain);
            return std::move(*chain);
        }
    }
    auto chain = parseCertificates(bytes);
    if (outline && chain) knownChains().add(std::move(key), *chain);
    return chain;
}

namespace {

Expected<std::vector<Certificate>> parseCertificates(std::span<const std::uint8_t> bytes) {
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
        // Read as part of a CMS, OpenSSL lets through certificates that it
        // refuses on their own (a version past 3, say); what is handed out
        // must be a certificate by itself.
        const unsigned char* read = der;
        X509* single = d2i_X509(nullptr, &read, length);
        const bool alone = single && read == der + length;
        X509_free(single);
        if (alone) out.emplace_back(der, der + length);
        OPENSSL_free(der);
        if (!alone) return failed("holds a certificate that is not one on its own");
    }
    ERR_clear_error();
    return out;
}

}  // namespace

}  // namespace codesign
