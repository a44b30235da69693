#include "CoreServices/BundleFolder.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>

namespace sentrel::coreservices {

bool endsWithIgnoringCase(const std::string& text, const std::string& suffix)
{
    if (text.size() < suffix.size())
        return false;
    return std::equal(suffix.rbegin(), suffix.rend(), text.rbegin(),
                      [](char a, char b) { return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b)); });
}

std::string withoutTrailingSlashes(std::string path)
{
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path;
}

bool folderHasInformation(const std::string& folder)
{
    struct stat st;
    return stat((folder + "/Contents/Info.plist").c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool isBundleFolder(const std::string& folder)
{
    const std::string trimmed = withoutTrailingSlashes(folder);
    return endsWithIgnoringCase(trimmed, ".app") || folderHasInformation(trimmed);
}

} // namespace sentrel::coreservices
