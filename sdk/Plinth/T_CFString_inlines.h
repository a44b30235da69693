// TCFString's operations. Kept inline, beside their declarations, so that
// the library stays usable from headers only; failed preconditions name this
// file in their reports.
#pragma once

#include "CoreMachDebugLog.h"
#include "CoreServices/TextUtils.h"

#include <algorithm>
#include <cstring>

inline const CFStringEncoding TCFString::PreferredEncoding[8] = {
    kCFStringEncodingUTF8,          kCFStringEncodingUTF8,       kCFStringEncodingMacRoman,
    kCFStringEncodingWindowsLatin1, kCFStringEncodingISOLatin1,  kCFStringEncodingASCII,
    kCFStringEncodingNextStepLatin, kCFStringEncodingNonLossyASCII,
};

template <class T>
bool T_cstring<T>::set_length(unsigned long n)
{
    if (n == 0)
        return m_cstring != nullptr;
    std::free(m_cstring);
    m_cstring = static_cast<T*>(std::malloc(sizeof(T) * (n + 1)));
    if (!VERIFY(m_cstring!=__null))
        return false;
    m_cstring[0] = 0;
    return true;
}

// ---------------------------------------------------------------- construction

inline TCFString::TCFString(const char* in_cstring) : T_CFTypeRef<CFStringRef>()
{
    if (VERIFY(in_cstring!=NULL))
        SetValue(in_cstring, kCFStringEncodingUTF8);
}

inline TCFString::TCFString(const std::string& in_string) : T_CFTypeRef<CFStringRef>()
{
    SetValue(in_string, kCFStringEncodingUTF8);
}

inline TCFString::TCFString(const wchar_t* in_wide_cstring) : T_CFTypeRef<CFStringRef>()
{
    if (VERIFY(in_wide_cstring!=NULL))
        SetValue(in_wide_cstring);
}

inline TCFString::TCFString(const std::wstring& in_wide_string) : T_CFTypeRef<CFStringRef>()
{
    SetValue(in_wide_string.c_str());
}

inline TCFString::TCFString(const HFSUniStr255& in_hfs_name) : T_CFTypeRef<CFStringRef>()
{
    SetValue(in_hfs_name);
}

inline TCFString& TCFString::operator=(const char* in_cstring)
{
    if (VERIFY(in_cstring!=NULL))
        SetValue(in_cstring, kCFStringEncodingUTF8);
    return *this;
}

inline TCFString& TCFString::operator=(const wchar_t* in_wide_cstring)
{
    SetValue(in_wide_cstring);
    return *this;
}

inline TCFString& TCFString::operator=(const HFSUniStr255& in_hfs_name)
{
    SetValue(in_hfs_name);
    return *this;
}

// ---------------------------------------------------------------- filling

inline bool TCFString::Adopt(CFStringRef in_created)
{
    bool fOk = construct(in_created, kCFTypeRef_Owned);
    if (fOk)
        strlen();
    return fOk;
}

inline bool TCFString::SetValue(const char* in_cstring, CFStringEncoding inFromThisEncoding)
{
    if (!VERIFY(in_cstring!=NULL))
        return false;
    CFStringRef created = CFStringCreateWithCString(kCFAllocatorDefault, in_cstring, inFromThisEncoding);
    if (!created)
        CoreMachDebugLog("TCFString::SetValue in_cstring:%s inFromThisEncoding:%d\n", in_cstring,
                         static_cast<int>(inFromThisEncoding));
    return Adopt(created);
}

inline bool TCFString::SetValue(const std::string& in_string, CFStringEncoding inFromThisEncoding)
{
    return SetValue(in_string.c_str(), inFromThisEncoding);
}

inline bool TCFString::SetValue(const unsigned char* in_pstring, CFStringEncoding inFromThisEncoding)
{
    if (!VERIFY(in_pstring!=NULL))
        return false;
    return Adopt(CFStringCreateWithPascalString(kCFAllocatorDefault, in_pstring, inFromThisEncoding));
}

inline bool TCFString::SetValue(const unsigned short* in_cstring)
{
    if (!VERIFY(in_cstring!=NULL))
        return false;
    std::u16string units;
    while (in_cstring[units.size()] != 0)
        units.push_back(static_cast<char16_t>(in_cstring[units.size()]));
    long string_length = static_cast<long>(units.size());
    bool fOk = Adopt(CFStringCreateWithCharacters(kCFAllocatorDefault, units.data(), string_length));
    if (fOk)
        VERIFY(string_length == strlen());
    return fOk;
}

inline bool TCFString::SetValue(const wchar_t* in_wide_cstring)
{
    if (!VERIFY(in_wide_cstring!=NULL))
        return false;
    CoreUnicode::string_t<wchar_t, unsigned short> narrowed;
    narrowed.assign(in_wide_cstring);
    std::u16string units;
    for (const unsigned short* unit = narrowed.c_str(); *unit != 0; ++unit)
        units.push_back(static_cast<char16_t>(*unit));
    return Adopt(CFStringCreateWithCharacters(kCFAllocatorDefault, units.data(), static_cast<CFIndex>(units.size())));
}

inline bool TCFString::SetValue(const HFSUniStr255& in_hfs_name)
{
    CFIndex length = std::min<CFIndex>(in_hfs_name.length, 255);
    return Adopt(CFStringCreateWithCharacters(kCFAllocatorDefault, in_hfs_name.unicode, length));
}

// ---------------------------------------------------------------- reading

template <class S>
bool TCFString::GetConstCharStarValue(S& out_string, CFStringEncoding inToThisEncoding) const
{
    if (!mValueRef || CFGetTypeID(mValueRef) != CFStringGetTypeID())
        return false;
    const CFIndex length = CFStringGetLength(mValueRef);
    if (length < 1)
        return false;

    bool fOk = false;
    char* buffer_raw_string = nullptr;
    if (inToThisEncoding != kCFStringEncodingInvalidId && CFStringIsEncodingAvailable(inToThisEncoding)) {
        CFIndex _max_buffer_size = CFStringGetMaximumSizeForEncoding(length, inToThisEncoding) + 1;
        buffer_raw_string = (char*)std::malloc(_max_buffer_size);
        if (buffer_raw_string)
            fOk = ::CFStringGetCString(mValueRef, buffer_raw_string, _max_buffer_size, inToThisEncoding);
    }
    if (!fOk) {
        std::free(buffer_raw_string);
        buffer_raw_string = nullptr;
        for (size_t i = 0; i < sizeof(PreferredEncoding) / sizeof(PreferredEncoding[0]); ++i) {
            if (!CFStringIsEncodingAvailable(PreferredEncoding[i]))
                continue;
            CFIndex _max_buffer_size = CFStringGetMaximumSizeForEncoding(length, PreferredEncoding[i]) + 1;
            if (VERIFY(buffer_raw_string = (char*)std::malloc(_max_buffer_size)))
                VERIFY(fOk = ::CFStringGetCString(mValueRef,buffer_raw_string,_max_buffer_size,PreferredEncoding[i]));
            break;
        }
    }
    if (fOk)
        out_string = buffer_raw_string;
    std::free(buffer_raw_string);
    return fOk;
}

inline bool TCFString::GetValue(std::string& out_string, CFStringEncoding inToThisEncoding) const
{
    if (GetConstCharStarValue<std::string>(out_string, inToThisEncoding))
        return true;
    out_string.clear();
    return false;
}

inline bool TCFString::GetValue(unsigned char* out_pstring) const
{
    std::string text;
    if (!out_pstring || !GetValue(text, kCFStringEncodingMacRoman))
        return false;
    c2pstrcpy(out_pstring, text.c_str());
    return true;
}

inline bool TCFString::GetValue(HFSUniStr255& out_hfs_name) const
{
    out_hfs_name.length = 0;
    if (!IsValid())
        return false;
    CFIndex units = std::min<CFIndex>(CFStringGetLength(mValueRef), 255);
    CFIndex usedBytes = 0;
    CFIndex converted = CFStringGetBytes(mValueRef, CFRangeMake(0, units), kCFStringEncodingUnicode, 0, false,
                                         reinterpret_cast<UInt8*>(out_hfs_name.unicode),
                                         sizeof(out_hfs_name.unicode), &usedBytes);
    out_hfs_name.length = static_cast<UInt16>(usedBytes / 2);
    return converted != 0 && out_hfs_name.length != 0;
}

inline bool TCFString::GetValue(T_cstring<unsigned short>& out_cstring) const
{
    if (!VERIFY(IsTypeValid()))
        return false;
    const CFIndex n = CFStringGetLength(mValueRef);
    if (!out_cstring.set_length(n))
        return false;
    CFIndex uszValue_sizebytes = 2 * n + 2;
    bool fOk;
    if (!VERIFY(fOk = ::CFStringGetCString(mValueRef,(char*)out_cstring.m_cstring,uszValue_sizebytes,kCFStringEncodingUnicode))) {
        std::free(out_cstring.m_cstring);
        out_cstring.m_cstring = nullptr;
        return false;
    }
    out_cstring.m_cstring[n] = 0;
    return true;
}

inline bool TCFString::GetValue(const unsigned short*& out_ustring, long& out_length) const
{
    out_ustring = nullptr;
    if (!VERIFY(IsTypeValid()))
        return false;
    const CFIndex n = CFStringGetLength(mValueRef);
    CFIndex uszValue_sizebytes = 2 * n + 2;
    unsigned short* uszValue = static_cast<unsigned short*>(std::malloc(uszValue_sizebytes));
    if (!VERIFY(uszValue))
        return false;
    if (!::CFStringGetCString(mValueRef, reinterpret_cast<char*>(uszValue), uszValue_sizebytes, kCFStringEncodingUnicode)) {
        std::free(uszValue);
        return false;
    }
    uszValue[n] = 0;
    out_ustring = uszValue;
    out_length = n;
    return true;
}

inline bool TCFString::GetValue(std::wstring& out_wide_string) const
{
    const unsigned short* units = nullptr;
    long length = 0;
    if (!GetValue(units, length))
        return false;
    CoreUnicode::string_t<unsigned short, wchar_t> widened;
    widened.assign(units);
    out_wide_string = widened.c_str();
    std::free(const_cast<unsigned short*>(units));
    return true;
}

inline long TCFString::strlen() const
{
    if (!VERIFY(IsValid()))
        return 0;
    return CFStringGetLength(mValueRef);
}

inline int TCFString::strcmp(CFStringRef rhs_StringRef) const
{
    if (!VERIFY(IsValid()))
        return -1;
    if (!VERIFY(rhs_StringRef!=NULL))
        return -1;
    CFComparisonResult result = CFStringCompare(mValueRef, rhs_StringRef, 0);
    return result < 0 ? -1 : result > 0 ? 1 : 0;
}

inline int TCFString::strcmp(const char* in_rhs_utf8_cstring) const
{
    if (!VERIFY(IsValid()))
        return -1;
    if (!VERIFY(in_rhs_utf8_cstring!=NULL))
        return -1;
    TCFString rhs;
    if (!rhs.SetValue(in_rhs_utf8_cstring, kCFStringEncodingUTF8))
        return -1;
    return strcmp(rhs.mValueRef);
}

// ---------------------------------------------------------------- one-shot conversions

inline bool TCFString::ToUnicode(const unsigned char* in_pstring, HFSUniStr255& out_hfs_name,
                                 CFStringEncoding inFromThisEncoding)
{
    if (!VERIFY(in_pstring!=NULL))
        return false;
    TCFString string;
    return string.SetValue(in_pstring, inFromThisEncoding) && string.GetValue(out_hfs_name);
}

inline bool TCFString::ToUnicode(const char* in_utf8_cstring, HFSUniStr255& out_hfs_name,
                                 CFStringEncoding inFromThisEncoding)
{
    if (!VERIFY(in_utf8_cstring!=NULL))
        return false;
    TCFString string;
    return string.SetValue(in_utf8_cstring, inFromThisEncoding) && string.GetValue(out_hfs_name);
}

inline bool TCFString::ToUnicode(const char* in_utf8_cstring, std::wstring& out_wide_string,
                                 CFStringEncoding inFromThisEncoding)
{
    if (!VERIFY(in_utf8_cstring!=NULL))
        return false;
    TCFString string;
    return string.SetValue(in_utf8_cstring, inFromThisEncoding) && string.GetValue(out_wide_string);
}

inline bool TCFString::FromUnicode(const HFSUniStr255& in_hfs_name, std::string& out_string,
                                   CFStringEncoding inToThisEncoding)
{
    TCFString string;
    return string.SetValue(in_hfs_name) && string.GetValue(out_string, inToThisEncoding);
}

inline bool TCFString::FromUnicode(const wchar_t* in_wide_cstring, std::string& out_string,
                                   CFStringEncoding inToThisEncoding)
{
    if (!VERIFY(in_wide_cstring!=NULL))
        return false;
    TCFString string;
    return string.SetValue(in_wide_cstring) && string.GetValue(out_string, inToThisEncoding);
}
