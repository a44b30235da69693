// The quarantine record: its fields, descriptions and dates, and its removal.
#include "ControllerTesting.h"

#include <stdexcept>

namespace {

using Quarantine = ControllerTest<UFileQuarantineController>;

std::string plainSpaces(NSString* text)
{
    if (!text)
        return "<nil>";
    std::u16string chars = text->characters();
    for (char16_t& c : chars)
        if (c == 0x202F || c == 0x00A0)
            c = u' ';
    return NSString::stringWithCharacters(chars.data(), chars.size())->utf8();
}

TEST_F(Quarantine, AFileWithoutARecord)
{
    open(file("clean"));
    EXPECT_FALSE(controller->quarantined());
    EXPECT_EQ(utf8(controller->quarantineAttributesStringData()), "");
    EXPECT_EQ(utf8(controller->quarantineDescription()), "");
    EXPECT_EQ(stringsOf(controller->quarantineAttributes()), std::vector<std::string>{""});
    EXPECT_EQ(utf8(controller->quarantineType()), "");
    EXPECT_EQ(utf8(controller->quarantineTypeDescription()), " ");
    EXPECT_EQ(utf8(controller->quarantineDate()), "");
    EXPECT_EQ(controller->quarantineTimestamp(), nil);
    EXPECT_EQ(controller->quarantineAgent(), nil);
    EXPECT_EQ(utf8(controller->quarantineAgentDescription()), " ");
    EXPECT_EQ(utf8(controller->quarantineAgentBundleID()), "");
    EXPECT_EQ(utf8(controller->quarantineDownloadedFromWhere()), "");
    EXPECT_EQ(utf8(controller->quarantineDataValue()), "");
    EXPECT_EQ(controller->quarantineProperties()->count(), 0u);
}

TEST_F(Quarantine, WithoutAURL)
{
    EXPECT_FALSE(controller->quarantined());
    EXPECT_EQ(utf8(controller->quarantineAttributesStringData()), "");
    EXPECT_EQ(stringsOf(controller->quarantineAttributes()), std::vector<std::string>{""});
    EXPECT_EQ(utf8(controller->quarantineTypeDescription()), " ");
    EXPECT_EQ(controller->quarantineProperties()->count(), 0u);
    const uint32_t before = controller->fileURLUpdated();
    controller->setQuarantined(false);
    EXPECT_EQ(controller->fileURLUpdated(), before);
}

TEST_F(Quarantine, FourFieldsWebDownload)
{
    NSDateFormatter::setDefaultLocaleAndTimeZone(NSSTR("en_US"), NSSTR("UTC"));
    open(file("app.dmg", {{"com.apple.quarantine", "0002;0;Agent;X"}}));
    EXPECT_TRUE(controller->quarantined());
    EXPECT_EQ(stringsOf(controller->quarantineAttributes()), (std::vector<std::string>{"0002", "0", "Agent", "X"}));
    EXPECT_TRUE(CFEqual(controller->quarantineType(), kLSQuarantineTypeWebDownload));
    EXPECT_EQ(utf8(controller->quarantineTypeDescription()), "Web Download LSQuarantineTypeWebDownload");
    ASSERT_NE(controller->quarantineTimestamp(), nil);
    EXPECT_EQ(controller->quarantineTimestamp()->timeIntervalSince1970(), 0.0);
    EXPECT_EQ(plainSpaces(controller->quarantineDate()), "1/1/70, 12:00:00 AM Coordinated Universal Time");
    EXPECT_EQ(utf8(controller->quarantineAgent()), "Agent");
    EXPECT_EQ(utf8(controller->quarantineAgentDescription()), "Agent ");
    EXPECT_EQ(utf8(controller->quarantineDescription()), "0002;0;Agent;X");
    // The keys the record does not carry stay empty.
    EXPECT_EQ(utf8(controller->quarantineAgentBundleID()), "");
    EXPECT_EQ(utf8(controller->quarantineDataValue()), "");
}

TEST_F(Quarantine, ArrivalKindFromTheDecimalValueOfFieldZero)
{
    auto typeOf = [&](const std::string& field0) {
        TempFolder::setAttribute(folder.path("f"), "com.apple.quarantine", field0 + ";0;A");
        return std::make_pair(utf8(controller->quarantineType()), utf8(controller->quarantineTypeDescription()));
    };
    open(file("f"));
    const std::string web = "LSQuarantineTypeWebDownload";
    EXPECT_EQ(typeOf("0083"), std::make_pair(std::string("0083"), std::string(" 0083")));
    EXPECT_EQ(typeOf("2").first, web);
    EXPECT_EQ(typeOf(" +2").first, web);
    EXPECT_EQ(typeOf("2abc").first, web);
    EXPECT_EQ(typeOf("-2").first, "-2");
    EXPECT_EQ(typeOf("0x2").first, "0x2");   // decimal: 0, then "x"
    // 2^32 + 2 saturates; it does not wrap around to 2.
    EXPECT_EQ(typeOf("4294967298").first, "4294967298");
    EXPECT_EQ(typeOf("").first, "");
    // A field that names an arrival kind itself is described by it.
    EXPECT_EQ(typeOf("LSQuarantineTypeEmailAttachment").second, "Email Attachment LSQuarantineTypeEmailAttachment");
    EXPECT_EQ(typeOf("LSQuarantineTypeOtherAttachment").second, "Other Attachment LSQuarantineTypeOtherAttachment");
}

TEST_F(Quarantine, TimestampsAreUnsignedHexadecimal)
{
    auto secondsOf = [&](const std::string& field1) -> double {
        TempFolder::setAttribute(folder.path("f"), "com.apple.quarantine", "0083;" + field1 + ";A");
        NSDate* date = controller->quarantineTimestamp();
        return date ? date->timeIntervalSince1970() : -1;
    };
    open(file("f"));
    EXPECT_EQ(secondsOf("ffffffff"), 4294967295.0);   // 2106, not a negative time
    EXPECT_EQ(secondsOf("0x10"), 16.0);
    EXPECT_EQ(secondsOf("5c54614c"), 1549033804.0);
    EXPECT_EQ(secondsOf("zz"), 0.0);                  // no digits: 1970
    EXPECT_EQ(secondsOf(""), 0.0);
    EXPECT_EQ(secondsOf("123456789abc"), 4294967295.0);
}

TEST_F(Quarantine, LocalizedDateInTheUsersLocaleAndZone)
{
    open(file("f", {{"com.apple.quarantine", "0083;5c54614c;Safari;"}}));
    NSDateFormatter::setDefaultLocaleAndTimeZone(NSSTR("de_DE"), NSSTR("Europe/Berlin"));
    EXPECT_EQ(plainSpaces(controller->quarantineDate()), "01.02.19, 16:10:04 Mitteleuropäische Normalzeit");
    NSDateFormatter::setDefaultLocaleAndTimeZone(NSSTR("en_US"), NSSTR("America/New_York"));
    EXPECT_EQ(plainSpaces(controller->quarantineDate()), "2/1/19, 10:10:04 AM Eastern Standard Time");

    TempFolder::setAttribute(folder.path("f"), "com.apple.quarantine", "0083;ffffffff;Safari;");
    NSDateFormatter::setDefaultLocaleAndTimeZone(NSSTR("de_DE"), NSSTR("Europe/Berlin"));
    EXPECT_EQ(plainSpaces(controller->quarantineDate()), "07.02.06, 07:28:15 Mitteleuropäische Normalzeit");
    NSDateFormatter::setDefaultLocaleAndTimeZone(NSSTR("ja_JP"), NSSTR("Asia/Tokyo"));
    EXPECT_EQ(plainSpaces(controller->quarantineDate()), "2106/02/07 15時28分15秒 日本標準時");
}

TEST_F(Quarantine, ShortRecords)
{
    open(file("f", {{"com.apple.quarantine", "0002;5c54614c"}}));
    EXPECT_EQ(controller->quarantineAgent(), nil);
    EXPECT_EQ(utf8(controller->quarantineAgentDescription()), " ");
    EXPECT_NE(utf8(controller->quarantineDate()), "");

    TempFolder::setAttribute(folder.path("f"), "com.apple.quarantine", "0001");
    EXPECT_EQ(controller->quarantineTimestamp(), nil);
    EXPECT_EQ(utf8(controller->quarantineDate()), "");
    EXPECT_EQ(controller->quarantineAttributeWithIndex(1), nil);
    EXPECT_EQ(controller->quarantineAttributeWithIndex(UINT32_MAX), nil);
    EXPECT_EQ(utf8(controller->quarantineAttributeWithIndex(0)), "0001");

    // Empty stretches are empty fields, not missing ones.
    TempFolder::setAttribute(folder.path("f"), "com.apple.quarantine", ";;;");
    EXPECT_EQ(stringsOf(controller->quarantineAttributes()), (std::vector<std::string>{"", "", "", ""}));
    EXPECT_EQ(utf8(controller->quarantineAgent()), "");
    EXPECT_EQ(controller->quarantineTimestamp()->timeIntervalSince1970(), 0.0);
}

TEST_F(Quarantine, TheTextEndsAtTheFirstNulByte)
{
    open(file("f", {{"com.apple.quarantine", std::string("0002;0;Agent;X\0", 15)}}));
    EXPECT_EQ(utf8(controller->quarantineAttributesStringData()), "0002;0;Agent;X");
    EXPECT_EQ(controller->quarantineAttributes()->count(), 4u);
    TempFolder::setAttribute(folder.path("f"), "com.apple.quarantine", std::string("0002;0\0;Agent;X", 15));
    EXPECT_EQ(utf8(controller->quarantineAttributesStringData()), "0002;0");
    EXPECT_EQ(controller->quarantineAgent(), nil);
    // A value that is only a NUL byte is present, but its text is empty.
    TempFolder::setAttribute(folder.path("f"), "com.apple.quarantine", std::string("\0", 1));
    EXPECT_TRUE(controller->quarantined());
    EXPECT_EQ(utf8(controller->quarantineAttributesStringData()), "");
}

TEST_F(Quarantine, ARecordThatIsNotUtf8)
{
    open(file("f", {{"com.apple.quarantine", "0002;\xff\xfe;Agent\xc3"}}));
    EXPECT_TRUE(controller->quarantined());
    EXPECT_EQ(controller->quarantineAttributesStringData(), nil);
    EXPECT_EQ(controller->quarantineDescription(), nil);
    EXPECT_EQ(controller->quarantineAttributes(), nil);
    EXPECT_EQ(controller->quarantineAttributeWithIndex(0), nil);
    EXPECT_EQ(utf8(controller->quarantineType()), "");
    EXPECT_EQ(utf8(controller->quarantineTypeDescription()), " ");
    EXPECT_EQ(controller->quarantineTimestamp(), nil);
    EXPECT_EQ(utf8(controller->quarantineDate()), "");
    EXPECT_EQ(controller->quarantineAgent(), nil);
    EXPECT_EQ(controller->valueForKey("quarantineAttributes"), nil);
}

// On Linux a name is bytes: "caf\xE9" in Latin-1 is not UTF-8. Every key
// answers for it as for any other name.
TEST_F(Quarantine, ANameThatIsNotUtf8)
{
    const std::string path = file("caf\xE9.txt", {{"com.apple.quarantine", "0083;674f1a2b;Safari;"}, {"org.example.note", "n"}});
    open(path);
    NSString* shown = controller->filePath();
    ASSERT_NE(shown, nil);
    EXPECT_EQ(std::string(shown->fileSystemRepresentation()), path);
    EXPECT_EQ(utf8(controller->fileDescription()), "caf\xE9.txt");
    EXPECT_NE(controller->fileIconImage(), NSImage::imageNamed(NSSTR("Sentrel.icns")));
    EXPECT_NE(controller->attributesDictionary()->objectForKey(NSFileSize), nil);
    EXPECT_EQ(controller->extendedAttributesList()->count(), 2u);
    EXPECT_NE(controller->metadataAttributesList()->count(), 0u);
    EXPECT_TRUE(controller->quarantined());
    EXPECT_EQ(utf8(controller->quarantineAgent()), "Safari");
    EXPECT_NE(controller->quarantineProperties()->count(), 0u);
    controller->setQuarantined(false);
    EXPECT_FALSE(controller->quarantined());
    EXPECT_EQ(TempFolder::diskAttribute(path, "user.org.example.note"), "n");
}

TEST_F(Quarantine, LookupsByKey)
{
    open(file("f", {{"com.apple.quarantine", "0083;0;Agent"}}));
    EXPECT_EQ(utf8(controller->quarantineAttributeWithName(kLSQuarantineAgentNameKey)), "Agent");
    EXPECT_EQ(utf8(controller->quarantineAttributeWithName(CFSTR("LSQuarantineAgentName"))), "Agent");   // by value
    EXPECT_EQ(utf8(controller->quarantineAttributeWithNameFromIndex(kLSQuarantineTypeKey)), "0083");
    EXPECT_EQ(utf8(controller->quarantineAttributeWithName(CFSTR("SomethingElse"))), "");
    EXPECT_EQ(utf8(controller->quarantineAttributeWithName(nullptr)), "");
}

TEST_F(Quarantine, SettingQuarantinedTrueChangesNothing)
{
    const std::string path = file("f", {{"com.apple.quarantine", "0083;0;A;"}});
    open(path);
    const uint32_t before = controller->fileURLUpdated();
    {
        Observation watching(controller, recorder, {"quarantined", "quarantineAgent"});
        controller->setQuarantined(true);
        controller->setValueForKey(NSNumber::numberWithBool(true), "quarantined");
    }
    EXPECT_TRUE(recorder->log.empty());
    EXPECT_EQ(controller->fileURLUpdated(), before);
    EXPECT_EQ(TempFolder::diskAttribute(path, "user.com.apple.quarantine"), "0083;0;A;");
}

TEST_F(Quarantine, RemovingTheRecordTouchesNothingElseAndBumpsTheCounterTwice)
{
    const std::string path = file("f", {{"com.apple.quarantine", "0083;5c54614c;Agent;"},
                                        {"com.apple.metadata:kMDItemWhereFroms", std::string("bplist00\x01\x02", 10)},
                                        {"org.example.binary", std::string("\0\xff\x01", 3)},
                                        {"empty.value", ""}});
    open(path);
    auto diskList = [&] {
        std::vector<std::string> all;
        std::vector<char> names(65536);
        ssize_t n = ::llistxattr(path.c_str(), names.data(), names.size());
        for (ssize_t start = 0; start < n;) {
            std::string name(names.data() + start);
            start += static_cast<ssize_t>(name.size()) + 1;
            if (name != "user.com.apple.quarantine")
                all.push_back(name + "=" + TempFolder::diskAttribute(path, name.c_str()));
        }
        std::sort(all.begin(), all.end());
        return all;
    };
    const std::vector<std::string> othersBefore = diskList();
    struct stat before;
    ASSERT_EQ(stat(path.c_str(), &before), 0);
    const uint32_t counter = controller->fileURLUpdated();

    {
        Observation watching(controller, recorder,
                             {"quarantined", "quarantineAgent", "quarantineDescription", "extendedAttributesListString",
                              "extendedAttributesList", "quarantineProperties"});
        controller->setQuarantined(false);
    }
    EXPECT_EQ(controller->fileURLUpdated(), counter + 2);
    EXPECT_FALSE(controller->quarantined());
    EXPECT_EQ(TempFolder::diskAttribute(path, "user.com.apple.quarantine"), "<none>");
    EXPECT_EQ(diskList(), othersBefore);
    struct stat after;
    ASSERT_EQ(stat(path.c_str(), &after), 0);
    EXPECT_EQ(after.st_size, before.st_size);
    EXPECT_EQ(after.st_mode, before.st_mode);
    EXPECT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec);
    EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
    // Two bumps: two notices for every observed key, will before did.
    for (const char* key : {"quarantined", "quarantineAgent", "quarantineDescription", "extendedAttributesListString",
                            "extendedAttributesList", "quarantineProperties"}) {
        EXPECT_EQ(recorder->count(std::string("will:") + key), 2u) << key;
        EXPECT_EQ(recorder->count(std::string("did:") + key), 2u) << key;
    }
    ASSERT_FALSE(recorder->log.empty());   // a failed removal announces nothing
    EXPECT_EQ(recorder->log.front().rfind("will:", 0), 0u);
    EXPECT_EQ(recorder->log.back().rfind("did:", 0), 0u);
    EXPECT_EQ(stringsOf(controller->extendedAttributesList()).size(), 3u);

    // Once more: nothing left to remove, nothing changes.
    recorder->log.clear();
    controller->setQuarantined(false);
    EXPECT_EQ(controller->fileURLUpdated(), counter + 2);
}

TEST_F(Quarantine, RemovalThroughKeyValueCodingAndASymbolicLink)
{
    const std::string target = file("target", {{"com.apple.quarantine", "0002;0;A"}});
    ASSERT_EQ(symlink("target", folder.path("link").c_str()), 0);
    open(folder.path("link"));
    EXPECT_TRUE(controller->quarantined());
    EXPECT_EQ(utf8(controller->quarantineAgent()), "A");
    EXPECT_TRUE(static_cast<NSNumber*>(controller->valueForKey("quarantined"))->boolValue());
    controller->setValueForKey(NSNumber::numberWithBool(false), "quarantined");
    EXPECT_EQ(TempFolder::diskAttribute(target, "user.com.apple.quarantine"), "<none>");
    EXPECT_EQ(controller->fileURLUpdated(), 3u);
}

TEST_F(Quarantine, RemovalWithoutPermissionChangesNothing)
{
    ASSERT_EQ(chmod(folder.path().c_str(), 0755), 0);
    const std::string path = file("f", {{"com.apple.quarantine", "0083;0;A;"}});
    ASSERT_EQ(chmod(path.c_str(), 0644), 0);   // readable by all, writable by its owner only
    open(path);
    const uint32_t counter = controller->fileURLUpdated();
    bool stillQuarantined = false;
    const bool ran = asUnprivilegedUser([&] {
        AutoreleasePoolScope pool;
        controller->setQuarantined(false);
        stillQuarantined = controller->quarantined();
    });
    if (!ran)
        GTEST_SKIP() << "cannot take the ids of an unprivileged user";
    EXPECT_TRUE(stillQuarantined);
    EXPECT_EQ(controller->fileURLUpdated(), counter);
    EXPECT_EQ(TempFolder::diskAttribute(path, "user.com.apple.quarantine"), "0083;0;A;");
}

TEST_F(Quarantine, ObserversOfDerivedKeysSeeTheURLArrive)
{
    NSDateFormatter::setDefaultLocaleAndTimeZone(NSSTR("en_US"), NSSTR("UTC"));
    const std::string path = file("f", {{"com.apple.quarantine", "0002;10;Browser;"}});
    std::vector<std::string> agents;
    class AgentWatcher : public NSObject {
    public:
        std::vector<std::string>* seen = nullptr;
        void observeValueForKeyPath(NSString* key, id object, NSDictionary* change, void*) override
        {
            if (change->objectForKey(NSKeyValueChangeNotificationIsPriorKey))
                return;
            id value = change->objectForKey(NSKeyValueChangeNewKey);
            seen->push_back(key->utf8() + "=" + (value ? value->description()->utf8() : "<nil>"));
        }
    };
    Retained<AgentWatcher> watcher = Retained<AgentWatcher>::adopt(new AgentWatcher);
    watcher->seen = &agents;
    controller->addObserver(watcher, "quarantineAgent", NSKeyValueObservingOptionNew, nullptr);
    controller->addObserver(watcher, "quarantineTypeDescription", NSKeyValueObservingOptionNew, nullptr);
    controller->setFileURL(TempFolder::url(path));
    controller->removeObserver(watcher, "quarantineAgent");
    controller->removeObserver(watcher, "quarantineTypeDescription");
    // privateURL changes first, then the counter: the new values each time.
    EXPECT_EQ(agents, (std::vector<std::string>{"quarantineAgent=Browser",
                                                "quarantineTypeDescription=Web Download LSQuarantineTypeWebDownload",
                                                "quarantineAgent=Browser",
                                                "quarantineTypeDescription=Web Download LSQuarantineTypeWebDownload"}));
}

// A record that loses fields between the reads of one field lookup.
class ShrinkingRecord : public UFileQuarantineController {
    OBJC_CLASS(ShrinkingRecord, UFileQuarantineController)
public:
    mutable int reads = 0;
    bool throwOther = false;
    NSArray* quarantineAttributes() const override
    {
        if (++reads < 3)
            return NSArray::arrayWithObjects({NSSTR("0002"), NSSTR("0"), NSSTR("Agent"), NSSTR("X")});
        if (throwOther)
            throw std::runtime_error("not the platform's exception");
        return NSArray::arrayWithObjects({NSSTR("0002")});
    }
};
OBJC_IMPLEMENTATION(ShrinkingRecord, UFileQuarantineController) {}

TEST(QuarantineRecordChanges, AFieldLostBetweenReadsIsLoggedAndNull)
{
    Retained<ShrinkingRecord> controller =
        Retained<ShrinkingRecord>::adopt(static_cast<ShrinkingRecord*>(ShrinkingRecord::alloc()->init()));
    ConsoleCapture console;
    EXPECT_EQ(controller->quarantineAttributeWithIndex(3), nil);
    EXPECT_EQ(controller->reads, 3);
    ASSERT_EQ(ConsoleCapture::lines().size(), 1u);
    EXPECT_EQ(ConsoleCapture::lines()[0].rfind("NSException ", 0), 0u);
    EXPECT_EQ(ConsoleCapture::lines()[0].back(), '\n');

    // Any other kind of exception is the caller's.
    controller->reads = 0;
    controller->throwOther = true;
    EXPECT_THROW(controller->quarantineAttributeWithIndex(3), std::runtime_error);
}

TEST_F(Quarantine, PlatformQuarantinePropertiesOnlyForAQuarantinedFile)
{
    const std::string path = file("f", {{"com.apple.quarantine", "0083;5c54614c;Browser;"},
                                        {"xdg.origin.url", "https://example.org/f"}});
    open(path);
    NSDictionary* properties = controller->quarantineProperties();
    EXPECT_TRUE(static_cast<NSString*>(properties->objectForKey(kLSQuarantineAgentNameKey))->isEqualToString(NSSTR("Browser")));
    EXPECT_NE(properties->objectForKey(kLSQuarantineDataURLKey), nil);
    // The controller's own keys do not take them from there.
    EXPECT_EQ(utf8(controller->quarantineDataValue()), "");

    controller->setQuarantined(false);
    EXPECT_EQ(controller->quarantineProperties()->count(), 0u);
    // An empty record does not count either.
    TempFolder::setAttribute(path, "com.apple.quarantine", "");
    EXPECT_FALSE(controller->quarantined());
    EXPECT_EQ(controller->quarantineProperties()->count(), 0u);
}

TEST(QuarantineKeys, EveryKeyDependsOnTheStoredKeys)
{
    std::vector<std::string> stored = {"fileURLUpdated", "privateURL"};
    for (const char* key : {"quarantineDataValue", "quarantineDownloadedFromWhere", "quarantineAgentDescription",
                            "quarantineAgentBundleID", "quarantineAgent", "quarantineDate", "quarantineTypeDescription",
                            "quarantineType", "quarantineTimestamp", "quarantineProperties", "quarantineDescription",
                            "quarantineAttributes", "quarantineAttributesStringData", "quarantined", "filePath"}) {
        std::vector<std::string> keys =
            stringsOf(NSObject::keyPathsForValuesAffectingValueForKey(UFileQuarantineController::class_(), key)->allObjects());
        std::sort(keys.begin(), keys.end());
        EXPECT_EQ(keys, stored) << key;
    }
    EXPECT_TRUE(kAppleQuarantineKeyName->isEqualToString(NSSTR("com.apple.quarantine")));
}

} // namespace
