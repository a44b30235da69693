// Typed holders of Core Foundation references.
//
// T_CFTypeRef<T> keeps a reference of type T and whether it must release it.
// It never retains: taking ownership means taking over the one reference the
// caller already holds (the result of a Create or Copy call). A holder is
// valid when its reference is not null and of type T.
#pragma once

#include "CoreFoundation/CoreFoundation.h"

#include <exception>
#include <string>

// The type identifier of each reference type, filled once at program load
// (see CoreStaticInitOrder.h). A mutable type shares the identifier of its
// immutable type.
template <class T>
struct T_CFTypeID {
    static CFTypeID sTypeID;
};
template <> CFTypeID T_CFTypeID<CFStringRef>::sTypeID;
template <> CFTypeID T_CFTypeID<CFNumberRef>::sTypeID;
template <> CFTypeID T_CFTypeID<CFBooleanRef>::sTypeID;
template <> CFTypeID T_CFTypeID<CFArrayRef>::sTypeID;
template <> CFTypeID T_CFTypeID<CFMutableArrayRef>::sTypeID;
template <> CFTypeID T_CFTypeID<CFDictionaryRef>::sTypeID;
template <> CFTypeID T_CFTypeID<CFDataRef>::sTypeID;
template <> CFTypeID T_CFTypeID<CFSetRef>::sTypeID;
template <> CFTypeID T_CFTypeID<CFMutableSetRef>::sTypeID;
template <> CFTypeID T_CFTypeID<CFBagRef>::sTypeID;
template <> CFTypeID T_CFTypeID<CFMutableBagRef>::sTypeID;
template <> CFTypeID T_CFTypeID<CFBundleRef>::sTypeID;
template <> CFTypeID T_CFTypeID<CFURLRef>::sTypeID;

enum CFTypeRef_Ownership : int32_t {
    kCFTypeRef_Borrowed = 0,   // the holder never releases the reference
    kCFTypeRef_Owned = 1,      // the holder releases it when it drops it
};

// Conversions from an untyped reference, and the type check of the holders.
class CFTypeRefClass {
public:
    // A reference of the wrong type given to a holder. No text of its own.
    class TypeException : public std::exception {};

    // The description texts of Core Foundation, as UTF-8.
    static bool GetTypeDescription(CFTypeID in_typeID, std::string& out_description);
    static bool GetDescription(CFTypeRef in_ref, std::string& out_description);

    // A number read out as the native type; false (out untouched) for a null
    // reference or one that is not a number, and false when the value does
    // not fit the type exactly.
    static bool ConvertTo(CFTypeRef in_ref, double& out_value);
    static bool ConvertTo(CFTypeRef in_ref, float& out_value);
    static bool ConvertTo(CFTypeRef in_ref, unsigned long& out_value);
    static bool ConvertTo(CFTypeRef in_ref, long& out_value);
    static bool ConvertTo(CFTypeRef in_ref, unsigned int& out_value);
    static bool ConvertTo(CFTypeRef in_ref, int& out_value);
    static bool ConvertTo(CFTypeRef in_ref, unsigned short& out_value);
    static bool ConvertTo(CFTypeRef in_ref, short& out_value);
    // A string as UTF-8; any other object as its description.
    static bool ConvertTo(CFTypeRef in_ref, std::string& out_value);

    // Throws TypeException unless the reference is not null and of the type.
    static void ThrowIfNotTypeMatch(CFTypeRef in_ref, CFTypeID in_expected);
};

template <class T>
class T_CFTypeRef {
public:
    T_CFTypeRef(T in_ref = nullptr, CFTypeRef_Ownership in_ownership = kCFTypeRef_Borrowed)
        : mValueRef(in_ref), mOwnership(in_ownership)
    {
    }
    ~T_CFTypeRef() { destruct(); }
    T_CFTypeRef(const T_CFTypeRef&) = delete;
    T_CFTypeRef& operator=(const T_CFTypeRef&) = delete;

    // Drops the current reference (releasing it when owned), then holds the
    // new one. A reference of another type throws TypeException after it has
    // been stored, so the holder still releases it when it owns it.
    bool construct(T in_ref, CFTypeRef_Ownership in_ownership)
    {
        if (mValueRef)
            destruct();
        mValueRef = in_ref;
        mOwnership = in_ownership;
        if (!in_ref)
            return false;
        CFTypeRefClass::ThrowIfNotTypeMatch(in_ref, T_CFTypeID<T>::sTypeID);
        return IsValid();
    }
    void destruct()
    {
        if (mValueRef && mOwnership != kCFTypeRef_Borrowed)
            CFRelease(mValueRef);
        mValueRef = nullptr;
        mOwnership = kCFTypeRef_Borrowed;
    }
    bool IsValid() const { return mValueRef && CFGetTypeID(mValueRef) == T_CFTypeID<T>::sTypeID; }

    T Get() const { return mValueRef; }
    CFTypeRef_Ownership GetOwnership() const { return mOwnership; }

protected:
    T mValueRef;
    CFTypeRef_Ownership mOwnership;
};
