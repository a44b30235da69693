// Mach-O and universal headers: one corrupted field per case, each giving the
// message that names where it went wrong.
#include <gtest/gtest.h>

#include <functional>

#include "Support.h"
#include "codesign/Status.h"
#include "fixtures/MachO.h"

using namespace fixtures;
using testsupport::readError;

namespace {

// Offsets in the images MachOBuilder writes (64-bit): the header, then
// __TEXT, __LINKEDIT, LC_UUID and, when signed, LC_CODE_SIGNATURE.
constexpr std::size_t kNcmds = 16;
constexpr std::size_t kSizeofcmds = 20;
constexpr std::size_t kCommand0 = 32;
constexpr std::size_t kUuidCommand = 32 + 72 + 72;
constexpr std::size_t kSignatureCommand = kUuidCommand + 24;

struct MachOCase {
    const char* name;
    std::function<void(Bytes&)> corrupt;
    const char* message;
};

void PrintTo(const MachOCase& c, std::ostream* os) { *os << c.name; }

class MachOCorruption : public ::testing::TestWithParam<MachOCase> {};

BuiltImage signedImage() {
    SigningOptions options;
    options.identifier = "com.example.macho";
    return MachOBuilder().build(options);
}

TEST_P(MachOCorruption, NamesTheField) {
    BuiltImage image = signedImage();
    ASSERT_EQ(image.codeSignatureCommandOffset, kSignatureCommand);
    GetParam().corrupt(image.bytes);
    const codesign::Error error = readError(image.bytes);
    EXPECT_EQ(error.status, codesign::errSecCSBadObjectFormat);
    EXPECT_EQ(error.message, GetParam().message);
}

void setLE(Bytes& b, std::size_t at, std::uint32_t v) { put32(b, at, v, false); }
std::uint32_t getLE32(const Bytes& b, std::size_t at) {
    return std::uint32_t(b.at(at)) | std::uint32_t(b.at(at + 1)) << 8 | std::uint32_t(b.at(at + 2)) << 16 |
           std::uint32_t(b.at(at + 3)) << 24;
}

INSTANTIATE_TEST_SUITE_P(
    Header, MachOCorruption,
    ::testing::Values(
        MachOCase{"WrongMagic", [](Bytes& b) { setLE(b, 0, 0x12345678); },
                  "not a Mach-O or universal file (magic 0x78563412)"},
        MachOCase{"ShortHeader", [](Bytes& b) { b.resize(20); },
                  "the file is too short for a Mach-O header (20 bytes)"},
        MachOCase{"Short64BitHeader", [](Bytes& b) { b.resize(30); },
                  "the file is too short for a 64-bit Mach-O header (30 bytes)"},
        MachOCase{"NcmdsTooMany", [](Bytes& b) { setLE(b, kNcmds, 1000); }, "ncmds 1000 does not fit in sizeofcmds 184"},
        MachOCase{"NcmdsOneMore", [](Bytes& b) { setLE(b, kNcmds, 5); },
                  "load command 4 extends past the end of the load commands"},
        MachOCase{"CmdsizeZero", [](Bytes& b) { setLE(b, kCommand0 + 4, 0); },
                  "load command 0 LC_SEGMENT_64 cmdsize 0 is too small"},
        MachOCase{"CmdsizeUnaligned", [](Bytes& b) { setLE(b, kUuidCommand + 4, 28); },
                  "load command 2 LC_UUID cmdsize 28 is not a multiple of 8"},
        MachOCase{"CmdsizePastCommands", [](Bytes& b) { setLE(b, kSignatureCommand + 4, 24); },
                  "load command 3 LC_CODE_SIGNATURE cmdsize 24 extends past the end of the load commands"},
        MachOCase{"UnknownCommand", [](Bytes& b) {
                      setLE(b, kCommand0, 0x99);
                      setLE(b, kCommand0 + 4, 4);
                  },
                  "load command 0 (0x00000099) cmdsize 4 is too small"},
        MachOCase{"CodeSignatureWrongSize", [](Bytes& b) { setLE(b, kUuidCommand, 0x1d); },
                  "load command 2 LC_CODE_SIGNATURE cmdsize 24 is not 16"},
        MachOCase{"DataoffPastEnd",
                  [](Bytes& b) { setLE(b, kSignatureCommand + 8, static_cast<std::uint32_t>(b.size() + 1)); },
                  "load command 3 LC_CODE_SIGNATURE dataoff extends past the end of the file"},
        MachOCase{"DatasizePastEnd", [](Bytes& b) { setLE(b, kSignatureCommand + 12, 0xfffffff0); },
                  "load command 3 LC_CODE_SIGNATURE dataoff + datasize extends past the end of the file"},
        MachOCase{"DataOverlapsHeader", [](Bytes& b) { setLE(b, kSignatureCommand + 8, 64); },
                  "load command 3 LC_CODE_SIGNATURE dataoff overlaps the Mach-O header and load commands"},
        MachOCase{"TruncatedSignature", [](Bytes& b) { b.resize(b.size() - 100); },
                  "load command 3 LC_CODE_SIGNATURE dataoff + datasize extends past the end of the file"}),
    [](const auto& info) { return std::string(info.param.name); });

// A signature may start right where the load commands end, not a byte before.
TEST(MachOHeader, ASignatureRightAfterTheLoadCommandsReads) {
    const BuiltImage image = signedImage();
    const std::size_t commandsEnd = kCommand0 + getLE32(image.bytes, kSizeofcmds);
    Bytes packed(image.bytes.begin(), image.bytes.begin() + static_cast<std::ptrdiff_t>(commandsEnd));
    const auto signature = image.bytes.begin() + static_cast<std::ptrdiff_t>(image.signatureOffset);
    packed.insert(packed.end(), signature, signature + static_cast<std::ptrdiff_t>(image.signatureSize));
    setLE(packed, kSignatureCommand + 8, static_cast<std::uint32_t>(commandsEnd));
    auto info = codesign::readStaticCodeFromBytes(packed);
    ASSERT_TRUE(info) << info.error().message;
    EXPECT_EQ(info->identifier, "com.example.macho");

    setLE(packed, kSignatureCommand + 8, static_cast<std::uint32_t>(commandsEnd - 1));
    EXPECT_EQ(readError(packed).message,
              "load command 3 LC_CODE_SIGNATURE dataoff overlaps the Mach-O header and load commands");
}

// The one case whose message carries numbers that depend on the build.
TEST(MachOHeader, SizeofcmdsPastEndGivesBothSizes) {
    BuiltImage image = signedImage();
    const auto size = static_cast<std::uint32_t>(image.bytes.size());
    setLE(image.bytes, kSizeofcmds, size);
    EXPECT_EQ(readError(image.bytes).message, "load commands extend past the end of the file (sizeofcmds " +
                                                  std::to_string(size) + ", file " + std::to_string(size) +
                                                  " bytes)");
}

TEST(MachOHeader, ThirtyTwoBitCommandsAlignToFour) {
    SigningOptions options;
    BuiltImage image = MachOBuilder().cpu(kCpuX86, kSubtypeI386All).is64(false).build(options);
    // 32-bit: header 28 bytes, __TEXT (56) first.
    put32(image.bytes, 28 + 4, 58, false);
    EXPECT_EQ(readError(image.bytes).message, "load command 0 LC_SEGMENT cmdsize 58 is not a multiple of 4");
}

TEST(MachOHeader, BigEndianImagesRead) {
    SigningOptions options;
    options.identifier = "com.example.ppc";
    const BuiltImage image = MachOBuilder().cpu(kCpuPowerPC, 0).is64(false).bigEndian(true).build(options);
    auto info = codesign::readStaticCodeFromBytes(image.bytes);
    ASSERT_TRUE(info) << info.error().message;
    EXPECT_EQ(info->architecture, "ppc");
    EXPECT_EQ(info->identifier, "com.example.ppc");
}

// Universal files.

struct FatCase {
    const char* name;
    std::function<void(Bytes&, const BuiltFat&)> corrupt;
    const char* message;
};

void PrintTo(const FatCase& c, std::ostream* os) { *os << c.name; }

class FatCorruption : public ::testing::TestWithParam<FatCase> {};

// Entry i of a 32-bit slice table: cputype, cpusubtype, offset, size, align.
std::size_t entry(std::size_t i, std::size_t field) { return 8 + 20 * i + field; }

TEST_P(FatCorruption, NamesTheSlice) {
    BuiltFat fat = FatBuilder()
                       .add(kCpuX86_64, kSubtypeX86_64All, MachOBuilder().build().bytes)
                       .add(kCpuArm64, kSubtypeArm64All, MachOBuilder().cpu(kCpuArm64, 0).build().bytes)
                       .build();
    GetParam().corrupt(fat.bytes, fat);
    const codesign::Error error = readError(fat.bytes);
    EXPECT_EQ(error.status, codesign::errSecCSBadObjectFormat);
    EXPECT_EQ(error.message, GetParam().message);
}

INSTANTIATE_TEST_SUITE_P(
    Table, FatCorruption,
    ::testing::Values(
        FatCase{"NoSlices", [](Bytes& b, const BuiltFat&) { putBE32(b, 4, 0); }, "universal file has no slices"},
        FatCase{"TableLongerThanFile", [](Bytes& b, const BuiltFat&) { putBE32(b, 4, 100000); },
                "nfat_arch 100000 slice entries extend past the end of the file"},
        FatCase{"SlicePastEnd",
                [](Bytes& b, const BuiltFat&) { putBE32(b, entry(1, 12), 0x7fffffff); },
                "slice 1 (arm64) offset + size extends past the end of the file"},
        FatCase{"SliceInsideHeader", [](Bytes& b, const BuiltFat&) { putBE32(b, entry(0, 8), 16); },
                "slice 0 (x86_64) overlaps the universal header"},
        FatCase{"Overlap",
                [](Bytes& b, const BuiltFat& f) {
                    putBE32(b, entry(1, 8), static_cast<std::uint32_t>(f.offsets[0]));
                },
                "slice 1 (arm64) overlaps slice 0 (x86_64)"},
        FatCase{"Misaligned",
                [](Bytes& b, const BuiltFat& f) {
                    putBE32(b, entry(0, 8), static_cast<std::uint32_t>(f.offsets[0] + 1));
                },
                "slice 0 (x86_64) offset 16385 is not aligned to 2^14"},
        FatCase{"AlignmentTooLarge", [](Bytes& b, const BuiltFat&) { putBE32(b, entry(0, 16), 16); },
                "slice 0 (x86_64) alignment 2^16 is too large"},
        FatCase{"SameArchitectureTwice",
                [](Bytes& b, const BuiltFat&) {
                    putBE32(b, entry(1, 0), kCpuX86_64);
                    putBE32(b, entry(1, 4), kSubtypeX86_64All);
                },
                "slice 1 (x86_64) has the same architecture as slice 0"},
        FatCase{"EmptySlice", [](Bytes& b, const BuiltFat&) { putBE32(b, entry(1, 12), 0); },
                "slice 1 (arm64) is empty"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(FatHeader, SixtyFourBitOffsetsDoNotWrap) {
    BuiltFat fat = FatBuilder().wide(true).add(kCpuX86_64, kSubtypeX86_64All, MachOBuilder().build().bytes).build();
    // fat_arch_64: cputype, cpusubtype, offset (8), size (8), align, reserved.
    for (int i = 0; i < 8; ++i) fat.bytes[8 + 8 + i] = 0xff;
    EXPECT_EQ(readError(fat.bytes).message, "slice 0 (x86_64) offset + size extends past the end of the file");
}

TEST(FatHeader, AJavaClassFileIsNotUniversal) {
    Bytes classFile;
    appendBE32(classFile, 0xcafebabe);
    appendBE32(classFile, 0x00000034);  // minor 0, major 52
    classFile.resize(200, 0x11);
    EXPECT_EQ(readError(classFile).message, "nfat_arch 52 slice entries extend past the end of the file");
}

TEST(FatHeader, ASliceThatIsNotMachONamesTheSlice) {
    const BuiltFat fat = FatBuilder().add(kCpuX86_64, kSubtypeX86_64All, Bytes(4096, 0x5a)).build();
    const codesign::Error error = readError(fat.bytes);
    EXPECT_EQ(error.status, codesign::errSecCSBadObjectFormat);
    EXPECT_EQ(error.message, "slice 0 (x86_64): not a Mach-O file (magic 0x5a5a5a5a)");
}

}  // namespace
