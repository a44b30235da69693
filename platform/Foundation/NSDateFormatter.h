// Localized dates through ICU's DateFormat, in the user's locale and time zone.
//
// The locale comes from the environment as the C library reads it: LC_ALL,
// then LC_TIME, then LANG, the first that is set and not empty; the encoding
// and modifier are dropped ("de_DE.UTF-8@euro" formats as "de_DE"), and "C"
// or "POSIX" (or nothing at all) formats as "en_US_POSIX". The time zone is
// ICU's default: TZ when it is set, otherwise the system's.
#pragma once

#include "Foundation/NSValue.h"

typedef NSUInteger NSDateFormatterStyle;
enum : NSDateFormatterStyle {
    NSDateFormatterNoStyle = 0,
    NSDateFormatterShortStyle = 1,
    NSDateFormatterMediumStyle = 2,
    NSDateFormatterLongStyle = 3,
    NSDateFormatterFullStyle = 4,
};

class NSDateFormatter : public NSObject {
    OBJC_CLASS(NSDateFormatter, NSObject)
public:
    // The date in the given styles; the empty string when both styles are
    // NSDateFormatterNoStyle, nil for a nil date or a style out of range.
    static NSString* localizedStringFromDate(const NSDate* date, NSDateFormatterStyle dateStyle,
                                             NSDateFormatterStyle timeStyle);

    // The locale identifier the next call formats with ("de_DE", "en_US_POSIX").
    static NSString* defaultLocaleIdentifier();

    // Test hook: formats with this locale identifier and this time-zone name
    // ("Europe/Berlin") instead of the user's. Either may be nil, which goes
    // back to the environment for that half. Process-wide.
    static void setDefaultLocaleAndTimeZone(const NSString* localeIdentifier, const NSString* timeZoneName);
};
