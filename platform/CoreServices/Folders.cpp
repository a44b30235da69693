#include "CoreServices/Folders.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace sentrel::folders {

namespace {

std::string homeFolder()
{
    if (const char* home = std::getenv("HOME"); home && *home)
        return home;
    long size = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 ? static_cast<size_t>(size) : 16384);
    struct passwd entry;
    struct passwd* found = nullptr;
    if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found && found->pw_dir)
        return found->pw_dir;
    return {};
}

// An XDG base folder: the variable when it holds an absolute path, else the
// default under the home folder.
std::string xdgFolder(const char* variable, const char* defaultUnderHome)
{
    if (const char* value = std::getenv(variable); value && value[0] == '/')
        return value;
    std::string home = homeFolder();
    return home.empty() ? std::string() : home + "/" + defaultUnderHome;
}

std::string parentOf(const std::string& path)
{
    size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return {};
    return slash == 0 ? "/" : path.substr(0, slash);
}

bool makeFolders(const std::string& path, mode_t mode)
{
    struct stat st;
    if (stat(path.c_str(), &st) == 0)
        return S_ISDIR(st.st_mode);
    std::string parent = parentOf(path);
    if (!parent.empty() && parent != path && !makeFolders(parent, mode))
        return false;
    return mkdir(path.c_str(), mode) == 0 || errno == EEXIST;
}

} // namespace

std::string installationPrefix()
{
    char buffer[PATH_MAX];
    ssize_t length = readlink("/proc/self/exe", buffer, sizeof(buffer) - 1);
    if (length <= 0)
        return {};
    buffer[length] = '\0';
    return parentOf(parentOf(buffer));
}

std::string pathFor(SInt16 domain, OSType folderType)
{
    switch (folderType) {
    case kLogsFolderType:
        if (domain == kUserDomain) {
            std::string state = xdgFolder("XDG_STATE_HOME", ".local/state");
            return state.empty() ? state : state + "/log";
        }
        return {};
    case kFrameworksFolderType:
        if (domain == kSystemDomain) {
            std::string prefix = installationPrefix();
            return prefix.empty() ? prefix : (prefix == "/" ? "" : prefix) + "/lib/sentrel/Frameworks";
        }
        if (domain == kLocalDomain)
            return "/usr/local/lib/sentrel/Frameworks";
        if (domain == kUserDomain) {
            std::string data = xdgFolder("XDG_DATA_HOME", ".local/share");
            return data.empty() ? data : data + "/sentrel/Frameworks";
        }
        return {};
    default:
        return {};
    }
}

} // namespace sentrel::folders

OSErr FSFindFolder(SInt16 vRefNum, OSType folderType, Boolean createFolder, FSRef* foundRef)
{
    if (!foundRef)
        return paramErr;
    std::string path = sentrel::folders::pathFor(vRefNum, folderType);
    if (path.empty())
        return fnfErr;
    if (createFolder && !sentrel::folders::makeFolders(path, vRefNum == kUserDomain ? 0700 : 0755))
        return errno == EACCES || errno == EPERM || errno == EROFS ? static_cast<OSErr>(permErr) : static_cast<OSErr>(dirNFErr);
    Boolean isDirectory = false;
    OSStatus status = FSPathMakeRef(reinterpret_cast<const UInt8*>(path.c_str()), foundRef, &isDirectory);
    if (status != noErr)
        return static_cast<OSErr>(status);
    return isDirectory ? static_cast<OSErr>(noErr) : static_cast<OSErr>(errFSNotAFolder);
}
