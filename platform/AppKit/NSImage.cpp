#include "AppKit/NSImagePrivate.h"

#include "Foundation/NSBundle.h"

#include <QBuffer>
#include <QByteArray>
#include <QFile>
#include <QImageReader>

#include <map>
#include <mutex>
#include <string>

struct NSImage::Bitmap {
    QImage image;
};

namespace {

// The largest image the reader holds; a null image when it holds none.
QImage readLargest(QImageReader& reader, int scalablePixels)
{
    if (scalablePixels > 0 && (reader.format() == "svg" || reader.format() == "svgz")) {
        const QSize natural = reader.size();
        if (natural.isValid() && natural.width() > 0)
            reader.setScaledSize(natural.scaled(scalablePixels, scalablePixels, Qt::KeepAspectRatio));
    }
    const int count = reader.imageCount();
    if (count <= 1)
        return reader.read();
    QImage largest;
    for (int i = 0; i < count; ++i) {
        if (!reader.jumpToImage(i))
            break;
        QImage image = reader.read();
        if (!image.isNull() && qint64(image.width()) * image.height() > qint64(largest.width()) * largest.height())
            largest = image;
    }
    return largest;
}

std::mutex sNamedLock;
std::map<std::string, Retained<NSImage>>& namedImages()
{
    static auto* const images = new std::map<std::string, Retained<NSImage>>;
    return *images;
}

} // namespace

OBJC_IMPLEMENTATION(NSImage, NSObject)
{
    cls.property("name", &NSImage::name);
}

NSImage::NSImage() : m_bitmap(std::make_unique<Bitmap>()) {}
NSImage::~NSImage() = default;

const QImage& NSImageAccess::bitmap(const NSImage* image) { return image->m_bitmap->image; }

NSImage* NSImageAccess::adoptBitmap(NSImage* image, QImage bitmap)
{
    if (bitmap.isNull()) {
        image->release();
        return nil;
    }
    image->m_size = NSMakeSize(static_cast<float>(bitmap.width()), static_cast<float>(bitmap.height()));
    image->m_bitmap->image = std::move(bitmap);
    return image;
}

NSImage* NSImageAccess::imageWithBitmap(const QImage& bitmap)
{
    NSImage* image = adoptBitmap(NSImage::alloc(), bitmap);
    return image ? static_cast<NSImage*>(image->autorelease()) : nil;
}

NSImage* NSImageAccess::imageWithFile(const QString& path, int pixels)
{
    QImageReader reader(path);
    return imageWithBitmap(readLargest(reader, pixels));
}

NSImage* NSImage::initWithContentsOfFile(const NSString* path)
{
    const char* fsPath = path ? path->fileSystemRepresentation() : nullptr;
    if (!fsPath) {
        release();
        return nil;
    }
    QImageReader reader(QFile::decodeName(fsPath));
    return NSImageAccess::adoptBitmap(this, readLargest(reader, 0));
}

NSImage* NSImage::initWithData(const NSData* data)
{
    if (!data || data->length() == 0) {
        release();
        return nil;
    }
    QByteArray bytes(reinterpret_cast<const char*>(data->bytes()), static_cast<qsizetype>(data->length()));
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    return NSImageAccess::adoptBitmap(this, readLargest(reader, 0));
}

NSImage* NSImage::imageNamed(const NSString* name)
{
    if (!name || name->length() == 0)
        return nil;
    const std::string key = name->utf8();
    std::lock_guard lock(sNamedLock);
    auto& images = namedImages();
    if (auto it = images.find(key); it != images.end())
        return it->second;

    NSBundle* bundle = NSBundle::mainBundle();
    NSString* path = nil;
    if (name->pathExtension()->length() > 0)
        path = bundle->pathForResource(name, nil);
    for (const char* type : {"icns", "png", "tiff", "tif", "jpg", "jpeg", "gif", "bmp", "svg"}) {
        if (path)
            break;
        path = bundle->pathForResource(name, NSSTR(type));
    }
    if (!path)
        return nil;
    NSImage* image = alloc()->initWithContentsOfFile(path);
    if (!image)
        return nil;
    image->m_name = Retained<NSString>::adopt(static_cast<NSString*>(name->copy()));
    images[key] = image;
    image->release();
    return images[key];
}

void NSImage::setSize(NSSize size) { m_size = size; }

bool NSImage::isValid() const { return !m_bitmap->image.isNull(); }

NSString* NSImage::description() const
{
    return NSString::stringWithFormat("<NSImage %p Name=%@ Size={%g, %g} Bitmap=%dx%d>", static_cast<const void*>(this),
                                      m_name.get(), m_size.width, m_size.height, m_bitmap->image.width(),
                                      m_bitmap->image.height());
}
