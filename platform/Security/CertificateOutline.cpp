#include "CertificateOutline.h"

#include <algorithm>

namespace sentrel::security {

namespace {

// One DER element: tag, content, and the whole element.
struct Element {
    std::uint8_t tag = 0;
    std::span<const std::uint8_t> content;
    std::span<const std::uint8_t> whole;
};

// The element at the start of `in`: low tag numbers only, a definite length
// in at most four bytes, and all of it inside `in`.
std::optional<Element> readElement(std::span<const std::uint8_t> in) {
    if (in.size() < 2) return std::nullopt;
    const std::uint8_t tag = in[0];
    if ((tag & 0x1f) == 0x1f) return std::nullopt;
    std::size_t pos = 1;
    const std::uint8_t first = in[pos++];
    std::size_t length = first;
    if (first & 0x80) {
        const std::size_t bytes = first & 0x7f;
        if (bytes == 0 || bytes > 4 || in.size() - pos < bytes) return std::nullopt;   // indefinite, or too long
        length = 0;
        for (std::size_t i = 0; i < bytes; ++i) length = (length << 8) | in[pos++];
    }
    if (in.size() - pos < length) return std::nullopt;
    return Element{tag, in.subspan(pos, length), in.first(pos + length)};
}

// The elements that make up a constructed element's content, exactly.
std::optional<std::vector<Element>> childrenOf(const Element& element) {
    if (!(element.tag & 0x20)) return std::nullopt;
    std::vector<Element> children;
    for (auto rest = element.content; !rest.empty();) {
        auto child = readElement(rest);
        if (!child) return std::nullopt;
        children.push_back(*child);
        rest = rest.subspan(child->whole.size());
    }
    return children;
}

constexpr std::uint8_t kInteger = 0x02, kBitString = 0x03, kOctetString = 0x04, kOid = 0x06, kSequence = 0x30,
                       kSet = 0x31, kUtcTime = 0x17, kGeneralizedTime = 0x18, kBoolean = 0x01;

bool isAlgorithm(const Element& element) {
    auto parts = childrenOf(element);
    return element.tag == kSequence && parts && !parts->empty() && (*parts)[0].tag == kOid && !(*parts)[0].content.empty();
}

bool isTime(const Element& element) {
    return (element.tag == kUtcTime || element.tag == kGeneralizedTime) && !(element.tag & 0x20);
}

bool isStringTag(std::uint8_t tag) {
    // UTF8String, NumericString, PrintableString, T61String, VideotexString,
    // IA5String, GraphicString, VisibleString, GeneralString,
    // UniversalString, BMPString.
    switch (tag) {
    case 12: case 18: case 19: case 20: case 21: case 22: case 25: case 26: case 27: case 28: case 30: return true;
    default: return false;
    }
}

// A Name: a SEQUENCE of SETs, each of SEQUENCEs { OID, value }. The entries
// are added to `entries` when it is given.
bool readName(const Element& name, std::vector<NameEntry>* entries) {
    auto rdns = name.tag == kSequence ? childrenOf(name) : std::nullopt;
    if (!rdns) return false;
    for (const Element& rdn : *rdns) {
        auto attributes = rdn.tag == kSet ? childrenOf(rdn) : std::nullopt;
        if (!attributes || attributes->empty()) return false;
        for (const Element& attribute : *attributes) {
            auto parts = attribute.tag == kSequence ? childrenOf(attribute) : std::nullopt;
            if (!parts || parts->size() != 2 || (*parts)[0].tag != kOid || (*parts)[0].content.empty()) return false;
            if (entries) entries->push_back({(*parts)[0].content, (*parts)[1].tag, (*parts)[1].content});
        }
    }
    return true;
}

bool readExtensions(const Element& explicitExtensions) {
    auto wrapper = childrenOf(explicitExtensions);
    if (!wrapper || wrapper->size() != 1 || (*wrapper)[0].tag != kSequence) return false;
    auto extensions = childrenOf((*wrapper)[0]);
    if (!extensions || extensions->empty()) return false;
    for (const Element& extension : *extensions) {
        auto parts = extension.tag == kSequence ? childrenOf(extension) : std::nullopt;
        if (!parts || parts->size() < 2 || parts->size() > 3 || (*parts)[0].tag != kOid) return false;
        if (parts->size() == 3 && ((*parts)[1].tag != kBoolean || (*parts)[1].content.size() != 1)) return false;
        if (parts->back().tag != kOctetString) return false;
    }
    return true;
}

void appendUtf8(std::string& out, std::uint32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xc0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3f));
    } else {
        out += static_cast<char>(0xe0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3f));
        out += static_cast<char>(0x80 | (c & 0x3f));
    }
}

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
bool validUtf8(std::span<const std::uint8_t> bytes) {
    for (std::size_t i = 0; i < bytes.size();) {
        const std::uint8_t b = bytes[i];
        std::size_t n = 0;
        std::uint32_t c = 0, min = 0;
        if (b < 0x80) { ++i; continue; }
        if ((b & 0xe0) == 0xc0) { n = 1; c = b & 0x1f; min = 0x80; }
        else if ((b & 0xf0) == 0xe0) { n = 2; c = b & 0x0f; min = 0x800; }
        else if ((b & 0xf8) == 0xf0) { n = 3; c = b & 0x07; min = 0x10000; }
        else return false;
        if (bytes.size() - i <= n) return false;
        for (std::size_t k = 1; k <= n; ++k) {
            if ((bytes[i + k] & 0xc0) != 0x80) return false;
            c = (c << 6) | (bytes[i + k] & 0x3f);
        }
        if (c < min || c > 0x10ffff || (c >= 0xd800 && c <= 0xdfff)) return false;
        i += n + 1;
    }
    return true;
}

}  // namespace

std::optional<CertificateOutline> outlineCertificate(std::span<const std::uint8_t> der) {
    auto certificate = readElement(der);
    if (!certificate || certificate->tag != kSequence || certificate->whole.size() != der.size()) return std::nullopt;
    auto parts = childrenOf(*certificate);
    if (!parts || parts->size() != 3 || (*parts)[0].tag != kSequence || !isAlgorithm((*parts)[1]) ||
        (*parts)[2].tag != kBitString || (*parts)[2].content.empty())
        return std::nullopt;
    auto fields = childrenOf((*parts)[0]);
    if (!fields) return std::nullopt;
    // [0] version, serialNumber, signature, issuer, validity, subject,
    // subjectPublicKeyInfo, [1] issuerUniqueID, [2] subjectUniqueID, [3] extensions
    std::size_t at = 0;
    const auto& f = *fields;
    if (at < f.size() && f[at].tag == 0xa0) {
        auto version = childrenOf(f[at]);
        if (!version || version->size() != 1 || (*version)[0].tag != kInteger || (*version)[0].content.size() != 1 ||
            (*version)[0].content[0] > 2)
            return std::nullopt;
        ++at;
    }
    if (f.size() - at < 6) return std::nullopt;
    if (f[at].tag != kInteger || f[at].content.empty()) return std::nullopt;
    if (!isAlgorithm(f[at + 1]) || !readName(f[at + 2], nullptr)) return std::nullopt;
    auto validity = f[at + 3].tag == kSequence ? childrenOf(f[at + 3]) : std::nullopt;
    if (!validity || validity->size() != 2 || !isTime((*validity)[0]) || !isTime((*validity)[1])) return std::nullopt;
    CertificateOutline outline;
    outline.subject = f[at + 4].whole;
    if (!readName(f[at + 4], &outline.subjectEntries)) return std::nullopt;
    auto key = f[at + 5].tag == kSequence ? childrenOf(f[at + 5]) : std::nullopt;
    if (!key || key->size() != 2 || !isAlgorithm((*key)[0]) || (*key)[1].tag != kBitString || (*key)[1].content.empty())
        return std::nullopt;
    at += 6;
    if (at < f.size() && f[at].tag == 0x81) ++at;
    if (at < f.size() && f[at].tag == 0x82) ++at;
    if (at < f.size() && f[at].tag == 0xa3) {
        if (!readExtensions(f[at])) return std::nullopt;
        ++at;
    }
    if (at != f.size()) return std::nullopt;
    for (const NameEntry& entry : outline.subjectEntries)
        if (!isStringTag(entry.tag)) return std::nullopt;   // an attribute value of another type: OpenSSL's to read
    return outline;
}

std::optional<std::string> entryText(const NameEntry& entry) {
    std::string out;
    switch (entry.tag) {
    case 12:   // UTF8String
        if (!validUtf8(entry.value)) return std::nullopt;
        return std::string(entry.value.begin(), entry.value.end());
    case 18: case 19: case 20: case 22: case 26:   // Numeric, Printable, T61, IA5, Visible: one byte a character
        out.reserve(entry.value.size());
        for (std::uint8_t b : entry.value) appendUtf8(out, b);
        return out;
    case 30:   // BMPString: UTF-16BE
        if (entry.value.size() % 2) return std::nullopt;
        for (std::size_t i = 0; i < entry.value.size(); i += 2) {
            const std::uint32_t c = (std::uint32_t(entry.value[i]) << 8) | entry.value[i + 1];
            if (c >= 0xd800 && c <= 0xdfff) return std::nullopt;
            appendUtf8(out, c);
        }
        return out;
    default:
        return std::nullopt;
    }
}

}  // namespace sentrel::security
