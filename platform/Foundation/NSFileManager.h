// The file manager: file-system facts from lstat/statx and the extended
// attributes of platform/sys.
//
// attributesOfItemAtPath: describes the item at the path itself: a final
// symbolic link is not followed. The dictionary holds, in this order:
//
//   NSFileCreationDate           NSDate    birth time (statx); left out where
//                                          the file system does not keep it
//   NSFileDeviceIdentifier       NSNumber  st_rdev; character and block
//                                          devices only
//   NSFileExtendedAttributes     NSDictionary  name -> NSData, names in their
//                                          macOS form (user.com.apple.quarantine
//                                          reads as com.apple.quarantine); only
//                                          when the item has any; a name that
//                                          is not UTF-8 is left out
//   NSFileGroupOwnerAccountID    NSNumber  st_gid
//   NSFileGroupOwnerAccountName  NSString  the group's name; left out when the
//                                          group database has none
//   NSFileHFSCreatorCode         NSNumber  a regular file's creator code, the
//                                          big-endian bytes 4-7 of its
//                                          com.apple.FinderInfo, or 0
//   NSFileHFSTypeCode            NSNumber  its type code, bytes 0-3, or 0
//   NSFileModificationDate       NSDate    st_mtim, to the nanosecond
//   NSFileOwnerAccountID         NSNumber  st_uid
//   NSFileOwnerAccountName       NSString  the user's name; left out when the
//                                          user database has none
//   NSFilePosixPermissions       NSNumber  st_mode & 07777
//   NSFileReferenceCount         NSNumber  st_nlink
//   NSFileSize                   NSNumber  st_size (unsigned 64-bit)
//   NSFileSystemFileNumber       NSNumber  st_ino
//   NSFileSystemNumber           NSNumber  st_dev
//   NSFileType                   NSString  one of the NSFileType... values
//                                          below; a FIFO is NSFileTypeUnknown
//
// On failure the result is nil and *error (when error is not null) an error in
// NSCocoaErrorDomain (NSFileReadNoSuchFileError, NSFileReadNoPermissionError,
// NSFileReadInvalidFileNameError or NSFileReadUnknownError) whose user info
// holds "NSFilePath" and, under "NSUnderlyingError", the POSIX error.
#pragma once

#include "Foundation/NSArray.h"
#include "Foundation/NSError.h"
#include "Foundation/NSValue.h"

#define NSFileType NSSTR("NSFileType")
#define NSFileSize NSSTR("NSFileSize")
#define NSFileModificationDate NSSTR("NSFileModificationDate")
#define NSFileCreationDate NSSTR("NSFileCreationDate")
#define NSFileReferenceCount NSSTR("NSFileReferenceCount")
#define NSFileDeviceIdentifier NSSTR("NSFileDeviceIdentifier")
#define NSFileOwnerAccountName NSSTR("NSFileOwnerAccountName")
#define NSFileGroupOwnerAccountName NSSTR("NSFileGroupOwnerAccountName")
#define NSFilePosixPermissions NSSTR("NSFilePosixPermissions")
#define NSFileSystemNumber NSSTR("NSFileSystemNumber")
#define NSFileSystemFileNumber NSSTR("NSFileSystemFileNumber")
#define NSFileHFSCreatorCode NSSTR("NSFileHFSCreatorCode")
#define NSFileHFSTypeCode NSSTR("NSFileHFSTypeCode")
#define NSFileOwnerAccountID NSSTR("NSFileOwnerAccountID")
#define NSFileGroupOwnerAccountID NSSTR("NSFileGroupOwnerAccountID")
#define NSFileExtendedAttributes NSSTR("NSFileExtendedAttributes")

#define NSFileTypeDirectory NSSTR("NSFileTypeDirectory")
#define NSFileTypeRegular NSSTR("NSFileTypeRegular")
#define NSFileTypeSymbolicLink NSSTR("NSFileTypeSymbolicLink")
#define NSFileTypeSocket NSSTR("NSFileTypeSocket")
#define NSFileTypeCharacterSpecial NSSTR("NSFileTypeCharacterSpecial")
#define NSFileTypeBlockSpecial NSSTR("NSFileTypeBlockSpecial")
#define NSFileTypeUnknown NSSTR("NSFileTypeUnknown")

#define NSFilePathErrorKey NSSTR("NSFilePath")
#define NSUnderlyingErrorKey NSSTR("NSUnderlyingError")

enum : NSInteger {
    NSFileReadUnknownError = 256,
    NSFileReadNoPermissionError = 257,
    NSFileReadInvalidFileNameError = 258,
    NSFileReadNoSuchFileError = 260,
};

class NSFileManager : public NSObject {
    OBJC_CLASS(NSFileManager, NSObject)
public:
    // The process-wide manager.
    static NSFileManager* defaultManager();

    NSDictionary* attributesOfItemAtPath(const NSString* path, NSError** error) const;

    // Whether an item is at the path, following a final symbolic link (a link
    // whose target is missing does not count).
    bool fileExistsAtPath(const NSString* path) const;
    bool fileExistsAtPath(const NSString* path, bool* isDirectory) const;
};
