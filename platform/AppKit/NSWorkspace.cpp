#include "AppKit/NSWorkspace.h"

#include "AppKit/IconTheme.h"
#include "AppKit/NSImagePrivate.h"
#include "CoreServices/ItemKind.h"
#include "Foundation/NSBundle.h"

#include <QFile>
#include <QPainter>
#include <QPainterPath>

#include <map>
#include <mutex>

namespace {

constexpr int kIconPixels = 256;

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
