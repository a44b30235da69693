#include "CoreUnixPath.h"

#include "CoreMachDebugLog.h"
#include "CoreStaticInitOrder.h"

#include <cctype>
#include <cstring>
#include <unistd.h>

const std::string CoreUnixPath::s_slash_str_const CORE_INIT_ORDER(kCoreInitRank_UnixPathConstants)("/");

// A null path is reported in the name of the test that was given it.
#define CoreUnixPath_NotNull (nullptr != in_path)

// ---------------------------------------------------------------- qualification

bool CoreUnixPath::IsRootPath(const char* in_path)
{
    if (!in_path || !*in_path)
        return false;
    for (const char* p = in_path; *p; ++p)
        if (*p != '/')
            return false;
    return true;
}

bool CoreUnixPath::IsFullyQualified(const char* in_path)
{
    if (!VERIFY(CoreUnixPath_NotNull))
        return false;
    return in_path[0] == '/';
}

bool CoreUnixPath::IsPartiallyQualified(const char* in_path)
{
    if (!VERIFY(CoreUnixPath_NotNull))
        return false;
    return in_path[0] != '\0' && in_path[0] != '/' && std::strchr(in_path, '/') != nullptr;
}

bool CoreUnixPath::IsQualified(const char* in_path)
{
    if (!VERIFY(CoreUnixPath_NotNull))
        return false;
    return IsFullyQualified(in_path) || IsPartiallyQualified(in_path);
}

bool CoreUnixPath::IsJustName(const char* in_path)
{
    return in_path && in_path[0] != '\0' && std::strchr(in_path, '/') == nullptr;
}

// ---------------------------------------------------------------- slashes

bool CoreUnixPath::AddTrailingSlash(std::string& inout_path)
{
    if (!inout_path.empty() && inout_path.back() == '/')
        return false;
    inout_path += '/';
    return true;
}

bool CoreUnixPath::RemoveTrailingSlash(std::string& inout_path)
{
    if (inout_path.empty() || inout_path.back() != '/')
        return false;
    inout_path.pop_back();
    return true;
}

// ---------------------------------------------------------------- parent and name

bool CoreUnixPath::GetPathParent(const std::string& path, std::string& out_parent)
{
    out_parent.clear();
    if (IsRootPath(path.c_str()))
        return false;
    std::string trimmed = path;
    RemoveTrailingSlash(trimmed);
    std::string::size_type rfound_slash_at = trimmed.rfind('/');
    if (rfound_slash_at == std::string::npos || rfound_slash_at == 0)
        return false;
    out_parent = trimmed.substr(0, rfound_slash_at);
    AddTrailingSlash(out_parent);
    return true;
}

bool CoreUnixPath::GetPathJustName(const std::string& path, std::string& out_name)
{
    out_name.clear();
    if (!VERIFY(!IsRootPath(path.c_str())))
        return false;
    std::string trimmed = path;
    RemoveTrailingSlash(trimmed);
    std::string::size_type rfound_slash_at = trimmed.rfind('/');
    if (rfound_slash_at == std::string::npos || rfound_slash_at == 0)
        return false;
    out_name = trimmed.substr(rfound_slash_at + 1);
    return true;
}

// ---------------------------------------------------------------- extensions

bool CoreUnixPath::GetPathExtension(const std::string& path, std::string& out_extension)
{
    out_extension.clear();
    if (!VERIFY(!IsRootPath(path.c_str())))
        return false;
    std::string::size_type rfound_dot_at = path.rfind('.');
    if (!VERIFY(int(rfound_dot_at)>0))
        return false;
    out_extension = path.substr(rfound_dot_at + 1);
    return true;
}

bool CoreUnixPath::HasValidFileExtension(const std::string& path)
{
    std::string::size_type dot = path.rfind('.');
    if (dot == std::string::npos || dot == 0)
        return false;
    std::string::size_type slash = path.rfind('/');
    long rfound_dot_at = static_cast<long>(dot);
    long rfound_slash_at = slash == std::string::npos ? -1 : static_cast<long>(slash);
    return VERIFY(rfound_dot_at>rfound_slash_at);
}

bool CoreUnixPath::HasPathExtension(const std::string& path, const char* in_extension)
{
    std::string s_extension;
    if (!VERIFY(GetPathExtension(path, s_extension)))
        return false;
    if (!in_extension)
        return false;
    const char* wanted = in_extension[0] == '.' ? in_extension + 1 : in_extension;
    const char* have = s_extension.c_str();
    for (size_t i = 0;; ++i) {
        if (std::tolower(static_cast<unsigned char>(have[i])) != std::tolower(static_cast<unsigned char>(wanted[i])))
            return false;
        if (have[i] == '\0')
            return true;
    }
}

bool CoreUnixPath::AddPathExtension(std::string& inout_path, const char* in_extension)
{
    if (!VERIFY(!IsRootPath(inout_path.c_str())))
        return false;
    if (!VERIFY(in_extension))
        return false;
    if (in_extension[0] != '.')
        inout_path += '.';
    inout_path += in_extension;
    return true;
}

bool CoreUnixPath::ReplacePathExtension(std::string& path, const char* in_extension)
{
    if (!VERIFY(!IsRootPath(path.c_str())))
        return false;
    bool fOk = false;
    if (!HasValidFileExtension(path)) {
        VERIFY(fOk = CoreUnixPath::AddPathExtension(path,in_extension));
        return fOk;
    }
    std::string::size_type rfound_dot_at = path.rfind('.');
    if (!VERIFY(int(rfound_dot_at)>0))
        return false;
    std::string new_path = path.substr(0, rfound_dot_at);
    if (VERIFY(AddPathExtension(new_path,in_extension))) {
        path = new_path;
        fOk = true;
    }
    return fOk;
}

// ---------------------------------------------------------------- the walk

bool CoreUnixPath::GetPathBasePartAndNamePart(const std::string& path, std::string& out_base, std::string& out_name)
{
    out_base.clear();
    out_name.clear();
    const std::string::size_type path_length = path.length();
    if (!VERIFY(path_length))
        return false;
    if (IsFullyQualified(path.c_str())) {
        out_base = s_slash_str_const;
        if (path_length > 1)
            out_name = path.substr(1);
        return true;
    }
    if (!IsPartiallyQualified(path.c_str())) {
        out_base = path;
        return true;
    }
    std::string::size_type found_slash_at = path.find('/');
    if (!VERIFY(int(found_slash_at)>0))
        return false;
    out_base = path.substr(0, found_slash_at);
    AddTrailingSlash(out_base);
    out_name = path.substr(found_slash_at + 1);
    return true;
}

// ---------------------------------------------------------------- file system

// access modes: 0 exists, 4 read, 6 read and write.
bool CoreUnixPath::FileExists(const char* in_path) { return in_path && 0 == access(in_path, 0); }
bool CoreUnixPath::FileExistsRead(const char* in_path) { return in_path && 0 == access(in_path, 4); }
bool CoreUnixPath::FileExistsWrite(const char* in_path) { return in_path && 0 == access(in_path, 6); }
bool CoreUnixPath::FileExistsReadWrite(const char* in_path) { return in_path && 0 == access(in_path, 6); }

bool CoreUnixPath::FileDelete(const char* in_path)
{
    if (!VERIFY(CoreUnixPath_NotNull))
        return false;
    bool fOk;
    VERIFY(fOk = (0==unlink(in_path)));
    return fOk;
}

bool CoreUnixPath::FolderDelete(const char* in_path)
{
    if (!VERIFY(CoreUnixPath_NotNull))
        return false;
    bool fOk;
    VERIFY(fOk = (0==rmdir(in_path)));
    return fOk;
}

bool CoreUnixPath::MakeSymbolicLinkFromTo(const char* in_from, const char* in_to)
{
    if (!in_from || !in_to || 0 != access(in_from, 4))
        return false;
    std::string from(in_from), to(in_to);
    RemoveTrailingSlash(from);
    RemoveTrailingSlash(to);
    int posix_result = symlink(from.c_str(), to.c_str());
    bool fOk;
    VERIFY(fOk = (0==posix_result));
    return fOk;
}
