// The quarantine record where Linux keeps it outside the file's own
// attribute: a Samba stream attribute, a "._" file beside the file, a
// __MACOSX folder where a zip was unpacked; its "where from" addresses; and
// Remove from Quarantine clearing every one of them.
#include "AppleDoubleBuilder.h"
#include "ControllerTesting.h"
#include "sys/AppleDouble.h"

#include <filesystem>
#include <fstream>

namespace {

namespace fs = std::filesystem;
using Elsewhere = ControllerTest<UFileQuarantineController>;

const std::string kRecord = "0083;656e1f2a;Safari;7B2A0C3E-1111-2222-3333-444455556666";

std::string readBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void writeBytes(const std::string& path, const std::string& bytes)
{
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
}

AppleDoubleBuilder macCompanion()
{
    AppleDoubleBuilder b;
    b.attributes = {{"com.apple.metadata:kMDItemWhereFroms", whereFromsPlist("https://dl.example/app.zip", "https://dl.example/")},
                    {"com.apple.quarantine", kRecord},
                    {"com.apple.FinderInfo.tag", "blue"}};
    b.padding = 2000;
    return b;
}

TEST_F(Elsewhere, NothingAnywhere)
{
    open(file("clean"));
    EXPECT_FALSE(controller->quarantinedAnywhere());
    EXPECT_EQ(stringsOf(controller->quarantineRecordSources()), std::vector<std::string>{});
    EXPECT_EQ(utf8(controller->quarantineFoundRecord()), "");
    EXPECT_EQ(stringsOf(controller->quarantineWhereFrom()), std::vector<std::string>{});
    const uint32_t before = controller->fileURLUpdated();
    controller->setQuarantined(false);
    EXPECT_EQ(controller->fileURLUpdated(), before);
}

// A Mac client on a Samba share: the record is a stream attribute, with or
// without its NUL; the own-attribute keys do not see it.
TEST_F(Elsewhere, SambaStreamAttribute)
{
    for (const std::string& value : {kRecord, kRecord + std::string(1, '\0')}) {
        const std::string path = file("shared.dmg", {{"user.DosStream.com.apple.quarantine:$DATA", value},
                                                     {"user.DosStream.com.apple.lastuseddate#PS:$DATA", "12345678"}});
        open(path);
        EXPECT_FALSE(controller->quarantined());
        EXPECT_TRUE(controller->quarantinedAnywhere());
        EXPECT_EQ(utf8(controller->quarantineFoundRecord()), kRecord);
        EXPECT_EQ(stringsOf(controller->quarantineRecordSources()),
                  std::vector<std::string>{"Samba stream user.DosStream.com.apple.quarantine:$DATA"});
        EXPECT_EQ(controller->quarantineRemovalCommandsElsewhere(controller->filePathName()),
                  std::vector<std::string>{"setfattr -x \"user.DosStream.com.apple.quarantine:\\$DATA\" \"" + path + "\""});

        controller->setQuarantined(false);
        EXPECT_FALSE(controller->quarantinedAnywhere());
        EXPECT_EQ(TempFolder::diskAttribute(path, "user.DosStream.com.apple.quarantine:$DATA"), "<none>");
        EXPECT_EQ(TempFolder::diskAttribute(path, "user.DosStream.com.apple.lastuseddate#PS:$DATA"), "12345678");
    }
}

// A copy from a Mac disk: "._name" beside the file. Its record is found, its
// kMDItemWhereFroms gives the addresses after the browser's own, and the
// removal rewrites it with every other entry as it was.
TEST_F(Elsewhere, AppleDoubleBesideTheFile)
{
    const std::string path = file("app.zip", {{"xdg.origin.url", "https://dl.example/app.zip"},
                                              {"xdg.referrer.url", "https://search.example/?q=app"}});
    AppleDoubleBuilder b = macCompanion();
    b.finderInfo = "ZIP Mac " + std::string(24, '\0');
    const std::string companion = folder.path("._app.zip");
    writeBytes(companion, b.build());
    open(path);

    EXPECT_FALSE(controller->quarantined());
    EXPECT_TRUE(controller->quarantinedAnywhere());
    EXPECT_EQ(utf8(controller->quarantineFoundRecord()), kRecord);
    EXPECT_EQ(stringsOf(controller->quarantineRecordSources()), std::vector<std::string>{"AppleDouble " + companion});
    EXPECT_EQ(stringsOf(controller->quarantineWhereFrom()),
              (std::vector<std::string>{"https://dl.example/app.zip", "https://search.example/?q=app", "https://dl.example/"}));
    // The companion holds more than the record: no common tool rewrites it.
    EXPECT_EQ(controller->quarantineRemovalCommandsElsewhere(controller->filePathName()),
              std::vector<std::string>{"sentrel-inspect --remove-quarantine \"" + path +
                                       "\"   # rewrites the AppleDouble file without the record"});

    std::vector<uint8_t> original;
    const sentrel::sys::AppleDoubleParse before = sentrel::sys::readAppleDoubleFile(companion, &original);
    const uint32_t counter = controller->fileURLUpdated();
    controller->setQuarantined(false);
    EXPECT_EQ(controller->fileURLUpdated(), counter + 1);
    EXPECT_FALSE(controller->quarantinedAnywhere());
    const sentrel::sys::AppleDoubleParse after = sentrel::sys::readAppleDoubleFile(companion);
    ASSERT_EQ(after.status, sentrel::sys::AppleDoubleStatus::ok);
    EXPECT_EQ(after.file.attribute("com.apple.quarantine"), nullptr);
    EXPECT_EQ(after.file.attributes.size(), 2u);
    for (const char* kept : {"com.apple.metadata:kMDItemWhereFroms", "com.apple.FinderInfo.tag"})
        EXPECT_EQ(after.file.attribute(kept)->value, before.file.attribute(kept)->value) << kept;
    EXPECT_EQ(after.file.finderInfo, before.file.finderInfo);
    // The addresses are still there: only the record went.
    EXPECT_EQ(stringsOf(controller->quarantineWhereFrom()).size(), 3u);
    EXPECT_EQ(TempFolder::diskAttribute(path, "user.xdg.origin.url"), "https://dl.example/app.zip");
}

// A zip made on a Mac and unpacked: the record of App/Contents/MacOS/tool is
// in __MACOSX/App/Contents/MacOS/._tool at the unpacked tree's root. A
// record in the file's own attribute as well: both places are listed, both
// are cleared, and a "._" file holding only the record is deleted.
TEST_F(Elsewhere, MacosxFolderOfAnUnpackedZip)
{
    const std::string root = folder.path("unpacked");
    const std::string tool = root + "/App/Contents/MacOS/tool";
    writeBytes(tool, "#!/bin/sh\n");
    ASSERT_TRUE(TempFolder::setAttribute(tool, "com.apple.quarantine", "0081;656e1f2a;Archive Utility;"));
    AppleDoubleBuilder only;
    only.attributes = {{"com.apple.quarantine", kRecord}};
    only.padding = 3700;
    const std::string zipped = root + "/__MACOSX/App/Contents/MacOS/._tool";
    writeBytes(zipped, only.build());
    writeBytes(root + "/__MACOSX/App/Contents/._Info.plist", macCompanion().build());
    open(tool);

    EXPECT_TRUE(controller->quarantined());
    EXPECT_EQ(utf8(controller->quarantineFoundRecord()), "0081;656e1f2a;Archive Utility;");
    EXPECT_EQ(utf8(controller->quarantineAgent()), "Archive Utility");
    EXPECT_EQ(stringsOf(controller->quarantineRecordSources()),
              (std::vector<std::string>{"attribute com.apple.quarantine", "AppleDouble in __MACOSX " + zipped}));
    EXPECT_EQ(controller->quarantineRemovalCommandsElsewhere(controller->filePathName()), std::vector<std::string>{"rm \"" + zipped + "\""});

    const uint32_t counter = controller->fileURLUpdated();
    controller->setQuarantined(false);
    EXPECT_EQ(controller->fileURLUpdated(), counter + 2);
    EXPECT_FALSE(controller->quarantined());
    EXPECT_FALSE(controller->quarantinedAnywhere());
    EXPECT_FALSE(fs::exists(zipped));
    // Another file's companion is not touched.
    EXPECT_EQ(readBytes(root + "/__MACOSX/App/Contents/._Info.plist"), macCompanion().build());
}

// Companions that lie are reported as unreadable, never read past, and
// never rewritten.
TEST_F(Elsewhere, AHostileCompanionIsReportedAndLeftAlone)
{
    const std::string path = file("doc.pdf");
    std::string lying = macCompanion().build();
    AppleDoubleBuilder::set32(lying, AppleDoubleBuilder::kFirstAttrEntry + 4, 0x7FFFFFF0);
    const std::string companion = folder.path("._doc.pdf");
    writeBytes(companion, lying);
    open(path);
    EXPECT_FALSE(controller->quarantinedAnywhere());
    EXPECT_EQ(stringsOf(controller->quarantineRecordSources()),
              std::vector<std::string>{"unreadable AppleDouble " + companion + ": an attribute value outside its block"});
    EXPECT_EQ(stringsOf(controller->quarantineWhereFrom()), std::vector<std::string>{});
    EXPECT_EQ(controller->quarantineRemovalCommandsElsewhere(controller->filePathName()), std::vector<std::string>{});
    const uint32_t counter = controller->fileURLUpdated();
    controller->setQuarantined(false);
    EXPECT_EQ(controller->fileURLUpdated(), counter);
    EXPECT_EQ(readBytes(companion), lying);
}

}  // namespace
