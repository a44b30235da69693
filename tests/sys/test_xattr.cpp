// The macOS calls against real files. Calls with the Linux argument counts
// (::getxattr(path, name, value, size) and so on) reach glibc directly and
// show what actually lands on disk.
#include "sys/xattr.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace {

// Sorted, without the security labels (SELinux, Smack) a system may add.
std::vector<std::string> splitNames(const std::string& list)
{
    std::vector<std::string> names;
    size_t start = 0;
    while (start < list.size()) {
        const size_t end = list.find('\0', start);
        std::string name = list.substr(start, end - start);
        if (!name.starts_with("security."))
            names.push_back(std::move(name));
        start = end + 1;
    }
    std::sort(names.begin(), names.end());
    return names;
}

// Names as listxattr gives them, or nullopt with errno set.
std::optional<std::vector<std::string>> macNames(const std::string& path, int options = 0)
{
    const ssize_t size = listxattr(path.c_str(), nullptr, 0, options);
    if (size < 0)
        return std::nullopt;
    std::string list(static_cast<size_t>(size), '\0');
    const ssize_t got = listxattr(path.c_str(), list.data(), list.size(), options);
    if (got < 0)
        return std::nullopt;
    list.resize(static_cast<size_t>(got));
    return splitNames(list);
}

std::vector<std::string> diskNames(const std::string& path)
{
    std::string list(65536, '\0');
    const ssize_t got = ::listxattr(path.c_str(), list.data(), list.size());
    EXPECT_GE(got, 0) << std::strerror(errno);
    list.resize(static_cast<size_t>(std::max<ssize_t>(got, 0)));
    return splitNames(list);
}

std::optional<std::string> diskValue(const std::string& path, const std::string& name)
{
    std::string value(4096, '\0');
    const ssize_t got = ::getxattr(path.c_str(), name.c_str(), value.data(), value.size());
    if (got < 0)
        return std::nullopt;
    value.resize(static_cast<size_t>(got));
    return value;
}

std::optional<std::string> macValue(const std::string& path, const std::string& name, int options = 0)
{
    std::string value(4096, '\0');
    const ssize_t got = getxattr(path.c_str(), name.c_str(), value.data(), value.size(), 0, options);
    if (got < 0)
        return std::nullopt;
    value.resize(static_cast<size_t>(got));
    return value;
}

int set(const std::string& path, const std::string& name, const std::string& value, int options = 0)
{
    return setxattr(path.c_str(), name.c_str(), value.data(), value.size(), 0, options);
}

bool contains(const std::vector<std::string>& names, const std::string& name)
{
    return std::find(names.begin(), names.end(), name) != names.end();
}

// A fresh temporary folder, or an empty path when it cannot hold user
// attributes.
std::string makeFolderWithUserXattrs(const char* parent)
{
    std::string pattern = std::string(parent) + "/sentrel-xattr-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr)
        return {};
    if (::setxattr(pattern.c_str(), "user.sentrel.probe", "", 0, 0) != 0) {
        std::filesystem::remove_all(pattern);
        return {};
    }
    ::removexattr(pattern.c_str(), "user.sentrel.probe");
    return pattern;
}

void writeFile(const std::string& path, mode_t mode = 0644)
{
    const int fd = ::open(path.c_str(), O_CREAT | O_WRONLY | O_TRUNC, mode);
    ASSERT_GE(fd, 0) << path << ": " << std::strerror(errno);
    ::close(fd);
}

class Xattr : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir = makeFolderWithUserXattrs("/tmp");
        if (dir.empty())
            GTEST_SKIP() << "/tmp does not support user extended attributes";
        file = dir + "/file";
        writeFile(file);
    }
    void TearDown() override
    {
        for (const auto& d : {dir, extraDir})
            if (!d.empty()) {
                std::error_code ignored;
                std::filesystem::permissions(d, std::filesystem::perms::owner_all, ignored);
                std::filesystem::remove_all(d, ignored);
            }
    }

    std::string dir;
    std::string extraDir;
    std::string file;
};

}  // namespace

TEST_F(Xattr, MacNamesLiveInTheUserNamespace)
{
    const std::string quarantine = "0083;65f1a2b3;Browser;A1B2C3D4-0000-4000-8000-123456789ABC";
    ASSERT_EQ(set(file, "com.apple.quarantine", quarantine), 0) << std::strerror(errno);
    EXPECT_EQ(diskValue(file, "user.com.apple.quarantine"), quarantine);
    EXPECT_EQ(diskNames(file), std::vector<std::string>{"user.com.apple.quarantine"});

    // Written by a Linux program: seen under the macOS name.
    ASSERT_EQ(::setxattr(file.c_str(), "user.xdg.origin.url", "https://example.org/a.dmg", 25, 0), 0);
    EXPECT_EQ(macNames(file), (std::vector<std::string>{"com.apple.quarantine", "xdg.origin.url"}));
    EXPECT_EQ(macValue(file, "com.apple.quarantine"), quarantine);
    EXPECT_EQ(macValue(file, "xdg.origin.url"), "https://example.org/a.dmg");
    // A name that already has a namespace is taken as it is.
    EXPECT_EQ(macValue(file, "user.xdg.origin.url"), "https://example.org/a.dmg");

    ASSERT_EQ(removexattr(file.c_str(), "com.apple.quarantine", 0), 0);
    EXPECT_EQ(diskValue(file, "user.com.apple.quarantine"), std::nullopt);
    EXPECT_EQ(errno, ENODATA);
    char byte;
    EXPECT_EQ(getxattr(file.c_str(), "com.apple.quarantine", &byte, 1, 0, 0), -1);
    EXPECT_EQ(errno, ENOATTR);
    EXPECT_EQ(removexattr(file.c_str(), "com.apple.quarantine", 0), -1);
    EXPECT_EQ(errno, ENOATTR);
}

TEST_F(Xattr, ListedNamesLeadBackToTheirAttribute)
{
    // "user." comes off only where the rest would not be taken for another
    // namespace.
    ASSERT_EQ(::setxattr(file.c_str(), "user.system.looks-namespaced", "s", 1, 0), 0);
    ASSERT_EQ(::setxattr(file.c_str(), "user.user.twice", "u", 1, 0), 0);
    const bool trusted = ::setxattr(file.c_str(), "trusted.sentrel", "t", 1, 0) == 0;  // needs CAP_SYS_ADMIN

    auto names = macNames(file);
    ASSERT_TRUE(names);
    EXPECT_TRUE(contains(*names, "user.system.looks-namespaced"));
    EXPECT_TRUE(contains(*names, "user.user.twice"));
    if (trusted) {
        EXPECT_TRUE(contains(*names, "trusted.sentrel"));
    }
    for (const auto& name : *names)
        EXPECT_TRUE(macValue(file, name)) << name << ": " << std::strerror(errno);
    EXPECT_EQ(macValue(file, "user.system.looks-namespaced"), "s");
}

TEST_F(Xattr, NamesThatAreNotUtf8PassThroughByteForByte)
{
    const std::string name = "bad\xFF\xFE\x80name";
    ASSERT_EQ(set(file, name, "v"), 0) << std::strerror(errno);
    EXPECT_EQ(diskNames(file), std::vector<std::string>{"user." + name});
    EXPECT_EQ(macNames(file), std::vector<std::string>{name});
    EXPECT_EQ(macValue(file, name), "v");
}

TEST_F(Xattr, CreateAndReplace)
{
    ASSERT_EQ(set(file, "com.example.a", "1", XATTR_CREATE), 0);
    EXPECT_EQ(set(file, "com.example.a", "2", XATTR_CREATE), -1);
    EXPECT_EQ(errno, EEXIST);
    EXPECT_EQ(set(file, "com.example.a", "3", XATTR_REPLACE), 0);
    EXPECT_EQ(macValue(file, "com.example.a"), "3");
    EXPECT_EQ(set(file, "com.example.b", "1", XATTR_REPLACE), -1);
    EXPECT_EQ(errno, ENOATTR);
    EXPECT_EQ(set(file, "com.example.a", "4", XATTR_CREATE | XATTR_REPLACE), -1);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(macValue(file, "com.example.a"), "3");
}

TEST_F(Xattr, RefusedArguments)
{
    ASSERT_EQ(set(file, "com.example.a", "1"), 0);
    char buffer[16];
    auto fails = [](auto result, int expected) { return result == -1 && errno == expected; };

    EXPECT_TRUE(fails(getxattr(file.c_str(), "com.example.a", buffer, sizeof buffer, 1, 0), EINVAL));
    EXPECT_TRUE(fails(setxattr(file.c_str(), "com.example.a", "x", 1, 4, 0), EINVAL));
    EXPECT_TRUE(fails(getxattr(file.c_str(), XATTR_RESOURCEFORK_NAME, buffer, sizeof buffer, 512, 0), ENOTSUP));

    EXPECT_TRUE(fails(getxattr(file.c_str(), "com.example.a", buffer, sizeof buffer, 0, XATTR_CREATE), EINVAL));
    EXPECT_TRUE(fails(listxattr(file.c_str(), buffer, sizeof buffer, 0x0100), EINVAL));
    EXPECT_TRUE(fails(removexattr(file.c_str(), "com.example.a", XATTR_REPLACE), EINVAL));

    // Linux stores names of up to 255 bytes, "user." included.
    const std::string longest(XATTR_MAXNAMELEN - 5, 'n');
    EXPECT_EQ(set(file, longest, "ok"), 0) << std::strerror(errno);
    EXPECT_EQ(macValue(file, longest), "ok");
    const std::string tooLong(XATTR_MAXNAMELEN - 4, 'n');
    EXPECT_TRUE(fails(set(file, tooLong, "x"), ENAMETOOLONG));
    EXPECT_TRUE(fails(getxattr(file.c_str(), tooLong.c_str(), buffer, sizeof buffer, 0, 0), ENAMETOOLONG));
    EXPECT_TRUE(fails(removexattr(file.c_str(), tooLong.c_str(), 0), ENAMETOOLONG));
    EXPECT_TRUE(fails(getxattr(file.c_str(), nullptr, buffer, sizeof buffer, 0, 0), EFAULT));
}

TEST_F(Xattr, ValueSizes)
{
    ASSERT_EQ(set(file, "com.example.five", "12345"), 0);
    EXPECT_EQ(getxattr(file.c_str(), "com.example.five", nullptr, 0, 0, 0), 5);
    EXPECT_EQ(getxattr(file.c_str(), "com.example.five", nullptr, 100, 0, 0), 5);

    char buffer[8] = "-------";
    EXPECT_EQ(getxattr(file.c_str(), "com.example.five", buffer, 4, 0, 0), -1);
    EXPECT_EQ(errno, ERANGE);
    // A buffer of size 0 is a buffer too small, not a size query.
    EXPECT_EQ(getxattr(file.c_str(), "com.example.five", buffer, 0, 0, 0), -1);
    EXPECT_EQ(errno, ERANGE);
    EXPECT_EQ(std::string(buffer), "-------");

    // An empty value is an attribute all the same.
    ASSERT_EQ(setxattr(file.c_str(), "com.example.empty", nullptr, 0, 0, 0), 0) << std::strerror(errno);
    EXPECT_EQ(getxattr(file.c_str(), "com.example.empty", nullptr, 0, 0, 0), 0);
    EXPECT_EQ(getxattr(file.c_str(), "com.example.empty", buffer, 0, 0, 0), 0);
    EXPECT_EQ(macValue(file, "com.example.empty"), "");
    EXPECT_EQ(diskValue(file, "user.com.example.empty"), "");
    EXPECT_TRUE(contains(macNames(file).value(), "com.example.empty"));
}

TEST_F(Xattr, ListSizeIsTheMappedSize)
{
    EXPECT_EQ(listxattr(file.c_str(), nullptr, 0, 0), 0);
    ASSERT_EQ(set(file, "com.apple.quarantine", "q"), 0);
    ASSERT_EQ(set(file, "com.example.b", "b"), 0);
    const ssize_t expected = sizeof "com.apple.quarantine" + sizeof "com.example.b";
    EXPECT_EQ(listxattr(file.c_str(), nullptr, 0, 0), expected);

    std::string buffer(64, '#');
    EXPECT_EQ(listxattr(file.c_str(), buffer.data(), expected - 1, 0), -1);
    EXPECT_EQ(errno, ERANGE);
    EXPECT_EQ(buffer, std::string(64, '#'));
    EXPECT_EQ(listxattr(file.c_str(), buffer.data(), expected, 0), expected);
    EXPECT_EQ(buffer.substr(static_cast<size_t>(expected)), std::string(64 - expected, '#'));
}

// A name list past 8192 bytes. ext4 keeps all of a file's attributes in one
// block, too small for that; tmpfs takes it, so the test moves there if need be.
TEST_F(Xattr, LongListsAreMeasuredAfterMapping)
{
    auto fill = [](const std::string& path) -> bool {
        // 81 names of 99 bytes and one of 91: 8192 bytes listed, 8602 on disk.
        for (int i = 0; i < 82; ++i) {
            char prefix[64];
            std::snprintf(prefix, sizeof prefix, "com.example.sentrel.attribute-%03d-", i);
            std::string name = prefix;
            name.resize(i < 81 ? 99 : 91, 'x');
            if (set(path, name, "") != 0)
                return false;
        }
        return true;
    };
    std::string target = file;
    if (!fill(target)) {
        ASSERT_TRUE(errno == ENOSPC || errno == E2BIG) << std::strerror(errno);
        extraDir = makeFolderWithUserXattrs("/dev/shm");
        if (extraDir.empty())
            GTEST_SKIP() << "no filesystem here holds 8 KiB of attribute names";
        target = extraDir + "/file";
        writeFile(target);
        ASSERT_TRUE(fill(target)) << std::strerror(errno);
    }
    EXPECT_EQ(::listxattr(target.c_str(), nullptr, 0), 8192 + 82 * 5);

    std::vector<char> buffer(8192 + 16, '#');
    EXPECT_EQ(listxattr(target.c_str(), nullptr, 0, 0), 8192);
    ASSERT_EQ(listxattr(target.c_str(), buffer.data(), 8192, 0), 8192);
    EXPECT_EQ(buffer[8191], '\0');
    EXPECT_EQ(std::count(buffer.begin() + 8192, buffer.end(), '#'), 16);

    ASSERT_EQ(set(target, "one.more", ""), 0);
    std::fill(buffer.begin(), buffer.end(), '#');
    EXPECT_EQ(listxattr(target.c_str(), buffer.data(), 8192, 0), -1);
    EXPECT_EQ(errno, ERANGE);
    EXPECT_EQ(std::count(buffer.begin(), buffer.end(), '#'), 8192 + 16);
    EXPECT_EQ(listxattr(target.c_str(), nullptr, 0, 0), 8192 + static_cast<ssize_t>(sizeof "one.more"));
}

TEST_F(Xattr, SymbolicLinks)
{
    const std::string link = dir + "/link";
    ASSERT_EQ(::symlink("file", link.c_str()), 0);

    // Options 0: the link leads to the file.
    ASSERT_EQ(set(link, "com.apple.quarantine", "q"), 0) << std::strerror(errno);
    EXPECT_EQ(diskValue(file, "user.com.apple.quarantine"), "q");
    EXPECT_EQ(macValue(link, "com.apple.quarantine"), "q");
    EXPECT_TRUE(contains(macNames(link).value(), "com.apple.quarantine"));

    // XATTR_NOFOLLOW: the link itself, where Linux keeps no user attributes.
    EXPECT_EQ(macValue(link, "com.apple.quarantine", XATTR_NOFOLLOW), std::nullopt);
    EXPECT_EQ(errno, ENOATTR);
    auto linkNames = macNames(link, XATTR_NOFOLLOW);
    ASSERT_TRUE(linkNames) << std::strerror(errno);
    EXPECT_FALSE(contains(*linkNames, "com.apple.quarantine"));
    EXPECT_EQ(set(link, "com.example.on-link", "x", XATTR_NOFOLLOW), -1);
    EXPECT_EQ(errno, EPERM);
    EXPECT_EQ(removexattr(link.c_str(), "com.apple.quarantine", XATTR_NOFOLLOW), -1);
    EXPECT_EQ(errno, EPERM);
    EXPECT_EQ(diskValue(file, "user.com.apple.quarantine"), "q");

    ASSERT_EQ(removexattr(link.c_str(), "com.apple.quarantine", 0), 0);
    EXPECT_EQ(diskValue(file, "user.com.apple.quarantine"), std::nullopt);

    // A dangling link: following fails, the link itself can still be listed.
    const std::string dangling = dir + "/dangling";
    ASSERT_EQ(::symlink("nowhere", dangling.c_str()), 0);
    EXPECT_EQ(macNames(dangling), std::nullopt);
    EXPECT_EQ(errno, ENOENT);
    EXPECT_TRUE(macNames(dangling, XATTR_NOFOLLOW));
}

TEST_F(Xattr, MissingFiles)
{
    const std::string missing = dir + "/missing";
    char buffer[8];
    auto fails = [](auto result, int expected) { return result == -1 && errno == expected; };
    EXPECT_TRUE(fails(listxattr(missing.c_str(), buffer, sizeof buffer, 0), ENOENT));
    EXPECT_TRUE(fails(listxattr(missing.c_str(), nullptr, 0, XATTR_NOFOLLOW), ENOENT));
    EXPECT_TRUE(fails(getxattr(missing.c_str(), "com.apple.quarantine", buffer, sizeof buffer, 0, 0), ENOENT));
    EXPECT_TRUE(fails(set(missing, "com.apple.quarantine", "q"), ENOENT));
    EXPECT_TRUE(fails(removexattr(missing.c_str(), "com.apple.quarantine", 0), ENOENT));
    EXPECT_TRUE(fails(listxattr((file + "/below").c_str(), nullptr, 0, 0), ENOTDIR));
    EXPECT_TRUE(fails(listxattr("", nullptr, 0, 0), ENOENT));
}

// Root passes every permission check, so as root the checks run with the
// effective ids of "nobody" and switch back afterwards.
TEST_F(Xattr, PermissionDenied)
{
    const std::string locked = dir + "/locked";
    const std::string lockedFile = locked + "/file";
    const std::string privateFile = dir + "/private";
    ASSERT_EQ(::chmod(dir.c_str(), 0755), 0);
    ASSERT_EQ(::mkdir(locked.c_str(), 0700), 0);
    writeFile(lockedFile);
    writeFile(privateFile, 0600);
    ASSERT_EQ(::chmod(privateFile.c_str(), 0600), 0);  // whatever the umask
    ASSERT_EQ(set(lockedFile, "com.apple.quarantine", "q"), 0);
    ASSERT_EQ(set(privateFile, "com.apple.quarantine", "q"), 0);

    const bool root = ::geteuid() == 0;
    if (root) {
        if (::setegid(65534) != 0 || ::seteuid(65534) != 0) {
            ::setegid(0);
            GTEST_SKIP() << "cannot take the ids of an unprivileged user: " << std::strerror(errno);
        }
    } else {
        ASSERT_EQ(::chmod(locked.c_str(), 0), 0);
        ASSERT_EQ(::chmod(privateFile.c_str(), 0), 0);
    }

    char buffer[8];
    std::vector<std::pair<int, int>> results;  // (result, errno) of each call
    auto record = [&](auto result) { results.emplace_back(static_cast<int>(result), errno); };
    // No search permission on the folder: nothing inside can be reached.
    record(listxattr(lockedFile.c_str(), nullptr, 0, 0));
    record(getxattr(lockedFile.c_str(), "com.apple.quarantine", buffer, sizeof buffer, 0, 0));
    // No read or write permission on the file itself.
    record(getxattr(privateFile.c_str(), "com.apple.quarantine", buffer, sizeof buffer, 0, 0));
    record(set(privateFile, "com.apple.quarantine", "x"));
    record(removexattr(privateFile.c_str(), "com.apple.quarantine", 0));

    if (root) {
        ASSERT_EQ(::seteuid(0), 0);
        ASSERT_EQ(::setegid(0), 0);
    } else {
        ::chmod(locked.c_str(), 0700);
        ::chmod(privateFile.c_str(), 0600);
    }
    for (size_t i = 0; i < results.size(); ++i) {
        EXPECT_EQ(results[i].first, -1) << "call " << i;
        EXPECT_EQ(results[i].second, EACCES) << "call " << i;
    }
    EXPECT_EQ(diskValue(privateFile, "user.com.apple.quarantine"), "q");
}
