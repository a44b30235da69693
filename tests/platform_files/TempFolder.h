// A temporary folder of real files with real extended attributes, removed
// (with everything in it) when the test ends. Attribute names are in their
// macOS form and go through the macOS calls of platform/sys.
#pragma once

#include "Foundation/Foundation.h"
#include "sys/xattr.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

class TempFolder {
public:
    // A fresh folder under `base`. `usable()` is false when it could not be
    // made or its file system keeps no user extended attributes.
    explicit TempFolder(const std::string& base = "/tmp")
    {
        std::string pattern = base + "/sentrel-test-XXXXXX";
        if (!mkdtemp(pattern.data()))
            return;
        m_path = pattern;
        const std::string probe = m_path + "/.probe";
        writeFile(".probe", "");
        m_usable = setxattr(probe.c_str(), "sentrel.probe", "1", 1, 0, 0) == 0;
        unlink(probe.c_str());
    }
    ~TempFolder()
    {
        if (m_path.empty())
            return;
        std::error_code ignored;
        for (auto it = std::filesystem::recursive_directory_iterator(m_path, ignored);
             it != std::filesystem::recursive_directory_iterator(); it.increment(ignored))
            if (it->is_directory(ignored) && !it->is_symlink(ignored))
                std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                             std::filesystem::perm_options::add, ignored);
        std::filesystem::permissions(m_path, std::filesystem::perms::owner_all, ignored);
        std::filesystem::remove_all(m_path, ignored);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    bool usable() const { return m_usable; }
    const std::string& path() const { return m_path; }
    std::string path(std::string_view name) const { return m_path + "/" + std::string(name); }

    // Writes (replacing) a file below the folder; answers its full path.
    std::string writeFile(std::string_view name, std::string_view contents, mode_t mode = 0644) const
    {
        const std::string full = path(name);
        const int fd = open(full.c_str(), O_CREAT | O_WRONLY | O_TRUNC, mode);
        if (fd >= 0) {
            if (!contents.empty() && write(fd, contents.data(), contents.size()) != static_cast<ssize_t>(contents.size()))
                std::abort();
            close(fd);
        }
        return full;
    }
    std::string makeFolder(std::string_view name) const
    {
        const std::string full = path(name);
        std::filesystem::create_directories(full);
        return full;
    }

    // Sets an attribute by its macOS name on the file itself.
    static bool setAttribute(const std::string& file, const char* name, std::string_view value)
    {
        return setxattr(file.c_str(), name, value.data(), value.size(), 0, 0) == 0;
    }
    // The value of an attribute as the disk keeps it (Linux name), or "<none>".
    static std::string diskAttribute(const std::string& file, const char* linuxName)
    {
        std::vector<char> value(65536);
        const ssize_t got = ::lgetxattr(file.c_str(), linuxName, value.data(), value.size());
        return got < 0 ? std::string("<none>") : std::string(value.data(), static_cast<size_t>(got));
    }

    static NSURL* url(const std::string& file) { return NSURL::fileURLWithFileSystemRepresentation(file.c_str(), false); }
    static NSString* string(const std::string& text) { return NSString::stringWithUTF8(text); }

private:
    std::string m_path;
    bool m_usable = false;
};

// Keeps the messages NSLog writes while it lives, instead of printing them.
class ConsoleCapture {
public:
    ConsoleCapture()
    {
        lines().clear();
        _NSSetLogCStringFunction(&record);
    }
    ~ConsoleCapture() { _NSSetLogCStringFunction(nullptr); }
    static std::vector<std::string>& lines()
    {
        static std::vector<std::string> captured;
        return captured;
    }

private:
    static void record(const char* message, unsigned length, BOOL) { lines().emplace_back(message, length); }
};

// Runs `body` with the effective ids of the unprivileged user "nobody" when
// the test runs as root (root passes every permission check); answers false,
// without running it, when the ids cannot be taken.
template <class Body>
bool asUnprivilegedUser(Body body)
{
    if (geteuid() != 0) {
        body();
        return true;
    }
    if (setegid(65534) != 0 || seteuid(65534) != 0) {
        setegid(0);
        return false;
    }
    body();
    if (seteuid(0) != 0 || setegid(0) != 0)
        std::abort();
    return true;
}
