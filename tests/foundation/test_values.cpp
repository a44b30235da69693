// Values, their texts, Core Foundation over the same objects, property lists
// and the console log.
#include "CoreFoundation/CoreFoundation.h"

#include <gtest/gtest.h>

#include <climits>
#include <filesystem>
#include <fstream>
#include <cmath>
#include <string>
#include <vector>

namespace {

std::string text(const NSObject* object) { return object ? object->description()->utf8() : "(nil)"; }

TEST(ReferenceCounting, PoolsDrainInnerFirstAndReleaseTheirObjects)
{
    NSObject* kept = NSObject::alloc();
    const size_t base = NSAutoreleasePool::depth();   // the process's pool, the test's own
    NSAutoreleasePool* outer = NSAutoreleasePool::alloc()->init();
    kept->retain()->autorelease();
    NSAutoreleasePool* inner = NSAutoreleasePool::alloc()->init();
    kept->retain()->autorelease();
    EXPECT_EQ(kept->retainCount(), 3u);
    EXPECT_EQ(NSAutoreleasePool::depth(), base + 2);
    outer->drain();                                   // drains inner as well
    EXPECT_EQ(kept->retainCount(), 1u);
    EXPECT_EQ(NSAutoreleasePool::depth(), base);
    (void)inner;
    kept->release();
}

// Hands what it holds to the current pool when it goes.
class PassesOnWhenFreed : public NSObject {
    OBJC_CLASS(PassesOnWhenFreed, NSObject)
public:
    NSObject* held = nullptr;

protected:
    ~PassesOnWhenFreed() override { held->autorelease(); }
};
OBJC_IMPLEMENTATION(PassesOnWhenFreed, NSObject) {}

TEST(ReferenceCounting, ObjectsAutoreleasedDuringADrainGoWithTheSameDrain)
{
    NSObject* kept = NSObject::alloc();
    const size_t base = NSAutoreleasePool::depth();
    NSAutoreleasePool* pool = NSAutoreleasePool::alloc()->init();
    PassesOnWhenFreed* first = PassesOnWhenFreed::alloc();
    first->held = kept->retain();
    PassesOnWhenFreed* second = PassesOnWhenFreed::alloc();
    second->held = first;   // freeing second autoreleases first, which autoreleases kept
    second->autorelease();
    EXPECT_EQ(kept->retainCount(), 2u);
    pool->drain();
    EXPECT_EQ(kept->retainCount(), 1u);
    EXPECT_EQ(NSAutoreleasePool::depth(), base);
    kept->release();
}

TEST(ReferenceCounting, LiteralsAndBooleansAreImmortal)
{
    NSString* literal = NSSTR("abc");
    EXPECT_EQ(literal, NSSTR("abc"));
    literal->release();
    literal->release();
    EXPECT_TRUE(literal->isEqualToString(NSSTR("abc")));
    CFRelease(kCFBooleanTrue);
    EXPECT_TRUE(CFBooleanGetValue(kCFBooleanTrue));
}

TEST(ClassModel, NamesKindsAndTypeIdentifiers)
{
    NSMutableString* s = NSMutableString::string();
    EXPECT_EQ(NSStringFromClass(s->isa())->utf8(), "NSMutableString");
    EXPECT_TRUE(s->isKindOfClass(NSString::class_()));
    EXPECT_FALSE(NSSTR("x")->isKindOfClass(NSMutableString::class_()));
    EXPECT_EQ(CFGetTypeID(s), CFStringGetTypeID());
    EXPECT_EQ(CFGetTypeID(kCFBooleanTrue), CFBooleanGetTypeID());
    EXPECT_NE(CFGetTypeID(NSNumber::numberWithInt(1)), CFBooleanGetTypeID());
    EXPECT_EQ(CFGetTypeID(NSCountedSet::set()), CFBagGetTypeID());
    CFStringRef name = CFCopyTypeIDDescription(CFDictionaryGetTypeID());
    EXPECT_EQ(name->utf8(), "CFDictionary");
    CFRelease(name);
}

TEST(Strings, EncodingsRoundTripAndFailCleanly)
{
    CFStringRef s = CFStringCreateWithCString(nullptr, "caf\xC3\xA9", kCFStringEncodingUTF8);
    ASSERT_NE(s, nullptr);
    char buffer[8];
    ASSERT_TRUE(CFStringGetCString(s, buffer, sizeof buffer, kCFStringEncodingMacRoman));
    EXPECT_EQ(std::string(buffer), "caf\x8E");
    EXPECT_FALSE(CFStringGetCString(s, buffer, 4, kCFStringEncodingUTF8));   // no room for the NUL
    CFRelease(s);

    // A character outside MacRoman: refused without a loss byte, replaced with one.
    CFStringRef macron = CFStringCreateWithCString(nullptr, "a\xC4\x81z", kCFStringEncodingUTF8);
    EXPECT_FALSE(CFStringGetCString(macron, buffer, sizeof buffer, kCFStringEncodingMacRoman));
    UInt8 bytes[8];
    CFIndex used = 0;
    EXPECT_EQ(CFStringGetBytes(macron, CFRangeMake(0, 3), kCFStringEncodingMacRoman, 0, false, bytes, 8, &used), 1);
    EXPECT_EQ(used, 1);
    EXPECT_EQ(CFStringGetBytes(macron, CFRangeMake(0, 3), kCFStringEncodingMacRoman, '?', false, bytes, 8, &used), 3);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(bytes), 3), "a?z");
    CFRelease(macron);

    // Bytes that are not UTF-8 make no string.
    EXPECT_EQ(CFStringCreateWithCString(nullptr, "\xC3\x28", kCFStringEncodingUTF8), nullptr);
    EXPECT_EQ(NSString::stringWithUTF8String("\xFF"), nil);
    EXPECT_EQ(CFStringGetMaximumSizeForEncoding(4, kCFStringEncodingUTF8), 12);
    EXPECT_TRUE(CFStringIsEncodingAvailable(kCFStringEncodingNextStepLatin));
    EXPECT_FALSE(CFStringIsEncodingAvailable(0x7777));
}

TEST(Strings, LiteralComparisonAndPaths)
{
    EXPECT_EQ(CFStringCompare(CFSTR("a"), CFSTR("B"), 0), kCFCompareGreaterThan);
    EXPECT_EQ(CFStringCompare(CFSTR("a"), CFSTR("A"), kCFCompareCaseInsensitive), kCFCompareEqualTo);
    EXPECT_FALSE(NSSTR("e\xCC\x81")->isEqualToString(NSSTR("\xC3\xA9")));   // no normalisation
    EXPECT_EQ(NSSTR("/a/b.tar.gz/")->lastPathComponent()->utf8(), "b.tar.gz");
    EXPECT_EQ(NSSTR("/a/b.tar.gz")->pathExtension()->utf8(), "gz");
    EXPECT_EQ(NSSTR("/a/.profile")->pathExtension()->utf8(), "");
    EXPECT_EQ(NSSTR("/")->lastPathComponent()->utf8(), "/");
    EXPECT_EQ(NSSTR("4294967298")->intValue(), INT_MAX);   // saturates, never wraps to 2
    EXPECT_EQ(NSSTR(" -12abc")->intValue(), -12);
}

TEST(Formatting, ObjectsNumbersAndMismatchedArguments)
{
    EXPECT_EQ(NSString::stringWithFormat("%@ = %@\n", NSSTR("key"), NSNumber::numberWithBool(true))->utf8(), "key = 1\n");
    EXPECT_EQ(NSString::stringWithFormat("%@|%s|%5.1f|%lu|%x|%%", nullptr, "c", 2.25, 7ul, 255)->utf8(),
              "(null)|c|  2.2|7|ff|%");
    // An object where %d is expected cannot read garbage: it prints a number.
    EXPECT_NO_THROW(NSString::stringWithFormat("%d %s %@", NSSTR("x"), 5, 3));
    EXPECT_EQ(NSString::stringWithFormat("%@", 3)->utf8(), "3");
    EXPECT_EQ(NSString::stringWithFormat("%d %d", 1)->utf8(), "1 ");
    // A floating-point number where an integer is expected saturates.
    EXPECT_EQ(NSString::stringWithFormat("%lld %lld %lld", 1e300, -1e300, std::nan(""))->utf8(),
              "9223372036854775807 -9223372036854775808 0");
}

TEST(Formatting, IntegersTakeTheWidthOfTheirConversion)
{
    auto f = [](const char* format, auto value) { return NSString::stringWithFormat(format, value)->utf8(); };
    EXPECT_EQ(f("%x", -1), "ffffffff");
    EXPECT_EQ(f("%X", -2LL), "FFFFFFFE");
    EXPECT_EQ(f("%u", -1), "4294967295");
    EXPECT_EQ(f("%o", -1), "37777777777");
    EXPECT_EQ(f("%d", 4294967298LL), "2");
    EXPECT_EQ(f("%hd", 70000), "4464");
    EXPECT_EQ(f("%hu", -1), "65535");
    EXPECT_EQ(f("%hhd", 200), "-56");
    EXPECT_EQ(f("%hhx", 0x1234), "34");
    EXPECT_EQ(f("%lx", -1), "ffffffffffffffff");
    EXPECT_EQ(f("%llu", -1LL), "18446744073709551615");
    EXPECT_EQ(f("%zu", static_cast<size_t>(-1)), "18446744073709551615");
    EXPECT_EQ(f("%ld", -5L), "-5");
    EXPECT_EQ(f("%d", 3000000000u), "-1294967296");
    EXPECT_EQ(f("%u", 3000000000u), "3000000000");
}

TEST(Numbers, ReadOutReportsLoss)
{
    int64_t big = int64_t(1) << 40;
    CFNumberRef n = CFNumberCreate(nullptr, kCFNumberSInt64Type, &big);
    int32_t small = 0;
    EXPECT_FALSE(CFNumberGetValue(n, kCFNumberSInt32Type, &small));
    int64_t back = 0;
    EXPECT_TRUE(CFNumberGetValue(n, kCFNumberSInt64Type, &back));
    EXPECT_EQ(back, big);
    CFRelease(n);

    double fraction = 2.5;
    CFNumberRef d = CFNumberCreate(nullptr, kCFNumberDoubleType, &fraction);
    int truncated = 0;
    EXPECT_FALSE(CFNumberGetValue(d, kCFNumberIntType, &truncated));
    EXPECT_EQ(truncated, 2);
    float f = 0;
    EXPECT_TRUE(CFNumberGetValue(d, kCFNumberFloatType, &f));
    EXPECT_TRUE(CFNumberIsFloatType(d));
    CFRelease(d);

    int8_t tiny = -128;
    CFNumberRef t = CFNumberCreate(nullptr, kCFNumberSInt8Type, &tiny);
    EXPECT_EQ(CFNumberGetType(t), kCFNumberSInt8Type);
    EXPECT_EQ(CFNumberGetByteSize(t), 1);
    int16_t wide = 0;
    EXPECT_TRUE(CFNumberGetValue(t, kCFNumberSInt16Type, &wide));
    EXPECT_EQ(wide, -128);
    CFRelease(t);

    double tooLarge = 1e30;
    NSNumber* huge = NSNumber::numberWithDouble(tooLarge);
    int64_t clipped = 0;
    EXPECT_FALSE(huge->getValue(kCFNumberSInt64Type, &clipped));
    EXPECT_EQ(clipped, INT64_MAX);
    EXPECT_EQ(CFNumberCreate(nullptr, 99, &big), nullptr);
    EXPECT_TRUE(NSNumber::numberWithUnsignedLongLong(ULLONG_MAX)->compare(NSNumber::numberWithLongLong(-1)) ==
                NSOrderedDescending);
}

TEST(Descriptions, ReadAsALogReaderExpects)
{
    NSMutableDictionary* d = NSMutableDictionary::dictionary();
    d->setObject(NSNumber::numberWithBool(true), NSSTR("com.apple.security.app-sandbox"));
    d->setObject(NSArray::arrayWithObjects({NSSTR("a b"), NSNumber::numberWithInt(2)}), NSSTR("list"));
    d->setObject(NSData::dataWithBytes("\x01\x02\x03\x04\x05", 5), NSSTR("data"));
    EXPECT_EQ(text(d), "{\n"
                       "    com.apple.security.app-sandbox = 1;\n"
                       "    list = (\n"
                       "        \"a b\",\n"
                       "        2\n"
                       "    );\n"
                       "    data = <01020304 05>;\n"
                       "}");
    EXPECT_EQ(text(NSURL::fileURLWithPath(NSSTR("/tmp/a b"), false)), "file:///tmp/a%20b");
    EXPECT_EQ(text(NSDate::dateWithTimeIntervalSinceReferenceDate(0)), "2001-01-01 00:00:00 +0000");
    EXPECT_EQ(text(NSNumber::numberWithDouble(0.1)), "0.10000000000000001");
}

TEST(Collections, KeepFirstInsertionOrderAndCopyKeys)
{
    NSMutableDictionary* d = NSMutableDictionary::dictionary();
    NSMutableString* key = NSMutableString::stringWithString(NSSTR("k"));
    for (const char* k : {"z", "a", "m"})
        d->setObject(NSSTR("v"), NSString::stringWithUTF8String(k));
    d->setObject(NSSTR("v"), key);
    key->appendUTF8("changed");   // the dictionary holds its own copy
    EXPECT_NE(d->objectForKey("k"), nil);
    d->setObject(NSSTR("again"), NSSTR("a"));   // replacing keeps the position
    EXPECT_EQ(d->allKeys()->componentsJoinedByString(NSSTR(", "))->utf8(), "z, a, m, k");
    d->removeObjectForKey(NSSTR("z"));
    EXPECT_EQ(d->allKeys()->componentsJoinedByString(NSSTR(","))->utf8(), "a,m,k");

    NSSet* set = NSSet::setWithObjects({NSSTR("b"), NSSTR("a"), NSSTR("b")});
    EXPECT_EQ(set->count(), 2u);
    EXPECT_EQ(set->allObjects()->componentsJoinedByString(NSSTR(""))->utf8(), "ba");

    CFMutableBagRef bag = CFBagCreateMutable(nullptr, 0, &kCFTypeBagCallBacks);
    CFBagAddValue(bag, CFSTR("x"));
    CFBagAddValue(bag, CFSTR("x"));
    CFBagAddValue(bag, CFSTR("y"));
    EXPECT_EQ(CFBagGetCountOfValue(bag, CFSTR("x")), 2);
    EXPECT_EQ(CFBagGetCount(bag), 3);
    CFRelease(bag);

    EXPECT_THROW(NSArray::array()->objectAtIndex(0), NSException*);
    EXPECT_THROW(NSMutableArray::array()->addObject(nil), NSException*);
}

TEST(Collections, BigOnesFindEveryMemberThroughRemovalsAndCopies)
{
    AutoreleasePoolScope pool;
    // Numbers and their texts as keys: equal hashes are not equal keys.
    NSMutableDictionary* d = NSMutableDictionary::dictionary();
    for (int i = 0; i < 300; ++i) {
        d->setObject(NSNumber::numberWithLongLong(i), NSNumber::numberWithLongLong(i));
        d->setObject(NSString::stringWithUTF8(std::to_string(i)), NSString::stringWithUTF8(std::to_string(i)));
    }
    ASSERT_EQ(d->count(), 600u);
    for (int i = 0; i < 300; i += 3)
        d->removeObjectForKey(NSNumber::numberWithLongLong(i));
    auto* copy = static_cast<NSDictionary*>(d->copy());
    auto* grown = static_cast<NSMutableDictionary*>(d->mutableCopy());
    grown->setObject(NSSTR("new"), NSNumber::numberWithLongLong(0));
    for (const NSDictionary* each : {static_cast<const NSDictionary*>(d), static_cast<const NSDictionary*>(copy)}) {
        EXPECT_EQ(each->count(), 500u);
        for (int i = 0; i < 300; ++i) {
            id number = each->objectForKey(NSNumber::numberWithLongLong(i));
            EXPECT_EQ(number != nil, i % 3 != 0) << i;
            if (number) {
                EXPECT_TRUE(number->isEqual(NSNumber::numberWithLongLong(i))) << i;
            }
            EXPECT_EQ(text(each->objectForKey(std::to_string(i))), std::to_string(i));
        }
    }
    EXPECT_TRUE(copy->isEqual(d));
    EXPECT_EQ(text(grown->objectForKey(NSNumber::numberWithLongLong(0))), "new");
    EXPECT_EQ(d->objectForKey(NSNumber::numberWithLongLong(0)), nil);
    EXPECT_EQ(text(grown->allKeys()->lastObject()), "0");   // added last, at the end
    copy->release();
    grown->release();

    NSMutableSet* set = NSMutableSet::set();
    for (int round = 0; round < 2; ++round)
        for (int i = 0; i < 100; ++i)
            set->addObject(NSString::stringWithUTF8("member " + std::to_string(i)));
    EXPECT_EQ(set->count(), 100u);
    set->removeObject(NSSTR("member 7"));
    EXPECT_EQ(set->member(NSSTR("member 7")), nil);
    EXPECT_NE(set->member(NSSTR("member 99")), nil);
}

TEST(URLs, FileSystemRepresentationSurvivesBytesThatAreNotUTF8)
{
    NSURL* url = NSURL::fileURLWithFileSystemRepresentation("/tmp/caf\xE9 x", false);
    EXPECT_EQ(url->absoluteString()->utf8(), "file:///tmp/caf%E9%20x");
    EXPECT_EQ(std::string(url->fileSystemRepresentation()), "/tmp/caf\xE9 x");
    // The path keeps the byte: it leads back to the same file, whatever is
    // done to it as a string.
    NSString* path = url->path();
    ASSERT_NE(path, nil);
    EXPECT_EQ(path->length(), 11u);
    EXPECT_EQ(path->characterAtIndex(8), u'\xDCE9');
    EXPECT_EQ(std::string(path->fileSystemRepresentation()), "/tmp/caf\xE9 x");
    EXPECT_EQ(path->lastPathComponent()->utf8(), "caf\xE9 x");
    EXPECT_EQ(std::string(NSURL::fileURLWithPath(path)->fileSystemRepresentation()), "/tmp/caf\xE9 x");
    EXPECT_EQ(path->UTF8String(), nullptr);   // not UTF-8 text
    // Valid sequences decode, every other byte is kept alone: a truncated
    // sequence, an overlong form, an encoded surrogate, a byte order mark.
    const std::string mixed = "\xEF\xBB\xBF\xC3\xA9\xE2\x82\xC0\xAF\xED\xA0\x80\xF0\x9F\x98\x80\xFF";
    NSString* kept = NSString::stringWithFileSystemRepresentation(mixed.data(), mixed.size());
    EXPECT_EQ(kept->characters(), (std::u16string{0xFEFF, 0xE9, 0xDCE2, 0xDC82, 0xDCC0, 0xDCAF, 0xDCED, 0xDCA0, 0xDC80,
                                                   0xD83D, 0xDE00, 0xDCFF}));
    EXPECT_EQ(kept->utf8(), mixed);
    NSURL* dir = NSURL::fileURLWithPath(NSSTR("/tmp"));
    EXPECT_TRUE(dir->hasDirectoryPath());
    EXPECT_EQ(dir->path()->utf8(), "/tmp");
    EXPECT_EQ(NSURL::URLWithString(NSSTR("not a url")), nil);
    EXPECT_TRUE(NSURL::URLWithString(NSSTR("https://example.org/x"))->filePathURL() == nil);
}

TEST(PropertyLists, StrictAboutWhatDoesNotParse)
{
    auto parse = [](const std::string& xml) -> id {
        CFDataRef data = CFDataCreate(nullptr, reinterpret_cast<const UInt8*>(xml.data()), static_cast<CFIndex>(xml.size()));
        CFStringRef error = nullptr;
        CFPropertyListRef plist = CFPropertyListCreateFromXMLData(nullptr, data, kCFPropertyListImmutable, &error);
        CFRelease(data);
        EXPECT_EQ(plist == nullptr, error != nullptr);
        if (error)
            CFRelease(error);
        return plist ? const_cast<NSObject*>(plist)->autorelease() : nil;
    };
    const std::string head = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">";
    id good = parse(head + "<dict><key>a</key><true/><key>n</key><integer>-3</integer></dict></plist>");
    ASSERT_NE(good, nil);
    EXPECT_EQ(CFGetTypeID(good), CFDictionaryGetTypeID());
    EXPECT_EQ(text(static_cast<NSDictionary*>(good)->objectForKey("n")), "-3");
    EXPECT_EQ(static_cast<NSDictionary*>(good)->objectForKey("a"), kCFBooleanTrue);

    EXPECT_EQ(parse(head + "<dict><key>a</key><true/></dict>"), nil);                       // cut short
    EXPECT_EQ(parse(head + "<dict><key>a</key><true/></dict></plist>junk"), nil);           // trailing junk
    EXPECT_EQ(parse(head + "<dict><key>a\xFF</key><true/></dict></plist>"), nil);           // not UTF-8
    EXPECT_EQ(parse("<html></html>"), nil);                                                  // not a plist
    EXPECT_EQ(parse(""), nil);
    EXPECT_NE(parse(head + "<array><string>x</string></array></plist>"), nil);               // arrays are plists too
}

TEST(PropertyLists, BinaryRoundTrip)
{
    NSDictionary* original = NSDictionary::dictionaryWithObjectsForKeys(
        {{NSSTR("Demo"), NSSTR("CFBundleName")}, {NSNumber::numberWithInt(42), NSSTR("n")}});
    NSData* binary = NSPropertyListSerialization::dataWithPropertyList(original, NSPropertyListBinaryFormat_v1_0, nullptr);
    ASSERT_NE(binary, nil);
    NSPropertyListFormat format = 0;
    id back = NSPropertyListSerialization::propertyListWithData(binary, NSPropertyListImmutable, &format, nullptr);
    EXPECT_EQ(format, NSPropertyListBinaryFormat_v1_0);
    EXPECT_TRUE(original->isEqual(back));
    NSError* error = nullptr;
    NSData* cut = binary->subdataWithRange(NSMakeRange(0, binary->length() / 2));
    EXPECT_EQ(NSPropertyListSerialization::propertyListWithData(cut, 0, nullptr, &error), nil);
    EXPECT_NE(error, nil);
}

// Every input kept for fuzz_property_list is read and written again here
// too: a string and a dictionary key libplist's own accessors asserted
// against (aborting the process), a date the writer converted out of range.
TEST(PropertyLists, InputsTheFuzzerFound)
{
    size_t count = 0;
    for (const auto& entry : std::filesystem::directory_iterator(SENTREL_FUZZ_REGRESSIONS "/fuzz_property_list")) {
        std::ifstream in(entry.path(), std::ios::binary);
        const std::string bytes((std::istreambuf_iterator<char>(in)), {});
        NSData* data = NSData::dataWithBytes(bytes.data(), bytes.size());
        id plist = NSPropertyListSerialization::propertyListWithData(data, NSPropertyListImmutable, nullptr, nullptr);
        if (plist) {
            NSPropertyListSerialization::dataWithPropertyList(plist, NSPropertyListBinaryFormat_v1_0, nullptr);
            NSPropertyListSerialization::dataWithPropertyList(plist, NSPropertyListXMLFormat_v1_0, nullptr);
        }
        ++count;
    }
    EXPECT_GE(count, 3u);
}

// A binary property list with one-byte offsets and references, its objects
// in order, the first one the top.
NSData* binaryPlist(const std::vector<std::string>& objects)
{
    std::string out = "bplist00";
    std::string table;
    for (const std::string& object : objects) {
        table += static_cast<char>(out.size());
        out += object;
    }
    const size_t tableOffset = out.size();
    out += table + std::string(6, '\0') + "\x01\x01" + std::string(7, '\0') + static_cast<char>(objects.size()) +
           std::string(8, '\0') + std::string(7, '\0') + static_cast<char>(tableOffset);
    return NSData::dataWithBytes(out.data(), out.size());
}

// libplist keeps a key's stored length beside its text and asserts the two
// agree when the key is asked for: a key holding a NUL character (in UTF-16
// or ASCII, in a dictionary however deep) is refused before it is read. A
// NUL in a string value, or in a string that only a value refers to, still
// reads.
TEST(PropertyLists, DictionaryKeysHoldingNulAreRefused)
{
    // A dictionary of one entry (key object 1, value object 2), strings of
    // three UTF-16 units or ASCII bytes, and the one-letter string "x".
    const std::string dict = "\xD1\x01\x02", x = "\x51x";
    const std::string utf16Nul{'\x63', 0, 'a', 0, 0, 0, 'b'}, asciiNul{'\x53', 'a', 0, 'b'};
    for (NSData* refused : {binaryPlist({dict, utf16Nul, x}), binaryPlist({dict, asciiNul, x}),
                            binaryPlist({"\xA1\x01", "\xD1\x02\x03", utf16Nul, x})}) {
        NSError* error = nil;
        EXPECT_EQ(NSPropertyListSerialization::propertyListWithData(refused, 0, nullptr, &error), nil);
        EXPECT_NE(error, nil);
    }
    id read = NSPropertyListSerialization::propertyListWithData(
        binaryPlist({dict, std::string{'\x63', 0, 'a', 0, '\xE9', 0, 'b'}, utf16Nul}), 0, nullptr, nullptr);
    ASSERT_NE(read, nil);
    auto* value = static_cast<NSString*>(static_cast<NSDictionary*>(read)->objectForKey(NSSTR("a\u00E9b")));
    ASSERT_NE(value, nil);
    EXPECT_EQ(value->length(), 3u);
}

// An XML list whose bytes do not fit the encoding it names is refused, and
// nothing about it reaches the standard error.
TEST(PropertyLists, ABadEncodingIsRefusedQuietly)
{
    const std::string xml = "<?xml version=\"1.0\" encoding=\"ISO-2022-JP\"?><plist>\xFF\xFE\x80\x1B$B</plist>";
    testing::internal::CaptureStderr();
    NSError* error = nil;
    id read = NSPropertyListSerialization::propertyListWithData(NSData::dataWithBytes(xml.data(), xml.size()), 0,
                                                                nullptr, &error);
    const std::string written = testing::internal::GetCapturedStderr();
    EXPECT_EQ(read, nil);
    EXPECT_NE(error, nil);
    EXPECT_EQ(written, "");
}

// Objects that overlap, so that checking every dictionary's keys would cost
// the square of the file's size: every byte a dictionary of three, every
// byte an object. Refused for that, not by libplist.
TEST(PropertyLists, OverlappingDictionariesAreRefused)
{
    std::vector<std::string> objects(200, "\xD3");
    NSError* error = nil;
    EXPECT_EQ(NSPropertyListSerialization::propertyListWithData(binaryPlist(objects), 0, nullptr, &error), nil);
    ASSERT_NE(error, nil);
    auto* why = static_cast<NSString*>(error->userInfo()->objectForKey(NSSTR("NSDebugDescription")));
    ASSERT_NE(why, nil);
    EXPECT_NE(why->utf8().find("overlap"), std::string::npos) << why->utf8();
}

// A date read from a binary property list can lie outside the 32-bit
// seconds the writer takes; writing it fails cleanly instead of converting
// out of range (found by fuzz_property_list).
TEST(PropertyLists, DatesTheWriterCannotHoldAreRefused)
{
    for (double seconds : {-3.0e9, 3.0e9, 1.0e300, std::nan("")}) {
        NSArray* dated = NSArray::arrayWithObjects({NSDate::dateWithTimeIntervalSinceReferenceDate(seconds)});
        EXPECT_EQ(NSPropertyListSerialization::dataWithPropertyList(dated, NSPropertyListBinaryFormat_v1_0, nullptr), nil)
            << seconds;
        EXPECT_EQ(NSPropertyListSerialization::dataWithPropertyList(dated, NSPropertyListXMLFormat_v1_0, nullptr), nil)
            << seconds;
    }
    NSArray* near = NSArray::arrayWithObjects({NSDate::dateWithTimeIntervalSinceReferenceDate(-2.0e9)});
    NSData* written = NSPropertyListSerialization::dataWithPropertyList(near, NSPropertyListBinaryFormat_v1_0, nullptr);
    ASSERT_NE(written, nil);
    EXPECT_TRUE(near->isEqual(NSPropertyListSerialization::propertyListWithData(written, 0, nullptr, nullptr)));
}

std::string g_logged;
void captureLog(const char* message, unsigned length, BOOL) { g_logged += std::string(message, length) + "|"; }

TEST(ConsoleLog, OneLinePerCallWithDescriptions)
{
    _NSSetLogCStringFunction(captureLog);
    g_logged.clear();
    NSLog("NSException:%@\n", NSException::exceptionWithName(NSGenericException, NSSTR("why"), nullptr));
    NSLog("hasCodeSignature=%d\n", true);
    _NSSetLogCStringFunction(nullptr);
    EXPECT_EQ(g_logged, "NSException:why\n|hasCodeSignature=1\n|");
}

} // namespace
