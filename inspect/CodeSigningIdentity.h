// The signing identity of a code object: its certificate chain summarised,
// plus the Apple credential kind the chain proves.
#pragma once

#include "SecureSigningIdentity.h"

class CodeSigningIdentity : public SecureSigningIdentity {
    OBJC_CLASS(CodeSigningIdentity, SecureSigningIdentity)
public:
    CodeSigningIdentity() = default;

    // The code object's signing information, as an immutable copy; empty when
    // it cannot be read.
    static NSDictionary* signingInfoDictionaryWithSecStaticCodeRef(SecStaticCodeRef staticCodeRef);
    // nil for unsigned code and code signed without certificates.
    static CodeSigningIdentity* signingIdentityWithSecStaticCodeRef(SecStaticCodeRef staticCodeRef);
    static CodeSigningIdentity* signingIdentityWithCertificateArray(NSArray* certificates);
    CodeSigningIdentity* initWithSecStaticCodeRef(SecStaticCodeRef staticCodeRef);
    CodeSigningIdentity* initWithSigningIdentity(const CodeSigningIdentity* other);

    bool isAppleCredentials() const;
    bool isAppleSystemSoftwareCredentials() const;
    bool isAppleDeveloperIDCredentials() const;
    bool isAppleMASDeveloperCredentials() const;
    bool isAppleMASDeveloperSignedByMASStoreCredentials() const;
    NSString* credentialsDescription() const;
    NSString* description() const override;

    SecStaticCodeRef staticCodeRef() const { return m_staticCodeRef; }
    NSDictionary* signingInfoDictionary() const { return m_signingInfoDictionary; }
    void setSigningInfoDictionary(NSDictionary* value) { setPropertyValue("signingInfoDictionary", m_signingInfoDictionary, value); }
    NSString* intermediateCommonName() const { return cert1CommonName(); }
    NSData* intermediateFingerprint() const { return cert1Fingerprint(); }

protected:
    ~CodeSigningIdentity() override;

private:
    Retained<const SecStaticCode> m_staticCodeRef;
    Retained<NSDictionary> m_signingInfoDictionary;
};
