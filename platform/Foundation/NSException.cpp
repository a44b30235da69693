#include "Foundation/Foundation.h"


OBJC_IMPLEMENTATION(NSException, NSObject)
{
    cls.property("name", &NSException::name);
    cls.property("reason", &NSException::reason);
    cls.property("userInfo", &NSException::userInfo);
}

NSException* NSException::exceptionWithName(NSString* name, NSString* reason, NSDictionary* userInfo)
{
    NSException* e = new NSException;
    e->m_name = name;
    e->m_reason = reason;
    e->m_userInfo = userInfo;
    return static_cast<NSException*>(e->autorelease());
}

void NSException::raise()
{
    // The thrown pointer stays valid until the pool that holds the exception
    // drains; the catcher may retain it to keep it longer.
    retain()->autorelease();
    throw this;
}

NSString* NSException::description() const { return m_reason ? m_reason.get() : m_name.get(); }


OBJC_IMPLEMENTATION_TYPEID(NSError, NSObject, kCFTypeIDError)
{
    cls.property("domain", &NSError::domain);
    cls.property("code", &NSError::code);
}

NSError* NSError::errorWithDomain(NSString* domain, NSInteger code, NSDictionary* userInfo)
{
    NSError* e = new NSError;
    e->m_domain = domain;
    e->m_code = code;
    e->m_userInfo = userInfo;
    return static_cast<NSError*>(e->autorelease());
}

NSString* NSError::localizedDescription() const
{
    if (m_userInfo)
        if (id text = m_userInfo->objectForKey(std::string_view("NSLocalizedDescription")))
            return text->description();
    return NSString::stringWithFormat("The operation couldn\u2019t be completed. (%@ error %ld.)", m_domain.get(), m_code);
}

NSString* NSError::description() const
{
    return NSString::stringWithFormat("Error Domain=%@ Code=%ld \"%@\"", m_domain.get(), m_code, localizedDescription());
}
