// What the AppKit stand-ins (and only they) need of an image: its bitmap, and
// making images from Qt images or from files decoded at a chosen size. Part of
// sentrel_appkit_images (Qt Gui), which programs with windows link.
#pragma once

#include "AppKit/NSImage.h"

#include <QImage>
#include <QString>

#include <functional>

namespace sentrel::appkit {
class QtBitmap;
}

struct NSImageAccess {
    // The decoded bitmap (a null QImage for an invalid image); an image made
    // before its pixels makes them now.
    static const QImage& bitmap(const NSImage* image);
    // An autoreleased image over the bitmap; nil for a null bitmap.
    static NSImage* imageWithBitmap(const QImage& bitmap);
    // The end of every init...: the image takes the bitmap and its size, or,
    // for a null bitmap, is released and nil comes back.
    static NSImage* adoptBitmap(NSImage* image, QImage bitmap);
    // The file decoded as NSImage does, except that a scalable format (SVG)
    // is rendered `pixels` wide instead of at its own size. Autoreleased; nil
    // when it does not decode.
    static NSImage* imageWithFile(const QString& path, int pixels);
    // A scalable image: `render` draws it at any pixel size; the bitmap is
    // its rendering at its natural size.
    static void setRenderer(NSImage* image, std::function<QImage(QSize)> render);
    // The image at `pixels`: its bitmap when that is the size, else rendered
    // anew (scalable images) or scaled; the last such rendering is kept.
    static QImage renderAt(const NSImage* image, QSize pixels);
    // Loaders for file types that need more than Qt Gui (PDF, in programs
    // with windows): imageNamed tries their extensions after the bitmap ones.
    using FileLoader = NSImage* (*)(const QString& path);   // autoreleased or nil
    static void registerFileLoader(const char* extension, FileLoader loader);

private:
    // The image's Qt bitmap; null when it has none. Every bitmap comes from
    // the Qt image library, linked in or (the same code) the plug-in's.
    static sentrel::appkit::QtBitmap* qtBitmap(const NSImage* image);
};
