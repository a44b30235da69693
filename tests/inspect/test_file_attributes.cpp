// The file attributes controller over real files with real extended attributes.
#include "ControllerTesting.h"

#include "CoreServices/Metadata.h"
#include "sys/xattr.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstring>

namespace {

using FileAttributes = ControllerTest<UFileAttributesController>;

// A controller whose file-attribute dictionary the test chooses.
class ChosenAttributes : public UFileAttributesController {
    OBJC_CLASS(ChosenAttributes, UFileAttributesController)
public:
    Retained<NSDictionary> chosen;
    NSDictionary* attributesDictionary() const override { return chosen; }
};
OBJC_IMPLEMENTATION(ChosenAttributes, UFileAttributesController) {}

TEST_F(FileAttributes, WithoutAURLEverythingIsNullEmptyFalseOrMinusOne)
{
    NSImage* appIcon = NSImage::imageNamed(NSSTR("Sentrel.icns"));
    ASSERT_NE(appIcon, nil);
    const NSSize stored = appIcon->size();
    appIcon->setSize(NSMakeSize(40, 40));

    EXPECT_EQ(controller->fileURL(), nil);
    EXPECT_EQ(controller->filePath(), nil);
    EXPECT_EQ(controller->filePathName(), nullptr);
    EXPECT_EQ(controller->fileDescription(), nil);
    // The application's icon, at whatever size it was left at.
    EXPECT_EQ(controller->fileIconImage(), appIcon);
    EXPECT_FLOAT_EQ(controller->fileIconImage()->size().width, 40);
    appIcon->setSize(stored);

    ASSERT_NE(controller->attributesDictionary(), nil);
    EXPECT_EQ(controller->attributesDictionary()->count(), 0u);
    EXPECT_EQ(controller->attributesList()->count(), 0u);
    EXPECT_EQ(utf8(controller->attributesListString()), "");
    EXPECT_EQ(controller->extendedAttributesDictionary()->count(), 0u);
    EXPECT_EQ(utf8(controller->extendedAttributesListString()), "");
    EXPECT_EQ(controller->metadataAttributesList()->count(), 0u);
    EXPECT_EQ(utf8(controller->metadataAttributesListString()), "");
    EXPECT_EQ(controller->extendedAttributesListData(), nil);
    EXPECT_EQ(controller->extendedAttributesDictionaryFromData()->count(), 0u);
    EXPECT_EQ(controller->sizeofExtendedAttributeForKeyName(kAppleQuarantineKeyName), -1);
    EXPECT_FALSE(controller->hasExtendedAttributeForKeyName(kAppleQuarantineKeyName));
    EXPECT_EQ(controller->extendedAttributeForKeyName(kAppleQuarantineKeyName), nil);
    EXPECT_FALSE(controller->removeExtendedAttributeForKeyName(kAppleQuarantineKeyName));
    EXPECT_EQ(controller->fileURLUpdated(), 0u);
}

TEST_F(FileAttributes, InitSetsBothStoredKeysThroughTheirSetters)
{
    Retained<UFileAttributesController> fresh = Retained<UFileAttributesController>::adopt(UFileAttributesController::alloc());
    {
        Observation watching(fresh, recorder, {"privateURL", "fileURLUpdated", "filePath"});
        fresh->init();
    }
    EXPECT_EQ(recorder->log, (std::vector<std::string>{"will:privateURL", "will:filePath", "did:privateURL", "did:filePath",
                                                       "will:fileURLUpdated", "will:filePath", "did:fileURLUpdated",
                                                       "did:filePath"}));
}

TEST_F(FileAttributes, EverySetOfTheURLBumpsTheCounterAndTellsTheDerivedKeys)
{
    const std::string path = file("plain");
    NSURL* url = TempFolder::url(path);
    {
        Observation watching(controller, recorder,
                             {"fileURL", "filePath", "attributesList", "attributesListString", "extendedAttributesListString",
                              "metadataAttributesListString", "fileIconImage", "delegate"});
        controller->setFileURL(url);
        EXPECT_EQ(controller->fileURLUpdated(), 1u);
        controller->setFileURL(url);   // the same URL again
        EXPECT_EQ(controller->fileURLUpdated(), 2u);
    }
    ASSERT_FALSE(recorder->log.empty());
    EXPECT_EQ(recorder->log.front(), "will:fileURL");
    EXPECT_EQ(recorder->log.back(), "did:fileURL");
    EXPECT_EQ(recorder->count("will:fileURL"), 2u);
    // Each set changes privateURL and then the counter: two notices per set,
    // also for keys that depend on them only through another key.
    for (const char* key : {"filePath", "attributesList", "attributesListString", "extendedAttributesListString",
                            "metadataAttributesListString", "fileIconImage"}) {
        EXPECT_EQ(recorder->count(std::string("will:") + key), 4u) << key;
        EXPECT_EQ(recorder->count(std::string("did:") + key), 4u) << key;
    }
    EXPECT_EQ(recorder->count("will:delegate"), 0u);
    EXPECT_EQ(utf8(controller->filePath()), path);
    EXPECT_EQ(std::string(controller->filePathName()), path);
}

TEST_F(FileAttributes, CounterWrapsAroundAndIsVisibleThroughKeyValueCoding)
{
    controller->setFileURLUpdated(0xFFFFFFFFu);
    controller->fileMarkAttributesAsDirty();
    EXPECT_EQ(controller->fileURLUpdated(), 0u);
    controller->setValueForKey(NSNumber::numberWithUnsignedInt(41), "fileURLUpdated");
    controller->fileMarkAttributesAsDirty();
    EXPECT_EQ(static_cast<NSNumber*>(controller->valueForKey("fileURLUpdated"))->unsignedIntValue(), 42u);
}

TEST_F(FileAttributes, AFileWithoutExtendedAttributes)
{
    open(file("bare"));
    NSData* list = controller->extendedAttributesListData();
    ASSERT_NE(list, nil);
    EXPECT_EQ(list->length(), 0u);
    EXPECT_EQ(controller->extendedAttributesDictionaryFromData()->count(), 0u);
    EXPECT_EQ(controller->extendedAttributesDictionary()->count(), 0u);
    EXPECT_EQ(utf8(controller->extendedAttributesListString()), "");
    EXPECT_EQ(controller->attributesDictionary()->objectForKey(kNSFileExtendedAttributes), nil);
}

TEST_F(FileAttributes, ExtendedAttributesByNameWithTheConsoleTrace)
{
    const std::string path = file("download", {{"com.apple.quarantine", "0083;5c54614c;Safari;"},
                                               {"org.example.note", "hello"},
                                               {"empty.value", ""}});
    open(path);

    ConsoleCapture console;
    NSDictionary* fromData = controller->extendedAttributesDictionaryFromData();
    // The empty value has nothing to store.
    EXPECT_EQ(fromData->count(), 2u);
    EXPECT_EQ(bytesOf(static_cast<NSData*>(fromData->objectForKey("com.apple.quarantine"))), "0083;5c54614c;Safari;");
    EXPECT_EQ(bytesOf(static_cast<NSData*>(fromData->objectForKey("org.example.note"))), "hello");

    const std::string self = controller->description()->utf8();
    std::vector<std::string> expected = {"attributesList:" + self + "\n", "attributesList for " + path + "\n"};
    NSData* raw = controller->extendedAttributesListData();
    ASSERT_NE(raw, nil);
    expected.push_back("attributesListData.length:" + std::to_string(raw->length()) + "\n");
    // The names in the raw list, in its order, by their macOS names.
    std::vector<std::string> names;
    for (size_t start = 0; start < raw->length();) {
        std::string name(reinterpret_cast<const char*>(raw->bytes()) + start);
        start += name.size() + 1;
        names.push_back(name);
        expected.push_back("attribute:" + name + "\n");
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"com.apple.quarantine", "empty.value", "org.example.note"}));
    // The first call traced the same lines the list read alone writes first.
    ASSERT_GE(ConsoleCapture::lines().size(), expected.size());
    EXPECT_EQ(std::vector<std::string>(ConsoleCapture::lines().begin(), ConsoleCapture::lines().begin() + expected.size()),
              expected);

    // The dictionary from the file-attribute query keeps the empty value.
    NSDictionary* all = controller->extendedAttributesDictionary();
    EXPECT_EQ(all->count(), 3u);
    EXPECT_EQ(static_cast<NSData*>(all->objectForKey("empty.value"))->length(), 0u);
    EXPECT_EQ(utf8(controller->extendedAttributesListString()),
              utf8(controller->extendedAttributesList()->componentsJoinedByString(NSSTR(", "))));
    EXPECT_EQ(controller->extendedAttributesList()->count(), 3u);
    EXPECT_EQ(utf8(static_cast<NSString*>(controller->valueForKey("extendedAttributesListString"))),
              utf8(controller->extendedAttributesListString()));
}

TEST_F(FileAttributes, AnAttributeWithAnEmptyValueReadsAsAbsent)
{
    open(file("f", {{"empty.value", ""}}));
    NSString* name = NSSTR("empty.value");
    EXPECT_EQ(controller->sizeofExtendedAttributeForKeyName(name), 0);
    EXPECT_FALSE(controller->hasExtendedAttributeForKeyName(name));
    EXPECT_EQ(controller->extendedAttributeForKeyName(name), nil);
    // ... but it is there to be removed.
    const uint32_t before = controller->fileURLUpdated();
    EXPECT_TRUE(controller->removeExtendedAttributeForKeyName(name));
    EXPECT_EQ(controller->fileURLUpdated(), before + 1);
    EXPECT_FALSE(controller->removeExtendedAttributeForKeyName(name));
    EXPECT_EQ(controller->fileURLUpdated(), before + 1);
    EXPECT_EQ(controller->sizeofExtendedAttributeForKeyName(name), -1);
}

TEST_F(FileAttributes, BadNamesNeverCrash)
{
    open(file("f", {{"a.b", "v"}}));
    EXPECT_EQ(controller->sizeofExtendedAttributeForKeyName(nil), -1);
    EXPECT_FALSE(controller->hasExtendedAttributeForKeyName(nil));
    EXPECT_EQ(controller->extendedAttributeForKeyName(nil), nil);
    EXPECT_FALSE(controller->removeExtendedAttributeForKeyName(nil));
    EXPECT_FALSE(controller->hasExtendedAttributeForKeyName(NSSTR("")));
    const std::string tooLong(300, 'n');
    EXPECT_EQ(controller->sizeofExtendedAttributeForKeyName(TempFolder::string(tooLong)), -1);
    EXPECT_FALSE(controller->removeExtendedAttributeForKeyName(TempFolder::string(tooLong)));
    // An unpaired surrogate has no UTF-8 form.
    const char16_t lone = 0xD800;
    EXPECT_EQ(controller->extendedAttributeForKeyName(NSString::stringWithCharacters(&lone, 1)), nil);
    EXPECT_EQ(controller->fileURLUpdated(), 1u);
}

// Linux stores names of up to 255 bytes, namespace included; macOS stops at 127.
TEST_F(FileAttributes, LongNamesLinuxAllowsAreListedAndRead)
{
    const std::string named = "org.example." + std::string(200 - 12, 'n');   // user.<200 bytes>
    const std::string longest(XATTR_MAXNAMELEN - 5, 'm');                   // user.<250 bytes>
    open(file("long", {{named.c_str(), "a"}, {longest.c_str(), "b"}}));
    std::vector<std::string> names = stringsOf(controller->extendedAttributesList());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{longest, named}));
    EXPECT_EQ(bytesOf(static_cast<NSData*>(controller->extendedAttributesDictionary()->objectForKey(TempFolder::string(named)))), "a");
    EXPECT_EQ(bytesOf(static_cast<NSData*>(controller->extendedAttributesDictionaryFromData()->objectForKey(TempFolder::string(longest)))), "b");
    EXPECT_EQ(controller->sizeofExtendedAttributeForKeyName(TempFolder::string(longest)), 1);
}

TEST_F(FileAttributes, ANameListPast8192BytesIsNotRead)
{
    // ext4 keeps all of a file's attributes in one block; tmpfs takes more.
    TempFolder roomy("/dev/shm");
    if (!roomy.usable())
        GTEST_SKIP() << "no file system here holds 8 KiB of attribute names";
    const std::string path = roomy.writeFile("crowded", "x");
    size_t listed = 0;
    for (int i = 0; listed <= 8192; ++i) {
        char name[128];
        std::snprintf(name, sizeof name, "org.example.%0100d", i);
        if (!TempFolder::setAttribute(path, name, "v"))
            GTEST_SKIP() << "no file system here holds 8 KiB of attribute names";
        listed += std::strlen(name) + 1;
    }
    open(path);
    EXPECT_EQ(controller->extendedAttributesListData(), nil);
    EXPECT_EQ(controller->extendedAttributesDictionaryFromData()->count(), 0u);
    // The file-attribute query has no such limit.
    EXPECT_GT(controller->extendedAttributesDictionary()->count(), 70u);
    EXPECT_TRUE(controller->hasExtendedAttributeForKeyName(NSSTR("org.example.0000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000")));
}

TEST_F(FileAttributes, ASymbolicLinkIsFollowedByTheAttributeCallsOnly)
{
    const std::string target = file("target", {{"com.apple.quarantine", "0002;0;A;"}});
    const std::string link = folder.path("link");
    ASSERT_EQ(symlink("target", link.c_str()), 0);
    open(link);
    // The file-attribute query describes the link itself ...
    EXPECT_TRUE(static_cast<NSString*>(controller->attributesDictionary()->objectForKey(NSFileType))
                    ->isEqualToString(NSFileTypeSymbolicLink));
    EXPECT_EQ(controller->extendedAttributesDictionary()->count(), 0u);
    EXPECT_EQ(utf8(controller->fileDescription()), "link");
    // ... while the extended-attribute calls reach the target.
    EXPECT_TRUE(controller->hasExtendedAttributeForKeyName(kAppleQuarantineKeyName));
    EXPECT_EQ(controller->extendedAttributesDictionaryFromData()->count(), 1u);
    EXPECT_TRUE(controller->removeExtendedAttributeForKeyName(kAppleQuarantineKeyName));
    EXPECT_EQ(TempFolder::diskAttribute(target, "user.com.apple.quarantine"), "<none>");
}

TEST_F(FileAttributes, AFileWithoutPermission)
{
    ASSERT_EQ(chmod(folder.path().c_str(), 0755), 0);
    folder.makeFolder("locked");
    const std::string hidden = file("locked/file", {{"com.apple.quarantine", "q"}});
    const std::string unreadable = file("private", {{"com.apple.quarantine", "q"}, {"org.example.b", "b"}});
    ASSERT_EQ(chmod(folder.path("locked").c_str(), 0700), 0);
    ASSERT_EQ(chmod(unreadable.c_str(), 0600), 0);

    Retained<UFileAttributesController> second =
        Retained<UFileAttributesController>::adopt(UFileAttributesController::alloc()->init());
    open(hidden);
    second->setFileURL(TempFolder::url(unreadable));
    struct Seen {
        bool hiddenAttributesNil, hiddenListNil, hiddenListStringNil, hiddenListDataNil, hasHidden, removedHidden;
        size_t hiddenXattrs, hiddenFromData, unreadableFromData;
        ssize_t sizeHidden, sizeUnreadable;
        bool unreadableAttributesPresent, hasUnreadable, removedUnreadable;
        NSData* valueUnreadable;
    } seen{};
    const bool ran = asUnprivilegedUser([&] {
        AutoreleasePoolScope pool;
        seen.hiddenAttributesNil = controller->attributesDictionary() == nil;
        seen.hiddenListNil = controller->attributesList() == nil;
        seen.hiddenListStringNil = controller->attributesListString() == nil;
        seen.hiddenXattrs = controller->extendedAttributesDictionary()->count();
        seen.hiddenListDataNil = controller->extendedAttributesListData() == nil;
        seen.hiddenFromData = controller->extendedAttributesDictionaryFromData()->count();
        seen.sizeHidden = controller->sizeofExtendedAttributeForKeyName(kAppleQuarantineKeyName);
        seen.hasHidden = controller->hasExtendedAttributeForKeyName(kAppleQuarantineKeyName);
        seen.removedHidden = controller->removeExtendedAttributeForKeyName(kAppleQuarantineKeyName);
        seen.unreadableAttributesPresent = second->attributesDictionary() != nil;
        seen.sizeUnreadable = second->sizeofExtendedAttributeForKeyName(kAppleQuarantineKeyName);
        seen.hasUnreadable = second->hasExtendedAttributeForKeyName(kAppleQuarantineKeyName);
        seen.valueUnreadable = second->extendedAttributeForKeyName(kAppleQuarantineKeyName);
        seen.unreadableFromData = second->extendedAttributesDictionaryFromData()->count();
        seen.removedUnreadable = second->removeExtendedAttributeForKeyName(kAppleQuarantineKeyName);
    });
    if (!ran)
        GTEST_SKIP() << "cannot take the ids of an unprivileged user";
    EXPECT_TRUE(seen.hiddenAttributesNil);
    EXPECT_TRUE(seen.hiddenListNil);
    EXPECT_TRUE(seen.hiddenListStringNil);
    EXPECT_EQ(seen.hiddenXattrs, 0u);
    EXPECT_TRUE(seen.hiddenListDataNil);
    EXPECT_EQ(seen.hiddenFromData, 0u);
    EXPECT_EQ(seen.sizeHidden, -1);
    EXPECT_FALSE(seen.hasHidden);
    EXPECT_FALSE(seen.removedHidden);
    // The file itself can be looked at but its attributes not read or removed.
    EXPECT_TRUE(seen.unreadableAttributesPresent);
    EXPECT_EQ(seen.sizeUnreadable, -1);
    EXPECT_FALSE(seen.hasUnreadable);
    EXPECT_EQ(seen.valueUnreadable, nil);
    EXPECT_EQ(seen.unreadableFromData, 0u);
    EXPECT_FALSE(seen.removedUnreadable);
    // Nothing changed: neither the counters nor the files.
    EXPECT_EQ(controller->fileURLUpdated(), 1u);
    EXPECT_EQ(second->fileURLUpdated(), 1u);
    EXPECT_EQ(TempFolder::diskAttribute(hidden, "user.com.apple.quarantine"), "q");
    EXPECT_EQ(TempFolder::diskAttribute(unreadable, "user.com.apple.quarantine"), "q");
}

TEST_F(FileAttributes, AFileThatDisappearsBetweenCalls)
{
    const std::string path = file("fleeting", {{"com.apple.quarantine", "0002;0;A;"}});
    open(path);
    ASSERT_NE(controller->attributesDictionary(), nil);
    ASSERT_EQ(controller->extendedAttributesDictionary()->count(), 1u);
    ASSERT_NE(controller->fileIconImage(), nil);
    ASSERT_EQ(unlink(path.c_str()), 0);

    EXPECT_EQ(controller->attributesDictionary(), nil);
    EXPECT_EQ(controller->attributesList(), nil);
    EXPECT_EQ(controller->attributesListString(), nil);
    EXPECT_EQ(controller->extendedAttributesDictionary()->count(), 0u);
    EXPECT_EQ(controller->extendedAttributesListData(), nil);
    EXPECT_EQ(controller->extendedAttributesDictionaryFromData()->count(), 0u);
    EXPECT_EQ(controller->metadataAttributesList()->count(), 0u);
    EXPECT_FALSE(controller->hasExtendedAttributeForKeyName(kAppleQuarantineKeyName));
    EXPECT_FALSE(controller->removeExtendedAttributeForKeyName(kAppleQuarantineKeyName));
    // No icon: the application's icon is not used in its place.
    EXPECT_EQ(controller->fileIconImage(), nil);
    EXPECT_EQ(utf8(controller->fileDescription()), "fleeting");
    EXPECT_EQ(utf8(controller->filePath()), path);
    EXPECT_EQ(controller->valueForKey("attributesList"), nil);
}

TEST_F(FileAttributes, DescriptionFromTheBundleNameOrThePath)
{
    auto describe = [&](const std::string& path) {
        open(path);
        return utf8(controller->fileDescription());
    };
    folder.makeFolder("Named.app/Contents");
    folder.writeFile("Named.app/Contents/Info.plist",
                     "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>CFBundleName</key><string>Nice Name</string></dict></plist>");
    folder.makeFolder("Unnamed.app/Contents");
    folder.writeFile("Unnamed.app/Contents/Info.plist",
                     "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>CFBundleIdentifier</key><string>x</string></dict></plist>");
    folder.makeFolder("Numbered.app/Contents");
    folder.writeFile("Numbered.app/Contents/Info.plist",
                     "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>CFBundleName</key><integer>7</integer></dict></plist>");
    EXPECT_EQ(describe(folder.path("Named.app")), "Nice Name");
    EXPECT_EQ(describe(folder.path("Unnamed.app")), "Unnamed.app");
    EXPECT_EQ(describe(folder.path("Numbered.app")), "Numbered.app");
    EXPECT_EQ(describe(file("plain.txt")), "plain.txt");
    EXPECT_EQ(describe(folder.path("missing")), "missing");
}

TEST_F(FileAttributes, IconIsTheFilesOwnAt72Points)
{
    open(file("notes.txt"));
    NSImage* icon = controller->fileIconImage();
    ASSERT_NE(icon, nil);
    EXPECT_TRUE(icon->isValid());
    EXPECT_FLOAT_EQ(icon->size().width, 72);
    EXPECT_FLOAT_EQ(icon->size().height, 72);
    EXPECT_NE(icon, NSImage::imageNamed(NSSTR("Sentrel.icns")));
    // The shared application icon is not resized by it.
    EXPECT_FLOAT_EQ(NSImage::imageNamed(NSSTR("Sentrel.icns"))->size().width, 512);
}

TEST(FileAttributesLists, AttributeKeysJoinedInTheDictionarysOrder)
{
    Retained<ChosenAttributes> controller = Retained<ChosenAttributes>::adopt(static_cast<ChosenAttributes*>(ChosenAttributes::alloc()->init()));
    controller->chosen = NSDictionary::dictionaryWithObjectsForKeys(
        {{NSSTR("1"), NSSTR("NSFileType")}, {NSSTR("2"), NSSTR("NSFileSize")}, {NSSTR("3"), NSSTR("NSFileOwnerAccountID")}});
    EXPECT_EQ(utf8(controller->attributesListString()), "NSFileType, NSFileSize, NSFileOwnerAccountID");
    controller->chosen = NSDictionary::dictionaryWithObjectsForKeys({{NSSTR("1"), NSSTR("NSFileSize")}});
    EXPECT_EQ(utf8(controller->attributesListString()), "NSFileSize");
    controller->chosen = NSDictionary::dictionary();
    EXPECT_EQ(utf8(controller->attributesListString()), "");
    controller->chosen = nil;
    EXPECT_EQ(controller->attributesList(), nil);
    EXPECT_EQ(controller->attributesListString(), nil);
    EXPECT_EQ(controller->extendedAttributesDictionary()->count(), 0u);
    // Only a dictionary counts as the extended-attribute entry.
    controller->chosen = NSDictionary::dictionaryWithObjectsForKeys({{NSSTR("not a dictionary"), kNSFileExtendedAttributes}});
    EXPECT_EQ(controller->extendedAttributesDictionary()->count(), 0u);
}

TEST_F(FileAttributes, MetadataNamesIncludeTheFilesOwnMetadataAttributes)
{
    NSData* whereFroms = NSPropertyListSerialization::dataWithPropertyList(
        NSArray::arrayWithObjects({NSSTR("https://example.org/f")}), NSPropertyListBinaryFormat_v1_0, nullptr);
    open(file("f", {{"com.apple.metadata:kMDItemWhereFroms",
                     std::string(reinterpret_cast<const char*>(whereFroms->bytes()), whereFroms->length())}}));
    std::vector<std::string> names = stringsOf(controller->metadataAttributesList());
    EXPECT_NE(std::find(names.begin(), names.end(), "kMDItemWhereFroms"), names.end());
    EXPECT_NE(std::find(names.begin(), names.end(), "kMDItemFSName"), names.end());
    EXPECT_EQ(utf8(controller->metadataAttributesListString()),
              utf8(controller->metadataAttributesList()->componentsJoinedByString(NSSTR(", "))));
}

TEST(FileAttributesKeys, TheDependencyTable)
{
    auto dependencies = [](const char* key) {
        std::vector<std::string> keys =
            stringsOf(NSObject::keyPathsForValuesAffectingValueForKey(UFileAttributesController::class_(), key)->allObjects());
        std::sort(keys.begin(), keys.end());
        return keys;
    };
    const std::vector<std::string> stored = {"fileURLUpdated", "privateURL"};
    for (const char* key : {"filePath", "fileIconImage", "fileDescription", "attributesDictionary", "extendedAttributesListData",
                            "extendedAttributesList", "metadataAttributesList", "metadataAttributesListString"})
        EXPECT_EQ(dependencies(key), stored) << key;
    EXPECT_EQ(dependencies("extendedAttributesListString"), std::vector<std::string>{"extendedAttributesList"});
    EXPECT_EQ(dependencies("attributesListString"), std::vector<std::string>{"attributesDictionary"});
    EXPECT_EQ(dependencies("attributesList"), std::vector<std::string>{"attributesDictionary"});
    for (const char* key : {"fileURL", "privateURL", "fileURLUpdated", "delegate", "extendedAttributesDictionary"})
        EXPECT_TRUE(dependencies(key).empty()) << key;
    EXPECT_EQ(kUFileAttributesKeyPaths->count(), 2u);
}

TEST_F(FileAttributes, DelegateIsNotRetained)
{
    NSObject* delegate = NSObject::alloc();
    const NSUInteger before = delegate->retainCount();
    controller->setDelegate(delegate);
    EXPECT_EQ(controller->delegate(), delegate);
    EXPECT_EQ(delegate->retainCount(), before);
    controller->setDelegate(nil);
    delegate->release();
}

} // namespace
