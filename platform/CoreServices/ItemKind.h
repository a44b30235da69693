// What kind of item is at a path: its MIME type, its uniform type identifier,
// a readable description and the icon names to look for. Shared by the
// metadata items and the workspace's icons.
//
// Qt's MIME database types everything by name and content, with two gaps this
// fills: it does not know Mach-O (a universal binary even reads as a Java
// class file, both starting with 0xcafebabe), and it sees an application
// bundle as a plain folder.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace sentrel::coreservices {

enum class MachOKind { None, Thin, Universal };

// Mach-O by its first eight bytes: 0xfeedface / 0xfeedfacf and their
// byte-swapped forms are thin files; 0xcafebabe (and 0xcafebabf, and their
// byte-swapped forms) followed by an architecture count below 45 is a
// universal file. A Java class file carries its version there instead, and
// every Java version since the first is 45 or more.
MachOKind machOKind(const uint8_t* bytes, size_t length);
MachOKind machOKindOfFile(const std::string& path);

// A folder whose name ends in ".app", or whose Contents/Info.plist names the
// package type "APPL".
bool isApplicationBundle(const std::string& path);
// A folder with a Contents/Info.plist (an application bundle included).
bool isBundle(const std::string& path);

struct ItemKind {
    bool exists = false;
    bool isDirectory = false;
    bool isSymbolicLink = false;          // the path itself is a link
    bool isApplicationBundle = false;
    bool isBundle = false;
    std::string mimeType;                 // "application/x-mach-binary", "inode/directory", ...
    std::string typeIdentifier;           // "com.apple.mach-o-binary", "public.folder", ...
    std::string description;              // "Mach-O universal binary", Qt's comment otherwise
    std::vector<std::string> iconNames;   // most specific first, generic last
};

// The kind of the item at the path. A final symbolic link is followed for
// the type; a dangling link is typed as "inode/symlink".
ItemKind itemKindAtPath(const std::string& path);

} // namespace sentrel::coreservices
