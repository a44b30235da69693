#include "Output.h"

#include "AppKit/NSImage.h"

#include "CoreFoundation/StringEncodings.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <array>
#include <cmath>
#include <ctime>
#include <map>

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

// Untrusted bytes in a form safe to show. Each byte that is not part of valid
// UTF-8 (a file name's own bytes, say) becomes \xNN. For a terminal, so does
// every C0 control but the line feed, and DEL; a C1 control becomes \u0080 to
// \u009F. Nothing else changes.
std::string shown(std::string_view bytes, bool terminal)
{
    static constexpr char hex[] = "0123456789ABCDEF";
    // Most text is printable ASCII, which stays as it is.
    if (std::all_of(bytes.begin(), bytes.end(), [terminal](char c) {
            return c > 0 && c < 0x7F && (!terminal || c >= 0x20 || c == '\n');
        }))
        return std::string(bytes);
    std::string out;
    out.reserve(bytes.size());
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
    return out;
}

std::string forJson(std::string_view bytes) { return shown(bytes, false); }
std::string forTerminal(std::string_view bytes) { return shown(bytes, true); }

// ---------------------------------------------------------------- JSON
//
// The report's JSON is written as text directly, exactly as nlohmann's
// compact dump of the same tree would write it (no ASCII escaping, invalid
// UTF-8 replaced): an object's members in the byte order of their keys, a
// key given twice keeping its last value. Building the tree first cost as
// much as the rest of a report.

// A quoted JSON string. Plain ASCII is escaped here; other text (valid UTF-8
// after forJson) is left to nlohmann's serializer.
std::string jsonString(std::string_view text)
{
    // What each byte asks for: 0 nothing, 1 an escape, 2 the JSON library
    // (UTF-8, which it checks, replacing invalid bytes).
    static constexpr std::array<uint8_t, 256> kind = [] {
        std::array<uint8_t, 256> table{};
        for (int c = 0; c < 0x20; ++c)
            table[c] = 1;
        table['"'] = table['\\'] = 1;
        for (int c = 0x80; c < 0x100; ++c)
            table[c] = 2;
        return table;
    }();
    static constexpr char hex[] = "0123456789abcdef";
    std::string out;
    out.reserve(text.size() + 2);
    out += '"';
    size_t plain = 0;   // start of the run not yet written
    for (size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (kind[c] == 0)
            continue;
        if (kind[c] == 2)
            return nlohmann::json(std::string(text)).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
        out.append(text, plain, i - plain);
        plain = i + 1;
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\b': out += "\\b"; break;
        case '\f': out += "\\f"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            out += "\\u00";
            out += hex[(c >> 4) & 15];
            out += hex[c & 15];
        }
    }
    out.append(text, plain, std::string_view::npos);
    out += '"';
    return out;
}

std::string jsonNumber(double value) { return nlohmann::json(value).dump(); }

// An object under construction: member name -> the member's JSON text.
class JsonObject {
public:
    std::string& operator[](const std::string& key) { return m_members[key]; }

    std::string text() const
    {
        std::string out = "{";
        for (const auto& [key, value] : m_members) {
            if (out.size() > 1)
                out += ',';
            out += jsonString(key);
            out += ':';
            out += value;
        }
        out += '}';
        return out;
    }

private:
    std::map<std::string, std::string> m_members;
};

std::string jsonValue(const NSObject* value)
{
    if (!value)
        return "null";
    if (isA(value, NSBooleanNumber::class_()))
        return static_cast<const NSNumber*>(value)->boolValue() ? "true" : "false";
    if (isA(value, NSNumber::class_())) {
        auto* n = static_cast<const NSNumber*>(value);
        if (n->isFloatType())
            return jsonNumber(n->doubleValue());
        if (n->compare(NSNumber::numberWithLongLong(0)) == NSOrderedDescending && n->longLongValue() < 0)
            return std::to_string(n->unsignedLongLongValue());
        return std::to_string(n->longLongValue());
    }
    if (isA(value, NSString::class_()))
        return jsonString(forJson(static_cast<const NSString*>(value)->utf8()));
    if (isA(value, NSDate::class_()))
        return jsonString(isoDate(static_cast<const NSDate*>(value)));
    if (isA(value, NSData::class_()))
        return jsonString(static_cast<const NSData*>(value)->certFingerprintHexString()->utf8());
    if (isA(value, NSURL::class_()))
        return jsonString(forJson(static_cast<const NSURL*>(value)->absoluteString()->utf8()));
    if (isA(value, NSArray::class_())) {
        std::string out = "[";
        for (id item : *static_cast<const NSArray*>(value)) {
            if (out.size() > 1)
                out += ',';
            out += jsonValue(item);
        }
        out += ']';
        return out;
    }
    if (isA(value, NSDictionary::class_())) {
        auto* dict = static_cast<const NSDictionary*>(value);
        JsonObject object;
        for (NSUInteger i = 0; i < dict->count(); ++i)
            object[forJson(dict->keyAtIndex(i)->description()->utf8())] = jsonValue(dict->valueAtIndex(i));
        return object.text();
    }
    if (isA(value, NSImage::class_())) {
        NSSize size = static_cast<const NSImage*>(value)->size();
        JsonObject object;
        object["width"] = jsonNumber(size.width);
        object["height"] = jsonNumber(size.height);
        return object.text();
    }
    return jsonString(forJson(value->description()->utf8()));
}

// ---------------------------------------------------------------- text

// A value made safe for the terminal, its lines after the first under the
// indent. Line feeds at the end go; spaces stay, so that a value of a single
// space is not shown as blank.
std::string indentLines(const std::string& text, const std::string& indent)
{
    std::string_view rest(text);
    while (rest.ends_with('\n'))
        rest.remove_suffix(1);
    std::string out;
    for (char c : forTerminal(rest)) {
        out.push_back(c);
        if (c == '\n')
            out += indent;
    }
    return out;
}

std::string textValue(const NSObject* value, const std::string& indent)
{
    if (!value)
        return "(none)";
    if (isA(value, NSBooleanNumber::class_()))
        return static_cast<const NSNumber*>(value)->boolValue() ? "yes" : "no";
    if (isA(value, NSString::class_())) {
        std::string s = static_cast<const NSString*>(value)->utf8();
        return s.empty() ? "\"\"" : indentLines(s, indent);
    }
    if (isA(value, NSDate::class_()))
        return isoDate(static_cast<const NSDate*>(value));
    if (isA(value, NSData::class_())) {
        auto* data = static_cast<const NSData*>(value);
        std::string hex = data->certFingerprintHexString()->utf8();
        if (hex.size() > 64)
            hex = hex.substr(0, 64) + "...";
        return std::to_string(data->length()) + " bytes" + (hex.empty() ? "" : " " + hex);
    }
    if (isA(value, NSURL::class_()))
        return forTerminal(static_cast<const NSURL*>(value)->absoluteString()->utf8());
    if (isA(value, NSArray::class_())) {
        auto* array = static_cast<const NSArray*>(value);
        if (array->count() == 0)
            return "(empty list)";
        const bool nested = std::any_of(array->begin(), array->end(), [](const Retained<NSObject>& item) {
            return isA(item, NSArray::class_()) || isA(item, NSDictionary::class_());
        });
        std::string out;
        if (nested) {
            // One item a line, numbered, each under its own indent.
            out = std::to_string(array->count()) + " items";
            for (NSUInteger i = 0; i < array->count(); ++i)
                out += "\n" + indent + "  [" + std::to_string(i) + "] " + textValue(array->objectAtIndex(i), indent + "    ");
            return out;
        }
        for (id item : *array)
            out += (out.empty() ? "" : ", ") + textValue(item, indent);
        return out;
    }
    if (isA(value, NSDictionary::class_())) {
        auto* dict = static_cast<const NSDictionary*>(value);
        if (dict->count() == 0)
            return "(empty)";
        std::string out = std::to_string(dict->count()) + (dict->count() == 1 ? " entry" : " entries");
        for (NSUInteger i = 0; i < dict->count(); ++i)
            out += "\n" + indent + "  " + forTerminal(dict->keyAtIndex(i)->description()->utf8()) + " = " +
                   textValue(dict->valueAtIndex(i), indent + "    ");
        return out;
    }
    if (isA(value, NSImage::class_())) {
        NSSize size = static_cast<const NSImage*>(value)->size();
        return "image " + std::to_string(static_cast<int>(size.width)) + "x" + std::to_string(static_cast<int>(size.height));
    }
    return indentLines(value->description()->utf8(), indent);
}

std::string padded(const std::string& text, size_t width)
{
    return text.size() >= width ? text + " " : text + std::string(width - text.size(), ' ');
}

} // namespace

std::string jsonReport(const FileReport& report)
{
    JsonObject object;
    object["path"] = jsonString(forJson(report.path));
    for (const ReportSection& section : report.sections)
        for (const ReportField& field : section.fields)
            object[field.key] = jsonValue(field.value);
    std::string certificates = "[";
    for (const CertificateRow& row : report.certificates) {
        JsonObject certificate;
        certificate["index"] = std::to_string(row.index);
        certificate["commonName"] = jsonString(forJson(row.commonName));
        certificate["fingerprint"] = jsonString(row.fingerprint);
        certificate["appleOfficial"] = row.appleOfficial ? "true" : "false";
        if (certificates.size() > 1)
            certificates += ',';
        certificates += certificate.text();
    }
    certificates += ']';
    object["certificates"] = certificates;
    object["credentialsDescription"] =
        report.credentialsDescription.empty() ? "null" : jsonString(forJson(report.credentialsDescription));
    if (!report.slices.empty()) {
        std::string slices = "[";
        for (const SliceRow& s : report.slices) {
            JsonObject slice;
            slice["architecture"] = jsonString(forJson(s.architecture));
            slice["identifier"] = jsonString(forJson(s.identifier));
            slice["signature"] = jsonString(s.signature);
            slice["chosen"] = s.chosen ? "true" : "false";
            if (slices.size() > 1)
                slices += ',';
            slices += slice.text();
        }
        slices += ']';
        object["slices"] = slices;
    }
    return object.text();
}

std::string textReport(const FileReport& report)
{
    size_t width = 0;
    for (const ReportSection& section : report.sections)
        for (const ReportField& field : section.fields)
            width = std::max(width, field.key.size());
    width += 2;
    const std::string indent(2 + width, ' ');

    std::string out = forTerminal(report.path) + "\n";
    for (const ReportSection& section : report.sections) {
        out += section.title + "\n";
        for (const ReportField& field : section.fields)
            out += "  " + padded(field.key, width) + textValue(field.value, indent) + "\n";
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
