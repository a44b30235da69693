#include "UApplicationEntitlementsController.h"

#include "CoreStaticInitOrder.h"
#include "UCodeEntitlements.h"

bool import_category_NSObject_MultipleKVO();

// The keys whose values change when a new URL is inspected. Made at program
// load, at its rank, and kept for the whole process.
static NSSet* UEntitlementsControllerDependentKeys = nullptr;

NSSet* UApplicationEntitlementsController::verificationKeys()
{
    static NSSet* keys = static_cast<NSSet*>(NSSet::setWithObjects({
        NSSTR("signatureVerdict"), NSSTR("signatureIsValid"), NSSTR("signatureProblems"),
        NSSTR("signerKind"), NSSTR("signingTime"), NSSTR("hasSecureTimestamp"), NSSTR("hasNotarizationTicket"),
        NSSTR("cdhash"),
    })->retain());
    return keys;
}

CORE_INIT_FUNCTION(kCoreInitRank_EntitlementsControllerKeys) static void UEntitlementsControllerDependentKeysInit()
{
    AutoreleasePoolScope pool;
    NSSet* keys = NSSet::setWithObjects({
        NSSTR("hasSandboxEntitlementEnabled"), NSSTR("hasDeviceCameraEntitlement"), NSSTR("hasNetworkClientEntitlement"),
        NSSTR("hasNetworkServerEntitlement"), NSSTR("codesignedBundleID"), NSSTR("hasActiveSecuritySandbox"),
        NSSTR("hasCodeSignature"), NSSTR("hasCodeSignatureWithEntitlements"), NSSTR("codesignedEntitlements"),
        NSSTR("codesignedEntitlementsString"), NSSTR("hasAccessToDeviceCamera"), NSSTR("hasAccessToNetworkClient"),
        NSSTR("hasAccessToNetworkServer"), NSSTR("publisherCN"), NSSTR("publisherCNFingerprint"), NSSTR("publisherCA"),
        NSSTR("publisherCAFingerprint"), NSSTR("rootCA"), NSSTR("rootCAFingerprint"), NSSTR("publisherIsVerifiedByApple"),
    });
    UEntitlementsControllerDependentKeys = static_cast<NSSet*>(keys->retain());
}

OBJC_IMPLEMENTATION(UApplicationEntitlementsController, NSObject)
{
    // Class initialisation only makes sure the MultipleKVO category is linked in.
    import_category_NSObject_MultipleKVO();
    using C = UApplicationEntitlementsController;
    cls.property("codeBundleURL", &C::codeBundleURL, &C::setCodeBundleURL);
    cls.property("hasSandboxEntitlementEnabled", &C::hasSandboxEntitlementEnabled);
    cls.property("hasDeviceCameraEntitlement", &C::hasDeviceCameraEntitlement);
    cls.property("hasNetworkClientEntitlement", &C::hasNetworkClientEntitlement);
    cls.property("hasNetworkServerEntitlement", &C::hasNetworkServerEntitlement);
    cls.property("codesignedBundleID", &C::codesignedBundleID);
    cls.property("codesignedInfoDictionary", &C::codesignedInfoDictionary);
    cls.property("codesignedRequirements", &C::codesignedRequirements);
    cls.property("codesignedEntitlements", &C::codesignedEntitlements);
    cls.property("codesignedEntitlementsString", &C::codesignedEntitlementsString);
    cls.property("hasActiveSecuritySandbox", &C::hasActiveSecuritySandbox);
    cls.property("hasCodeSignature", &C::hasCodeSignature);
    cls.property("hasCodeSignatureWithEntitlements", &C::hasCodeSignatureWithEntitlements);
    cls.property("hasAccessToDeviceCamera", &C::hasAccessToDeviceCamera);
    cls.property("hasAccessToNetworkClient", &C::hasAccessToNetworkClient);
    cls.property("hasAccessToNetworkServer", &C::hasAccessToNetworkServer);
    cls.property("publisherCN", &C::publisherCN);
    cls.property("publisherCNFingerprint", &C::publisherCNFingerprint);
    cls.property("publisherCA", &C::publisherCA);
    cls.property("publisherCAFingerprint", &C::publisherCAFingerprint);
    cls.property("rootCA", &C::rootCA);
    cls.property("rootCAFingerprint", &C::rootCAFingerprint);
    cls.property("publisherIsVerifiedByApple", &C::publisherIsVerifiedByApple);
    cls.property("signatureVerdict", &C::signatureVerdict);
    cls.property("signatureIsValid", &C::signatureIsValid);
    cls.property("signatureProblems", &C::signatureProblems);
    cls.property("signerKind", &C::signerKind);
    cls.property("signingTime", &C::signingTime);
    cls.property("hasSecureTimestamp", &C::hasSecureTimestamp);
    cls.property("hasNotarizationTicket", &C::hasNotarizationTicket);
    cls.property("cdhash", &C::cdhash);
    cls.property("signingIdentity", &C::signingIdentity, &C::setSigningIdentity);
    cls.property("bundleURL", &C::bundleURL, &C::setBundleURL);
}

NSSet* UApplicationEntitlementsController::dependentKeys() { return UEntitlementsControllerDependentKeys; }

UApplicationEntitlementsController::~UApplicationEntitlementsController() = default;

void UApplicationEntitlementsController::setCodeBundleURL(NSURL* url)
{
    ObjcSynchronized lock(this);
    forgetVerdict();
    bool announced = false;
    try {
        setSigningIdentity(nil);
        setBundleURL(nil);
        willChangeValueForMultipleKeys(UEntitlementsControllerDependentKeys);
        announced = true;
        if (mEntitlements.ConstructURL(url))
            setSigningIdentity(CodeSigningIdentity::signingIdentityWithSecStaticCodeRef(mEntitlements.mStaticCodeRef));
        announced = false;
        didChangeValueForMultipleKeys(UEntitlementsControllerDependentKeys);
    } catch (NSException* exception) {
        // Observers never keep a will-change notice without its did-change notice.
        if (announced)
            didChangeValueForMultipleKeys(UEntitlementsControllerDependentKeys);
        NSLog("NSException:%@\n", exception);
    } catch (...) {
        if (announced)
            didChangeValueForMultipleKeys(UEntitlementsControllerDependentKeys);
        throw;
    }
    setBundleURL(url);
}

NSURL* UApplicationEntitlementsController::codeBundleURL() const
{
    ObjcSynchronized lock(this);
    return bundleURL();
}

bool UApplicationEntitlementsController::hasSandboxEntitlementEnabled() const
{
    return mEntitlements.HasEntitlementAndBooleanValueIsTrue(kAppleSecurityAppSandboxEntitlementKey);
}

bool UApplicationEntitlementsController::hasDeviceCameraEntitlement() const
{
    return mEntitlements.HasEntitlementAndBooleanValueIsTrue(kAppleSecurityDeviceCameraEntitlementKey);
}

bool UApplicationEntitlementsController::hasNetworkClientEntitlement() const
{
    return mEntitlements.HasEntitlementAndBooleanValueIsTrue(kAppleSecurityNetworkClientEntitlementKey);
}

bool UApplicationEntitlementsController::hasNetworkServerEntitlement() const
{
    return mEntitlements.HasEntitlementAndBooleanValueIsTrue(kAppleSecurityNetworkServerEntitlementKey);
}

NSString* UApplicationEntitlementsController::codesignedBundleID() const { return const_cast<NSString*>(mEntitlements.mSignedBundleID); }

NSDictionary* UApplicationEntitlementsController::codesignedInfoDictionary() const
{
    return const_cast<NSDictionary*>(mEntitlements.mSignedInfoDictionary);
}

NSDictionary* UApplicationEntitlementsController::codesignedRequirements() const
{
    return const_cast<NSDictionary*>(mEntitlements.mSignedRequirements);
}

NSDictionary* UApplicationEntitlementsController::codesignedEntitlements() const
{
    return const_cast<NSDictionary*>(mEntitlements.mSignedEntitlements);
}

NSString* UApplicationEntitlementsController::codesignedEntitlementsString() const
{
    NSMutableString* text = NSMutableString::string();
    if (NSDictionary* entitlements = codesignedEntitlements())
        for (NSUInteger i = 0; i < entitlements->count(); ++i)
            text->appendFormat("%@ = %@\n", entitlements->keyAtIndex(i), entitlements->valueAtIndex(i));
    return text;
}

NSNumber* UApplicationEntitlementsController::hasActiveSecuritySandbox() const
{
    return NSNumber::numberWithBool(mEntitlements.HasActiveSecuritySandbox());
}

bool UApplicationEntitlementsController::hasCodeSignature() const
{
    NSLog("hasCodeSignature=%d\n", mEntitlements.mSignedBinary ? 1 : 0);
    return mEntitlements.mSignedBinary;
}

bool UApplicationEntitlementsController::hasCodeSignatureWithEntitlements() const
{
    return mEntitlements.IsBinaryCodeSignedWithEntitlements();
}

bool UApplicationEntitlementsController::hasAccessToDeviceCamera() const { return mEntitlements.HasAccessToCameraDevice(); }
bool UApplicationEntitlementsController::hasAccessToNetworkClient() const { return mEntitlements.HasAccessToNetworkClient(); }
bool UApplicationEntitlementsController::hasAccessToNetworkServer() const { return mEntitlements.HasAccessToNetworkServer(); }

// The six publisher and root properties are nil without a signing identity.
namespace {
NSString* requirementForm(NSData* fingerprint) { return fingerprint ? fingerprint->certFingerprintRequirement_HQUOTED() : nil; }
} // namespace

NSString* UApplicationEntitlementsController::publisherCN() const
{
    return signingIdentity() ? signingIdentity()->leafCommonName() : nil;
}

NSString* UApplicationEntitlementsController::publisherCNFingerprint() const
{
    return requirementForm(signingIdentity() ? signingIdentity()->leafFingerprint() : nil);
}

NSString* UApplicationEntitlementsController::publisherCA() const
{
    return signingIdentity() ? signingIdentity()->cert1CommonName() : nil;
}

NSString* UApplicationEntitlementsController::publisherCAFingerprint() const
{
    return requirementForm(signingIdentity() ? signingIdentity()->cert1Fingerprint() : nil);
}

NSString* UApplicationEntitlementsController::rootCA() const
{
    return signingIdentity() ? signingIdentity()->rootCommonName() : nil;
}

NSString* UApplicationEntitlementsController::rootCAFingerprint() const
{
    return requirementForm(signingIdentity() ? signingIdentity()->rootFingerprint() : nil);
}

bool UApplicationEntitlementsController::publisherIsVerifiedByApple() const
{
    CodeSigningIdentity* identity = signingIdentity();
    return identity && (identity->isAppleSystemSoftwareCredentials() || identity->isAppleDeveloperIDCredentials() ||
                        identity->isAppleMASDeveloperCredentials() || identity->isAppleMASDeveloperSignedByMASStoreCredentials());
}

// ---------------------------------------------------------------- verification

void UApplicationEntitlementsController::forgetVerdict()
{
    m_check.reset();
    if (!m_verdict && m_progress == 0)
        return;
    willChangeValueForMultipleKeys(verificationKeys());
    m_verdict.reset();
    m_progress = 0;
    didChangeValueForMultipleKeys(verificationKeys());
}

void UApplicationEntitlementsController::setVerdict(codesign::Verdict verdict)
{
    willChangeValueForMultipleKeys(verificationKeys());
    m_verdict = std::move(verdict);
    m_progress = 1;
    didChangeValueForMultipleKeys(verificationKeys());
}

void UApplicationEntitlementsController::setVerificationProgress(double fraction)
{
    willChangeValueForKey("signatureVerdict");
    m_progress = fraction;
    didChangeValueForKey("signatureVerdict");
}

void UApplicationEntitlementsController::startSignatureVerification()
{
    NSURL* url = codeBundleURL();
    const char* path = url ? url->fileSystemRepresentation() : nullptr;
    forgetVerdict();
    if (!path)
        return;
    willChangeValueForKey("signatureVerdict");
    m_check = std::make_unique<BackgroundSignatureCheck>(
        path, [this](double fraction) { setVerificationProgress(fraction); },
        [this](codesign::Verdict verdict) {
            setVerdict(std::move(verdict));
        });
    didChangeValueForKey("signatureVerdict");
}

void UApplicationEntitlementsController::verifySignatureNow()
{
    NSURL* url = codeBundleURL();
    const char* path = url ? url->fileSystemRepresentation() : nullptr;
    forgetVerdict();
    if (path)
        setVerdict(codesign::verifyStaticCode(path));
}

void UApplicationEntitlementsController::waitForSignatureVerification()
{
    if (m_check)
        m_check->waitUntilDone();
}

NSString* UApplicationEntitlementsController::signatureVerdict() const
{
    if (!bundleURL())
        return nil;
    if (m_verdict)
        return NSSTR(m_verdict->genuine ? "Genuine" : "Not genuine");
    if (m_check)
        return NSString::stringWithFormat("Checking\u2026 %d%%", int(m_progress * 100));
    return NSSTR("Not checked");
}

NSNumber* UApplicationEntitlementsController::signatureIsValid() const
{
    return m_verdict ? NSNumber::numberWithBool(m_verdict->genuine) : nil;
}

NSArray* UApplicationEntitlementsController::signatureProblems() const
{
    if (!m_verdict)
        return nil;
    std::vector<id> problems;
    for (const std::string& problem : m_verdict->problems)
        problems.push_back(NSString::stringWithUTF8String(problem.c_str()));
    return NSArray::arrayWithVector(problems);
}

NSString* UApplicationEntitlementsController::signerKind() const
{
    return m_verdict ? NSString::stringWithUTF8String(m_verdict->signerKind.c_str()) : nil;
}

NSDate* UApplicationEntitlementsController::signingTime() const
{
    return m_verdict && m_verdict->signingTime ? NSDate::dateWithTimeIntervalSince1970(double(*m_verdict->signingTime)) : nil;
}

NSNumber* UApplicationEntitlementsController::hasSecureTimestamp() const
{
    return m_verdict ? NSNumber::numberWithBool(m_verdict->timestamped) : nil;
}

NSNumber* UApplicationEntitlementsController::hasNotarizationTicket() const
{
    return m_verdict ? NSNumber::numberWithBool(m_verdict->hasNotarizationTicket) : nil;
}

NSString* UApplicationEntitlementsController::cdhash() const
{
    return m_verdict && !m_verdict->cdhash.empty() ? NSString::stringWithUTF8String(m_verdict->cdhash.c_str()) : nil;
}
