// Bundles: a folder whose Info.plist names the main executable.
#pragma once

#include <cstdint>
#include <string>

#include "codesign/Expected.h"

namespace codesign {

// An Info.plist larger than this is refused unread.
inline constexpr std::uint64_t kMaxInfoPlistSize = 8u << 20;

// The main executable of the bundle folder at `dir`:
//   dir/Contents/Info.plist              -> dir/Contents/MacOS/<CFBundleExecutable>  (.app and most bundles)
//   dir/Versions/Current/Resources/Info.plist -> dir/Versions/Current/<CFBundleExecutable>  (.framework)
//   dir/Resources/Info.plist             -> dir/<CFBundleExecutable>  (.framework through its top-level links)
//   dir/Info.plist                       -> dir/<CFBundleExecutable>  (shallow bundles)
// The Info.plist may be XML or binary. CFBundleExecutable must be a plain file
// name, and the executable a regular file.
Expected<std::string> bundleMainExecutable(const std::string& dir);

// Where the parts of a bundle are, for verifying its seal.
struct BundleLayout {
    std::string folder;        // the bundle folder, ending in '/'
    std::string infoPlist;     // full path
    std::string executable;    // full path
    std::string resourceRoot;  // the folder its resource seal's paths start from, ending in '/'
};

// The same search as bundleMainExecutable, with the other places named.
Expected<BundleLayout> bundleLayout(const std::string& dir);

}  // namespace codesign
