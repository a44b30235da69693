#include "sys/xattr.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>
#include <string_view>
#include <vector>

// Every Linux call below goes through glibc's declarations, which take fewer
// arguments than ours (see xattr.h): ::getxattr(path, name, value, size) can
// only resolve to the C library, never back to these functions.

namespace {

using sentrel::sys::detail::linuxXattrCreate;
using sentrel::sys::detail::linuxXattrReplace;

constexpr std::string_view userNamespace = "user.";
constexpr std::string_view linuxNamespaces[] = {"user.", "trusted.", "security.", "system."};

bool hasLinuxNamespace(std::string_view name)
{
    for (std::string_view ns : linuxNamespaces)
        if (name.starts_with(ns))
            return true;
    return false;
}

// The on-disk name of a macOS attribute name, held without allocating.
class LinuxName {
public:
    // False, with errno set, when the name cannot be used.
    bool assign(const char* macName)
    {
        if (macName == nullptr) {
            errno = EFAULT;
            return false;
        }
        const size_t length = strnlen(macName, XATTR_MAXNAMELEN + 1);
        const std::string_view name(macName, length);
        const bool prefixed = !hasLinuxNamespace(name);
        if ((prefixed ? userNamespace.size() : 0) + length > XATTR_MAXNAMELEN) {
            errno = ENAMETOOLONG;
            return false;
        }
        char* end = text_;
        if (prefixed)
            end = std::copy(userNamespace.begin(), userNamespace.end(), end);
        end = std::copy(name.begin(), name.end(), end);
        *end = '\0';
        return true;
    }
    const char* c_str() const { return text_; }

private:
    char text_[XATTR_MAXNAMELEN + 1];
};

// The macOS name of an on-disk name. "user." comes off unless the rest would
// read as another namespace, which would then lead somewhere else.
std::string_view macName(std::string_view linuxName)
{
    if (linuxName.starts_with(userNamespace)) {
        const std::string_view rest = linuxName.substr(userNamespace.size());
        if (!hasLinuxNamespace(rest))
            return rest;
    }
    return linuxName;
}

bool optionsAllowed(int options, int allowed)
{
    if ((options & ~allowed) != 0) {
        errno = EINVAL;
        return false;
    }
    return true;
}

// macOS gives `position` a meaning only for the resource fork, which has no
// counterpart here.
bool positionAllowed(uint32_t position, const char* name)
{
    if (position == 0)
        return true;
    errno = std::strcmp(name, XATTR_RESOURCEFORK_NAME) == 0 ? ENOTSUP : EINVAL;
    return false;
}

bool follows(int options)
{
    return (options & XATTR_NOFOLLOW) == 0;
}

ssize_t linuxList(const char* path, char* list, size_t size, bool follow)
{
    return follow ? ::listxattr(path, list, size) : ::llistxattr(path, list, size);
}

ssize_t linuxGet(const char* path, const char* name, void* value, size_t size, bool follow)
{
    return follow ? ::getxattr(path, name, value, size) : ::lgetxattr(path, name, value, size);
}

// The raw on-disk list. Another process may add names between asking for the
// size and reading the list; a few retries cover that.
bool readLinuxList(const char* path, bool follow, std::vector<char>& list)
{
    for (int attempt = 0; attempt < 8; ++attempt) {
        const ssize_t needed = linuxList(path, nullptr, 0, follow);
        if (needed < 0)
            return false;
        list.resize(static_cast<size_t>(needed));
        if (needed == 0)
            return true;
        const ssize_t got = linuxList(path, list.data(), list.size(), follow);
        if (got >= 0) {
            list.resize(static_cast<size_t>(got));
            return true;
        }
        if (errno != ERANGE)
            return false;
    }
    errno = ERANGE;
    return false;
}

template <typename Visit>
void forEachName(const std::vector<char>& list, Visit visit)
{
    size_t start = 0;
    while (start < list.size()) {
        const void* nul = std::memchr(list.data() + start, '\0', list.size() - start);
        const size_t end = nul ? static_cast<size_t>(static_cast<const char*>(nul) - list.data()) : list.size();
        if (end > start)
            visit(std::string_view(list.data() + start, end - start));
        start = end + 1;
    }
}

}  // namespace

ssize_t listxattr(const char* path, char* namebuf, size_t size, int options)
{
    if (!optionsAllowed(options, XATTR_NOFOLLOW))
        return -1;
    std::vector<char> list;
    try {
        if (!readLinuxList(path, follows(options), list))
            return -1;
    } catch (const std::bad_alloc&) {
        errno = ENOMEM;
        return -1;
    }

    size_t needed = 0;
    forEachName(list, [&](std::string_view name) { needed += macName(name).size() + 1; });
    if (namebuf == nullptr)
        return static_cast<ssize_t>(needed);
    if (needed > size) {
        errno = ERANGE;
        return -1;
    }
    char* out = namebuf;
    forEachName(list, [&](std::string_view name) {
        const std::string_view mac = macName(name);
        out = std::copy(mac.begin(), mac.end(), out);
        *out++ = '\0';
    });
    return static_cast<ssize_t>(needed);
}

ssize_t getxattr(const char* path, const char* name, void* value, size_t size, uint32_t position, int options)
{
    LinuxName linuxName;
    if (!optionsAllowed(options, XATTR_NOFOLLOW) || !linuxName.assign(name) || !positionAllowed(position, name))
        return -1;
    const bool follow = follows(options);
    if (value == nullptr)
        return linuxGet(path, linuxName.c_str(), nullptr, 0, follow);
    if (size == 0) {
        // Linux answers a zero size with the value's size even when a buffer
        // is given; a caller that gave a buffer must not be told that many
        // bytes are in it.
        const ssize_t length = linuxGet(path, linuxName.c_str(), nullptr, 0, follow);
        if (length > 0) {
            errno = ERANGE;
            return -1;
        }
        return length;
    }
    return linuxGet(path, linuxName.c_str(), value, size, follow);
}

int setxattr(const char* path, const char* name, const void* value, size_t size, uint32_t position, int options)
{
    LinuxName linuxName;
    if (!optionsAllowed(options, XATTR_NOFOLLOW | XATTR_CREATE | XATTR_REPLACE) || !linuxName.assign(name) ||
        !positionAllowed(position, name))
        return -1;
    if ((options & XATTR_CREATE) && (options & XATTR_REPLACE)) {
        errno = EINVAL;
        return -1;
    }
    const int flags = ((options & XATTR_CREATE) ? linuxXattrCreate : 0) | ((options & XATTR_REPLACE) ? linuxXattrReplace : 0);
    return follows(options) ? ::setxattr(path, linuxName.c_str(), value, size, flags)
                            : ::lsetxattr(path, linuxName.c_str(), value, size, flags);
}

int removexattr(const char* path, const char* name, int options)
{
    LinuxName linuxName;
    if (!optionsAllowed(options, XATTR_NOFOLLOW) || !linuxName.assign(name))
        return -1;
    return follows(options) ? ::removexattr(path, linuxName.c_str()) : ::lremovexattr(path, linuxName.c_str());
}
