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
// Every key below depends on privateURL and fileURLUpdated, as the inherited
// keys do.
#pragma once

#include "CoreServices/LaunchServices.h"
#include "UFileAttributesController.h"

// "com.apple.quarantine", the extended attribute holding the record.
extern NSString* const kAppleQuarantineKeyName;

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
    // False removes the record and, when that succeeded, bumps the counter a
    // second time (two in all). True does nothing at all.
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
};
