#include "AppKit/NSImagePrivate.h"

#include "AppKit/QtImages.h"

#include <QFile>

using sentrel::appkit::QtBitmap;

QtBitmap* NSImageAccess::qtBitmap(const NSImage* image) { return static_cast<QtBitmap*>(image->m_bitmap.get()); }

const QImage& NSImageAccess::bitmap(const NSImage* image)
{
    static const QImage none;
    image->makeBitmap();
    const QtBitmap* bitmap = qtBitmap(image);
    return bitmap ? bitmap->image : none;
}

NSImage* NSImageAccess::adoptBitmap(NSImage* image, QImage bitmap)
{
    return image->adopt(bitmap.isNull() ? nullptr : new QtBitmap(std::move(bitmap)));
}

NSImage* NSImageAccess::imageWithBitmap(const QImage& bitmap)
{
    NSImage* image = adoptBitmap(NSImage::alloc(), bitmap);
    return image ? static_cast<NSImage*>(image->autorelease()) : nil;
}

void NSImageAccess::setRenderer(NSImage* image, std::function<QImage(QSize)> render)
{
    image->makeBitmap();
    if (QtBitmap* bitmap = qtBitmap(image))
        bitmap->render = std::move(render);
}

QImage NSImageAccess::renderAt(const NSImage* image, QSize pixels)
{
    image->makeBitmap();
    QtBitmap* store = qtBitmap(image);
    if (!store)
        return QImage();
    if (pixels.isEmpty() || pixels == store->image.size() || store->image.isNull())
        return store->image;
    if (store->lastRendering.size() != pixels) {
        store->lastRendering = store->render ? store->render(pixels)
                                             : store->image.scaled(pixels, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    }
    return store->lastRendering;
}

void NSImageAccess::registerFileLoader(const char* extension, FileLoader loader)
{
    NSImage::registerFileLoader(extension, [loader](const char* path) { return loader(QFile::decodeName(path)); });
}

NSImage* NSImageAccess::imageWithFile(const QString& path, int pixels)
{
    NSImage* image = NSImage::alloc()->adopt(
        sentrel::appkit::qtImageLibrary().readFile(QFile::encodeName(path).constData(), pixels));
    return image ? static_cast<NSImage*>(image->autorelease()) : nil;
}
