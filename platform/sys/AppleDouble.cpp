#include "sys/AppleDouble.h"
#include "sys/xattr.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>

namespace sentrel::sys {

namespace {

constexpr size_t kHeaderSize = 26;          // magic, version, filler, count
constexpr size_t kEntrySize = 12;
constexpr size_t kAttributesPad = 2;        // between Finder info and ATTR
constexpr size_t kAttributesHeaderSize = 36;
constexpr size_t kAttributeEntryFixed = 11; // offset, length, flags, name length

uint32_t be32(std::span<const uint8_t> b, size_t at)
{
    return uint32_t(b[at]) << 24 | uint32_t(b[at + 1]) << 16 | uint32_t(b[at + 2]) << 8 | uint32_t(b[at + 3]);
}
uint16_t be16(std::span<const uint8_t> b, size_t at) { return uint16_t(b[at] << 8 | b[at + 1]); }

void put32(std::vector<uint8_t>& out, uint32_t v)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(uint8_t(v >> shift));
}
void put16(std::vector<uint8_t>& out, uint16_t v)
{
    out.push_back(uint8_t(v >> 8));
    out.push_back(uint8_t(v));
}
void set32(std::vector<uint8_t>& out, size_t at, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        out[at + i] = uint8_t(v >> (24 - 8 * i));
}

// Whether [offset, offset + length) lies inside [0, size), without overflow.
bool fits(uint64_t offset, uint64_t length, uint64_t size) { return offset <= size && length <= size - offset; }

size_t padded4(size_t n) { return (n + 3) & ~size_t(3); }

// The ATTR block inside entry 9, which spans [begin, end) of the file.
AppleDoubleStatus parseAttributes(std::span<const uint8_t> bytes, size_t begin, size_t end, AppleDouble& file)
{
    const size_t header = begin + kAppleDoubleFinderInfoSize + kAttributesPad;
    if (!fits(header, kAttributesHeaderSize, end) || be32(bytes, header) != kAppleDoubleAttributesMagic)
        return AppleDoubleStatus::ok;  // plain Finder info, no attributes
    file.hasAttributeBlock = true;
    file.attributesDebugTag = be32(bytes, header + 4);
    std::memcpy(file.attributesReserved, bytes.data() + header + 20, sizeof file.attributesReserved);
    file.attributesFlags = be16(bytes, header + 32);
    const uint16_t count = be16(bytes, header + 34);

    // The block ends where entry 9 ends; its own total size may only say
    // less.
    const uint32_t totalSize = be32(bytes, header + 8);
    const size_t blockEnd = std::min<size_t>(end, totalSize >= header ? totalSize : end);

    size_t at = header + kAttributesHeaderSize;
    std::vector<std::pair<size_t, size_t>> spans;
    spans.reserve(count);
    for (uint16_t i = 0; i < count; ++i) {
        if (!fits(at, kAttributeEntryFixed, blockEnd))
            return AppleDoubleStatus::truncatedAttributes;
        const uint32_t offset = be32(bytes, at);
        const uint32_t length = be32(bytes, at + 4);
        const uint16_t flags = be16(bytes, at + 8);
        const uint8_t nameLength = bytes[at + 10];
        if (!fits(at + kAttributeEntryFixed, nameLength, blockEnd))
            return AppleDoubleStatus::truncatedAttributes;
        const char* name = reinterpret_cast<const char*>(bytes.data() + at + kAttributeEntryFixed);
        if (nameLength == 0 || name[nameLength - 1] != '\0' || std::memchr(name, '\0', nameLength - 1))
            return AppleDoubleStatus::badAttributeName;
        spans.emplace_back(offset, length);
        file.attributes.push_back({std::string(name, nameLength - 1), flags, {}});
        at = padded4(at + kAttributeEntryFixed + nameLength);
    }
    const size_t entriesEnd = std::min(at, blockEnd);
    for (size_t i = 0; i < spans.size(); ++i) {
        const auto [offset, length] = spans[i];
        if (offset < entriesEnd || !fits(offset, length, blockEnd))
            return AppleDoubleStatus::attributeOutOfBounds;
    }
    std::vector<std::pair<size_t, size_t>> sorted = spans;
    std::sort(sorted.begin(), sorted.end());
    for (size_t i = 1; i < sorted.size(); ++i)
        if (sorted[i].first < sorted[i - 1].first + sorted[i - 1].second && sorted[i - 1].second && sorted[i].second)
            return AppleDoubleStatus::overlappingAttributes;
    for (size_t i = 0; i < spans.size(); ++i)
        for (size_t j = 0; j < i; ++j)
            if (file.attributes[i].name == file.attributes[j].name)
                return AppleDoubleStatus::duplicateAttribute;
    for (size_t i = 0; i < spans.size(); ++i)
        file.attributes[i].value.assign(bytes.begin() + spans[i].first, bytes.begin() + spans[i].first + spans[i].second);
    return AppleDoubleStatus::ok;
}

}  // namespace

const char* appleDoubleStatusText(AppleDoubleStatus status)
{
    switch (status) {
    case AppleDoubleStatus::ok: return "ok";
    case AppleDoubleStatus::truncatedHeader: return "shorter than an AppleDouble header";
    case AppleDoubleStatus::badMagic: return "not an AppleDouble file";
    case AppleDoubleStatus::badVersion: return "an AppleDouble version other than 2";
    case AppleDoubleStatus::truncatedEntryTable: return "entry table past the end of the file";
    case AppleDoubleStatus::entryOutOfBounds: return "an entry past the end of the file";
    case AppleDoubleStatus::duplicateEntry: return "an entry given twice";
    case AppleDoubleStatus::truncatedAttributes: return "attribute entries past the end of their block";
    case AppleDoubleStatus::attributeOutOfBounds: return "an attribute value outside its block";
    case AppleDoubleStatus::overlappingAttributes: return "attribute values that overlap";
    case AppleDoubleStatus::duplicateAttribute: return "an attribute given twice";
    case AppleDoubleStatus::badAttributeName: return "an attribute name that is not NUL-terminated";
    case AppleDoubleStatus::tooLarge: return "too large for an AppleDouble file";
    case AppleDoubleStatus::unreadable: return "unreadable";
    }
    return "unknown";
}

const AppleDoubleAttribute* AppleDouble::attribute(std::string_view name) const
{
    for (const AppleDoubleAttribute& a : attributes)
        if (a.name == name)
            return &a;
    return nullptr;
}

AppleDoubleParse parseAppleDouble(std::span<const uint8_t> bytes)
{
    AppleDoubleParse result;
    AppleDouble& file = result.file;
    auto fail = [&](AppleDoubleStatus status) {
        result.status = status;
        result.file = AppleDouble{};
        return result;
    };
    if (bytes.size() > kAppleDoubleMaxFileSize)
        return fail(AppleDoubleStatus::tooLarge);
    if (bytes.size() < kHeaderSize)
        return fail(AppleDoubleStatus::truncatedHeader);
    if (be32(bytes, 0) != kAppleDoubleMagic)
        return fail(AppleDoubleStatus::badMagic);
    file.version = be32(bytes, 4);
    if (file.version != kAppleDoubleVersion)
        return fail(AppleDoubleStatus::badVersion);
    std::memcpy(file.filler, bytes.data() + 8, sizeof file.filler);
    const uint16_t count = be16(bytes, 24);
    if (!fits(kHeaderSize, size_t(count) * kEntrySize, bytes.size()))
        return fail(AppleDoubleStatus::truncatedEntryTable);
    for (uint16_t i = 0; i < count; ++i) {
        const size_t at = kHeaderSize + size_t(i) * kEntrySize;
        AppleDoubleEntry entry{be32(bytes, at), be32(bytes, at + 4), be32(bytes, at + 8)};
        if (!fits(entry.offset, entry.length, bytes.size()))
            return fail(AppleDoubleStatus::entryOutOfBounds);
        for (const AppleDoubleEntry& seen : file.entries)
            if (seen.id == entry.id)
                return fail(AppleDoubleStatus::duplicateEntry);
        file.entries.push_back(entry);
    }
    for (const AppleDoubleEntry& entry : file.entries) {
        if (entry.id != kAppleDoubleFinderInfoID)
            continue;
        const size_t infoLength = std::min<size_t>(entry.length, kAppleDoubleFinderInfoSize);
        file.finderInfo.assign(bytes.begin() + entry.offset, bytes.begin() + entry.offset + infoLength);
        const AppleDoubleStatus status =
            parseAttributes(bytes, entry.offset, size_t(entry.offset) + entry.length, file);
        if (status != AppleDoubleStatus::ok)
            return fail(status);
    }
    return result;
}

std::vector<uint8_t> writeAppleDouble(const AppleDouble& file, std::span<const uint8_t> original)
{
    std::vector<uint8_t> out;
    put32(out, kAppleDoubleMagic);
    put32(out, file.version);
    out.insert(out.end(), std::begin(file.filler), std::end(file.filler));
    put16(out, uint16_t(file.entries.size()));
    const size_t table = out.size();
    out.resize(out.size() + file.entries.size() * kEntrySize);

    for (size_t i = 0; i < file.entries.size(); ++i) {
        const AppleDoubleEntry& entry = file.entries[i];
        const size_t start = out.size();
        if (entry.id == kAppleDoubleFinderInfoID) {
            std::vector<uint8_t> info = file.finderInfo;
            info.resize(kAppleDoubleFinderInfoSize);
            out.insert(out.end(), info.begin(), info.end());
            if (file.hasAttributeBlock) {
                out.resize(out.size() + kAttributesPad);
                const size_t header = out.size();
                put32(out, kAppleDoubleAttributesMagic);
                put32(out, file.attributesDebugTag);
                put32(out, 0);  // total size, below
                put32(out, 0);  // data start
                put32(out, 0);  // data length
                out.insert(out.end(), std::begin(file.attributesReserved), std::end(file.attributesReserved));
                put16(out, file.attributesFlags);
                put16(out, uint16_t(file.attributes.size()));
                std::vector<size_t> offsetFields;
                for (const AppleDoubleAttribute& a : file.attributes) {
                    offsetFields.push_back(out.size());
                    put32(out, 0);
                    put32(out, uint32_t(a.value.size()));
                    put16(out, a.flags);
                    out.push_back(uint8_t(a.name.size() + 1));
                    out.insert(out.end(), a.name.begin(), a.name.end());
                    out.push_back(0);
                    out.resize(padded4(out.size()));
                }
                const size_t dataStart = out.size();
                for (size_t k = 0; k < file.attributes.size(); ++k) {
                    set32(out, offsetFields[k], uint32_t(out.size()));
                    out.insert(out.end(), file.attributes[k].value.begin(), file.attributes[k].value.end());
                }
                set32(out, header + 8, uint32_t(out.size()));
                set32(out, header + 12, uint32_t(dataStart));
                set32(out, header + 16, uint32_t(out.size() - dataStart));
            } else if (entry.length > kAppleDoubleFinderInfoSize && fits(entry.offset, entry.length, original.size())) {
                // Whatever followed plain Finder info stays.
                out.insert(out.end(), original.begin() + entry.offset + kAppleDoubleFinderInfoSize,
                           original.begin() + entry.offset + entry.length);
            }
        } else if (fits(entry.offset, entry.length, original.size())) {
            out.insert(out.end(), original.begin() + entry.offset, original.begin() + entry.offset + entry.length);
        }
        const size_t at = table + i * kEntrySize;
        set32(out, at, entry.id);
        set32(out, at + 4, uint32_t(start));
        set32(out, at + 8, uint32_t(out.size() - start));
    }
    return out;
}

bool appleDoubleIsEmpty(const AppleDouble& file, std::span<const uint8_t> original)
{
    if (!file.attributes.empty())
        return false;
    if (std::any_of(file.finderInfo.begin(), file.finderInfo.end(), [](uint8_t b) { return b != 0; }))
        return false;
    for (const AppleDoubleEntry& entry : file.entries) {
        if (entry.id == kAppleDoubleFinderInfoID || entry.length == 0)
            continue;
        // A Mac writes a resource fork without resources as a header and an
        // empty map; its data length (the header's third word) is 0.
        const bool emptyFork = entry.id == kAppleDoubleResourceForkID && entry.length >= 16 &&
                               fits(entry.offset, entry.length, original.size()) &&
                               be32(original, entry.offset + 8) == 0;
        if (!emptyFork)
            return false;
    }
    return true;
}

AppleDoubleParse readAppleDoubleFile(const std::string& path, std::vector<uint8_t>* bytes)
{
    AppleDoubleParse result;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        result.status = AppleDoubleStatus::unreadable;
        return result;
    }
    struct stat st {};
    std::vector<uint8_t> data;
    bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    if (ok && static_cast<uint64_t>(st.st_size) > kAppleDoubleMaxFileSize) {
        ::close(fd);
        result.status = AppleDoubleStatus::tooLarge;
        return result;
    }
    if (ok) {
        // Read to the end, whatever size stat gave: the file may have grown.
        data.resize(static_cast<size_t>(st.st_size));
        size_t got = 0;
        for (;;) {
            if (got == data.size()) {
                if (data.size() > kAppleDoubleMaxFileSize)
                    break;
                data.resize(data.size() + 4096);
            }
            const ssize_t n = ::read(fd, data.data() + got, data.size() - got);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0) {
                ok = false;
                break;
            }
            if (n == 0)
                break;
            got += static_cast<size_t>(n);
        }
        data.resize(got);
    }
    ::close(fd);
    if (!ok) {
        result.status = AppleDoubleStatus::unreadable;
        return result;
    }
    result = parseAppleDouble(data);
    if (bytes)
        *bytes = std::move(data);
    return result;
}

namespace {

bool isRegularFile(const std::string& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool isDirectory(const std::string& path)
{
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

AppleDoubleCompanions appleDoubleCompanions(const std::string& path)
{
    AppleDoubleCompanions companions;
    std::string trimmed = path;
    while (trimmed.size() > 1 && trimmed.back() == '/')
        trimmed.pop_back();
    const size_t slash = trimmed.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : (slash == 0 ? "/" : trimmed.substr(0, slash));
    const std::string name = slash == std::string::npos ? trimmed : trimmed.substr(slash + 1);
    if (name.empty() || name == "." || name == ".." || name.starts_with("._"))
        return companions;
    const std::string joiner = folder == "/" ? "" : "/";

    if (std::string beside = folder + joiner + "._" + name; isRegularFile(beside))
        companions.beside = beside;

    // Up from the file's folder: the first folder holding __MACOSX is where
    // the archive was unpacked; the file's folders below it are repeated
    // inside __MACOSX.
    std::string root = folder;
    std::string below;
    for (int depth = 0; depth < 64; ++depth) {
        const std::string macosx = root + (root == "/" ? "" : "/") + "__MACOSX";
        if (isDirectory(macosx)) {
            const std::string candidate = macosx + "/" + below + "._" + name;
            if (isRegularFile(candidate))
                companions.zipped = candidate;
            break;
        }
        const size_t up = root.rfind('/');
        if (up == std::string::npos || root == "/")
            break;
        const std::string component = root.substr(up + 1);
        if (component == "__MACOSX" || component == "." || component == "..")
            break;
        below = component + "/" + below;
        root = up == 0 ? "/" : root.substr(0, up);
    }
    return companions;
}

namespace {

// The extended attributes of `from` set on `to` as they are; failures are
// not fatal (the copy is a courtesy to whatever else was kept there).
void copyAttributes(int from, int to)
{
    std::vector<char> names(4096);
    ssize_t listed = ::flistxattr(from, names.data(), names.size());
    if (listed < 0 && errno == ERANGE) {
        const ssize_t needed = ::flistxattr(from, nullptr, 0);
        if (needed <= 0)
            return;
        names.resize(static_cast<size_t>(needed));
        listed = ::flistxattr(from, names.data(), names.size());
    }
    if (listed <= 0)
        return;
    std::vector<char> value;
    for (size_t at = 0; at < size_t(listed);) {
        const char* name = names.data() + at;
        const size_t length = strnlen(name, size_t(listed) - at);
        at += length + 1;
        const ssize_t size = ::fgetxattr(from, name, nullptr, 0);
        if (size < 0)
            continue;
        value.resize(static_cast<size_t>(size));
        const ssize_t got = ::fgetxattr(from, name, value.data(), value.size());
        if (got >= 0)
            ::fsetxattr(to, name, value.data(), static_cast<size_t>(got), 0);
    }
}

bool writeAll(int fd, const std::vector<uint8_t>& bytes)
{
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

AppleDoubleRemoval removeAppleDoubleAttribute(const std::string& path, std::string_view name)
{
    std::vector<uint8_t> bytes;
    AppleDoubleParse parsed;
    try {
        parsed = readAppleDoubleFile(path, &bytes);
    } catch (const std::bad_alloc&) {
        errno = ENOMEM;
        return AppleDoubleRemoval::failed;
    }
    if (parsed.status != AppleDoubleStatus::ok || !parsed.file.attribute(name))
        return AppleDoubleRemoval::absent;
    AppleDouble& file = parsed.file;
    std::erase_if(file.attributes, [&](const AppleDoubleAttribute& a) { return a.name == name; });
    if (appleDoubleIsEmpty(file, bytes))
        return ::unlink(path.c_str()) == 0 ? AppleDoubleRemoval::deleted : AppleDoubleRemoval::failed;

    const std::vector<uint8_t> rewritten = writeAppleDouble(file, bytes);
    const size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    std::string temp = (slash == std::string::npos ? std::string() : folder) + ".sentrel-XXXXXX";
    std::vector<char> pattern(temp.begin(), temp.end());
    pattern.push_back('\0');
    const int out = ::mkostemp(pattern.data(), O_CLOEXEC);
    if (out < 0)
        return AppleDoubleRemoval::failed;
    temp.assign(pattern.data());
    struct stat st {};
    const int in = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (in >= 0) {
        if (::fstat(in, &st) == 0)
            ::fchmod(out, st.st_mode & 07777);
        copyAttributes(in, out);
        ::close(in);
    }
    const bool written = writeAll(out, rewritten) && ::fsync(out) == 0;
    const int savedErrno = errno;
    ::close(out);
    if (!written || ::rename(temp.c_str(), path.c_str()) != 0) {
        const int error = written ? errno : savedErrno;
        ::unlink(temp.c_str());
        errno = error;
        return AppleDoubleRemoval::failed;
    }
    return AppleDoubleRemoval::rewritten;
}

}  // namespace sentrel::sys
