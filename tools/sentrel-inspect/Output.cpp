#include "Output.h"

#include "AppKit/NSImage.h"

#include "CoreFoundation/StringEncodings.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <ctime>

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

nlohmann::json jsonValue(const NSObject* value)
{
    if (!value)
        return nullptr;
    if (isA(value, NSBooleanNumber::class_()))
        return static_cast<const NSNumber*>(value)->boolValue();
    if (isA(value, NSNumber::class_())) {
        auto* n = static_cast<const NSNumber*>(value);
        if (n->isFloatType())
            return n->doubleValue();
        if (n->compare(NSNumber::numberWithLongLong(0)) == NSOrderedDescending && n->longLongValue() < 0)
            return n->unsignedLongLongValue();
        return n->longLongValue();
    }
    if (isA(value, NSString::class_()))
        return forJson(static_cast<const NSString*>(value)->utf8());
    if (isA(value, NSDate::class_()))
        return isoDate(static_cast<const NSDate*>(value));
    if (isA(value, NSData::class_()))
        return static_cast<const NSData*>(value)->certFingerprintHexString()->utf8();
    if (isA(value, NSURL::class_()))
        return forJson(static_cast<const NSURL*>(value)->absoluteString()->utf8());
    if (isA(value, NSArray::class_())) {
        nlohmann::json array = nlohmann::json::array();
        for (id item : *static_cast<const NSArray*>(value))
            array.push_back(jsonValue(item));
        return array;
    }
    if (isA(value, NSDictionary::class_())) {
        auto* dict = static_cast<const NSDictionary*>(value);
        nlohmann::json object = nlohmann::json::object();
        for (NSUInteger i = 0; i < dict->count(); ++i)
            object[forJson(dict->keyAtIndex(i)->description()->utf8())] = jsonValue(dict->valueAtIndex(i));
        return object;
    }
    if (isA(value, NSImage::class_())) {
        NSSize size = static_cast<const NSImage*>(value)->size();
        return {{"width", size.width}, {"height", size.height}};
    }
    return forJson(value->description()->utf8());
}

// The compact text of a value, as value.dump(-1, ' ', false, replace) writes
// it, without going through the serializer's byte-by-byte UTF-8 check where
// a string is plain ASCII; other strings and floating-point numbers are left
// to it.
void appendJson(std::string& out, const nlohmann::json& value)
{
    static constexpr char hex[] = "0123456789abcdef";
    auto appendString = [&out](const std::string& text) {
        if (!std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; })) {
            out += nlohmann::json(text).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
            return;
        }
        out += '"';
        size_t plain = 0;   // start of the run not yet written
        for (size_t i = 0; i < text.size(); ++i) {
            const char c = text[i];
            if (c != '"' && c != '\\' && static_cast<unsigned char>(c) >= 0x20)
                continue;
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
        out.append(text, plain, std::string::npos);
        out += '"';
    };
    switch (value.type()) {
    case nlohmann::json::value_t::object: {
        out += '{';
        bool first = true;
        for (const auto& [key, item] : value.get_ref<const nlohmann::json::object_t&>()) {
            if (!first)
                out += ',';
            first = false;
            appendString(key);
            out += ':';
            appendJson(out, item);
        }
        out += '}';
        return;
    }
    case nlohmann::json::value_t::array: {
        out += '[';
        bool first = true;
        for (const auto& item : value.get_ref<const nlohmann::json::array_t&>()) {
            if (!first)
                out += ',';
            first = false;
            appendJson(out, item);
        }
        out += ']';
        return;
    }
    case nlohmann::json::value_t::string: appendString(value.get_ref<const std::string&>()); return;
    case nlohmann::json::value_t::boolean: out += value.get<bool>() ? "true" : "false"; return;
    case nlohmann::json::value_t::null: out += "null"; return;
    case nlohmann::json::value_t::number_integer: out += std::to_string(value.get<int64_t>()); return;
    case nlohmann::json::value_t::number_unsigned: out += std::to_string(value.get<uint64_t>()); return;
    default: out += value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace); return;
    }
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
    nlohmann::json object = nlohmann::json::object();
    object["path"] = forJson(report.path);
    for (const ReportSection& section : report.sections)
        for (const ReportField& field : section.fields)
            object[field.key] = jsonValue(field.value);
    nlohmann::json certificates = nlohmann::json::array();
    for (const CertificateRow& row : report.certificates)
        certificates.push_back({{"index", row.index},
                                {"commonName", forJson(row.commonName)},
                                {"fingerprint", row.fingerprint},
                                {"appleOfficial", row.appleOfficial}});
    object["certificates"] = certificates;
    object["credentialsDescription"] = report.credentialsDescription.empty() ? nlohmann::json(nullptr)
                                                                             : nlohmann::json(forJson(report.credentialsDescription));
    if (!report.slices.empty()) {
        nlohmann::json slices = nlohmann::json::array();
        for (const SliceRow& s : report.slices)
            slices.push_back({{"architecture", forJson(s.architecture)},
                              {"identifier", forJson(s.identifier)},
                              {"signature", s.signature},
                              {"chosen", s.chosen}});
        object["slices"] = slices;
    }
    // Every string went through forJson, so nothing invalid is left; replace
    // rather than refuse all the same.
    std::string out;
    out.reserve(8192);
    appendJson(out, object);
    return out;
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
