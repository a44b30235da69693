#include "codesign/Bundle.h"

#include "plist/PropertyListBytes.h"
#include <sys/stat.h>

#include <cstdlib>
#include <memory>
#include <vector>

#include "codesign/Source.h"

namespace codesign {

namespace {

bool isRegularFile(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

struct Layout {
    const char* infoPlist;       // relative to the bundle folder
    const char* executableDir;   // relative to the bundle folder, "" for the folder itself
    const char* resourceRoot;    // relative to the bundle folder
};

constexpr Layout kLayouts[] = {
    {"Contents/Info.plist", "Contents/MacOS/", "Contents/"},
    {"Versions/Current/Resources/Info.plist", "Versions/Current/", "Versions/Current/"},
    {"Resources/Info.plist", "", ""},
    {"Info.plist", "", ""},
};

Expected<std::string> executableName(const std::string& plistPath) {
    auto source = FileSource::open(plistPath);
    if (!source) return Error{errSecCSInfoPlistFailed, source.error().message};
    const std::uint64_t size = (*source)->size();
    if (size == 0) return Error{errSecCSInfoPlistFailed, plistPath + " is empty"};
    if (size > kMaxInfoPlistSize) return Error{errSecCSInfoPlistFailed, plistPath + " is too large"};
    auto bytes = (*source)->read(0, size);
    if (!bytes) return Error{errSecCSInfoPlistFailed, bytes.error().message};

    const plistbytes::Parsed parsed = plistbytes::parsePropertyList(bytes->data(), bytes->size());
    plist_t root = parsed.root.get();
    if (!root) return Error{errSecCSInfoPlistFailed, plistPath + " is not a property list"};
    if (plist_get_node_type(root) != PLIST_DICT) {
        return Error{errSecCSInfoPlistFailed, plistPath + " is not a dictionary"};
    }
    plist_t node = plist_dict_get_item(root, "CFBundleExecutable");
    if (!node) return Error{errSecCSNoMainExecutable, plistPath + " has no CFBundleExecutable"};
    if (plist_get_node_type(node) != PLIST_STRING) {
        return Error{errSecCSNoMainExecutable, plistPath + " CFBundleExecutable is not a string"};
    }
    const std::string name(plistbytes::stringOf(node));
    if (name.find('\0') != std::string::npos)
        return Error{errSecCSNoMainExecutable, plistPath + " CFBundleExecutable holds a NUL character"};
    if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos) {
        return Error{errSecCSNoMainExecutable,
                     plistPath + " CFBundleExecutable \"" + name + "\" is not a plain file name"};
    }
    return name;
}

}  // namespace

Expected<std::string> bundleMainExecutable(const std::string& dir) {
    auto layout = bundleLayout(dir);
    if (!layout) return layout.error();
    return layout->executable;
}

Expected<BundleLayout> bundleLayout(const std::string& dir) {
    const std::string base = (!dir.empty() && dir.back() == '/') ? dir : dir + "/";
    for (const Layout& layout : kLayouts) {
        const std::string plistPath = base + layout.infoPlist;
        if (!isRegularFile(plistPath)) continue;
        auto name = executableName(plistPath);
        if (!name) return name.error();
        const std::string executable = base + layout.executableDir + *name;
        if (!isRegularFile(executable)) {
            return Error{errSecCSNoMainExecutable,
                         "the bundle's main executable " + std::string(layout.executableDir) + *name +
                             " is missing or not a regular file"};
        }
        return BundleLayout{base, plistPath, executable, base + layout.resourceRoot};
    }
    return Error{errSecCSBadBundleFormat, dir + " is a folder but not a bundle (no Info.plist)"};
}

}  // namespace codesign
