#pragma once

#include "Foundation/NSString.h"

class NSDictionary;

#define NSPOSIXErrorDomain NSSTR("NSPOSIXErrorDomain")
#define NSCocoaErrorDomain NSSTR("NSCocoaErrorDomain")

class NSError : public NSObject {
    OBJC_CLASS(NSError, NSObject)
public:
    static NSError* errorWithDomain(NSString* domain, NSInteger code, NSDictionary* userInfo);
    NSString* domain() const { return m_domain; }
    NSInteger code() const { return m_code; }
    NSDictionary* userInfo() const { return m_userInfo; }
    NSString* localizedDescription() const;
    NSString* description() const override;

private:
    Retained<NSString> m_domain;
    NSInteger m_code = 0;
    Retained<NSDictionary> m_userInfo;
};
