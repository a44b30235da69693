#include "CoreServices/Metadata.h"

#include "CoreServices/ItemKind.h"
#include "sys/xattr.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <string>
#include <string_view>
#include <vector>

OBJC_IMPLEMENTATION_TYPEID(MDItem, NSObject, kCFTypeIDNextFree + 16) {}

// A new item over the attributes, owned by the caller.
MDItem* MDItemSnapshot(NSDictionary* attributes)
{
    MDItem* item = MDItem::alloc();
    item->m_attributes = Retained<NSDictionary>::adopt(static_cast<NSDictionary*>(attributes->copy()));
    return item;
}

namespace {

constexpr std::string_view kMetadataPrefix = "com.apple.metadata:";

NSDate* dateFrom(int64_t seconds, uint32_t nanoseconds)
{
    return NSDate::dateWithTimeIntervalSince1970(static_cast<double>(seconds) + nanoseconds / 1e9);
}

NSNumber* number(unsigned long long value) { return NSNumber::numberWithUnsignedLongLong(value); }

void set(NSMutableDictionary* attributes, CFStringRef key, id value)
{
    if (value)
        CFDictionarySetValue(attributes, key, value);
}

long long entryCount(const std::string& path)
{
    DIR* dir = opendir(path.c_str());
    if (!dir)
        return -1;
    long long count = 0;
    while (const dirent* entry = readdir(dir)) {
        std::string_view name = entry->d_name;
        if (name != "." && name != "..")
            ++count;
    }
    closedir(dir);
    return count;
}

// The names and values of the com.apple.metadata:* attributes, in list order.
void addMetadataAttributes(const std::string& path, NSMutableDictionary* attributes)
{
    ssize_t size = listxattr(path.c_str(), nullptr, 0, XATTR_NOFOLLOW);
    if (size <= 0)
        return;
    std::vector<char> names(static_cast<size_t>(size));
    size = listxattr(path.c_str(), names.data(), names.size(), XATTR_NOFOLLOW);
    if (size <= 0)
        return;
    names.resize(static_cast<size_t>(size));
    for (size_t start = 0; start < names.size();) {
        size_t end = start;
        while (end < names.size() && names[end] != '\0')
            ++end;
        const std::string name(names.data() + start, end - start);
        start = end + 1;
        if (!name.starts_with(kMetadataPrefix) || name.size() == kMetadataPrefix.size())
            continue;
        NSString* key = NSString::stringWithUTF8(name.substr(kMetadataPrefix.size()));
        ssize_t length = getxattr(path.c_str(), name.c_str(), nullptr, 0, 0, XATTR_NOFOLLOW);
        if (!key || length < 0)
            continue;
        std::vector<uint8_t> value(static_cast<size_t>(length));
        if (length > 0) {
            length = getxattr(path.c_str(), name.c_str(), value.data(), value.size(), 0, XATTR_NOFOLLOW);
            if (length < 0)
                continue;
            value.resize(static_cast<size_t>(length));
        }
        NSData* data = NSData::dataWithVector(std::move(value));
        id plist = data->length()
            ? NSPropertyListSerialization::propertyListWithData(data, NSPropertyListImmutable, nullptr, nullptr)
            : nil;
        attributes->setObject(plist ? plist : data, key);
    }
}

MDItemRef createItem(std::string path)
{
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    struct statx sx;
    if (path.empty() || statx(AT_FDCWD, path.c_str(), AT_SYMLINK_NOFOLLOW,
                              STATX_BASIC_STATS | STATX_BTIME, &sx) != 0)
        return nullptr;
    AutoreleasePoolScope pool;
    NSString* pathString = NSString::stringWithFileSystemRepresentation(path.data(), path.size());
    const bool directory = S_ISDIR(sx.stx_mode);
    const auto kind = sentrel::coreservices::itemKindAtPath(path);

    NSMutableDictionary* attributes = NSMutableDictionary::dictionary();
    NSString* name = pathString->lastPathComponent();
    set(attributes, kMDItemPath, pathString);
    set(attributes, kMDItemFSName, name);
    NSString* display = name;
    if (kind.isApplicationBundle && name->hasSuffix(NSSTR(".app")) && name->length() > 4)
        display = name->substringWithRange(NSMakeRange(0, name->length() - 4));
    set(attributes, kMDItemDisplayName, display);
    if (!directory) {
        set(attributes, kMDItemFSSize, number(sx.stx_size));
        set(attributes, kMDItemLogicalSize, number(sx.stx_size));
    }
    set(attributes, kMDItemPhysicalSize, number(sx.stx_blocks * 512ull));
    if (directory)
        if (long long count = entryCount(path); count >= 0)
            set(attributes, kMDItemFSNodeCount, number(static_cast<unsigned long long>(count)));
    if (sx.stx_mask & STATX_BTIME) {
        set(attributes, kMDItemFSCreationDate, dateFrom(sx.stx_btime.tv_sec, sx.stx_btime.tv_nsec));
        set(attributes, kMDItemContentCreationDate, dateFrom(sx.stx_btime.tv_sec, sx.stx_btime.tv_nsec));
    }
    set(attributes, kMDItemFSContentChangeDate, dateFrom(sx.stx_mtime.tv_sec, sx.stx_mtime.tv_nsec));
    set(attributes, kMDItemContentModificationDate, dateFrom(sx.stx_mtime.tv_sec, sx.stx_mtime.tv_nsec));
    set(attributes, kMDItemFSOwnerUserID, number(sx.stx_uid));
    set(attributes, kMDItemFSOwnerGroupID, number(sx.stx_gid));
    set(attributes, kMDItemFSInvisible, NSNumber::numberWithBool(name->hasPrefix(NSSTR("."))));
    if (!kind.typeIdentifier.empty())
        set(attributes, kMDItemContentType, NSString::stringWithUTF8(kind.typeIdentifier));
    if (!kind.description.empty())
        set(attributes, kMDItemKind, NSString::stringWithUTF8(kind.description));
    if (kind.isBundle || kind.isApplicationBundle)
        if (NSBundle* bundle = NSBundle::bundleWithPath(pathString))
            set(attributes, kMDItemCFBundleIdentifier, bundle->bundleIdentifier());
    addMetadataAttributes(path, attributes);

    return MDItemSnapshot(attributes);
}

} // namespace

CFTypeID MDItemGetTypeID() { return MDItem::class_()->typeID; }

MDItemRef MDItemCreateWithURL(CFAllocatorRef, CFURLRef url)
{
    if (!url || !url->isFileURL())
        return nullptr;
    return createItem(url->fileSystemPath());
}

MDItemRef MDItemCreate(CFAllocatorRef, CFStringRef path)
{
    if (!path)
        return nullptr;
    return createItem(path->utf8());
}

CFArrayRef MDItemCopyAttributeNames(MDItemRef item)
{
    if (!item)
        return nullptr;
    AutoreleasePoolScope pool;
    return static_cast<CFArrayRef>(item->attributes()->allKeys()->copy());
}

CFTypeRef MDItemCopyAttribute(MDItemRef item, CFStringRef name)
{
    if (!item || !name)
        return nullptr;
    id value = item->attributes()->objectForKey(name);
    return value ? value->retain() : nullptr;
}
