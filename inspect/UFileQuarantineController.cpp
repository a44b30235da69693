#include "UFileQuarantineController.h"

#include <cstring>

NSString* const kAppleQuarantineKeyName = NSSTR("com.apple.quarantine");

namespace {

// The record's text ends at the value's end or at its first NUL byte.
NSString* recordText(const NSData* value)
{
    const void* nul = std::memchr(value->bytes(), '\0', value->length());
    const NSUInteger length =
        nul ? static_cast<NSUInteger>(static_cast<const uint8_t*>(nul) - value->bytes()) : value->length();
    return NSString::stringWithBytes(value->bytes(), length, NSUTF8StringEncoding);
}

// The arrival kinds, in the order they are tried.
struct ArrivalKind {
    CFStringRef type;
    const char* description;
};

NSString* arrivalDescription(const NSString* type)
{
    const ArrivalKind kinds[] = {
        {kLSQuarantineTypeWebDownload, "Web Download"},
        {kLSQuarantineTypeOtherDownload, "Other Download"},
        {kLSQuarantineTypeEmailAttachment, "Email Attachment"},
        {kLSQuarantineTypeInstantMessageAttachment, "Instant Message Attachment"},
        {kLSQuarantineTypeCalendarEventAttachment, "Calendar Event Attachment"},
        {kLSQuarantineTypeOtherAttachment, "Other Attachment"},
    };
    for (const ArrivalKind& kind : kinds)
        if (CFEqual(type, kind.type))
            return NSSTR(kind.description);
    return NSSTR("");
}

bool sameKey(CFStringRef a, CFStringRef b) { return a && b && CFEqual(a, b); }

} // namespace

OBJC_IMPLEMENTATION(UFileQuarantineController, UFileAttributesController)
{
    using C = UFileQuarantineController;
    cls.property("quarantined", &C::quarantined, &C::setQuarantined);
    cls.property("quarantineAttributes", &C::quarantineAttributes);
    cls.property("quarantineDescription", &C::quarantineDescription);
    cls.property("quarantineType", &C::quarantineType);
    cls.property("quarantineTypeDescription", &C::quarantineTypeDescription);
    cls.property("quarantineDate", &C::quarantineDate);
    cls.property("quarantineAgent", &C::quarantineAgent);
    cls.property("quarantineAgentBundleID", &C::quarantineAgentBundleID);
    cls.property("quarantineAgentDescription", &C::quarantineAgentDescription);
    cls.property("quarantineDownloadedFromWhere", &C::quarantineDownloadedFromWhere);
    cls.property("quarantineDataValue", &C::quarantineDataValue);
    cls.property("quarantineAttributesStringData", &C::quarantineAttributesStringData);
    cls.property("quarantineTimestamp", &C::quarantineTimestamp);
    cls.property("quarantineProperties", &C::quarantineProperties);

    cls.dependentKeys("quarantineDataValue", &C::keyPathsForValuesAffectingQuarantineDataValue);
    cls.dependentKeys("quarantineDownloadedFromWhere", &C::keyPathsForValuesAffectingQuarantineDownloadedFromWhere);
    cls.dependentKeys("quarantineAgentDescription", &C::keyPathsForValuesAffectingQuarantineAgentDescription);
    cls.dependentKeys("quarantineAgentBundleID", &C::keyPathsForValuesAffectingQuarantineAgentBundleID);
    cls.dependentKeys("quarantineAgent", &C::keyPathsForValuesAffectingQuarantineAgent);
    cls.dependentKeys("quarantineDate", &C::keyPathsForValuesAffectingQuarantineDate);
    cls.dependentKeys("quarantineTypeDescription", &C::keyPathsForValuesAffectingQuarantineTypeDescription);
    cls.dependentKeys("quarantineType", &C::keyPathsForValuesAffectingQuarantineType);
    cls.dependentKeys("quarantineTimestamp", &C::keyPathsForValuesAffectingQuarantineTimestamp);
    cls.dependentKeys("quarantineProperties", &C::keyPathsForValuesAffectingQuarantineProperties);
    cls.dependentKeys("quarantineDescription", &C::keyPathsForValuesAffectingQuarantineDescription);
    cls.dependentKeys("quarantineAttributes", &C::keyPathsForValuesAffectingQuarantineAttributes);
    cls.dependentKeys("quarantineAttributesStringData", &C::keyPathsForValuesAffectingQuarantineAttributesStringData);
    cls.dependentKeys("quarantined", &C::keyPathsForValuesAffectingQuarantined);
}

// ---------------------------------------------------------------- key dependencies

#define QUARANTINE_KEY_DEPENDS_ON_ALL_ATTRIBUTES(Key)                      \
    NSSet* UFileQuarantineController::keyPathsForValuesAffecting##Key()    \
    {                                                                      \
        return UFileQuarantineController::keyPathsForValuesAffectingAllAttributes(); \
    }
QUARANTINE_KEY_DEPENDS_ON_ALL_ATTRIBUTES(QuarantineDataValue)
QUARANTINE_KEY_DEPENDS_ON_ALL_ATTRIBUTES(QuarantineDownloadedFromWhere)
QUARANTINE_KEY_DEPENDS_ON_ALL_ATTRIBUTES(QuarantineAgentDescription)
QUARANTINE_KEY_DEPENDS_ON_ALL_ATTRIBUTES(QuarantineAgentBundleID)
QUARANTINE_KEY_DEPENDS_ON_ALL_ATTRIBUTES(QuarantineAgent)
QUARANTINE_KEY_DEPENDS_ON_ALL_ATTRIBUTES(QuarantineDate)
QUARANTINE_KEY_DEPENDS_ON_ALL_ATTRIBUTES(QuarantineTypeDescription)
QUARANTINE_KEY_DEPENDS_ON_ALL_ATTRIBUTES(QuarantineType)
QUARANTINE_KEY_DEPENDS_ON_ALL_ATTRIBUTES(QuarantineTimestamp)
QUARANTINE_KEY_DEPENDS_ON_ALL_ATTRIBUTES(QuarantineProperties)
QUARANTINE_KEY_DEPENDS_ON_ALL_ATTRIBUTES(QuarantineDescription)
QUARANTINE_KEY_DEPENDS_ON_ALL_ATTRIBUTES(QuarantineAttributes)
QUARANTINE_KEY_DEPENDS_ON_ALL_ATTRIBUTES(QuarantineAttributesStringData)
QUARANTINE_KEY_DEPENDS_ON_ALL_ATTRIBUTES(Quarantined)
#undef QUARANTINE_KEY_DEPENDS_ON_ALL_ATTRIBUTES

// ---------------------------------------------------------------- the record

NSString* UFileQuarantineController::quarantineAttributesStringData() const
{
    if (!filePath())
        return NSSTR("");
    NSData* value = extendedAttributeForKeyName(kAppleQuarantineKeyName);
    if (!value)
        return NSSTR("");
    return recordText(value);
}

NSString* UFileQuarantineController::quarantineDescription() const { return quarantineAttributesStringData(); }

NSArray* UFileQuarantineController::quarantineAttributes() const
{
    NSString* text = quarantineAttributesStringData();
    return text ? text->componentsSeparatedByString(NSSTR(";")) : nil;
}

NSString* UFileQuarantineController::quarantineAttributeWithIndex(uint32_t index) const
{
    if (!quarantineAttributes())
        return nil;
    NSArray* fields = quarantineAttributes();
    if (!fields || fields->count() <= index)
        return nil;
    // The record is read a third time; it may have lost fields since.
    try {
        fields = quarantineAttributes();
        return fields ? static_cast<NSString*>(fields->objectAtIndex(index)) : nil;
    } catch (NSException* exception) {
        NSLog("NSException %@\n", exception);
        return nil;
    }
}

NSDate* UFileQuarantineController::quarantineTimestamp() const
{
    if (!quarantineAttributeWithIndex(1))
        return nil;
    // The scan's success is not consulted: a field without hexadecimal
    // digits counts as 0.
    unsigned seconds = 0;
    NSScanner::scannerWithString(quarantineAttributeWithIndex(1))->scanHexInt(&seconds);
    return NSDate::dateWithTimeIntervalSince1970(static_cast<double>(seconds));
}

NSString* UFileQuarantineController::quarantineAttributeWithNameFromIndex(CFStringRef key) const
{
    if (sameKey(key, kLSQuarantineTypeKey)) {
        NSString* field = quarantineAttributeWithIndex(0);
        if (!field)
            return NSSTR("");
        // Leading white space, an optional sign and decimal digits; 0 when
        // there are none.
        int kind = 0;
        if (!NSScanner::scannerWithString(field)->scanInt(&kind))
            kind = 0;
        if (kind == 2)
            return const_cast<NSString*>(kLSQuarantineTypeWebDownload);
        return field;
    }
    if (sameKey(key, kLSQuarantineTimeStampKey)) {
        NSDate* timestamp = quarantineTimestamp();
        if (!timestamp)
            return NSSTR("");
        return NSDateFormatter::localizedStringFromDate(timestamp, NSDateFormatterShortStyle, NSDateFormatterFullStyle);
    }
    if (sameKey(key, kLSQuarantineAgentNameKey))
        return quarantineAttributeWithIndex(2);
    return NSSTR("");
}

NSString* UFileQuarantineController::quarantineAttributeWithName(CFStringRef key) const
{
    return quarantineAttributeWithNameFromIndex(key);
}

NSString* UFileQuarantineController::quarantineType() const
{
    return quarantineAttributeWithName(kLSQuarantineTypeKey);
}

NSString* UFileQuarantineController::quarantineDate() const
{
    return quarantineAttributeWithName(kLSQuarantineTimeStampKey);
}

NSString* UFileQuarantineController::quarantineAgent() const
{
    return quarantineAttributeWithName(kLSQuarantineAgentNameKey);
}

NSString* UFileQuarantineController::quarantineAgentBundleID() const
{
    return quarantineAttributeWithName(kLSQuarantineAgentBundleIdentifierKey);
}

NSString* UFileQuarantineController::quarantineDownloadedFromWhere() const
{
    return quarantineAttributeWithName(kLSQuarantineOriginURLKey);
}

NSString* UFileQuarantineController::quarantineDataValue() const
{
    return quarantineAttributeWithName(kLSQuarantineDataURLKey);
}

NSString* UFileQuarantineController::quarantineAgentDescription() const
{
    NSString* agent = quarantineAgent();
    NSString* bundleID = quarantineAgentBundleID();
    return NSString::stringWithFormat("%@ %@", agent ? agent : NSSTR(""), bundleID ? bundleID : NSSTR(""));
}

NSString* UFileQuarantineController::quarantineTypeDescription() const
{
    NSString* type = quarantineType();
    NSString* description = type ? arrivalDescription(type) : NSSTR("");
    return NSString::stringWithFormat("%@ %@", description, type ? type : NSSTR(""));
}

// ---------------------------------------------------------------- the attribute itself

bool UFileQuarantineController::quarantined() const { return hasExtendedAttributeForKeyName(kAppleQuarantineKeyName); }

void UFileQuarantineController::setQuarantined(bool quarantined)
{
    if (quarantined)
        return;
    if (removeExtendedAttributeForKeyName(kAppleQuarantineKeyName))
        fileMarkAttributesAsDirty();
}

NSDictionary* UFileQuarantineController::quarantineProperties() const
{
    NSDictionary* empty = NSDictionary::dictionary();
    if (!filePath() || !quarantined())
        return empty;
    FSRef ref;
    std::memset(&ref, 0, sizeof ref);
    if (!CFURLGetFSRef(fileURL(), &ref))
        return empty;
    CFTypeRef value = nullptr;
    if (LSCopyItemAttribute(&ref, kLSRolesAll, kLSItemQuarantineProperties, &value) != noErr || !value)
        return empty;
    NSDictionary* result = empty;
    if (CFGetTypeID(value) == CFDictionaryGetTypeID())
        result = NSDictionary::dictionaryWithDictionary(static_cast<const NSDictionary*>(value));
    CFRelease(value);
    return result;
}
