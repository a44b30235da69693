// Everything the document window shows about the inspected file's code
// signature, as observable read-only properties.
#pragma once

#include "CodeSigningIdentity.h"
#include "UApplicationEntitlements.h"

class UApplicationEntitlementsController : public NSObject {
    OBJC_CLASS(UApplicationEntitlementsController, NSObject)
public:
    UApplicationEntitlementsController() = default;
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

    const UApplicationEntitlements& entitlements() const { return mEntitlements; }

private:
    UApplicationEntitlements mEntitlements;
    Retained<CodeSigningIdentity> m_signingIdentity;
    Retained<NSURL> m_bundleURL;
};
