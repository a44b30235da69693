// The summary of a certificate chain (leaf first, root last): common names and
// SHA-1 fingerprints of the leaf, the first intermediate and the root, a
// per-certificate dictionary of facts, and the chain as an HTML table.
#pragma once

#include "Security.h"

class SecureSigningIdentity : public NSObject {
    OBJC_CLASS(SecureSigningIdentity, NSObject)
public:
    SecureSigningIdentity() = default;

    static SecureSigningIdentity* signingIdentityWithCertificateArray(NSArray* certificates);
    SecureSigningIdentity* initWithCertificateArray(NSArray* certificates);
    SecureSigningIdentity* initWithSigningIdentity(const SecureSigningIdentity* other);

    void evaluateSigningCertDictionary();
    // A new certificate object from the encoded data of entry `index`, or nil;
    // the caller releases it.
    SecCertificateRef createCertificateNumber(NSInteger index) const;

    void setLeafCertificate(NSString* commonName, NSData* fingerprint);
    void setCert1Certificate(NSString* commonName, NSData* fingerprint);
    void setRootCertificate(NSString* commonName, NSData* fingerprint);

    NSArray* certificates() const { return m_certificates; }
    void setCertificates(NSArray* value) { setPropertyValue("certificates", m_certificates, value); }
    NSString* htmlDescription() const { return m_htmlDescription; }
    void setHtmlDescription(NSString* value) { setPropertyValue("htmlDescription", m_htmlDescription, value); }
    NSDictionary* signingDictionary() const { return m_signingDictionary; }
    void setSigningDictionary(NSDictionary* value) { setPropertyValue("signingDictionary", m_signingDictionary, value); }
    NSString* leafCommonName() const { return m_leafCommonName; }
    void setLeafCommonName(NSString* value) { setPropertyValue("leafCommonName", m_leafCommonName, value); }
    NSData* leafFingerprint() const { return m_leafFingerprint; }
    void setLeafFingerprint(NSData* value) { setPropertyValue("leafFingerprint", m_leafFingerprint, value); }
    NSString* cert1CommonName() const { return m_cert1CommonName; }
    void setCert1CommonName(NSString* value) { setPropertyValue("cert1CommonName", m_cert1CommonName, value); }
    NSData* cert1Fingerprint() const { return m_cert1Fingerprint; }
    void setCert1Fingerprint(NSData* value) { setPropertyValue("cert1Fingerprint", m_cert1Fingerprint, value); }
    NSString* rootCommonName() const { return m_rootCommonName; }
    void setRootCommonName(NSString* value) { setPropertyValue("rootCommonName", m_rootCommonName, value); }
    NSData* rootFingerprint() const { return m_rootFingerprint; }
    void setRootFingerprint(NSData* value) { setPropertyValue("rootFingerprint", m_rootFingerprint, value); }

protected:
    ~SecureSigningIdentity() override;

private:
    Retained<NSArray> m_certificates;
    Retained<NSString> m_htmlDescription;
    Retained<NSDictionary> m_signingDictionary;
    Retained<NSString> m_leafCommonName;
    Retained<NSData> m_leafFingerprint;
    Retained<NSString> m_cert1CommonName;
    Retained<NSData> m_cert1Fingerprint;
    Retained<NSString> m_rootCommonName;
    Retained<NSData> m_rootFingerprint;
};
