#include "UFileAttributesController.h"

#include "AppKit/NSWorkspace.h"
#include "CoreServices/Metadata.h"
#include "sys/xattr.h"

#include <cstring>
#include <new>
#include <vector>

namespace {

// The name list is read into a fixed buffer of this size; a longer list is not
// read at all.
constexpr size_t kAttributesListBufferSize = 8192;

NSSet* makeKeyPaths()
{
    AutoreleasePoolScope pool;
    NSMutableSet* keys = NSMutableSet::alloc();
    keys->addObject(NSSTR("privateURL"));
    keys->addObject(NSSTR("fileURLUpdated"));
    NSSet* frozen = static_cast<NSSet*>(keys->copy());
    keys->release();
    frozen->makeImmortal();
    return frozen;
}

NSSet* setOfOneKey(const char* key) { return NSSet::setWithObjects({NSSTR(key)}); }

} // namespace

const CoreConstant<NSSet*> kUFileAttributesKeyPaths CORE_INIT_ORDER(kCoreInitRank_FileAttributesKeyPaths){makeKeyPaths()};

OBJC_IMPLEMENTATION(UFileAttributesController, NSObject)
{
    using C = UFileAttributesController;
    cls.property("fileURL", &C::fileURL, &C::setFileURL);
    cls.property("filePath", &C::filePath);
    cls.property("fileIconImage", &C::fileIconImage);
    cls.property("fileDescription", &C::fileDescription);
    cls.property("attributesDictionary", &C::attributesDictionary);
    cls.property("attributesList", &C::attributesList);
    cls.property("attributesListString", &C::attributesListString);
    cls.property("extendedAttributesDictionary", &C::extendedAttributesDictionary);
    cls.property("extendedAttributesList", &C::extendedAttributesList);
    cls.property("extendedAttributesListString", &C::extendedAttributesListString);
    cls.property("extendedAttributesListData", &C::extendedAttributesListData);
    cls.property("metadataAttributesList", &C::metadataAttributesList);
    cls.property("metadataAttributesListString", &C::metadataAttributesListString);
    cls.property("privateURL", &C::privateURL, &C::setPrivateURL);
    cls.property("fileURLUpdated", &C::fileURLUpdated, &C::setFileURLUpdated);
    cls.property("delegate", &C::delegate, &C::setDelegate);

    cls.dependentKeys("filePath", &C::keyPathsForValuesAffectingFilePath);
    cls.dependentKeys("fileIconImage", &C::keyPathsForValuesAffectingFileIconImage);
    cls.dependentKeys("fileDescription", &C::keyPathsForValuesAffectingFileDescription);
    cls.dependentKeys("attributesDictionary", &C::keyPathsForValuesAffectingAttributesDictionary);
    cls.dependentKeys("extendedAttributesListData", &C::keyPathsForValuesAffectingExtendedAttributesListData);
    cls.dependentKeys("extendedAttributesList", &C::keyPathsForValuesAffectingExtendedAttributesList);
    cls.dependentKeys("metadataAttributesList", &C::keyPathsForValuesAffectingMetadataAttributesList);
    cls.dependentKeys("metadataAttributesListString", &C::keyPathsForValuesAffectingMetadataAttributesListString);
    cls.dependentKeys("extendedAttributesListString", &C::keyPathsForValuesAffectingExtendedAttributesListString);
    cls.dependentKeys("attributesListString", &C::keyPathsForValuesAffectingAttributesListString);
    cls.dependentKeys("attributesList", &C::keyPathsForValuesAffectingAttributesList);
}

// ---------------------------------------------------------------- stored keys

UFileAttributesController::AtomicURL& UFileAttributesController::AtomicURL::operator=(NSURL* url)
{
    Retained<NSURL> incoming(url);
    {
        std::lock_guard lock(m_lock);
        std::swap(m_url, incoming);
    }
    return *this;   // the old URL is released here, outside the lock
}

NSURL* UFileAttributesController::AtomicURL::load() const
{
    Retained<NSURL> current;
    {
        std::lock_guard lock(m_lock);
        current = m_url;
    }
    return current ? static_cast<NSURL*>(current->retain()->autorelease()) : nil;
}

UFileAttributesController* UFileAttributesController::init()
{
    setPrivateURL(nil);
    setFileURLUpdated(0);
    return this;
}

NSURL* UFileAttributesController::privateURL() const { return m_privateURL.load(); }

void UFileAttributesController::setPrivateURL(NSURL* url) { setPropertyValue("privateURL", m_privateURL, url); }

void UFileAttributesController::setFileURLUpdated(uint32_t value)
{
    setPropertyValue("fileURLUpdated", m_fileURLUpdated, value);
}

void UFileAttributesController::setDelegate(UFileAttributesControllerDelegate* delegate)
{
    setPropertyValue("delegate", m_delegate, delegate);
}

NSURL* UFileAttributesController::fileURL() const { return privateURL(); }

void UFileAttributesController::setFileURL(NSURL* url)
{
    // fileURL has no storage of its own; its setter announces the key around
    // the two changes it makes.
    const bool notify = automaticallyNotifiesObserversForKey("fileURL");
    if (notify)
        willChangeValueForKey("fileURL");
    setPrivateURL(url);
    fileMarkAttributesAsDirty();
    if (notify)
        didChangeValueForKey("fileURL");
}

void UFileAttributesController::fileMarkAttributesAsDirty() { setFileURLUpdated(fileURLUpdated() + 1); }

// ---------------------------------------------------------------- key dependencies

NSSet* UFileAttributesController::keyPathsForValuesAffectingAllAttributes() { return kUFileAttributesKeyPaths; }
NSSet* UFileAttributesController::keyPathsForValuesAffectingFilePath() { return kUFileAttributesKeyPaths; }
NSSet* UFileAttributesController::keyPathsForValuesAffectingFileIconImage() { return kUFileAttributesKeyPaths; }
NSSet* UFileAttributesController::keyPathsForValuesAffectingFileDescription() { return kUFileAttributesKeyPaths; }
NSSet* UFileAttributesController::keyPathsForValuesAffectingAttributesDictionary() { return kUFileAttributesKeyPaths; }
NSSet* UFileAttributesController::keyPathsForValuesAffectingExtendedAttributesListData() { return kUFileAttributesKeyPaths; }
NSSet* UFileAttributesController::keyPathsForValuesAffectingExtendedAttributesList() { return kUFileAttributesKeyPaths; }

NSSet* UFileAttributesController::keyPathsForValuesAffectingMetadataAttributesList()
{
    return UFileAttributesController::keyPathsForValuesAffectingAllAttributes();
}

NSSet* UFileAttributesController::keyPathsForValuesAffectingMetadataAttributesListString()
{
    return UFileAttributesController::keyPathsForValuesAffectingAllAttributes();
}

NSSet* UFileAttributesController::keyPathsForValuesAffectingExtendedAttributesListString()
{
    return setOfOneKey("extendedAttributesList");
}

NSSet* UFileAttributesController::keyPathsForValuesAffectingAttributesListString()
{
    return setOfOneKey("attributesDictionary");
}

NSSet* UFileAttributesController::keyPathsForValuesAffectingAttributesList()
{
    return setOfOneKey("attributesDictionary");
}

// ---------------------------------------------------------------- the file

NSString* UFileAttributesController::filePath() const
{
    NSURL* url = fileURL();
    return url ? url->path() : nil;
}

const char* UFileAttributesController::filePathName() const
{
    NSURL* url = fileURL();
    return url ? url->fileSystemRepresentation() : nullptr;
}

NSString* UFileAttributesController::fileDescription() const
{
    NSString* path = filePath();
    NSString* fallback = path ? path->lastPathComponent() : nil;
    if (!path)
        return fallback;
    NSBundle* bundle = NSBundle::bundleWithPath(path);
    if (!bundle)
        return fallback;
    id name = bundle->infoDictionary()->objectForKey("CFBundleName");
    // Only a string can describe the file; an entry of another type is
    // treated as missing.
    if (name && name->isKindOfClass(NSString::class_()))
        return static_cast<NSString*>(name);
    return fallback;
}

NSImage* UFileAttributesController::fileIconImage() const
{
    NSString* path = filePath();
    if (!path)
        return NSImage::imageNamed(NSSTR("Sentrel.icns"));
    NSImage* icon = NSWorkspace::sharedWorkspace()->iconForFile(path);
    if (!icon)
        return nil;
    icon->setSize(NSMakeSize(72, 72));
    return icon;
}

// ---------------------------------------------------------------- file-system attributes

NSDictionary* UFileAttributesController::attributesDictionary() const
{
    if (!filePathName())
        return NSDictionary::dictionary();
    NSError* error = nil;
    return NSFileManager::defaultManager()->attributesOfItemAtPath(filePath(), &error);
}

NSArray* UFileAttributesController::attributesList() const
{
    NSDictionary* attributes = attributesDictionary();
    return attributes ? attributes->allKeys() : nil;
}

NSString* UFileAttributesController::attributesListString() const
{
    NSArray* list = attributesList();
    return list ? list->componentsJoinedByString(NSSTR(", ")) : nil;
}

// ---------------------------------------------------------------- metadata

NSArray* UFileAttributesController::metadataAttributesList() const
{
    NSArray* names = NSArray::array();
    NSURL* url = fileURL();
    if (!url)
        return names;
    MDItemRef item = MDItemCreateWithURL(kCFAllocatorDefault, url);
    if (!item)
        return names;
    if (CFArrayRef copied = MDItemCopyAttributeNames(item)) {
        names = NSArray::arrayWithArray(copied);
        CFRelease(copied);
    }
    CFRelease(item);
    return names;
}

NSString* UFileAttributesController::metadataAttributesListString() const
{
    return metadataAttributesList()->componentsJoinedByString(NSSTR(", "));
}

// ---------------------------------------------------------------- extended attributes

NSDictionary* UFileAttributesController::extendedAttributesDictionary() const
{
    NSDictionary* attributes = attributesDictionary();
    id entry = attributes ? attributes->objectForKey(kNSFileExtendedAttributes) : nil;
    if (entry && entry->isKindOfClass(NSDictionary::class_()))
        return static_cast<NSDictionary*>(entry);
    return NSDictionary::dictionary();
}

NSArray* UFileAttributesController::extendedAttributesList() const
{
    return extendedAttributesDictionary()->allKeys();
}

NSString* UFileAttributesController::extendedAttributesListString() const
{
    return extendedAttributesList()->componentsJoinedByString(NSSTR(", "));
}

NSData* UFileAttributesController::extendedAttributesListData() const
{
    NSLog("attributesList:%@\n", this);
    const char* path = filePathName();
    if (!path)
        return nil;
    NSLog("attributesList for %s\n", path);
    char buffer[kAttributesListBufferSize];
    const ssize_t length = listxattr(path, buffer, sizeof buffer, 0);
    if (length == -1)
        return nil;
    return NSData::dataWithBytes(buffer, static_cast<NSUInteger>(length));
}

NSDictionary* UFileAttributesController::extendedAttributesDictionaryFromData() const
{
    NSMutableArray* names = NSMutableArray::array();
    if (NSData* data = extendedAttributesListData()) {
        NSLog("attributesListData.length:%lu\n", data->length());
        const char* bytes = reinterpret_cast<const char*>(data->bytes());
        const NSUInteger length = data->length();
        NSUInteger position = 0;
        NSUInteger consumed = 0;
        while (position < length && bytes[position] != '\0') {
            const void* nul = std::memchr(bytes + position, '\0', length - position);
            const NSUInteger nameLength =
                nul ? static_cast<NSUInteger>(static_cast<const char*>(nul) - (bytes + position)) : length - position;
            // A name that is not UTF-8 gives no string: it is skipped.
            if (NSString* name = NSString::stringWithBytes(bytes + position, nameLength, NSUTF8StringEncoding)) {
                NSLog("attribute:%@\n", name);
                names->addObject(name);
            }
            consumed += nameLength + 1;
            if (consumed >= length)
                break;
            position += nameLength + 1;
        }
    }
    NSMutableDictionary* attributes = NSMutableDictionary::dictionary();
    for (id name : *names)
        // An empty or unreadable value has nothing to store: the name is left out.
        if (NSData* value = extendedAttributeForKeyName(static_cast<NSString*>(name)))
            attributes->setObject(value, name);
    return static_cast<NSDictionary*>(attributes->copy()->autorelease());
}

ssize_t UFileAttributesController::sizeofExtendedAttributeForKeyName(const NSString* name) const
{
    const char* path = filePathName();
    if (!path || !name)
        return -1;
    return getxattr(path, name->UTF8String(), nullptr, 0, 0, 0);
}

bool UFileAttributesController::hasExtendedAttributeForKeyName(const NSString* name) const
{
    const char* path = filePathName();
    if (!path)
        return false;
    return getxattr(path, name ? name->UTF8String() : nullptr, nullptr, 0, 0, 0) > 0;
}

NSData* UFileAttributesController::extendedAttributeForKeyName(const NSString* name) const
{
    const ssize_t size = sizeofExtendedAttributeForKeyName(name);
    const char* path = filePathName();
    if (!path || size < 1)
        return nil;
    std::vector<uint8_t> buffer;
    try {
        buffer.resize(static_cast<size_t>(size));
    } catch (const std::bad_alloc&) {
        return nil;
    }
    const ssize_t got = getxattr(path, name->UTF8String(), buffer.data(), buffer.size(), 0, 0);
    if (got <= 0)
        return nil;
    buffer.resize(static_cast<size_t>(got));
    return NSData::dataWithVector(std::move(buffer));
}

bool UFileAttributesController::removeExtendedAttributeForKeyName(const NSString* name)
{
    const char* path = filePathName();
    if (!path)
        return false;
    if (removexattr(path, name ? name->UTF8String() : nullptr, 0) < 0)
        return false;
    fileMarkAttributesAsDirty();
    return true;
}
