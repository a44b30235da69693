#include "CoreServices/ItemKind.h"

#include "Foundation/Foundation.h"

#include "CoreServices/BundleFolder.h"
#include "CoreServices/MimeTypes.h"
#include "CoreServices/PlugIns.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstring>

namespace sentrel::coreservices {

namespace {

uint32_t bigEndian32(const uint8_t* p)
{
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}
uint32_t littleEndian32(const uint8_t* p)
{
    return (uint32_t(p[3]) << 24) | (uint32_t(p[2]) << 16) | (uint32_t(p[1]) << 8) | uint32_t(p[0]);
}

bool isDirectoryPath(const std::string& path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Whether the bundle's information names the package type "APPL".
bool declaresApplication(const std::string& bundlePath)
{
    AutoreleasePoolScope pool;
    NSBundle* bundle = NSBundle::bundleWithPath(NSString::stringWithFileSystemRepresentation(bundlePath.data(), bundlePath.size()));
    id type = bundle ? bundle->objectForInfoDictionaryKey(NSSTR("CFBundlePackageType")) : nil;
    return type && type->isKindOfClass(NSString::class_()) && static_cast<NSString*>(type)->isEqualToString(NSSTR("APPL"));
}

// Uniform type identifiers for the MIME types met most; anything else is
// plain data.
std::string typeIdentifierForMime(const std::string& mime, bool directory)
{
    static const std::pair<const char*, const char*> table[] = {
        {"inode/directory", "public.folder"},
        {"inode/symlink", "public.symlink"},
        {"application/x-mach-binary", "com.apple.mach-o-binary"},
        {"application/x-executable", "public.unix-executable"},
        {"application/x-pie-executable", "public.unix-executable"},
        {"application/x-sharedlib", "public.unix-executable"},
        {"application/x-shellscript", "public.shell-script"},
        {"text/plain", "public.plain-text"},
        {"text/html", "public.html"},
        {"application/xml", "public.xml"},
        {"text/xml", "public.xml"},
        {"application/json", "public.json"},
        {"image/png", "public.png"},
        {"image/jpeg", "public.jpeg"},
        {"image/gif", "com.compuserve.gif"},
        {"image/tiff", "public.tiff"},
        {"image/svg+xml", "public.svg-image"},
        {"image/x-icns", "com.apple.icns"},
        {"application/pdf", "com.adobe.pdf"},
        {"application/zip", "public.zip-archive"},
        {"application/gzip", "org.gnu.gnu-zip-archive"},
        {"application/x-tar", "public.tar-archive"},
        {"application/x-apple-diskimage", "com.apple.disk-image-udif"},
    };
    for (const auto& [m, uti] : table)
        if (mime == m)
            return uti;
    return directory ? "public.folder" : "public.data";
}

} // namespace

MachOKind machOKind(const uint8_t* bytes, size_t length)
{
    if (!bytes || length < 4)
        return MachOKind::None;
    switch (bigEndian32(bytes)) {
    case 0xfeedface:
    case 0xfeedfacf:
    case 0xcefaedfe:
    case 0xcffaedfe:
        return MachOKind::Thin;
    case 0xcafebabe:
    case 0xcafebabf:
        return length >= 8 && bigEndian32(bytes + 4) < 45 ? MachOKind::Universal : MachOKind::None;
    case 0xbebafeca:
    case 0xbfbafeca:
        return length >= 8 && littleEndian32(bytes + 4) < 45 ? MachOKind::Universal : MachOKind::None;
    default:
        return MachOKind::None;
    }
}

MachOKind machOKindOfFile(const std::string& path)
{
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return MachOKind::None;
    struct stat st;
    uint8_t head[8];
    ssize_t got = -1;
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode))
        got = read(fd, head, sizeof head);
    close(fd);
    return got > 0 ? machOKind(head, static_cast<size_t>(got)) : MachOKind::None;
}

bool isBundle(const std::string& path)
{
    return isDirectoryPath(path) && folderHasInformation(withoutTrailingSlashes(path));
}

bool isApplicationBundle(const std::string& path)
{
    if (!isDirectoryPath(path))
        return false;
    const std::string folder = withoutTrailingSlashes(path);
    return endsWithIgnoringCase(folder, ".app") || (folderHasInformation(folder) && declaresApplication(folder));
}

ItemKind itemKindAtPath(const std::string& path)
{
    ItemKind kind;
    struct stat lst, st;
    if (path.empty() || lstat(path.c_str(), &lst) != 0)
        return kind;
    kind.exists = true;
    kind.isSymbolicLink = S_ISLNK(lst.st_mode);
    if (stat(path.c_str(), &st) != 0) {
        kind.mimeType = "inode/symlink";
        kind.typeIdentifier = "public.symlink";
        kind.description = "symbolic link";
        kind.iconNames = {"inode-symlink", "text-x-generic"};
        return kind;
    }
    kind.isDirectory = S_ISDIR(st.st_mode);

    if (kind.isDirectory) {
        const std::string folder = withoutTrailingSlashes(path);
        kind.isBundle = folderHasInformation(folder);
        kind.isApplicationBundle = endsWithIgnoringCase(folder, ".app") || (kind.isBundle && declaresApplication(folder));
        if (kind.isApplicationBundle) {
            kind.mimeType = "inode/directory";
            kind.typeIdentifier = "com.apple.application-bundle";
            kind.description = "application";
            kind.iconNames = {"application-x-executable", "folder"};
            return kind;
        }
    } else if (S_ISREG(st.st_mode)) {
        const MachOKind macho = machOKindOfFile(path);
        if (macho != MachOKind::None) {
            kind.mimeType = "application/x-mach-binary";
            kind.typeIdentifier = "com.apple.mach-o-binary";
            kind.description = macho == MachOKind::Universal ? "Mach-O universal binary" : "Mach-O binary";
            kind.iconNames = {"application-x-mach-binary", "application-x-executable", "text-x-generic"};
            return kind;
        }
    }

    const MimeTypeFacts mime = mimeTypeOfFile(path);
    // Without the database (its plug-in missing) a file is untyped bytes.
    kind.mimeType = !mime.name.empty() ? mime.name : kind.isDirectory ? "inode/directory" : "application/octet-stream";
    kind.typeIdentifier = kind.isBundle ? "com.apple.bundle" : typeIdentifierForMime(kind.mimeType, kind.isDirectory);
    kind.description = mime.comment;
    for (const std::string& name : {mime.iconName, mime.genericIconName})
        if (!name.empty() && std::find(kind.iconNames.begin(), kind.iconNames.end(), name) == kind.iconNames.end())
            kind.iconNames.push_back(name);
    kind.iconNames.push_back(kind.isDirectory ? "folder" : "text-x-generic");
    return kind;
}

MimeTypeFacts mimeTypeOfFile(const std::string& path)
{
    MimeTypeFacts facts;
    static const auto entry =
        reinterpret_cast<MimeTypeOfFileEntry>(plugins::entry(kMimeTypesPlugIn, kMimeTypeOfFileEntry));
    if (!entry || !entry(path.c_str(), &facts))
        facts = {};
    return facts;
}

} // namespace sentrel::coreservices
