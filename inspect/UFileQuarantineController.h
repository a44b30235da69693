// The quarantine record of the inspected file: the value of its extended
// attribute "com.apple.quarantine", read anew at every access.
//
// The record is UTF-8 text that ends at the value's end or at its first NUL
// byte. It is cut into fields at every ";" (no trimming; an empty stretch is
// an empty field, the empty text one empty field):
//
//   field 0  arrival kind: decimal value 2 is a web download, anything else
//            keeps the field's text
//   field 1  time of quarantine: unsigned 32-bit hexadecimal seconds since
//            1970-01-01 00:00:00 UTC
//   field 2  the agent (the application that wrote the record)
//   3...     not interpreted
//
// The same record reaches Linux by other roads, each read as the record:
//
//   - a Samba share keeps a Mac client's attribute as the named-stream
//     attribute "user.DosStream.com.apple.quarantine:$DATA" (the value with
//     or without a trailing NUL);
//   - an AppleDouble file "._<name>" beside the file, or
//     "<root>/__MACOSX/<folders>/._<name>" where a zip made on a Mac was
//     unpacked, carries the attribute in its ATTR block (sys/AppleDouble.h).
//
// The keys above quarantineRecordSources keep speaking of the file's own
// attribute; the ones from quarantineRecordSources on say what else was
// found and where. Every key depends on privateURL and fileURLUpdated, as
// the inherited keys do.
#pragma once

#include "CoreServices/LaunchServices.h"
#include "UFileAttributesController.h"

#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace sentrel::sys {
struct AppleDoubleParse;
}

// "com.apple.quarantine", the extended attribute holding the record.
extern NSString* const kAppleQuarantineKeyName;
// "user.DosStream.com.apple.quarantine:$DATA", the record as Samba keeps it.
extern NSString* const kSambaQuarantineKeyName;

class UFileQuarantineController : public UFileAttributesController {
    OBJC_CLASS(UFileQuarantineController, UFileAttributesController)
public:
    UFileQuarantineController() = default;
    UFileQuarantineController* init()
    {
        return UFileAttributesController::init() ? this : nil;
    }

    // Whether the record is present with at least one byte.
    bool quarantined() const;
    // False removes the record from every place it was found: the file's own
    // attribute, the Samba stream attribute, and the attribute inside each
    // AppleDouble companion (the companion written again without it, or
    // deleted when nothing else is left in it). When anything was removed
    // the counter is bumped once more (two in all when the file's own
    // attribute went, which bumps it itself). True does nothing at all.
    void setQuarantined(bool quarantined);

    // The record's text: "" without a URL or record, nil when it is not UTF-8.
    virtual NSString* quarantineAttributesStringData() const;
    NSString* quarantineDescription() const;
    // The fields; nil when the text is nil.
    virtual NSArray* quarantineAttributes() const;
    // The field at the index, or nil.
    NSString* quarantineAttributeWithIndex(uint32_t index) const;
    // Field 1 as a date, or nil.
    NSDate* quarantineTimestamp() const;

    // The field value answering a quarantine key (kLSQuarantineTypeKey,
    // kLSQuarantineTimeStampKey, kLSQuarantineAgentNameKey; "" for any other).
    NSString* quarantineAttributeWithNameFromIndex(CFStringRef key) const;
    NSString* quarantineAttributeWithName(CFStringRef key) const;

    NSString* quarantineType() const;
    NSString* quarantineTypeDescription() const;
    // Short date and full time, in the user's locale and time zone; "" without
    // a time.
    NSString* quarantineDate() const;
    NSString* quarantineAgent() const;
    NSString* quarantineAgentBundleID() const;
    NSString* quarantineAgentDescription() const;
    NSString* quarantineDownloadedFromWhere() const;
    NSString* quarantineDataValue() const;
    // Launch Services' quarantine properties of the file, or an empty
    // dictionary.
    NSDictionary* quarantineProperties() const;

    // Where a record was found, one line each, in the order they are read:
    //   "attribute com.apple.quarantine"
    //   "Samba stream user.DosStream.com.apple.quarantine:$DATA"
    //   "AppleDouble <path of ._name>"
    //   "AppleDouble in __MACOSX <path of __MACOSX/.../._name>"
    // An AppleDouble file that cannot be read gives
    //   "unreadable AppleDouble <path>: <why>"
    // (and no record). Empty without a URL.
    NSArray* quarantineRecordSources() const;
    // Whether a record was found anywhere.
    bool quarantinedAnywhere() const;
    // The record's text from the first place it was found ("" when none,
    // nil when it is not UTF-8), read as the own attribute's is.
    NSString* quarantineFoundRecord() const;
    // The addresses the file came from, each once, in this order: the
    // browser's "xdg.origin.url" and "xdg.referrer.url" attributes, then the
    // strings of the kMDItemWhereFroms property list in the file's own
    // attribute and in its AppleDouble companions.
    NSArray* quarantineWhereFrom() const;

    // Where the AppleDouble companions of the file at `path` are, each with
    // the label of its place ("AppleDouble", "AppleDouble in __MACOSX"), and
    // one of them read whole: from the file system (sys/AppleDouble.h). Every
    // key reads the companions through these two, as it reads attributes
    // through extendedAttributeForKeyName.
    // The shell commands that remove each record found elsewhere than in
    // the file's own attribute, in the order of quarantineRecordSources, for
    // a user to run where the program cannot (in a sandbox): the Samba
    // attribute by name, a companion that holds nothing but the record
    // deleted, and for one that holds more, which no common tool rewrites,
    // this program's own removal ("sentrel-inspect --remove-quarantine").
    // The file is named by `shownPath` (the path as the user gave it).
    std::vector<std::string> quarantineRemovalCommandsElsewhere(const std::string& shownPath) const;
    // `text` as one word for a POSIX shell: in double quotes, with the four
    // characters that keep a meaning there escaped.
    static std::string shellWord(const std::string& text);
    virtual std::vector<std::pair<std::string, const char*>> appleDoubleCompanionPaths(const char* path) const;
    virtual sentrel::sys::AppleDoubleParse readAppleDoubleCompanion(const std::string& path) const;

    static NSSet* keyPathsForValuesAffectingQuarantineRecordSources();
    static NSSet* keyPathsForValuesAffectingQuarantinedAnywhere();
    static NSSet* keyPathsForValuesAffectingQuarantineFoundRecord();
    static NSSet* keyPathsForValuesAffectingQuarantineWhereFrom();
    static NSSet* keyPathsForValuesAffectingQuarantineDataValue();
    static NSSet* keyPathsForValuesAffectingQuarantineDownloadedFromWhere();
    static NSSet* keyPathsForValuesAffectingQuarantineAgentDescription();
    static NSSet* keyPathsForValuesAffectingQuarantineAgentBundleID();
    static NSSet* keyPathsForValuesAffectingQuarantineAgent();
    static NSSet* keyPathsForValuesAffectingQuarantineDate();
    static NSSet* keyPathsForValuesAffectingQuarantineTypeDescription();
    static NSSet* keyPathsForValuesAffectingQuarantineType();
    static NSSet* keyPathsForValuesAffectingQuarantineTimestamp();
    static NSSet* keyPathsForValuesAffectingQuarantineProperties();
    static NSSet* keyPathsForValuesAffectingQuarantineDescription();
    static NSSet* keyPathsForValuesAffectingQuarantineAttributes();
    static NSSet* keyPathsForValuesAffectingQuarantineAttributesStringData();
    static NSSet* keyPathsForValuesAffectingQuarantined();

private:
    // The companions as last read, with the change counter and path they were
    // read at: every key of one state of the file asks for them, and a bump
    // of fileURLUpdated (or another file) has them read again.
    struct CompanionsRead;
    mutable std::shared_ptr<const CompanionsRead> m_companionsRead;
    std::shared_ptr<const CompanionsRead> companionsRead() const;
};
