// The entries a command line names: files and bundles as given, and, for a
// folder that is not a bundle, what it holds.
#pragma once

#include <functional>
#include <string>

struct WalkOptions {
    bool recursive = false;     // descend into sub-folders, and into bundles for nested bundles
    bool followLinks = false;   // follow symbolic links met inside a folder
};

struct WalkEntry {
    enum class Kind {
        File,       // a regular file: inspected
        Bundle,     // a bundle folder: inspected as one entry
        Skipped,    // a FIFO, socket or device: never opened; `message` says which
        Error,      // could not be looked at; `message` says why
    };
    Kind kind = Kind::File;
    std::string path;
    std::string message;
};

// Calls `visit` with each entry under `argument`, in walk order: the argument
// itself when it is a file or a bundle; otherwise the folder's entries in
// byte order of their names, a sub-folder's entries right after it when
// recursive. A bundle is one entry: what it holds is never listed, except,
// when recursive, the bundles nested in it (after the bundle itself). Symbolic
// links met in a folder are left alone unless followLinks; a folder reached
// twice (a link loop) is walked once. An AppleDouble companion "._name" is
// left out when "name" is beside it.
void walkArgument(const std::string& argument, const WalkOptions& options, const std::function<void(WalkEntry)>& visit);
