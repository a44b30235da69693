// The string holder TCFString, filled from and read back into every text form
// the library meets: 8-bit text in a named encoding, Pascal strings, 16-bit
// and 32-bit wide text, file system names (HFSUniStr255) and std::string.
// With it go CoreUnicode::string_t, which widens or narrows a zero-terminated
// string unit by unit, and T_cstring<unsigned short>, a 16-bit text buffer.
//
// Lengths are counted in UTF-16 units. Strings the holder creates itself are
// owned. Precondition failures are reported through VERIFY and answered with
// false, -1 or an empty holder.
#pragma once

#include "T_CFTypeRef.h"
#include "CoreServices/CatalogInfo.h"

#include <cstdlib>
#include <string>

namespace CoreUnicode {

// An owned array of Target units converted unit by unit from a
// zero-terminated Source string, terminator included: 16-bit units widen
// unchanged (no surrogate pairing), wide characters are cut to their low 16
// bits.
template <class Source, class Target>
class string_t {
public:
    string_t() = default;
    ~string_t() { delete[] m_string; }
    string_t(const string_t&) = delete;
    string_t& operator=(const string_t&) = delete;

    // Releases the current array; a null source leaves it null.
    bool assign(const Source* in_source)
    {
        delete[] m_string;
        m_string = nullptr;
        if (!in_source)
            return false;
        size_t count = 0;
        while (in_source[count] != 0)
            ++count;
        ++count;
        m_string = new Target[count];
        for (size_t i = 0; i < count; ++i)
            m_string[i] = static_cast<Target>(in_source[i]);
        return true;
    }
    const Target* c_str() const { return m_string; }

private:
    Target* m_string = nullptr;
};

} // namespace CoreUnicode

// A zero-terminated text buffer of T units, allocated with malloc.
template <class T>
class T_cstring {
public:
    T_cstring() = default;
    ~T_cstring() { std::free(m_cstring); }
    T_cstring(const T_cstring&) = delete;
    T_cstring& operator=(const T_cstring&) = delete;

    // Room for n units and the terminator, the first unit zeroed. n = 0
    // changes nothing and answers whether a buffer is held.
    bool set_length(unsigned long n);

    T* m_cstring = nullptr;
};

class TCFString : public T_CFTypeRef<CFStringRef> {
public:
    TCFString(CFStringRef in_ref = nullptr, CFTypeRef_Ownership in_ownership = kCFTypeRef_Borrowed)
        : T_CFTypeRef<CFStringRef>(in_ref, in_ownership)
    {
    }
    TCFString(const char* in_cstring);           // UTF-8
    TCFString(const std::string& in_string);     // UTF-8
    TCFString(const wchar_t* in_wide_cstring);
    TCFString(const std::wstring& in_wide_string);
    TCFString(const HFSUniStr255& in_hfs_name);

    TCFString& operator=(const char* in_cstring);    // UTF-8; null leaves the holder unchanged
    TCFString& operator=(const wchar_t* in_wide_cstring);
    TCFString& operator=(const HFSUniStr255& in_hfs_name);

    // Each answers whether the holder now holds a new string; a source that
    // cannot be converted leaves the holder empty.
    bool SetValue(const char* in_cstring, CFStringEncoding inFromThisEncoding = kCFStringEncodingUTF8);
    bool SetValue(const std::string& in_string, CFStringEncoding inFromThisEncoding = kCFStringEncodingUTF8);
    bool SetValue(const unsigned char* in_pstring, CFStringEncoding inFromThisEncoding = kCFStringEncodingMacRoman);
    bool SetValue(const wchar_t* in_wide_cstring);
    bool SetValue(const unsigned short* in_cstring);   // zero-terminated UTF-16
    bool SetValue(const HFSUniStr255& in_hfs_name);

    // 8-bit text in the encoding asked for or, when the string cannot be put
    // in it, in the first available encoding of PreferredEncoding (UTF-8).
    // An empty string counts as a failure. GetValue clears out on failure,
    // GetConstCharStarValue leaves it as it was.
    template <class S>
    bool GetConstCharStarValue(S& out_string, CFStringEncoding inToThisEncoding) const;
    bool GetValue(std::string& out_string, CFStringEncoding inToThisEncoding = kCFStringEncodingUTF8) const;
    // A Pascal string in Mac Roman, cut at 255 bytes. out_pstring holds 256 bytes.
    bool GetValue(unsigned char* out_pstring) const;
    // The first 255 UTF-16 units; false for an empty or invalid holder.
    bool GetValue(HFSUniStr255& out_hfs_name) const;
    bool GetValue(T_cstring<unsigned short>& out_cstring) const;
    // A new zero-terminated UTF-16 array (the caller frees it) and its length.
    bool GetValue(const unsigned short*& out_ustring, long& out_length) const;
    bool GetValue(std::wstring& out_wide_string) const;

    bool IsTypeValid() const { return IsValid(); }
    // UTF-16 units; 0 (reported) for an invalid holder.
    long strlen() const;
    // Literal comparison: -1, 0 or 1; -1 too (reported) for an invalid holder
    // or a null right-hand side.
    int strcmp(CFStringRef rhs_StringRef) const;
    int strcmp(const char* in_rhs_utf8_cstring) const;

    static bool ToUnicode(const unsigned char* in_pstring, HFSUniStr255& out_hfs_name,
                          CFStringEncoding inFromThisEncoding);
    static bool ToUnicode(const char* in_utf8_cstring, HFSUniStr255& out_hfs_name, CFStringEncoding inFromThisEncoding);
    static bool ToUnicode(const char* in_utf8_cstring, std::wstring& out_wide_string,
                          CFStringEncoding inFromThisEncoding);
    static bool FromUnicode(const HFSUniStr255& in_hfs_name, std::string& out_string, CFStringEncoding inToThisEncoding);
    static bool FromUnicode(const wchar_t* in_wide_cstring, std::string& out_string, CFStringEncoding inToThisEncoding);

    // The fallback encodings of the 8-bit read-outs, in order.
    static const CFStringEncoding PreferredEncoding[8];

private:
    // construct() with a string this holder made, then the validity check.
    bool Adopt(CFStringRef in_created);
};

#include "T_CFString_inlines.h"
