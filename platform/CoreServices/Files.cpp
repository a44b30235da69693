#include "CoreServices/Files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <string>

namespace {

constexpr UInt8 kTag[4] = {'F', 'S', 'r', 'f'};

// Layout of the opaque bytes.
struct RefBody {
    UInt8 tag[4];
    UInt32 index;   // 1-based; 0 never names a path
    uint64_t device;
    uint64_t inode;
    // The birth time tells a reused inode number from the object it named;
    // zero where the file system keeps none.
    int64_t birthSeconds;
    uint32_t birthNanoseconds;
};

// Device, inode and birth time of what is at the path, following a final
// symbolic link.
bool identify(const char* path, RefBody& body, bool* isDirectory = nullptr)
{
    struct statx sx;
    if (statx(AT_FDCWD, path, 0, STATX_TYPE | STATX_INO | STATX_BTIME, &sx) != 0)
        return false;
    body.device = makedev(sx.stx_dev_major, sx.stx_dev_minor);
    body.inode = sx.stx_ino;
    body.birthSeconds = (sx.stx_mask & STATX_BTIME) ? sx.stx_btime.tv_sec : 0;
    body.birthNanoseconds = (sx.stx_mask & STATX_BTIME) ? sx.stx_btime.tv_nsec : 0;
    if (isDirectory)
        *isDirectory = S_ISDIR(sx.stx_mode);
    return true;
}
static_assert(sizeof(RefBody) <= sizeof(FSRef::hidden));

// Canonical paths, each stored once; the table only grows.
class PathTable {
public:
    UInt32 indexOf(const std::string& path)
    {
        std::lock_guard lock(m_lock);
        auto [it, added] = m_indices.emplace(path, static_cast<UInt32>(m_paths.size() + 1));
        if (added)
            m_paths.push_back(path);
        return it->second;
    }
    bool pathAt(UInt32 index, std::string& path)
    {
        std::lock_guard lock(m_lock);
        if (index == 0 || index > m_paths.size())
            return false;
        path = m_paths[index - 1];
        return true;
    }

private:
    std::mutex m_lock;
    std::map<std::string, UInt32> m_indices;
    std::deque<std::string> m_paths;
};

PathTable& pathTable()
{
    static PathTable* const table = new PathTable;
    return *table;
}

bool readBody(const FSRef* ref, RefBody& body)
{
    if (!ref)
        return false;
    std::memcpy(&body, ref->hidden, sizeof body);
    return std::memcmp(body.tag, kTag, sizeof kTag) == 0 && body.index != 0;
}

// The canonical path of a reference that still names its object.
OSStatus resolve(const FSRef* ref, std::string& path)
{
    RefBody body;
    if (!readBody(ref, body) || !pathTable().pathAt(body.index, path))
        return paramErr;
    RefBody now{};
    if (!identify(path.c_str(), now) || now.device != body.device || now.inode != body.inode ||
        now.birthSeconds != body.birthSeconds || now.birthNanoseconds != body.birthNanoseconds)
        return fnfErr;
    return noErr;
}

} // namespace

OSStatus FSPathMakeRef(const UInt8* path, FSRef* ref, Boolean* isDirectory)
{
    if (!path || !ref)
        return paramErr;
    const char* text = reinterpret_cast<const char*>(path);
    if (!*text)
        return fnfErr;
    char canonical[PATH_MAX];
    RefBody body{};
    bool directory = false;
    if (!realpath(text, canonical) || !identify(canonical, body, &directory))
        return errno == ENAMETOOLONG ? bdNamErr : fnfErr;
    std::memcpy(body.tag, kTag, sizeof kTag);
    body.index = pathTable().indexOf(canonical);
    std::memset(ref->hidden, 0, sizeof ref->hidden);
    std::memcpy(ref->hidden, &body, sizeof body);
    if (isDirectory)
        *isDirectory = directory;
    return noErr;
}

OSStatus FSRefMakePath(const FSRef* ref, UInt8* path, UInt32 maxPathSize)
{
    if (!path)
        return paramErr;
    std::string canonical;
    if (OSStatus status = resolve(ref, canonical); status != noErr)
        return status;
    if (canonical.size() + 1 > maxPathSize)
        return pathTooLongErr;
    std::memcpy(path, canonical.c_str(), canonical.size() + 1);
    return noErr;
}

Boolean CFURLGetFSRef(CFURLRef url, FSRef* fsRef)
{
    if (!url || !fsRef || !url->isFileURL())
        return false;
    std::string path = url->fileSystemPath();
    return FSPathMakeRef(reinterpret_cast<const UInt8*>(path.c_str()), fsRef, nullptr) == noErr;
}

CFURLRef CFURLCreateFromFSRef(CFAllocatorRef, const FSRef* fsRef)
{
    std::string path;
    if (resolve(fsRef, path) != noErr)
        return nullptr;
    struct stat st;
    const bool directory = stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
    AutoreleasePoolScope pool;
    NSURL* url = NSURL::fileURLWithFileSystemRepresentation(path.c_str(), directory);
    return url ? static_cast<CFURLRef>(url->retain()) : nullptr;
}
