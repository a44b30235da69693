// The image library over Qt Gui (see AppKit/ImageLibrary.h): QImage decodes
// without an application object and without a display. Built twice: into
// sentrel_appkit_images, which programs with windows link, and into the
// AppKitImages plug-in that every other program loads when it needs pixels.
#pragma once

#include "AppKit/ImageLibrary.h"

#include <QImage>
#include <QSize>

#include <functional>

namespace sentrel::appkit {

class QtBitmap final : public ImageBitmap {
public:
    explicit QtBitmap(QImage bitmap) : image(std::move(bitmap)) {}
    ~QtBitmap() override;
    int width() const override { return image.width(); }
    int height() const override { return image.height(); }
    std::unique_ptr<ImageBitmap> copy() const override;

    QImage image;
    // A scalable image draws itself at any size; the last such drawing (or
    // scaling) is kept.
    std::function<QImage(QSize)> render;
    QImage lastRendering;
};

// The library's table (the plug-in's entry point answers it too).
const ImageLibrary& qtImageLibrary();

} // namespace sentrel::appkit
