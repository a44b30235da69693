#include "Foundation/Foundation.h"

NSString* NSData::certFingerprintHexString() const
{
    static const char digits[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(length() * 2);
    for (uint8_t byte : vector()) {
        text.push_back(digits[byte >> 4]);
        text.push_back(digits[byte & 15]);
    }
    return NSString::stringWithUTF8(text);
}

NSString* NSData::certFingerprintRequirement_HQUOTED() const
{
    return NSString::stringWithFormat("H\"%@\"", certFingerprintHexString());
}

NSString* NSData::certFingerprintLeafRequirementString() const
{
    return NSString::stringWithFormat("certificate leaf = H\"%@\"", certFingerprintHexString());
}
