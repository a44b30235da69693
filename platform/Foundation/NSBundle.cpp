#include "Foundation/NSBundle.h"

#include "Foundation/NSPropertyList.h"

#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <mutex>
#include <string>
#include <unordered_map>

namespace {

NSString* fileSystemString(const std::string& path)
{
    return NSString::stringWithFileSystemRepresentation(path.data(), path.size());
}

bool isDirectory(const std::string& path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool isFile(const std::string& path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// Information property lists already read, by path, each with the file's
// identity and change times when it was read. A report reads a bundle's
// information several times over (its name, identifier, the signature's
// information); a file that is unchanged is not read again. Emptied whole
// when it gets large.
class KnownInfoFiles {
public:
    // The dictionary read from the file `st` describes; nil when it is not
    // known in that state.
    NSDictionary* find(const std::string& path, const struct stat& st)
    {
        std::lock_guard guard(m_lock);
        auto found = m_files.find(path);
        return found != m_files.end() && found->second.sameFile(st) ? found->second.info.get() : nil;
    }

    void add(const std::string& path, const struct stat& st, NSDictionary* info)
    {
        std::lock_guard guard(m_lock);
        if (m_files.size() >= kMaxEntries)
            m_files.clear();
        m_files[path] = Entry{st.st_dev, st.st_ino, st.st_size, st.st_mtim, st.st_ctim, info};
    }

private:
    static constexpr size_t kMaxEntries = 256;
    struct Entry {
        dev_t device;
        ino_t inode;
        off_t size;
        timespec modified, changed;
        Retained<NSDictionary> info;

        bool sameFile(const struct stat& st) const
        {
            return device == st.st_dev && inode == st.st_ino && size == st.st_size &&
                   modified.tv_sec == st.st_mtim.tv_sec && modified.tv_nsec == st.st_mtim.tv_nsec &&
                   changed.tv_sec == st.st_ctim.tv_sec && changed.tv_nsec == st.st_ctim.tv_nsec;
        }
    };
    std::mutex m_lock;
    std::unordered_map<std::string, Entry> m_files;
};

KnownInfoFiles& knownInfoFiles()
{
    static auto* const files = new KnownInfoFiles;   // never destroyed: bundles may outlive it
    return *files;
}

std::string realPath(const std::string& path)
{
    char resolved[PATH_MAX];
    return realpath(path.c_str(), resolved) ? std::string(resolved) : std::string();
}

} // namespace

std::string NSBundle::parentPath(const std::string& path)
{
    size_t slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

OBJC_IMPLEMENTATION_TYPEID(NSBundle, NSObject, kCFTypeIDBundle)
{
    cls.property("bundlePath", &NSBundle::bundlePath);
    cls.property("resourcePath", &NSBundle::resourcePath);
    cls.property("infoDictionary", &NSBundle::infoDictionary);
    cls.property("bundleIdentifier", &NSBundle::bundleIdentifier);
}

NSBundle* NSBundle::bundleWithPath(const NSString* path)
{
    const char* fsPath = path ? path->fileSystemRepresentation() : nullptr;
    if (!fsPath || !isDirectory(fsPath))
        return nil;
    NSBundle* bundle = alloc();
    bundle->m_path = Retained<NSString>::adopt(static_cast<NSString*>(path->copy()));
    return static_cast<NSBundle*>(bundle->autorelease());
}

NSBundle* NSBundle::mainBundle()
{
    static NSBundle* const bundle = [] {
        NSBundle* b = alloc();
        b->makeImmortal();
        AutoreleasePoolScope pool;
        std::string exe = realPath("/proc/self/exe");
        std::string folder = exe.empty() ? realPath(".") : NSBundle::parentPath(exe);
        std::string bundlePath = folder, resources = folder;
        if (folder.ends_with("/Contents/MacOS")) {
            bundlePath = NSBundle::parentPath(NSBundle::parentPath(folder));
            resources = NSBundle::parentPath(folder) + "/Resources";
        } else if (std::string shared = realPath(folder + "/../share/sentrel/Resources");
                   !shared.empty() && isDirectory(shared)) {
            resources = shared;
        }
        b->m_path = fileSystemString(bundlePath);
        b->m_resourcePath = fileSystemString(resources);
        return b;
    }();
    return bundle;
}

NSString* NSBundle::resourcePath() const
{
    if (m_resourcePath)
        return m_resourcePath;
    if (!m_path)
        return nil;
    std::string base = m_path->utf8();
    if (isDirectory(base + "/Contents"))
        return fileSystemString(base + "/Contents/Resources");
    return m_path;
}

NSDictionary* NSBundle::infoDictionary() const
{
    if (m_info)
        return m_info;
    NSDictionary* info = nil;
    if (m_path) {
        std::string base = m_path->utf8();
        for (const char* candidate : {"/Contents/Info.plist", "/Versions/Current/Resources/Info.plist", "/Resources/Info.plist",
                                      "/Info.plist"}) {
            std::string plistPath = base + candidate;
            struct stat st;
            if (stat(plistPath.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
                continue;
            if ((info = knownInfoFiles().find(plistPath, st)))
                break;
            NSData* data = NSData::dataWithContentsOfFile(fileSystemString(plistPath));
            id plist = data ? NSPropertyListSerialization::propertyListWithData(data, NSPropertyListImmutable, nullptr, nullptr)
                            : nil;
            if (plist && plist->isKindOfClass(NSDictionary::class_()))
                info = static_cast<NSDictionary*>(plist);
            // Kept only when the file is as it was before it was read.
            struct stat after;
            if (info && stat(plistPath.c_str(), &after) == 0 && after.st_ino == st.st_ino &&
                after.st_size == st.st_size && after.st_mtim.tv_nsec == st.st_mtim.tv_nsec &&
                after.st_mtim.tv_sec == st.st_mtim.tv_sec)
                knownInfoFiles().add(plistPath, st, info);
            break;
        }
    }
    m_info = info ? info : NSDictionary::dictionary();
    return m_info;
}

id NSBundle::objectForInfoDictionaryKey(const NSString* key) const
{
    return key ? infoDictionary()->objectForKey(key) : nil;
}

NSString* NSBundle::bundleIdentifier() const
{
    id value = infoDictionary()->objectForKey("CFBundleIdentifier");
    return value && value->isKindOfClass(NSString::class_()) ? static_cast<NSString*>(value) : nil;
}

NSString* NSBundle::pathForResource(const NSString* name, const NSString* type) const
{
    NSString* folder = resourcePath();
    if (!name || !folder || name->length() == 0)
        return nil;
    std::string file = name->utf8();
    if (type && type->length() > 0) {
        std::string ext = type->utf8();
        file += (ext.front() == '.' ? "" : ".") + ext;
    }
    if (file.find('/') != std::string::npos)
        return nil;
    std::string full = folder->utf8() + "/" + file;
    return isFile(full) ? fileSystemString(full) : nil;
}
