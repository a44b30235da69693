#include "Foundation/NSDateFormatter.h"

#include <unicode/datefmt.h>
#include <unicode/locid.h>
#include <unicode/timezone.h>
#include <unicode/unistr.h>

#include <cstdlib>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace {

std::mutex sOverrideLock;
std::optional<std::string> sLocaleOverride;
std::optional<std::string> sTimeZoneOverride;

// "de_DE.UTF-8@euro" -> "de_DE"; "C", "POSIX" and nothing -> "en_US_POSIX".
std::string localeFromEnvironment()
{
    const char* value = nullptr;
    for (const char* name : {"LC_ALL", "LC_TIME", "LANG"}) {
        const char* v = std::getenv(name);
        if (v && *v) {
            value = v;
            break;
        }
    }
    std::string id = value ? value : "";
    id = id.substr(0, id.find_first_of(".@"));
    if (id.empty() || id == "C" || id == "POSIX")
        return "en_US_POSIX";
    return id;
}

icu::DateFormat::EStyle icuStyle(NSDateFormatterStyle style)
{
    switch (style) {
    case NSDateFormatterShortStyle: return icu::DateFormat::kShort;
    case NSDateFormatterMediumStyle: return icu::DateFormat::kMedium;
    case NSDateFormatterLongStyle: return icu::DateFormat::kLong;
    case NSDateFormatterFullStyle: return icu::DateFormat::kFull;
    default: return icu::DateFormat::kNone;
    }
}

} // namespace

OBJC_IMPLEMENTATION(NSDateFormatter, NSObject) {}

NSString* NSDateFormatter::defaultLocaleIdentifier()
{
    std::string id;
    {
        std::lock_guard lock(sOverrideLock);
        id = sLocaleOverride ? *sLocaleOverride : localeFromEnvironment();
    }
    return NSString::stringWithUTF8(id);
}

void NSDateFormatter::setDefaultLocaleAndTimeZone(const NSString* localeIdentifier, const NSString* timeZoneName)
{
    std::lock_guard lock(sOverrideLock);
    sLocaleOverride = localeIdentifier ? std::optional<std::string>(localeIdentifier->utf8()) : std::nullopt;
    sTimeZoneOverride = timeZoneName ? std::optional<std::string>(timeZoneName->utf8()) : std::nullopt;
}

NSString* NSDateFormatter::localizedStringFromDate(const NSDate* date, NSDateFormatterStyle dateStyle,
                                                   NSDateFormatterStyle timeStyle)
{
    if (!date || dateStyle > NSDateFormatterFullStyle || timeStyle > NSDateFormatterFullStyle)
        return nil;
    if (dateStyle == NSDateFormatterNoStyle && timeStyle == NSDateFormatterNoStyle)
        return NSString::string();

    std::string localeID;
    std::optional<std::string> zoneID;
    {
        std::lock_guard lock(sOverrideLock);
        localeID = sLocaleOverride ? *sLocaleOverride : localeFromEnvironment();
        zoneID = sTimeZoneOverride;
    }
    // Making a formatter loads the locale's patterns and calendar, which
    // costs far more than formatting; the last one made is kept (per thread,
    // a formatter is not to be shared) while locale, zone and styles stay.
    struct Kept {
        std::string key;
        std::unique_ptr<icu::DateFormat> format;
    };
    thread_local Kept kept;
    std::string key = localeID + '\n' + (zoneID ? "zone " + *zoneID : "default zone") + '\n' +
                      std::to_string(dateStyle) + ' ' + std::to_string(timeStyle);
    if (!kept.format || kept.key != key) {
        icu::Locale locale = icu::Locale::createCanonical(localeID.c_str());
        if (locale.isBogus())
            locale = icu::Locale("en_US_POSIX");
        kept.format.reset(icu::DateFormat::createDateTimeInstance(icuStyle(dateStyle), icuStyle(timeStyle), locale));
        kept.key = std::move(key);
        if (!kept.format)
            return nil;
        if (zoneID)
            kept.format->adoptTimeZone(icu::TimeZone::createTimeZone(icu::UnicodeString::fromUTF8(*zoneID)));
    }
    const icu::DateFormat* format = kept.format.get();

    icu::UnicodeString text;
    format->format(static_cast<UDate>(date->timeIntervalSince1970() * 1000.0), text);
    return NSString::stringWithCharacters(reinterpret_cast<const char16_t*>(text.getBuffer()),
                                          static_cast<NSUInteger>(text.length()));
}
