// FSGetCatalogInfo: what the File Manager knows about the object a reference
// names, from stat(2) (statx where the creation date is asked for).
#pragma once

#include "CoreServices/Files.h"

// A file system name: up to 255 UTF-16 units, no terminator.
struct HFSUniStr255 {
    UInt16 length;
    UniChar unicode[255];
};
typedef const HFSUniStr255* ConstHFSUniStr255Param;

// Seconds since 1904-01-01 00:00 UTC: 48 bits of seconds, 16 of fraction.
struct UTCDateTime {
    UInt16 highSeconds;
    UInt32 lowSeconds;
    UInt16 fraction;
};

typedef UInt32 FSCatalogInfoBitmap;
enum : FSCatalogInfoBitmap {
    kFSCatInfoNone = 0,
    kFSCatInfoNodeFlags = 0x00000002,
    kFSCatInfoCreateDate = 0x00000020,
    kFSCatInfoContentMod = 0x00000040,
    kFSCatInfoDataSizes = 0x00004000,
};
enum : UInt16 { kFSNodeIsDirectoryMask = 0x0010 };

// The fields FSGetCatalogInfo fills; those not asked for are left untouched.
// The creation date is the birth time where the file system records one,
// otherwise the last status change.
struct FSCatalogInfo {
    UInt16 nodeFlags;
    UTCDateTime createDate;
    UTCDateTime contentModDate;
    uint64_t dataLogicalSize;
    uint64_t dataPhysicalSize;
};

struct FSSpec;

// noErr, or the reference's own error (paramErr for one never made, fnfErr
// for a stale one). fsSpec and parentRef are not supported and must be null
// (paramErr otherwise); outName, when given, receives the last path name.
OSErr FSGetCatalogInfo(const FSRef* ref, FSCatalogInfoBitmap whichInfo, FSCatalogInfo* catalogInfo,
                       HFSUniStr255* outName, FSSpec* fsSpec, FSRef* parentRef);
