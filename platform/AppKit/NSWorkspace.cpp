#include "AppKit/NSWorkspace.h"

#include "AppKit/IconTheme.h"
#include "AppKit/NSImagePrivate.h"
#include "CoreServices/ItemKind.h"
#include "Foundation/NSBundle.h"

#include <QFile>
#include <QPainter>
#include <QPainterPath>

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

// An application's own icon: CFBundleIconFile in the bundle's resources.
NSImage* bundleIcon(const NSString* path)
{
    NSBundle* bundle = NSBundle::bundleWithPath(path);
    id iconFile = bundle ? bundle->objectForInfoDictionaryKey(NSSTR("CFBundleIconFile")) : nil;
    if (!iconFile || !iconFile->isKindOfClass(NSString::class_()))
        return nil;
    NSString* name = static_cast<NSString*>(iconFile);
    NSString* resources = bundle->resourcePath();
    if (!resources || name->length() == 0 || name->rangeOfString(NSSTR("/")).location != NSNotFound)
        return nil;
    for (NSString* candidate : {name, name->stringByAppendingString(NSSTR(".icns"))}) {
        NSString* file = resources->stringByAppendingPathComponent(candidate);
        if (NSImage* image = NSImage::alloc()->initWithContentsOfFile(file))
            return static_cast<NSImage*>(image->autorelease());
    }
    return nil;
}

// A plain sheet with a folded corner, or a folder, for a system without any
// icon theme.
NSImage* drawnIcon(bool folder)
{
    QImage image(kIconPixels, kIconPixels, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(QColor(90, 90, 90), 6));
    if (folder) {
        painter.setBrush(QColor(110, 160, 220));
        QPainterPath path;
        path.moveTo(24, 64);
        path.lineTo(100, 64);
        path.lineTo(120, 84);
        path.lineTo(232, 84);
        path.lineTo(232, 216);
        path.lineTo(24, 216);
        path.closeSubpath();
        painter.drawPath(path);
    } else {
        painter.setBrush(Qt::white);
        QPainterPath sheet;
        sheet.moveTo(56, 16);
        sheet.lineTo(160, 16);
        sheet.lineTo(208, 64);
        sheet.lineTo(208, 240);
        sheet.lineTo(56, 240);
        sheet.closeSubpath();
        painter.drawPath(sheet);
        painter.drawPolyline(QPolygonF({QPointF(160, 16), QPointF(160, 64), QPointF(208, 64)}));
    }
    painter.end();
    return NSImageAccess::imageWithBitmap(image);
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
QImage themeIconBitmap(const std::string& file)
{
    static std::mutex lock;
    static std::map<std::string, QImage> decoded;
    std::lock_guard guard(lock);
    auto it = decoded.find(file);
    if (it == decoded.end()) {
        AutoreleasePoolScope pool;
        NSImage* image = NSImageAccess::imageWithFile(QFile::decodeName(file.c_str()), kIconPixels);
        it = decoded.emplace(file, image ? NSImageAccess::bitmap(image) : QImage()).first;
    }
    return it->second;
}

} // namespace

NSImage* NSWorkspace::iconForFile(const NSString* fullPath) const
{
    const char* fsPath = fullPath ? fullPath->fileSystemRepresentation() : nullptr;
    if (!fsPath || !*fsPath)
        return nil;
    const auto kind = sentrel::coreservices::itemKindAtPath(fsPath);
    if (!kind.exists)
        return nil;
    if (kind.isBundle || kind.isApplicationBundle)
        if (NSImage* icon = bundleIcon(fullPath))
            return icon;
    auto& theme = sentrel::appkit::IconTheme::shared();
    for (const std::string& name : kind.iconNames) {
        const std::string file = theme.lookup(name, kIconPixels);
        if (!file.empty())
            if (NSImage* icon = NSImageAccess::imageWithBitmap(themeIconBitmap(file)))
                return icon;
    }
    return drawnIcon(kind.isDirectory);
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
