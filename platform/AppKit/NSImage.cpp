#include "AppKit/NSImagePrivate.h"

#include "Foundation/NSBundle.h"

#include <QBuffer>
#include <QByteArray>
#include <QFile>
#include <QImageReader>

#include <algorithm>
#include <map>
#include <mutex>
#include <string>

struct NSImage::Bitmap {
    QImage image;
    std::function<QImage(QSize)> render;
    QImage lastRendering;
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

struct RegisteredLoader {
    std::string extension;
    NSImageAccess::FileLoader load;
};
std::vector<RegisteredLoader>& fileLoaders()
{
    static auto* const loaders = new std::vector<RegisteredLoader>;
    return *loaders;
}
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

void NSImageAccess::setRenderer(NSImage* image, std::function<QImage(QSize)> render)
{
    image->m_bitmap->render = std::move(render);
}

QImage NSImageAccess::renderAt(const NSImage* image, QSize pixels)
{
    NSImage::Bitmap& store = *image->m_bitmap;
    if (pixels.isEmpty() || pixels == store.image.size() || store.image.isNull())
        return store.image;
    if (store.lastRendering.size() != pixels) {
        store.lastRendering = store.render ? store.render(pixels)
                                             : store.image.scaled(pixels, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    }
    return store.lastRendering;
}

void NSImageAccess::registerFileLoader(const char* extension, FileLoader loader)
{
    std::lock_guard lock(sNamedLock);
    for (const auto& known : fileLoaders())
        if (known.extension == extension)
            return;
    fileLoaders().push_back({extension, loader});
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

    // A name with an extension names the file; one without is tried with
    // each type that can be read, bitmaps first. The first file found decides.
    std::vector<std::string> types;
    if (name->pathExtension()->length() > 0)
        types.push_back({});
    for (const char* type : {"icns", "png", "tiff", "tif", "jpg", "jpeg", "gif", "bmp", "svg"})
        types.push_back(type);
    for (const auto& loader : fileLoaders())
        types.push_back(loader.extension);
    NSBundle* bundle = NSBundle::mainBundle();
    NSString* path = nil;
    for (const std::string& type : types) {
        path = bundle->pathForResource(name, type.empty() ? nil : NSString::stringWithUTF8(type));
        if (path)
            break;
    }
    if (!path)
        return nil;
    NSImage* image = nil;
    const std::string extension = QString::fromStdString(path->pathExtension()->utf8()).toLower().toStdString();
    const auto loader = std::find_if(fileLoaders().begin(), fileLoaders().end(),
                                     [&](const RegisteredLoader& l) { return l.extension == extension; });
    if (loader != fileLoaders().end()) {
        image = loader->load(QFile::decodeName(path->fileSystemRepresentation()));
        if (image)
            image->retain();
    } else {
        image = alloc()->initWithContentsOfFile(path);
    }
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
