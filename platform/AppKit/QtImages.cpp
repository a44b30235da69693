#include "AppKit/QtImages.h"

#include <QBuffer>
#include <QByteArray>
#include <QFile>
#include <QImageReader>
#include <QPainter>

namespace sentrel::appkit {

QtBitmap::~QtBitmap() = default;

std::unique_ptr<ImageBitmap> QtBitmap::copy() const
{
    auto other = std::make_unique<QtBitmap>(image);
    other->render = render;
    return other;
}

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

ImageBitmap* bitmapOrNull(QImage image) { return image.isNull() ? nullptr : new QtBitmap(std::move(image)); }

ImageBitmap* readFile(const char* path, int scalablePixels)
{
    if (!path)
        return nullptr;
    QImageReader reader(QFile::decodeName(path));
    return bitmapOrNull(readLargest(reader, scalablePixels));
}

ImageBitmap* readData(const unsigned char* bytes, std::size_t length)
{
    if (!bytes || length == 0 || length > static_cast<std::size_t>(INT32_MAX))
        return nullptr;
    QByteArray data = QByteArray::fromRawData(reinterpret_cast<const char*>(bytes), static_cast<qsizetype>(length));
    QBuffer buffer(&data);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    return bitmapOrNull(readLargest(reader, 0));
}

ImageBitmap* drawIcon(bool folder, int pixels)
{
    QImage image(256, 256, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(QColor(90, 90, 90), 6));
    // A folder's tab, or a sheet with its corner folded.
    const QPolygonF outline = folder ? QPolygonF({{24, 64}, {100, 64}, {120, 84}, {232, 84}, {232, 216}, {24, 216}})
                                     : QPolygonF({{56, 16}, {160, 16}, {208, 64}, {208, 240}, {56, 240}});
    painter.setBrush(folder ? QColor(110, 160, 220) : QColor(Qt::white));
    painter.drawPolygon(outline);
    if (!folder)
        painter.drawPolyline(QPolygonF({QPointF(160, 16), QPointF(160, 64), QPointF(208, 64)}));
    painter.end();
    if (pixels > 0 && pixels != 256)
        image = image.scaled(pixels, pixels, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    return new QtBitmap(std::move(image));
}

} // namespace

const ImageLibrary& qtImageLibrary()
{
    static const ImageLibrary library{&readFile, &readData, &drawIcon};
    return library;
}

} // namespace sentrel::appkit

// The entry point, by the name the loader looks for. A program that links
// this library is found to have it before any plug-in is looked for.
extern "C" __attribute__((visibility("default"))) const sentrel::appkit::ImageLibrary* sentrel_appkit_image_library()
{
    return &sentrel::appkit::qtImageLibrary();
}
