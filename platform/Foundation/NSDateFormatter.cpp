#include "Foundation/NSDateFormatter.h"

#include "CoreFoundation/IcuLibrary.h"

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

UDateFormatStyle icuStyle(NSDateFormatterStyle style)
{
    switch (style) {
    case NSDateFormatterShortStyle: return UDAT_SHORT;
    case NSDateFormatterMediumStyle: return UDAT_MEDIUM;
    case NSDateFormatterLongStyle: return UDAT_LONG;
    case NSDateFormatterFullStyle: return UDAT_FULL;
    default: return UDAT_NONE;
    }
}

struct FormatCloser {
    void operator()(UDateFormat* format) const { sentrel::icu()->udatClose(format); }
};

// The locale as ICU names it ("de_DE", "sr_Latn_RS"), en_US_POSIX for one
// it cannot make sense of.
std::string canonicalLocale(const std::string& id)
{
    char canonical[ULOC_FULLNAME_CAPACITY];
    UErrorCode status = U_ZERO_ERROR;
    const int32_t length = sentrel::icu()->ulocCanonicalize(id.c_str(), canonical, sizeof canonical, &status);
    if (U_FAILURE(status) || status == U_STRING_NOT_TERMINATED_WARNING || length <= 0)
        return "en_US_POSIX";
    return std::string(canonical, static_cast<size_t>(length));
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
    if (!sentrel::icu())
        return nil;
    // Making a formatter loads the locale's patterns and calendar, which
    // costs far more than formatting; the last one made is kept (per thread,
    // a formatter is not to be shared) while locale, zone and styles stay.
    struct Kept {
        std::string key;
        std::unique_ptr<UDateFormat, FormatCloser> format;
    };
    thread_local Kept kept;
    std::string key = localeID + '\n' + (zoneID ? "zone " + *zoneID : "default zone") + '\n' +
                      std::to_string(dateStyle) + ' ' + std::to_string(timeStyle);
    if (!kept.format || kept.key != key) {
        kept.format.reset();
        const std::string locale = canonicalLocale(localeID);
        const NSString* zone = zoneID ? NSString::stringWithUTF8(*zoneID) : nil;
        const std::u16string zoneUnits = zone ? zone->characters() : std::u16string();
        UErrorCode status = U_ZERO_ERROR;
        UDateFormat* format = sentrel::icu()->udatOpen(
            icuStyle(timeStyle), icuStyle(dateStyle), locale.c_str(), zone ? zoneUnits.data() : nullptr,
            zone ? static_cast<int32_t>(zoneUnits.size()) : -1, nullptr, 0, &status);
        if (U_FAILURE(status)) {
            if (format)
                sentrel::icu()->udatClose(format);
            return nil;
        }
        kept.format.reset(format);
        kept.key = std::move(key);
    }

    std::u16string text(64, u'\0');
    for (;;) {
        UErrorCode status = U_ZERO_ERROR;
        const int32_t length = sentrel::icu()->udatFormat(kept.format.get(), date->timeIntervalSince1970() * 1000.0,
                                                          text.data(), static_cast<int32_t>(text.size()), nullptr, &status);
        if (status == U_BUFFER_OVERFLOW_ERROR) {
            text.resize(static_cast<size_t>(length));
            continue;
        }
        if (U_FAILURE(status))
            return nil;
        text.resize(static_cast<size_t>(length));
        return NSString::stringWithCharacters(text.data(), static_cast<NSUInteger>(text.size()));
    }
}
