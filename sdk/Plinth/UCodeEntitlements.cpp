#include "UCodeEntitlements.h"

#include "CoreStaticInitOrder.h"
#include "CoreSystem.h"
#include "TCodeEntitlementsModel.h"

// The keys are built just before the program's own entitlements, which read them.

const CFStringConstant kAppleSecurityAppSandboxEntitlementKey CORE_INIT_ORDER(kCoreInitRank_CodeEntitlements){CFSTR("com.apple.security.app-sandbox")};
const CFStringConstant kAppleSecurityDeviceCameraEntitlementKey CORE_INIT_ORDER(kCoreInitRank_CodeEntitlements){CFSTR("com.apple.security.device.camera")};
const CFStringConstant kAppleSecurityNetworkClientEntitlementKey CORE_INIT_ORDER(kCoreInitRank_CodeEntitlements){CFSTR("com.apple.security.network.client")};
const CFStringConstant kAppleSecurityNetworkServerEntitlementKey CORE_INIT_ORDER(kCoreInitRank_CodeEntitlements){CFSTR("com.apple.security.network.server")};
const CFStringConstant kAppleSecurityFilesUserSelectedReadOnlyEntitlementKey CORE_INIT_ORDER(kCoreInitRank_CodeEntitlements){CFSTR("com.apple.security.files.user-selected.read-only")};
const CFStringConstant kAppleSecurityTemporaryExceptionMachLookupGlobalNameEntitlementKey CORE_INIT_ORDER(kCoreInitRank_CodeEntitlements){CFSTR("com.apple.security.temporary-exception.mach-lookup.global-name")};
const CFStringConstant kAppleSecurityTemporaryExceptionFilesHomeRelativePathReadOnlyEntitlementKey CORE_INIT_ORDER(kCoreInitRank_CodeEntitlements){CFSTR("com.apple.security.temporary-exception.files.home-relative-path.read-only")};
const CFStringConstant kAppleSecurityAssetsPicturesReadWriteEntitlementKey CORE_INIT_ORDER(kCoreInitRank_CodeEntitlements){CFSTR("com.apple.security.assets.pictures.read-write")};
const CFStringConstant kAppleSecurityAssetsPicturesReadOnlyEntitlementKey CORE_INIT_ORDER(kCoreInitRank_CodeEntitlements){CFSTR("com.apple.security.assets.pictures.read-only")};
const CFStringConstant kAppleSecurityAssetsMoviesReadWriteEntitlementKey CORE_INIT_ORDER(kCoreInitRank_CodeEntitlements){CFSTR("com.apple.security.assets.movies.read-write")};
const CFStringConstant kAppleSecurityAssetsMoviesReadOnlyEntitlementKey CORE_INIT_ORDER(kCoreInitRank_CodeEntitlements){CFSTR("com.apple.security.assets.movies.read-only")};
const CFStringConstant kAppleSecurityPrintEntitlementKey CORE_INIT_ORDER(kCoreInitRank_CodeEntitlements){CFSTR("com.apple.security.print")};
const CFStringConstant kAppleSecurityFilesBookmarksAppScope CORE_INIT_ORDER(kCoreInitRank_CodeEntitlements){CFSTR("com.apple.security.files.bookmarks.app-scope")};

// ---------------------------------------------------------------- shared steps

namespace CodeEntitlementsReading {

CFStringRef SigningIdentifier(SecStaticCodeRef code, CFDictionaryRef* out_signedInfo)
{
    *out_signedInfo = nullptr;
    if (SecCodeCopySigningInformation(code, kSecCSSigningInformation, out_signedInfo) != errSecSuccess || !*out_signedInfo)
        return nullptr;
    const void* identifier = CFDictionaryGetValue(*out_signedInfo, CFSTR("identifier"));
    return identifier && CFGetTypeID(static_cast<CFTypeRef>(identifier)) == CFStringGetTypeID()
               ? static_cast<CFStringRef>(identifier)
               : nullptr;
}

CFDataRef EntitlementsBlob(SecStaticCodeRef code, CFDictionaryRef* out_requirements)
{
    *out_requirements = nullptr;
    if (SecCodeCopySigningInformation(code, kSecCSRequirementInformation, out_requirements) != errSecSuccess ||
        !*out_requirements)
        return nullptr;
    const void* blob = CFDictionaryGetValue(*out_requirements, kSecCodeInfoEntitlements);
    return blob && CFGetTypeID(static_cast<CFTypeRef>(blob)) == CFDataGetTypeID() ? static_cast<CFDataRef>(blob) : nullptr;
}

CFDictionaryRef CopyEntitlementsDictionaryFromBlobData(CFDataRef data)
{
    const CFIndex length = CFDataGetLength(data);
    if (!data || length <= 8)
        return nullptr;
    const UInt8* bytes = CFDataGetBytePtr(data);
    auto bigEndian = [](const UInt8* p) {
        return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
    };
    if (bigEndian(bytes) != 0xFADE7171u || bigEndian(bytes + 4) != static_cast<uint64_t>(length))
        return nullptr;
    CFDataRef xml = CFDataCreate(kCFAllocatorDefault, bytes + 8, length - 8);
    CFPropertyListRef plist = CFPropertyListCreateFromXMLData(kCFAllocatorDefault, xml, kCFPropertyListImmutable, nullptr);
    CFRelease(xml);
    if (!plist)
        return nullptr;
    if (CFGetTypeID(plist) != CFDictionaryGetTypeID()) {
        CFRelease(plist);
        return nullptr;
    }
    return static_cast<CFDictionaryRef>(plist);
}

CFTypeRef CopyEntitlementKeyValue(CFDictionaryRef entitlements, CFStringRef key)
{
    if (!entitlements || !key)
        return nullptr;
    CFTypeRef value = static_cast<CFTypeRef>(CFDictionaryGetValue(entitlements, key));
    return value ? CFRetain(value) : nullptr;
}

bool HasEntitlementAndBooleanValueIsTrue(CFDictionaryRef entitlements, CFStringRef key)
{
    CFTypeRef value = CopyEntitlementKeyValue(entitlements, key);
    if (!value)
        return false;
    bool isTrue = CFGetTypeID(value) == CFBooleanGetTypeID() && CFBooleanGetValue(static_cast<CFBooleanRef>(value));
    CFRelease(value);
    return isTrue;
}

} // namespace CodeEntitlementsReading

// ---------------------------------------------------------------- the running program

using Shared = TCodeEntitlementsModel<UCodeEntitlements>;

UCodeEntitlements::UCodeEntitlements() { Construct(); }

UCodeEntitlements::~UCodeEntitlements() { Shared::Release(*this); }

bool UCodeEntitlements::Construct()
{
    CFStringRef identifier = nullptr;
    CFDictionaryRef dictionary = nullptr;
    SecCodeRef code = nullptr;
    if (SecCodeCopySelf(kSecCSDefaultFlags, &code) == errSecSuccess && code) {
        CFDataRef blob = nullptr;
        identifier = Shared::Read(*this, code, blob);
        if (blob)
            dictionary = copyEntitlementsDictionaryFromBlobData(blob);
        CFRelease(code);
    }
    SetSignedBundleID(identifier);
    SetCodeSignedEntitlementsCopy(dictionary);
    return dictionary != nullptr;
}

CFDictionaryRef UCodeEntitlements::copyEntitlementsDictionaryFromBlobData(CFDataRef data) const
{
    return CodeEntitlementsReading::CopyEntitlementsDictionaryFromBlobData(data);
}

void UCodeEntitlements::SetSignedBundleID(CFStringRef identifier) { Shared::SetSignedBundleID(*this, identifier); }
void UCodeEntitlements::SetCodeSignedEntitlementsCopy(CFDictionaryRef entitlements)
{
    Shared::SetCodeSignedEntitlementsCopy(*this, entitlements);
}
CFStringRef UCodeEntitlements::CopySignedBundleID() const { return Shared::CopySignedBundleID(*this); }
CFTypeRef UCodeEntitlements::CopyEntitlementKeyValue(CFStringRef key) const { return Shared::CopyEntitlementKeyValue(*this, key); }
bool UCodeEntitlements::HasEntitlementAndBooleanValueIsTrue(CFStringRef key) const
{
    return Shared::HasEntitlementAndBooleanValueIsTrue(*this, key);
}
bool UCodeEntitlements::IsBinaryCodeSignedWithEntitlements() const { return Shared::IsBinaryCodeSignedWithEntitlements(*this); }
bool UCodeEntitlements::HasAccessToAllEntitlements() const { return Shared::HasAccessToAllEntitlements(*this); }
bool UCodeEntitlements::HasActiveSecuritySandbox() const { return Shared::HasActiveSecuritySandbox(*this); }
bool UCodeEntitlements::HasAccessToNetworkClient() const { return Shared::HasAccessTo(*this, kAppleSecurityNetworkClientEntitlementKey); }
bool UCodeEntitlements::HasAccessToNetworkServer() const { return Shared::HasAccessTo(*this, kAppleSecurityNetworkServerEntitlementKey); }
bool UCodeEntitlements::HasAccessToCameraDevice() const { return Shared::HasAccessTo(*this, kAppleSecurityDeviceCameraEntitlementKey); }
bool UCodeEntitlements::HasAccessToPrinting() const { return Shared::HasAccessTo(*this, kAppleSecurityPrintEntitlementKey); }
bool UCodeEntitlements::HasActiveSecurityBookmarksAppScope() const
{
    return Shared::HasAccessTo(*this, kAppleSecurityFilesBookmarksAppScope);
}

bool UCodeEntitlements::IsSystemLionWithSandboxOrLater() { return !CoreSystem::IsEarlierThanRevision(0x1070); }

// Built at program load, after the modules it relies on (see the static
// initialisation order), and destroyed at exit.
UCodeEntitlements UCodeEntitlements::sEntitlements CORE_INIT_ORDER(kCoreInitRank_CodeEntitlements);
