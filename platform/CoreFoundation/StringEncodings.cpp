#include "CoreFoundation/StringEncodings.h"

#include "CoreFoundation/IcuLibrary.h"

#include <algorithm>
#include <array>
#include <bit>
#include <limits>
#include <memory>
#include <utility>

namespace sentrel::encodings {
namespace {

// --- ICU converters --------------------------------------------------------

struct ConverterCloser {
    void operator()(UConverter* converter) const { icu()->ucnvClose(converter); }
};
using Converter = std::unique_ptr<UConverter, ConverterCloser>;

// ICU's names for the encodings it converts for us. "macos-0_2-10.2" is the
// Mac OS Roman table of Mac OS X 10.2 and later (0xDB is the euro sign).
// ICU's windows-1252 maps the five bytes Windows leaves undefined (0x81, 0x8D,
// 0x8F, 0x90, 0x9D) to the C1 controls of the same value, so they round-trip.
const char* icuConverterName(CFStringEncoding encoding)
{
    switch (encoding) {
    case kCFStringEncodingMacRoman: return "macos-0_2-10.2";
    case kCFStringEncodingWindowsLatin1: return "windows-1252";
    case kCFStringEncodingISOLatin1: return "ISO-8859-1";
    case kCFStringEncodingASCII: return "US-ASCII";
    default: return nullptr;
    }
}

Converter openConverter(const char* name)
{
    if (!icu())
        return {};
    UErrorCode status = U_ZERO_ERROR;
    Converter converter(icu()->ucnvOpen(name, &status));
    if (U_FAILURE(status))
        return {};
    return converter;
}

// Runs a converter's step (which moves `target` on as it writes) over `out`,
// doubling `out` while it is too small; `out` then holds what was written.
template <typename Char, typename Step>
bool convertGrowing(std::basic_string<Char>& out, Step step)
{
    size_t written = 0;
    for (;;) {
        Char* target = out.data() + written;
        UErrorCode status = U_ZERO_ERROR;
        step(target, out.data() + out.size(), status);
        written = static_cast<size_t>(target - out.data());
        if (status == U_BUFFER_OVERFLOW_ERROR) {
            out.resize(out.size() * 2);
            continue;
        }
        if (U_FAILURE(status))
            return false;
        out.resize(written);
        return true;
    }
}

bool decodeWithIcu(const char* name, std::string_view bytes, std::u16string& out)
{
    Converter converter = openConverter(name);
    if (!converter)
        return false;
    // Stop at the first malformed or unmapped byte sequence: a substitution
    // character would hide exactly what callers need to know.
    UErrorCode status = U_ZERO_ERROR;
    icu()->ucnvSetToUCallBack(converter.get(), icu()->toUCallbackStop, nullptr, nullptr, nullptr, &status);
    if (U_FAILURE(status))
        return false;

    // None of our byte encodings yields more UTF-16 units than bytes; the loop
    // still copes with a converter that does.
    out.assign(std::max<size_t>(bytes.size(), 16), u'\0');
    const char* source = bytes.data();
    const char* sourceEnd = source + bytes.size();
    return convertGrowing(out, [&](char16_t*& target, char16_t* targetEnd, UErrorCode& status) {
        icu()->ucnvToUnicode(converter.get(), &target, targetEnd, &source, sourceEnd, nullptr, /*flush=*/true, &status);
    });
}

// Writes the caller's loss byte for each character the converter cannot
// take. The context points at that byte.
void writeLossByte(const void* context, UConverterFromUnicodeArgs* args, const UChar*, int32_t,
                   UChar32, UConverterCallbackReason reason, UErrorCode* status)
{
    if (reason != UCNV_UNASSIGNED && reason != UCNV_ILLEGAL && reason != UCNV_IRREGULAR)
        return;  // reset, close, clone: nothing to write
    *status = U_ZERO_ERROR;
    icu()->ucnvCbFromUWriteBytes(args, static_cast<const char*>(context), 1, 0, status);
}

bool encodeWithIcu(const char* name, std::u16string_view text, std::string& out, uint8_t lossByte)
{
    Converter converter = openConverter(name);
    if (!converter)
        return false;
    const char loss = static_cast<char>(lossByte);
    UErrorCode status = U_ZERO_ERROR;
    if (lossByte != 0)
        icu()->ucnvSetFromUCallBack(converter.get(), writeLossByte, &loss, nullptr, nullptr, &status);
    else
        icu()->ucnvSetFromUCallBack(converter.get(), icu()->fromUCallbackStop, nullptr, nullptr, nullptr, &status);
    if (U_FAILURE(status))
        return false;

    out.assign(std::max<size_t>(text.size() * static_cast<size_t>(icu()->ucnvGetMaxCharSize(converter.get())), 16), '\0');
    const char16_t* source = text.data();
    const char16_t* sourceEnd = source + text.size();
    return convertGrowing(out, [&](char*& target, char* targetEnd, UErrorCode& status) {
        icu()->ucnvFromUnicode(converter.get(), &target, targetEnd, &source, sourceEnd, nullptr, /*flush=*/true, &status);
    });
}

// --- UTF-8 -----------------------------------------------------------------
// Every string the program makes passes through here, so UTF-8 is converted
// by hand, as strictly as ICU's converters: no overlong forms, no encoded
// surrogates, nothing past U+10FFFF, no unpaired surrogates on the way out.

// Most text met (file names, keys, identifiers) is ASCII, whose UTF-8 and
// UTF-16 forms are the same values unit for unit; it skips the converter.
// Whether every unit is below 0x80. The loops have no early exit, so that
// the compiler does many units at a time: most text is short and ASCII.
bool isAscii(std::string_view bytes)
{
    unsigned char seen = 0;
    for (char c : bytes)
        seen |= static_cast<unsigned char>(c);
    return seen < 0x80;
}

bool isAscii(std::u16string_view text)
{
    char16_t seen = 0;
    for (char16_t c : text)
        seen |= c;
    return seen < 0x80;
}

// Each unit of `from` into `to`, converted; `to` takes its size.
template <typename To, typename From>
void widenOrNarrow(std::basic_string_view<From> from, std::basic_string<To>& to)
{
    to.resize(from.size());
    for (size_t i = 0; i < from.size(); ++i)
        to[i] = static_cast<To>(from[i]);
}

bool isSurrogate(uint32_t c) { return c >= 0xD800 && c <= 0xDFFF; }

bool decodeUtf8(std::string_view bytes, std::u16string& out)
{
    if (isAscii(bytes)) {
        widenOrNarrow(bytes, out);
        return true;
    }
    out.clear();
    out.reserve(bytes.size());   // never more units than bytes
    const auto* p = reinterpret_cast<const uint8_t*>(bytes.data());
    const auto* const end = p + bytes.size();
    while (p < end) {
        uint32_t c = *p++;
        if (c < 0x80) {
            out.push_back(static_cast<char16_t>(c));
            continue;
        }
        // The lead byte says how many continuation bytes follow and the
        // least value the sequence may stand for; 0xC0, 0xC1 and 0xF5 on
        // can only begin an overlong form or a value past U+10FFFF.
        size_t more;
        uint32_t least;
        if (c >= 0xC2 && c <= 0xDF) {
            more = 1, least = 0x80, c &= 0x1F;
        } else if (c >= 0xE0 && c <= 0xEF) {
            more = 2, least = 0x800, c &= 0x0F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            more = 3, least = 0x10000, c &= 0x07;
        } else {
            return false;
        }
        if (static_cast<size_t>(end - p) < more)
            return false;
        for (size_t i = 0; i < more; ++i) {
            if ((p[i] & 0xC0) != 0x80)
                return false;
            c = c << 6 | (p[i] & 0x3F);
        }
        p += more;
        if (c < least || c > 0x10FFFF || isSurrogate(c))
            return false;
        if (c >= 0x10000) {
            c -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(c));
        }
    }
    return true;
}

// An unpaired surrogate becomes the loss byte, or fails the whole text
// without one.
bool encodeUtf8(std::u16string_view text, std::string& out, uint8_t lossByte)
{
    if (isAscii(text)) {
        widenOrNarrow(text, out);
        return true;
    }
    out.clear();
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        uint32_t c = text[i];
        if (isSurrogate(c)) {
            const bool paired = c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF;
            if (!paired) {
                if (lossByte == 0)
                    return false;
                out.push_back(static_cast<char>(lossByte));
                continue;
            }
            c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
        }
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
        } else if (c < 0x800) {
            out.push_back(static_cast<char>(0xC0 | c >> 6));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else if (c < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | c >> 12));
            out.push_back(static_cast<char>(0x80 | (c >> 6 & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | c >> 18));
            out.push_back(static_cast<char>(0x80 | (c >> 12 & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c >> 6 & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
    return true;
}

// --- UTF-16 ----------------------------------------------------------------
// Done by hand rather than through ICU: UTF-16 output is CFString's own code
// units in a chosen byte order, and must carry unpaired surrogates through
// unchanged, which ICU's UTF-16 converters refuse.

constexpr bool hostIsBigEndian = std::endian::native == std::endian::big;

bool decodeUtf16(std::string_view bytes, bool bigEndian, bool honourByteOrderMark, std::u16string& out)
{
    if (bytes.size() % 2 != 0)
        return false;
    auto byteAt = [&](size_t i) { return static_cast<uint8_t>(bytes[i]); };
    size_t start = 0;
    if (honourByteOrderMark && bytes.size() >= 2) {
        if (byteAt(0) == 0xFE && byteAt(1) == 0xFF) {
            bigEndian = true;
            start = 2;
        } else if (byteAt(0) == 0xFF && byteAt(1) == 0xFE) {
            bigEndian = false;
            start = 2;
        }
    }
    out.clear();
    out.reserve((bytes.size() - start) / 2);
    for (size_t i = start; i < bytes.size(); i += 2) {
        const uint16_t high = bigEndian ? byteAt(i) : byteAt(i + 1);
        const uint16_t low = bigEndian ? byteAt(i + 1) : byteAt(i);
        out.push_back(static_cast<char16_t>(high << 8 | low));
    }
    return true;
}

void encodeUtf16(std::u16string_view text, bool bigEndian, bool byteOrderMark, std::string& out)
{
    out.clear();
    out.reserve(2 * (text.size() + (byteOrderMark ? 1 : 0)));
    auto put = [&](char16_t unit) {
        const char high = static_cast<char>(unit >> 8);
        const char low = static_cast<char>(unit & 0xFF);
        out.push_back(bigEndian ? high : low);
        out.push_back(bigEndian ? low : high);
    };
    if (byteOrderMark)
        put(u'\uFEFF');
    for (char16_t unit : text)
        put(unit);
}

// --- NeXTSTEP ----------------------------------------------------------------
// The upper half of the NeXTSTEP character set (Unicode's published NEXTSTEP
// mapping); the lower half is ASCII. 0xFE and 0xFF are undefined, marked 0.

constexpr std::array<char16_t, 128> nextStepUpperHalf = {
    // 0x80
    0x00A0, 0x00C0, 0x00C1, 0x00C2, 0x00C3, 0x00C4, 0x00C5, 0x00C7,
    0x00C8, 0x00C9, 0x00CA, 0x00CB, 0x00CC, 0x00CD, 0x00CE, 0x00CF,
    // 0x90
    0x00D0, 0x00D1, 0x00D2, 0x00D3, 0x00D4, 0x00D5, 0x00D6, 0x00D9,
    0x00DA, 0x00DB, 0x00DC, 0x00DD, 0x00DE, 0x00B5, 0x00D7, 0x00F7,
    // 0xA0
    0x00A9, 0x00A1, 0x00A2, 0x00A3, 0x2044, 0x00A5, 0x0192, 0x00A7,
    0x00A4, 0x2019, 0x201C, 0x00AB, 0x2039, 0x203A, 0xFB01, 0xFB02,
    // 0xB0
    0x00AE, 0x2013, 0x2020, 0x2021, 0x00B7, 0x00A6, 0x00B6, 0x2022,
    0x201A, 0x201E, 0x201D, 0x00BB, 0x2026, 0x2030, 0x00AC, 0x00BF,
    // 0xC0
    0x00B9, 0x02CB, 0x00B4, 0x02C6, 0x02DC, 0x00AF, 0x02D8, 0x02D9,
    0x00A8, 0x00B2, 0x02DA, 0x00B8, 0x00B3, 0x02DD, 0x02DB, 0x02C7,
    // 0xD0
    0x2014, 0x00B1, 0x00BC, 0x00BD, 0x00BE, 0x00E0, 0x00E1, 0x00E2,
    0x00E3, 0x00E4, 0x00E5, 0x00E7, 0x00E8, 0x00E9, 0x00EA, 0x00EB,
    // 0xE0
    0x00EC, 0x00C6, 0x00ED, 0x00AA, 0x00EE, 0x00EF, 0x00F0, 0x00F1,
    0x0141, 0x00D8, 0x0152, 0x00BA, 0x00F2, 0x00F3, 0x00F4, 0x00F5,
    // 0xF0
    0x00F6, 0x00E6, 0x00F9, 0x00FA, 0x00FB, 0x0131, 0x00FC, 0x00FD,
    0x0142, 0x00F8, 0x0153, 0x00DF, 0x00FE, 0x00FF, 0x0000, 0x0000,
};

// (character, byte) pairs of the upper half, sorted by character.
constexpr auto nextStepReverse = [] {
    std::array<std::pair<char16_t, uint8_t>, 126> pairs{};
    size_t count = 0;
    for (size_t i = 0; i < nextStepUpperHalf.size(); ++i)
        if (nextStepUpperHalf[i] != 0)
            pairs[count++] = {nextStepUpperHalf[i], static_cast<uint8_t>(0x80 + i)};
    std::sort(pairs.begin(), pairs.end());
    return pairs;
}();

bool decodeNextStep(std::string_view bytes, std::u16string& out)
{
    out.clear();
    out.reserve(bytes.size());
    for (char c : bytes) {
        const auto byte = static_cast<uint8_t>(c);
        if (byte < 0x80) {
            out.push_back(byte);
            continue;
        }
        const char16_t unit = nextStepUpperHalf[byte - 0x80];
        if (unit == 0)
            return false;
        out.push_back(unit);
    }
    return true;
}

bool encodeNextStep(std::u16string_view text, std::string& out, uint8_t lossByte)
{
    out.clear();
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const char16_t unit = text[i];
        if (unit < 0x80) {
            out.push_back(static_cast<char>(unit));
            continue;
        }
        auto found = std::lower_bound(nextStepReverse.begin(), nextStepReverse.end(), unit,
                                      [](const auto& entry, char16_t key) { return entry.first < key; });
        if (found != nextStepReverse.end() && found->first == unit) {
            out.push_back(static_cast<char>(found->second));
            continue;
        }
        if (lossByte == 0)
            return false;
        out.push_back(static_cast<char>(lossByte));
        // A surrogate pair is one character: one loss byte for both units.
        if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF)
            ++i;
    }
    return true;
}

// --- NonLossyASCII -------------------------------------------------------------
// ASCII as it is, except the backslash, which is doubled; every other code
// unit is written "\uXXXX" with four lowercase hex digits. Reading also takes
// uppercase hex digits and three-digit octal escapes ("\351") for U+0000 to
// U+00FF. Any other backslash sequence, and any byte above 0x7F, is malformed.

int hexValue(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool decodeNonLossyAscii(std::string_view bytes, std::u16string& out)
{
    out.clear();
    out.reserve(bytes.size());
    size_t i = 0;
    while (i < bytes.size()) {
        const auto byte = static_cast<uint8_t>(bytes[i]);
        if (byte >= 0x80)
            return false;
        if (byte != '\\') {
            out.push_back(byte);
            ++i;
            continue;
        }
        if (i + 1 >= bytes.size())
            return false;
        const char kind = bytes[i + 1];
        if (kind == '\\') {
            out.push_back(u'\\');
            i += 2;
        } else if (kind == 'u') {
            if (bytes.size() - i < 6)
                return false;
            unsigned value = 0;
            for (size_t k = i + 2; k < i + 6; ++k) {
                const int digit = hexValue(bytes[k]);
                if (digit < 0)
                    return false;
                value = value << 4 | static_cast<unsigned>(digit);
            }
            out.push_back(static_cast<char16_t>(value));
            i += 6;
        } else if (kind >= '0' && kind <= '7') {
            if (bytes.size() - i < 4)
                return false;
            unsigned value = 0;
            for (size_t k = i + 1; k < i + 4; ++k) {
                if (bytes[k] < '0' || bytes[k] > '7')
                    return false;
                value = value << 3 | static_cast<unsigned>(bytes[k] - '0');
            }
            if (value > 0xFF)
                return false;
            out.push_back(static_cast<char16_t>(value));
            i += 4;
        } else {
            return false;
        }
    }
    return true;
}

void encodeNonLossyAscii(std::u16string_view text, std::string& out)
{
    static constexpr char hexDigits[] = "0123456789abcdef";
    out.clear();
    out.reserve(text.size());
    for (char16_t unit : text) {
        if (unit == u'\\') {
            out += "\\\\";
        } else if (unit < 0x80) {
            out.push_back(static_cast<char>(unit));
        } else {
            out += "\\u";
            for (int shift = 12; shift >= 0; shift -= 4)
                out.push_back(hexDigits[(unit >> shift) & 0xF]);
        }
    }
}

constexpr std::string_view utf8ByteOrderMark = "\xEF\xBB\xBF";

}  // namespace

bool isAvailable(CFStringEncoding encoding)
{
    switch (encoding) {
    case kCFStringEncodingMacRoman:
    case kCFStringEncodingWindowsLatin1:
    case kCFStringEncodingISOLatin1:
    case kCFStringEncodingNextStepLatin:
    case kCFStringEncodingASCII:
    case kCFStringEncodingUTF16:
    case kCFStringEncodingUTF8:
    case kCFStringEncodingNonLossyASCII:
    case kCFStringEncodingUTF16BE:
    case kCFStringEncodingUTF16LE:
        return true;
    default:
        return false;
    }
}

bool decode(std::string_view bytes, CFStringEncoding encoding, std::u16string& out)
{
    switch (encoding) {
    case kCFStringEncodingUTF16: return decodeUtf16(bytes, hostIsBigEndian, true, out);
    case kCFStringEncodingUTF16BE: return decodeUtf16(bytes, true, false, out);
    case kCFStringEncodingUTF16LE: return decodeUtf16(bytes, false, false, out);
    case kCFStringEncodingNextStepLatin: return decodeNextStep(bytes, out);
    case kCFStringEncodingNonLossyASCII: return decodeNonLossyAscii(bytes, out);
    case kCFStringEncodingUTF8:
        if (bytes.starts_with(utf8ByteOrderMark))
            bytes.remove_prefix(utf8ByteOrderMark.size());
        return decodeUtf8(bytes, out);
    default:
        break;
    }
    const char* name = icuConverterName(encoding);
    if (name == nullptr)
        return false;
    if (bytes.empty()) {
        out.clear();
        return true;
    }
    return decodeWithIcu(name, bytes, out);
}

bool encode(std::u16string_view text, CFStringEncoding encoding, std::string& out, uint8_t lossByte,
            bool externalRepresentation)
{
    switch (encoding) {
    case kCFStringEncodingUTF16:
        encodeUtf16(text, hostIsBigEndian, externalRepresentation, out);
        return true;
    case kCFStringEncodingUTF16BE:
        encodeUtf16(text, true, false, out);
        return true;
    case kCFStringEncodingUTF16LE:
        encodeUtf16(text, false, false, out);
        return true;
    case kCFStringEncodingNextStepLatin:
        return encodeNextStep(text, out, lossByte);
    case kCFStringEncodingNonLossyASCII:
        encodeNonLossyAscii(text, out);
        return true;
    case kCFStringEncodingUTF8:
        return encodeUtf8(text, out, lossByte);
    default:
        break;
    }
    const char* name = icuConverterName(encoding);
    if (name == nullptr)
        return false;
    if (text.empty()) {
        out.clear();
        return true;
    }
    return encodeWithIcu(name, text, out, lossByte);
}

size_t maximumSizeForEncoding(size_t utf16Length, CFStringEncoding encoding)
{
    size_t perUnit = 0;
    switch (encoding) {
    case kCFStringEncodingMacRoman:
    case kCFStringEncodingWindowsLatin1:
    case kCFStringEncodingISOLatin1:
    case kCFStringEncodingNextStepLatin:
    case kCFStringEncodingASCII:
        perUnit = 1;
        break;
    case kCFStringEncodingUTF16:
    case kCFStringEncodingUTF16BE:
    case kCFStringEncodingUTF16LE:
        perUnit = 2;
        break;
    case kCFStringEncodingUTF8:
        perUnit = 3;  // a surrogate pair (two units) takes four bytes
        break;
    case kCFStringEncodingNonLossyASCII:
        perUnit = 6;
        break;
    default:
        return 0;
    }
    if (utf16Length > std::numeric_limits<size_t>::max() / perUnit)
        return 0;
    return utf16Length * perUnit;
}

size_t utf8Sequence(std::string_view bytes, char32_t& codePoint)
{
    if (bytes.empty())
        return 0;
    const auto b = [&](size_t i) { return static_cast<unsigned char>(bytes[i]); };
    const unsigned char lead = b(0);
    size_t length;
    unsigned char low = 0x80, high = 0xBF;  // the range of the second byte
    if (lead < 0x80) {
        codePoint = lead;
        return 1;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0)
            low = 0xA0;  // overlong
        if (lead == 0xED)
            high = 0x9F;  // surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0)
            low = 0x90;  // overlong
        if (lead == 0xF4)
            high = 0x8F;  // past U+10FFFF
    } else {
        return 0;
    }
    if (bytes.size() < length || b(1) < low || b(1) > high)
        return 0;
    for (size_t i = 2; i < length; ++i)
        if (b(i) < 0x80 || b(i) > 0xBF)
            return 0;
    static constexpr unsigned char leadBits[] = {0, 0, 0x1F, 0x0F, 0x07};
    char32_t c = lead & leadBits[length];
    for (size_t i = 1; i < length; ++i)
        c = (c << 6) | (b(i) & 0x3F);
    codePoint = c;
    return length;
}

}  // namespace sentrel::encodings
