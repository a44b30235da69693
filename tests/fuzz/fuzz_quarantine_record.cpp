// libFuzzer target: the quarantine record as the quarantine controller and
// Launch Services read it. The first byte says where the rest goes: even,
// the file's own com.apple.quarantine attribute; odd, a "._" companion file
// beside it (AppleDouble, read for the record and its kMDItemWhereFroms).
// The files live in a folder made once under TMPDIR (or /tmp), which must
// keep user extended attributes.
#include "UFileQuarantineController.h"
#include "sys/xattr.h"

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

struct Place {
    std::string file;
    std::string companion;
    Place()
    {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/sentrel-fuzz-XXXXXX";
        if (!mkdtemp(pattern.data()))
            std::abort();
        file = pattern + "/download.zip";
        companion = pattern + "/._download.zip";
        if (FILE* f = std::fopen(file.c_str(), "w"))
            std::fclose(f);
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static Place place;
    if (size == 0 || size > 60000)
        return 0;
    AutoreleasePoolScope pool;
    const bool companion = data[0] & 1;
    ::removexattr(place.file.c_str(), "com.apple.quarantine", 0);
    ::unlink(place.companion.c_str());
    if (companion) {
        if (FILE* f = std::fopen(place.companion.c_str(), "wb")) {
            std::fwrite(data + 1, 1, size - 1, f);
            std::fclose(f);
        }
    } else if (size > 1 && ::setxattr(place.file.c_str(), "com.apple.quarantine", data + 1, size - 1, 0, 0) != 0) {
        return 0;
    }
    auto controller = Retained<UFileQuarantineController>::adopt(UFileQuarantineController::alloc()->init());
    controller->setFileURL(NSURL::fileURLWithFileSystemRepresentation(place.file.c_str(), false));
    (void)controller->quarantineAttributes();
    (void)controller->quarantineTypeDescription();
    (void)controller->quarantineDate();
    (void)controller->quarantineAgentDescription();
    (void)controller->quarantineProperties();
    (void)controller->quarantineRecordSources();
    (void)controller->quarantineFoundRecord();
    (void)controller->quarantineWhereFrom();
    return 0;
}
