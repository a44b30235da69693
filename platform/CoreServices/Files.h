// File-system references (FSRef) and their conversions to paths and URLs.
//
// An FSRef names an existing file-system object. Here its 80 opaque bytes
// hold a tag, an index into this process's table of canonical paths (a path
// without symbolic links, as realpath gives it) and the object's device and
// inode numbers and birth time (the birth time tells a reused inode number
// apart, unless the new object was born within the same tick of the file
// system's clock). Making a path from a reference checks that the path still leads to
// that same object; when the object was moved, replaced or removed,
// the reference is stale and the answer is fnfErr. References stay valid for
// the life of the process and are meaningless in any other.
//
// Making a reference follows a final symbolic link: the reference names the
// link's target, as FSPathMakeRef does.
#pragma once

#include "CoreFoundation/CoreFoundation.h"
#include "CoreServices/MacErrors.h"
#include "CoreServices/MacTypes.h"

struct FSRef {
    UInt8 hidden[80];
};

// noErr, or fnfErr when nothing is at the path, paramErr for a null path or
// reference. isDirectory may be null.
OSStatus FSPathMakeRef(const UInt8* path, FSRef* ref, Boolean* isDirectory);
// The canonical path, NUL-terminated; pathTooLongErr when it does not fit in
// maxPathSize bytes, fnfErr for a stale reference, paramErr for one that was
// never made (all zeros, say).
OSStatus FSRefMakePath(const FSRef* ref, UInt8* path, UInt32 maxPathSize);

// False when the URL is not a file URL or nothing is at its path.
Boolean CFURLGetFSRef(CFURLRef url, FSRef* fsRef);
// A file URL the caller owns, or NULL for a stale or unmade reference.
CFURLRef CFURLCreateFromFSRef(CFAllocatorRef allocator, const FSRef* fsRef);
