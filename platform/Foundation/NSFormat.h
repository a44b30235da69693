// Type-safe printf-style formatting with the `%@` conversion.
//
// Every argument is captured with its C++ type, so an object passed where a
// number is expected (or the reverse) cannot read garbage off the stack:
// `%@` prints an object's `description` ("(null)" for nil), the other
// conversions follow printf with the argument converted to the type the
// conversion and its length modifier name: `%x` of -1 is "ffffffff", `%hd`
// of 70000 is "4464", `%lx` of -1 sixteen f's.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <variant>

#include "objc/NSObject.h"

struct FormatArg {
    std::variant<long long, unsigned long long, double, const char*, const void*, const NSObject*> value;

    FormatArg(bool v) : value(static_cast<long long>(v)) {}
    FormatArg(char v) : value(static_cast<long long>(v)) {}
    FormatArg(signed char v) : value(static_cast<long long>(v)) {}
    FormatArg(unsigned char v) : value(static_cast<unsigned long long>(v)) {}
    FormatArg(short v) : value(static_cast<long long>(v)) {}
    FormatArg(unsigned short v) : value(static_cast<unsigned long long>(v)) {}
    FormatArg(int v) : value(static_cast<long long>(v)) {}
    FormatArg(unsigned v) : value(static_cast<unsigned long long>(v)) {}
    FormatArg(long v) : value(static_cast<long long>(v)) {}
    FormatArg(unsigned long v) : value(static_cast<unsigned long long>(v)) {}
    FormatArg(long long v) : value(v) {}
    FormatArg(unsigned long long v) : value(v) {}
    FormatArg(float v) : value(static_cast<double>(v)) {}
    FormatArg(double v) : value(v) {}
    FormatArg(const char* v) : value(v) {}
    FormatArg(char* v) : value(static_cast<const char*>(v)) {}
    FormatArg(const unsigned char* v) : value(reinterpret_cast<const char*>(v)) {}
    FormatArg(const std::string& v) : value(v.c_str()) {}
    template <class T>
    FormatArg(const Retained<T>& v) : FormatArg(v.get()) {}
    FormatArg(std::nullptr_t) : value(static_cast<const NSObject*>(nullptr)) {}
    template <class T, std::enable_if_t<std::is_base_of_v<NSObject, T>, int> = 0>
    FormatArg(const T* v) : value(static_cast<const NSObject*>(v)) {}
    template <class T, std::enable_if_t<!std::is_base_of_v<NSObject, T> && !std::is_same_v<std::remove_cv_t<T>, char>, int> = 0>
    FormatArg(const T* v) : value(static_cast<const void*>(v)) {}
};

// Formats `format` (UTF-8) with `args`; the result is UTF-8.
std::string formatWithArguments(std::string_view format, std::span<const FormatArg> args);

template <class... Args>
std::string formatString(std::string_view format, const Args&... args)
{
    const FormatArg list[] = {FormatArg(args)..., FormatArg(0)};
    return formatWithArguments(format, std::span<const FormatArg>(list, sizeof...(Args)));
}
