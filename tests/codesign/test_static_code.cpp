// Reading code from disk: bundles, universal files, what it costs, and the
// fixture set that the other tests and the demo use.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>

#include "Support.h"
#include "codesign/Architecture.h"
#include "codesign/Status.h"
#include "fixtures/Bundle.h"
#include "fixtures/FixtureSet.h"
#include "fixtures/MachO.h"

using namespace fixtures;
using codesign::SignatureKind;
using testsupport::TempDir;
namespace fs = std::filesystem;

namespace {

SigningOptions adHoc(const std::string& identifier) {
    SigningOptions options;
    options.identifier = identifier;
    return options;
}

TEST(Bundles, ApplicationWithXmlOrBinaryInfoPlist) {
    TempDir dir;
    for (PlistFormat format : {PlistFormat::Xml, PlistFormat::Binary}) {
        const std::string name = format == PlistFormat::Xml ? "Xml" : "Binary";
        const fs::path app =
            makeBundle(dir.path(), name, MachOBuilder().build(adHoc("com.example." + name)).bytes, format);
        auto info = codesign::readStaticCode(app.string());
        ASSERT_TRUE(info) << info.error().message;
        EXPECT_EQ(info->mainExecutable, (app / "Contents/MacOS" / name).string());
        EXPECT_EQ(info->identifier, "com.example." + name);
        EXPECT_EQ(info->kind, SignatureKind::AdHoc);
    }
}

TEST(Bundles, ShallowAndFrameworkLayouts) {
    TempDir dir;
    const Bytes shallowCode = MachOBuilder().build(adHoc("com.example.shallow")).bytes;
    writeFile(dir / "Shallow.bundle/Info.plist", infoPlist(applicationInfo("Shallow", ""), PlistFormat::Binary));
    writeFile(dir / "Shallow.bundle/Shallow", shallowCode);
    auto shallow = codesign::readStaticCode((dir / "Shallow.bundle").string());
    ASSERT_TRUE(shallow) << shallow.error().message;
    EXPECT_EQ(shallow->identifier, "com.example.shallow");

    // Kit.framework/Versions/A/{Kit, Resources/Info.plist}, Current -> A.
    const fs::path framework = dir / "Kit.framework";
    writeFile(framework / "Versions/A/Resources/Info.plist", infoPlist({{"CFBundleExecutable", "Kit"}}, PlistFormat::Xml));
    writeFile(framework / "Versions/A/Kit", MachOBuilder().build(adHoc("com.example.kit")).bytes);
    fs::create_directory_symlink("A", framework / "Versions/Current");
    auto kit = codesign::readStaticCode(framework.string());
    ASSERT_TRUE(kit) << kit.error().message;
    EXPECT_EQ(kit->identifier, "com.example.kit");
    EXPECT_EQ(kit->mainExecutable, (framework / "Versions/Current/Kit").string());
}

TEST(Bundles, WhatIsNotABundleSaysWhy) {
    TempDir dir;
    const Bytes code = MachOBuilder().build().bytes;
    struct Case {
        const char* name;
        Bytes plist;
        bool writeExecutable;
        codesign::Status status;
        std::string messageEnd;
    };
    const Case cases[] = {
        {"Escape", infoPlist({{"CFBundleExecutable", "../../Escape"}}, PlistFormat::Xml), true,
         codesign::errSecCSNoMainExecutable, "CFBundleExecutable \"../../Escape\" is not a plain file name"},
        {"NoKey", infoPlist({{"CFBundleName", "NoKey"}}, PlistFormat::Xml), true, codesign::errSecCSNoMainExecutable,
         "has no CFBundleExecutable"},
        {"Missing", infoPlist({{"CFBundleExecutable", "Missing"}}, PlistFormat::Binary), false,
         codesign::errSecCSNoMainExecutable, "main executable Contents/MacOS/Missing is missing or not a regular file"},
        {"Garbage", toBytes("<plist><dict><key>"), true, codesign::errSecCSInfoPlistFailed, "is not a property list"},
        {"Array", toBytes("<plist version=\"1.0\"><array><string>x</string></array></plist>"), true,
         codesign::errSecCSInfoPlistFailed, "is not a dictionary"},
    };
    for (const Case& c : cases) {
        const fs::path app = dir / (std::string(c.name) + ".app");
        writeFile(app / "Contents/Info.plist", c.plist);
        if (c.writeExecutable) writeFile(app / "Contents/MacOS" / c.name, code);
        const codesign::Error error = testsupport::errorOf(codesign::readStaticCode(app.string()));
        EXPECT_EQ(error.status, c.status) << c.name;
        EXPECT_TRUE(error.message.ends_with(c.messageEnd)) << error.message;
    }

    fs::create_directories(dir / "Plain");
    EXPECT_EQ(testsupport::errorOf(codesign::readStaticCode((dir / "Plain").string())).status,
              codesign::errSecCSBadBundleFormat);
    EXPECT_EQ(testsupport::errorOf(codesign::readStaticCode((dir / "nothing-here").string())).status,
              codesign::errSecCSStaticCodeNotFound);
    writeFile(dir / "notes.txt", toBytes("hello, world\n"));
    const codesign::Error text = testsupport::errorOf(codesign::readStaticCode((dir / "notes.txt").string()));
    EXPECT_EQ(text.status, codesign::errSecCSBadObjectFormat);
    EXPECT_EQ(text.message, (dir / "notes.txt").string() + ": not a Mach-O or universal file (magic 0x68656c6c)");
}

TEST(Paths, ANamedPipeIsRefusedWithoutWaitingForAWriter) {
    TempDir dir;
    const fs::path fifo = dir / "pipe";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const codesign::Error error = testsupport::errorOf(codesign::readStaticCode(fifo.string()));
    EXPECT_EQ(error.status, codesign::errSecCSBadObjectFormat);
    EXPECT_EQ(error.message, fifo.string() + " is not a regular file");
}

// Universal files: every slice is described, the machine's own is read.
TEST(UniversalFiles, SliceKindsAndTheChoiceOfSlice) {
    const auto chain = ownChain(2, KeyType::EcP256, "Fat Leaf");
    SigningOptions signedOptions = adHoc("com.example.fat.x86_64");
    signedOptions.cms = CmsOptions{chain[0], {chain[1], chain[0]}};
    const BuiltFat fat =
        FatBuilder()
            .add(kCpuX86, kSubtypeI386All, MachOBuilder().cpu(kCpuX86, kSubtypeI386All).is64(false).build().bytes)
            .add(kCpuX86_64, kSubtypeX86_64All, MachOBuilder().build(signedOptions).bytes)
            .add(kCpuArm64, kSubtypeArm64E, MachOBuilder().cpu(kCpuArm64, kSubtypeArm64E).build(adHoc("com.example.fat.arm64e")).bytes)
            .build();
    auto info = codesign::readStaticCodeFromBytes(fat.bytes);
    ASSERT_TRUE(info) << info.error().message;
    ASSERT_EQ(info->slices.size(), 3u);
    const std::vector<std::string> architectures = {"i386", "x86_64", "arm64e"};
    const std::vector<SignatureKind> kinds = {SignatureKind::None, SignatureKind::Certificates, SignatureKind::AdHoc};
    const std::vector<std::string> identifiers = {"", "com.example.fat.x86_64", "com.example.fat.arm64e"};
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(info->slices[i].architecture, architectures[i]);
        EXPECT_EQ(info->slices[i].kind, kinds[i]);
        EXPECT_EQ(info->slices[i].identifier, identifiers[i]);
        EXPECT_EQ(info->slices[i].offset, fat.offsets[i]);
    }
    std::size_t expected = 0;  // no slice for this machine: the first
    for (std::size_t i = 0; i < 3; ++i) {
        if (info->slices[i].cpuType == codesign::hostCpuType()) {
            expected = i;
            break;
        }
    }
    EXPECT_EQ(info->chosenSlice, expected);
    EXPECT_EQ(info->architecture, architectures[expected]);
    EXPECT_EQ(info->identifier, identifiers[expected]);
    EXPECT_EQ(info->kind, kinds[expected]);
}

TEST(UniversalFiles, WithoutThisMachinesArchitectureTheFirstSliceIsRead) {
    const BuiltFat fat =
        FatBuilder()
            .wide(true)
            .add(kCpuPowerPC, 0, MachOBuilder().cpu(kCpuPowerPC, 0).is64(false).bigEndian(true).build(adHoc("com.example.ppc")).bytes)
            .add(kCpuX86, kSubtypeI386All, MachOBuilder().cpu(kCpuX86, kSubtypeI386All).is64(false).build().bytes)
            .build();
    auto info = codesign::readStaticCodeFromBytes(fat.bytes);
    ASSERT_TRUE(info) << info.error().message;
    if (codesign::hostCpuType() == kCpuX86) GTEST_SKIP() << "an i386 build reads its own slice";
    EXPECT_EQ(info->chosenSlice, 0u);
    EXPECT_EQ(info->identifier, "com.example.ppc");
}

TEST(UniversalFiles, OnlyTheSliceReadCanFailTheRead) {
    SigningOptions damaged = adHoc("com.example.damaged");
    damaged.tamper = [](Bytes& sb) { putBE32(sb, 0, 0xfade0bad); };
    const Bytes good = MachOBuilder().build(adHoc("com.example.good")).bytes;
    const Bytes bad = MachOBuilder().build(damaged).bytes;
    const std::uint32_t host = codesign::hostCpuType() == kCpuArm64 ? kCpuArm64 : kCpuX86_64;
    const std::uint32_t other = host == kCpuArm64 ? kCpuX86_64 : kCpuArm64;

    const BuiltFat otherDamaged = FatBuilder().add(host, 0, good).add(other, 0, bad).build();
    auto info = codesign::readStaticCodeFromBytes(otherDamaged.bytes);
    ASSERT_TRUE(info) << info.error().message;
    EXPECT_EQ(info->identifier, "com.example.good");
    EXPECT_EQ(info->slices[1].kind, SignatureKind::None);
    EXPECT_EQ(info->slices[1].status, codesign::errSecCSSignatureFailed);
    EXPECT_EQ(info->slices[1].problem,
              "slice 1 (" + codesign::architectureName(other, 0) +
                  "): embedded signature magic 0xfade0bad is not 0xfade0cc0");

    if (codesign::hostCpuType() != host) GTEST_SKIP() << "this machine has no Mach-O architecture";
    const BuiltFat hostDamaged = FatBuilder().add(other, 0, good).add(host, 0, bad).build();
    const codesign::Error error = testsupport::readError(hostDamaged.bytes);
    EXPECT_EQ(error.message, "slice 1 (" + codesign::architectureName(host, 0) +
                                 "): embedded signature magic 0xfade0bad is not 0xfade0cc0");
}

// What reading costs follows the signature, not the file: a 512 MiB file
// (sparse on disk) is read through its headers and signature alone.
std::uint64_t bytesReadSoFar() {
    std::ifstream io("/proc/self/io");
    std::string key;
    std::uint64_t value = 0;
    while (io >> key >> value) {
        if (key == "rchar:") return value;
    }
    return 0;
}

TEST(ReadingCost, AHalfGigabyteFileIsReadThroughItsSignatureOnly) {
    TempDir dir;
    const BuiltImage image = MachOBuilder().build(adHoc("com.example.large"));
    constexpr std::uint64_t kSize = 512ull << 20;
    const std::uint64_t dataoff = kSize - image.signatureSize;

    Bytes head(image.bytes.begin(), image.bytes.begin() + 4096);
    put32(head, image.codeSignatureCommandOffset + 8, static_cast<std::uint32_t>(dataoff), false);
    const fs::path path = dir / "large";
    writeFile(path, head);
    fs::resize_file(path, kSize);
    {
        std::fstream out(path, std::ios::in | std::ios::out | std::ios::binary);
        out.seekp(static_cast<std::streamoff>(dataoff));
        out.write(reinterpret_cast<const char*>(image.bytes.data() + image.signatureOffset),
                  static_cast<std::streamsize>(image.signatureSize));
    }

    const std::uint64_t before = bytesReadSoFar();
    auto info = codesign::readStaticCode(path.string());
    const std::uint64_t read = bytesReadSoFar() - before;
    ASSERT_TRUE(info) << info.error().message;
    EXPECT_EQ(info->identifier, "com.example.large");
    if (before == 0) GTEST_SKIP() << "/proc/self/io is not available";
    EXPECT_LT(read, 64u * 1024) << "bytes read from a 512 MiB file";
}

TEST(ReadingCost, AHugeClaimedSignatureIsRefusedBeforeAnythingIsAllocated) {
    BuiltImage image = MachOBuilder().build(adHoc("com.example.huge"));
    put32(image.bytes, image.codeSignatureCommandOffset + 12, 0xfffffff0, false);
    const codesign::Error error = testsupport::readError(image.bytes);
    EXPECT_EQ(error.message, "load command 3 LC_CODE_SIGNATURE dataoff + datasize extends past the end of the file");
}

// The set that sentrel-make-fixtures writes reads as its manifest says.
TEST(FixtureSet, EveryFixtureReadsAsItsRecordSays) {
    TempDir dir;
    const std::vector<FixtureRecord> records = writeFixtureSet(dir.path());
    ASSERT_GT(records.size(), 40u);
    EXPECT_TRUE(fs::exists(dir / "MANIFEST.tsv"));
    for (const FixtureRecord& r : records) {
        SCOPED_TRACE(r.name);
        auto info = codesign::readStaticCode((dir / r.name).string());
        if (r.expect == "error") {
            ASSERT_FALSE(info) << "read with identifier " << info->identifier;
            EXPECT_EQ(info.error().status, r.status) << info.error().message;
            continue;
        }
        ASSERT_TRUE(info) << info.error().message;
        EXPECT_EQ(codesign::signatureKindName(info->kind), r.expect);
        EXPECT_EQ(info->identifier, r.identifier);
        EXPECT_EQ(info->teamIdentifier, r.team);
        EXPECT_EQ(info->architecture, r.architecture);
        EXPECT_EQ(testsupport::commonNames(*info), r.certificateNames);
        std::vector<std::string> sha1;
        for (const auto& der : info->certificates) sha1.push_back(testsupport::sha1Hex(der));
        EXPECT_EQ(sha1, r.certificateSha1);
        if (r.entitlementsXml.empty()) {
            EXPECT_FALSE(info->entitlementsBlob);
        } else {
            ASSERT_TRUE(info->entitlementsBlob);
            EXPECT_EQ(std::string(info->entitlementsBlob->begin() + 8, info->entitlementsBlob->end()), r.entitlementsXml);
            EXPECT_EQ(getBE32(*info->entitlementsBlob, 4), info->entitlementsBlob->size());
        }
    }
}

TEST(FixtureSet, FingerprintsAreTheSameOnEveryRun) {
    TempDir first, second;
    const auto a = writeFixtureSet(first.path());
    const auto b = writeFixtureSet(second.path());
    ASSERT_EQ(a.size(), b.size());
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (a[i].name == "own-chain-2" || a[i].name == "own-chain-4") continue;  // ECDSA signatures vary
        EXPECT_EQ(a[i].certificateSha1, b[i].certificateSha1) << a[i].name;
        if (fs::is_regular_file(first / a[i].name)) {
            EXPECT_EQ(readFile(first / a[i].name), readFile(second / a[i].name)) << a[i].name;
        }
    }
}

}  // namespace
