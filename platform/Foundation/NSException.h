// The platform's exception class. Raising throws an `NSException*` (the object
// stays valid until the current autorelease pool drains), so a guarded region
// is `try { ... } catch (NSException* e) { ... }` and lets every other kind of
// C++ exception pass on.
#pragma once

#include "Foundation/NSString.h"

class NSDictionary;

// The exception names. They are process-wide literals, usable from static
// initialisers in any order.
#define NSGenericException NSSTR("NSGenericException")
#define NSRangeException NSSTR("NSRangeException")
#define NSInvalidArgumentException NSSTR("NSInvalidArgumentException")
#define NSInternalInconsistencyException NSSTR("NSInternalInconsistencyException")
#define NSUnknownKeyException NSSTR("NSUnknownKeyException")

class NSException : public NSObject {
    OBJC_CLASS(NSException, NSObject)
public:
    static NSException* exceptionWithName(NSString* name, NSString* reason, NSDictionary* userInfo);
    template <class... Args>
    [[noreturn]] static void raise(NSString* name, std::string_view format, const Args&... args)
    {
        exceptionWithName(name, NSString::stringWithFormat(format, args...), nullptr)->raise();
    }
    [[noreturn]] void raise();

    NSString* name() const { return m_name; }
    NSString* reason() const { return m_reason; }
    NSDictionary* userInfo() const { return m_userInfo; }
    // The reason, as the platform prints an exception.
    NSString* description() const override;

private:
    Retained<NSString> m_name;
    Retained<NSString> m_reason;
    Retained<NSDictionary> m_userInfo;
};
