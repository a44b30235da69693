// NSScanner's number scans and NSDateFormatter's localized dates.
#include "Foundation/Foundation.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <optional>
#include <string>

namespace {

struct HexScan {
    bool ok;
    unsigned value;
    NSUInteger location;
};

HexScan scanHex(const char* text)
{
    NSScanner* scanner = NSScanner::scannerWithString(NSString::stringWithUTF8String(text));
    unsigned value = 12345;
    bool ok = scanner->scanHexInt(&value);
    return {ok, value, scanner->scanLocation()};
}

TEST(NSScanner, ScanHexIntReadsPrefixedAndBareDigits)
{
    EXPECT_EQ(scanHex("5c54614c").value, 0x5c54614cu);
    auto prefixed = scanHex("  0x10");
    EXPECT_TRUE(prefixed.ok);
    EXPECT_EQ(prefixed.value, 16u);
    EXPECT_EQ(prefixed.location, 6u);
    EXPECT_EQ(scanHex("0XfF").value, 255u);
    EXPECT_EQ(scanHex("\t\n ffffffff").value, 0xffffffffu);

    // Stops at the first character that is not a digit.
    auto stopped = scanHex("5c54614c;Safari");
    EXPECT_EQ(stopped.value, 0x5c54614cu);
    EXPECT_EQ(stopped.location, 8u);

    // "0x" without a digit after it: the 0 is the number, the x stays.
    auto bareZero = scanHex("0xg");
    EXPECT_TRUE(bareZero.ok);
    EXPECT_EQ(bareZero.value, 0u);
    EXPECT_EQ(bareZero.location, 1u);
}

TEST(NSScanner, ScanHexIntOverflowSaturatesAndStillSucceeds)
{
    auto big = scanHex("123456789abcdef0 tail");
    EXPECT_TRUE(big.ok);
    EXPECT_EQ(big.value, UINT_MAX);
    EXPECT_EQ(big.location, 16u);   // every digit consumed
    EXPECT_EQ(scanHex("100000000").value, UINT_MAX);
}

TEST(NSScanner, ScanHexIntWithoutDigitsFailsAndKeepsItsPlace)
{
    for (const char* text : {"", "   ", "xyz", "-5", "+5", "g1"}) {
        auto scan = scanHex(text);
        EXPECT_FALSE(scan.ok) << '"' << text << '"';
        EXPECT_EQ(scan.value, 12345u) << '"' << text << '"';
        EXPECT_EQ(scan.location, 0u) << '"' << text << '"';
    }
}

TEST(NSScanner, ScanIntSignsSaturationAndFailure)
{
    auto scan = [](const char* text) {
        int value = 777;
        bool ok = NSScanner::scannerWithString(NSString::stringWithUTF8String(text))->scanInt(&value);
        return std::make_pair(ok, value);
    };
    EXPECT_EQ(scan("0002"), std::make_pair(true, 2));
    EXPECT_EQ(scan("  -7x"), std::make_pair(true, -7));
    EXPECT_EQ(scan("+3"), std::make_pair(true, 3));
    EXPECT_EQ(scan("2147483647"), std::make_pair(true, INT_MAX));
    EXPECT_EQ(scan("-2147483648"), std::make_pair(true, INT_MIN));
    // Out of range saturates: 2^32 + 2 must not wrap around to 2.
    EXPECT_EQ(scan("4294967298"), std::make_pair(true, INT_MAX));
    EXPECT_EQ(scan("-99999999999999999999999"), std::make_pair(true, INT_MIN));
    EXPECT_EQ(scan("abc"), std::make_pair(false, 777));
    EXPECT_EQ(scan("-"), std::make_pair(false, 777));
    EXPECT_EQ(scan(""), std::make_pair(false, 777));
}

TEST(NSScanner, IsAtEndAndNilString)
{
    NSScanner* scanner = NSScanner::scannerWithString(NSSTR("12  \n"));
    int value = 0;
    EXPECT_FALSE(scanner->isAtEnd());
    EXPECT_TRUE(scanner->scanInt(&value));
    EXPECT_TRUE(scanner->isAtEnd());   // only skippable characters left

    NSScanner* empty = NSScanner::scannerWithString(nullptr);
    unsigned hex = 9;
    EXPECT_TRUE(empty->isAtEnd());
    EXPECT_FALSE(empty->scanHexInt(&hex));
    EXPECT_EQ(hex, 9u);
    EXPECT_THROW(empty->setScanLocation(1), NSException*);
}

// ---------------------------------------------------------------- dates

// ICU puts narrow or no-break spaces into some patterns; compare them as
// plain spaces.
std::string plainSpaces(NSString* text)
{
    std::string out;
    if (!text)
        return "<nil>";
    for (char16_t c : text->characters())
        out += (c == 0x202F || c == 0x00A0) ? std::string(" ") : NSString::stringWithCharacters(&c, 1)->utf8();
    return out;
}

struct DateFormatting : testing::Test {
    void TearDown() override { NSDateFormatter::setDefaultLocaleAndTimeZone(nil, nil); }
    static std::string format(double seconds, const char* locale, const char* zone,
                              NSDateFormatterStyle dateStyle = NSDateFormatterShortStyle,
                              NSDateFormatterStyle timeStyle = NSDateFormatterFullStyle)
    {
        NSDateFormatter::setDefaultLocaleAndTimeZone(NSString::stringWithUTF8String(locale),
                                                     NSString::stringWithUTF8String(zone));
        return plainSpaces(NSDateFormatter::localizedStringFromDate(NSDate::dateWithTimeIntervalSince1970(seconds),
                                                                    dateStyle, timeStyle));
    }
};

TEST_F(DateFormatting, ShortDateFullTimeInTheChosenLocaleAndZone)
{
    // 0x5c54614c: 2019-02-01 15:10:04 UTC.
    EXPECT_EQ(format(0x5c54614c, "de_DE", "Europe/Berlin"), "01.02.19, 16:10:04 Mitteleuropäische Normalzeit");
    EXPECT_EQ(format(0x5c54614c, "en_US", "America/New_York"), "2/1/19, 10:10:04 AM Eastern Standard Time");
    EXPECT_EQ(format(0x5c54614c, "ja_JP", "Asia/Tokyo"), "2019/02/02 0時10分04秒 日本標準時");
    // Summer time is the zone's, not a fixed offset.
    EXPECT_EQ(format(1562000000, "de_DE", "Europe/Berlin"), "01.07.19, 18:53:20 Mitteleuropäische Sommerzeit");
}

TEST_F(DateFormatting, DatesPast2038AndBefore1970)
{
    // 0xffffffff seconds: 2106-02-07 06:28:15 UTC.
    EXPECT_EQ(format(4294967295.0, "en_US", "UTC"), "2/7/06, 6:28:15 AM Coordinated Universal Time");
    EXPECT_EQ(format(0, "en_US", "America/New_York"), "12/31/69, 7:00:00 PM Eastern Standard Time");
}

TEST_F(DateFormatting, StylesOutOfRangeNilDateAndNoStyleAtAll)
{
    NSDate* date = NSDate::dateWithTimeIntervalSince1970(0);
    NSDateFormatter::setDefaultLocaleAndTimeZone(NSSTR("en_US"), NSSTR("UTC"));
    EXPECT_EQ(NSDateFormatter::localizedStringFromDate(nil, NSDateFormatterShortStyle, NSDateFormatterFullStyle), nil);
    EXPECT_EQ(NSDateFormatter::localizedStringFromDate(date, 9, NSDateFormatterFullStyle), nil);
    NSString* none = NSDateFormatter::localizedStringFromDate(date, NSDateFormatterNoStyle, NSDateFormatterNoStyle);
    ASSERT_NE(none, nil);
    EXPECT_EQ(none->length(), 0u);
    EXPECT_EQ(format(0, "en_US", "UTC", NSDateFormatterNoStyle, NSDateFormatterShortStyle), "12:00 AM");
}

// The user's locale comes from the environment the way the C library reads it.
class LocaleEnvironment : public testing::Test {
protected:
    void SetUp() override
    {
        for (const char* name : {"LC_ALL", "LC_TIME", "LANG"}) {
            const char* value = std::getenv(name);
            saved.push_back(value ? std::optional<std::string>(value) : std::nullopt);
            unsetenv(name);
        }
    }
    void TearDown() override
    {
        const char* names[] = {"LC_ALL", "LC_TIME", "LANG"};
        for (size_t i = 0; i < 3; ++i)
            saved[i] ? setenv(names[i], saved[i]->c_str(), 1) : unsetenv(names[i]);
        NSDateFormatter::setDefaultLocaleAndTimeZone(nil, nil);
    }
    std::vector<std::optional<std::string>> saved;
};

TEST_F(LocaleEnvironment, PrecedenceEncodingsAndTheCLocale)
{
    auto current = [] { return NSDateFormatter::defaultLocaleIdentifier()->utf8(); };
    EXPECT_EQ(current(), "en_US_POSIX");
    setenv("LANG", "fr_FR.UTF-8", 1);
    EXPECT_EQ(current(), "fr_FR");
    setenv("LC_TIME", "de_DE.UTF-8@euro", 1);
    EXPECT_EQ(current(), "de_DE");
    setenv("LC_ALL", "", 1);   // empty counts as unset
    EXPECT_EQ(current(), "de_DE");
    setenv("LC_ALL", "C", 1);
    EXPECT_EQ(current(), "en_US_POSIX");
    setenv("LC_ALL", "POSIX", 1);
    EXPECT_EQ(current(), "en_US_POSIX");

    // The locale really reaches the formatter; the zone here is the test's.
    setenv("LC_ALL", "de_DE.UTF-8", 1);
    NSDateFormatter::setDefaultLocaleAndTimeZone(nil, NSSTR("Europe/Berlin"));
    EXPECT_EQ(plainSpaces(NSDateFormatter::localizedStringFromDate(NSDate::dateWithTimeIntervalSince1970(0x5c54614c),
                                                                   NSDateFormatterShortStyle, NSDateFormatterFullStyle)),
              "01.02.19, 16:10:04 Mitteleuropäische Normalzeit");
}

} // namespace
