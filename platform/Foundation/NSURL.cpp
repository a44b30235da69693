#include "Foundation/Foundation.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

namespace {

// Bytes kept as they are in a file URL's path; everything else is %XX.
bool isPathSafe(unsigned char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           std::strchr("-._~/!$&'()*+,;=:@", c) != nullptr;
}

std::string percentEncode(std::string_view bytes)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : bytes) {
        if (c && isPathSafe(c)) {
            out.push_back(static_cast<char>(c));
        } else {
            out.push_back('%');
            out.push_back(digits[c >> 4]);
            out.push_back(digits[c & 15]);
        }
    }
    return out;
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string percentDecode(std::string_view text)
{
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size()) {
            int hi = hexValue(text[i + 1]), lo = hexValue(text[i + 2]);
            if (hi >= 0 && lo >= 0) {
                out.push_back(static_cast<char>(hi * 16 + lo));
                i += 2;
                continue;
            }
        }
        out.push_back(text[i]);
    }
    return out;
}

bool isDirectoryOnDisk(const std::string& path)
{
    struct stat st{};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string absolutePath(std::string path)
{
    if (!path.empty() && path.front() == '/')
        return path;
    char cwd[4096];
    std::string base = ::getcwd(cwd, sizeof cwd) ? cwd : "/";
    if (path.empty())
        return base;
    return base + (base.back() == '/' ? "" : "/") + path;
}

} // namespace

OBJC_IMPLEMENTATION_TYPEID(NSURL, NSObject, kCFTypeIDURL)
{
    cls.property("path", &NSURL::path);
    cls.property("absoluteString", &NSURL::absoluteString);
    cls.property("lastPathComponent", &NSURL::lastPathComponent);
}

NSURL* NSURL::fileURLWithFileSystemRepresentation(const char* path, bool isDirectory, const NSURL* relativeTo)
{
    if (!path)
        return nil;
    std::string full = path;
    if (full.empty() || full.front() != '/')
        full = relativeTo ? relativeTo->fileSystemPath() + "/" + full : absolutePath(full);
    if (isDirectory && full.back() != '/')
        full.push_back('/');
    NSURL* url = new NSURL;
    url->setText("file://" + percentEncode(full));
    url->m_isFile = true;
    return static_cast<NSURL*>(url->autorelease());
}

NSURL* NSURL::fileURLWithPath(const NSString* path, bool isDirectory)
{
    return path ? fileURLWithFileSystemRepresentation(path->utf8().c_str(), isDirectory) : nil;
}

NSURL* NSURL::fileURLWithPath(const NSString* path)
{
    if (!path)
        return nil;
    std::string full = absolutePath(path->utf8());
    return fileURLWithFileSystemRepresentation(full.c_str(), isDirectoryOnDisk(full));
}

NSURL* NSURL::URLWithString(const NSString* text)
{
    if (!text)
        return nil;
    std::string s = text->utf8();
    size_t colon = s.find(':');
    if (colon == std::string::npos || colon == 0)
        return nil;
    for (size_t i = 0; i < colon; ++i) {
        char c = s[i];
        bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (i > 0 && ((c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.'));
        if (!ok)
            return nil;
    }
    for (unsigned char c : s)
        if (c <= 0x20 || c >= 0x7F)
            return nil;
    NSURL* url = new NSURL;
    url->setText(s);
    std::string scheme = s.substr(0, colon);
    for (char& c : scheme)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    url->m_isFile = scheme == "file";
    return static_cast<NSURL*>(url->autorelease());
}

NSString* NSURL::absoluteString() const { return NSString::stringWithUTF8(m_text); }

NSString* NSURL::scheme() const { return NSString::stringWithUTF8(m_text.substr(0, m_text.find(':'))); }

void NSURL::setText(std::string text)
{
    m_text = std::move(text);
    m_path = decodedPath();
}

std::string NSURL::fileSystemPath() const { return m_path; }

std::string NSURL::decodedPath() const
{
    std::string rest = m_text.substr(m_text.find(':') + 1);
    if (rest.starts_with("//")) {
        size_t slash = rest.find('/', 2);
        rest = slash == std::string::npos ? "/" : rest.substr(slash);
    }
    size_t query = rest.find_first_of("?#");
    if (query != std::string::npos)
        rest.resize(query);
    std::string path = percentDecode(rest);
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path;
}

NSString* NSURL::path() const
{
    std::call_once(m_pathStringMade, [this] {
        AutoreleasePoolScope pool;
        m_pathString = NSString::stringWithFileSystemRepresentation(m_path.data(), m_path.size());
    });
    // Autoreleased, as a new string would be: it may outlive the URL.
    return m_pathString ? static_cast<NSString*>(m_pathString->retain()->autorelease()) : nil;
}

NSString* NSURL::lastPathComponent() const
{
    NSString* p = path();
    return p ? p->lastPathComponent() : nil;
}

NSString* NSURL::pathExtension() const
{
    NSString* p = path();
    return p ? p->pathExtension() : nil;
}

NSURL* NSURL::filePathURL() const { return m_isFile ? const_cast<NSURL*>(this) : nil; }

NSURL* NSURL::URLByAppendingPathComponent(const NSString* component) const
{
    std::string path = fileSystemPath();
    std::string part = component ? component->utf8() : "";
    std::string joined = path + (path.back() == '/' ? "" : "/") + part;
    return fileURLWithFileSystemRepresentation(joined.c_str(), isDirectoryOnDisk(joined));
}

NSURL* NSURL::URLByDeletingLastPathComponent() const
{
    std::string path = fileSystemPath();
    size_t slash = path.rfind('/');
    std::string parent = slash == std::string::npos || slash == 0 ? "/" : path.substr(0, slash);
    return fileURLWithFileSystemRepresentation(parent.c_str(), true);
}

const char* NSURL::fileSystemRepresentation() const
{
    NSData* buffer = NSData::dataWithBytes(m_path.c_str(), m_path.size() + 1);
    return reinterpret_cast<const char*>(buffer->bytes());
}

bool NSURL::hasDirectoryPath() const
{
    std::string rest = m_text.substr(0, m_text.find_first_of("?#"));
    return !rest.empty() && rest.back() == '/';
}

BOOL NSURL::isEqual(const NSObject* other) const
{
    return other && other->isKindOfClass(NSURL::class_()) && static_cast<const NSURL*>(other)->m_text == m_text;
}

NSUInteger NSURL::hash() const { return std::hash<std::string>()(m_text); }
