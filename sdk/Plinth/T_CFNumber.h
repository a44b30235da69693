// The number holder and the native types' Core Foundation number types.
//
// Signed types map to the sized signed types, unsigned types to the types
// named after the basic C types. `long` maps by its width: 32-bit `long`
// (the platform's ILP32 world) to kCFNumberSInt32Type, 64-bit `long` (Linux's
// LP64) to kCFNumberSInt64Type, so that a read-out always fills the whole
// variable.
#pragma once

#include "T_CFTypeRef.h"

struct T_numeric_base {
    // "kCFNumberSInt8Type" ... "kCFNumberCFIndexType", or "Unknown".
    static const char* name_of(long in_number_type);
};

template <class T>
struct T_numeric;

#define PLINTH_NUMERIC(Type, NumberType)                                                          \
    template <>                                                                                   \
    struct T_numeric<Type> : T_numeric_base {                                                     \
        static constexpr CFNumberType sNumberType = NumberType;                                   \
    }
PLINTH_NUMERIC(char, kCFNumberSInt8Type);
PLINTH_NUMERIC(short, kCFNumberSInt16Type);
PLINTH_NUMERIC(int, kCFNumberSInt32Type);
PLINTH_NUMERIC(long, sizeof(long) == 4 ? kCFNumberSInt32Type : kCFNumberSInt64Type);
PLINTH_NUMERIC(long long, kCFNumberSInt64Type);
PLINTH_NUMERIC(unsigned char, kCFNumberCharType);
PLINTH_NUMERIC(unsigned short, kCFNumberShortType);
PLINTH_NUMERIC(unsigned int, kCFNumberIntType);
PLINTH_NUMERIC(unsigned long, kCFNumberLongType);
PLINTH_NUMERIC(unsigned long long, kCFNumberLongLongType);
PLINTH_NUMERIC(float, kCFNumberFloatType);
PLINTH_NUMERIC(double, kCFNumberDoubleType);
#undef PLINTH_NUMERIC

class TCFNumber : public T_CFTypeRef<CFNumberRef> {
public:
    using T_CFTypeRef<CFNumberRef>::T_CFTypeRef;

    // False for an empty holder or a reference that is not a number, and
    // when the value does not fit T exactly (CFNumberGetValue's answer).
    template <class T>
    bool GetValue(T& out_value) const
    {
        if (!mValueRef || CFGetTypeID(mValueRef) != CFNumberGetTypeID())
            return false;
        return CFNumberGetValue(mValueRef, T_numeric<T>::sNumberType, &out_value);
    }
};
