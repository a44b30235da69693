#include "UApplicationEntitlements.h"

#include "CoreServices/CarbonCore.h"
#include "UCodeEntitlements.h"

namespace {

// The packed system version, asked once; 0 means not asked yet.
SInt32 MacOSX_SystemGetVersion()
{
    static SInt32 cachedGestaltVersion = 0;
    if (cachedGestaltVersion == 0)
        Gestalt(gestaltSystemVersion, &cachedGestaltVersion);
    return cachedGestaltVersion;
}

} // namespace

UApplicationEntitlements::~UApplicationEntitlements() { ReleaseAll(); }

void UApplicationEntitlements::ReleaseAll()
{
    if (mSignedBundleID)
        CFRelease(mSignedBundleID);
    if (mSignedEntitlements)
        CFRelease(mSignedEntitlements);
    if (mSignedInfoDictionary)
        CFRelease(mSignedInfoDictionary);
    if (mSignedRequirements)
        CFRelease(mSignedRequirements);
    if (mStaticCodeRef)
        CFRelease(mStaticCodeRef);
    mSignedBundleID = nullptr;
    mSignedEntitlements = nullptr;
    mSignedInfoDictionary = nullptr;
    mSignedRequirements = nullptr;
    mStaticCodeRef = nullptr;
}

bool UApplicationEntitlements::ConstructURL(CFURLRef url)
{
    ReleaseAll();
    CFStringRef identifier = nullptr;
    CFDictionaryRef dictionary = nullptr;
    if (SecStaticCodeCreateWithPath(url, kSecCSDefaultFlags, &mStaticCodeRef) == errSecSuccess && mStaticCodeRef) {
        identifier = CodeEntitlementsReading::SigningIdentifier(mStaticCodeRef, &mSignedInfoDictionary);
        if (CFDataRef blob = CodeEntitlementsReading::EntitlementsBlob(mStaticCodeRef, &mSignedRequirements)) {
            dictionary = copyEntitlementsDictionaryFromBlobData(blob);
            NSLog("UApplicationEntitlements::ConstructURL=%@\n", dictionary);
        }
    } else {
        mStaticCodeRef = nullptr;
    }
    SetSignedBundleID(identifier);
    SetCodeSignedEntitlementsCopy(dictionary);
    return mStaticCodeRef != nullptr;
}

CFDictionaryRef UApplicationEntitlements::copyEntitlementsDictionaryFromBlobData(CFDataRef data) const
{
    return CodeEntitlementsReading::CopyEntitlementsDictionaryFromBlobData(data);
}

void UApplicationEntitlements::SetSignedBundleID(CFStringRef identifier)
{
    if (identifier)
        CFRetain(identifier);
    if (mSignedBundleID)
        CFRelease(mSignedBundleID);
    mSignedBundleID = identifier;
    mSignedBinary = mSignedBundleID != nullptr;
}

void UApplicationEntitlements::SetCodeSignedEntitlementsCopy(CFDictionaryRef entitlements)
{
    if (mSignedEntitlements && mSignedEntitlements != entitlements)
        CFRelease(mSignedEntitlements);
    mSignedEntitlements = entitlements;
    mNoSandbox = !IsSystemLionWithSandboxOrLater() || !HasEntitlementAndBooleanValueIsTrue(kAppleSecurityAppSandboxEntitlementKey);
    NSLog("UApplicationEntitlements::SetCodeSignedEntitlementsCopy mNoSandbox:%d\n", mNoSandbox ? 1 : 0);
    mNoEntitlements = mSignedEntitlements == nullptr;
    NSLog("UApplicationEntitlements::SetCodeSignedEntitlementsCopy mNoEntitlements:%d\n", mNoEntitlements ? 1 : 0);
}

CFStringRef UApplicationEntitlements::CopySignedBundleID() const
{
    return mSignedBundleID ? static_cast<CFStringRef>(CFRetain(mSignedBundleID)) : nullptr;
}

CFTypeRef UApplicationEntitlements::CopyEntitlementKeyValue(CFStringRef key) const
{
    return CodeEntitlementsReading::CopyEntitlementKeyValue(mSignedEntitlements, key);
}

bool UApplicationEntitlements::HasEntitlementAndBooleanValueIsTrue(CFStringRef key) const
{
    return CodeEntitlementsReading::HasEntitlementAndBooleanValueIsTrue(mSignedEntitlements, key);
}

bool UApplicationEntitlements::IsBinaryCodeSignedWithEntitlements() const { return mSignedBinary && !mNoEntitlements; }
bool UApplicationEntitlements::HasAccessToAllEntitlements() const { return mNoSandbox || mNoEntitlements; }
bool UApplicationEntitlements::HasActiveSecuritySandbox() const { return !mNoSandbox && !mNoEntitlements; }
bool UApplicationEntitlements::HasAccessTo(CFStringRef key) const
{
    return HasAccessToAllEntitlements() || HasEntitlementAndBooleanValueIsTrue(key);
}
bool UApplicationEntitlements::HasAccessToNetworkClient() const { return HasAccessTo(kAppleSecurityNetworkClientEntitlementKey); }
bool UApplicationEntitlements::HasAccessToNetworkServer() const { return HasAccessTo(kAppleSecurityNetworkServerEntitlementKey); }
bool UApplicationEntitlements::HasAccessToCameraDevice() const { return HasAccessTo(kAppleSecurityDeviceCameraEntitlementKey); }
bool UApplicationEntitlements::HasAccessToPrinting() const { return HasAccessTo(kAppleSecurityPrintEntitlementKey); }

bool UApplicationEntitlements::IsSystemLionWithSandboxOrLater() { return MacOSX_SystemGetVersion() >= 0x1070; }
