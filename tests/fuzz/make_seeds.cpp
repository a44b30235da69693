// Writes the seed corpora of the fuzz targets that the fixture set does not
// seed, one folder each under the folder given:
//   fuzz_apple_double       AppleDouble files laid out as a Mac writes them
//                           (with and without attributes, Finder info,
//                           resource fork)
//   fuzz_quarantine_record  quarantine records of the shapes browsers, mail
//                           and archivers leave, in each place the target
//                           puts them (its first byte)
//   fuzz_property_list      binary kMDItemWhereFroms property lists
//   fuzz_cms                CMS signatures as signing tools write them (BER
//                           and DER, RSA and EC, chains of one to four, no
//                           certificates, a signer named but not stored) and
//                           DER certificates, ours and Apple's
//   fuzz_requirements       signature SuperBlobs with requirement sets
//   fuzz_verify             CMS signatures over the target's code directory
//                           (some with a timestamp), and resource seals of a
//                           bundle like the target's
#include "AppleDoubleBuilder.h"
#include "fixtures/Blobs.h"
#include "fixtures/Bundle.h"
#include "fixtures/Certificates.h"

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

void write(const fs::path& path, const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; }
void write(const fs::path& path, const fixtures::Bytes& bytes)
{
    write(path, std::string(bytes.begin(), bytes.end()));
}

void recordSeeds(const fs::path& appleDouble, const fs::path& records)
{
    const std::vector<std::string> texts = {
        "0083;656e1f2a;Safari;7B2A0C3E-1111-2222-3333-444455556666",
        "0081;656e1f2a;Archive Utility;",
        "0002;00000000;Mail;",
        "01c1;65a0b3c4;Google Chrome;F1E2D3C4-0000-1111-2222-333344445555",
        "0083;;;",
        "",
    };
    std::vector<AppleDoubleBuilder> files(5);
    files[0].attributes = {{"com.apple.quarantine", texts[0]}};
    files[0].padding = 3500;
    files[1].attributes = {{"com.apple.metadata:kMDItemWhereFroms", whereFromsPlist("https://dl.example/a.zip", "https://dl.example/")},
                           {"com.apple.quarantine", texts[3]},
                           {"com.apple.lastuseddate#PS", std::string("\x10\x20\x00\x00\x00\x00\x00\x00", 8)}};
    files[2].finderInfo = "TEXTttxt" + std::string(24, '\0');
    files[3].attributes = {{"com.apple.quarantine", texts[1]}};
    files[3].resourceFork = std::string(300, 'R');
    files[4].attributes = {{"a", ""}, {"com.apple.quarantine", ""}};
    for (size_t i = 0; i < files.size(); ++i) {
        const std::string bytes = files[i].build();
        write(appleDouble / ("mac-" + std::to_string(i)), bytes);
        // An odd first byte: an AppleDouble file, beside the file or (3)
        // under __MACOSX.
        write(records / ("appledouble-" + std::to_string(i)), std::string(1, i % 2 ? '\x03' : '\x01') + bytes);
    }
    for (size_t i = 0; i < texts.size(); ++i) {
        // An even first byte: the file's own attribute, or (2) the Samba
        // stream; with 4, the where-from attributes too.
        write(records / ("record-" + std::to_string(i)), std::string(1, '\0') + texts[i]);
        write(records / ("record-nul-" + std::to_string(i)), std::string(1, '\x02') + texts[i] + std::string(1, '\0'));
    }
    write(records / "where-from-url", std::string("\x04https://dl.example/a.zip"));
    write(records / "where-from-plist", "\x04" + whereFromsPlist("https://a.example/x", "https://a.example/"));
}

void cmsSeeds(const fs::path& out)
{
    using namespace fixtures;
    const Bytes content(64, 0x5A);  // stands for a code directory
    int n = 0;
    auto sign = [&](const CmsOptions& options) { write(out / ("cms-" + std::to_string(n++)), cmsSign(options, content)); };
    for (KeyType type : {KeyType::Rsa2048, KeyType::EcP256})
        for (int length : {1, 3}) {
            std::vector<TestCertificate> chain = ownChain(length, type, "Sentrel Fuzz Signer", "FUZZTEAM01");
            sign(CmsOptions(chain[0], chain));
            CmsOptions der(chain[0], {chain.rbegin(), chain.rend()});  // stored root first
            der.ber = false;
            sign(der);
        }
    std::vector<TestCertificate> developerId = developerIdChain("Fuzz Corp", "FUZZTEAM02");
    sign(CmsOptions(developerId[0], developerId));
    sign(CmsOptions(developerId[0], {}));                                   // no certificates
    std::vector<TestCertificate> four = ownChain(4, KeyType::Rsa2048, "Four Deep", "", 1);
    sign(CmsOptions(four[0], {four[1], four[2], four[3]}, four[1]));         // the signer named, not stored
    for (const TestCertificate& certificate : developerId)
        write(out / ("certificate-" + std::to_string(n++)), certificate.der());
    write(out / ("certificate-" + std::to_string(n++)), appleCertificate("AppleRootCA-G3.cer").der());
}

void requirementSeeds(const fs::path& out)
{
    using namespace fixtures;
    const Bytes codeDirectory = CodeDirectoryBuilder().identifier("com.example.fuzz").team("FUZZTEAM01").build();
    write(out / "designated", SuperBlobBuilder()
                                  .add(kSlotCodeDirectory, codeDirectory)
                                  .add(kSlotRequirements, requirementsBlob("com.example.fuzz", "FUZZTEAM01"))
                                  .build());
    write(out / "identifier-only", SuperBlobBuilder().add(kSlotRequirements, requirementsBlob("com.example.fuzz")).build());
    write(out / "ad-hoc", SuperBlobBuilder()
                              .add(kSlotCodeDirectory, codeDirectory)
                              .add(kSlotRequirements, emptyRequirementsBlob())
                              .add(kSlotEntitlements, entitlementsBlob(entitlementsXml({{"com.apple.security.app-sandbox", true}})))
                              .build());
}

// The first byte picks what fuzz_verify checks: 0 a CMS signature over its
// fixed code directory, 1 a resource seal.
void verifySeeds(const fs::path& out)
{
    using namespace fixtures;
    const Bytes directory{0xfa, 0xde, 0x0c, 0x02, 0, 0, 0, 12, 0, 2, 4, 0};
    int n = 0;
    auto keep = [&](std::uint8_t mode, const Bytes& bytes) {
        Bytes seed{mode};
        seed.insert(seed.end(), bytes.begin(), bytes.end());
        write(out / ("verify-" + std::to_string(n++)), seed);
    };
    std::vector<TestCertificate> chain = ownChain(3, KeyType::Rsa2048, "Sentrel Fuzz Signer", "FUZZTEAM01");
    keep(0, cmsSign(CmsOptions(chain[0], chain), directory));
    CmsOptions stamped(chain[0], chain);
    stamped.timestampAuthority = timestampAuthority(chain[1]);
    keep(0, cmsSign(stamped, directory));
    std::vector<TestCertificate> developerId = developerIdChain("Fuzz Corp", "FUZZTEAM02");
    keep(0, cmsSign(CmsOptions(developerId[0], developerId), directory));

    const fs::path scratch = out / "bundle";
    const fs::path bundle = makeBundle(scratch, "Tool", toBytes("not code"), PlistFormat::Xml);
    writeFile(bundle / "Contents/Resources/app.icns", toBytes("icon"));
    fs::create_directories(bundle / "Contents/Resources/en.lproj");
    writeFile(bundle / "Contents/Resources/en.lproj/Localizable.strings", toBytes("\"a\" = \"b\";"));
    keep(1, sealResources(bundle, "Tool"));
    fs::remove_all(scratch);
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2)
        return 2;
    const fs::path root = argv[1];
    const fs::path appleDouble = root / "fuzz_apple_double", records = root / "fuzz_quarantine_record",
                   plists = root / "fuzz_property_list", cms = root / "fuzz_cms", requirements = root / "fuzz_requirements",
                   verify = root / "fuzz_verify";
    for (const fs::path& folder : {appleDouble, records, plists, cms, requirements, verify})
        fs::create_directories(folder);
    recordSeeds(appleDouble, records);
    write(plists / "wherefroms-short", whereFromsPlist("https://a.example/x", "https://a.example/"));
    write(plists / "wherefroms-long",
          whereFromsPlist("https://downloads.example.org/releases/app-1.2.3.dmg", "https://www.example.org/download"));
    cmsSeeds(cms);
    requirementSeeds(requirements);
    verifySeeds(verify);
    return 0;
}
