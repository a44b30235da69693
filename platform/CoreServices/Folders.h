// FSFindFolder over the folders a Linux desktop and this program's own
// installation have. Domains and folder types keep the platform's values.
//
//   domain          folder type              folder
//   kUserDomain     kLogsFolderType          $XDG_STATE_HOME/log  ($XDG_STATE_HOME defaults to ~/.local/state)
//   kSystemDomain   kFrameworksFolderType    <prefix>/lib/sentrel/Frameworks
//   kLocalDomain    kFrameworksFolderType    /usr/local/lib/sentrel/Frameworks
//   kUserDomain     kFrameworksFolderType    $XDG_DATA_HOME/sentrel/Frameworks  ($XDG_DATA_HOME defaults to ~/.local/share)
//
// <prefix> is the folder above the one that holds the running executable
// (/proc/self/exe): programs live in <prefix>/bin, in the build tree and in
// an installed tree alike, so the system frameworks are found next to them.
// XDG variables that are unset, empty or relative fall back to their
// defaults, as the XDG base directory rules ask; ~ is $HOME, or the home
// folder of the user's password entry when HOME is unset.
//
// Any other pair has no folder here (there are no QuickTime components on
// this platform, for instance) and answers fnfErr. A folder that does not
// exist answers fnfErr too, unless kCreateFolder asks for it to be made
// (with its missing parents, mode 0700 in the user domain, 0755 elsewhere).
#pragma once

#include "CoreServices/Files.h"

#include <string>

enum : SInt16 {
    kOnSystemDisk = -32768,
    kOnAppropriateDisk = -32767,
    kSystemDomain = -32766,
    kLocalDomain = -32765,
    kNetworkDomain = -32764,
    kUserDomain = -32763,
};

enum : OSType {
    kLogsFolderType = 0x6C6F6773,                // 'logs'
    kFrameworksFolderType = 0x6672616D,          // 'fram'
    kQuickTimeComponentsFolderType = 0x77636D70, // 'wcmp'
};

enum : Boolean { kDontCreateFolder = 0, kCreateFolder = 1 };

OSErr FSFindFolder(SInt16 vRefNum, OSType folderType, Boolean createFolder, FSRef* foundRef);

namespace sentrel::folders {
// The path FSFindFolder maps a pair to, whether or not it exists; empty when
// the pair has no folder here.
std::string pathFor(SInt16 domain, OSType folderType);
// <prefix>: the parent of the folder holding the running executable.
std::string installationPrefix();
} // namespace sentrel::folders
