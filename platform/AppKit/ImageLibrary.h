// What AppKit's images need of an image library, in plain C++ values: the
// pixels (ImageBitmap) and the three ways of making them. The library is Qt
// Gui's (AppKit/QtImages). Programs with windows link it; every other
// program loads it as the AppKitImages plug-in the first time pixels are
// really needed, so that a command-line report never loads Qt Gui.
#pragma once

#include <cstddef>
#include <memory>

namespace sentrel::appkit {

// An image's pixels, held by the library.
class ImageBitmap {
public:
    virtual ~ImageBitmap() = default;
    virtual int width() const = 0;
    virtual int height() const = 0;
    // Another bitmap over the same pixels (shared, not copied).
    virtual std::unique_ptr<ImageBitmap> copy() const = 0;
};

struct ImageLibrary {
    // The file at `path` (its bytes) decoded: its largest image, a scalable
    // one (SVG) rendered `scalablePixels` wide when that is above 0. nullptr
    // when it is not an image the library can decode.
    ImageBitmap* (*readFile)(const char* path, int scalablePixels);
    // The same for bytes in memory.
    ImageBitmap* (*readData)(const unsigned char* bytes, std::size_t length);
    // A plain sheet with a folded corner, or a folder, `pixels` square: the
    // icon of a system without any icon theme.
    ImageBitmap* (*drawIcon)(bool folder, int pixels);
};

// The library linked into the program, else the plug-in's, loaded on the
// first call; nullptr when neither is there.
const ImageLibrary* imageLibrary();

// The plug-in and its entry point (answers the library's table).
inline constexpr const char* kImageLibraryPlugIn = "AppKitImages";
inline constexpr const char* kImageLibraryEntry = "sentrel_appkit_image_library";
using ImageLibraryEntry = const ImageLibrary* (*)();

} // namespace sentrel::appkit
