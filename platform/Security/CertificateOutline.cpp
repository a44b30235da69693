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

// The elements of a constructed element's content, one after the other;
// the content must be made of them exactly.
class Children {
public:
    explicit Children(const Element& element) : m_rest(element.content), m_ok(element.tag & 0x20) {}

    // The next element; nullopt at the end or when the content is not well
    // formed (then ok() is false).
    std::optional<Element> next() {
        if (!m_ok || m_rest.empty()) return std::nullopt;
        auto child = readElement(m_rest);
        if (!child) {
            m_ok = false;
            return std::nullopt;
        }
        m_rest = m_rest.subspan(child->whole.size());
        return child;
    }
    // Every element was read and the content was made of them exactly.
    bool done() const { return m_ok && m_rest.empty(); }
    bool ok() const { return m_ok; }

private:
    std::span<const std::uint8_t> m_rest;
    bool m_ok;
};

constexpr std::uint8_t kInteger = 0x02, kBitString = 0x03, kOctetString = 0x04, kOid = 0x06, kSequence = 0x30,
                       kSet = 0x31, kUtcTime = 0x17, kGeneralizedTime = 0x18, kBoolean = 0x01;

bool isAlgorithm(const Element& element) {
    if (element.tag != kSequence) return false;
    Children parts(element);
    auto oid = parts.next();
    if (!oid || oid->tag != kOid || oid->content.empty()) return false;
    while (parts.next()) {}
    return parts.done();
}

bool isTime(const Element& element) { return element.tag == kUtcTime || element.tag == kGeneralizedTime; }

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
    if (name.tag != kSequence) return false;
    Children rdns(name);
    while (auto rdn = rdns.next()) {
        if (rdn->tag != kSet) return false;
        Children attributes(*rdn);
        bool any = false;
        while (auto attribute = attributes.next()) {
            if (attribute->tag != kSequence) return false;
            Children parts(*attribute);
            auto type = parts.next();
            auto value = parts.next();
            if (!type || !value || parts.next() || !parts.done() || type->tag != kOid || type->content.empty()) return false;
            if (entries) entries->push_back({type->content, value->tag, value->content});
            any = true;
        }
        if (!any || !attributes.done()) return false;
    }
    return rdns.done();
}

// The key identifiers among the extensions: the subjectKeyIdentifier is an
// OCTET STRING, the authorityKeyIdentifier a SEQUENCE whose [0] is the key's.
void readKeyIdentifier(const Element& oid, const Element& value, CertificateOutline& outline) {
    static constexpr std::uint8_t kSubjectKeyId[] = {0x55, 0x1d, 0x0e}, kAuthorityKeyId[] = {0x55, 0x1d, 0x23};
    const auto is = [&](std::span<const std::uint8_t> wanted) {
        return std::equal(oid.content.begin(), oid.content.end(), wanted.begin(), wanted.end());
    };
    auto inner = readElement(value.content);
    if (!inner || inner->whole.size() != value.content.size()) return;
    if (is(kSubjectKeyId) && inner->tag == kOctetString) {
        outline.subjectKeyId = inner->content;
    } else if (is(kAuthorityKeyId) && inner->tag == kSequence) {
        Children parts(*inner);
        if (auto first = parts.next(); first && first->tag == 0x80) outline.authorityKeyId = first->content;
    }
}

bool readExtensions(const Element& explicitExtensions, CertificateOutline& outline) {
    Children wrapper(explicitExtensions);
    auto list = wrapper.next();
    if (!list || wrapper.next() || !wrapper.done() || list->tag != kSequence) return false;
    Children extensions(*list);
    bool any = false;
    while (auto extension = extensions.next()) {
        if (extension->tag != kSequence) return false;
        Children parts(*extension);
        auto oid = parts.next();
        auto second = parts.next();
        auto third = parts.next();
        if (!oid || !second || parts.next() || !parts.done() || oid->tag != kOid) return false;
        if (third && (second->tag != kBoolean || second->content.size() != 1)) return false;
        const Element& value = third ? *third : *second;
        if (value.tag != kOctetString) return false;
        readKeyIdentifier(*oid, value, outline);
        any = true;
    }
    return any && extensions.done();
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
    Children parts(*certificate);
    auto tbs = parts.next();
    auto algorithm = parts.next();
    auto signature = parts.next();
    if (!signature || parts.next() || !parts.done() || tbs->tag != kSequence || !isAlgorithm(*algorithm) ||
        signature->tag != kBitString || signature->content.empty())
        return std::nullopt;
    // [0] version, serialNumber, signature, issuer, validity, subject,
    // subjectPublicKeyInfo, [1] issuerUniqueID, [2] subjectUniqueID, [3] extensions
    Children fields(*tbs);
    auto field = fields.next();
    if (field && field->tag == 0xa0) {
        Children version(*field);
        auto number = version.next();
        if (!number || version.next() || !version.done() || number->tag != kInteger || number->content.size() != 1 ||
            number->content[0] > 2)
            return std::nullopt;
        field = fields.next();
    }
    CertificateOutline outline;
    if (!field || field->tag != kInteger || field->content.empty()) return std::nullopt;   // serialNumber
    outline.serialNumber = field->content;
    field = fields.next();
    if (!field || !isAlgorithm(*field)) return std::nullopt;
    field = fields.next();
    if (!field || !readName(*field, nullptr)) return std::nullopt;   // issuer
    outline.issuer = field->whole;
    field = fields.next();
    if (!field || field->tag != kSequence) return std::nullopt;      // validity
    {
        Children times(*field);
        auto from = times.next();
        auto until = times.next();
        if (!until || times.next() || !times.done() || !isTime(*from) || !isTime(*until)) return std::nullopt;
    }
    field = fields.next();
    if (!field) return std::nullopt;
    outline.subject = field->whole;
    outline.subjectEntries.reserve(8);
    if (!readName(*field, &outline.subjectEntries)) return std::nullopt;
    field = fields.next();
    if (!field || field->tag != kSequence) return std::nullopt;       // subjectPublicKeyInfo
    {
        Children key(*field);
        auto keyAlgorithm = key.next();
        auto keyBits = key.next();
        if (!keyBits || key.next() || !key.done() || !isAlgorithm(*keyAlgorithm) || keyBits->tag != kBitString ||
            keyBits->content.empty())
            return std::nullopt;
    }
    field = fields.next();
    if (field && field->tag == 0x81) field = fields.next();
    if (field && field->tag == 0x82) field = fields.next();
    if (field && field->tag == 0xa3) {
        if (!readExtensions(*field, outline)) return std::nullopt;
        field = fields.next();
    }
    if (field || !fields.done()) return std::nullopt;
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
