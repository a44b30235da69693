// The signing identifier and entitlements of the code at a file URL, and the
// sandbox and access verdicts drawn from them.
#pragma once

#include "Security.h"

class UApplicationEntitlements {
public:
    UApplicationEntitlements() = default;
    virtual ~UApplicationEntitlements();
    UApplicationEntitlements(const UApplicationEntitlements&) = delete;
    UApplicationEntitlements& operator=(const UApplicationEntitlements&) = delete;

    // Fills the object from the code at the URL; true when a code object was
    // made. A second call replaces what the first one read.
    bool ConstructURL(CFURLRef url);
    CFDictionaryRef copyEntitlementsDictionaryFromBlobData(CFDataRef data) const;
    void SetSignedBundleID(CFStringRef identifier);
    void SetCodeSignedEntitlementsCopy(CFDictionaryRef entitlements);

    CFStringRef CopySignedBundleID() const;
    CFTypeRef CopyEntitlementKeyValue(CFStringRef key) const;
    bool HasEntitlementAndBooleanValueIsTrue(CFStringRef key) const;
    bool IsBinaryCodeSignedWithEntitlements() const;
    bool HasAccessToAllEntitlements() const;
    bool HasActiveSecuritySandbox() const;
    bool HasAccessToNetworkClient() const;
    bool HasAccessToNetworkServer() const;
    bool HasAccessToCameraDevice() const;
    bool HasAccessToPrinting() const;
    static bool IsSystemLionWithSandboxOrLater();

    // Read by the controller.
    SecStaticCodeRef mStaticCodeRef = nullptr;
    CFDictionaryRef mSignedInfoDictionary = nullptr;
    CFDictionaryRef mSignedRequirements = nullptr;
    CFDictionaryRef mSignedEntitlements = nullptr;
    CFStringRef mSignedBundleID = nullptr;
    bool mSignedBinary = false;
    bool mNoSandbox = true;
    bool mNoEntitlements = true;

private:
    void ReleaseAll();
};
