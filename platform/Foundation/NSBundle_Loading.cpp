// Loading a bundle's executable and finding its folders.
#include "Foundation/NSBundle.h"

#include <dlfcn.h>
#include <sys/stat.h>

#include <climits>
#include <cstdlib>
#include <string>

namespace {

bool exists(const std::string& path, bool wantDirectory)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0 && (wantDirectory ? S_ISDIR(st.st_mode) : S_ISREG(st.st_mode));
}

} // namespace

// Where a bundle keeps its executable and folders: "Contents" for a full
// bundle, the bundle folder itself for a shallow one. The main bundle of a
// program installed as <prefix>/bin/<program> is the bin folder, and its
// folders are spread over the prefix instead.
namespace {
enum class Shape { Full, Shallow, InstalledProgram };

Shape shapeOf(const NSBundle* bundle, const std::string& path)
{
    if (exists(path + "/Contents", true))
        return Shape::Full;
    return bundle == NSBundle::mainBundle() ? Shape::InstalledProgram : Shape::Shallow;
}

NSString* folderOf(const NSBundle* bundle, const char* inContents, const char* inPrefix)
{
    NSString* base = bundle->bundlePath();
    if (!base)
        return nil;
    std::string path = base->utf8();
    switch (shapeOf(bundle, path)) {
    case Shape::Full: return NSString::stringWithUTF8(path + "/Contents" + (*inContents ? "/" : "") + inContents);
    case Shape::Shallow: return *inContents ? NSString::stringWithUTF8(path + "/" + inContents) : base;
    case Shape::InstalledProgram: return NSString::stringWithUTF8(NSBundle::parentPath(path) + "/" + inPrefix);
    }
    return nil;
}
} // namespace

NSString* NSBundle::executablePath() const
{
    if (this == mainBundle()) {
        char resolved[PATH_MAX];
        return realpath("/proc/self/exe", resolved) ? NSString::stringWithUTF8(resolved) : nil;
    }
    if (!m_path)
        return nil;
    std::string base = m_path->utf8();
    std::string name;
    id declared = objectForInfoDictionaryKey(NSSTR("CFBundleExecutable"));
    if (declared && declared->isKindOfClass(NSString::class_()))
        name = static_cast<NSString*>(declared)->utf8();
    if (name.empty() || name.find('/') != std::string::npos) {
        std::string last = base.substr(base.find_last_of('/') + 1);
        name = last.substr(0, last.find_last_of('.'));
    }
    std::string file = shapeOf(this, base) == Shape::Full ? base + "/Contents/MacOS/" + name : base + "/" + name;
    return exists(file, false) ? NSString::stringWithUTF8(file) : nil;
}

bool NSBundle::load()
{
    if (m_handle)
        return true;
    if (this == mainBundle()) {
        m_handle = dlopen(nullptr, RTLD_NOW);
        return m_handle != nullptr;
    }
    NSString* executable = executablePath();
    if (!executable)
        return false;
    m_handle = dlopen(executable->fileSystemRepresentation(), RTLD_NOW | RTLD_LOCAL);
    return m_handle != nullptr;
}

bool NSBundle::unload()
{
    if (!m_handle)
        return false;
    dlclose(m_handle);
    m_handle = nullptr;
    return true;
}

void* NSBundle::symbolAddressForName(const NSString* name) const
{
    if (!m_handle || !name)
        return nullptr;
    std::string symbol = name->utf8();
    if (symbol.empty())
        return nullptr;
    return dlsym(m_handle, symbol.c_str());
}

NSString* NSBundle::privateFrameworksPath() const { return folderOf(this, "Frameworks", "lib/sentrel/PrivateFrameworks"); }
NSString* NSBundle::sharedFrameworksPath() const { return folderOf(this, "SharedFrameworks", "lib/sentrel/SharedFrameworks"); }
NSString* NSBundle::builtInPlugInsPath() const { return folderOf(this, "PlugIns", "lib/sentrel/PlugIns"); }
NSString* NSBundle::supportFilesPath() const { return folderOf(this, "", "share/sentrel"); }
