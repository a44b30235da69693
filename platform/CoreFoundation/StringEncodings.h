// String encodings of Core Foundation: the encoding identifiers with their
// macOS values, and conversion between bytes and UTF-16 (the form CFString
// holds). Pure functions over ICU; no object model here, CFString builds on it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

typedef uint32_t CFStringEncoding;

enum : CFStringEncoding {
    kCFStringEncodingMacRoman = 0,
    kCFStringEncodingWindowsLatin1 = 0x0500,
    kCFStringEncodingISOLatin1 = 0x0201,
    kCFStringEncodingNextStepLatin = 0x0B01,
    kCFStringEncodingASCII = 0x0600,
    kCFStringEncodingUnicode = 0x0100,
    kCFStringEncodingUTF8 = 0x08000100,
    kCFStringEncodingNonLossyASCII = 0x0BFF,
    kCFStringEncodingUTF16 = 0x0100,
    kCFStringEncodingUTF16BE = 0x10000100,
    kCFStringEncodingUTF16LE = 0x14000100,
    kCFStringEncodingInvalidId = 0xffffffffU,
};

namespace sentrel::encodings {

// True for the encodings listed above (except InvalidId).
bool isAvailable(CFStringEncoding encoding);

// Bytes to UTF-16. Returns false (`out` then holds nothing useful) when the bytes
// are not valid in `encoding` (malformed or overlong UTF-8, a non-ASCII byte
// for ASCII, a byte the NeXTSTEP set leaves undefined, a malformed
// NonLossyASCII escape, an odd number of UTF-16 bytes) or the encoding is not
// available.
//
// - UTF8: a leading byte order mark is dropped.
// - UTF16 (= Unicode): a leading byte order mark selects the byte order and is
//   dropped; without one the bytes are in host byte order, as Core Foundation
//   reads them (little-endian on every Mac in use and on our Linux targets).
// - UTF16BE/UTF16LE: fixed byte order; a leading U+FEFF is kept as text.
// - UTF-16 code units are taken as they are, unpaired surrogates included.
bool decode(std::string_view bytes, CFStringEncoding encoding, std::u16string& out);

// UTF-16 to bytes. A character the encoding cannot represent (or an unpaired
// surrogate, for UTF-8) makes the call return false when `lossByte` is 0;
// otherwise that byte stands in for it (one byte per character, a surrogate
// pair being one character) and conversion goes on.
// `externalRepresentation` puts a byte order mark, in host order, in front of
// UTF16 (= Unicode) output; the other encodings ignore it.
bool encode(std::u16string_view text, CFStringEncoding encoding, std::string& out,
            uint8_t lossByte = 0, bool externalRepresentation = false);

// The length of the valid UTF-8 sequence at the start of `bytes` (no overlong
// forms, no surrogates, nothing past U+10FFFF), or 0 when there is none;
// `codePoint` receives what it encodes.
size_t utf8Sequence(std::string_view bytes, char32_t& codePoint);

// The most bytes `utf16Length` code units can take in `encoding` (a byte
// order mark not included): 1 per unit for the 8-bit encodings, 2 for UTF-16,
// 3 for UTF-8, 6 for NonLossyASCII ("\uXXXX"). 0 when the encoding is not
// available or the size would not fit in size_t.
size_t maximumSizeForEncoding(size_t utf16Length, CFStringEncoding encoding);

}  // namespace sentrel::encodings
