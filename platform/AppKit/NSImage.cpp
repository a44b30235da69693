#include "AppKit/NSImage.h"

#include "AppKit/ImageLibrary.h"
#include "CoreServices/PlugIns.h"
#include "Foundation/NSBundle.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <mutex>
#include <string>

using sentrel::appkit::ImageBitmap;
using sentrel::appkit::ImageLibrary;

// Defined by the image library when the program links it (AppKit/QtImages).
extern "C" const ImageLibrary* sentrel_appkit_image_library() __attribute__((weak));

namespace sentrel::appkit {

const ImageLibrary* imageLibrary()
{
    static const ImageLibrary* const library = []() -> const ImageLibrary* {
        if (sentrel_appkit_image_library)
            return sentrel_appkit_image_library();
        auto entry = reinterpret_cast<ImageLibraryEntry>(plugins::entry(kImageLibraryPlugIn, kImageLibraryEntry));
        return entry ? entry() : nullptr;
    }();
    return library;
}

} // namespace sentrel::appkit

namespace {

std::mutex sNamedLock;

struct RegisteredLoader {
    std::string extension;
    std::function<NSImage*(const char*)> load;
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

std::string lowercased(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

} // namespace

OBJC_IMPLEMENTATION(NSImage, NSObject)
{
    cls.property("name", &NSImage::name);
}

NSImage::NSImage() = default;
NSImage::~NSImage() = default;

NSImage* NSImage::imageMadeWhenNeeded(BitmapMaker make)
{
    NSImage* image = alloc();
    image->m_pending = std::move(make);
    image->m_sizeKnown = false;
    return static_cast<NSImage*>(image->autorelease());
}

void NSImage::makeBitmap() const
{
    if (m_pending) {
        BitmapMaker make = std::move(m_pending);
        m_pending = nullptr;
        m_bitmap = make();
    }
    if (!m_sizeKnown) {
        m_size = m_bitmap ? NSMakeSize(static_cast<float>(m_bitmap->width()), static_cast<float>(m_bitmap->height()))
                          : NSZeroSize;
        m_sizeKnown = true;
    }
}

NSImage* NSImage::adopt(ImageBitmap* bitmap)
{
    if (!bitmap) {
        release();
        return nil;
    }
    m_bitmap.reset(bitmap);
    m_pending = nullptr;
    m_size = NSMakeSize(static_cast<float>(bitmap->width()), static_cast<float>(bitmap->height()));
    m_sizeKnown = true;
    return this;
}

void NSImage::registerFileLoader(const char* extension, std::function<NSImage*(const char*)> load)
{
    std::lock_guard lock(sNamedLock);
    for (const auto& known : fileLoaders())
        if (known.extension == extension)
            return;
    fileLoaders().push_back({extension, std::move(load)});
}

NSImage* NSImage::initWithContentsOfFile(const NSString* path)
{
    const char* fsPath = path ? path->fileSystemRepresentation() : nullptr;
    const ImageLibrary* library = fsPath ? sentrel::appkit::imageLibrary() : nullptr;
    return adopt(library ? library->readFile(fsPath, 0) : nullptr);
}

NSImage* NSImage::initWithData(const NSData* data)
{
    const ImageLibrary* library = data && data->length() > 0 ? sentrel::appkit::imageLibrary() : nullptr;
    return adopt(library ? library->readData(data->bytes(), data->length()) : nullptr);
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
    const std::string extension = lowercased(path->pathExtension()->utf8());
    const auto loader = std::find_if(fileLoaders().begin(), fileLoaders().end(),
                                     [&](const RegisteredLoader& l) { return l.extension == extension; });
    if (loader != fileLoaders().end()) {
        image = loader->load(path->fileSystemRepresentation());
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

NSSize NSImage::size() const
{
    if (!m_sizeKnown)
        makeBitmap();
    return m_size;
}

void NSImage::setSize(NSSize size)
{
    m_size = size;
    m_sizeKnown = true;
}

bool NSImage::isValid() const
{
    makeBitmap();
    return m_bitmap != nullptr;
}

NSString* NSImage::description() const
{
    makeBitmap();
    return NSString::stringWithFormat("<NSImage %p Name=%@ Size={%g, %g} Bitmap=%dx%d>", static_cast<const void*>(this),
                                      m_name.get(), m_size.width, m_size.height, m_bitmap ? m_bitmap->width() : 0,
                                      m_bitmap ? m_bitmap->height() : 0);
}
