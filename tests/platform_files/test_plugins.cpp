// A program that does not link the image library (as sentrel-inspect): Qt
// is loaded from the plug-ins, and only when something really needs it. One
// test, because what a process has loaded cannot be unloaded between tests.
#include "TempFolder.h"

#include "AppKit/ImageLibrary.h"
#include "AppKit/NSWorkspace.h"
#include "CoreServices/ItemKind.h"
#include "CoreServices/PlugIns.h"

#include <gtest/gtest.h>

#include <fstream>

namespace {

// Whether a shared library whose file name contains `name` is mapped.
bool loaded(const std::string& name)
{
    std::ifstream maps("/proc/self/maps");
    std::string line;
    while (std::getline(maps, line))
        if (line.find(name) != std::string::npos)
            return true;
    return false;
}

TEST(PlugIns, QtIsLoadedOnlyWhenPixelsOrMimeTypesAreNeeded)
{
    ASSERT_FALSE(loaded("libQt6Core")) << "this test program must not link Qt";
    TempFolder folder;
    const std::string tool = folder.writeFile("tool", std::string("\xcf\xfa\xed\xfe\x07\x00\x00\x01\x03\0\0\0", 12));
    const std::string notes = folder.writeFile("notes.txt", "plain words\n");
    folder.makeFolder("Viewer.app/Contents");

    // Mach-O files and application bundles are typed without the database.
    EXPECT_EQ(sentrel::coreservices::itemKindAtPath(tool).mimeType, "application/x-mach-binary");
    EXPECT_TRUE(sentrel::coreservices::itemKindAtPath(folder.path("Viewer.app")).isApplicationBundle);
    EXPECT_FALSE(loaded("libQt6Core"));

    // An icon given a size to be shown at is an image already: nothing is
    // decoded, no theme read, no plug-in loaded.
    NSImage* icon = NSWorkspace::sharedWorkspace()->iconForFile(TempFolder::string(notes));
    ASSERT_NE(icon, nil);
    icon->setSize(NSMakeSize(72, 72));
    EXPECT_FLOAT_EQ(icon->size().width, 72);
    EXPECT_FALSE(loaded("libQt6Gui"));
    EXPECT_FALSE(loaded("AppKitImages.so"));
    EXPECT_EQ(NSWorkspace::sharedWorkspace()->iconForFile(TempFolder::string(folder.path("missing"))), nil);

    // Asking whether it holds pixels makes them, through both plug-ins (the
    // text file's type comes from the MIME database); the size set stays.
    EXPECT_TRUE(icon->isValid());
    EXPECT_FLOAT_EQ(icon->size().width, 72);
    EXPECT_TRUE(loaded("AppKitImages.so"));
    EXPECT_TRUE(loaded("MimeTypes.so"));
    EXPECT_TRUE(loaded("libQt6Gui"));
    EXPECT_EQ(sentrel::coreservices::itemKindAtPath(notes).mimeType, "text/plain");

    // An icon whose size was never set has its pixels' size.
    NSImage* appIcon = NSWorkspace::sharedWorkspace()->iconForFile(TempFolder::string(folder.path("Viewer.app")));
    ASSERT_NE(appIcon, nil);
    EXPECT_GT(appIcon->size().width, 0);
    EXPECT_TRUE(appIcon->isValid());

    // Decoding through the plug-in: the application icon among the resources.
    NSImage* named = NSImage::imageNamed(NSSTR("Sentrel.icns"));
    ASSERT_NE(named, nil);
    EXPECT_FLOAT_EQ(named->size().width, 512);
    EXPECT_EQ(NSImage::alloc()->initWithData(NSData::dataWithBytes("not an image", 12)), nil);
}

TEST(PlugIns, AMissingPlugInOrEntryIsNull)
{
    EXPECT_EQ(sentrel::plugins::entry("NoSuchPlugIn", "anything"), nullptr);
    EXPECT_EQ(sentrel::plugins::entry("NoSuchPlugIn", "anything"), nullptr);   // said once, then quietly
    EXPECT_EQ(sentrel::plugins::entry(sentrel::appkit::kImageLibraryPlugIn, "no_such_entry"), nullptr);
    EXPECT_NE(sentrel::plugins::entry(sentrel::appkit::kImageLibraryPlugIn, sentrel::appkit::kImageLibraryEntry), nullptr);
    EXPECT_TRUE(sentrel::plugins::folder().ends_with("/lib/sentrel/PlugIns"));
}

} // namespace
