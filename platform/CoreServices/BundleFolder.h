// Which folders are bundles, told by a name and one stat at most. Plain
// POSIX, so that a program that only walks folders can tell them without
// the rest of Core Services.
#pragma once

#include <string>

namespace sentrel::coreservices {

bool endsWithIgnoringCase(const std::string& text, const std::string& suffix);
std::string withoutTrailingSlashes(std::string path);

// For a folder (without trailing slashes): whether its Contents/Info.plist
// is a regular file.
bool folderHasInformation(const std::string& folder);

// For a path already known to be a folder: a name ending in ".app" (no stat
// at all), or a Contents/Info.plist. An application bundle without the
// ".app" name declares APPL in its Info.plist, so it has one and is a bundle
// anyway.
bool isBundleFolder(const std::string& folder);

} // namespace sentrel::coreservices
