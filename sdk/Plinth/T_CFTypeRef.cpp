#include "T_CFTypeRef.h"

#include "CoreStaticInitOrder.h"
#include "T_CFNumber.h"
#include "T_CFString.h"

// ---------------------------------------------------------------- type identifiers

// Zero until the identifiers are asked for at program load, at the rank of
// the Core Foundation caches (see CoreStaticInitOrder.h). Each is filled under
// its own guard -- only while it is still zero -- so that a second pass would
// not repeat it.
#define PLINTH_TYPE_ID(Type) \
    template <>          \
    CFTypeID T_CFTypeID<Type>::sTypeID = 0
PLINTH_TYPE_ID(CFStringRef);
PLINTH_TYPE_ID(CFNumberRef);
PLINTH_TYPE_ID(CFBooleanRef);
PLINTH_TYPE_ID(CFArrayRef);
PLINTH_TYPE_ID(CFMutableArrayRef);
PLINTH_TYPE_ID(CFDictionaryRef);
PLINTH_TYPE_ID(CFDataRef);
PLINTH_TYPE_ID(CFSetRef);
PLINTH_TYPE_ID(CFMutableSetRef);
PLINTH_TYPE_ID(CFBagRef);
PLINTH_TYPE_ID(CFMutableBagRef);
PLINTH_TYPE_ID(CFBundleRef);
PLINTH_TYPE_ID(CFURLRef);
#undef PLINTH_TYPE_ID

namespace {
template <class T>
void FillTypeID(CFTypeID (*in_getTypeID)())
{
    if (T_CFTypeID<T>::sTypeID == 0)
        T_CFTypeID<T>::sTypeID = in_getTypeID();
}

CORE_INIT_FUNCTION(kCoreInitRank_CFTypeIDs) void FillCFTypeIDs()
{
    FillTypeID<CFStringRef>(CFStringGetTypeID);
    FillTypeID<CFNumberRef>(CFNumberGetTypeID);
    FillTypeID<CFBooleanRef>(CFBooleanGetTypeID);
    FillTypeID<CFArrayRef>(CFArrayGetTypeID);
    FillTypeID<CFMutableArrayRef>(CFArrayGetTypeID);
    FillTypeID<CFDictionaryRef>(CFDictionaryGetTypeID);
    FillTypeID<CFDataRef>(CFDataGetTypeID);
    FillTypeID<CFSetRef>(CFSetGetTypeID);
    FillTypeID<CFMutableSetRef>(CFSetGetTypeID);
    FillTypeID<CFBagRef>(CFBagGetTypeID);
    FillTypeID<CFMutableBagRef>(CFBagGetTypeID);
    FillTypeID<CFBundleRef>(CFBundleGetTypeID);
    FillTypeID<CFURLRef>(CFURLGetTypeID);
}
} // namespace

// ---------------------------------------------------------------- number names

const char* T_numeric_base::name_of(long in_number_type)
{
    switch (in_number_type) {
    case 1: return "kCFNumberSInt8Type";
    case 2: return "kCFNumberSInt16Type";
    case 3: return "kCFNumberSInt32Type";
    case 4: return "kCFNumberSInt64Type";
    case 7: return "kCFNumberCharType";
    case 8: return "kCFNumberShortType";
    case 9: return "kCFNumberIntType";
    case 10: return "kCFNumberLongType";
    case 11: return "kCFNumberLongLongType";
    case 12: return "kCFNumberFloatType";
    case 13: return "kCFNumberDoubleType";
    case 14: return "kCFNumberCFIndexType";
    default: return "Unknown";
    }
}

// ---------------------------------------------------------------- CFTypeRefClass

void CFTypeRefClass::ThrowIfNotTypeMatch(CFTypeRef in_ref, CFTypeID in_expected)
{
    if (!in_ref || CFGetTypeID(in_ref) != in_expected)
        throw TypeException();
}

bool CFTypeRefClass::GetTypeDescription(CFTypeID in_typeID, std::string& out_description)
{
    TCFString description(CFCopyTypeIDDescription(in_typeID), kCFTypeRef_Owned);
    return description.GetValue(out_description, kCFStringEncodingUTF8);
}

bool CFTypeRefClass::GetDescription(CFTypeRef in_ref, std::string& out_description)
{
    TCFString description(CFCopyDescription(in_ref), kCFTypeRef_Owned);
    return description.GetValue(out_description, kCFStringEncodingUTF8);
}

namespace {
// A lossy read-out answers false; the platform still writes its nearest value.
template <class T>
bool ConvertNumber(CFTypeRef in_ref, T& out_value)
{
    if (!in_ref || CFGetTypeID(in_ref) != CFNumberGetTypeID())
        return false;
    return TCFNumber(static_cast<CFNumberRef>(in_ref), kCFTypeRef_Borrowed).GetValue(out_value);
}
} // namespace

bool CFTypeRefClass::ConvertTo(CFTypeRef in_ref, double& out_value) { return ConvertNumber(in_ref, out_value); }
bool CFTypeRefClass::ConvertTo(CFTypeRef in_ref, float& out_value) { return ConvertNumber(in_ref, out_value); }
bool CFTypeRefClass::ConvertTo(CFTypeRef in_ref, unsigned long& out_value) { return ConvertNumber(in_ref, out_value); }
bool CFTypeRefClass::ConvertTo(CFTypeRef in_ref, long& out_value) { return ConvertNumber(in_ref, out_value); }
bool CFTypeRefClass::ConvertTo(CFTypeRef in_ref, unsigned int& out_value) { return ConvertNumber(in_ref, out_value); }
bool CFTypeRefClass::ConvertTo(CFTypeRef in_ref, int& out_value) { return ConvertNumber(in_ref, out_value); }
bool CFTypeRefClass::ConvertTo(CFTypeRef in_ref, unsigned short& out_value) { return ConvertNumber(in_ref, out_value); }
bool CFTypeRefClass::ConvertTo(CFTypeRef in_ref, short& out_value) { return ConvertNumber(in_ref, out_value); }

bool CFTypeRefClass::ConvertTo(CFTypeRef in_ref, std::string& out_value)
{
    if (!in_ref)
        return false;
    if (CFGetTypeID(in_ref) == CFStringGetTypeID())
        return TCFString(static_cast<CFStringRef>(in_ref), kCFTypeRef_Borrowed).GetValue(out_value, kCFStringEncodingUTF8);
    return GetDescription(in_ref, out_value);
}
