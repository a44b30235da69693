// The desktop icon theme, read the way the freedesktop.org icon-theme rules
// describe, without Qt's platform theme (which needs a QGuiApplication and a
// desktop session): themes are folders named after the theme under the icon
// search path ($XDG_DATA_HOME/icons, then each $XDG_DATA_DIRS entry's icons,
// by default /usr/local/share/icons and /usr/share/icons), each with an
// index.theme listing its size folders. The theme is Adwaita, then the themes
// it inherits from, then hicolor; /usr/share/pixmaps comes last.
#pragma once

#include <string>
#include <vector>

namespace sentrel::appkit {

class IconTheme {
public:
    // The process-wide theme.
    static IconTheme& shared();

    // The file of the named icon closest to `pixels` in size, PNG before SVG
    // before XPM on a tie; empty when no theme has the icon.
    std::string lookup(const std::string& iconName, int pixels);

    const std::vector<std::string>& searchPath() const { return m_searchPath; }
    const std::vector<std::string>& themeChain() const { return m_themeChain; }

private:
    IconTheme();
    struct Theme;
    Theme* readTheme(const std::string& name) const;
    std::vector<std::string> m_searchPath;
    std::vector<std::string> m_themeChain;
    std::vector<Theme*> m_themes;   // parsed once, kept for the life of the process
};

} // namespace sentrel::appkit
