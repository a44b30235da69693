#include "UFileQuarantineController.h"

#include "Foundation/NSPropertyList.h"
#include "sys/AppleDouble.h"
#include "sys/xattr.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

NSString* const kAppleQuarantineKeyName = NSSTR("com.apple.quarantine");
NSString* const kSambaQuarantineKeyName = NSSTR("user.DosStream.com.apple.quarantine:$DATA");

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

constexpr const char* kWhereFromsName = "com.apple.metadata:kMDItemWhereFroms";

// One place where a record (or a companion that could not be read) was
// found.
struct RecordPlace {
    std::string line;
    NSData* value = nil;   // nil for an unreadable companion
};

struct Companion {
    std::string path;
    const char* label;
    sentrel::sys::AppleDoubleParse parse;
};

std::vector<Companion> companionsOf(const UFileQuarantineController* controller, const char* path)
{
    std::vector<Companion> companions;
    if (!path)
        return companions;
    for (auto& [companion, label] : controller->appleDoubleCompanionPaths(path))
        companions.push_back({companion, label, controller->readAppleDoubleCompanion(companion)});
    return companions;
}

NSData* dataOf(const std::vector<uint8_t>& bytes) { return NSData::dataWithBytes(bytes.data(), bytes.size()); }

} // namespace

struct UFileQuarantineController::CompanionsRead {
    uint32_t generation = 0;
    std::string path;
    std::vector<Companion> companions;
};

std::shared_ptr<const UFileQuarantineController::CompanionsRead> UFileQuarantineController::companionsRead() const
{
    const char* path = filePathName();
    const uint32_t generation = fileURLUpdated();
    if (!m_companionsRead || m_companionsRead->generation != generation || m_companionsRead->path != (path ? path : ""))
        m_companionsRead = std::make_shared<const CompanionsRead>(
            CompanionsRead{generation, path ? path : "", companionsOf(this, path)});
    return m_companionsRead;
}

namespace {

std::vector<RecordPlace> recordPlaces(const UFileQuarantineController* controller,
                                      const std::vector<Companion>& companions)
{
    std::vector<RecordPlace> places;
    if (!controller->filePath())
        return places;
    if (NSData* own = controller->extendedAttributeForKeyName(kAppleQuarantineKeyName))
        places.push_back({"attribute com.apple.quarantine", own});
    if (NSData* samba = controller->extendedAttributeForKeyName(kSambaQuarantineKeyName))
        places.push_back({"Samba stream " + kSambaQuarantineKeyName->utf8(), samba});
    for (const Companion& companion : companions) {
        if (companion.parse.status != sentrel::sys::AppleDoubleStatus::ok) {
            places.push_back({std::string("unreadable ") + companion.label + " " + companion.path + ": " +
                                  sentrel::sys::appleDoubleStatusText(companion.parse.status),
                              nil});
            continue;
        }
        const auto* record = companion.parse.file.attribute("com.apple.quarantine");
        if (record && !record->value.empty())
            places.push_back({std::string(companion.label) + " " + companion.path, dataOf(record->value)});
    }
    return places;
}

// The strings of a kMDItemWhereFroms property list, added to `out` when not
// there yet.
void addWhereFroms(NSData* value, std::vector<std::string>& out)
{
    if (!value)
        return;
    id plist = NSPropertyListSerialization::propertyListWithData(value, NSPropertyListImmutable, nullptr, nullptr);
    if (!plist || !plist->isKindOfClass(NSArray::class_()))
        return;
    for (id item : *static_cast<NSArray*>(plist))
        if (item && item->isKindOfClass(NSString::class_())) {
            std::string text = static_cast<NSString*>(item)->utf8();
            if (!text.empty() && std::find(out.begin(), out.end(), text) == out.end())
                out.push_back(std::move(text));
        }
}

NSArray* arrayOfLines(const std::vector<std::string>& lines)
{
    NSMutableArray* array = NSMutableArray::array();
    for (const std::string& line : lines)
        array->addObject(NSString::stringWithUTF8(line));
    return array;
}

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
    cls.property("quarantineRecordSources", &C::quarantineRecordSources);
    cls.property("quarantinedAnywhere", &C::quarantinedAnywhere);
    cls.property("quarantineFoundRecord", &C::quarantineFoundRecord);
    cls.property("quarantineWhereFrom", &C::quarantineWhereFrom);

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
    cls.dependentKeys("quarantineRecordSources", &C::keyPathsForValuesAffectingQuarantineRecordSources);
    cls.dependentKeys("quarantinedAnywhere", &C::keyPathsForValuesAffectingQuarantinedAnywhere);
    cls.dependentKeys("quarantineFoundRecord", &C::keyPathsForValuesAffectingQuarantineFoundRecord);
    cls.dependentKeys("quarantineWhereFrom", &C::keyPathsForValuesAffectingQuarantineWhereFrom);
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
QUARANTINE_KEY_DEPENDS_ON_ALL_ATTRIBUTES(QuarantineRecordSources)
QUARANTINE_KEY_DEPENDS_ON_ALL_ATTRIBUTES(QuarantinedAnywhere)
QUARANTINE_KEY_DEPENDS_ON_ALL_ATTRIBUTES(QuarantineFoundRecord)
QUARANTINE_KEY_DEPENDS_ON_ALL_ATTRIBUTES(QuarantineWhereFrom)
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
    bool removed = removeExtendedAttributeForKeyName(kAppleQuarantineKeyName);
    if (const char* path = filePathName()) {
        if (::removexattr(path, kSambaQuarantineKeyName->utf8().c_str(), 0) == 0)
            removed = true;
        for (const Companion& companion : companionsOf(this, path)) {
            const auto outcome = sentrel::sys::removeAppleDoubleAttribute(companion.path, "com.apple.quarantine");
            if (outcome == sentrel::sys::AppleDoubleRemoval::rewritten ||
                outcome == sentrel::sys::AppleDoubleRemoval::deleted)
                removed = true;
        }
    }
    if (removed)
        fileMarkAttributesAsDirty();
}

// ---------------------------------------------------------------- every place it is kept

std::vector<std::pair<std::string, const char*>> UFileQuarantineController::appleDoubleCompanionPaths(const char* path) const
{
    std::vector<std::pair<std::string, const char*>> paths;
    const sentrel::sys::AppleDoubleCompanions found = sentrel::sys::appleDoubleCompanions(path);
    if (found.beside)
        paths.emplace_back(*found.beside, "AppleDouble");
    if (found.zipped)
        paths.emplace_back(*found.zipped, "AppleDouble in __MACOSX");
    return paths;
}

sentrel::sys::AppleDoubleParse UFileQuarantineController::readAppleDoubleCompanion(const std::string& path) const
{
    return sentrel::sys::readAppleDoubleFile(path);
}

NSArray* UFileQuarantineController::quarantineRecordSources() const
{
    std::vector<std::string> lines;
    for (const RecordPlace& place : recordPlaces(this, companionsRead()->companions))
        lines.push_back(place.line);
    return arrayOfLines(lines);
}

bool UFileQuarantineController::quarantinedAnywhere() const
{
    for (const RecordPlace& place : recordPlaces(this, companionsRead()->companions))
        if (place.value)
            return true;
    return false;
}

NSString* UFileQuarantineController::quarantineFoundRecord() const
{
    for (const RecordPlace& place : recordPlaces(this, companionsRead()->companions))
        if (place.value)
            return recordText(place.value);
    return NSSTR("");
}

NSArray* UFileQuarantineController::quarantineWhereFrom() const
{
    std::vector<std::string> addresses;
    if (!filePath())
        return arrayOfLines(addresses);
    for (const char* name : {"xdg.origin.url", "xdg.referrer.url"})
        if (NSData* value = extendedAttributeForKeyName(NSString::stringWithUTF8String(name)))
            if (NSString* text = recordText(value); text && text->length() &&
                std::find(addresses.begin(), addresses.end(), text->utf8()) == addresses.end())
                addresses.push_back(text->utf8());
    addWhereFroms(extendedAttributeForKeyName(NSString::stringWithUTF8String(kWhereFromsName)), addresses);
    const auto read = companionsRead();
    for (const Companion& companion : read->companions)
        if (const auto* whereFroms = companion.parse.file.attribute(kWhereFromsName))
            addWhereFroms(dataOf(whereFroms->value), addresses);
    return arrayOfLines(addresses);
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

// ---------------------------------------------------------------- removal where the program cannot

std::string UFileQuarantineController::shellWord(const std::string& text)
{
    std::string word = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\' || c == '$' || c == '`')
            word += '\\';
        word += c;
    }
    return word + "\"";
}

namespace {

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

std::vector<std::string> UFileQuarantineController::quarantineRemovalCommandsElsewhere(const std::string& shownPath) const
{
    std::vector<std::string> commands;
    const char* path = filePathName();
    if (!path)
        return commands;
    if (extendedAttributeForKeyName(kSambaQuarantineKeyName))
        commands.push_back("setfattr -x " + shellWord(kSambaQuarantineKeyName->utf8()) + " " + shellWord(shownPath));
    bool rewriteAsked = false;
    for (const Companion& companion : companionsOf(this, path)) {
        // An unreadable companion holds no record that could be removed.
        const auto* record = companion.parse.status == sentrel::sys::AppleDoubleStatus::ok
                                 ? companion.parse.file.attribute("com.apple.quarantine")
                                 : nullptr;
        if (!record || record->value.empty())
            continue;
        if (companionHoldsOnlyTheRecord(companion.path)) {
            commands.push_back("rm " + shellWord(companion.path));
        } else if (!rewriteAsked) {
            commands.push_back("sentrel-inspect --remove-quarantine " + shellWord(shownPath) +
                               "   # rewrites the AppleDouble file without the record");
            rewriteAsked = true;
        }
    }
    return commands;
}
