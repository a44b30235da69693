#include "SecureSigningIdentity.h"

#include "VerifyInMethod.h"
#include "NSData_SecCertificateRef.h"

OBJC_IMPLEMENTATION(SecureSigningIdentity, NSObject)
{
    cls.property("certificates", &SecureSigningIdentity::certificates, &SecureSigningIdentity::setCertificates);
    cls.property("htmlDescription", &SecureSigningIdentity::htmlDescription, &SecureSigningIdentity::setHtmlDescription);
    cls.property("signingDictionary", &SecureSigningIdentity::signingDictionary, &SecureSigningIdentity::setSigningDictionary);
    cls.property("leafCommonName", &SecureSigningIdentity::leafCommonName, &SecureSigningIdentity::setLeafCommonName);
    cls.property("leafFingerprint", &SecureSigningIdentity::leafFingerprint, &SecureSigningIdentity::setLeafFingerprint);
    cls.property("cert1CommonName", &SecureSigningIdentity::cert1CommonName, &SecureSigningIdentity::setCert1CommonName);
    cls.property("cert1Fingerprint", &SecureSigningIdentity::cert1Fingerprint, &SecureSigningIdentity::setCert1Fingerprint);
    cls.property("rootCommonName", &SecureSigningIdentity::rootCommonName, &SecureSigningIdentity::setRootCommonName);
    cls.property("rootFingerprint", &SecureSigningIdentity::rootFingerprint, &SecureSigningIdentity::setRootFingerprint);
}

SecureSigningIdentity* SecureSigningIdentity::signingIdentityWithCertificateArray(NSArray* certificates)
{
    SecureSigningIdentity* identity = alloc()->initWithCertificateArray(certificates);
    return identity ? static_cast<SecureSigningIdentity*>(identity->autorelease()) : nil;
}

SecureSigningIdentity* SecureSigningIdentity::initWithCertificateArray(NSArray* in_certificates)
{
    setCertificates(in_certificates);
    setLeafCommonName(NSSTR(""));
    setLeafFingerprint(NSData::data());
    setCert1CommonName(NSSTR(""));
    setCert1Fingerprint(NSData::data());
    setRootCommonName(NSSTR(""));
    setRootFingerprint(NSData::data());
    setHtmlDescription(NSSTR(""));
    setSigningDictionary(NSDictionary::dictionary());
    if (certificates())
        evaluateSigningCertDictionary();
    else
        setCertificates(NSArray::array());
    return this;
}

SecureSigningIdentity* SecureSigningIdentity::initWithSigningIdentity(const SecureSigningIdentity* other)
{
    return initWithCertificateArray(other ? other->certificates() : nil);
}

SecureSigningIdentity::~SecureSigningIdentity()
{
    m_certificates = nil;
    m_leafFingerprint = nil;
    m_leafCommonName = nil;
    m_cert1CommonName = nil;
    m_cert1Fingerprint = nil;
    m_rootCommonName = nil;
    m_rootFingerprint = nil;
    m_htmlDescription = nil;
    m_signingDictionary = nil;
}

void SecureSigningIdentity::setLeafCertificate(NSString* commonName, NSData* fingerprint)
{
    setLeafCommonName(commonName);
    setLeafFingerprint(fingerprint);
}

void SecureSigningIdentity::setCert1Certificate(NSString* commonName, NSData* fingerprint)
{
    setCert1CommonName(commonName);
    setCert1Fingerprint(fingerprint);
}

void SecureSigningIdentity::setRootCertificate(NSString* commonName, NSData* fingerprint)
{
    setRootCommonName(commonName);
    setRootFingerprint(fingerprint);
}

SecCertificateRef SecureSigningIdentity::createCertificateNumber(NSInteger index) const
{
    static const char kCreateCertificate[] = "-[SecureSigningIdentity createCertificateNumber:]";
    NSArray* chain = certificates();
    if (!chain || index < 0 || static_cast<NSUInteger>(index) >= chain->count())
        return nullptr;
    id entry = chain->objectAtIndex(static_cast<NSUInteger>(index));
    if (!entry || !entry->isKindOfClass(SecCertificate::class_()))
        return nullptr;
    SecCertificateRef cert = static_cast<SecCertificateRef>(entry);
    CSSM_DATA certificateData{};
    OSStatus status = VERIFY_OSERR_IN(kCreateCertificate, SecCertificateGetData(cert,&certificateData));
    if (status != errSecSuccess)
        return nullptr;
    SecCertificateRef signingCertificate = nullptr;
    status = VERIFY_OSERR_IN(kCreateCertificate, SecCertificateCreateFromData(&certificateData, CSSM_CERT_X_509v3,CSSM_CERT_ENCODING_DER,&signingCertificate));
    if (status != errSecSuccess)
        return nullptr;
    return signingCertificate;
}

void SecureSigningIdentity::evaluateSigningCertDictionary()
{
    NSMutableDictionary* dictionary = NSMutableDictionary::dictionary();
    setSigningDictionary(dictionary);
    NSMutableString* html = NSMutableString::string();
    html->appendUTF8("<TABLE><TBODY>");
    html->appendUTF8("<TR>");
    html->appendUTF8("<TD><B>#</B></TD>");
    html->appendUTF8("<TD></TD><TD><B>COMMON NAME</B></TD>");
    html->appendUTF8("<TD></TD><TD>&nbsp;</TD>");
    html->appendUTF8("<TD></TD><TD><B>FINGERPRINT (SHA1) x509 keyIdentifier</B></TD>");
    html->appendUTF8("</TR>");

    const NSInteger count = static_cast<NSInteger>(certificates() ? certificates()->count() : 0);
    const NSInteger last = count - 1;
    for (NSInteger i = 0; i < count; ++i) {
        AutoreleasePoolScope pool;
        SecCertificateRef signingCertificate = createCertificateNumber(i);
        if (!signingCertificate)
            break;
        CFStringRef _certCommonName = nullptr;
        OSStatus status = VERIFY_OSERR_IN("-[SecureSigningIdentity evaluateSigningCertDictionary]", SecCertificateCopyCommonName(signingCertificate, &_certCommonName));
        if (status == errSecSuccess && _certCommonName) {
            NSString* commonName = const_cast<NSString*>(_certCommonName);
            CFStringRef summary = SecCertificateCopySubjectSummary(signingCertificate);
            html->appendUTF8("<TR>");
            html->appendFormat("<TD>%1d</TD>", i);
            html->appendUTF8("<TD>&nbsp;</TD>");
            html->appendFormat("<TD><U>%@</U></TD>", commonName);
            html->appendUTF8("<TD>&nbsp;</TD>");

            uint8_t digest[CC_SHA1_DIGEST_LENGTH] = {};
            NSData* fingerprint = NSData::dataWithBytes(digest, sizeof digest);
            CSSM_DATA certificateData{};
            if (SecCertificateGetData(signingCertificate, &certificateData) == errSecSuccess) {
                CC_SHA1(certificateData.Data, static_cast<CC_LONG>(certificateData.Length), digest);
                fingerprint = NSData::dataWithBytes(digest, sizeof digest);
                html->appendFormat("<TD>%@</TD>", fingerprint->isCertificateAppleOfficial() ? NSSTR("&#63743;") : NSSTR("&nbsp;"));
                html->appendUTF8("<TD>&nbsp;</TD>");
                html->appendFormat("<TD>%@</TD>", fingerprint->certFingerprintRequirement_HQUOTED());
                if (i == 0)
                    setLeafCertificate(commonName, fingerprint);
                else if (i == 1)
                    setCert1Certificate(commonName, fingerprint);
                else if (i == last)
                    setRootCertificate(commonName, fingerprint);
            }
            html->appendUTF8("</TR>");

            NSMutableDictionary* entry = NSMutableDictionary::dictionary();
            entry->setObject(commonName, NSSTR("SecCertificateCopyCommonName(SecCertificateRef)"));
            entry->setObject(summary ? static_cast<id>(const_cast<NSString*>(summary)) : NSSTR(""),
                             NSSTR("SecCertificateCopySubjectSummary(SecCertificateRef)"));
            entry->setObject(fingerprint, NSSTR("SecCertificateCopyData(SecCertificateRef) SHA1 Fingerprint (X509 keyIdentifier)"));
            dictionary->setObject(entry, NSString::stringWithFormat("certificate[%d]", i));
            if (summary)
                CFRelease(summary);
        }
        if (_certCommonName)
            CFRelease(_certCommonName);
        CFRelease(signingCertificate);
    }
    html->appendUTF8("</TBODY></TABLE>");
    setHtmlDescription(NSString::stringWithString(html));
}
