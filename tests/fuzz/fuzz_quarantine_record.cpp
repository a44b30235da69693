// libFuzzer target: the quarantine record as the quarantine controller and
// Launch Services read it, from memory. The controller reads attributes and
// AppleDouble companions through its own overridable readers; here they
// answer from the input instead of the file system (whose side is tested in
// tests/inspect), so that each input costs parsing only.
//
// The first byte says where the rest goes:
//   bit 0 clear  an attribute of the file: bit 1 clear, its own
//                com.apple.quarantine; set, the Samba stream attribute
//   bit 0 set    an AppleDouble file (read for the record and its
//                kMDItemWhereFroms): bit 1 clear, "._download.zip" beside the
//                file; set, the one under an unpacked archive's __MACOSX
//   bit 2 set    also the browser's xdg.origin.url attribute, the rest's
//                text, and kMDItemWhereFroms, the rest's bytes
#include "CoreServices/QuarantineProperties.h"
#include "UFileQuarantineController.h"
#include "sys/AppleDouble.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace {

constexpr const char* kFile = "/sentrel-fuzz/download.zip";
constexpr const char* kBeside = "/sentrel-fuzz/._download.zip";
constexpr const char* kZipped = "/__MACOSX/sentrel-fuzz/._download.zip";

class RecordInMemory : public UFileQuarantineController {
    OBJC_CLASS(RecordInMemory, UFileQuarantineController)
public:
    std::map<std::string, std::vector<uint8_t>> attributes;
    std::vector<std::pair<std::string, const char*>> companions;
    std::vector<uint8_t> companionBytes;

    NSString* filePath() const override { return NSSTR(kFile); }
    const char* filePathName() const override { return kFile; }
    ssize_t sizeofExtendedAttributeForKeyName(const NSString* name) const override
    {
        const auto found = name ? attributes.find(name->utf8()) : attributes.end();
        return found == attributes.end() ? -1 : static_cast<ssize_t>(found->second.size());
    }
    bool hasExtendedAttributeForKeyName(const NSString* name) const override
    {
        return sizeofExtendedAttributeForKeyName(name) > 0;
    }
    NSData* extendedAttributeForKeyName(const NSString* name) const override
    {
        const auto found = name ? attributes.find(name->utf8()) : attributes.end();
        if (found == attributes.end() || found->second.empty())
            return nil;
        return NSData::dataWithBytes(found->second.data(), found->second.size());
    }
    std::vector<std::pair<std::string, const char*>> appleDoubleCompanionPaths(const char*) const override
    {
        return companions;
    }
    sentrel::sys::AppleDoubleParse readAppleDoubleCompanion(const std::string&) const override
    {
        return sentrel::sys::parseAppleDouble(companionBytes);
    }
};
OBJC_IMPLEMENTATION(RecordInMemory, UFileQuarantineController) {}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0 || size > 60000)
        return 0;
    AutoreleasePoolScope pool;
    auto controller =
        Retained<RecordInMemory>::adopt(static_cast<RecordInMemory*>(RecordInMemory::alloc()->init()));
    const uint8_t where = data[0];
    const std::vector<uint8_t> rest(data + 1, data + size);
    if (where & 1) {
        controller->companions.emplace_back(where & 2 ? kZipped : kBeside,
                                            where & 2 ? "AppleDouble in __MACOSX" : "AppleDouble");
        controller->companionBytes = rest;
    } else {
        controller->attributes[where & 2 ? "user.DosStream.com.apple.quarantine:$DATA" : "com.apple.quarantine"] = rest;
    }
    if (where & 4) {
        controller->attributes["xdg.origin.url"] = rest;
        controller->attributes["com.apple.metadata:kMDItemWhereFroms"] = rest;
    }
    (void)controller->quarantined();
    (void)controller->quarantineAttributes();
    (void)controller->quarantineTypeDescription();
    (void)controller->quarantineDate();
    (void)controller->quarantineAgentDescription();
    (void)controller->quarantineRecordSources();
    (void)controller->quarantinedAnywhere();
    (void)controller->quarantineFoundRecord();
    (void)controller->quarantineWhereFrom();
    // What quarantineProperties asks Launch Services for, from the same
    // attributes.
    const auto& attributes = controller->attributes;
    (void)LSQuarantinePropertiesFromAttributes([&](const char* name) -> std::optional<std::vector<uint8_t>> {
        const auto found = attributes.find(name);
        if (found == attributes.end() || found->second.empty())
            return std::nullopt;
        return found->second;
    });
    return 0;
}
