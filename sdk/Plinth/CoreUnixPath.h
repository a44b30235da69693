// A POSIX path held as UTF-8 text, with the text algorithms on paths (parent,
// last name, extensions, qualification, a walk over the leading folders) as
// static operations on strings and as members on the held path, and a few
// thin file-system operations.
//
// Paths are never normalised: ".", "..", repeated slashes and symbolic links
// stay as written. The root is a non-empty text made only of slashes ("/",
// "//"): it has no parent, no last name and no extension, and takes none.
// Failed preconditions are reported through VERIFY and answered false; out
// strings are emptied first, so a failed operation leaves them empty.
#pragma once

#include "CoreFoundation/CoreFoundation.h"

#include <concepts>
#include <string>

class CoreUnixPath {
public:
    static const std::string s_slash_str_const;   // "/"

    // ------------------------------------------------------------ on text
    static bool IsRootPath(const char* in_path);
    static bool IsFullyQualified(const char* in_path);      // starts with "/"
    static bool IsPartiallyQualified(const char* in_path);  // holds "/", but not first
    static bool IsQualified(const char* in_path);
    static bool IsJustName(const char* in_path);            // no "/" at all

    static bool AddTrailingSlash(std::string& inout_path);
    static bool RemoveTrailingSlash(std::string& inout_path);
    static bool GetPathParent(const std::string& path, std::string& out_parent);
    static bool GetPathJustName(const std::string& path, std::string& out_name);
    static bool GetPathExtension(const std::string& path, std::string& out_extension);
    static bool HasValidFileExtension(const std::string& path);
    static bool HasPathExtension(const std::string& path, const char* in_extension);
    static bool AddPathExtension(std::string& inout_path, const char* in_extension);
    static bool ReplacePathExtension(std::string& path, const char* in_extension);
    static bool GetPathBasePartAndNamePart(const std::string& path, std::string& out_base, std::string& out_name);

    static bool FileExists(const char* in_path);
    static bool FileExistsRead(const char* in_path);
    static bool FileExistsWrite(const char* in_path);       // read and write, as FileExistsReadWrite
    static bool FileExistsReadWrite(const char* in_path);
    static bool FileDelete(const char* in_path);
    static bool FolderDelete(const char* in_path);
    // A symbolic link named in_to that points at in_from, which must be readable.
    static bool MakeSymbolicLinkFromTo(const char* in_from, const char* in_to);

    // ------------------------------------------------------------ on the held path
    CoreUnixPath() = default;
    CoreUnixPath(const char* in_path) { Construct(in_path); }
    CoreUnixPath(CFStringRef unix_file_path) { Construct(unix_file_path); }
    CoreUnixPath(CFURLRef unix_file_url) { Construct(unix_file_url); }
    // From a file reference (CoreRefPath): anything that answers its Unix path.
    template <class RefPath>
        requires requires(const RefPath& r) { { r.GetUnixPath() } -> std::convertible_to<const char*>; }
    CoreUnixPath(const RefPath& copyOf);
    CoreUnixPath(const CoreUnixPath& copyOf) : mPath(copyOf.mPath) {}
    CoreUnixPath& operator=(const CoreUnixPath& copyOf)
    {
        mPath = copyOf.mPath;
        return *this;
    }
    template <class RefPath>
        requires requires(const RefPath& r) { { r.GetUnixPath() } -> std::convertible_to<const char*>; }
    CoreUnixPath& operator=(const RefPath& copyOf);
    virtual ~CoreUnixPath() = default;

    // A null text empties the path. Each answers whether the path is now
    // non-empty (the string and URL forms also report their failures).
    bool Construct(const char* in_path);
    bool Construct(CFStringRef unix_file_path);
    bool Construct(CFURLRef unix_file_url);

    operator const char*() const { return mPath.c_str(); }
    const std::string& GetPath() const { return mPath; }
    bool IsEmpty() const { return mPath.empty(); }
    void Empty() { mPath.clear(); }

    bool IsRoot() const { return IsRootPath(mPath.c_str()); }
    bool IsFullyQualified() const;
    bool IsPartiallyQualified() const;
    bool IsQualified() const;
    bool IsJustName() const;

    bool RemoveTrailingSlash() { return RemoveTrailingSlash(mPath); }
    bool GetParent(std::string& out_parent) const { return GetPathParent(mPath, out_parent); }
    bool GetParent(CoreUnixPath& out_parent_path) const;
    bool GetJustName(std::string& out_name) const { return GetPathJustName(mPath, out_name); }
    bool GetExtension(std::string& out_extension) const { return GetPathExtension(mPath, out_extension); }
    bool HasExtension(const char* in_extension) const;
    bool ReplaceExtension(const char* in_extension) { return ReplacePathExtension(mPath, in_extension); }

    // The walk over the leading folders: for /a/b/c the pairs (/, a/b/c),
    // (/a/, b/c), (/a/b/, c); for x/y (x/, y); for a bare name (./, name).
    // The state is the caller's base and name.
    bool GetFirstPair(std::string& out_base, std::string& out_name) const;
    bool GetNextPair(std::string& inout_base, std::string& inout_name) const;

    // The process's current folder.
    bool getcwd();
    bool chdir() const;

private:
    std::string mPath;
};

#include "CoreUnixPath_inlines.h"
