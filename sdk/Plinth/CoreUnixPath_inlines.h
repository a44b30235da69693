// CoreUnixPath's members on the held path.
#pragma once

#include "CoreMachDebugLog.h"
#include "T_CFString.h"

#include <unistd.h>

inline bool CoreUnixPath::Construct(const char* in_path)
{
    if (in_path)
        mPath = in_path;
    else
        mPath.clear();
    return !mPath.empty();
}

inline bool CoreUnixPath::Construct(CFStringRef unix_file_path)
{
    mPath.clear();
    if (!VERIFY(unix_file_path))
        return false;
    bool fOk;
    VERIFY(fOk = TCFString(unix_file_path).GetValue(mPath));
    return fOk;
}

inline bool CoreUnixPath::Construct(CFURLRef unix_file_url)
{
    if (!VERIFY(unix_file_url)) {
        mPath.clear();
        return false;
    }
    CFStringRef posix_file_path = CFURLCopyFileSystemPath(unix_file_url, kCFURLPOSIXPathStyle);
    if (!VERIFY(posix_file_path))
        return false;
    bool fOk;
    VERIFY(fOk = Construct(posix_file_path));
    CFRelease(posix_file_path);
    return fOk;
}

template <class RefPath>
    requires requires(const RefPath& r) { { r.GetUnixPath() } -> std::convertible_to<const char*>; }
CoreUnixPath::CoreUnixPath(const RefPath& copyOf)
{
    VERIFY(Construct(copyOf.GetUnixPath()));
}

template <class RefPath>
    requires requires(const RefPath& r) { { r.GetUnixPath() } -> std::convertible_to<const char*>; }
CoreUnixPath& CoreUnixPath::operator=(const RefPath& copyOf)
{
    VERIFY(Construct(copyOf.GetUnixPath()));
    return *this;
}

inline bool CoreUnixPath::IsFullyQualified() const
{
    if (!VERIFY(!IsEmpty()))
        return false;
    return IsFullyQualified(mPath.c_str());
}

inline bool CoreUnixPath::IsPartiallyQualified() const
{
    if (!VERIFY(!IsEmpty()))
        return false;
    return IsPartiallyQualified(mPath.c_str());
}

inline bool CoreUnixPath::IsQualified() const
{
    if (!VERIFY(!IsEmpty()))
        return false;
    return IsQualified(mPath.c_str());
}

inline bool CoreUnixPath::IsJustName() const
{
    if (!VERIFY(!IsEmpty()))
        return false;
    return !IsQualified();
}

inline bool CoreUnixPath::GetParent(CoreUnixPath& out_parent_path) const
{
    std::string parent_path;
    if (!VERIFY(GetParent(parent_path)))
        return false;
    bool fOk;
    VERIFY(fOk=out_parent_path.Construct(parent_path.c_str()));
    return fOk;
}

inline bool CoreUnixPath::HasExtension(const char* in_extension) const
{
    return HasValidFileExtension(mPath) && HasPathExtension(mPath, in_extension);
}

inline bool CoreUnixPath::GetFirstPair(std::string& out_base, std::string& out_name) const
{
    out_base.clear();
    out_name.clear();
    if (!VERIFY(!IsEmpty()))
        return false;
    if (IsJustName()) {
        out_base = "./";
        out_name = mPath;
        return true;
    }
    return GetPathBasePartAndNamePart(mPath, out_base, out_name);
}

inline bool CoreUnixPath::GetNextPair(std::string& inout_base, std::string& inout_name) const
{
    const size_t base_length = inout_base.length();
    if (!VERIFY(!IsEmpty() && (base_length>0)))
        return false;
    if (!IsPartiallyQualified(inout_name.c_str()))
        return false;
    // A base longer than the path (not one the walk made) leaves nothing to split.
    std::string rest = base_length < mPath.length() ? mPath.substr(base_length) : std::string();
    std::string next_base;
    bool fOk = GetPathBasePartAndNamePart(rest, next_base, inout_name);
    inout_base += next_base;
    return fOk;
}

inline bool CoreUnixPath::getcwd()
{
    struct {
        char buffer[1025];
    } cwd = {};
    if (!VERIFY(::getcwd(cwd.buffer,sizeof(cwd.buffer))))
        return false;
    bool fOk;
    VERIFY(fOk = Construct(cwd.buffer));
    return fOk;
}

inline bool CoreUnixPath::chdir() const
{
    if (!VERIFY(!IsEmpty()))
        return false;
    bool fOk;
    VERIFY(fOk = (0==::chdir(mPath.c_str())));
    return fOk;
}
