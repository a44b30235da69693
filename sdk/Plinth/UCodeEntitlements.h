// The entitlements of the running program itself, and the vocabulary of
// entitlement keys. UApplicationEntitlements (the inspectors) reads other code
// the same way: both fill their fields and answer their queries through
// TCodeEntitlementsModel, over the steps in CodeEntitlementsReading.
#pragma once

#include "Security.h"

#include "CoreStaticInitOrder.h"

// The keys are made during program load, just before the program's own
// entitlements read them.
using CFStringConstant = CoreConstant<CFStringRef>;

extern const CFStringConstant kAppleSecurityAppSandboxEntitlementKey;
extern const CFStringConstant kAppleSecurityDeviceCameraEntitlementKey;
extern const CFStringConstant kAppleSecurityNetworkClientEntitlementKey;
extern const CFStringConstant kAppleSecurityNetworkServerEntitlementKey;
extern const CFStringConstant kAppleSecurityFilesUserSelectedReadOnlyEntitlementKey;
extern const CFStringConstant kAppleSecurityTemporaryExceptionMachLookupGlobalNameEntitlementKey;
extern const CFStringConstant kAppleSecurityTemporaryExceptionFilesHomeRelativePathReadOnlyEntitlementKey;
extern const CFStringConstant kAppleSecurityAssetsPicturesReadWriteEntitlementKey;
extern const CFStringConstant kAppleSecurityAssetsPicturesReadOnlyEntitlementKey;
extern const CFStringConstant kAppleSecurityAssetsMoviesReadWriteEntitlementKey;
extern const CFStringConstant kAppleSecurityAssetsMoviesReadOnlyEntitlementKey;
extern const CFStringConstant kAppleSecurityPrintEntitlementKey;
extern const CFStringConstant kAppleSecurityFilesBookmarksAppScope;

// The steps both entitlement models take over a code object.
namespace CodeEntitlementsReading {
// Fills out_signedInfo (owned; null on failure) with the signing information
// and answers the signing identifier in it (borrowed), or null.
CFStringRef SigningIdentifier(SecStaticCodeRef code, CFDictionaryRef* out_signedInfo);
// Fills out_requirements (owned; null on failure) with the requirement
// information and answers the entitlements blob in it (borrowed), or null.
CFDataRef EntitlementsBlob(SecStaticCodeRef code, CFDictionaryRef* out_requirements);
// Big-endian magic 0xFADE7171, big-endian total length equal to the data's,
// then an XML property list that must be a dictionary; owned result or null.
CFDictionaryRef CopyEntitlementsDictionaryFromBlobData(CFDataRef data);
// The value under key (retained for the caller), or null.
CFTypeRef CopyEntitlementKeyValue(CFDictionaryRef entitlements, CFStringRef key);
bool HasEntitlementAndBooleanValueIsTrue(CFDictionaryRef entitlements, CFStringRef key);
} // namespace CodeEntitlementsReading

template <class Model>
struct TCodeEntitlementsModel;

class UCodeEntitlements {
public:
    UCodeEntitlements();
    virtual ~UCodeEntitlements();
    UCodeEntitlements(const UCodeEntitlements&) = delete;
    UCodeEntitlements& operator=(const UCodeEntitlements&) = delete;

    bool Construct();
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
    bool HasActiveSecurityBookmarksAppScope() const;
    static bool IsSystemLionWithSandboxOrLater();

    static UCodeEntitlements sEntitlements;

private:
    friend struct TCodeEntitlementsModel<UCodeEntitlements>;

    CFDictionaryRef mSignedInfoDictionary = nullptr;
    CFDictionaryRef mSignedRequirements = nullptr;
    CFDictionaryRef mSignedEntitlements = nullptr;
    CFStringRef mSignedBundleID = nullptr;
    bool mSignedBinary = false;
    bool mNoSandbox = true;
    bool mNoEntitlements = true;
};
