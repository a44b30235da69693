#include "AppKit/IconTheme.h"

#include <sys/stat.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>

namespace sentrel::appkit {

namespace {

constexpr const char* kThemeName = "Adwaita";
constexpr const char* kFallbackTheme = "hicolor";
constexpr const char* kExtensions[] = {".png", ".svg", ".xpm"};

bool exists(const std::string& path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

bool isDirectory(const std::string& path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::vector<std::string> split(const std::string& text, char separator)
{
    std::vector<std::string> parts;
    std::stringstream stream(text);
    std::string part;
    while (std::getline(stream, part, separator))
        if (!part.empty())
            parts.push_back(part);
    return parts;
}

std::string trimmed(const std::string& text)
{
    const size_t first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

int toInt(const std::string& text, int fallback)
{
    char* end = nullptr;
    long value = std::strtol(text.c_str(), &end, 10);
    return end != text.c_str() && value >= 0 && value < 65536 ? static_cast<int>(value) : fallback;
}

// index.theme: sections of key=value lines.
std::map<std::string, std::map<std::string, std::string>> readIni(const std::string& path)
{
    std::map<std::string, std::map<std::string, std::string>> sections;
    std::ifstream file(path);
    std::string line, section;
    while (std::getline(file, line)) {
        line = trimmed(line);
        if (line.empty() || line[0] == '#')
            continue;
        if (line.front() == '[' && line.back() == ']') {
            section = line.substr(1, line.size() - 2);
            continue;
        }
        const size_t equals = line.find('=');
        if (equals != std::string::npos)
            sections[section][trimmed(line.substr(0, equals))] = trimmed(line.substr(equals + 1));
    }
    return sections;
}

} // namespace

struct IconTheme::Theme {
    struct Directory {
        std::string name;
        std::vector<std::string> roots;   // theme folders under the search path that hold it
        int size = 48, scale = 1, minSize = 48, maxSize = 48, threshold = 2;
        enum { Fixed, Scalable, Threshold } type = Threshold;

        int distance(int pixels) const
        {
            const int s = scale;
            switch (type) {
            case Fixed: return std::abs(size * s - pixels);
            case Scalable:
                if (pixels < minSize * s)
                    return minSize * s - pixels;
                return pixels > maxSize * s ? pixels - maxSize * s : 0;
            case Threshold:
                if (pixels < (size - threshold) * s)
                    return minSize * s - pixels;
                return pixels > (size + threshold) * s ? pixels - maxSize * s : 0;
            }
            return INT_MAX;
        }
    };
    std::string name;
    std::vector<std::string> inherits;
    std::vector<Directory> directories;
};

IconTheme& IconTheme::shared()
{
    static IconTheme* const theme = new IconTheme;
    return *theme;
}

IconTheme::IconTheme()
{
    const char* home = std::getenv("HOME");
    const char* dataHome = std::getenv("XDG_DATA_HOME");
    if (dataHome && *dataHome)
        m_searchPath.push_back(std::string(dataHome) + "/icons");
    else if (home && *home)
        m_searchPath.push_back(std::string(home) + "/.local/share/icons");
    const char* dataDirs = std::getenv("XDG_DATA_DIRS");
    for (const std::string& dir : split(dataDirs && *dataDirs ? dataDirs : "/usr/local/share:/usr/share", ':'))
        m_searchPath.push_back(dir + "/icons");
    if (std::find(m_searchPath.begin(), m_searchPath.end(), "/usr/share/icons") == m_searchPath.end())
        m_searchPath.push_back("/usr/share/icons");

    // The theme and, breadth first, what it inherits; hicolor last.
    std::vector<std::string> pending{kThemeName};
    while (!pending.empty()) {
        const std::string name = pending.front();
        pending.erase(pending.begin());
        if (name == kFallbackTheme || std::find(m_themeChain.begin(), m_themeChain.end(), name) != m_themeChain.end())
            continue;
        if (Theme* theme = readTheme(name)) {
            m_themeChain.push_back(name);
            m_themes.push_back(theme);
            pending.insert(pending.end(), theme->inherits.begin(), theme->inherits.end());
        }
    }
    if (Theme* theme = readTheme(kFallbackTheme)) {
        m_themeChain.push_back(kFallbackTheme);
        m_themes.push_back(theme);
    }
}

// The theme's description from the first index.theme on the search path, and
// every folder of it that exists under any entry of the path; null when no
// entry has the theme.
IconTheme::Theme* IconTheme::readTheme(const std::string& name) const
{
    std::map<std::string, std::map<std::string, std::string>> ini;
    for (const std::string& base : m_searchPath)
        if (exists(base + "/" + name + "/index.theme")) {
            ini = readIni(base + "/" + name + "/index.theme");
            break;
        }
    if (ini.empty())
        return nullptr;
    auto* theme = new Theme;
    theme->name = name;
    theme->inherits = split(ini["Icon Theme"]["Inherits"], ',');
    for (const std::string& dirName : split(ini["Icon Theme"]["Directories"], ',')) {
        auto& keys = ini[dirName];
        Theme::Directory dir;
        dir.name = dirName;
        dir.size = toInt(keys["Size"], 48);
        dir.scale = toInt(keys["Scale"], 1);
        dir.minSize = toInt(keys["MinSize"], dir.size);
        dir.maxSize = toInt(keys["MaxSize"], dir.size);
        dir.threshold = toInt(keys["Threshold"], 2);
        const std::string type = keys["Type"];
        dir.type = type == "Fixed" ? Theme::Directory::Fixed
            : type == "Scalable"   ? Theme::Directory::Scalable
                                   : Theme::Directory::Threshold;
        for (const std::string& base : m_searchPath)
            if (isDirectory(base + "/" + name + "/" + dirName))
                dir.roots.push_back(base + "/" + name);
        if (!dir.roots.empty())
            theme->directories.push_back(std::move(dir));
    }
    return theme;
}

std::string IconTheme::lookup(const std::string& iconName, int pixels)
{
    if (iconName.empty() || iconName.find('/') != std::string::npos)
        return {};
    static std::mutex lock;
    static std::map<std::pair<std::string, int>, std::string> found;
    std::lock_guard guard(lock);
    if (auto it = found.find({iconName, pixels}); it != found.end())
        return it->second;

    std::string best;
    for (const Theme* theme : m_themes) {
        int bestDistance = INT_MAX, bestSize = 0;
        size_t bestExtension = 0;
        for (const auto& dir : theme->directories) {
            const int distance = dir.distance(pixels);
            for (const std::string& root : dir.roots)
                for (size_t e = 0; e < std::size(kExtensions); ++e) {
                    const std::string file = root + "/" + dir.name + "/" + iconName + kExtensions[e];
                    if (!exists(file))
                        continue;
                    const int size = dir.size * dir.scale;
                    const bool better = distance < bestDistance ||
                        (distance == bestDistance && (e < bestExtension || (e == bestExtension && size > bestSize)));
                    if (better) {
                        best = file;
                        bestDistance = distance;
                        bestSize = size;
                        bestExtension = e;
                    }
                }
        }
        if (!best.empty())
            break;
    }
    if (best.empty())
        for (const char* extension : kExtensions)
            if (exists("/usr/share/pixmaps/" + iconName + extension)) {
                best = "/usr/share/pixmaps/" + iconName + extension;
                break;
            }
    found[{iconName, pixels}] = best;
    return best;
}

} // namespace sentrel::appkit
