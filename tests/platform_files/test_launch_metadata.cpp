// File references, Launch Services' quarantine properties and metadata items
// over real files.
#include "TempFolder.h"

#include "CoreServices/CoreServices.h"

#include <gtest/gtest.h>

#include <climits>

#include <fcntl.h>
#include <sys/stat.h>

namespace {

std::string pathOf(const FSRef& ref)
{
    UInt8 path[PATH_MAX];
    return FSRefMakePath(&ref, path, sizeof path) == noErr ? std::string(reinterpret_cast<char*>(path)) : "<error>";
}

std::string canonical(const std::string& path) { return std::filesystem::canonical(path).string(); }

struct CoreServicesFiles : testing::Test {
    void SetUp() override
    {
        if (!folder.usable())
            GTEST_SKIP() << "/tmp keeps no user extended attributes";
    }
    TempFolder folder;
};

TEST_F(CoreServicesFiles, ReferencesNameTheObjectNotThePath)
{
    const std::string file = folder.writeFile("file", "x");
    FSRef ref;
    Boolean isDirectory = true;
    ASSERT_EQ(FSPathMakeRef(reinterpret_cast<const UInt8*>(file.c_str()), &ref, &isDirectory), noErr);
    EXPECT_FALSE(isDirectory);
    EXPECT_EQ(pathOf(ref), canonical(file));

    // Through a link: the target.
    ASSERT_EQ(symlink("file", folder.path("link").c_str()), 0);
    FSRef viaLink;
    ASSERT_EQ(FSPathMakeRef(reinterpret_cast<const UInt8*>(folder.path("link").c_str()), &viaLink, nullptr), noErr);
    EXPECT_EQ(pathOf(viaLink), canonical(file));

    // Another object at the same path makes the reference stale, even when
    // the file system hands it the inode number the old one had.
    struct statx sx;
    ASSERT_EQ(statx(AT_FDCWD, file.c_str(), 0, STATX_BTIME, &sx), 0);
    if (!(sx.stx_mask & STATX_BTIME))
        GTEST_SKIP() << "this file system keeps no birth times";
    ASSERT_EQ(unlink(file.c_str()), 0);
    // File systems stamp times at the clock's tick; let one pass.
    usleep(50000);
    folder.writeFile("other", "y");
    ASSERT_EQ(rename(folder.path("other").c_str(), file.c_str()), 0);
    UInt8 buffer[PATH_MAX];
    EXPECT_EQ(FSRefMakePath(&ref, buffer, sizeof buffer), fnfErr);
    EXPECT_EQ(CFURLCreateFromFSRef(nullptr, &ref), nullptr);
}

TEST_F(CoreServicesFiles, BadReferencesAndBuffers)
{
    FSRef zero{};
    UInt8 buffer[PATH_MAX];
    EXPECT_EQ(FSRefMakePath(&zero, buffer, sizeof buffer), paramErr);
    EXPECT_EQ(FSRefMakePath(nullptr, buffer, sizeof buffer), paramErr);
    EXPECT_EQ(FSPathMakeRef(nullptr, &zero, nullptr), paramErr);
    EXPECT_EQ(FSPathMakeRef(reinterpret_cast<const UInt8*>(folder.path("missing").c_str()), &zero, nullptr), fnfErr);

    FSRef ref;
    ASSERT_TRUE(CFURLGetFSRef(TempFolder::url(folder.path()), &ref));
    EXPECT_EQ(FSRefMakePath(&ref, buffer, 4), pathTooLongErr);
    CFURLRef back = CFURLCreateFromFSRef(nullptr, &ref);
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(back->fileSystemPath(), canonical(folder.path()));
    EXPECT_TRUE(back->hasDirectoryPath());
    CFRelease(back);

    EXPECT_FALSE(CFURLGetFSRef(TempFolder::url(folder.path("missing")), &ref));
    EXPECT_FALSE(CFURLGetFSRef(NSURL::URLWithString(NSSTR("https://example.org/file")), &ref));
    EXPECT_FALSE(CFURLGetFSRef(nullptr, &ref));
}

// ---------------------------------------------------------------- quarantine properties

NSDictionary* quarantineProperties(const std::string& path, OSStatus* status = nullptr)
{
    FSRef ref;
    if (!CFURLGetFSRef(TempFolder::url(path), &ref))
        return nil;
    CFTypeRef value = reinterpret_cast<CFTypeRef>(0x1);
    OSStatus result = LSCopyItemAttribute(&ref, kLSRolesAll, kLSItemQuarantineProperties, &value);
    if (status)
        *status = result;
    if (result != noErr) {
        EXPECT_EQ(value, nullptr);
        return nil;
    }
    return static_cast<NSDictionary*>(const_cast<NSObject*>(CFAutorelease(value)));
}

std::string text(id value)
{
    if (!value)
        return "<nil>";
    if (value->isKindOfClass(NSURL::class_()))
        return static_cast<NSURL*>(value)->absoluteString()->utf8();
    return value->description()->utf8();
}

TEST_F(CoreServicesFiles, QuarantinePropertiesFromTheRecordAndTheXdgAttributes)
{
    const std::string file = folder.writeFile("download.dmg", "x");
    ASSERT_TRUE(TempFolder::setAttribute(file, "com.apple.quarantine",
                                         "0083;5c54614c;Safari;B555DB5F-D82A-408B-B9A6-D4F4012FD520"));
    ASSERT_TRUE(TempFolder::setAttribute(file, "xdg.origin.url", "https://dl.example.org/app.dmg"));
    ASSERT_TRUE(TempFolder::setAttribute(file, "xdg.referrer.url", "https://example.org/download.html"));

    NSDictionary* p = quarantineProperties(file);
    ASSERT_NE(p, nil);
    EXPECT_EQ(text(p->objectForKey(kLSQuarantineAgentNameKey)), "Safari");
    EXPECT_EQ(text(p->objectForKey(kLSQuarantineTypeKey)), "LSQuarantineTypeWebDownload");
    EXPECT_EQ(text(p->objectForKey(kLSQuarantineDataURLKey)), "https://dl.example.org/app.dmg");
    EXPECT_EQ(text(p->objectForKey(kLSQuarantineOriginURLKey)), "https://example.org/download.html");
    EXPECT_EQ(text(p->objectForKey("LSQuarantineEventIdentifier")), "B555DB5F-D82A-408B-B9A6-D4F4012FD520");
    EXPECT_EQ(p->objectForKey(kLSQuarantineAgentBundleIdentifierKey), nil);
    id stamp = p->objectForKey(kLSQuarantineTimeStampKey);
    ASSERT_NE(stamp, nil);
    ASSERT_TRUE(stamp->isKindOfClass(NSDate::class_()));
    EXPECT_DOUBLE_EQ(static_cast<NSDate*>(stamp)->timeIntervalSince1970(), 1549033804.0);
}

TEST_F(CoreServicesFiles, QuarantinePropertiesFromWhereFroms)
{
    const std::string file = folder.writeFile("archive.zip", "x");
    ASSERT_TRUE(TempFolder::setAttribute(file, "com.apple.quarantine", "0001;zz;;"));
    NSData* whereFroms = NSPropertyListSerialization::dataWithPropertyList(
        NSArray::arrayWithObjects({NSSTR("ftp://files.example.org/archive.zip"), NSSTR("https://example.org/")}),
        NSPropertyListBinaryFormat_v1_0, nullptr);
    ASSERT_NE(whereFroms, nil);
    ASSERT_TRUE(TempFolder::setAttribute(file, "com.apple.metadata:kMDItemWhereFroms",
                                         std::string_view(reinterpret_cast<const char*>(whereFroms->bytes()), whereFroms->length())));
    NSDictionary* p = quarantineProperties(file);
    ASSERT_NE(p, nil);
    EXPECT_EQ(text(p->objectForKey(kLSQuarantineDataURLKey)), "ftp://files.example.org/archive.zip");
    EXPECT_EQ(text(p->objectForKey(kLSQuarantineOriginURLKey)), "https://example.org/");
    EXPECT_EQ(text(p->objectForKey(kLSQuarantineTypeKey)), "LSQuarantineTypeOtherDownload");
    // "zz" has no hexadecimal digits and the agent field is empty.
    EXPECT_EQ(p->objectForKey(kLSQuarantineTimeStampKey), nil);
    EXPECT_EQ(p->objectForKey(kLSQuarantineAgentNameKey), nil);

    // The XDG attribute wins over the metadata when both are there.
    ASSERT_TRUE(TempFolder::setAttribute(file, "xdg.origin.url", "https://mirror.example.net/archive.zip"));
    EXPECT_EQ(text(quarantineProperties(file)->objectForKey(kLSQuarantineDataURLKey)), "https://mirror.example.net/archive.zip");
}

TEST_F(CoreServicesFiles, NoRecordNoPropertiesAndBadArguments)
{
    const std::string file = folder.writeFile("plain", "x");
    ASSERT_TRUE(TempFolder::setAttribute(file, "xdg.origin.url", "https://example.org/plain"));
    OSStatus status = noErr;
    EXPECT_EQ(quarantineProperties(file, &status), nil);
    EXPECT_EQ(status, kLSAttributeNotFoundErr);
    // An empty record is no record.
    ASSERT_TRUE(TempFolder::setAttribute(file, "com.apple.quarantine", ""));
    EXPECT_EQ(quarantineProperties(file, &status), nil);
    EXPECT_EQ(status, kLSAttributeNotFoundErr);
    // A record that is not text still makes the file quarantined.
    ASSERT_TRUE(TempFolder::setAttribute(file, "com.apple.quarantine", "\xff\xfe;1;x"));
    NSDictionary* p = quarantineProperties(file, &status);
    ASSERT_NE(p, nil);
    EXPECT_EQ(text(p->objectForKey(kLSQuarantineDataURLKey)), "https://example.org/plain");
    EXPECT_EQ(p->objectForKey(kLSQuarantineAgentNameKey), nil);

    FSRef ref;
    ASSERT_TRUE(CFURLGetFSRef(TempFolder::url(file), &ref));
    CFTypeRef value = nullptr;
    EXPECT_EQ(LSCopyItemAttribute(&ref, kLSRolesAll, CFSTR("LSItemContentType"), &value), kLSAttributeNotFoundErr);
    EXPECT_EQ(value, nullptr);
    EXPECT_EQ(LSCopyItemAttribute(nullptr, kLSRolesAll, kLSItemQuarantineProperties, &value), paramErr);
    EXPECT_EQ(LSCopyItemAttribute(&ref, kLSRolesAll, nullptr, &value), paramErr);
    EXPECT_EQ(LSCopyItemAttribute(&ref, kLSRolesAll, kLSItemQuarantineProperties, nullptr), paramErr);
    FSRef zero{};
    EXPECT_EQ(LSCopyItemAttribute(&zero, kLSRolesAll, kLSItemQuarantineProperties, &value), paramErr);
}

// ---------------------------------------------------------------- metadata items

std::vector<std::string> metadataNames(const std::string& path)
{
    MDItemRef item = MDItemCreateWithURL(nullptr, TempFolder::url(path));
    if (!item)
        return {"<no item>"};
    CFArrayRef names = MDItemCopyAttributeNames(item);
    std::vector<std::string> out;
    for (id name : *names)
        out.push_back(static_cast<NSString*>(name)->utf8());
    CFRelease(names);
    CFRelease(item);
    return out;
}

bool has(const std::vector<std::string>& names, const std::string& name)
{
    return std::find(names.begin(), names.end(), name) != names.end();
}

TEST_F(CoreServicesFiles, MetadataNamesOfAPlainFile)
{
    const std::string file = folder.writeFile("notes.txt", "hello");
    auto names = metadataNames(file);
    for (const char* expected : {"kMDItemPath", "kMDItemFSName", "kMDItemDisplayName", "kMDItemFSSize", "kMDItemFSContentChangeDate",
                                 "kMDItemFSOwnerUserID", "kMDItemContentType", "kMDItemKind"})
        EXPECT_TRUE(has(names, expected)) << expected;
    EXPECT_FALSE(has(names, "kMDItemFSNodeCount"));
    EXPECT_FALSE(has(names, "kMDItemWhereFroms"));

    MDItemRef item = MDItemCreate(nullptr, TempFolder::string(file));
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(CFGetTypeID(item), MDItemGetTypeID());
    CFTypeRef type = MDItemCopyAttribute(item, kMDItemContentType);
    EXPECT_EQ(text(const_cast<NSObject*>(type)), "public.plain-text");
    CFTypeRef size = MDItemCopyAttribute(item, kMDItemFSSize);
    EXPECT_EQ(static_cast<const NSNumber*>(size)->longLongValue(), 5);
    EXPECT_EQ(MDItemCopyAttribute(item, CFSTR("kMDItemNoSuchThing")), nullptr);
    CFRelease(type);
    CFRelease(size);
    CFRelease(item);
}

TEST_F(CoreServicesFiles, MetadataAttributesOfTheFileBecomeNames)
{
    const std::string file = folder.writeFile("download", "x");
    NSData* whereFroms = NSPropertyListSerialization::dataWithPropertyList(
        NSArray::arrayWithObjects({NSSTR("https://example.org/download")}), NSPropertyListBinaryFormat_v1_0, nullptr);
    ASSERT_TRUE(TempFolder::setAttribute(file, "com.apple.metadata:kMDItemWhereFroms",
                                         std::string_view(reinterpret_cast<const char*>(whereFroms->bytes()), whereFroms->length())));
    ASSERT_TRUE(TempFolder::setAttribute(file, "com.apple.metadata:kMDItemFinderComment", "not a property list"));
    ASSERT_TRUE(TempFolder::setAttribute(file, "com.apple.metadata:", "no name"));
    ASSERT_TRUE(TempFolder::setAttribute(file, "com.apple.quarantine", "0001;0;x;"));

    auto names = metadataNames(file);
    EXPECT_TRUE(has(names, "kMDItemWhereFroms"));
    EXPECT_TRUE(has(names, "kMDItemFinderComment"));
    EXPECT_FALSE(has(names, ""));
    EXPECT_FALSE(has(names, "com.apple.quarantine"));

    MDItemRef item = MDItemCreateWithURL(nullptr, TempFolder::url(file));
    ASSERT_NE(item, nullptr);
    CFTypeRef froms = MDItemCopyAttribute(item, kMDItemWhereFroms);
    ASSERT_NE(froms, nullptr);
    ASSERT_EQ(CFGetTypeID(froms), CFArrayGetTypeID());
    EXPECT_EQ(text(static_cast<const NSArray*>(froms)->objectAtIndex(0)), "https://example.org/download");
    CFTypeRef comment = MDItemCopyAttribute(item, CFSTR("kMDItemFinderComment"));
    ASSERT_NE(comment, nullptr);
    EXPECT_EQ(CFGetTypeID(comment), CFDataGetTypeID());   // kept as the raw bytes
    CFRelease(froms);
    CFRelease(comment);
    CFRelease(item);
}

TEST_F(CoreServicesFiles, MetadataOfFoldersBundlesAndMachO)
{
    folder.makeFolder("Box");
    folder.writeFile("Box/a", "");
    folder.writeFile("Box/.b", "");
    MDItemRef box = MDItemCreateWithURL(nullptr, NSURL::fileURLWithFileSystemRepresentation(folder.path("Box").c_str(), true));
    ASSERT_NE(box, nullptr);
    CFTypeRef count = MDItemCopyAttribute(box, kMDItemFSNodeCount);
    ASSERT_NE(count, nullptr);
    EXPECT_EQ(static_cast<const NSNumber*>(count)->longLongValue(), 2);
    CFTypeRef path = MDItemCopyAttribute(box, kMDItemPath);
    EXPECT_EQ(text(const_cast<NSObject*>(path)), folder.path("Box"));   // no trailing slash
    CFRelease(count);
    CFRelease(path);
    CFRelease(box);

    folder.makeFolder("Viewer.app/Contents");
    folder.writeFile("Viewer.app/Contents/Info.plist",
                     "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>CFBundleIdentifier</key>"
                     "<string>org.example.viewer</string></dict></plist>");
    MDItemRef app = MDItemCreate(nullptr, TempFolder::string(folder.path("Viewer.app")));
    ASSERT_NE(app, nullptr);
    CFTypeRef identifier = MDItemCopyAttribute(app, kMDItemCFBundleIdentifier);
    CFTypeRef display = MDItemCopyAttribute(app, kMDItemDisplayName);
    CFTypeRef type = MDItemCopyAttribute(app, kMDItemContentType);
    EXPECT_EQ(text(const_cast<NSObject*>(identifier)), "org.example.viewer");
    EXPECT_EQ(text(const_cast<NSObject*>(display)), "Viewer");
    EXPECT_EQ(text(const_cast<NSObject*>(type)), "com.apple.application-bundle");
    for (CFTypeRef v : {identifier, display, type})
        if (v)
            CFRelease(v);
    CFRelease(app);

    folder.writeFile("tool", std::string("\xcf\xfa\xed\xfe\x07\x00\x00\x01", 8));
    MDItemRef tool = MDItemCreate(nullptr, TempFolder::string(folder.path("tool")));
    CFTypeRef toolType = MDItemCopyAttribute(tool, kMDItemContentType);
    EXPECT_EQ(text(const_cast<NSObject*>(toolType)), "com.apple.mach-o-binary");
    CFRelease(toolType);
    CFRelease(tool);
}

TEST_F(CoreServicesFiles, MetadataItemsForWhatIsNotThere)
{
    EXPECT_EQ(MDItemCreateWithURL(nullptr, nullptr), nullptr);
    EXPECT_EQ(MDItemCreateWithURL(nullptr, TempFolder::url(folder.path("missing"))), nullptr);
    EXPECT_EQ(MDItemCreateWithURL(nullptr, NSURL::URLWithString(NSSTR("https://example.org/"))), nullptr);
    EXPECT_EQ(MDItemCreate(nullptr, nullptr), nullptr);
    EXPECT_EQ(MDItemCopyAttributeNames(nullptr), nullptr);
    EXPECT_EQ(MDItemCopyAttribute(nullptr, kMDItemPath), nullptr);
}

} // namespace
