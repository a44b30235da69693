#include "Foundation/Foundation.h"

#include "CoreFoundation/StringEncodings.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <unordered_map>

// ---------------------------------------------------------------- formatting

namespace {

void appendPrintf(std::string& out, const std::string& spec, auto value)
{
    char small[128];
    int n = std::snprintf(small, sizeof small, spec.c_str(), value);
    if (n < 0)
        return;
    if (static_cast<size_t>(n) < sizeof small) {
        out.append(small, static_cast<size_t>(n));
        return;
    }
    std::string big(static_cast<size_t>(n) + 1, '\0');
    std::snprintf(big.data(), big.size(), spec.c_str(), value);
    out.append(big.data(), static_cast<size_t>(n));
}

long long asSigned(const FormatArg& arg)
{
    return std::visit(
        [](auto v) -> long long {
            using T = decltype(v);
            if constexpr (std::is_same_v<T, long long> || std::is_same_v<T, unsigned long long>)
                return static_cast<long long>(v);
            else if constexpr (std::is_same_v<T, double>) {
                // A mismatched floating-point argument converts, saturating;
                // NaN gives 0.
                if (!(v == v))
                    return 0;
                if (v >= 9223372036854775807.0)
                    return LLONG_MAX;
                if (v <= -9223372036854775808.0)
                    return LLONG_MIN;
                return static_cast<long long>(v);
            } else
                return static_cast<long long>(reinterpret_cast<uintptr_t>(v));
        },
        arg.value);
}

// The width in bits of the integer that printf reads for a length modifier.
int integerBits(std::string_view length)
{
    if (length == "hh")
        return 8;
    if (length == "h")
        return 16;
    if (length.empty())
        return 32;
    return 64;   // l, ll, L, q, j, z, t
}

// The value as printf sees it after reading an integer of that width: -1 as
// an unsigned int is 0xffffffff, 70000 as a short is 4464.
long long toSignedWidth(long long value, int bits)
{
    switch (bits) {
    case 8: return static_cast<signed char>(value);
    case 16: return static_cast<short>(value);
    case 32: return static_cast<int>(value);
    default: return value;
    }
}

unsigned long long toUnsignedWidth(long long value, int bits)
{
    switch (bits) {
    case 8: return static_cast<unsigned char>(value);
    case 16: return static_cast<unsigned short>(value);
    case 32: return static_cast<unsigned int>(value);
    default: return static_cast<unsigned long long>(value);
    }
}

double asDouble(const FormatArg& arg)
{
    if (auto* d = std::get_if<double>(&arg.value))
        return *d;
    if (auto* u = std::get_if<unsigned long long>(&arg.value))
        return static_cast<double>(*u);
    return static_cast<double>(asSigned(arg));
}

std::string describe(const FormatArg& arg)
{
    return std::visit(
        [](auto v) -> std::string {
            using T = decltype(v);
            if constexpr (std::is_same_v<T, const NSObject*>) {
                if (!v)
                    return "(null)";
                AutoreleasePoolScope pool;
                NSString* text = v->description();
                return text ? text->utf8() : std::string("(null)");
            } else if constexpr (std::is_same_v<T, const char*>) {
                return v ? v : "(null)";
            } else if constexpr (std::is_same_v<T, const void*>) {
                char buf[32];
                std::snprintf(buf, sizeof buf, "%p", v);
                return buf;
            } else if constexpr (std::is_same_v<T, double>) {
                char buf[64];
                std::snprintf(buf, sizeof buf, "%g", v);
                return buf;
            } else {
                return std::to_string(v);
            }
        },
        arg.value);
}

} // namespace

std::string formatWithArguments(std::string_view format, std::span<const FormatArg> args)
{
    std::string out;
    size_t next = 0;
    auto take = [&]() -> const FormatArg* { return next < args.size() ? &args[next++] : nullptr; };

    for (size_t i = 0; i < format.size(); ++i) {
        char c = format[i];
        if (c != '%') {
            out.push_back(c);
            continue;
        }
        if (i + 1 < format.size() && format[i + 1] == '%') {
            out.push_back('%');
            ++i;
            continue;
        }
        // %[flags][width][.precision][length]conversion
        const size_t start = i;
        std::string spec = "%";
        size_t j = i + 1;
        while (j < format.size() && std::string_view("-+ #0'").find(format[j]) != std::string_view::npos)
            spec.push_back(format[j++]);
        auto number = [&]() {
            if (j < format.size() && format[j] == '*') {
                const FormatArg* a = take();
                spec += std::to_string(a ? asSigned(*a) : 0);
                ++j;
                return;
            }
            while (j < format.size() && format[j] >= '0' && format[j] <= '9')
                spec.push_back(format[j++]);
        };
        number();
        if (j < format.size() && format[j] == '.') {
            spec.push_back(format[j++]);
            number();
        }
        const size_t lengthStart = j;
        while (j < format.size() && std::string_view("hlLqjzt").find(format[j]) != std::string_view::npos)
            ++j;
        const int bits = integerBits(format.substr(lengthStart, j - lengthStart));
        if (j >= format.size()) {
            out.append(format.substr(i));   // a lone '%' at the end stays as it is
            break;
        }
        char conv = format[j];
        i = j;
        const FormatArg* arg = nullptr;
        switch (conv) {
        case '@':
            arg = take();
            if (arg) {
                spec += 's';
                appendPrintf(out, spec, describe(*arg).c_str());
            }
            break;
        case 'd':
        case 'i':
            if ((arg = take()))
                appendPrintf(out, spec + "ll" + conv, toSignedWidth(asSigned(*arg), bits));
            break;
        case 'u':
        case 'x':
        case 'X':
        case 'o':
            if ((arg = take()))
                appendPrintf(out, spec + "ll" + conv, toUnsignedWidth(asSigned(*arg), bits));
            break;
        case 'c':
            if ((arg = take()))
                appendPrintf(out, spec + 'c', static_cast<int>(asSigned(*arg)));
            break;
        case 'f':
        case 'F':
        case 'e':
        case 'E':
        case 'g':
        case 'G':
        case 'a':
        case 'A':
            if ((arg = take()))
                appendPrintf(out, spec + conv, asDouble(*arg));
            break;
        case 's':
            if ((arg = take())) {
                const char* const* text = std::get_if<const char*>(&arg->value);
                std::string fallback;
                if (!text)
                    fallback = describe(*arg);
                appendPrintf(out, spec + 's', text ? (*text ? *text : "(null)") : fallback.c_str());
            }
            break;
        case 'p':
            if ((arg = take()))
                appendPrintf(out, spec + 'p', reinterpret_cast<const void*>(static_cast<uintptr_t>(asSigned(*arg))));
            break;
        default:
            // Unknown conversion: copied as written.
            out.append(format.substr(start, j - start + 1));
            break;
        }
    }
    return out;
}

// ---------------------------------------------------------------- encodings

static CFStringEncoding toCFEncoding(NSStringEncoding encoding)
{
    switch (encoding) {
    case NSASCIIStringEncoding: return kCFStringEncodingASCII;
    case NSNEXTSTEPStringEncoding: return kCFStringEncodingNextStepLatin;
    case NSUTF8StringEncoding: return kCFStringEncodingUTF8;
    case NSISOLatin1StringEncoding: return kCFStringEncodingISOLatin1;
    case NSNonLossyASCIIStringEncoding: return kCFStringEncodingNonLossyASCII;
    case NSUnicodeStringEncoding: return kCFStringEncodingUnicode;
    case NSWindowsCP1252StringEncoding: return kCFStringEncodingWindowsLatin1;
    case NSMacOSRomanStringEncoding: return kCFStringEncodingMacRoman;
    case NSUTF16BigEndianStringEncoding: return kCFStringEncodingUTF16BE;
    case NSUTF16LittleEndianStringEncoding: return kCFStringEncodingUTF16LE;
    default: return kCFStringEncodingInvalidId;
    }
}

// ---------------------------------------------------------------- NSString

OBJC_IMPLEMENTATION_TYPEID(NSString, NSObject, kCFTypeIDString)
{
    cls.property("length", &NSString::length);
}

NSString* NSString::string() { return static_cast<NSString*>((new NSString)->autorelease()); }

NSString* NSString::stringWithUTF8(std::string_view utf8)
{
    NSString* s = new NSString;
    if (!sentrel::encodings::decode(utf8, kCFStringEncodingUTF8, s->m_chars)) {
        s->release();
        return nil;
    }
    return static_cast<NSString*>(s->autorelease());
}

NSString* NSString::stringWithUTF8String(const char* utf8) { return utf8 ? stringWithUTF8(utf8) : nil; }

NSString* NSString::stringWithCharacters(const char16_t* characters, NSUInteger length)
{
    NSString* s = new NSString;
    if (characters)
        s->m_chars.assign(characters, length);
    return static_cast<NSString*>(s->autorelease());
}

NSString* NSString::stringWithString(const NSString* other)
{
    return other ? stringWithCharacters(other->m_chars.data(), other->m_chars.size()) : string();
}

NSString* NSString::stringWithCString(const char* bytes, NSStringEncoding encoding)
{
    return bytes ? stringWithBytes(bytes, std::char_traits<char>::length(bytes), encoding) : nil;
}

NSString* NSString::stringWithBytes(const void* bytes, NSUInteger length, NSStringEncoding encoding)
{
    NSString* s = (new NSString)->initWithBytes(bytes, length, encoding);
    return s ? static_cast<NSString*>(s->autorelease()) : nil;
}

NSString* NSString::initWithBytes(const void* bytes, NSUInteger length, NSStringEncoding encoding)
{
    std::string_view view(static_cast<const char*>(bytes), bytes ? length : 0);
    if (!sentrel::encodings::decode(view, toCFEncoding(encoding), m_chars)) {
        release();
        return nil;
    }
    return this;
}

NSString* NSString::initWithData(const NSData* data, NSStringEncoding encoding)
{
    return initWithBytes(data ? data->bytes() : nullptr, data ? data->length() : 0, encoding);
}

NSString* NSString::initWithUTF8String(const char* utf8)
{
    if (!utf8) {
        release();
        return nil;
    }
    return initWithBytes(utf8, std::char_traits<char>::length(utf8), NSUTF8StringEncoding);
}

char16_t NSString::characterAtIndex(NSUInteger index) const
{
    if (index >= m_chars.size())
        NSException::raise(NSRangeException, "-[NSString characterAtIndex:]: Range or index out of bounds");
    return m_chars[index];
}

std::string NSString::utf8() const
{
    std::string out;
    if (sentrel::encodings::encode(m_chars, kCFStringEncodingUTF8, out))
        return out;
    // Unpaired surrogates: a kept file-system byte goes back as itself, any
    // other becomes U+FFFD, so that a log line still comes.
    out.clear();
    auto put = [&](char32_t c) {
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
        } else if (c < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (c >> 6)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else if (c < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (c >> 12)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (c >> 18)));
            out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    };
    for (size_t i = 0; i < m_chars.size(); ++i) {
        const char16_t c = m_chars[i];
        const bool high = c >= 0xD800 && c <= 0xDBFF, low = c >= 0xDC00 && c <= 0xDFFF;
        if (high && i + 1 < m_chars.size() && m_chars[i + 1] >= 0xDC00 && m_chars[i + 1] <= 0xDFFF) {
            put(0x10000 + ((char32_t(c) - 0xD800) << 10) + (char32_t(m_chars[i + 1]) - 0xDC00));
            ++i;
        } else if (c >= 0xDC80 && c <= 0xDCFF) {
            out.push_back(static_cast<char>(c & 0xFF));
        } else {
            put(high || low ? 0xFFFD : c);
        }
    }
    return out;
}

NSString* NSString::stringWithFileSystemRepresentation(const char* bytes, NSUInteger length)
{
    if (!bytes)
        return nil;
    NSString* s = new NSString;
    std::string_view rest(bytes, length);
    while (!rest.empty()) {
        char32_t c = 0;
        const size_t n = sentrel::encodings::utf8Sequence(rest, c);
        if (n == 0) {
            s->m_chars.push_back(static_cast<char16_t>(0xDC00 | static_cast<unsigned char>(rest[0])));
            rest.remove_prefix(1);
            continue;
        }
        if (c >= 0x10000) {
            s->m_chars.push_back(static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10)));
            s->m_chars.push_back(static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
        } else {
            s->m_chars.push_back(static_cast<char16_t>(c));
        }
        rest.remove_prefix(n);
    }
    return static_cast<NSString*>(s->autorelease());
}

const char* NSString::fileSystemRepresentation() const
{
    std::string bytes = utf8();
    bytes.push_back('\0');
    return reinterpret_cast<const char*>(NSData::dataWithVector(std::vector<uint8_t>(bytes.begin(), bytes.end()))->bytes());
}

const char* NSString::UTF8String() const { return cStringUsingEncoding(NSUTF8StringEncoding); }

const char* NSString::cStringUsingEncoding(NSStringEncoding encoding) const
{
    std::string out;
    if (!sentrel::encodings::encode(m_chars, toCFEncoding(encoding), out))
        return nullptr;
    out.push_back('\0');
    if (encoding == NSUnicodeStringEncoding || encoding == NSUTF16BigEndianStringEncoding ||
        encoding == NSUTF16LittleEndianStringEncoding)
        out.push_back('\0');
    // The buffer lives in an autoreleased data object.
    return reinterpret_cast<const char*>(NSData::dataWithVector(std::vector<uint8_t>(out.begin(), out.end()))->bytes());
}

NSData* NSString::dataUsingEncoding(NSStringEncoding encoding, bool allowLossyConversion) const
{
    std::string out;
    if (!sentrel::encodings::encode(m_chars, toCFEncoding(encoding), out, allowLossyConversion ? '?' : 0))
        return nil;
    return NSData::dataWithBytes(out.data(), out.size());
}

NSUInteger NSString::lengthOfBytesUsingEncoding(NSStringEncoding encoding) const
{
    std::string out;
    return sentrel::encodings::encode(m_chars, toCFEncoding(encoding), out) ? out.size() : 0;
}

NSUInteger NSString::maximumLengthOfBytesUsingEncoding(NSStringEncoding encoding) const
{
    return sentrel::encodings::maximumSizeForEncoding(m_chars.size(), toCFEncoding(encoding));
}

BOOL NSString::isEqualToString(const NSString* other) const { return other && other->m_chars == m_chars; }

NSComparisonResult NSString::compare(const NSString* other) const
{
    if (!other)
        return NSOrderedDescending;
    int c = m_chars.compare(other->m_chars);
    return c < 0 ? NSOrderedAscending : c > 0 ? NSOrderedDescending : NSOrderedSame;
}

BOOL NSString::hasPrefix(const NSString* prefix) const
{
    return prefix && !prefix->m_chars.empty() && m_chars.starts_with(prefix->m_chars);
}

BOOL NSString::hasSuffix(const NSString* suffix) const
{
    return suffix && !suffix->m_chars.empty() && m_chars.ends_with(suffix->m_chars);
}

NSRange NSString::rangeOfString(const NSString* other) const
{
    if (!other || other->m_chars.empty())
        return {NSNotFound, 0};
    size_t at = m_chars.find(other->m_chars);
    return at == std::u16string::npos ? NSRange{NSNotFound, 0} : NSRange{at, other->m_chars.size()};
}

NSString* NSString::substringWithRange(NSRange range) const
{
    if (range.location > m_chars.size() || range.length > m_chars.size() - range.location)
        NSException::raise(NSRangeException, "-[NSString substringWithRange:]: Range {%lu, %lu} out of bounds; string length %lu",
                           range.location, range.length, m_chars.size());
    return stringWithCharacters(m_chars.data() + range.location, range.length);
}

NSString* NSString::stringByAppendingString(const NSString* other) const
{
    NSString* s = new NSString;
    s->m_chars = m_chars + (other ? other->m_chars : std::u16string());
    return static_cast<NSString*>(s->autorelease());
}

NSArray* NSString::componentsSeparatedByString(const NSString* separator) const
{
    NSMutableArray* parts = NSMutableArray::array();
    if (!separator || separator->m_chars.empty()) {
        parts->addObject(stringWithString(this));
        return parts;
    }
    size_t start = 0;
    for (;;) {
        size_t at = m_chars.find(separator->m_chars, start);
        size_t end = at == std::u16string::npos ? m_chars.size() : at;
        parts->addObject(stringWithCharacters(m_chars.data() + start, end - start));
        if (at == std::u16string::npos)
            break;
        start = at + separator->m_chars.size();
    }
    return parts;
}

NSString* NSString::lastPathComponent() const
{
    std::u16string path = m_chars;
    while (path.size() > 1 && path.back() == u'/')
        path.pop_back();
    if (path == u"/")
        return stringWithCharacters(path.data(), path.size());
    size_t slash = path.rfind(u'/');
    std::u16string last = slash == std::u16string::npos ? path : path.substr(slash + 1);
    return stringWithCharacters(last.data(), last.size());
}

NSString* NSString::pathExtension() const
{
    NSString* last = lastPathComponent();
    const std::u16string& name = last->m_chars;
    size_t dot = name.rfind(u'.');
    if (dot == std::u16string::npos || dot == 0 || dot + 1 == name.size())
        return string();
    return stringWithCharacters(name.data() + dot + 1, name.size() - dot - 1);
}

NSString* NSString::stringByAppendingPathComponent(const NSString* component) const
{
    std::u16string path = m_chars;
    while (path.size() > 1 && path.back() == u'/')
        path.pop_back();
    std::u16string tail = component ? component->m_chars : std::u16string();
    while (!tail.empty() && tail.front() == u'/')
        tail.erase(0, 1);
    if (!path.empty() && path.back() != u'/' && !tail.empty())
        path.push_back(u'/');
    path += tail;
    return stringWithCharacters(path.data(), path.size());
}

NSString* NSString::stringByDeletingLastPathComponent() const
{
    std::u16string path = m_chars;
    while (path.size() > 1 && path.back() == u'/')
        path.pop_back();
    size_t slash = path.rfind(u'/');
    if (slash == std::u16string::npos)
        return string();
    path.resize(slash == 0 ? 1 : slash);
    return stringWithCharacters(path.data(), path.size());
}

// Out-of-range values saturate, as on the platform.
int NSString::intValue() const { return static_cast<int>(std::clamp<long long>(longLongValue(), INT_MIN, INT_MAX)); }
long long NSString::longLongValue() const { return std::strtoll(utf8().c_str(), nullptr, 10); }
double NSString::doubleValue() const { return std::strtod(utf8().c_str(), nullptr); }

NSString* NSString::description() const { return const_cast<NSString*>(this); }

BOOL NSString::isEqual(const NSObject* other) const
{
    return other && other->isKindOfClass(NSString::class_()) && isEqualToString(static_cast<const NSString*>(other));
}

NSUInteger NSString::hash() const
{
    // Only an NSString proper stays as it was made; a mutable one is hashed
    // each time.
    if (!isMemberOfClass(NSString::class_()))
        return std::hash<std::u16string>()(m_chars);
    NSUInteger hash = m_hash.load(std::memory_order_relaxed);
    if (hash == 0) {
        hash = std::hash<std::u16string>()(m_chars);
        m_hash.store(hash, std::memory_order_relaxed);
    }
    return hash;
}

NSObject* NSString::copy() const
{
    if (isMemberOfClass(NSString::class_()))
        return retain();
    NSString* s = new NSString;
    s->m_chars = m_chars;
    return s;
}

NSObject* NSString::mutableCopy() const
{
    NSMutableString* s = new NSMutableString;
    s->m_chars = m_chars;
    return s;
}

OBJC_IMPLEMENTATION(NSMutableString, NSString) {}

NSMutableString* NSMutableString::string() { return static_cast<NSMutableString*>((new NSMutableString)->autorelease()); }

NSMutableString* NSMutableString::stringWithString(const NSString* other)
{
    NSMutableString* s = string();
    s->setString(other);
    return s;
}

void NSMutableString::appendString(const NSString* other)
{
    if (other)
        m_chars += other->m_chars;
}

void NSMutableString::appendUTF8(std::string_view utf8)
{
    std::u16string chars;
    if (sentrel::encodings::decode(utf8, kCFStringEncodingUTF8, chars))
        m_chars += chars;
}

void NSMutableString::setString(const NSString* other) { m_chars = other ? other->m_chars : std::u16string(); }

void NSMutableString::deleteCharactersInRange(NSRange range)
{
    if (range.location > m_chars.size() || range.length > m_chars.size() - range.location)
        NSException::raise(NSRangeException, "-[NSMutableString deleteCharactersInRange:]: Range out of bounds");
    m_chars.erase(range.location, range.length);
}

void NSMutableString::insertString(const NSString* other, NSUInteger index)
{
    if (index > m_chars.size())
        NSException::raise(NSRangeException, "-[NSMutableString insertString:atIndex:]: Range out of bounds");
    if (other)
        m_chars.insert(index, other->m_chars);
}

namespace {

// Looked up by the literal's text as it is, without making a string of it.
struct LiteralHash {
    using is_transparent = void;
    size_t operator()(std::string_view text) const { return std::hash<std::string_view>()(text); }
};

} // namespace

NSString* NSStringLiteral(std::string_view utf8)
{
    static std::mutex lock;
    static auto* table = new std::unordered_map<std::string, NSString*, LiteralHash, std::equal_to<>>;
    std::lock_guard guard(lock);
    auto it = table->find(utf8);
    if (it != table->end())
        return it->second;
    NSString* s = (new NSString)->initWithBytes(utf8.data(), utf8.size(), NSUTF8StringEncoding);
    if (!s)
        s = new NSString;
    s->makeImmortal();
    table->emplace(std::string(utf8), s);
    return s;
}
