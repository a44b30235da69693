// The workspace: the desktop's view of files.
#pragma once

#include "AppKit/NSImage.h"

class NSWorkspace : public NSObject {
    OBJC_CLASS(NSWorkspace, NSObject)
public:
    static NSWorkspace* sharedWorkspace();

    // A new image of the file's icon; nil when nothing is at the path (a
    // symbolic link is followed; a dangling one gets the link icon).
    //
    // Where it comes from, in order:
    //  1. an application or other bundle: its own icon, the file that
    //     CFBundleIconFile names in Contents/Resources, with or without the
    //     ".icns" extension;
    //  2. the icon theme's icon for the item's type (platform/CoreServices'
    //     ItemKind: the MIME type's icon, then its generic icon; Mach-O files
    //     and application bundles as executables), about 256 pixels across;
    //  3. "folder" or "text-x-generic" from the theme;
    //  4. a plain sheet or folder drawn here, when no icon theme is installed.
    // Which of these it is is worked out, and the pixels made, only when the
    // image's pixels or natural size are first asked for; a size set before
    // then costs nothing more.
    NSImage* iconForFile(const NSString* fullPath) const;

    // The program that stands for the application `appName` ("Terminal.app")
    // on this desktop; nil when there is none. Terminal is the desktop's
    // terminal emulator: $TERMINAL, xdg-terminal-exec, x-terminal-emulator,
    // then the common ones; any other name is looked up on the PATH without
    // its ".app".
    NSString* fullPathForApplication(const NSString* appName) const;
    // Starts that program on its own (not a child the caller waits for).
    // `showIcon` and `autolaunch` have no meaning here. NO when it could not
    // be started.
    BOOL launchApplication(const NSString* appName, BOOL showIcon, BOOL autolaunch) const;
};
