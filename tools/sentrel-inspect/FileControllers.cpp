#include "FileControllers.h"

#include <sys/stat.h>

namespace {

ReportSection readSection(const std::string& title, const NSObject* controller, const std::vector<std::string>& keys)
{
    ReportSection section{title, {}};
    for (const std::string& key : keys)
        section.fields.push_back({key, controller->valueForKey(key)});
    return section;
}

// The keys a class adds to its superclass's.
std::vector<std::string> ownKeys(Class cls)
{
    std::vector<std::string> all = cls->allPropertyKeys();
    std::vector<std::string> inherited = cls->superclass ? cls->superclass->allPropertyKeys() : std::vector<std::string>();
    std::vector<std::string> own;
    for (const std::string& key : all)
        if (std::find(inherited.begin(), inherited.end(), key) == inherited.end())
            own.push_back(key);
    return own;
}

std::string utf8(id value) { return value ? value->description()->utf8() : std::string(); }

} // namespace

FileControllers::FileControllers(const std::string& path, bool verify) : m_path(path), m_verify(verify)
{
    struct stat st{};
    bool isDirectory = ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
    NSURL* url = NSURL::fileURLWithFileSystemRepresentation(path.c_str(), isDirectory);
    m_entitlements = Retained<UApplicationEntitlementsController>::adopt(UApplicationEntitlementsController::alloc()->init());
    m_attributes = Retained<UFileQuarantineController>::adopt(UFileQuarantineController::alloc()->init());
    try {
        m_entitlements->setCodeBundleURL(url);
        m_attributes->setFileURL(url);
        if (verify)
            m_entitlements->verifySignatureNow();
    } catch (NSException*) {
        // As in a document: an exception while handing over the URL ends the
        // hand-over silently; the report shows what the controllers have.
    }
}

FileReport FileControllers::report() const
{
    FileReport report;
    report.path = m_path;
    report.sections.push_back(readSection("File", m_attributes, UFileAttributesController::class_()->allPropertyKeys()));
    report.sections.push_back(readSection("Quarantine", m_attributes, ownKeys(UFileQuarantineController::class_())));
    // The verdict's keys only when it was asked for: without it they would
    // all read "Not checked".
    std::vector<std::string> signatureKeys = UApplicationEntitlementsController::class_()->allPropertyKeys();
    if (!m_verify)
        std::erase_if(signatureKeys, [](const std::string& key) {
            return UApplicationEntitlementsController::verificationKeys()->containsObject(NSString::stringWithUTF8String(key.c_str()));
        });
    report.sections.push_back(readSection("Code signature", m_entitlements, signatureKeys));

    if (CodeSigningIdentity* identity = m_entitlements->signingIdentity()) {
        report.credentialsDescription = identity->credentialsDescription()->utf8();
        NSDictionary* facts = identity->signingDictionary();
        for (NSUInteger i = 0; i < identity->certificates()->count(); ++i) {
            auto* entry = static_cast<NSDictionary*>(facts->objectForKey(NSString::stringWithFormat("certificate[%d]", i)));
            if (!entry)
                continue;
            auto* fingerprint = static_cast<NSData*>(
                entry->objectForKey("SecCertificateCopyData(SecCertificateRef) SHA1 Fingerprint (X509 keyIdentifier)"));
            CertificateRow row;
            row.index = static_cast<int>(i);
            row.commonName = utf8(entry->objectForKey("SecCertificateCopyCommonName(SecCertificateRef)"));
            row.fingerprint = fingerprint ? fingerprint->certFingerprintHexString()->utf8() : "";
            row.appleOfficial = fingerprint && fingerprint->isCertificateAppleOfficial();
            report.certificates.push_back(row);
        }
    }
    if (NSDictionary* info = m_entitlements->codesignedInfoDictionary())
        if (id slices = info->objectForKey(kSecCodeInfoSlices))
            for (id slice : *static_cast<NSArray*>(slices)) {
                auto* s = static_cast<NSDictionary*>(slice);
                report.slices.push_back({utf8(s->objectForKey("architecture")), utf8(s->objectForKey("identifier")),
                                         utf8(s->objectForKey("signature")),
                                         static_cast<NSNumber*>(s->objectForKey("chosen"))->boolValue()});
            }
    return report;
}

bool FileControllers::removeQuarantine()
{
    m_attributes->setQuarantined(false);
    return !hasQuarantineRecord();
}

std::vector<std::string> FileControllers::quarantineRemovalCommands() const
{
    std::vector<std::string> commands;
    if (m_attributes->quarantined())
        commands.push_back("xattr -d com.apple.quarantine " + UFileQuarantineController::shellWord(m_path));
    for (std::string& command : m_attributes->quarantineRemovalCommandsElsewhere(m_path))
        commands.push_back(std::move(command));
    return commands;
}
