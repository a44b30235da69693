// The basic types and the success status of the Carbon-era interfaces.
#pragma once

#include <cstdint>

typedef uint8_t UInt8;
typedef uint16_t UInt16;
typedef uint32_t UInt32;
typedef int16_t SInt16;
typedef int32_t SInt32;
typedef int16_t OSErr;
typedef int32_t OSStatus;
typedef uint32_t OptionBits;
typedef uint32_t OSType;

enum : OSStatus { noErr = 0 };
