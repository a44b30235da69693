// What the reports need of an X.509 certificate -- its subject's names -- read
// by a bounds-checked walk of the DER bytes, without OpenSSL decoding the
// certificate (which decodes its public key too, the dearest part of reading a
// signature). The walk checks the whole structure: one SEQUENCE of the
// TBSCertificate, the signature algorithm and the signature, nothing after
// it, and each field of the TBSCertificate in its place with its type; every
// length is definite and within its parent. Anything else is no outline,
// and the caller falls back to OpenSSL.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace sentrel::security {

struct NameEntry {
    std::span<const std::uint8_t> oid;     // the attribute type's OID content bytes
    std::uint8_t tag = 0;                  // the value's universal tag (12 UTF8String, 19 PrintableString, ...)
    std::span<const std::uint8_t> value;   // the value's content bytes
};

struct CertificateOutline {
    std::span<const std::uint8_t> issuer;         // the whole Name, tag and length included
    std::span<const std::uint8_t> serialNumber;   // the INTEGER's content bytes
    std::span<const std::uint8_t> subject;        // the whole Name, tag and length included
    std::vector<NameEntry> subjectEntries;        // in order of appearance
    // The subjectKeyIdentifier, and the keyIdentifier of the
    // authorityKeyIdentifier; empty when the certificate has none (or one
    // that is not well formed).
    std::span<const std::uint8_t> subjectKeyId;
    std::span<const std::uint8_t> authorityKeyId;
};

// The outline of `der` when it is exactly one certificate; nullopt otherwise.
// The spans point into `der`.
std::optional<CertificateOutline> outlineCertificate(std::span<const std::uint8_t> der);

// The entry's value as UTF-8, as OpenSSL's ASN1_STRING_to_UTF8 gives it for
// the string types met in certificates: UTF8String (when valid), the one-byte
// types (each byte a Latin-1 character) and BMPString without surrogates.
// nullopt for anything else, which the caller leaves to OpenSSL.
std::optional<std::string> entryText(const NameEntry& entry);

// The OIDs of the name attributes the reports show.
inline constexpr std::uint8_t kOidCommonName[] = {0x55, 0x04, 0x03};
inline constexpr std::uint8_t kOidOrganizationName[] = {0x55, 0x04, 0x0a};
inline constexpr std::uint8_t kOidOrganizationalUnitName[] = {0x55, 0x04, 0x0b};
inline constexpr std::uint8_t kOidEmailAddress[] = {0x2a, 0x86, 0x48, 0x86, 0xf7, 0x0d, 0x01, 0x09, 0x01};

}  // namespace sentrel::security
