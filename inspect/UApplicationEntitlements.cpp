#include "UApplicationEntitlements.h"

#include "CoreServices/CarbonCore.h"
#include "TCodeEntitlementsModel.h"

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

using Shared = TCodeEntitlementsModel<UApplicationEntitlements>;

UApplicationEntitlements::~UApplicationEntitlements() { ReleaseAll(); }

void UApplicationEntitlements::ReleaseAll()
{
    Shared::Release(*this);
    Shared::ReleaseField(mStaticCodeRef);
}

bool UApplicationEntitlements::ConstructURL(CFURLRef url)
{
    ReleaseAll();
    CFStringRef identifier = nullptr;
    CFDictionaryRef dictionary = nullptr;
    if (SecStaticCodeCreateWithPath(url, kSecCSDefaultFlags, &mStaticCodeRef) == errSecSuccess && mStaticCodeRef) {
        CFDataRef blob = nullptr;
        identifier = Shared::Read(*this, mStaticCodeRef, blob);
        if (blob) {
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

void UApplicationEntitlements::SetSignedBundleID(CFStringRef identifier) { Shared::SetSignedBundleID(*this, identifier); }

void UApplicationEntitlements::SetCodeSignedEntitlementsCopy(CFDictionaryRef entitlements)
{
    Shared::SetCodeSignedEntitlementsCopy(*this, entitlements);
    NSLog("UApplicationEntitlements::SetCodeSignedEntitlementsCopy mNoSandbox:%d\n", mNoSandbox ? 1 : 0);
    NSLog("UApplicationEntitlements::SetCodeSignedEntitlementsCopy mNoEntitlements:%d\n", mNoEntitlements ? 1 : 0);
}

CFStringRef UApplicationEntitlements::CopySignedBundleID() const { return Shared::CopySignedBundleID(*this); }
CFTypeRef UApplicationEntitlements::CopyEntitlementKeyValue(CFStringRef key) const
{
    return Shared::CopyEntitlementKeyValue(*this, key);
}
bool UApplicationEntitlements::HasEntitlementAndBooleanValueIsTrue(CFStringRef key) const
{
    return Shared::HasEntitlementAndBooleanValueIsTrue(*this, key);
}
bool UApplicationEntitlements::IsBinaryCodeSignedWithEntitlements() const
{
    return Shared::IsBinaryCodeSignedWithEntitlements(*this);
}
bool UApplicationEntitlements::HasAccessToAllEntitlements() const { return Shared::HasAccessToAllEntitlements(*this); }
bool UApplicationEntitlements::HasActiveSecuritySandbox() const { return Shared::HasActiveSecuritySandbox(*this); }
bool UApplicationEntitlements::HasAccessToNetworkClient() const
{
    return Shared::HasAccessTo(*this, kAppleSecurityNetworkClientEntitlementKey);
}
bool UApplicationEntitlements::HasAccessToNetworkServer() const
{
    return Shared::HasAccessTo(*this, kAppleSecurityNetworkServerEntitlementKey);
}
bool UApplicationEntitlements::HasAccessToCameraDevice() const
{
    return Shared::HasAccessTo(*this, kAppleSecurityDeviceCameraEntitlementKey);
}
bool UApplicationEntitlements::HasAccessToPrinting() const { return Shared::HasAccessTo(*this, kAppleSecurityPrintEntitlementKey); }

bool UApplicationEntitlements::IsSystemLionWithSandboxOrLater() { return MacOSX_SystemGetVersion() >= 0x1070; }
