// Extended attributes with the macOS interface, on Linux extended attributes.
//
// This header sits where the system looks for <sys/xattr.h>, so it first pulls
// in the C library's own header of that name (#include_next): every file that
// includes either sees both sets of declarations. They coexist as C++
// overloads because every pair differs in its number of parameters:
//
//   macOS (ours, C++ linkage)                 glibc (C linkage)
//   listxattr(path, buf, size, options)       listxattr(path, buf, size)
//   getxattr(path, name, value, size, pos, o) getxattr(path, name, value, size)
//   setxattr(path, name, value, size, pos, o) setxattr(path, name, value, size, flags)
//   removexattr(path, name, options)          removexattr(path, name)
//
// The XATTR_* option macros below carry the macOS values and replace glibc's
// (where XATTR_CREATE is 1 and XATTR_REPLACE 2). Pass them only to the macOS
// forms.
//
// Names: a macOS name outside the Linux namespaces ("user.", "trusted.",
// "security.", "system.") is kept in the user namespace: com.apple.quarantine
// is user.com.apple.quarantine on disk, as Samba and netatalk store it. Names
// that already carry a Linux namespace are used as they are. listxattr gives
// user-namespace names back without "user." unless what remains would itself
// look namespaced (user.system.x stays user.system.x), so that every listed
// name leads back to the attribute it came from.
//
// Options: 0 follows a final symbolic link, XATTR_NOFOLLOW acts on the link
// itself (Linux keeps user.* attributes off symbolic links: setting one there
// fails with EPERM, reading finds nothing). `position` must be 0; resource
// forks, the only attribute where macOS gives it a meaning, cannot be read or
// written piecewise here (ENOTSUP). Errors are reported through errno as Linux
// sets them; ENOATTR is ENODATA.
#pragma once

#include_next <sys/xattr.h>
#ifndef _SYS_XATTR_H
#error "the C library's <sys/xattr.h> was not found behind this header; include it as \"sys/xattr.h\" through the platform include directory"
#endif

#include <errno.h>
#include <stddef.h>
#include <stdint.h>
#include <sys/types.h>

namespace sentrel::sys::detail {
// glibc's values, taken before the macOS ones replace the macros.
inline constexpr int linuxXattrCreate = XATTR_CREATE;
inline constexpr int linuxXattrReplace = XATTR_REPLACE;
}  // namespace sentrel::sys::detail

#undef XATTR_CREATE
#undef XATTR_REPLACE

#define XATTR_NOFOLLOW 0x0001
#define XATTR_CREATE 0x0002
#define XATTR_REPLACE 0x0004
// The longest name Linux stores, its namespace included (macOS allows 127
// bytes). A macOS name that gets "user." in front may be 250 bytes long.
#define XATTR_MAXNAMELEN 255
#define XATTR_RESOURCEFORK_NAME "com.apple.ResourceFork"

#ifndef ENOATTR
#define ENOATTR ENODATA
#endif

// The names, NUL-terminated one after another. With namebuf null: the size
// the list needs. A list longer than `size` fails with ERANGE and writes
// nothing.
ssize_t listxattr(const char* path, char* namebuf, size_t size, int options);

// The value's size in bytes; with value null, only the size.
ssize_t getxattr(const char* path, const char* name, void* value, size_t size, uint32_t position, int options);

// XATTR_CREATE fails if the attribute exists, XATTR_REPLACE if it does not.
int setxattr(const char* path, const char* name, const void* value, size_t size, uint32_t position, int options);

int removexattr(const char* path, const char* name, int options);
