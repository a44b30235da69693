// Images: one decoded bitmap (Qt's QImage, which needs no application object)
// and a size in points. A new image's size is its bitmap's size in pixels;
// setSize changes the size the image is drawn at and leaves the bitmap alone.
// The bitmap belongs to the image library (AppKit/ImageLibrary.h), which a
// program without windows loads only when it first decodes something.
//
// An image may be made before its pixels are (NSWorkspace's icons): they are
// made the first time they, the image's validity or its natural size are
// asked for. A size set before then is kept, and asking for it decodes
// nothing.
//
// Files are read through Qt's image plugins: PNG, JPEG, GIF, BMP, ICO, TIFF,
// WebP, SVG and .icns (qt6-image-formats-plugins). A file with several images
// (an .icns, an .ico) gives its largest. Programs with windows also read PDF
// files (their first page, at its size in points), rendered anew at each
// size they are drawn at.
#pragma once

#include "AppKit/NSGraphics.h"
#include "Foundation/NSGeometry.h"
#include "Foundation/NSValue.h"

#include <functional>
#include <memory>

namespace sentrel::appkit {
class ImageBitmap;
}

class NSImage : public NSObject {
    OBJC_CLASS(NSImage, NSObject)
public:
    NSImage();

    // The image named `name` among the program's resources (the main
    // bundle's resource folder): "Sentrel.icns" as it is, or a name without
    // extension tried with icns, png, tiff, tif, jpg, jpeg, gif, bmp and svg.
    // The first image found under a name is kept and handed out again for that
    // name, so a setSize on it is seen by every later caller. nil when there
    // is no such image.
    static NSImage* imageNamed(const NSString* name);

    // init... forms: answer the receiver, or release it and answer nil when
    // the file or bytes are not an image Qt can decode.
    NSImage* initWithContentsOfFile(const NSString* path);
    NSImage* initWithData(const NSData* data);

    NSSize size() const;
    void setSize(NSSize size);
    // True when the image holds a decoded bitmap.
    bool isValid() const;
    NSString* name() const { return m_name; }

    // Drawing into the current context (programs with windows): at the
    // image's size with its bottom-left corner at `point`; or the part
    // `fromRect` of the image (the zero rectangle: all of it) scaled into
    // `inRect`, with `fraction` as its opacity.
    void compositeToPoint(NSPoint point, NSCompositingOperation operation) const;
    void drawInRect(NSRect inRect, NSRect fromRect, NSCompositingOperation operation, float fraction) const;

    NSString* description() const override;

protected:
    ~NSImage() override;

private:
    using BitmapMaker = std::function<std::unique_ptr<sentrel::appkit::ImageBitmap>()>;
    // An autoreleased image whose pixels `make` makes when first needed.
    static NSImage* imageMadeWhenNeeded(BitmapMaker make);
    // Makes the pending pixels, if any; the natural size follows them
    // unless a size was set.
    void makeBitmap() const;
    // The end of every init...: the image takes the bitmap and its size,
    // or, for none, is released and nil comes back.
    NSImage* adopt(sentrel::appkit::ImageBitmap* bitmap);
    // imageNamed's readers for file types beyond the bitmap ones (PDF, in
    // programs with windows); `load` answers an autoreleased image or nil.
    static void registerFileLoader(const char* extension, std::function<NSImage*(const char* path)> load);

    mutable std::unique_ptr<sentrel::appkit::ImageBitmap> m_bitmap;   // null: no pixels (yet)
    mutable BitmapMaker m_pending;
    mutable NSSize m_size = NSZeroSize;
    mutable bool m_sizeKnown = true;   // false while the natural size waits for the pixels
    Retained<NSString> m_name;
    friend struct NSImageAccess;
    friend class NSWorkspace;
};
