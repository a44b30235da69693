#include "FileControllers.h"

#include "sys/AppleDouble.h"

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

// A word for a POSIX shell: in double quotes, with the four characters that
// keep a meaning there escaped.
std::string shellWord(const std::string& text)
{
    std::string word = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\' || c == '$' || c == '`')
            word += '\\';
        word += c;
    }
    return word + "\"";
}

// Whether taking the record out of the AppleDouble file at `path` would
// leave nothing in it (the removal then deletes the file).
bool companionHoldsOnlyTheRecord(const std::string& path)
{
    std::vector<uint8_t> bytes;
    sentrel::sys::AppleDoubleParse parse = sentrel::sys::readAppleDoubleFile(path, &bytes);
    if (parse.status != sentrel::sys::AppleDoubleStatus::ok)
        return false;
    std::erase_if(parse.file.attributes, [](const auto& a) { return a.name == "com.apple.quarantine"; });
    return sentrel::sys::appleDoubleIsEmpty(parse.file, bytes);
}

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
    static const std::string own = "attribute ", samba = "Samba stream ";
    static const std::string besideCompanion = "AppleDouble ", zippedCompanion = "AppleDouble in __MACOSX ";
    std::vector<std::string> commands;
    bool rewriteAsked = false;
    NSArray* sources = m_attributes->quarantineRecordSources();
    for (NSUInteger i = 0; sources && i < sources->count(); ++i) {
        const std::string line = utf8(sources->objectAtIndex(i));
        std::string companion;
        if (line.rfind(own, 0) == 0)
            commands.push_back("xattr -d " + line.substr(own.size()) + " " + shellWord(m_path));
        else if (line.rfind(samba, 0) == 0)
            commands.push_back("setfattr -x " + shellWord(line.substr(samba.size())) + " " + shellWord(m_path));
        else if (line.rfind(zippedCompanion, 0) == 0)
            companion = line.substr(zippedCompanion.size());
        else if (line.rfind(besideCompanion, 0) == 0)
            companion = line.substr(besideCompanion.size());
        // An unreadable companion holds no record that could be removed.
        if (companion.empty())
            continue;
        if (companionHoldsOnlyTheRecord(companion)) {
            commands.push_back("rm " + shellWord(companion));
        } else if (!rewriteAsked) {
            commands.push_back("sentrel-inspect --remove-quarantine " + shellWord(m_path) +
                               "   # rewrites the AppleDouble file without the record");
            rewriteAsked = true;
        }
    }
    return commands;
}
