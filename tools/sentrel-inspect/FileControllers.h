// One file inspected the way a document window does it: an entitlements
// controller and a quarantine controller given the file's URL in that order,
// then every property of both read back through key-value coding.
#pragma once

#include "UApplicationEntitlementsController.h"
#include "UFileQuarantineController.h"

#include <string>
#include <vector>

struct ReportField {
    std::string key;
    Retained<NSObject> value;   // nil when the controller answers nothing
};

struct ReportSection {
    std::string title;          // "File", "Quarantine", "Code signature"
    std::vector<ReportField> fields;
};

struct CertificateRow {
    int index = 0;
    std::string commonName;
    std::string fingerprint;    // 40 uppercase hexadecimal digits, "" when unreadable
    bool appleOfficial = false;
};

struct SliceRow {
    std::string architecture;
    std::string identifier;
    std::string signature;      // "none", "ad-hoc", "certificates"
    bool chosen = false;
};

struct FileReport {
    std::string path;
    std::vector<ReportSection> sections;
    std::vector<CertificateRow> certificates;
    std::string credentialsDescription;   // "" without certificates
    std::vector<SliceRow> slices;          // universal files only
};

class FileControllers {
public:
    // Opens the file at `path` (its bytes as given on the command line); with
    // `verify`, also verifies its signature, whose verdict the report then shows.
    FileControllers(const std::string& path, bool verify);

    FileReport report() const;
    bool quarantined() const { return m_attributes->quarantined(); }
    // Whether a quarantine record is there in any place the controller reads
    // one from (quarantineRecordSources): the file's own attribute, the Samba
    // stream attribute or an AppleDouble companion.
    bool hasQuarantineRecord() const { return m_attributes->quarantinedAnywhere(); }
    // The shell commands that remove every record found, one a line, in the
    // order of quarantineRecordSources, for a user to run where the program
    // cannot (in a sandbox): the own and the Samba attribute by name, a
    // companion that holds nothing but the record deleted, and for one that
    // holds more, which no common tool rewrites, this program's removal.
    std::vector<std::string> quarantineRemovalCommands() const;
    // The document's removal action when the program runs without a sandbox;
    // false when the record is still there afterwards.
    bool removeQuarantine();

private:
    std::string m_path;
    bool m_verify = false;
    Retained<UFileQuarantineController> m_attributes;
    Retained<UApplicationEntitlementsController> m_entitlements;
};
