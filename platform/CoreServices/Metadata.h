// Metadata items: a snapshot of what is known about a file, taken when the
// item is made. There is no index behind it; the attributes come from the
// file itself:
//
//   from lstat (the path's own entry: a final symbolic link is not followed)
//     kMDItemPath, kMDItemFSName, kMDItemDisplayName       CFString
//     kMDItemFSSize, kMDItemLogicalSize                    CFNumber, not for folders
//     kMDItemPhysicalSize                                  CFNumber, allocated bytes
//     kMDItemFSNodeCount                                   CFNumber, folders: entries
//     kMDItemFSCreationDate, kMDItemContentCreationDate    CFDate, where the file
//                                                          system keeps a birth time
//     kMDItemFSContentChangeDate, kMDItemContentModificationDate  CFDate
//     kMDItemFSOwnerUserID, kMDItemFSOwnerGroupID          CFNumber
//     kMDItemFSInvisible                                   CFBoolean, a name with a
//                                                          leading "."
//   from the content type (Qt's MIME database, plus Mach-O and bundles)
//     kMDItemContentType                                   CFString, a type identifier
//     kMDItemKind                                          CFString, a description
//   from a bundle's information dictionary
//     kMDItemCFBundleIdentifier                            CFString
//   from every extended attribute "com.apple.metadata:<name>"
//     <name>                                               its value as a property
//                                                          list (binary or XML), or
//                                                          the raw bytes when it is
//                                                          not one
//
// Attribute names come in that order; kMDItemDisplayName hides an application
// bundle's ".app".
#pragma once

#include "CoreFoundation/CoreFoundation.h"

// The item object. Use it through the functions below.
class MDItem : public NSObject {
    OBJC_CLASS(MDItem, NSObject)
public:
    NSDictionary* attributes() const { return m_attributes; }

private:
    Retained<NSDictionary> m_attributes;
    friend MDItem* MDItemSnapshot(NSDictionary* attributes);
};
typedef const MDItem* MDItemRef;

CFTypeID MDItemGetTypeID();
// An item for a file URL whose path exists, owned by the caller; NULL
// otherwise.
MDItemRef MDItemCreateWithURL(CFAllocatorRef allocator, CFURLRef url);
MDItemRef MDItemCreate(CFAllocatorRef allocator, CFStringRef path);
// The item's attribute names, owned by the caller; NULL for a NULL item.
CFArrayRef MDItemCopyAttributeNames(MDItemRef item);
// One attribute's value, owned by the caller; NULL when the item lacks it.
CFTypeRef MDItemCopyAttribute(MDItemRef item, CFStringRef name);

#define kMDItemPath CFSTR("kMDItemPath")
#define kMDItemFSName CFSTR("kMDItemFSName")
#define kMDItemDisplayName CFSTR("kMDItemDisplayName")
#define kMDItemFSSize CFSTR("kMDItemFSSize")
#define kMDItemLogicalSize CFSTR("kMDItemLogicalSize")
#define kMDItemPhysicalSize CFSTR("kMDItemPhysicalSize")
#define kMDItemFSNodeCount CFSTR("kMDItemFSNodeCount")
#define kMDItemFSCreationDate CFSTR("kMDItemFSCreationDate")
#define kMDItemContentCreationDate CFSTR("kMDItemContentCreationDate")
#define kMDItemFSContentChangeDate CFSTR("kMDItemFSContentChangeDate")
#define kMDItemContentModificationDate CFSTR("kMDItemContentModificationDate")
#define kMDItemFSOwnerUserID CFSTR("kMDItemFSOwnerUserID")
#define kMDItemFSOwnerGroupID CFSTR("kMDItemFSOwnerGroupID")
#define kMDItemFSInvisible CFSTR("kMDItemFSInvisible")
#define kMDItemContentType CFSTR("kMDItemContentType")
#define kMDItemKind CFSTR("kMDItemKind")
#define kMDItemCFBundleIdentifier CFSTR("kMDItemCFBundleIdentifier")
#define kMDItemWhereFroms CFSTR("kMDItemWhereFroms")
