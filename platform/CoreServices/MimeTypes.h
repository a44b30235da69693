// The shared MIME database's answer for a file, by name and content. The
// database is Qt's, in the MimeTypes plug-in (platform/PlugIns), which is
// loaded the first time a file needs it: Mach-O files and application
// bundles are typed without it.
#pragma once

#include <string>

namespace sentrel::coreservices {

struct MimeTypeFacts {
    std::string name;              // "text/plain"; empty when the database could not be asked
    std::string comment;           // "plain text document"
    std::string iconName;          // "text-plain"
    std::string genericIconName;   // "text-x-generic"
};

MimeTypeFacts mimeTypeOfFile(const std::string& path);

// The plug-in's entry point, by this name: fills `facts` for the file at the
// path (its bytes); false when it could not.
using MimeTypeOfFileEntry = bool (*)(const char* path, MimeTypeFacts* facts);
inline constexpr const char* kMimeTypesPlugIn = "MimeTypes";
inline constexpr const char* kMimeTypeOfFileEntry = "sentrel_mime_type_of_file";

} // namespace sentrel::coreservices
