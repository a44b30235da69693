// The string holder's conversions, on the inputs that could break them.
#include "PlinthTestSupport.h"

#include "T_CFString.h"

#include <gtest/gtest.h>

#include <cstdlib>

using namespace plinth_test;

namespace {

const std::string kPrefix = "CoreMachDebugLog:";

// One report line for the function and code, naming the holder's header.
bool Reported(const std::string& reports, const std::string& function, const std::string& code)
{
    std::string head = kPrefix + "VERIFY FAILED:  code : " + code + " in ";
    for (size_t at = reports.find(head); at != std::string::npos; at = reports.find(head, at + 1)) {
        std::string line = reports.substr(at, reports.find('\n', at) - at);
        if (line.find("/sdk/Plinth/T_CFString_inlines.h:") != std::string::npos && line.ends_with(" (" + function + ")"))
            return true;
    }
    return false;
}

TEST(StringReadOut, EightBitTextFallsBackToUtf8AndEmptyIsAFailure)
{
    std::string out = "previous";
    EXPECT_FALSE(TCFString(CFSTR("")).GetValue(out, kCFStringEncodingUTF8));
    EXPECT_EQ(out, "");
    out = "previous";
    EXPECT_FALSE(TCFString(CFSTR("")).GetConstCharStarValue(out, kCFStringEncodingUTF8));
    EXPECT_EQ(out, "previous");

    EXPECT_TRUE(TCFString(CFSTR("caf\xC3\xA9")).GetValue(out, kCFStringEncodingInvalidId));
    EXPECT_EQ(out, "caf\xC3\xA9");
    EXPECT_TRUE(TCFString(CFSTR("caf\xC3\xA9")).GetValue(out, kCFStringEncodingMacRoman));
    EXPECT_EQ(out, "caf\x8E");
    // Not in Mac Roman: the text comes back in UTF-8, and the answer is yes.
    EXPECT_TRUE(TCFString(CFSTR("\xE4\xB8\xAD")).GetValue(out, kCFStringEncodingMacRoman));
    EXPECT_EQ(out, "\xE4\xB8\xAD");
    EXPECT_TRUE(TCFString(CFSTR("\xE4\xB8\xAD")).GetValue(out, 0x7777));   // no such encoding
    EXPECT_EQ(out, "\xE4\xB8\xAD");

    // An unpaired surrogate has no UTF-8 form: every fallback fails.
    const UniChar lone[] = {u'a', 0xD800};
    TCFString broken(CFStringCreateWithCharacters(nullptr, lone, 2), kCFTypeRef_Owned);
    std::string reports = ReportsOf([&] { EXPECT_FALSE(broken.GetValue(out, kCFStringEncodingUTF8)); });
    EXPECT_TRUE(Reported(reports, "GetConstCharStarValue",
                         "fOk = ::CFStringGetCString(mValueRef,buffer_raw_string,_max_buffer_size,PreferredEncoding[i])"))
        << reports;
}

TEST(StringFill, BytesNotValidInTheEncodingEmptyTheHolderAndLogTheEncoding)
{
    TCFString holder("before");
    std::string reports = ReportsOf([&] { EXPECT_FALSE(holder.SetValue("ab\xC3(", kCFStringEncodingUTF8)); });
    EXPECT_EQ(reports, kPrefix + "TCFString::SetValue in_cstring:ab\xC3( inFromThisEncoding:134217984\n");
    EXPECT_EQ(holder.Get(), nullptr);
    EXPECT_FALSE(holder.IsValid());

    reports = ReportsOf([&] {
        EXPECT_FALSE(holder.SetValue(static_cast<const char*>(nullptr), kCFStringEncodingUTF8));
        TCFString fromNull(static_cast<const char*>(nullptr));
        EXPECT_EQ(fromNull.Get(), nullptr);
        holder = static_cast<const char*>(nullptr);
        EXPECT_FALSE(holder.SetValue(static_cast<const unsigned short*>(nullptr)));
        std::wstring wide;
        EXPECT_FALSE(TCFString::ToUnicode(static_cast<const char*>(nullptr), wide, 0));
    });
    EXPECT_TRUE(Reported(reports, "SetValue", "in_cstring!=NULL")) << reports;
    EXPECT_TRUE(Reported(reports, "TCFString", "in_cstring!=NULL")) << reports;
    EXPECT_TRUE(Reported(reports, "operator=", "in_cstring!=NULL")) << reports;
    EXPECT_TRUE(Reported(reports, "ToUnicode", "in_utf8_cstring!=NULL")) << reports;
}

TEST(StringWide, WideCharactersAreCutAndSurrogatesWidenUnitByUnit)
{
    // U+1F600 keeps only its low 16 bits; U+10000 cuts to 0, which ends the text.
    TCFString wide(L"a\U0001F600b");
    ASSERT_EQ(wide.strlen(), 3);
    EXPECT_EQ(CFStringGetCharacterAtIndex(wide.Get(), 1), 0xF600);
    EXPECT_EQ(TCFString(L"x\U00010000y").strlen(), 1);

    const UniChar pair[] = {u'z', 0xD83D, 0xDE00};
    TCFString surrogates(CFStringCreateWithCharacters(nullptr, pair, 3), kCFTypeRef_Owned);
    std::wstring out;
    ASSERT_TRUE(surrogates.GetValue(out));
    EXPECT_EQ(out, std::wstring(L"z\xD83D\xDE00"));

    std::wstring converted;
    EXPECT_TRUE(TCFString::ToUnicode("caf\xC3\xA9", converted, kCFStringEncodingUTF8));
    EXPECT_EQ(converted, L"caf\u00E9");
    std::string narrow;
    EXPECT_TRUE(TCFString::FromUnicode(L"caf\u00E9", narrow, kCFStringEncodingISOLatin1));
    EXPECT_EQ(narrow, "caf\xE9");
}

TEST(StringHFSName, KeepsAtMost255UnitsAndNeverWritesPastThem)
{
    std::u16string units(300, u'n');
    units[254] = 0xD83D;   // a pair cut by the limit
    units[255] = 0xDE00;
    TCFString longString(CFStringCreateWithCharacters(nullptr, units.data(), static_cast<CFIndex>(units.size())),
                         kCFTypeRef_Owned);
    struct {
        HFSUniStr255 name;
        UniChar guard = 0xBEEF;
    } out;
    ASSERT_TRUE(longString.GetValue(out.name));
    EXPECT_EQ(out.name.length, 255);
    EXPECT_EQ(out.name.unicode[254], 0xD83D);
    EXPECT_EQ(out.guard, 0xBEEF);

    HFSUniStr255 empty;
    EXPECT_FALSE(TCFString(CFSTR("")).GetValue(empty));
    EXPECT_EQ(empty.length, 0);
    EXPECT_FALSE(TCFString().GetValue(empty));

    // A name claiming more than 255 units is read as 255.
    HFSUniStr255 bogus;
    bogus.length = 9999;
    std::fill(std::begin(bogus.unicode), std::end(bogus.unicode), u'q');
    EXPECT_EQ(TCFString(bogus).strlen(), 255);

    std::string narrow;
    EXPECT_TRUE(TCFString::ToUnicode("na\xC3\xAFve", out.name, kCFStringEncodingUTF8));
    EXPECT_EQ(out.name.length, 5);
    EXPECT_TRUE(TCFString::FromUnicode(out.name, narrow, kCFStringEncodingMacRoman));
    EXPECT_EQ(narrow, "na\x95ve");
}

TEST(StringPascal, RoundTripsInMacRomanAndCutsAt255Bytes)
{
    const unsigned char pascal[] = {4, 'c', 'a', 'f', 0x8E};
    TCFString fromPascal;
    ASSERT_TRUE(fromPascal.SetValue(pascal, kCFStringEncodingMacRoman));
    EXPECT_EQ(fromPascal.strcmp("caf\xC3\xA9"), 0);

    Str255 out;
    std::memset(out, 0xAA, sizeof(out));
    ASSERT_TRUE(TCFString(std::string(300, 'p')).GetValue(out));
    EXPECT_EQ(out[0], 255);
    EXPECT_EQ(out[255], 'p');

    HFSUniStr255 hfs;
    EXPECT_TRUE(TCFString::ToUnicode(pascal, hfs, kCFStringEncodingMacRoman));
    EXPECT_EQ(std::u16string(hfs.unicode, hfs.length), u"caf\u00E9");
}

TEST(StringUtf16, ZeroTerminatedCopiesOwnedByTheCaller)
{
    TCFString string(CFSTR("h\xC3\xA9llo"));
    T_cstring<unsigned short> buffer;
    EXPECT_FALSE(buffer.set_length(0));
    ASSERT_TRUE(string.GetValue(buffer));
    EXPECT_EQ(buffer.m_cstring[1], 0xE9);
    EXPECT_EQ(buffer.m_cstring[5], 0);
    EXPECT_TRUE(buffer.set_length(0));

    const unsigned short* units = nullptr;
    long length = -1;
    ASSERT_TRUE(string.GetValue(units, length));
    EXPECT_EQ(length, 5);
    EXPECT_EQ(units[5], 0);
    TCFString back;
    EXPECT_TRUE(back.SetValue(units));
    EXPECT_EQ(back.strcmp(string.Get()), 0);
    std::free(const_cast<unsigned short*>(units));

    TCFString empty;
    units = reinterpret_cast<const unsigned short*>(0x1);
    std::string reports = ReportsOf([&] {
        EXPECT_FALSE(empty.GetValue(units, length));
        EXPECT_FALSE(empty.GetValue(buffer));
    });
    EXPECT_EQ(units, nullptr);
    EXPECT_TRUE(Reported(reports, "GetValue", "IsTypeValid()")) << reports;
}

TEST(StringCompare, LiteralOrderAndErrorsAnswerMinusOne)
{
    TCFString a("a"), b("b");
    EXPECT_EQ(a.strcmp(b.Get()), -1);
    EXPECT_EQ(b.strcmp("a"), 1);
    EXPECT_EQ(a.strcmp("a"), 0);
    EXPECT_EQ(a.strcmp("A"), 1);   // case counts

    TCFString empty;
    std::string reports = ReportsOf([&] {
        EXPECT_EQ(empty.strcmp("a"), -1);
        EXPECT_EQ(empty.strlen(), 0);
        EXPECT_EQ(a.strcmp(static_cast<CFStringRef>(nullptr)), -1);
        EXPECT_EQ(a.strcmp("\xFF"), -1);   // not UTF-8
    });
    EXPECT_TRUE(Reported(reports, "strcmp", "IsValid()")) << reports;
    EXPECT_TRUE(Reported(reports, "strlen", "IsValid()")) << reports;
    EXPECT_TRUE(Reported(reports, "strcmp", "rhs_StringRef!=NULL")) << reports;
}

} // namespace
