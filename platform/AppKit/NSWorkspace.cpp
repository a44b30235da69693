#include "AppKit/NSWorkspace.h"

#include "AppKit/IconTheme.h"
#include "AppKit/ImageLibrary.h"
#include "CoreServices/ItemKind.h"
#include "Foundation/NSBundle.h"

#include <cerrno>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

constexpr int kIconPixels = 256;

// An executable file named `name` on the PATH (or `name` itself when it is a
// path); empty when there is none.
std::string findProgram(const std::string& name)
{
    auto executable = [](const std::string& path) {
        struct stat info {};
        return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && ::access(path.c_str(), X_OK) == 0;
    };
    if (name.empty())
        return {};
    if (name.find('/') != std::string::npos)
        return executable(name) ? name : std::string();
    const char* path = std::getenv("PATH");
    std::string folders = path && *path ? path : "/usr/local/bin:/usr/bin:/bin";
    size_t start = 0;
    while (start <= folders.size()) {
        const size_t colon = folders.find(':', start);
        std::string folder = folders.substr(start, colon == std::string::npos ? std::string::npos : colon - start);
        if (!folder.empty() && executable(folder + "/" + name))
            return folder + "/" + name;
        if (colon == std::string::npos)
            break;
        start = colon + 1;
    }
    return {};
}

std::string terminalProgram()
{
    // $TERMINAL may carry arguments; its first word is the program.
    if (const char* chosen = std::getenv("TERMINAL"); chosen && *chosen) {
        std::string first(chosen);
        first = first.substr(0, first.find(' '));
        if (std::string found = findProgram(first); !found.empty())
            return found;
    }
    for (const char* name : {"xdg-terminal-exec", "x-terminal-emulator", "gnome-terminal", "konsole", "xfce4-terminal",
                             "mate-terminal", "lxterminal", "qterminal", "tilix", "terminator", "alacritty", "kitty",
                             "foot", "wezterm", "urxvt", "xterm"})
        if (std::string found = findProgram(name); !found.empty())
            return found;
    return {};
}

using sentrel::appkit::ImageBitmap;
using sentrel::appkit::ImageLibrary;

// An application's own icon: CFBundleIconFile in the bundle's resources.
std::unique_ptr<ImageBitmap> bundleIcon(const ImageLibrary& library, const std::string& path)
{
    AutoreleasePoolScope pool;
    NSBundle* bundle = NSBundle::bundleWithPath(NSString::stringWithFileSystemRepresentation(path.data(), path.size()));
    id iconFile = bundle ? bundle->objectForInfoDictionaryKey(NSSTR("CFBundleIconFile")) : nil;
    if (!iconFile || !iconFile->isKindOfClass(NSString::class_()))
        return nullptr;
    NSString* name = static_cast<NSString*>(iconFile);
    NSString* resources = bundle->resourcePath();
    if (!resources || name->length() == 0 || name->rangeOfString(NSSTR("/")).location != NSNotFound)
        return nullptr;
    for (NSString* candidate : {name, name->stringByAppendingString(NSSTR(".icns"))}) {
        NSString* file = resources->stringByAppendingPathComponent(candidate);
        if (ImageBitmap* bitmap = library.readFile(file->fileSystemRepresentation(), 0))
            return std::unique_ptr<ImageBitmap>(bitmap);
    }
    return nullptr;
}

} // namespace

OBJC_IMPLEMENTATION(NSWorkspace, NSObject) {}

NSWorkspace* NSWorkspace::sharedWorkspace()
{
    static NSWorkspace* const workspace = static_cast<NSWorkspace*>(const_cast<NSObject*>(alloc()->makeImmortal()));
    return workspace;
}

namespace {

// Theme icons are files of the system that do not change while the program
// runs, and a folder of downloads asks for the same few again and again: each
// is decoded once. Every caller still gets an image of its own.
std::unique_ptr<ImageBitmap> themeIcon(const ImageLibrary& library, const std::string& file)
{
    static std::mutex lock;
    static auto* const decoded = new std::map<std::string, std::unique_ptr<ImageBitmap>>;
    std::lock_guard guard(lock);
    auto it = decoded->find(file);
    if (it == decoded->end())
        it = decoded->emplace(file, library.readFile(file.c_str(), kIconPixels)).first;
    return it->second ? it->second->copy() : nullptr;
}

// The icon's pixels, in the order iconForFile gives.
std::unique_ptr<ImageBitmap> iconBitmap(const std::string& path)
{
    const ImageLibrary* library = sentrel::appkit::imageLibrary();
    if (!library)
        return nullptr;
    const auto kind = sentrel::coreservices::itemKindAtPath(path);
    if (kind.isBundle || kind.isApplicationBundle)
        if (auto icon = bundleIcon(*library, path))
            return icon;
    auto& theme = sentrel::appkit::IconTheme::shared();
    for (const std::string& name : kind.iconNames) {
        const std::string file = theme.lookup(name, kIconPixels);
        if (!file.empty())
            if (auto icon = themeIcon(*library, file))
                return icon;
    }
    return std::unique_ptr<ImageBitmap>(library->drawIcon(kind.isDirectory, kIconPixels));
}

} // namespace

NSImage* NSWorkspace::iconForFile(const NSString* fullPath) const
{
    const char* fsPath = fullPath ? fullPath->fileSystemRepresentation() : nullptr;
    struct stat info {};
    if (!fsPath || !*fsPath || ::lstat(fsPath, &info) != 0)
        return nil;
    // Which icon it is, and its pixels, are worked out when first needed: a
    // caller that only gives the image a size to show it at (the
    // command line's report) decodes nothing and reads no icon theme.
    return NSImage::imageMadeWhenNeeded([path = std::string(fsPath)] { return iconBitmap(path); });
}

NSString* NSWorkspace::fullPathForApplication(const NSString* appName) const
{
    if (!appName)
        return nil;
    std::string name = appName->utf8();
    if (name.ends_with(".app"))
        name.resize(name.size() - 4);
    const std::string found = name == "Terminal" ? terminalProgram() : findProgram(name);
    return found.empty() ? nil : NSString::stringWithUTF8(found);
}

BOOL NSWorkspace::launchApplication(const NSString* appName, BOOL showIcon, BOOL autolaunch) const
{
    NSString* path = fullPathForApplication(appName);
    if (!path)
        return NO;
    const std::string program = path->fileSystemRepresentation();
    // Started in a session of its own by a short-lived child, so it outlives
    // this program and leaves no zombie behind.
    char* const argv[] = {const_cast<char*>(program.c_str()), nullptr};
    const pid_t child = ::fork();
    if (child < 0)
        return NO;
    if (child == 0) {
        ::setsid();
        pid_t grandchild = 0;
        const int status = ::posix_spawn(&grandchild, program.c_str(), nullptr, nullptr, argv, environ);
        ::_exit(status == 0 ? 0 : 1);
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}
