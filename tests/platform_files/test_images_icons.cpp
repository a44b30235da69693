// NSImage's decoding and named images, the workspace's icons, and how items
// are typed (Mach-O and bundles included). No QGuiApplication exists here.
#include "TempFolder.h"

#include "AppKit/IconTheme.h"
#include "AppKit/NSImagePrivate.h"
#include "AppKit/NSWorkspace.h"
#include "CoreServices/ItemKind.h"

#include <gtest/gtest.h>

namespace {

using sentrel::coreservices::itemKindAtPath;
using sentrel::coreservices::machOKind;
using sentrel::coreservices::MachOKind;

std::string bytes(std::initializer_list<uint8_t> list) { return std::string(list.begin(), list.end()); }

const std::string kThinMachO = bytes({0xcf, 0xfa, 0xed, 0xfe, 0x07, 0x00, 0x00, 0x01, 0x03, 0, 0, 0});
const std::string kUniversal = bytes({0xca, 0xfe, 0xba, 0xbe, 0x00, 0x00, 0x00, 0x02, 0x01, 0x00, 0x00, 0x07});
const std::string kJavaClass = bytes({0xca, 0xfe, 0xba, 0xbe, 0x00, 0x00, 0x00, 0x34, 0x00, 0x1d, 0x0a, 0x00});

TEST(ItemKind, MachOMagicNumbers)
{
    auto kind = [](std::initializer_list<uint8_t> head) {
        std::vector<uint8_t> v(head);
        return machOKind(v.data(), v.size());
    };
    EXPECT_EQ(kind({0xfe, 0xed, 0xfa, 0xce, 0, 0, 0, 0}), MachOKind::Thin);
    EXPECT_EQ(kind({0xfe, 0xed, 0xfa, 0xcf, 0, 0, 0, 0}), MachOKind::Thin);
    EXPECT_EQ(kind({0xce, 0xfa, 0xed, 0xfe, 0, 0, 0, 0}), MachOKind::Thin);
    EXPECT_EQ(kind({0xcf, 0xfa, 0xed, 0xfe}), MachOKind::Thin);
    EXPECT_EQ(kind({0xca, 0xfe, 0xba, 0xbe, 0, 0, 0, 2}), MachOKind::Universal);
    EXPECT_EQ(kind({0xbe, 0xba, 0xfe, 0xca, 2, 0, 0, 0}), MachOKind::Universal);
    // The same magic with a Java version after it (major 52: Java 8).
    EXPECT_EQ(kind({0xca, 0xfe, 0xba, 0xbe, 0, 0, 0, 52}), MachOKind::None);
    EXPECT_EQ(kind({0xca, 0xfe, 0xba, 0xbe, 0, 0, 0, 45}), MachOKind::None);
    EXPECT_EQ(kind({0xca, 0xfe, 0xba, 0xbe}), MachOKind::None);   // too short to tell
    EXPECT_EQ(kind({0x7f, 'E', 'L', 'F', 2, 1, 1, 0}), MachOKind::None);
    EXPECT_EQ(machOKind(nullptr, 8), MachOKind::None);
}

TEST(ItemKind, TypesFilesBundlesAndLinks)
{
    TempFolder folder;
    auto kind = [&](const std::string& name) { return itemKindAtPath(folder.path(name)); };
    folder.writeFile("tool", kThinMachO);
    folder.writeFile("fat", kUniversal);
    folder.writeFile("Main.class", kJavaClass);
    folder.writeFile("notes.txt", "plain words\n");
    folder.makeFolder("Plain");
    folder.makeFolder("Viewer.app/Contents");
    folder.makeFolder("Tool.bundle/Contents");
    folder.writeFile("Tool.bundle/Contents/Info.plist",
                     "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>CFBundlePackageType</key>"
                     "<string>APPL</string></dict></plist>");
    ASSERT_EQ(symlink("nowhere", folder.path("dangling").c_str()), 0);
    ASSERT_EQ(symlink("tool", folder.path("tool-link").c_str()), 0);

    EXPECT_EQ(kind("tool").mimeType, "application/x-mach-binary");
    EXPECT_EQ(kind("tool").typeIdentifier, "com.apple.mach-o-binary");
    EXPECT_EQ(kind("fat").mimeType, "application/x-mach-binary");
    EXPECT_EQ(kind("fat").description, "Mach-O universal binary");
    EXPECT_NE(kind("Main.class").mimeType, "application/x-mach-binary");
    EXPECT_EQ(kind("notes.txt").mimeType, "text/plain");
    EXPECT_EQ(kind("notes.txt").typeIdentifier, "public.plain-text");
    EXPECT_EQ(kind("Plain").typeIdentifier, "public.folder");
    EXPECT_FALSE(kind("Plain").isApplicationBundle);
    EXPECT_TRUE(kind("Viewer.app").isApplicationBundle);   // by its name
    EXPECT_EQ(kind("Viewer.app").typeIdentifier, "com.apple.application-bundle");
    EXPECT_TRUE(kind("Tool.bundle").isApplicationBundle);  // by its package type
    EXPECT_EQ(kind("dangling").mimeType, "inode/symlink");
    EXPECT_TRUE(kind("tool-link").isSymbolicLink);
    EXPECT_EQ(kind("tool-link").mimeType, "application/x-mach-binary");
    EXPECT_FALSE(kind("missing").exists);
    for (const char* name : {"tool", "fat", "Main.class", "notes.txt", "Plain", "Viewer.app", "dangling"})
        EXPECT_FALSE(kind(name).iconNames.empty()) << name;
}

// ---------------------------------------------------------------- images

TEST(NSImage, NamedApplicationIconIsARealSharedImage)
{
    NSImage* icon = NSImage::imageNamed(NSSTR("Sentrel.icns"));
    ASSERT_NE(icon, nil);
    EXPECT_TRUE(icon->isValid());
    EXPECT_FLOAT_EQ(icon->size().width, 512);
    EXPECT_FLOAT_EQ(icon->size().height, 512);
    EXPECT_EQ(NSImageAccess::bitmap(icon).width(), 512);
    EXPECT_TRUE(icon->name()->isEqualToString(NSSTR("Sentrel.icns")));
    // The same object every time: a size set on it is seen by the next caller.
    EXPECT_EQ(NSImage::imageNamed(NSSTR("Sentrel.icns")), icon);
    icon->setSize(NSMakeSize(72, 72));
    EXPECT_FLOAT_EQ(NSImage::imageNamed(NSSTR("Sentrel.icns"))->size().width, 72);
    icon->setSize(NSMakeSize(512, 512));
    EXPECT_EQ(NSImageAccess::bitmap(icon).width(), 512);   // the bitmap is untouched

    // Without its extension the name finds the same file.
    NSImage* byBareName = NSImage::imageNamed(NSSTR("Sentrel"));
    ASSERT_NE(byBareName, nil);
    EXPECT_EQ(NSImageAccess::bitmap(byBareName), NSImageAccess::bitmap(icon));

    EXPECT_EQ(NSImage::imageNamed(NSSTR("NoSuchImage")), nil);
    EXPECT_EQ(NSImage::imageNamed(NSSTR("")), nil);
    EXPECT_EQ(NSImage::imageNamed(nil), nil);
}

TEST(NSImage, FilesThatAreNotImages)
{
    TempFolder folder;
    auto load = [](const std::string& path) {
        NSImage* image = NSImage::alloc()->initWithContentsOfFile(TempFolder::string(path));
        if (image)
            image->autorelease();
        return image;
    };
    EXPECT_EQ(load(folder.writeFile("text.png", "not a picture at all")), nil);
    EXPECT_EQ(load(folder.writeFile("empty.icns", "")), nil);
    // An .icns header that promises more than the file holds.
    EXPECT_EQ(load(folder.writeFile("short.icns", bytes({'i', 'c', 'n', 's', 0, 0, 0x10, 0, 'i', 'c', '0', '9'}))), nil);
    EXPECT_EQ(load(folder.path("missing.png")), nil);
    EXPECT_EQ(NSImage::alloc()->initWithContentsOfFile(nil), nil);
    EXPECT_EQ(NSImage::alloc()->initWithData(NSData::data()), nil);

    NSData* icns = NSData::dataWithContentsOfFile(NSBundle::mainBundle()->pathForResource(NSSTR("Sentrel"), NSSTR("icns")));
    ASSERT_NE(icns, nil);
    NSImage* decoded = NSImage::alloc()->initWithData(icns);
    ASSERT_NE(decoded, nil);
    decoded->autorelease();
    EXPECT_FLOAT_EQ(decoded->size().width, 512);
}

// ---------------------------------------------------------------- icons

class Icons : public testing::Test {
protected:
    NSImage* iconFor(const std::string& path)
    {
        return NSWorkspace::sharedWorkspace()->iconForFile(TempFolder::string(path));
    }
    // The theme's own picture for an icon name, decoded the same way.
    QImage themeIcon(const char* name)
    {
        std::string file = sentrel::appkit::IconTheme::shared().lookup(name, 256);
        if (file.empty())
            return QImage();
        NSImage* image = NSImageAccess::imageWithFile(QString::fromStdString(file), 256);
        return image ? NSImageAccess::bitmap(image) : QImage();
    }
    TempFolder folder;
};

TEST_F(Icons, NothingAtThePathGivesNil)
{
    EXPECT_EQ(NSWorkspace::sharedWorkspace()->iconForFile(nil), nil);
    EXPECT_EQ(NSWorkspace::sharedWorkspace()->iconForFile(NSSTR("")), nil);
    EXPECT_EQ(iconFor(folder.path("missing")), nil);
}

TEST_F(Icons, EveryExistingPathHasARealIcon)
{
    folder.writeFile("notes.txt", "words");
    folder.writeFile("tool", kThinMachO);
    folder.writeFile("fat", kUniversal);
    folder.writeFile("blob", bytes({0, 1, 2, 3, 4, 5, 255}));
    folder.writeFile("empty", "");
    folder.makeFolder("Folder");
    ASSERT_EQ(symlink("nowhere", folder.path("dangling").c_str()), 0);
    ASSERT_EQ(mkfifo(folder.path("fifo").c_str(), 0600), 0);
    for (const char* name : {"notes.txt", "tool", "fat", "blob", "empty", "Folder", "dangling", "fifo"}) {
        NSImage* icon = iconFor(folder.path(name));
        ASSERT_NE(icon, nil) << name;
        EXPECT_TRUE(icon->isValid()) << name;
        EXPECT_GT(icon->size().width, 0) << name;
    }
    // A new image each time: resizing one leaves the next alone.
    NSImage* first = iconFor(folder.path("notes.txt"));
    first->setSize(NSMakeSize(1, 1));
    EXPECT_NE(iconFor(folder.path("notes.txt")), first);
    EXPECT_GT(iconFor(folder.path("notes.txt"))->size().width, 1);
}

TEST_F(Icons, MachOFilesLookLikeExecutablesAndFoldersLikeFolders)
{
    const QImage executable = themeIcon("application-x-executable");
    const QImage folderIcon = themeIcon("folder");
    if (executable.isNull() || folderIcon.isNull())
        GTEST_SKIP() << "no icon theme installed (adwaita-icon-theme or hicolor-icon-theme)";
    folder.writeFile("fat", kUniversal);
    folder.writeFile("tool", kThinMachO);
    folder.makeFolder("Folder");
    folder.makeFolder("NoIcon.app/Contents");
    EXPECT_EQ(NSImageAccess::bitmap(iconFor(folder.path("fat"))), executable);
    EXPECT_EQ(NSImageAccess::bitmap(iconFor(folder.path("tool"))), executable);
    EXPECT_EQ(NSImageAccess::bitmap(iconFor(folder.path("NoIcon.app"))), executable);
    EXPECT_NE(NSImageAccess::bitmap(iconFor(folder.path("Folder"))), executable);
}

TEST_F(Icons, ApplicationBundleUsesItsOwnIcns)
{
    NSString* appIcon = NSBundle::mainBundle()->pathForResource(NSSTR("Sentrel"), NSSTR("icns"));
    ASSERT_NE(appIcon, nil);
    const std::string icns = folder.writeFile("tmp.icns", "");
    std::filesystem::copy_file(appIcon->utf8(), icns, std::filesystem::copy_options::overwrite_existing);

    // CFBundleIconFile without the extension, and with it.
    for (const char* declared : {"Viewer", "Viewer.icns"}) {
        const std::string app = std::string(declared) == "Viewer" ? "Bare.app" : "Full.app";
        folder.makeFolder(app + "/Contents/Resources");
        std::filesystem::copy_file(icns, folder.path(app + "/Contents/Resources/Viewer.icns"));
        folder.writeFile(app + "/Contents/Info.plist",
                         std::string("<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>CFBundleIconFile</key><string>") +
                             declared + "</string></dict></plist>");
        NSImage* icon = iconFor(folder.path(app));
        ASSERT_NE(icon, nil) << app;
        EXPECT_FLOAT_EQ(icon->size().width, 512) << app;
        EXPECT_EQ(NSImageAccess::bitmap(icon), NSImageAccess::bitmap(NSImage::imageNamed(NSSTR("Sentrel.icns")))) << app;
    }

    // An icon file that is named but missing, or a name that leaves the
    // folder: the theme's icon instead.
    folder.makeFolder("Lost.app/Contents/Resources");
    folder.writeFile("Lost.app/Contents/Info.plist",
                     "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>CFBundleIconFile</key>"
                     "<string>../../../tmp.icns</string></dict></plist>");
    NSImage* lost = iconFor(folder.path("Lost.app"));
    ASSERT_NE(lost, nil);
    EXPECT_NE(NSImageAccess::bitmap(lost), NSImageAccess::bitmap(NSImage::imageNamed(NSSTR("Sentrel.icns"))));
}

TEST(IconTheme, SearchPathAndThemes)
{
    auto& theme = sentrel::appkit::IconTheme::shared();
    EXPECT_NE(std::find(theme.searchPath().begin(), theme.searchPath().end(), "/usr/share/icons"), theme.searchPath().end());
    if (theme.themeChain().empty())
        GTEST_SKIP() << "no icon theme installed";
    EXPECT_EQ(theme.themeChain().back(), "hicolor");
    EXPECT_EQ(theme.lookup("../../etc/passwd", 256), "");
    EXPECT_EQ(theme.lookup("no-such-icon-anywhere", 256), "");
    const std::string file = theme.lookup("text-x-generic", 256);
    if (!file.empty()) {
        EXPECT_NE(file.find("/text-x-generic."), std::string::npos);
    }
}

} // namespace
