// Launch Services item attributes: the quarantine properties of a file.
//
// kLSItemQuarantineProperties answers a dictionary built from what the file
// really carries, read with a final symbolic link followed:
//
//   the quarantine record "com.apple.quarantine" ("flags;time;agent;event")
//     LSQuarantineTimeStamp        CFDate   field 1, hexadecimal seconds since
//                                           1970 (left out without hex digits)
//     LSQuarantineAgentName        CFString field 2, when not empty
//     LSQuarantineEventIdentifier  CFString field 3, when not empty
//   the download addresses, from the Linux attributes "xdg.origin.url" (the
//   address the data came from) and "xdg.referrer.url" (the page that led
//   there), which browsers and downloaders write, or else from the array in
//   "com.apple.metadata:kMDItemWhereFroms" (a property list: the data's
//   address first, the page's second)
//     LSQuarantineDataURL          CFURL
//     LSQuarantineOriginURL        CFURL
//   the arrival kind, from the data address
//     LSQuarantineType             kLSQuarantineTypeWebDownload for http and
//                                  https, kLSQuarantineTypeOtherDownload for
//                                  any other scheme; left out without one
//
// A file without a quarantine record has no quarantine properties:
// kLSAttributeNotFoundErr. LSQuarantineAgentBundleIdentifier never appears:
// nothing on this system records which application bundle wrote a record.
#pragma once

#include "CoreServices/Files.h"

typedef OptionBits LSRolesMask;
enum : LSRolesMask {
    kLSRolesNone = 0x00000001,
    kLSRolesViewer = 0x00000002,
    kLSRolesEditor = 0x00000004,
    kLSRolesShell = 0x00000008,
    kLSRolesAll = 0xFFFFFFFF,
};

enum : OSStatus {
    kLSAttributeNotFoundErr = -10662,
    kLSAttributeNotSettableErr = -10663,
    kLSUnknownErr = -10810,
};

// Item attribute names.
#define kLSItemQuarantineProperties CFSTR("LSItemQuarantineProperties")

// Keys of the quarantine-properties dictionary.
#define kLSQuarantineAgentNameKey CFSTR("LSQuarantineAgentName")
#define kLSQuarantineAgentBundleIdentifierKey CFSTR("LSQuarantineAgentBundleIdentifier")
#define kLSQuarantineTimeStampKey CFSTR("LSQuarantineTimeStamp")
#define kLSQuarantineTypeKey CFSTR("LSQuarantineType")
#define kLSQuarantineOriginURLKey CFSTR("LSQuarantineOriginURL")
#define kLSQuarantineDataURLKey CFSTR("LSQuarantineDataURL")

// Values of kLSQuarantineTypeKey.
#define kLSQuarantineTypeWebDownload CFSTR("LSQuarantineTypeWebDownload")
#define kLSQuarantineTypeOtherDownload CFSTR("LSQuarantineTypeOtherDownload")
#define kLSQuarantineTypeEmailAttachment CFSTR("LSQuarantineTypeEmailAttachment")
#define kLSQuarantineTypeInstantMessageAttachment CFSTR("LSQuarantineTypeInstantMessageAttachment")
#define kLSQuarantineTypeCalendarEventAttachment CFSTR("LSQuarantineTypeCalendarEventAttachment")
#define kLSQuarantineTypeOtherAttachment CFSTR("LSQuarantineTypeOtherAttachment")

// The attribute's value, owned by the caller, in *outValue (NULL on failure).
// paramErr for a missing argument, fnfErr for a stale reference,
// kLSAttributeNotFoundErr for an attribute the item does not have or a name
// not served here. The roles are accepted and not consulted.
OSStatus LSCopyItemAttribute(const FSRef* inItem, LSRolesMask inRoles, CFStringRef inAttributeName, CFTypeRef* outValue);
