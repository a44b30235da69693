#include "Foundation/NSFileManager.h"

#include "sys/xattr.h"

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace {

// What lstat and statx tell about one item.
struct ItemFacts {
    struct stat st;
    bool hasBirthTime = false;
    struct timespec birthTime {};
};

struct timespec timespecOf(const struct statx_timestamp& t) { return {t.tv_sec, static_cast<long>(t.tv_nsec)}; }

// One statx call gives what lstat gives and the birth time; its fields are
// laid out as lstat's, the way the C library does where stat itself is
// built on statx.
bool readFacts(const char* path, ItemFacts& facts)
{
    struct statx sx;
    if (statx(AT_FDCWD, path, AT_SYMLINK_NOFOLLOW, STATX_BASIC_STATS | STATX_BTIME, &sx) != 0) {
        if (errno != ENOSYS && errno != EINVAL)
            return false;
        return lstat(path, &facts.st) == 0;
    }
    struct stat& st = facts.st;
    st = {};
    st.st_dev = makedev(sx.stx_dev_major, sx.stx_dev_minor);
    st.st_ino = sx.stx_ino;
    st.st_mode = sx.stx_mode;
    st.st_nlink = sx.stx_nlink;
    st.st_uid = sx.stx_uid;
    st.st_gid = sx.stx_gid;
    st.st_rdev = makedev(sx.stx_rdev_major, sx.stx_rdev_minor);
    st.st_size = static_cast<off_t>(sx.stx_size);
    st.st_blksize = static_cast<blksize_t>(sx.stx_blksize);
    st.st_blocks = static_cast<blkcnt_t>(sx.stx_blocks);
    st.st_atim = timespecOf(sx.stx_atime);
    st.st_mtim = timespecOf(sx.stx_mtime);
    st.st_ctim = timespecOf(sx.stx_ctime);
    if (sx.stx_mask & STATX_BTIME) {
        facts.hasBirthTime = true;
        facts.birthTime = timespecOf(sx.stx_btime);
    }
    return true;
}

NSDate* dateFromTimespec(const struct timespec& ts)
{
    return NSDate::dateWithTimeIntervalSince1970(static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9);
}

NSString* fileType(mode_t mode)
{
    switch (mode & S_IFMT) {
    case S_IFDIR: return NSFileTypeDirectory;
    case S_IFREG: return NSFileTypeRegular;
    case S_IFLNK: return NSFileTypeSymbolicLink;
    case S_IFSOCK: return NSFileTypeSocket;
    case S_IFCHR: return NSFileTypeCharacterSpecial;
    case S_IFBLK: return NSFileTypeBlockSpecial;
    default: return NSFileTypeUnknown;
    }
}

// The name of a user or group id. Each lookup goes through the name service
// (nsswitch.conf, then /etc/passwd or /etc/group, or a directory service), and
// a folder's files mostly share one owner: an answer, found or not, is kept
// for a few seconds.
class IdNames {
public:
    using Lookup = std::optional<std::string> (*)(unsigned id);

    explicit IdNames(Lookup lookup) : m_lookup(lookup) {}

    NSString* nameOf(unsigned id)
    {
        const long now = coarseSeconds();
        std::optional<std::string> name;
        {
            std::lock_guard guard(m_lock);
            auto found = m_names.find(id);
            if (found != m_names.end() && now - found->second.second < kKeptSeconds) {
                name = found->second.first;
            } else {
                if (m_names.size() >= kMaxEntries)
                    m_names.clear();
                name = m_lookup(id);
                m_names[id] = {name, now};
            }
        }
        return name ? NSString::stringWithUTF8(*name) : nil;
    }

private:
    static constexpr long kKeptSeconds = 5;
    static constexpr size_t kMaxEntries = 1024;

    static long coarseSeconds()
    {
        timespec now{};
        clock_gettime(CLOCK_MONOTONIC_COARSE, &now);
        return now.tv_sec;
    }

    Lookup m_lookup;
    std::mutex m_lock;
    std::unordered_map<unsigned, std::pair<std::optional<std::string>, long>> m_names;
};

std::optional<std::string> lookUpUser(unsigned uid)
{
    std::vector<char> buffer(1024);
    for (;;) {
        struct passwd entry;
        struct passwd* found = nullptr;
        int rc = getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found);
        if (rc == ERANGE && buffer.size() < (1u << 20)) {
            buffer.resize(buffer.size() * 4);
            continue;
        }
        return rc == 0 && found ? std::optional<std::string>(found->pw_name) : std::nullopt;
    }
}

std::optional<std::string> lookUpGroup(unsigned gid)
{
    std::vector<char> buffer(1024);
    for (;;) {
        struct group entry;
        struct group* found = nullptr;
        int rc = getgrgid_r(gid, &entry, buffer.data(), buffer.size(), &found);
        if (rc == ERANGE && buffer.size() < (1u << 20)) {
            buffer.resize(buffer.size() * 4);
            continue;
        }
        return rc == 0 && found ? std::optional<std::string>(found->gr_name) : std::nullopt;
    }
}

NSString* userName(uid_t uid)
{
    static auto* const names = new IdNames(&lookUpUser);
    return names->nameOf(uid);
}

NSString* groupName(gid_t gid)
{
    static auto* const names = new IdNames(&lookUpGroup);
    return names->nameOf(gid);
}

// The item's own extended attributes (a final symbolic link is not
// followed), name -> value; nil when it has none or they cannot be listed.
NSDictionary* extendedAttributes(const char* path)
{
    std::vector<char> names;
    for (int attempt = 0;; ++attempt) {
        ssize_t size = listxattr(path, nullptr, 0, XATTR_NOFOLLOW);
        if (size <= 0)
            return nil;
        names.resize(static_cast<size_t>(size));
        ssize_t got = listxattr(path, names.data(), names.size(), XATTR_NOFOLLOW);
        if (got >= 0) {
            names.resize(static_cast<size_t>(got));
            break;
        }
        if (errno != ERANGE || attempt == 4)
            return nil;
    }
    NSMutableDictionary* attributes = NSMutableDictionary::dictionary();
    size_t start = 0;
    while (start < names.size()) {
        size_t end = start;
        while (end < names.size() && names[end] != '\0')
            ++end;
        std::string name(names.data() + start, end - start);
        start = end + 1;
        NSString* key = name.empty() ? nil : NSString::stringWithUTF8(name);
        if (!key)
            continue;
        // The value may change size between the two calls; a few tries cover it.
        for (int attempt = 0; attempt < 4; ++attempt) {
            ssize_t size = getxattr(path, name.c_str(), nullptr, 0, 0, XATTR_NOFOLLOW);
            if (size < 0)
                break;
            std::vector<uint8_t> value(static_cast<size_t>(size));
            ssize_t got = size == 0 ? 0 : getxattr(path, name.c_str(), value.data(), value.size(), 0, XATTR_NOFOLLOW);
            if (got >= 0) {
                value.resize(static_cast<size_t>(got));
                attributes->setObject(NSData::dataWithVector(std::move(value)), key);
                break;
            }
            if (errno != ERANGE)
                break;
        }
    }
    return attributes->count() ? attributes : nil;
}

uint32_t bigEndian32(const uint8_t* p)
{
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}

NSError* readError(const NSString* path, int code)
{
    NSInteger cocoa = NSFileReadUnknownError;
    switch (code) {
    case ENOENT:
    case ENOTDIR: cocoa = NSFileReadNoSuchFileError; break;
    case EACCES:
    case EPERM: cocoa = NSFileReadNoPermissionError; break;
    case ENAMETOOLONG:
    case EILSEQ: cocoa = NSFileReadInvalidFileNameError; break;
    default: break;
    }
    NSMutableDictionary* info = NSMutableDictionary::dictionary();
    if (path)
        info->setObject(const_cast<NSString*>(path), NSFilePathErrorKey);
    info->setObject(NSError::errorWithDomain(NSPOSIXErrorDomain, code, nil), NSUnderlyingErrorKey);
    return NSError::errorWithDomain(NSCocoaErrorDomain, cocoa, info);
}

} // namespace

OBJC_IMPLEMENTATION(NSFileManager, NSObject) {}

NSFileManager* NSFileManager::defaultManager()
{
    static NSFileManager* const manager = static_cast<NSFileManager*>(const_cast<NSObject*>(alloc()->makeImmortal()));
    return manager;
}

NSDictionary* NSFileManager::attributesOfItemAtPath(const NSString* path, NSError** error) const
{
    const char* fsPath = path ? path->fileSystemRepresentation() : nullptr;
    if (!fsPath || !*fsPath) {
        if (error)
            *error = readError(path, fsPath ? ENOENT : EILSEQ);
        return nil;
    }
    ItemFacts facts;
    if (!readFacts(fsPath, facts)) {
        if (error)
            *error = readError(path, errno);
        return nil;
    }
    const struct stat& st = facts.st;
    NSDictionary* xattrs = extendedAttributes(fsPath);

    uint32_t typeCode = 0, creatorCode = 0;
    if (S_ISREG(st.st_mode))
        if (NSData* finderInfo = static_cast<NSData*>(xattrs ? xattrs->objectForKey("com.apple.FinderInfo") : nil))
            if (finderInfo->length() == 32) {
                typeCode = bigEndian32(finderInfo->bytes());
                creatorCode = bigEndian32(finderInfo->bytes() + 4);
            }

    // Keys in alphabetical order, which is the order the dictionary keeps.
    NSMutableDictionary* attributes = NSMutableDictionary::dictionary();
    if (facts.hasBirthTime)
        attributes->setObject(dateFromTimespec(facts.birthTime), NSFileCreationDate);
    if (S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode))
        attributes->setObject(NSNumber::numberWithUnsignedLongLong(st.st_rdev), NSFileDeviceIdentifier);
    if (xattrs)
        attributes->setObject(xattrs, NSFileExtendedAttributes);
    attributes->setObject(NSNumber::numberWithUnsignedLongLong(st.st_gid), NSFileGroupOwnerAccountID);
    if (NSString* name = groupName(st.st_gid))
        attributes->setObject(name, NSFileGroupOwnerAccountName);
    attributes->setObject(NSNumber::numberWithUnsignedLongLong(creatorCode), NSFileHFSCreatorCode);
    attributes->setObject(NSNumber::numberWithUnsignedLongLong(typeCode), NSFileHFSTypeCode);
    attributes->setObject(dateFromTimespec(st.st_mtim), NSFileModificationDate);
    attributes->setObject(NSNumber::numberWithUnsignedLongLong(st.st_uid), NSFileOwnerAccountID);
    if (NSString* name = userName(st.st_uid))
        attributes->setObject(name, NSFileOwnerAccountName);
    attributes->setObject(NSNumber::numberWithUnsignedLongLong(st.st_mode & 07777), NSFilePosixPermissions);
    attributes->setObject(NSNumber::numberWithUnsignedLongLong(st.st_nlink), NSFileReferenceCount);
    attributes->setObject(NSNumber::numberWithUnsignedLongLong(static_cast<unsigned long long>(st.st_size)), NSFileSize);
    attributes->setObject(NSNumber::numberWithUnsignedLongLong(st.st_ino), NSFileSystemFileNumber);
    attributes->setObject(NSNumber::numberWithUnsignedLongLong(st.st_dev), NSFileSystemNumber);
    attributes->setObject(fileType(st.st_mode), NSFileType);
    return static_cast<NSDictionary*>(attributes->copy()->autorelease());
}

bool NSFileManager::fileExistsAtPath(const NSString* path) const { return fileExistsAtPath(path, nullptr); }

bool NSFileManager::fileExistsAtPath(const NSString* path, bool* isDirectory) const
{
    const char* fsPath = path ? path->fileSystemRepresentation() : nullptr;
    struct stat st;
    if (!fsPath || !*fsPath || stat(fsPath, &st) != 0)
        return false;
    if (isDirectory)
        *isDirectory = S_ISDIR(st.st_mode);
    return true;
}
