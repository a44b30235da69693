// The typed Core Foundation holders: ownership, the type check, numbers.
#include "PlinthTestSupport.h"

#include "T_CFNumber.h"
#include "T_CFString.h"

#include <gtest/gtest.h>

#include <climits>

using namespace plinth_test;

namespace {

TEST(TypeIdentifiers, MutableKindsShareAndBooleansStandApart)
{
    EXPECT_EQ(T_CFTypeID<CFMutableBagRef>::sTypeID, CFBagGetTypeID());
    EXPECT_EQ(T_CFTypeID<CFBooleanRef>::sTypeID, CFBooleanGetTypeID());
    EXPECT_EQ(T_CFTypeID<CFNumberRef>::sTypeID, CFNumberGetTypeID());

    // A boolean holder takes the booleans.
    T_CFTypeRef<CFBooleanRef> boolean;
    EXPECT_TRUE(boolean.construct(kCFBooleanTrue, kCFTypeRef_Borrowed));
    EXPECT_TRUE(CFBooleanGetValue(boolean.Get()));
    EXPECT_TRUE(boolean.construct(kCFBooleanFalse, kCFTypeRef_Borrowed));
    EXPECT_FALSE(CFBooleanGetValue(boolean.Get()));
}

TEST(Holders, OwnershipDecidesWhoReleases)
{
    CFStringRef string = CFStringCreateWithCString(nullptr, "held", kCFStringEncodingUTF8);
    const CFIndex start = CFGetRetainCount(string);   // the pool may hold one more
    {
        T_CFTypeRef<CFStringRef> borrowed(string, kCFTypeRef_Borrowed);
        EXPECT_TRUE(borrowed.IsValid());
        borrowed.destruct();
        EXPECT_EQ(borrowed.Get(), nullptr);
    }
    EXPECT_EQ(CFGetRetainCount(string), start);
    CFRetain(string);
    {
        T_CFTypeRef<CFStringRef> owned(string, kCFTypeRef_Owned);
        // Taking a new reference drops the old one first.
        EXPECT_FALSE(owned.construct(nullptr, kCFTypeRef_Owned));
        EXPECT_EQ(CFGetRetainCount(string), start);
        EXPECT_EQ(owned.Get(), nullptr);
        EXPECT_EQ(owned.GetOwnership(), kCFTypeRef_Owned);
        EXPECT_FALSE(owned.IsValid());
    }
    EXPECT_EQ(CFGetRetainCount(string), start);
    CFRelease(string);
}

TEST(Holders, WrongTypeThrowsAfterTheHolderTookTheReference)
{
    // A counted set is a set to C++, but a bag to Core Foundation.
    CFMutableBagRef bag = CFBagCreateMutable(nullptr, 0, &kCFTypeBagCallBacks);
    const CFIndex start = CFGetRetainCount(bag);
    CFRetain(bag);   // the holder takes over this reference
    {
        T_CFTypeRef<CFSetRef> holder;
        EXPECT_THROW(holder.construct(bag, kCFTypeRef_Owned), CFTypeRefClass::TypeException);
        EXPECT_EQ(holder.Get(), bag);
        EXPECT_FALSE(holder.IsValid());
    }
    EXPECT_EQ(CFGetRetainCount(bag), start);
    CFRelease(bag);

    EXPECT_THROW(CFTypeRefClass::ThrowIfNotTypeMatch(nullptr, CFStringGetTypeID()), CFTypeRefClass::TypeException);
    EXPECT_NO_THROW(CFTypeRefClass::ThrowIfNotTypeMatch(CFSTR("x"), CFStringGetTypeID()));
    // A boolean is not a number to the holders, as on the platform.
    T_CFTypeRef<CFNumberRef> numberHolder;
    EXPECT_THROW(numberHolder.construct(kCFBooleanTrue, kCFTypeRef_Borrowed), CFTypeRefClass::TypeException);
    int value = 5;
    EXPECT_FALSE(TCFNumber(kCFBooleanTrue).GetValue(value));
    EXPECT_EQ(value, 5);
}

TEST(Numbers, ReadOutsRefuseLossAndFillTheWholeVariable)
{
    int i = 0;
    short s = 0;
    long l = 0;
    double d = 0;
    float f = 0;
    EXPECT_TRUE(TCFNumber(NSNumber::numberWithInt(70000)).GetValue(i));
    EXPECT_EQ(i, 70000);
    EXPECT_FALSE(TCFNumber(NSNumber::numberWithInt(70000)).GetValue(s));
    EXPECT_FALSE(TCFNumber(NSNumber::numberWithDouble(2.5)).GetValue(i));
    EXPECT_TRUE(TCFNumber(NSNumber::numberWithDouble(2.5)).GetValue(f));
    EXPECT_FALSE(TCFNumber(NSNumber::numberWithDouble(0.1)).GetValue(f));   // not exact in 32 bits
    // long is as wide as the platform makes it; a 40-bit value must survive.
    l = -1;
    EXPECT_TRUE(TCFNumber(NSNumber::numberWithLongLong(1LL << 40)).GetValue(l));
    EXPECT_EQ(l, sizeof(long) == 8 ? (1L << 40) : l);
    EXPECT_TRUE(TCFNumber(NSNumber::numberWithLongLong(LLONG_MAX)).GetValue(d) == false);

    // ConvertTo: a string is not a number and leaves the value alone; a
    // number turned into text is its description.
    i = 99;
    EXPECT_FALSE(CFTypeRefClass::ConvertTo(CFSTR("12"), i));
    EXPECT_EQ(i, 99);
    EXPECT_FALSE(CFTypeRefClass::ConvertTo(nullptr, i));
    EXPECT_TRUE(CFTypeRefClass::ConvertTo(NSNumber::numberWithInt(-3), i));
    EXPECT_EQ(i, -3);
    std::string text;
    EXPECT_TRUE(CFTypeRefClass::ConvertTo(NSNumber::numberWithInt(42), text));
    EXPECT_EQ(text, "42");
    EXPECT_TRUE(CFTypeRefClass::ConvertTo(CFSTR("caf\xC3\xA9"), text));
    EXPECT_EQ(text, "caf\xC3\xA9");
    EXPECT_FALSE(CFTypeRefClass::ConvertTo(nullptr, text));
    // An empty string reads out as a failure.
    EXPECT_FALSE(CFTypeRefClass::ConvertTo(CFSTR(""), text));
}

TEST(Numbers, TypeNamesAndDescriptions)
{
    EXPECT_STREQ(T_numeric_base::name_of(14), "kCFNumberCFIndexType");
    for (long unknown : {0L, 5L, 6L, 15L, 16L, -1L, LONG_MAX})
        EXPECT_STREQ(T_numeric_base::name_of(unknown), "Unknown") << unknown;

    std::string description;
    EXPECT_TRUE(CFTypeRefClass::GetTypeDescription(CFStringGetTypeID(), description));
    EXPECT_EQ(description, "CFString");
    EXPECT_FALSE(CFTypeRefClass::GetTypeDescription(9999, description));
    EXPECT_EQ(description, "");
}

} // namespace
