// The entitlements models and the controller over signed files made on the spot.
#include "UApplicationEntitlementsController.h"
#include "UCodeEntitlements.h"
#include "fixtures/Bundle.h"
#include "fixtures/Demo.h"
#include "fixtures/MachO.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>

#include <sys/wait.h>

namespace {

namespace fs = std::filesystem;
using namespace fixtures;

std::string text(const NSObject* o) { return o ? o->description()->utf8() : "(nil)"; }

struct TempDir {
    fs::path path;
    TempDir()
    {
        char pattern[] = "/tmp/sentrel-signing-XXXXXX";
        path = mkdtemp(pattern);
    }
    ~TempDir() { fs::remove_all(path); }
};

void writeFile(const fs::path& path, const Bytes& bytes)
{
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

NSURL* urlOf(const fs::path& path) { return NSURL::fileURLWithFileSystemRepresentation(path.c_str(), fs::is_directory(path)); }

// A Developer ID signed application bundle with the given entitlements.
fs::path developerIdApp(const fs::path& dir, const std::string& name, const Entitlements& entitlements)
{
    auto chain = developerIdChain("Example Corp", "ABCDE12345");
    SigningOptions spec;
    spec.identifier = "com.example." + name;
    spec.team = "ABCDE12345";
    spec.entitlements = entitlements;
    spec.derEntitlements = true;
    spec.cms = CmsOptions(chain[0], {chain[1], chain[2], chain[0]});
    BuiltImage image = MachOBuilder().build(spec);
    return makeBundle(dir, name, image.bytes, PlistFormat::Binary, spec.identifier);
}

std::vector<std::string> g_log;
void captureLog(const char* message, unsigned length, BOOL) { g_log.emplace_back(message, length); }

struct LogCapture {
    LogCapture()
    {
        g_log.clear();
        _NSSetLogCStringFunction(captureLog);
    }
    ~LogCapture() { _NSSetLogCStringFunction(nullptr); }
};

TEST(EntitlementsBlob, DecodesOnlyWellFormedDictionaries)
{
    UApplicationEntitlements model;
    auto decode = [&](const Bytes& blob) {
        CFDataRef data = CFDataCreate(nullptr, blob.data(), static_cast<CFIndex>(blob.size()));
        CFDictionaryRef dict = model.copyEntitlementsDictionaryFromBlobData(data);
        CFRelease(data);
        bool ok = dict != nullptr;
        if (dict)
            CFRelease(dict);
        return ok;
    };
    Bytes good = entitlementsBlob(entitlementsXml({{"com.apple.security.app-sandbox", true}}));
    EXPECT_TRUE(decode(good));
    EXPECT_FALSE(decode(Bytes(good.begin(), good.begin() + 8)));   // header only
    Bytes wrongMagic = good;
    wrongMagic[3] = 0x72;
    EXPECT_FALSE(decode(wrongMagic));
    for (int delta : {-1, 1}) {
        Bytes lying = good;
        lying[7] = static_cast<uint8_t>(lying[7] + delta);
        EXPECT_FALSE(decode(lying)) << delta;
    }
    EXPECT_FALSE(decode(entitlementsBlob(arrayPlistXml({"a"}))));
    EXPECT_FALSE(decode(entitlementsBlob("<?xml version=\"1.0\"?><plist><dict><key>x</key>")));
}

TEST(ApplicationEntitlements, PlainFileHasNoCodeAndFullAccess)
{
    TempDir dir;
    writeFile(dir.path / "notes.txt", Bytes{'h', 'i', '\n'});
    LogCapture log;
    UApplicationEntitlements model;
    EXPECT_FALSE(model.ConstructURL(urlOf(dir.path / "notes.txt")));
    EXPECT_EQ(model.mSignedBundleID, nullptr);
    EXPECT_FALSE(model.IsBinaryCodeSignedWithEntitlements());
    EXPECT_FALSE(model.HasActiveSecuritySandbox());
    EXPECT_TRUE(model.HasAccessToAllEntitlements() && model.HasAccessToNetworkServer() && model.HasAccessToPrinting());
    EXPECT_EQ(g_log, (std::vector<std::string>{"UApplicationEntitlements::SetCodeSignedEntitlementsCopy mNoSandbox:1\n",
                                               "UApplicationEntitlements::SetCodeSignedEntitlementsCopy mNoEntitlements:1\n"}));
}

TEST(ApplicationEntitlements, SandboxNeedsTheBooleanTrue)
{
    TempDir dir;
    const std::pair<EntitlementValue, bool> cases[] = {
        {true, true}, {false, false}, {std::int64_t{1}, false}, {std::string("yes"), false}};
    int n = 0;
    for (const auto& [value, sandboxed] : cases) {
        fs::path app = developerIdApp(dir.path, "App" + std::to_string(n++),
                                      {{"com.apple.security.app-sandbox", value}, {"com.apple.security.network.client", true}});
        UApplicationEntitlements model;
        ASSERT_TRUE(model.ConstructURL(urlOf(app)));
        EXPECT_EQ(model.HasActiveSecuritySandbox(), sandboxed);
        EXPECT_TRUE(model.HasAccessToNetworkClient());
        EXPECT_EQ(model.HasAccessToNetworkServer(), !sandboxed);
        EXPECT_EQ(model.HasAccessToCameraDevice(), !sandboxed);
        EXPECT_TRUE(model.IsBinaryCodeSignedWithEntitlements());
    }
}

TEST(ApplicationEntitlements, AdHocCodeWithoutEntitlements)
{
    TempDir dir;
    writeFile(dir.path / "tool", MachOBuilder().cpu(kCpuArm64, kSubtypeArm64All).build(linkerSigned("tool-55554944")).bytes);
    UApplicationEntitlements model;
    ASSERT_TRUE(model.ConstructURL(urlOf(dir.path / "tool")));
    EXPECT_EQ(text(model.mSignedBundleID), "tool-55554944");
    EXPECT_TRUE(model.mSignedBinary);
    EXPECT_FALSE(model.IsBinaryCodeSignedWithEntitlements());
    EXPECT_TRUE(model.HasAccessToAllEntitlements());
}

// Counts notices per key.
class NoticeCounter : public NSObject {
    OBJC_CLASS(NoticeCounter, NSObject)
public:
    std::map<std::string, int> will, did;
    void observeValueForKeyPath(NSString* keyPath, id, NSDictionary* change, void*) override
    {
        (change->objectForKey(NSKeyValueChangeNotificationIsPriorKey) ? will : did)[keyPath->utf8()]++;
    }
};
OBJC_IMPLEMENTATION(NoticeCounter, NSObject) {}

TEST(EntitlementsController, AnnouncesTwentyKeysOncePerURL)
{
    TempDir dir;
    fs::path app = developerIdApp(dir.path, "Notes", {{"com.apple.security.app-sandbox", true}});
    Retained<UApplicationEntitlementsController> controller =
        Retained<UApplicationEntitlementsController>::adopt(UApplicationEntitlementsController::alloc()->init());
    Retained<NoticeCounter> counter = Retained<NoticeCounter>::adopt(NoticeCounter::alloc());
    // The window binds these; each must be a property the controller answers.
    const std::vector<std::string> announced = {
        "hasSandboxEntitlementEnabled", "hasDeviceCameraEntitlement", "hasNetworkClientEntitlement",
        "hasNetworkServerEntitlement", "codesignedBundleID", "hasActiveSecuritySandbox", "hasCodeSignature",
        "hasCodeSignatureWithEntitlements", "codesignedEntitlements", "codesignedEntitlementsString",
        "hasAccessToDeviceCamera", "hasAccessToNetworkClient", "hasAccessToNetworkServer", "publisherCN",
        "publisherCNFingerprint", "publisherCA", "publisherCAFingerprint", "rootCA", "rootCAFingerprint",
        "publisherIsVerifiedByApple"};
    const std::vector<std::string> notAnnounced = {"codesignedInfoDictionary", "codesignedRequirements"};
    ASSERT_EQ(announced.size(), 20u);
    EXPECT_EQ(UApplicationEntitlementsController::dependentKeys()->count(), 20u);
    for (const auto& key : announced) {
        EXPECT_NE(controller->isa()->findProperty(key), nullptr) << key;
        EXPECT_TRUE(UApplicationEntitlementsController::dependentKeys()->containsObject(NSString::stringWithUTF8(key)))
            << key;
    }
    for (const auto* keys : {&announced, &notAnnounced})
        for (const auto& key : *keys)
            controller->addObserver(counter, key, NSKeyValueObservingOptionPrior, nullptr);
    {
        LogCapture quiet;
        controller->setCodeBundleURL(urlOf(app));
    }
    for (const auto* keys : {&announced, &notAnnounced})
        for (const auto& key : *keys) {
            const int expected = keys == &announced ? 1 : 0;
            EXPECT_EQ(counter->will[key], expected) << key;
            EXPECT_EQ(counter->did[key], expected) << key;
            controller->removeObserver(counter, key);
        }
    EXPECT_TRUE(controller->codeBundleURL()->isEqual(urlOf(app)));
}

// Raises from inside the did-change notice, in the pools the notice makes.
class RaisingObserver : public NSObject {
    OBJC_CLASS(RaisingObserver, NSObject)
public:
    void observeValueForKeyPath(NSString* keyPath, id, NSDictionary* change, void*) override
    {
        if (!change->objectForKey(NSKeyValueChangeNotificationIsPriorKey))
            NSException::raise(NSInternalInconsistencyException, "observer of %@ failed", keyPath);
    }
};
OBJC_IMPLEMENTATION(RaisingObserver, NSObject) {}

TEST(EntitlementsController, ExceptionFromANoticeIsCaughtAndLoggedWhole)
{
    TempDir dir;
    writeFile(dir.path / "plain", MachOBuilder().build().bytes);
    Retained<UApplicationEntitlementsController> c =
        Retained<UApplicationEntitlementsController>::adopt(UApplicationEntitlementsController::alloc()->init());
    Retained<RaisingObserver> observer = Retained<RaisingObserver>::adopt(RaisingObserver::alloc());
    c->addObserver(observer, "rootCA", NSKeyValueObservingOptionNew, nullptr);
    LogCapture log;
    c->setCodeBundleURL(urlOf(dir.path / "plain"));
    EXPECT_NE(std::find(g_log.begin(), g_log.end(), "NSException:observer of rootCA failed\n"), g_log.end());
    EXPECT_TRUE(c->codeBundleURL()->isEqual(urlOf(dir.path / "plain")));
    c->removeObserver(observer, "rootCA");
}

TEST(EntitlementsController, DeveloperIdSandboxedApplication)
{
    TempDir dir;
    fs::path app = developerIdApp(dir.path, "Reader",
                                  {{"com.apple.security.app-sandbox", true}, {"com.apple.security.network.client", true}});
    Retained<UApplicationEntitlementsController> c =
        Retained<UApplicationEntitlementsController>::adopt(UApplicationEntitlementsController::alloc()->init());
    LogCapture log;
    c->setCodeBundleURL(urlOf(app));
    EXPECT_TRUE(c->hasCodeSignature());
    EXPECT_TRUE(c->hasCodeSignatureWithEntitlements());
    EXPECT_EQ(c->hasActiveSecuritySandbox(), kCFBooleanTrue);
    EXPECT_TRUE(c->hasAccessToNetworkClient());
    EXPECT_FALSE(c->hasAccessToNetworkServer());
    EXPECT_EQ(text(c->codesignedBundleID()), "com.example.Reader");
    EXPECT_EQ(text(c->publisherCN()), "Developer ID Application: Example Corp (ABCDE12345)");
    EXPECT_EQ(text(c->publisherCA()), "Developer ID Certification Authority");
    EXPECT_EQ(text(c->rootCA()), "Apple Root CA");
    EXPECT_EQ(text(c->rootCAFingerprint()), "H\"611E5B662C593A08FF58D14AE22452D198DF6C60\"");
    EXPECT_EQ(text(c->publisherCAFingerprint()), "H\"3B166C3B7DC4B751C9FE2AFAB9135641E388E186\"");
    EXPECT_TRUE(c->publisherIsVerifiedByApple());
    EXPECT_EQ(text(c->codesignedEntitlementsString()),
              "com.apple.security.app-sandbox = 1\ncom.apple.security.network.client = 1\n");
    // Key-value coding reads the same values, boxed.
    EXPECT_EQ(c->valueForKey("hasAccessToNetworkServer"), kCFBooleanFalse);
    c->hasCodeSignature();
    c->valueForKey("hasCodeSignature");
    EXPECT_EQ(std::count(g_log.begin(), g_log.end(), "hasCodeSignature=1\n"), 3);
    ASSERT_FALSE(g_log.empty());
    EXPECT_EQ(g_log[0].rfind("UApplicationEntitlements::ConstructURL={", 0), 0u) << g_log[0];
}

TEST(EntitlementsController, UnsignedFileHasNoPublisher)
{
    TempDir dir;
    writeFile(dir.path / "plain", MachOBuilder().build().bytes);
    Retained<UApplicationEntitlementsController> c =
        Retained<UApplicationEntitlementsController>::adopt(UApplicationEntitlementsController::alloc()->init());
    LogCapture log;
    c->setCodeBundleURL(urlOf(dir.path / "plain"));
    EXPECT_EQ(c->publisherCN(), nil);
    EXPECT_EQ(c->publisherCNFingerprint(), nil);
    EXPECT_EQ(c->rootCA(), nil);
    EXPECT_FALSE(c->publisherIsVerifiedByApple());
    EXPECT_EQ(text(c->codesignedEntitlementsString()), "");
    EXPECT_FALSE(c->hasCodeSignature());
    EXPECT_TRUE(c->hasAccessToDeviceCamera());
}

TEST(EntitlementsController, TwoCertificateChainHasAnEmptyRoot)
{
    TempDir dir;
    auto chain = ownChain(2, KeyType::EcP256, "Small Signer");
    SigningOptions spec;
    spec.identifier = "com.example.small";
    spec.cms = CmsOptions(chain[0], {chain[1], chain[0]});
    writeFile(dir.path / "small", MachOBuilder().build(spec).bytes);
    Retained<UApplicationEntitlementsController> c =
        Retained<UApplicationEntitlementsController>::adopt(UApplicationEntitlementsController::alloc()->init());
    LogCapture log;
    c->setCodeBundleURL(urlOf(dir.path / "small"));
    EXPECT_EQ(text(c->rootCA()), "");
    EXPECT_EQ(text(c->rootCAFingerprint()), "H\"\"");
    EXPECT_EQ(text(c->publisherCN()), "Small Signer");
}

// A blob type the reader does not know in the entitlements slot is a newer
// format: the signature, its identifier and its chain stand; there are
// simply no entitlements.
TEST(EntitlementsController, EntitlementsBlobOfAnotherKindLeavesTheSignatureStanding)
{
    TempDir dir;
    auto chain = developerIdChain("Example Corp", "ABCDE12345");
    SigningOptions spec;
    spec.identifier = "com.example.newer";
    spec.team = "ABCDE12345";
    spec.entitlements = Entitlements{{"com.apple.security.app-sandbox", true}};
    spec.cms = CmsOptions(chain[0], {chain[1], chain[2], chain[0]});
    spec.tamper = [](Bytes& sb) { putBE32(sb, *blobOffset(sb, kSlotEntitlements), 0xfade7170); };
    writeFile(dir.path / "newer", MachOBuilder().build(spec).bytes);
    Retained<UApplicationEntitlementsController> c =
        Retained<UApplicationEntitlementsController>::adopt(UApplicationEntitlementsController::alloc()->init());
    LogCapture log;
    c->setCodeBundleURL(urlOf(dir.path / "newer"));
    EXPECT_TRUE(c->hasCodeSignature());
    EXPECT_EQ(text(c->codesignedBundleID()), "com.example.newer");
    EXPECT_EQ(text(c->publisherCN()), "Developer ID Application: Example Corp (ABCDE12345)");
    EXPECT_FALSE(c->hasCodeSignatureWithEntitlements());
    EXPECT_EQ(c->codesignedEntitlements(), nil);
    EXPECT_EQ(c->hasActiveSecuritySandbox(), kCFBooleanFalse);
    // The blob is still there to see, undecoded.
    ASSERT_NE(c->codesignedRequirements(), nil);
    EXPECT_NE(c->codesignedRequirements()->objectForKey(kSecCodeInfoEntitlements), nil);
    EXPECT_EQ(c->codesignedRequirements()->objectForKey(kSecCodeInfoEntitlementsDict), nil);
    ASSERT_FALSE(g_log.empty());
    EXPECT_EQ(g_log[0], "UApplicationEntitlements::ConstructURL=(null)\n");
}

// Signed with a CMS that carries no certificates: no signer is named, so there
// is no signing identity at all, as for ad-hoc code.
TEST(EntitlementsController, CmsWithoutCertificatesHasNoSigningIdentity)
{
    TempDir dir;
    auto chain = ownChain(2, KeyType::EcP256, "Hidden Signer");
    SigningOptions spec;
    spec.identifier = "com.example.nocerts";
    spec.cms = CmsOptions(chain[0], {});
    writeFile(dir.path / "nocerts", MachOBuilder().build(spec).bytes);
    Retained<UApplicationEntitlementsController> c =
        Retained<UApplicationEntitlementsController>::adopt(UApplicationEntitlementsController::alloc()->init());
    LogCapture log;
    c->setCodeBundleURL(urlOf(dir.path / "nocerts"));
    EXPECT_TRUE(c->hasCodeSignature());
    EXPECT_EQ(c->signingIdentity(), nil);
    EXPECT_EQ(c->publisherCN(), nil);
    EXPECT_EQ(c->rootCA(), nil);
    EXPECT_EQ(c->codesignedInfoDictionary()->objectForKey(kSecCodeInfoCertificates), nil);
}

TEST(CodeEntitlements, RunningProgramReadsAsUnsignedUnlessGivenEntitlements)
{
    {
        UCodeEntitlements self;
        EXPECT_FALSE(self.HasActiveSecuritySandbox());
        EXPECT_EQ(self.CopySignedBundleID(), nullptr);
        EXPECT_TRUE(self.HasActiveSecurityBookmarksAppScope());   // no sandbox: access to everything
    }
    Bytes blob = entitlementsBlob(entitlementsXml({{"com.apple.security.app-sandbox", true}}));
    CFDataRef data = CFDataCreate(nullptr, blob.data(), static_cast<CFIndex>(blob.size()));
    SecStaticCodeRef code = SecStaticCodeCreateForTesting(CFSTR("org.example.sandboxed"), data);
    SecCodeSetSelfForTesting(code);
    {
        UCodeEntitlements self;
        EXPECT_TRUE(self.HasActiveSecuritySandbox());
        EXPECT_FALSE(self.HasActiveSecurityBookmarksAppScope());
        EXPECT_FALSE(self.HasAccessToNetworkClient());
        CFStringRef identifier = self.CopySignedBundleID();
        EXPECT_EQ(text(identifier), "org.example.sandboxed");
        CFRelease(identifier);
    }
    SecCodeSetSelfForTesting(nullptr);
    CFRelease(code);
    CFRelease(data);
}

// The program's own entitlements are read while the program loads. In a
// sandbox that decodes an entitlements blob, whose objects need the pool
// that the first static initialiser makes: nothing may leak or be reported.
TEST(CodeEntitlements, ASandboxedStartUpReadsItsEntitlementsInsideThePool)
{
    TempDir dir;
    std::ofstream(dir.path / "flatpak-info") << "[Application]\nname=org.example.Sandboxed\nruntime=runtime/x\n\n"
                                                "[Instance]\nname=not.this.one\n";
    const fs::path probe = fs::read_symlink("/proc/self/exe").parent_path() / "sandboxed_start_probe";
    auto start = [&](const fs::path& info) {
        const std::string command = "SENTREL_FLATPAK_INFO='" + info.string() + "' '" + probe.string() + "' 2>&1";
        FILE* pipe = popen(command.c_str(), "r");
        std::string output;
        char buffer[512];
        for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;)
            output.append(buffer, n);
        const int status = pclose(pipe);
        return (WIFEXITED(status) ? std::to_string(WEXITSTATUS(status)) : std::string("signal")) + ": " + output;
    };
    EXPECT_EQ(start(dir.path / "flatpak-info"), "0: sandbox=1 identifier=org.example.Sandboxed\n");
    EXPECT_EQ(start(dir.path / "absent"), "0: sandbox=0 identifier=(none)\n");
}

} // namespace

namespace {

struct VerdictNotices : NSObject {
    OBJC_CLASS(VerdictNotices, NSObject)
public:
    std::vector<std::string> verdicts;
    void observeValueForKeyPath(NSString*, id object, NSDictionary*, void*) override
    {
        verdicts.push_back(text(static_cast<UApplicationEntitlementsController*>(object)->signatureVerdict()));
    }
};
OBJC_IMPLEMENTATION(VerdictNotices, NSObject) {}

// The verdict arrives through the main queue, after the seed's keys; a new
// URL drops a check that is still running, so its verdict never shows.
TEST(EntitlementsController, VerdictArrivesFromTheBackgroundAndANewURLDropsIt)
{
    TempDir dir;
    const fs::path demo = writeDemoApplication(dir.path / "demo");
    writeFile(dir.path / "big", MachOBuilder().codeSize(48u << 20).build().bytes);
    Retained<UApplicationEntitlementsController> c =
        Retained<UApplicationEntitlementsController>::adopt(UApplicationEntitlementsController::alloc()->init());
    Retained<VerdictNotices> notices = Retained<VerdictNotices>::adopt(VerdictNotices::alloc());
    c->addObserver(notices, "signatureVerdict", NSKeyValueObservingOptionNew, nullptr);
    LogCapture log;

    c->setCodeBundleURL(urlOf(dir.path / "big"));
    EXPECT_EQ(text(c->signatureVerdict()), "Not checked");
    c->startSignatureVerification();
    EXPECT_EQ(text(c->signatureVerdict()).rfind("Checking", 0), 0u);
    EXPECT_EQ(c->signatureIsValid(), nil);
    c->setCodeBundleURL(urlOf(demo));  // the big file's check is dropped
    c->startSignatureVerification();
    c->waitForSignatureVerification();
    NSOperationQueue::mainQueue()->runMainQueue();  // anything the dropped check left behind

    EXPECT_EQ(text(c->signatureVerdict()), "Not genuine");
    EXPECT_EQ(text(c->signerKind()), "untrusted");
    ASSERT_EQ(c->signatureProblems()->count(), 2u);
    EXPECT_NE(text(c->signatureProblems()->objectAtIndex(0)).find(": certificate 0 ("), std::string::npos)
        << text(c->signatureProblems());
    EXPECT_EQ(c->hasSecureTimestamp()->boolValue(), false);
    EXPECT_EQ(text(c->cdhash()).size(), 40u);
    EXPECT_EQ(notices->verdicts.back(), "Not genuine");
    for (const std::string& verdict : notices->verdicts)
        EXPECT_NE(verdict, "Genuine");
    c->removeObserver(notices, "signatureVerdict");
}

}  // namespace
