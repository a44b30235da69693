#include "Output.h"

#include "AppKit/NSImage.h"

#include "CoreFoundation/StringEncodings.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <array>
#include <cmath>
#include <ctime>
#include <vector>

namespace {

std::string isoDate(const NSDate* date)
{
    double seconds = std::floor(date->timeIntervalSince1970());
    if (!std::isfinite(seconds) || std::fabs(seconds) > 6.7e16)
        return "";
    time_t t = static_cast<time_t>(seconds);
    tm parts{};
    gmtime_r(&t, &parts);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts);
    return text;
}

bool isA(const NSObject* o, Class cls) { return o && o->isKindOfClass(cls); }

// Whether `bytes` shows as it is: printable ASCII (and, but for a
// terminal, the C0 controls but NUL). No early exit, so that the compiler
// checks many bytes at a time: most text is short and plain.
bool isPlain(std::string_view bytes, bool terminal)
{
    bool special = false;
    for (const char ch : bytes) {
        const auto c = static_cast<unsigned char>(ch);
        special |= (c == 0) | (c >= 0x7F) | (terminal & (c < 0x20) & (c != '\n'));
    }
    return !special;
}

// Untrusted bytes in a form safe to show, appended to `out`. Each byte that
// is not part of valid UTF-8 (a file name's own bytes, say) becomes \xNN.
// For a terminal, so does every C0 control but the line feed, and DEL; a C1
// control becomes \u0080 to \u009F. Nothing else changes.
void appendShown(std::string& out, std::string_view bytes, bool terminal)
{
    static constexpr char hex[] = "0123456789ABCDEF";
    if (isPlain(bytes, terminal)) {
        out.append(bytes);
        return;
    }
    while (!bytes.empty()) {
        char32_t c = 0;
        const size_t n = sentrel::encodings::utf8Sequence(bytes, c);
        const bool control = terminal && ((c < 0x20 && c != '\n') || c == 0x7F);
        if (n == 0 || control) {
            const auto byte = static_cast<unsigned char>(bytes[0]);
            out += "\\x";
            out += hex[byte >> 4];
            out += hex[byte & 15];
            bytes.remove_prefix(1);
        } else if (terminal && c >= 0x80 && c <= 0x9F) {
            out += "\\u00";
            out += hex[c >> 4];
            out += hex[c & 15];
            bytes.remove_prefix(n);
        } else {
            out.append(bytes.substr(0, n));
            bytes.remove_prefix(n);
        }
    }
}

std::string shown(std::string_view bytes, bool terminal)
{
    std::string out;
    appendShown(out, bytes, terminal);
    return out;
}

// The first `count` bytes in upper-case hexadecimal, as a fingerprint is
// written.
void appendHex(std::string& out, const uint8_t* bytes, size_t count)
{
    static constexpr char hex[] = "0123456789ABCDEF";
    for (size_t i = 0; i < count; ++i) {
        out += hex[bytes[i] >> 4];
        out += hex[bytes[i] & 15];
    }
}

std::string forJson(std::string_view bytes) { return shown(bytes, false); }
std::string forTerminal(std::string_view bytes) { return shown(bytes, true); }

// ---------------------------------------------------------------- JSON
//
// The report's JSON is written as text straight into one buffer, exactly as
// nlohmann's compact dump of the same tree would write it (no ASCII
// escaping): an object's members in the byte order of their keys, a key
// given twice keeping its last value. Building a tree, or a string for every
// value, cost as much as the rest of a report.

// `text` as a quoted JSON string, shown as forJson shows it: each byte that
// is not part of valid UTF-8 becomes \xNN (written "\\xNN" in JSON).
void appendJsonText(std::string& out, std::string_view text)
{
    // Whether a byte is written as it is (0), escaped (1), or the start of a
    // UTF-8 sequence (2).
    static constexpr std::array<uint8_t, 256> kind = [] {
        std::array<uint8_t, 256> table{};
        for (int c = 0; c < 0x20; ++c)
            table[c] = 1;
        table['"'] = table['\\'] = 1;
        for (int c = 0x80; c < 0x100; ++c)
            table[c] = 2;
        return table;
    }();
    static constexpr char upperHex[] = "0123456789ABCDEF", lowerHex[] = "0123456789abcdef";
    out += '"';
    size_t plain = 0;   // start of the run not yet written
    size_t i = 0;
    while (i < text.size()) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (kind[c] == 0) {
            ++i;
            continue;
        }
        if (kind[c] == 2) {
            char32_t codePoint = 0;
            if (const size_t n = sentrel::encodings::utf8Sequence(text.substr(i), codePoint)) {
                i += n;
                continue;
            }
        }
        out.append(text.substr(plain, i - plain));
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\b': out += "\\b"; break;
        case '\f': out += "\\f"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (c >= 0x80) {
                out += "\\\\x";
                out += upperHex[c >> 4];
                out += upperHex[c & 15];
            } else {
                out += "\\u00";
                out += lowerHex[c >> 4];
                out += lowerHex[c & 15];
            }
        }
        plain = ++i;
    }
    out.append(text.substr(plain));
    out += '"';
}

std::string jsonText(std::string_view text)
{
    std::string out;
    appendJsonText(out, text);
    return out;
}

std::string jsonNumber(double value) { return nlohmann::json(value).dump(); }

void appendJsonValue(std::string& out, const NSObject* value);

// A member of an object: its value written as JSON, or text already written.
struct JsonMember {
    std::string key;                  // as forJson shows it
    const NSObject* value = nullptr;
    std::string text;                 // when not empty, written as it is
};

void appendJsonObject(std::string& out, const std::vector<JsonMember>& members)
{
    // The members in the byte order of their keys, by index: most
    // dictionaries come in that order already.
    std::vector<uint32_t> order(members.size());
    for (uint32_t i = 0; i < order.size(); ++i)
        order[i] = i;
    const auto byKey = [&](uint32_t a, uint32_t b) { return members[a].key < members[b].key; };
    if (!std::is_sorted(order.begin(), order.end(), byKey))
        std::stable_sort(order.begin(), order.end(), byKey);
    out += '{';
    bool first = true;
    for (size_t i = 0; i < order.size(); ++i) {
        const JsonMember& member = members[order[i]];
        if (i + 1 < order.size() && members[order[i + 1]].key == member.key)
            continue;  // the later one is kept
        if (!first)
            out += ',';
        first = false;
        appendJsonText(out, member.key);
        out += ':';
        if (member.text.empty())
            appendJsonValue(out, member.value);
        else
            out += member.text;
    }
    out += '}';
}

void appendJsonValue(std::string& out, const NSObject* value)
{
    if (!value) {
        out += "null";
    } else if (isA(value, NSBooleanNumber::class_())) {
        out += static_cast<const NSNumber*>(value)->boolValue() ? "true" : "false";
    } else if (isA(value, NSNumber::class_())) {
        auto* n = static_cast<const NSNumber*>(value);
        if (n->isFloatType())
            out += jsonNumber(n->doubleValue());
        else if (n->compare(NSNumber::numberWithLongLong(0)) == NSOrderedDescending && n->longLongValue() < 0)
            out += std::to_string(n->unsignedLongLongValue());
        else
            out += std::to_string(n->longLongValue());
    } else if (isA(value, NSString::class_())) {
        appendJsonText(out, static_cast<const NSString*>(value)->utf8());
    } else if (isA(value, NSDate::class_())) {
        appendJsonText(out, isoDate(static_cast<const NSDate*>(value)));
    } else if (isA(value, NSData::class_())) {
        auto* data = static_cast<const NSData*>(value);
        out += '"';
        appendHex(out, data->bytes(), data->length());
        out += '"';
    } else if (isA(value, NSURL::class_())) {
        appendJsonText(out, static_cast<const NSURL*>(value)->absoluteString()->utf8());
    } else if (isA(value, NSArray::class_())) {
        out += '[';
        bool first = true;
        for (id item : *static_cast<const NSArray*>(value)) {
            if (!first)
                out += ',';
            first = false;
            appendJsonValue(out, item);
        }
        out += ']';
    } else if (isA(value, NSDictionary::class_())) {
        auto* dict = static_cast<const NSDictionary*>(value);
        std::vector<JsonMember> members;
        members.reserve(dict->count());
        for (NSUInteger i = 0; i < dict->count(); ++i)
            members.push_back({forJson(dict->keyAtIndex(i)->description()->utf8()), dict->valueAtIndex(i), {}});
        appendJsonObject(out, members);
    } else if (isA(value, NSImage::class_())) {
        NSSize size = static_cast<const NSImage*>(value)->size();
        out += "{\"height\":" + jsonNumber(size.height) + ",\"width\":" + jsonNumber(size.width) + "}";
    } else {
        appendJsonText(out, value->description()->utf8());
    }
}

// ---------------------------------------------------------------- text

// A value made safe for the terminal, its lines after the first under an
// indent of `indent` spaces. Line feeds at the end go; spaces stay, so that a
// value of a single space is not shown as blank.
void appendIndented(std::string& out, std::string_view text, size_t indent)
{
    while (text.ends_with('\n'))
        text.remove_suffix(1);
    std::string safe;
    if (!isPlain(text, true)) {
        appendShown(safe, text, true);
        text = safe;
    }
    for (size_t end; (end = text.find('\n')) != std::string_view::npos; text.remove_prefix(end + 1)) {
        out.append(text.substr(0, end + 1));
        out.append(indent, ' ');
    }
    out.append(text);
}

void appendTextValue(std::string& out, const NSObject* value, size_t indent)
{
    if (!value) {
        out += "(none)";
    } else if (isA(value, NSBooleanNumber::class_())) {
        out += static_cast<const NSNumber*>(value)->boolValue() ? "yes" : "no";
    } else if (isA(value, NSString::class_())) {
        const std::string text = static_cast<const NSString*>(value)->utf8();
        if (text.empty())
            out += "\"\"";
        else
            appendIndented(out, text, indent);
    } else if (isA(value, NSDate::class_())) {
        out += isoDate(static_cast<const NSDate*>(value));
    } else if (isA(value, NSData::class_())) {
        // The length, and the bytes in hexadecimal up to 64 digits.
        auto* data = static_cast<const NSData*>(value);
        out += std::to_string(data->length()) + " bytes";
        if (data->length() > 0) {
            out += ' ';
            appendHex(out, data->bytes(), std::min<size_t>(data->length(), 32));
            if (data->length() > 32)
                out += "...";
        }
    } else if (isA(value, NSURL::class_())) {
        appendShown(out, static_cast<const NSURL*>(value)->absoluteString()->utf8(), true);
    } else if (isA(value, NSArray::class_())) {
        auto* array = static_cast<const NSArray*>(value);
        if (array->count() == 0) {
            out += "(empty list)";
            return;
        }
        const bool nested = std::any_of(array->begin(), array->end(), [](const Retained<NSObject>& item) {
            return isA(item, NSArray::class_()) || isA(item, NSDictionary::class_());
        });
        if (nested) {
            // One item a line, numbered, each under its own indent.
            out += std::to_string(array->count()) + " items";
            for (NSUInteger i = 0; i < array->count(); ++i) {
                out += '\n';
                out.append(indent + 2, ' ');
                out += "[" + std::to_string(i) + "] ";
                appendTextValue(out, array->objectAtIndex(i), indent + 4);
            }
            return;
        }
        bool first = true;
        for (id item : *array) {
            if (!first)
                out += ", ";
            first = false;
            appendTextValue(out, item, indent);
        }
    } else if (isA(value, NSDictionary::class_())) {
        auto* dict = static_cast<const NSDictionary*>(value);
        if (dict->count() == 0) {
            out += "(empty)";
            return;
        }
        out += std::to_string(dict->count()) + (dict->count() == 1 ? " entry" : " entries");
        for (NSUInteger i = 0; i < dict->count(); ++i) {
            out += '\n';
            out.append(indent + 2, ' ');
            appendShown(out, dict->keyAtIndex(i)->description()->utf8(), true);
            out += " = ";
            appendTextValue(out, dict->valueAtIndex(i), indent + 4);
        }
    } else if (isA(value, NSImage::class_())) {
        NSSize size = static_cast<const NSImage*>(value)->size();
        out += "image " + std::to_string(static_cast<int>(size.width)) + "x" + std::to_string(static_cast<int>(size.height));
    } else {
        appendIndented(out, value->description()->utf8(), indent);
    }
}

std::string padded(const std::string& text, size_t width)
{
    return text.size() >= width ? text + " " : text + std::string(width - text.size(), ' ');
}

} // namespace

std::string jsonReport(const FileReport& report)
{
    std::vector<JsonMember> members;
    members.push_back({"path", nullptr, jsonText(report.path)});
    for (const ReportSection& section : report.sections)
        for (const ReportField& field : section.fields)
            members.push_back({field.key, field.value, {}});
    // The rows' members are written in the byte order of their keys.
    std::string certificates = "[";
    for (const CertificateRow& row : report.certificates) {
        if (certificates.size() > 1)
            certificates += ',';
        certificates += std::string("{\"appleOfficial\":") + (row.appleOfficial ? "true" : "false") + ",\"commonName\":";
        appendJsonText(certificates, row.commonName);
        certificates += ",\"fingerprint\":";
        appendJsonText(certificates, row.fingerprint);
        certificates += ",\"index\":" + std::to_string(row.index) + "}";
    }
    certificates += ']';
    members.push_back({"certificates", nullptr, certificates});
    members.push_back({"credentialsDescription", nullptr,
                       report.credentialsDescription.empty() ? "null" : jsonText(report.credentialsDescription)});
    if (!report.slices.empty()) {
        std::string slices = "[";
        for (const SliceRow& s : report.slices) {
            if (slices.size() > 1)
                slices += ',';
            slices += "{\"architecture\":";
            appendJsonText(slices, s.architecture);
            slices += std::string(",\"chosen\":") + (s.chosen ? "true" : "false") + ",\"identifier\":";
            appendJsonText(slices, s.identifier);
            slices += ",\"signature\":";
            appendJsonText(slices, s.signature);
            slices += '}';
        }
        slices += ']';
        members.push_back({"slices", nullptr, slices});
    }
    std::string out;
    out.reserve(8192);
    appendJsonObject(out, members);
    return out;
}

std::string textReport(const FileReport& report)
{
    size_t width = 0;
    for (const ReportSection& section : report.sections)
        for (const ReportField& field : section.fields)
            width = std::max(width, field.key.size());
    width += 2;

    std::string out;
    out.reserve(16384);
    appendShown(out, report.path, true);
    out += '\n';
    for (const ReportSection& section : report.sections) {
        out += section.title + "\n";
        for (const ReportField& field : section.fields) {
            out += "  " + padded(field.key, width);
            appendTextValue(out, field.value, 2 + width);
            out += '\n';
        }
    }
    out += "Certificates";
    if (report.certificates.empty()) {
        out += "\n  (none)\n";
    } else {
        out += " (" + forTerminal(report.credentialsDescription) + ")\n";
        size_t nameWidth = 0;
        for (const CertificateRow& row : report.certificates)
            nameWidth = std::max(nameWidth, forTerminal(row.commonName).size());
        for (const CertificateRow& row : report.certificates)
            out += "  " + std::to_string(row.index) + "  " + padded(forTerminal(row.commonName), nameWidth + 2) +
                   padded(row.appleOfficial ? "Apple" : "", 7) + row.fingerprint + "\n";
    }
    if (!report.slices.empty()) {
        out += "Slices\n";
        for (const SliceRow& s : report.slices)
            out += std::string("  ") + (s.chosen ? "* " : "  ") + padded(forTerminal(s.architecture), 8) +
                   padded(s.signature, 14) + (s.identifier.empty() ? "(none)" : forTerminal(s.identifier)) + "\n";
    }
    return out;
}
