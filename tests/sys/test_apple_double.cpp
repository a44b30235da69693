// AppleDouble files: reading what a Mac writes, refusing files that lie,
// finding the companions of a file, and taking one attribute out.
#include "AppleDoubleBuilder.h"
#include "sys/AppleDouble.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

using namespace sentrel::sys;
namespace fs = std::filesystem;

namespace {

std::span<const uint8_t> spanOf(const std::string& s)
{
    return {reinterpret_cast<const uint8_t*>(s.data()), s.size()};
}

AppleDoubleParse parse(const std::string& bytes) { return parseAppleDouble(spanOf(bytes)); }

std::string text(const std::vector<uint8_t>& v) { return std::string(v.begin(), v.end()); }

const std::string kRecord = "0083;656e1f2a;Safari;7B2A0C3E-1111-2222-3333-444455556666";

AppleDoubleBuilder macFile()
{
    AppleDoubleBuilder b;
    b.attributes = {{"com.apple.metadata:kMDItemWhereFroms", whereFromsPlist("https://e.example/a.zip", "https://e.example/")},
                    {"com.apple.quarantine", kRecord},
                    {"com.apple.lastuseddate#PS", std::string("\x01\x02\x00\x03", 4)}};
    b.padding = 3000;
    return b;
}

TEST(AppleDouble, ReadsWhatAMacWrites)
{
    AppleDoubleBuilder b = macFile();
    b.finderInfo[0] = 'T';
    const AppleDoubleParse p = parse(b.build());
    ASSERT_EQ(p.status, AppleDoubleStatus::ok);
    ASSERT_EQ(p.file.entries.size(), 2u);
    EXPECT_EQ(p.file.entries[0].id, 9u);
    EXPECT_EQ(p.file.entries[1].id, 2u);
    EXPECT_EQ(text(p.file.finderInfo), b.finderInfo);
    ASSERT_EQ(p.file.attributes.size(), 3u);
    ASSERT_NE(p.file.attribute("com.apple.quarantine"), nullptr);
    EXPECT_EQ(text(p.file.attribute("com.apple.quarantine")->value), kRecord);
    EXPECT_EQ(text(p.file.attribute("com.apple.lastuseddate#PS")->value), std::string("\x01\x02\x00\x03", 4));
    EXPECT_EQ(p.file.attribute("com.apple.quarantin"), nullptr);
}

TEST(AppleDouble, FinderInfoWithoutAttributesAndEmptyValues)
{
    // Entry 9 only as long as the Finder info: no ATTR block.
    std::string plain;
    AppleDoubleBuilder::put32(plain, 0x00051607);
    AppleDoubleBuilder::put32(plain, 0x00020000);
    plain += std::string(16, ' ');
    AppleDoubleBuilder::put16(plain, 1);
    AppleDoubleBuilder::put32(plain, 9), AppleDoubleBuilder::put32(plain, 38), AppleDoubleBuilder::put32(plain, 32);
    plain += std::string(32, 'F');
    AppleDoubleParse p = parse(plain);
    ASSERT_EQ(p.status, AppleDoubleStatus::ok);
    EXPECT_FALSE(p.file.hasAttributeBlock);
    EXPECT_EQ(text(p.file.finderInfo), std::string(32, 'F'));

    AppleDoubleBuilder b;
    b.attributes = {{"a", ""}, {"b", ""}, {"c", "x"}};
    p = parse(b.build());
    ASSERT_EQ(p.status, AppleDoubleStatus::ok);
    EXPECT_EQ(p.file.attributes.size(), 3u);
}

TEST(AppleDouble, HeadersThatAreNotAppleDouble)
{
    const std::string good = macFile().build();
    EXPECT_EQ(parse("").status, AppleDoubleStatus::truncatedHeader);
    EXPECT_EQ(parse(good.substr(0, 25)).status, AppleDoubleStatus::truncatedHeader);
    std::string bad = good;
    bad[3] = 0x00;  // AppleSingle is 0x00051600
    EXPECT_EQ(parse(bad).status, AppleDoubleStatus::badMagic);
    bad = good;
    bad[5] = 0x01;
    EXPECT_EQ(parse(bad).status, AppleDoubleStatus::badVersion);
}

// Files whose tables and offsets lie: each is refused with its own status,
// and none is read past its end (the sanitizers watch the reads).
TEST(AppleDouble, LyingEntryTables)
{
    const std::string good = macFile().build();
    auto with32 = [&](size_t at, uint32_t v) {
        std::string s = good;
        AppleDoubleBuilder::set32(s, at, v);
        // The file's bytes end exactly at the string's end.
        return parse(std::string(s.data(), s.size()));
    };
    std::string s = good;
    AppleDoubleBuilder::set16(s, AppleDoubleBuilder::kEntryCount, 0xFFFF);
    EXPECT_EQ(parse(s).status, AppleDoubleStatus::truncatedEntryTable);
    // A table that just fits the header's 26 bytes plus some entries.
    AppleDoubleBuilder::set16(s, AppleDoubleBuilder::kEntryCount, 3);
    EXPECT_EQ(parse(s.substr(0, 26 + 35)).status, AppleDoubleStatus::truncatedEntryTable);

    EXPECT_EQ(with32(AppleDoubleBuilder::kFinderEntryLength, 0xFFFFFFFF).status, AppleDoubleStatus::entryOutOfBounds);
    EXPECT_EQ(with32(AppleDoubleBuilder::kForkEntryOffset, 0xFFFFFFF0).status, AppleDoubleStatus::entryOutOfBounds);
    EXPECT_EQ(with32(AppleDoubleBuilder::kForkEntryOffset, static_cast<uint32_t>(good.size() - 10)).status,
              AppleDoubleStatus::entryOutOfBounds);
    // Two Finder-info entries.
    EXPECT_EQ(with32(26 + 12, 9).status, AppleDoubleStatus::duplicateEntry);
    // The file cut anywhere inside: never ok with a value past the cut.
    for (size_t cut = 0; cut < good.size(); cut += 7) {
        const AppleDoubleParse p = parse(good.substr(0, cut));
        EXPECT_NE(p.status, AppleDoubleStatus::ok) << cut;
    }
}

TEST(AppleDouble, LyingAttributeBlocks)
{
    AppleDoubleBuilder b = macFile();
    const std::string good = b.build();
    const size_t first = AppleDoubleBuilder::kFirstAttrEntry;
    auto status = [&](auto change) {
        std::string s = good;
        change(s);
        return parse(s).status;
    };
    // More attributes than entries in the block: the values are read as
    // entries, and those do not hold up.
    EXPECT_NE(status([](std::string& s) { AppleDoubleBuilder::set16(s, AppleDoubleBuilder::kAttrCount, 0xFFFF); }),
              AppleDoubleStatus::ok);
    // A value past the block's end, one with a length that wraps, one that
    // starts inside the header.
    EXPECT_EQ(status([&](std::string& s) { AppleDoubleBuilder::set32(s, first + 4, 0x10000); }),
              AppleDoubleStatus::attributeOutOfBounds);
    EXPECT_EQ(status([&](std::string& s) { AppleDoubleBuilder::set32(s, first + 4, 0xFFFFFFFF); }),
              AppleDoubleStatus::attributeOutOfBounds);
    EXPECT_EQ(status([&](std::string& s) { AppleDoubleBuilder::set32(s, first, 0x10); }),
              AppleDoubleStatus::attributeOutOfBounds);
    // A value over the resource fork: inside the file, outside entry 9.
    EXPECT_EQ(status([&](std::string& s) { AppleDoubleBuilder::set32(s, first, static_cast<uint32_t>(s.size() - 20)); }),
              AppleDoubleStatus::attributeOutOfBounds);
    // The block's total size says it ends before the values.
    EXPECT_EQ(status([](std::string& s) { AppleDoubleBuilder::set32(s, AppleDoubleBuilder::kAttrHeader + 8, 0x100); }),
              AppleDoubleStatus::attributeOutOfBounds);
    // Two values that share bytes.
    // (The first entry's name is 37 bytes with its NUL: the second entry
    // starts 48 bytes later.)
    EXPECT_EQ(status([&](std::string& s) { s.replace(first + 48, 4, s.substr(first, 4)); }),
              AppleDoubleStatus::overlappingAttributes);
    // A name length that runs past the block, and names without their NUL.
    EXPECT_EQ(status([&](std::string& s) {
                  AppleDoubleBuilder::set16(s, AppleDoubleBuilder::kAttrCount, 1);
                  AppleDoubleBuilder::set32(s, AppleDoubleBuilder::kFinderEntryLength, 34 + 36 + 11 + 5);
                  AppleDoubleBuilder::set32(s, AppleDoubleBuilder::kAttrHeader + 8, 0x32 + 34 + 36 + 11 + 5);
                  s[first + 10] = static_cast<char>(200);
              }),
              AppleDoubleStatus::truncatedAttributes);
    EXPECT_EQ(status([&](std::string& s) { s[first + 10 + 37] = 'x'; }), AppleDoubleStatus::badAttributeName);
    EXPECT_EQ(status([&](std::string& s) { s[first + 10] = 0; }), AppleDoubleStatus::badAttributeName);

    AppleDoubleBuilder twice;
    twice.attributes = {{"com.apple.quarantine", "a"}, {"com.apple.quarantine", "b"}};
    EXPECT_EQ(parse(twice.build()).status, AppleDoubleStatus::duplicateAttribute);
}

TEST(AppleDouble, AHugeFileIsRefusedUnread)
{
    const std::string big = macFile().build() + std::string(kAppleDoubleMaxFileSize, '\0');
    EXPECT_EQ(parse(big).status, AppleDoubleStatus::tooLarge);

    char dir[] = "/tmp/sentrel-ad-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string path = std::string(dir) + "/._huge";
    std::ofstream(path) << macFile().build();
    ASSERT_EQ(truncate(path.c_str(), 1LL << 40), 0);  // sparse: a terabyte
    EXPECT_EQ(readAppleDoubleFile(path).status, AppleDoubleStatus::tooLarge);
    EXPECT_EQ(readAppleDoubleFile(std::string(dir) + "/missing").status, AppleDoubleStatus::unreadable);
    EXPECT_EQ(readAppleDoubleFile(dir).status, AppleDoubleStatus::unreadable);
    fs::remove_all(dir);
}

class AppleDoubleFiles : public testing::Test {
protected:
    void SetUp() override
    {
        char dir[] = "/tmp/sentrel-ad-XXXXXX";
        ASSERT_NE(mkdtemp(dir), nullptr);
        root = dir;
    }
    void TearDown() override { fs::remove_all(root); }
    std::string write(const std::string& relative, const std::string& bytes)
    {
        const fs::path path = fs::path(root) / relative;
        fs::create_directories(path.parent_path());
        std::ofstream(path, std::ios::binary) << bytes;
        return path.string();
    }
    static std::string read(const std::string& path)
    {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    std::string root;
};

TEST_F(AppleDoubleFiles, CompanionsBesideAndUnderMacosx)
{
    const std::string file = write("unpacked/App/Contents/Info.plist", "x");
    EXPECT_FALSE(appleDoubleCompanions(file).beside);
    EXPECT_FALSE(appleDoubleCompanions(file).zipped);

    const std::string beside = write("unpacked/App/Contents/._Info.plist", "ad");
    const std::string zipped = write("unpacked/__MACOSX/App/Contents/._Info.plist", "ad");
    const AppleDoubleCompanions found = appleDoubleCompanions(file);
    EXPECT_EQ(found.beside, beside);
    EXPECT_EQ(found.zipped, zipped);
    // The nearest __MACOSX wins, even without the entry: an archive's tree
    // does not reach past its own root.
    write("unpacked/App/__MACOSX/._other", "ad");
    EXPECT_FALSE(appleDoubleCompanions(file).zipped);
    fs::remove_all(fs::path(root) / "unpacked/App/__MACOSX");
    // A file at the archive's root, and "._" files themselves, which have no
    // companions of their own.
    const std::string top = write("unpacked/readme.txt", "x");
    const std::string topZipped = write("unpacked/__MACOSX/._readme.txt", "ad");
    EXPECT_EQ(appleDoubleCompanions(top).zipped, topZipped);
    EXPECT_FALSE(appleDoubleCompanions(beside).beside);
    EXPECT_FALSE(appleDoubleCompanions(beside).zipped);
}

TEST_F(AppleDoubleFiles, RemovalKeepsEverythingElseByteForByte)
{
    AppleDoubleBuilder b = macFile();
    b.finderInfo = "APPLMACS" + std::string(24, '\0');
    b.resourceFork = std::string(300, 'R');
    const std::string path = write("._app.zip", b.build());
    ASSERT_EQ(chmod(path.c_str(), 0640), 0);
    const AppleDoubleParse before = readAppleDoubleFile(path);
    ASSERT_EQ(before.status, AppleDoubleStatus::ok);

    EXPECT_EQ(removeAppleDoubleAttribute(path, "com.apple.quarantine"), AppleDoubleRemoval::rewritten);
    std::vector<uint8_t> bytes;
    const AppleDoubleParse after = readAppleDoubleFile(path, &bytes);
    ASSERT_EQ(after.status, AppleDoubleStatus::ok);
    EXPECT_EQ(after.file.attribute("com.apple.quarantine"), nullptr);
    ASSERT_EQ(after.file.attributes.size(), 2u);
    for (const AppleDoubleAttribute& a : after.file.attributes) {
        ASSERT_NE(before.file.attribute(a.name), nullptr) << a.name;
        EXPECT_EQ(a.value, before.file.attribute(a.name)->value) << a.name;
    }
    EXPECT_EQ(after.file.finderInfo, before.file.finderInfo);
    ASSERT_EQ(after.file.entries.size(), 2u);
    const AppleDoubleEntry fork = after.file.entries[1];
    EXPECT_EQ(fork.id, 2u);
    EXPECT_EQ(std::string(bytes.begin() + fork.offset, bytes.begin() + fork.offset + fork.length), b.resourceFork);
    struct stat st {};
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    // No temporary file is left behind, and a second removal finds nothing.
    EXPECT_EQ(std::distance(fs::directory_iterator(root), fs::directory_iterator()), 1);
    const std::string rewritten = read(path);
    EXPECT_EQ(removeAppleDoubleAttribute(path, "com.apple.quarantine"), AppleDoubleRemoval::absent);
    EXPECT_EQ(read(path), rewritten);
}

TEST_F(AppleDoubleFiles, RemovalDeletesAFileLeftEmpty)
{
    AppleDoubleBuilder only;
    only.attributes = {{"com.apple.quarantine", kRecord}};
    only.padding = 3500;
    const std::string path = write("._only", only.build());
    EXPECT_EQ(removeAppleDoubleAttribute(path, "com.apple.quarantine"), AppleDoubleRemoval::deleted);
    EXPECT_FALSE(fs::exists(path));

    // Finder info that says something keeps the file.
    only.finderInfo[8] = 0x40;
    const std::string kept = write("._kept", only.build());
    EXPECT_EQ(removeAppleDoubleAttribute(kept, "com.apple.quarantine"), AppleDoubleRemoval::rewritten);
    EXPECT_TRUE(fs::exists(kept));

    // A file that lies is left alone.
    std::string lying = macFile().build();
    AppleDoubleBuilder::set16(lying, AppleDoubleBuilder::kAttrCount, 400);
    const std::string bad = write("._bad", lying);
    EXPECT_EQ(removeAppleDoubleAttribute(bad, "com.apple.quarantine"), AppleDoubleRemoval::absent);
    EXPECT_EQ(read(bad), lying);
}

}  // namespace
