#include "CoreServices/CatalogInfo.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>

namespace {

// Seconds from 1904-01-01 to 1970-01-01, both UTC.
constexpr int64_t kSecondsFrom1904To1970 = 2082844800;

UTCDateTime utcDateTime(const struct statx_timestamp& t)
{
    int64_t seconds = std::max<int64_t>(t.tv_sec + kSecondsFrom1904To1970, 0);
    UTCDateTime d;
    d.highSeconds = static_cast<UInt16>((seconds >> 32) & 0xFFFF);
    d.lowSeconds = static_cast<UInt32>(seconds & 0xFFFFFFFF);
    d.fraction = static_cast<UInt16>((static_cast<uint64_t>(t.tv_nsec) << 16) / 1000000000u);
    return d;
}

} // namespace

OSErr FSGetCatalogInfo(const FSRef* ref, FSCatalogInfoBitmap whichInfo, FSCatalogInfo* catalogInfo,
                       HFSUniStr255* outName, FSSpec* fsSpec, FSRef* parentRef)
{
    if (fsSpec || parentRef)
        return paramErr;
    UInt8 path[PATH_MAX];
    if (OSStatus status = FSRefMakePath(ref, path, sizeof path); status != noErr)
        return static_cast<OSErr>(status);
    const char* text = reinterpret_cast<const char*>(path);
    struct statx st;
    unsigned mask = STATX_TYPE | STATX_BTIME | STATX_CTIME | STATX_MTIME | STATX_SIZE | STATX_BLOCKS;
    if (statx(AT_FDCWD, text, 0, mask, &st) != 0)
        return fnfErr;
    if (catalogInfo) {
        if (whichInfo & kFSCatInfoNodeFlags)
            catalogInfo->nodeFlags = S_ISDIR(st.stx_mode) ? kFSNodeIsDirectoryMask : 0;
        if (whichInfo & kFSCatInfoCreateDate)
            catalogInfo->createDate = utcDateTime((st.stx_mask & STATX_BTIME) ? st.stx_btime : st.stx_ctime);
        if (whichInfo & kFSCatInfoContentMod)
            catalogInfo->contentModDate = utcDateTime(st.stx_mtime);
        if (whichInfo & kFSCatInfoDataSizes) {
            catalogInfo->dataLogicalSize = st.stx_size;
            catalogInfo->dataPhysicalSize = st.stx_blocks * 512;
        }
    }
    if (outName) {
        std::string_view full(text);
        std::string_view name = full == "/" ? full : full.substr(full.rfind('/') + 1);
        std::u16string units;
        if (!sentrel::encodings::decode(name, kCFStringEncodingUTF8, units))
            units.clear();
        outName->length = static_cast<UInt16>(std::min<size_t>(units.size(), 255));
        std::copy_n(units.data(), outName->length, outName->unicode);
    }
    return noErr;
}
