// NSFileManager's attribute dictionary and NSBundle over real files.
#include "TempFolder.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace {

std::vector<std::string> keysOf(NSDictionary* dictionary)
{
    std::vector<std::string> keys;
    for (id key : *dictionary)
        keys.push_back(static_cast<NSString*>(key)->utf8());
    return keys;
}

unsigned long long numberAt(NSDictionary* dictionary, NSString* key)
{
    id value = dictionary->objectForKey(key);
    EXPECT_NE(value, nil) << key->utf8();
    return value ? static_cast<NSNumber*>(value)->unsignedLongLongValue() : ~0ull;
}

struct FileManager : testing::Test {
    void SetUp() override
    {
        if (!folder.usable())
            GTEST_SKIP() << "/tmp keeps no user extended attributes";
    }
    NSDictionary* attributes(const std::string& path, NSError** error = nullptr)
    {
        return NSFileManager::defaultManager()->attributesOfItemAtPath(TempFolder::string(path), error);
    }
    TempFolder folder;
};

TEST_F(FileManager, RegularFileFacts)
{
    const std::string file = folder.writeFile("plain.txt", "hello world");
    ASSERT_EQ(chmod(file.c_str(), 0640), 0);
    const timespec times[2] = {{1549033804, 250000000}, {1549033804, 250000000}};
    ASSERT_EQ(utimensat(AT_FDCWD, file.c_str(), times, 0), 0);
    struct stat st;
    ASSERT_EQ(lstat(file.c_str(), &st), 0);

    NSDictionary* a = attributes(file);
    ASSERT_NE(a, nil);
    EXPECT_TRUE(static_cast<NSString*>(a->objectForKey(NSFileType))->isEqualToString(NSFileTypeRegular));
    EXPECT_EQ(numberAt(a, NSFileSize), 11u);
    EXPECT_EQ(numberAt(a, NSFilePosixPermissions), 0640u);
    EXPECT_EQ(numberAt(a, NSFileReferenceCount), 1u);
    EXPECT_EQ(numberAt(a, NSFileOwnerAccountID), st.st_uid);
    EXPECT_EQ(numberAt(a, NSFileGroupOwnerAccountID), st.st_gid);
    EXPECT_EQ(numberAt(a, NSFileSystemNumber), st.st_dev);
    EXPECT_EQ(numberAt(a, NSFileSystemFileNumber), st.st_ino);
    EXPECT_EQ(numberAt(a, NSFileHFSTypeCode), 0u);
    NSDate* modified = static_cast<NSDate*>(a->objectForKey(NSFileModificationDate));
    ASSERT_NE(modified, nil);
    EXPECT_DOUBLE_EQ(modified->timeIntervalSince1970(), 1549033804.25);
    if (st.st_uid == 0) {
        EXPECT_TRUE(static_cast<NSString*>(a->objectForKey(NSFileOwnerAccountName))->isEqualToString(NSSTR("root")));
    }
    // No extended attributes: no entry at all.
    EXPECT_EQ(a->objectForKey(NSFileExtendedAttributes), nil);
    EXPECT_EQ(a->objectForKey(NSFileDeviceIdentifier), nil);

    // A second hard link shows in the count.
    ASSERT_EQ(link(file.c_str(), folder.path("second").c_str()), 0);
    EXPECT_EQ(numberAt(attributes(file), NSFileReferenceCount), 2u);
}

TEST_F(FileManager, KeysComeInAlphabeticalOrder)
{
    const std::string file = folder.writeFile("f", "x");
    ASSERT_TRUE(TempFolder::setAttribute(file, "com.apple.quarantine", "0083;0;A;"));
    std::vector<std::string> keys = keysOf(attributes(file));
    EXPECT_TRUE(std::is_sorted(keys.begin(), keys.end()));
    EXPECT_NE(std::find(keys.begin(), keys.end(), "NSFileExtendedAttributes"), keys.end());
}

TEST_F(FileManager, ExtendedAttributesByTheirMacNames)
{
    const std::string file = folder.writeFile("q", "x");
    ASSERT_TRUE(TempFolder::setAttribute(file, "com.apple.quarantine", "0083;5c54614c;Safari;"));
    ASSERT_TRUE(TempFolder::setAttribute(file, "empty.one", ""));
    std::string finderInfo(32, '\0');
    finderInfo.replace(0, 8, "TEXTttxt");
    ASSERT_TRUE(TempFolder::setAttribute(file, "com.apple.FinderInfo", finderInfo));

    NSDictionary* a = attributes(file);
    ASSERT_NE(a, nil);
    NSDictionary* xattrs = static_cast<NSDictionary*>(a->objectForKey(NSFileExtendedAttributes));
    ASSERT_NE(xattrs, nil);
    NSData* record = static_cast<NSData*>(xattrs->objectForKey("com.apple.quarantine"));
    ASSERT_NE(record, nil);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(record->bytes()), record->length()), "0083;5c54614c;Safari;");
    EXPECT_EQ(xattrs->objectForKey("user.com.apple.quarantine"), nil);
    NSData* empty = static_cast<NSData*>(xattrs->objectForKey("empty.one"));
    ASSERT_NE(empty, nil);
    EXPECT_EQ(empty->length(), 0u);
    EXPECT_EQ(numberAt(a, NSFileHFSTypeCode), 0x54455854u);      // 'TEXT'
    EXPECT_EQ(numberAt(a, NSFileHFSCreatorCode), 0x74747874u);   // 'ttxt'
}

TEST_F(FileManager, SymbolicLinkIsDescribedItselfNotItsTarget)
{
    const std::string target = folder.writeFile("target", "0123456789");
    ASSERT_TRUE(TempFolder::setAttribute(target, "com.apple.quarantine", "q"));
    const std::string link = folder.path("link");
    ASSERT_EQ(symlink("target", link.c_str()), 0);
    NSDictionary* a = attributes(link);
    ASSERT_NE(a, nil);
    EXPECT_TRUE(static_cast<NSString*>(a->objectForKey(NSFileType))->isEqualToString(NSFileTypeSymbolicLink));
    EXPECT_EQ(numberAt(a, NSFileSize), 6u);   // the length of "target"
    EXPECT_EQ(a->objectForKey(NSFileExtendedAttributes), nil);

    // A dangling link still has attributes of its own.
    ASSERT_EQ(symlink("nowhere", folder.path("dangling").c_str()), 0);
    EXPECT_NE(attributes(folder.path("dangling")), nil);
    EXPECT_FALSE(NSFileManager::defaultManager()->fileExistsAtPath(TempFolder::string(folder.path("dangling"))));
    EXPECT_TRUE(NSFileManager::defaultManager()->fileExistsAtPath(TempFolder::string(link)));
}

TEST_F(FileManager, OtherFileTypes)
{
    auto typeOf = [&](const std::string& path) {
        NSDictionary* a = attributes(path);
        return a ? static_cast<NSString*>(a->objectForKey(NSFileType))->utf8() : std::string("<nil>");
    };
    EXPECT_EQ(typeOf(folder.path()), "NSFileTypeDirectory");
    ASSERT_EQ(mkfifo(folder.path("fifo").c_str(), 0600), 0);
    EXPECT_EQ(typeOf(folder.path("fifo")), "NSFileTypeUnknown");
    EXPECT_EQ(typeOf("/dev/null"), "NSFileTypeCharacterSpecial");
    struct stat st;
    ASSERT_EQ(stat("/dev/null", &st), 0);
    EXPECT_EQ(numberAt(attributes("/dev/null"), NSFileDeviceIdentifier), st.st_rdev);

    bool isDirectory = false;
    EXPECT_TRUE(NSFileManager::defaultManager()->fileExistsAtPath(TempFolder::string(folder.path()), &isDirectory));
    EXPECT_TRUE(isDirectory);
}

TEST_F(FileManager, CreationDateWhereTheFileSystemKeepsOne)
{
    const std::string file = folder.writeFile("born", "");
    struct statx sx;
    ASSERT_EQ(statx(AT_FDCWD, file.c_str(), AT_SYMLINK_NOFOLLOW, STATX_BTIME, &sx), 0);
    NSDate* created = static_cast<NSDate*>(attributes(file)->objectForKey(NSFileCreationDate));
    if (!(sx.stx_mask & STATX_BTIME)) {
        EXPECT_EQ(created, nil);
        GTEST_SKIP() << "this file system keeps no creation time";
    }
    ASSERT_NE(created, nil);
    EXPECT_NEAR(created->timeIntervalSince1970(), sx.stx_btime.tv_sec + sx.stx_btime.tv_nsec / 1e9, 1e-6);
}

TEST_F(FileManager, FailuresGiveNilAndAnError)
{
    NSError* error = nil;
    EXPECT_EQ(attributes(folder.path("missing"), &error), nil);
    ASSERT_NE(error, nil);
    EXPECT_TRUE(error->domain()->isEqualToString(NSCocoaErrorDomain));
    EXPECT_EQ(error->code(), NSFileReadNoSuchFileError);
    NSError* underlying = static_cast<NSError*>(error->userInfo()->objectForKey(NSUnderlyingErrorKey));
    ASSERT_NE(underlying, nil);
    EXPECT_EQ(underlying->code(), ENOENT);
    EXPECT_TRUE(static_cast<NSString*>(error->userInfo()->objectForKey(NSFilePathErrorKey))
                    ->isEqualToString(TempFolder::string(folder.path("missing"))));

    // A path through a file is no path at all.
    const std::string file = folder.writeFile("file", "");
    error = nil;
    EXPECT_EQ(attributes(file + "/below", &error), nil);
    EXPECT_EQ(error->code(), NSFileReadNoSuchFileError);

    // Bad input never crashes; the error out-parameter may be null.
    EXPECT_EQ(NSFileManager::defaultManager()->attributesOfItemAtPath(nil, nullptr), nil);
    EXPECT_EQ(NSFileManager::defaultManager()->attributesOfItemAtPath(NSSTR(""), nullptr), nil);
    EXPECT_FALSE(NSFileManager::defaultManager()->fileExistsAtPath(nil));
}

// ---------------------------------------------------------------- bundles

NSData* plistData(NSDictionary* dictionary, NSPropertyListFormat format)
{
    return NSPropertyListSerialization::dataWithPropertyList(dictionary, format, nullptr);
}

void writeData(const std::string& path, NSData* data)
{
    std::FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fwrite(data->bytes(), 1, data->length(), f);
    std::fclose(f);
}

TEST(Bundle, FullAndShallowBundlesWithXmlAndBinaryInfo)
{
    TempFolder folder;
    folder.makeFolder("Full.app/Contents/Resources");
    writeData(folder.path("Full.app/Contents/Info.plist"),
              plistData(NSDictionary::dictionaryWithObjectsForKeys({{NSSTR("Full App"), NSSTR("CFBundleName")},
                                                                     {NSSTR("org.example.full"), NSSTR("CFBundleIdentifier")}}),
                        NSPropertyListXMLFormat_v1_0));
    folder.writeFile("Full.app/Contents/Resources/data.txt", "d");
    folder.makeFolder("Shallow.bundle");
    writeData(folder.path("Shallow.bundle/Info.plist"),
              plistData(NSDictionary::dictionaryWithObjectsForKeys({{NSSTR("Shallow"), NSSTR("CFBundleName")}}),
                        NSPropertyListBinaryFormat_v1_0));

    NSBundle* full = NSBundle::bundleWithPath(TempFolder::string(folder.path("Full.app")));
    ASSERT_NE(full, nil);
    EXPECT_TRUE(static_cast<NSString*>(full->objectForInfoDictionaryKey(NSSTR("CFBundleName")))->isEqualToString(NSSTR("Full App")));
    EXPECT_TRUE(full->bundleIdentifier()->isEqualToString(NSSTR("org.example.full")));
    EXPECT_TRUE(full->resourcePath()->isEqualToString(TempFolder::string(folder.path("Full.app/Contents/Resources"))));
    EXPECT_NE(full->pathForResource(NSSTR("data"), NSSTR("txt")), nil);
    EXPECT_EQ(full->pathForResource(NSSTR("data"), NSSTR("png")), nil);
    EXPECT_EQ(full->pathForResource(NSSTR("../Info"), NSSTR("plist")), nil);

    NSBundle* shallow = NSBundle::bundleWithPath(TempFolder::string(folder.path("Shallow.bundle")));
    ASSERT_NE(shallow, nil);
    EXPECT_TRUE(static_cast<NSString*>(shallow->objectForInfoDictionaryKey(NSSTR("CFBundleName")))->isEqualToString(NSSTR("Shallow")));
    EXPECT_EQ(shallow->bundleIdentifier(), nil);
}

TEST(Bundle, OnlyExistingFoldersAndBrokenInfo)
{
    TempFolder folder;
    EXPECT_EQ(NSBundle::bundleWithPath(nil), nil);
    EXPECT_EQ(NSBundle::bundleWithPath(TempFolder::string(folder.path("missing"))), nil);
    EXPECT_EQ(NSBundle::bundleWithPath(TempFolder::string(folder.writeFile("file", "x"))), nil);

    // A folder is a bundle even without information; it then has none.
    NSBundle* plain = NSBundle::bundleWithPath(TempFolder::string(folder.path()));
    ASSERT_NE(plain, nil);
    EXPECT_EQ(plain->infoDictionary()->count(), 0u);

    folder.makeFolder("Broken.app/Contents");
    folder.writeFile("Broken.app/Contents/Info.plist", "<?xml version=\"1.0\"?><plist><dict><key>CFBundleName</key>");
    NSBundle* broken = NSBundle::bundleWithPath(TempFolder::string(folder.path("Broken.app")));
    ASSERT_NE(broken, nil);
    EXPECT_EQ(broken->infoDictionary()->count(), 0u);

    folder.makeFolder("Array.app/Contents");
    writeData(folder.path("Array.app/Contents/Info.plist"),
              NSPropertyListSerialization::dataWithPropertyList(NSArray::arrayWithObjects({NSSTR("x")}),
                                                                NSPropertyListXMLFormat_v1_0, nullptr));
    EXPECT_EQ(NSBundle::bundleWithPath(TempFolder::string(folder.path("Array.app")))->infoDictionary()->count(), 0u);
}

TEST(Bundle, MainBundleFindsTheProgramsResources)
{
    NSBundle* main = NSBundle::mainBundle();
    ASSERT_NE(main, nil);
    EXPECT_EQ(main, NSBundle::mainBundle());
    ASSERT_NE(main->resourcePath(), nil);
    EXPECT_TRUE(main->resourcePath()->hasSuffix(NSSTR("/share/sentrel/Resources"))) << main->resourcePath()->utf8();
    EXPECT_NE(main->pathForResource(NSSTR("Sentrel"), NSSTR("icns")), nil);
    EXPECT_NE(main->pathForResource(NSSTR("Sentrel.icns"), nil), nil);
}

} // namespace
