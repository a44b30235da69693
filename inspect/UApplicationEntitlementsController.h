// Everything the document window shows about the inspected file's code
// signature, as observable read-only properties.
#pragma once

#include "CodeSigningIdentity.h"
#include "SignatureVerification.h"
#include "UApplicationEntitlements.h"

#include <memory>
#include <optional>

class UApplicationEntitlementsController : public NSObject {
    OBJC_CLASS(UApplicationEntitlementsController, NSObject)
public:
    UApplicationEntitlementsController() = default;
    ~UApplicationEntitlementsController() override;
    UApplicationEntitlementsController* init() { return this; }

    // Inspects the code at the URL; the one operation that changes the controller.
    void setCodeBundleURL(NSURL* url);
    NSURL* codeBundleURL() const;

    bool hasSandboxEntitlementEnabled() const;
    bool hasDeviceCameraEntitlement() const;
    bool hasNetworkClientEntitlement() const;
    bool hasNetworkServerEntitlement() const;
    NSString* codesignedBundleID() const;
    NSDictionary* codesignedInfoDictionary() const;
    NSDictionary* codesignedRequirements() const;
    NSDictionary* codesignedEntitlements() const;
    NSString* codesignedEntitlementsString() const;
    NSNumber* hasActiveSecuritySandbox() const;
    bool hasCodeSignature() const;
    bool hasCodeSignatureWithEntitlements() const;
    bool hasAccessToDeviceCamera() const;
    bool hasAccessToNetworkClient() const;
    bool hasAccessToNetworkServer() const;
    NSString* publisherCN() const;
    NSString* publisherCNFingerprint() const;
    NSString* publisherCA() const;
    NSString* publisherCAFingerprint() const;
    NSString* rootCA() const;
    NSString* rootCAFingerprint() const;
    bool publisherIsVerifiedByApple() const;

    CodeSigningIdentity* signingIdentity() const { return m_signingIdentity; }
    void setSigningIdentity(CodeSigningIdentity* value) { setPropertyValue("signingIdentity", m_signingIdentity, value); }
    NSURL* bundleURL() const { return m_bundleURL; }
    void setBundleURL(NSURL* value) { setPropertyValue("bundleURL", m_bundleURL, value); }

    // The twenty keys announced around every inspection.
    static NSSet* dependentKeys();

    // Whether the signature is genuine: everything it covers unchanged, and a
    // chain to an Apple root. Nothing is known until a check is started for
    // the current URL; a new URL forgets the verdict and stops a running check.
    void startSignatureVerification();  // hashes on a thread of its own
    void verifySignatureNow();          // on this thread, for a program without an event loop
    void waitForSignatureVerification(); // for a running check: waits, then takes its verdict

    NSString* signatureVerdict() const;         // nil, "Not checked", "Checking… 42%", "Genuine", "Not genuine"
    NSNumber* signatureIsValid() const;         // nil until known
    NSArray* signatureProblems() const;         // of NSString, each naming its slice, slot or file
    NSString* signerKind() const;               // "Developer ID Application", ..., "ad-hoc", "unsigned", "untrusted"
    NSDate* signingTime() const;                // the timestamp's, else what the signature claims
    NSNumber* hasSecureTimestamp() const;
    NSNumber* hasNotarizationTicket() const;
    NSString* cdhash() const;                   // hex, of the slice described

    // The keys announced when a verdict or progress arrives.
    static NSSet* verificationKeys();

    const UApplicationEntitlements& entitlements() const { return mEntitlements; }

private:
    void forgetVerdict();
    void setVerdict(codesign::Verdict verdict);
    void setVerificationProgress(double fraction);

    UApplicationEntitlements mEntitlements;
    std::unique_ptr<BackgroundSignatureCheck> m_check;
    std::optional<codesign::Verdict> m_verdict;
    double m_progress = 0;
    Retained<CodeSigningIdentity> m_signingIdentity;
    Retained<NSURL> m_bundleURL;
};
