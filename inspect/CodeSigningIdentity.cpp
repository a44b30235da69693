#include "CodeSigningIdentity.h"

#include "VerifyInMethod.h"
#include "NSData_SecCertificateRef.h"

OBJC_IMPLEMENTATION(CodeSigningIdentity, SecureSigningIdentity)
{
    cls.property("signingInfoDictionary", &CodeSigningIdentity::signingInfoDictionary,
                 &CodeSigningIdentity::setSigningInfoDictionary);
    cls.property("intermediateCommonName", &CodeSigningIdentity::intermediateCommonName);
    cls.property("intermediateFingerprint", &CodeSigningIdentity::intermediateFingerprint);
    cls.property("credentialsDescription", &CodeSigningIdentity::credentialsDescription);
}

CodeSigningIdentity::~CodeSigningIdentity()
{
    m_staticCodeRef = nullptr;
    m_signingInfoDictionary = nil;
}

NSDictionary* CodeSigningIdentity::signingInfoDictionaryWithSecStaticCodeRef(SecStaticCodeRef staticCodeRef)
{
    CFDictionaryRef signingInfoDictionary = nullptr;
    OSStatus status = VERIFY_OSERR_IN("+[CodeSigningIdentity signingInfoDictionaryWithSecStaticCodeRef:]",
                                      SecCodeCopySigningInformation(staticCodeRef,kSecCSSigningInformation, &signingInfoDictionary));
    if (status != errSecSuccess || !signingInfoDictionary) {
        if (signingInfoDictionary)
            CFRelease(signingInfoDictionary);
        return NSDictionary::dictionary();
    }
    NSDictionary* copy = NSDictionary::dictionaryWithDictionary(signingInfoDictionary);
    CFRelease(signingInfoDictionary);
    return copy;
}

CodeSigningIdentity* CodeSigningIdentity::signingIdentityWithSecStaticCodeRef(SecStaticCodeRef staticCodeRef)
{
    CodeSigningIdentity* identity = alloc()->initWithSecStaticCodeRef(staticCodeRef);
    return identity ? static_cast<CodeSigningIdentity*>(identity->autorelease()) : nil;
}

CodeSigningIdentity* CodeSigningIdentity::signingIdentityWithCertificateArray(NSArray* certificates)
{
    CodeSigningIdentity* identity = alloc();
    identity->initWithCertificateArray(certificates);
    return static_cast<CodeSigningIdentity*>(identity->autorelease());
}

CodeSigningIdentity* CodeSigningIdentity::initWithSecStaticCodeRef(SecStaticCodeRef staticCodeRef)
{
    if (!staticCodeRef) {
        release();
        return nil;
    }
    NSDictionary* signingInfo = signingInfoDictionaryWithSecStaticCodeRef(staticCodeRef);
    id certificates = signingInfo->objectForKey(kSecCodeInfoCertificates);
    if (!certificates || !certificates->isKindOfClass(NSArray::class_())) {
        release();
        return nil;
    }
    initWithCertificateArray(static_cast<NSArray*>(certificates));
    setSigningInfoDictionary(signingInfo);
    m_staticCodeRef = staticCodeRef;
    return this;
}

CodeSigningIdentity* CodeSigningIdentity::initWithSigningIdentity(const CodeSigningIdentity* other)
{
    SecureSigningIdentity::initWithSigningIdentity(other);
    if (other) {
        m_staticCodeRef = other->staticCodeRef();
        if (other->staticCodeRef())
            setSigningInfoDictionary(other->signingInfoDictionary());
    }
    return this;
}

// Each predicate tests its fingerprint first and the name only on a match.

bool CodeSigningIdentity::isAppleCredentials() const
{
    return rootFingerprint()->isCertificateFingerprintBytesEqual(kAppleCertificateAuthority_ROOT_SecCertificateFingerprintBytes) &&
           rootCommonName()->isEqualToString(NSSTR("Apple Root CA"));
}

bool CodeSigningIdentity::isAppleSystemSoftwareCredentials() const
{
    return leafFingerprint()->isCertificateFingerprintBytesEqual(kAppleSoftwareSigning_LEAF_SecCertificateFingerprintBytes);
}

bool CodeSigningIdentity::isAppleDeveloperIDCredentials() const
{
    return intermediateFingerprint()->isCertificateFingerprintBytesEqual(kApple_DEVID_INTERMEDIATE_SecCertificateFingerprintBytes) &&
           intermediateCommonName()->isEqualToString(NSSTR("Developer ID Certification Authority"));
}

bool CodeSigningIdentity::isAppleMASDeveloperCredentials() const
{
    return intermediateFingerprint()->isCertificateFingerprintBytesEqual(kApple_WWDR_INTERMEDIATE_SecCertificateFingerprintBytes);
}

bool CodeSigningIdentity::isAppleMASDeveloperSignedByMASStoreCredentials() const
{
    return isAppleMASDeveloperCredentials() &&
           leafFingerprint()->isCertificateFingerprintBytesEqual(kAppleMacOSApplicationSigning_LEAF_SecCertificateFingerprintBytes) &&
           leafCommonName()->isEqualToString(NSSTR("Apple Mac OS Application Signing"));
}

NSString* CodeSigningIdentity::credentialsDescription() const
{
    if (isAppleDeveloperIDCredentials())
        return NSSTR("Apple 'Developer ID' Credentials");
    if (isAppleMASDeveloperSignedByMASStoreCredentials())
        return NSSTR("Apple Mac App Store Software Signing Credentials");
    if (isAppleMASDeveloperCredentials())
        return NSSTR("Apple Mac Developer Credentials");
    if (isAppleSystemSoftwareCredentials())
        return NSSTR("Apple System Software Credentials");
    if (isAppleCredentials())
        return NSSTR("Apple Credentials");
    return NSSTR("unknown");
}

NSString* CodeSigningIdentity::description() const
{
    NSMutableString* text = NSMutableString::stringWithString(NSStringFromClass(isa()));
    text->appendFormat("\r\n%@\r\n", credentialsDescription());
    text->appendFormat("leaf:'%@' '%@'\r\n", leafCommonName(), leafFingerprint()->certFingerprintHexString());
    text->appendFormat("cer1:'%@' '%@'\r\n", cert1CommonName(), cert1Fingerprint()->certFingerprintHexString());
    text->appendFormat("root:'%@' '%@'\r\n", rootCommonName(), rootFingerprint()->certFingerprintHexString());
    return text;
}
