// AppleDouble files built byte by byte the way a Mac lays them out: header,
// two entries (Finder info with the ATTR block at 0x32, then the resource
// fork), the attributes' values after their entries. Each field can be
// overwritten afterwards to make a file that lies.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

struct AppleDoubleBuilder {
    std::vector<std::pair<std::string, std::string>> attributes;
    std::string finderInfo = std::string(32, '\0');
    // The empty fork a Mac writes: a 256-byte header whose data length is 0,
    // and a 30-byte map.
    std::string resourceFork = emptyResourceFork();
    // Zero bytes after the last value, as a Mac pads its files to 4 KiB.
    size_t padding = 0;

    static std::string emptyResourceFork()
    {
        std::string fork(286, '\0');
        fork[2] = 1;        // data at 0x100
        fork[6] = 1;        // map at 0x100
        fork[15] = 0x1e;    // map length; data length stays 0
        return fork;
    }

    // Offsets of the fields tests like to falsify.
    static constexpr size_t kEntryCount = 24;
    static constexpr size_t kFinderEntryLength = 26 + 8;
    static constexpr size_t kForkEntryOffset = 26 + 12 + 4;
    static constexpr size_t kAttrHeader = 0x54;
    static constexpr size_t kAttrCount = kAttrHeader + 34;
    static constexpr size_t kFirstAttrEntry = kAttrHeader + 36;

    std::string build() const
    {
        std::string out;
        put32(out, 0x00051607);
        put32(out, 0x00020000);
        out += "Mac OS X        ";
        put16(out, 2);
        put32(out, 9), put32(out, 0x32), put32(out, 0);  // length below
        put32(out, 2), put32(out, 0), put32(out, 0);     // offset and length below
        out += finderInfo;
        out += std::string(2, '\0');
        const size_t header = out.size();
        out += "ATTR";
        put32(out, 0), put32(out, 0), put32(out, 0), put32(out, 0);  // tag, total, data start, length
        out += std::string(12, '\0');
        put16(out, 0);
        put16(out, static_cast<uint16_t>(attributes.size()));
        std::vector<size_t> offsetFields;
        for (const auto& [name, value] : attributes) {
            offsetFields.push_back(out.size());
            put32(out, 0);
            put32(out, static_cast<uint32_t>(value.size()));
            put16(out, 0);
            out += static_cast<char>(name.size() + 1);
            out += name;
            out += '\0';
            while (out.size() % 4)
                out += '\0';
        }
        const size_t dataStart = out.size();
        for (size_t i = 0; i < attributes.size(); ++i) {
            set32(out, offsetFields[i], static_cast<uint32_t>(out.size()));
            out += attributes[i].second;
        }
        out += std::string(padding, '\0');
        set32(out, header + 8, static_cast<uint32_t>(out.size()));
        set32(out, header + 12, static_cast<uint32_t>(dataStart));
        set32(out, header + 16, static_cast<uint32_t>(out.size() - dataStart));
        set32(out, kFinderEntryLength, static_cast<uint32_t>(out.size() - 0x32));
        set32(out, kForkEntryOffset, static_cast<uint32_t>(out.size()));
        set32(out, kForkEntryOffset + 4, static_cast<uint32_t>(resourceFork.size()));
        out += resourceFork;
        return out;
    }

    static void put32(std::string& out, uint32_t v)
    {
        for (int shift = 24; shift >= 0; shift -= 8)
            out += static_cast<char>(v >> shift);
    }
    static void put16(std::string& out, uint16_t v)
    {
        out += static_cast<char>(v >> 8);
        out += static_cast<char>(v);
    }
    static void set32(std::string& out, size_t at, uint32_t v)
    {
        for (int i = 0; i < 4; ++i)
            out[at + i] = static_cast<char>(v >> (24 - 8 * i));
    }
    static void set16(std::string& out, size_t at, uint16_t v)
    {
        out[at] = static_cast<char>(v >> 8);
        out[at + 1] = static_cast<char>(v);
    }
};

// kMDItemWhereFroms as a Mac writes it: a binary property list holding an
// array of two ASCII strings.
inline std::string whereFromsPlist(const std::string& data, const std::string& page)
{
    // Objects: 0 the array, 1 and 2 the strings; one-byte offsets and refs.
    std::string out = "bplist00";
    std::vector<size_t> offsets;
    offsets.push_back(out.size());
    out += '\xA2';
    out += '\x01';
    out += '\x02';
    for (const std::string* s : {&data, &page}) {
        offsets.push_back(out.size());
        if (s->size() < 15) {
            out += static_cast<char>(0x50 | s->size());
        } else {
            out += '\x5F';
            out += '\x10';
            out += static_cast<char>(s->size());
        }
        out += *s;
    }
    const size_t table = out.size();
    for (size_t offset : offsets)
        out += static_cast<char>(offset);
    out += std::string(6, '\0');
    out += '\x01';  // offset size
    out += '\x01';  // ref size
    std::string trailer;
    AppleDoubleBuilder::put32(trailer, 0), AppleDoubleBuilder::put32(trailer, 3);  // object count
    AppleDoubleBuilder::put32(trailer, 0), AppleDoubleBuilder::put32(trailer, 0);  // top object
    AppleDoubleBuilder::put32(trailer, 0), AppleDoubleBuilder::put32(trailer, static_cast<uint32_t>(table));
    return out + trailer;
}
