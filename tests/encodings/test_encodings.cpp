#include "CoreFoundation/StringEncodings.h"

#include <gtest/gtest.h>

#include <bit>
#include <limits>
#include <optional>

using namespace sentrel::encodings;

namespace {

std::optional<std::u16string> decoded(std::string_view bytes, CFStringEncoding encoding)
{
    std::u16string text;
    if (!decode(bytes, encoding, text))
        return std::nullopt;
    return text;
}

std::optional<std::string> encoded(std::u16string_view text, CFStringEncoding encoding, uint8_t lossByte = 0,
                                   bool external = false)
{
    std::string bytes;
    if (!encode(text, encoding, bytes, lossByte, external))
        return std::nullopt;
    return bytes;
}

std::string allBytes(unsigned first = 0, unsigned last = 0xFF)
{
    std::string bytes;
    for (unsigned b = first; b <= last; ++b)
        bytes.push_back(static_cast<char>(b));
    return bytes;
}

const std::u16string emoji = u"\U0001F600";  // a surrogate pair

}  // namespace

TEST(Encodings, AvailabilityCoversTheSupportedSetOnly)
{
    for (CFStringEncoding e : {kCFStringEncodingMacRoman, kCFStringEncodingWindowsLatin1, kCFStringEncodingISOLatin1,
                               kCFStringEncodingNextStepLatin, kCFStringEncodingASCII, kCFStringEncodingUnicode,
                               kCFStringEncodingUTF8, kCFStringEncodingNonLossyASCII, kCFStringEncodingUTF16BE,
                               kCFStringEncodingUTF16LE})
        EXPECT_TRUE(isAvailable(e)) << std::hex << e;
    EXPECT_FALSE(isAvailable(kCFStringEncodingInvalidId));
    EXPECT_FALSE(isAvailable(0x0A01));  // Shift JIS: a real encoding we do not carry

    std::u16string text;
    std::string bytes;
    EXPECT_FALSE(decode("abc", kCFStringEncodingInvalidId, text));
    EXPECT_FALSE(encode(u"abc", kCFStringEncodingInvalidId, bytes, '?'));
}

// Characters whose byte differs between the 8-bit encodings, both ways.
struct EightBitCase {
    CFStringEncoding encoding;
    std::u16string text;
    std::string bytes;
};

class EightBit : public ::testing::TestWithParam<EightBitCase> {};

TEST_P(EightBit, MapsBothWays)
{
    const auto& c = GetParam();
    EXPECT_EQ(encoded(c.text, c.encoding), c.bytes);
    EXPECT_EQ(decoded(c.bytes, c.encoding), c.text);
}

INSTANTIATE_TEST_SUITE_P(
    Encodings, EightBit,
    ::testing::Values(EightBitCase{kCFStringEncodingMacRoman, u"Caf\u00e9 \u2013 \u00a9 \u20ac \uf8ff",
                                   "Caf\x8E \xD0 \xA9 \xDB \xF0"},
                      EightBitCase{kCFStringEncodingWindowsLatin1, u"Caf\u00e9 \u2013 \u00a9 \u20ac",
                                   "Caf\xE9 \x96 \xA9 \x80"},
                      EightBitCase{kCFStringEncodingISOLatin1, u"Caf\u00e9 \u0096 \u00a9 \u00ff",
                                   "Caf\xE9 \x96 \xA9 \xFF"},
                      EightBitCase{kCFStringEncodingASCII, u"plain \t~\x7f", "plain \t~\x7f"},
                      EightBitCase{kCFStringEncodingNextStepLatin,
                                   u"\u00a0\u2044\ufb01\ufb02\u0141\u00df\u00ff\u2019'",
                                   "\x80\xA4\xAE\xAF\xE8\xFB\xFD\xA9'"}));

TEST(Encodings, EveryByteOfTheFullTablesRoundTrips)
{
    for (CFStringEncoding e : {kCFStringEncodingMacRoman, kCFStringEncodingWindowsLatin1, kCFStringEncodingISOLatin1}) {
        auto text = decoded(allBytes(), e);
        ASSERT_TRUE(text) << std::hex << e;
        EXPECT_EQ(text->size(), 256u);
        EXPECT_EQ(encoded(*text, e), allBytes()) << std::hex << e;
    }
    // NeXTSTEP leaves 0xFE and 0xFF undefined.
    auto text = decoded(allBytes(0, 0xFD), kCFStringEncodingNextStepLatin);
    ASSERT_TRUE(text);
    EXPECT_EQ(encoded(*text, kCFStringEncodingNextStepLatin), allBytes(0, 0xFD));
    EXPECT_FALSE(decoded("ok\xFE", kCFStringEncodingNextStepLatin));
    EXPECT_FALSE(decoded("\xFF", kCFStringEncodingNextStepLatin));
}

TEST(Encodings, AsciiRefusesTheUpperHalf)
{
    EXPECT_FALSE(decoded("abc\x80", kCFStringEncodingASCII));
    EXPECT_FALSE(decoded("\xFF", kCFStringEncodingASCII));
    EXPECT_FALSE(encoded(u"\u00e9", kCFStringEncodingASCII));
}

TEST(Encodings, UnrepresentableCharactersFailOrTakeTheLossByte)
{
    for (CFStringEncoding e : {kCFStringEncodingMacRoman, kCFStringEncodingWindowsLatin1, kCFStringEncodingISOLatin1,
                               kCFStringEncodingASCII, kCFStringEncodingNextStepLatin}) {
        SCOPED_TRACE(e);
        EXPECT_FALSE(encoded(u"a\u0101b", e));
        EXPECT_FALSE(encoded(u"a" + emoji, e));
        EXPECT_EQ(encoded(u"a\u0101b", e, '?'), "a?b");
        // One loss byte per character: a surrogate pair is one.
        EXPECT_EQ(encoded(u"a" + emoji + u"b\u0101", e, '?'), "a?b?");
        // A lone surrogate at the very end is a character of its own.
        EXPECT_EQ(encoded(u"a\xD83D", e, '_'), "a_");
    }
    // The loss byte is written as given, even when it is not ASCII.
    EXPECT_EQ(encoded(u"x\u0101", kCFStringEncodingISOLatin1, 0xBF), "x\xBF");
}

TEST(Encodings, Utf8RoundTripsAllPlanes)
{
    const std::u16string text = u"A\u00e9\u20ac" + emoji + u"\U0010FFFF";
    const std::string bytes = "A\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\xF4\x8F\xBF\xBF";
    EXPECT_EQ(encoded(text, kCFStringEncodingUTF8), bytes);
    EXPECT_EQ(decoded(bytes, kCFStringEncodingUTF8), text);
    EXPECT_EQ(decoded("", kCFStringEncodingUTF8), u"");
    // A byte order mark in front is not part of the text; elsewhere it is.
    EXPECT_EQ(decoded("\xEF\xBB\xBFok", kCFStringEncodingUTF8), u"ok");
    EXPECT_EQ(decoded("o\xEF\xBB\xBFk", kCFStringEncodingUTF8), u"o\uFEFFk");
    // NUL is an ordinary character.
    EXPECT_EQ(decoded(std::string_view("a\0b", 3), kCFStringEncodingUTF8), std::u16string(u"a\0b", 3));
}

TEST(Encodings, MalformedUtf8Fails)
{
    for (std::string_view bad : {
             "\xC0\x80",              // overlong NUL
             "\xE0\x80\xAF",          // overlong '/'
             "\xF0\x82\x82\xAC",      // overlong euro sign
             "ab\xE2\x82",            // sequence cut off at the end
             "\xE2\x82z",             // sequence cut off in the middle
             "\x80",                  // lone continuation byte
             "a\xBFz",                // lone continuation byte inside text
             "\xED\xA0\x80",          // encoded high surrogate
             "\xED\xBF\xBF",          // encoded low surrogate
             "\xED\xA0\xBD\xED\xB8\x80",  // surrogate pair encoded as two characters (CESU-8)
             "\xF4\x90\x80\x80",      // beyond U+10FFFF
             "\xFE",                  // never a UTF-8 byte
             "\xFF\xFE",
         })
        EXPECT_FALSE(decoded(bad, kCFStringEncodingUTF8)) << ::testing::PrintToString(bad);
}

TEST(Encodings, UnpairedSurrogatesDoNotBecomeUtf8)
{
    EXPECT_FALSE(encoded(u"a\xD83Dz", kCFStringEncodingUTF8));  // high without low
    EXPECT_FALSE(encoded(u"a\xDE00", kCFStringEncodingUTF8));   // low without high
    EXPECT_FALSE(encoded(u"a\xD83D", kCFStringEncodingUTF8));   // high at the end
    EXPECT_EQ(encoded(u"a\xD83Dz", kCFStringEncodingUTF8, '?'), "a?z");
    // The loss byte stands for the lone surrogate only; a pair after it is
    // a character.
    EXPECT_EQ(encoded(u"\xDE00" + emoji, kCFStringEncodingUTF8, '?'), "?\xF0\x9F\x98\x80");
}

TEST(Encodings, EveryUnicodeScalarValueRoundTripsThroughUtf8)
{
    std::u16string text;
    size_t utf8Length = 0;
    for (char32_t c = 1; c <= 0x10FFFF; ++c) {
        if (c >= 0xD800 && c <= 0xDFFF)
            continue;
        if (c < 0x10000) {
            text.push_back(static_cast<char16_t>(c));
        } else {
            text.push_back(static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10)));
            text.push_back(static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
        }
        utf8Length += c < 0x80 ? 1 : c < 0x800 ? 2 : c < 0x10000 ? 3 : 4;
    }
    const std::optional<std::string> encodedText = encoded(text, kCFStringEncodingUTF8);
    ASSERT_TRUE(encodedText);
    EXPECT_EQ(encodedText->size(), utf8Length);
    EXPECT_EQ(decoded(*encodedText, kCFStringEncodingUTF8), text);
}

TEST(Encodings, Utf16ByteOrders)
{
    const std::u16string text = u"A\u00e9" + emoji;
    const std::string bigEndian("\x00\x41\x00\xE9\xD8\x3D\xDE\x00", 8);
    const std::string littleEndian("\x41\x00\xE9\x00\x3D\xD8\x00\xDE", 8);
    const std::string& host = std::endian::native == std::endian::big ? bigEndian : littleEndian;
    const std::string hostMark = std::endian::native == std::endian::big ? "\xFE\xFF" : "\xFF\xFE";

    EXPECT_EQ(encoded(text, kCFStringEncodingUTF16BE), bigEndian);
    EXPECT_EQ(encoded(text, kCFStringEncodingUTF16LE), littleEndian);
    EXPECT_EQ(encoded(text, kCFStringEncodingUTF16), host);
    EXPECT_EQ(encoded(text, kCFStringEncodingUTF16, 0, /*external=*/true), hostMark + host);
    EXPECT_EQ(encoded(text, kCFStringEncodingUTF16BE, 0, /*external=*/true), bigEndian);  // explicit order: no mark

    EXPECT_EQ(decoded(bigEndian, kCFStringEncodingUTF16BE), text);
    EXPECT_EQ(decoded(littleEndian, kCFStringEncodingUTF16LE), text);
    // Plain UTF-16 follows a byte order mark and drops it; without one, host order.
    EXPECT_EQ(decoded("\xFE\xFF" + bigEndian, kCFStringEncodingUTF16), text);
    EXPECT_EQ(decoded("\xFF\xFE" + littleEndian, kCFStringEncodingUTF16), text);
    EXPECT_EQ(decoded(host, kCFStringEncodingUTF16), text);
    // With a fixed order, U+FEFF in front is text.
    EXPECT_EQ(decoded(std::string("\xFE\xFF\x00\x41", 4), kCFStringEncodingUTF16BE), u"\uFEFFA");

    EXPECT_FALSE(decoded(std::string("\x00\x41\x00", 3), kCFStringEncodingUTF16BE));
    EXPECT_FALSE(decoded(std::string("\xFE\xFF\x00", 3), kCFStringEncodingUTF16));
    EXPECT_EQ(decoded("", kCFStringEncodingUTF16), u"");
}

TEST(Encodings, Utf16CarriesUnpairedSurrogatesThrough)
{
    const std::u16string text = u"\xDE00x\xD83D";
    auto bytes = encoded(text, kCFStringEncodingUTF16LE);
    ASSERT_TRUE(bytes);
    EXPECT_EQ(*bytes, std::string("\x00\xDEx\x00\x3D\xD8", 6));
    EXPECT_EQ(decoded(*bytes, kCFStringEncodingUTF16LE), text);
}

TEST(Encodings, NonLossyAsciiEscapes)
{
    const std::u16string text = u"a\\b\u00e9\u20ac\n" + emoji;
    const std::string bytes = "a\\\\b\\u00e9\\u20ac\n\\ud83d\\ude00";
    EXPECT_EQ(encoded(text, kCFStringEncodingNonLossyASCII), bytes);
    EXPECT_EQ(decoded(bytes, kCFStringEncodingNonLossyASCII), text);
    // Lone surrogates survive: the escapes are per code unit.
    EXPECT_EQ(encoded(u"\xD800", kCFStringEncodingNonLossyASCII), "\\ud800");
    EXPECT_EQ(decoded("\\ud800", kCFStringEncodingNonLossyASCII), u"\xD800");

    // Other spellings that are read but never written.
    EXPECT_EQ(decoded("\\u00E9\\u20AC", kCFStringEncodingNonLossyASCII), u"\u00e9\u20ac");
    EXPECT_EQ(decoded("caf\\351 \\000\\177\\377", kCFStringEncodingNonLossyASCII),
              std::u16string(u"caf\u00e9 \0\x7f\u00ff", 8));
    EXPECT_EQ(decoded("\\1234", kCFStringEncodingNonLossyASCII), u"S4");  // three digits, then text

    for (std::string_view bad : {"\\", "ab\\", "\\u12", "\\u12g4", "\\U00e9", "\\x41", "\\n", "\\400", "\\12",
                                 "\\18", "caf\xE9", "\\u00\xE9"})
        EXPECT_FALSE(decoded(bad, kCFStringEncodingNonLossyASCII)) << ::testing::PrintToString(bad);
}

TEST(Encodings, MaximumSizes)
{
    EXPECT_EQ(maximumSizeForEncoding(10, kCFStringEncodingMacRoman), 10u);
    EXPECT_EQ(maximumSizeForEncoding(10, kCFStringEncodingNextStepLatin), 10u);
    EXPECT_EQ(maximumSizeForEncoding(10, kCFStringEncodingUTF16), 20u);
    EXPECT_EQ(maximumSizeForEncoding(10, kCFStringEncodingUTF16LE), 20u);
    EXPECT_EQ(maximumSizeForEncoding(10, kCFStringEncodingUTF8), 30u);
    EXPECT_EQ(maximumSizeForEncoding(10, kCFStringEncodingNonLossyASCII), 60u);
    EXPECT_EQ(maximumSizeForEncoding(0, kCFStringEncodingUTF8), 0u);
    EXPECT_EQ(maximumSizeForEncoding(10, kCFStringEncodingInvalidId), 0u);
    EXPECT_EQ(maximumSizeForEncoding(std::numeric_limits<size_t>::max() / 2, kCFStringEncodingUTF8), 0u);

    // The bound holds for the costliest characters of each encoding.
    const std::u16string worst = u"\u20ac\uffff" + emoji + u"\\";
    for (CFStringEncoding e : {kCFStringEncodingUTF8, kCFStringEncodingUTF16, kCFStringEncodingNonLossyASCII,
                               kCFStringEncodingMacRoman}) {
        auto bytes = encoded(worst, e, '?');
        ASSERT_TRUE(bytes) << std::hex << e;
        EXPECT_LE(bytes->size(), maximumSizeForEncoding(worst.size(), e)) << std::hex << e;
    }
}
