#include "Walk.h"

#include "CoreServices/BundleFolder.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <set>
#include <utility>
#include <vector>

namespace {

using FolderId = std::pair<dev_t, ino_t>;

const char* specialKind(mode_t mode)
{
    if (S_ISFIFO(mode))
        return "a FIFO";
    if (S_ISSOCK(mode))
        return "a socket";
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return "a device";
    return "not a regular file or folder";
}

std::string joined(const std::string& folder, const std::string& name)
{
    return folder.ends_with('/') ? folder + name : folder + "/" + name;
}

class Walker {
public:
    Walker(const WalkOptions& options, const std::function<void(WalkEntry)>& visit) : m_options(options), m_visit(visit) {}

    // An entry found at `path`; `st` is what stat (or lstat for a link not
    // followed) says of it.
    void entry(const std::string& path, const struct stat& st, bool named)
    {
        if (S_ISREG(st.st_mode)) {
            m_visit({WalkEntry::Kind::File, path, {}});
        } else if (S_ISDIR(st.st_mode)) {
            if (!mayWalk(st)) {
                m_visit({WalkEntry::Kind::Skipped, path, "a folder already walked (a symbolic link loop?), not walked again"});
                return;
            }
            if (sentrel::coreservices::isBundleFolder(path)) {
                m_visit({WalkEntry::Kind::Bundle, path, {}});
                if (m_options.recursive)
                    folder(path, st, true);
            } else if (named || m_options.recursive) {
                folder(path, st, false);
            }
        } else if (!S_ISLNK(st.st_mode)) {
            m_visit({WalkEntry::Kind::Skipped, path, std::string(specialKind(st.st_mode)) + ", not opened"});
        }
    }

    // Whether the folder `st` may be walked. Following links, each folder
    // is walked once, however many paths lead to it. Without, the tree has
    // one path to each, and only a folder mounted inside itself (a bind
    // mount) could lead back into one being walked: only those are
    // remembered, so that what the walk holds does not grow with the tree.
    bool mayWalk(const struct stat& st)
    {
        const FolderId id{st.st_dev, st.st_ino};
        if (m_options.followLinks)
            return m_folders.insert(id).second;
        return std::find(m_within.begin(), m_within.end(), id) == m_within.end();
    }

    // The entries of the folder at `path`, whose stat is `self`; inside a
    // bundle only the nested bundles.
    void folder(const std::string& path, const struct stat& self, bool insideBundle)
    {
        DIR* dir = ::opendir(path.c_str());
        if (!dir) {
            m_visit({WalkEntry::Kind::Error, path, std::strerror(errno)});
            return;
        }
        m_within.push_back({self.st_dev, self.st_ino});
        std::vector<std::string> names;
        errno = 0;
        while (dirent* d = ::readdir(dir)) {
            if (std::strcmp(d->d_name, ".") != 0 && std::strcmp(d->d_name, "..") != 0)
                names.emplace_back(d->d_name);
            errno = 0;
        }
        const int readError = errno;
        ::closedir(dir);
        if (readError != 0)
            m_visit({WalkEntry::Kind::Error, path, std::strerror(readError)});
        std::sort(names.begin(), names.end());

        for (const std::string& name : names) {
            // An AppleDouble companion ("._name" beside "name") holds the
            // other file's attributes, its quarantine record among them; it
            // is reported with that file, not as an entry of its own.
            if (name.starts_with("._") && name.size() > 2 &&
                std::binary_search(names.begin(), names.end(), name.substr(2)))
                continue;
            const std::string child = joined(path, name);
            struct stat st{};
            if (::lstat(child.c_str(), &st) != 0) {
                m_visit({WalkEntry::Kind::Error, child, std::strerror(errno)});
                continue;
            }
            if (S_ISLNK(st.st_mode)) {
                if (!m_options.followLinks)
                    continue;
                if (::stat(child.c_str(), &st) != 0) {
                    m_visit({WalkEntry::Kind::Error, child, std::strerror(errno)});
                    continue;
                }
            }
            if (insideBundle) {
                // What a bundle holds belongs to it; only bundles nested in
                // it (at any depth) are entries of their own.
                if (S_ISDIR(st.st_mode)) {
                    if (!mayWalk(st))
                        continue;
                    if (sentrel::coreservices::isBundleFolder(child))
                        m_visit({WalkEntry::Kind::Bundle, child, {}});
                    folder(child, st, true);
                }
                continue;
            }
            entry(child, st, false);
        }
        m_within.pop_back();
    }

private:
    const WalkOptions& m_options;
    const std::function<void(WalkEntry)>& m_visit;
    std::set<FolderId> m_folders;    // following links: every folder walked
    std::vector<FolderId> m_within;  // the folders being walked, outermost first
};

} // namespace

void walkArgument(const std::string& argument, const WalkOptions& options, const std::function<void(WalkEntry)>& visit)
{
    // A link named on the command line is followed: the user named it.
    struct stat st{};
    if (::stat(argument.c_str(), &st) != 0) {
        visit({WalkEntry::Kind::Error, argument, std::strerror(errno)});
        return;
    }
    Walker(options, visit).entry(argument, st, true);
}
