#include "CoreBaseDLL.h"

#include "CoreMachDebugLog.h"
#include "CoreStaticInitOrder.h"
#include "CoreServices/Folders.h"

T_CFBaseDLL<I_CFBundleDLL> SystemFramework::sSystem CORE_INIT_ORDER(kCoreInitRank_SystemFramework)(
    CFSTR("System.framework"));

// ---------------------------------------------------------------- CFBaseDLL

CFURLRef CFBaseDLL::URLOfNameInFindFolder(CFStringRef in_name, OSType in_folderType, short in_domain,
                                          CFStringRef in_subfolder)
{
    FSRef folderRef = {};
    if (FSFindFolder(in_domain, in_folderType, kDontCreateFolder, &folderRef) != noErr)
        return nullptr;
    CFURLRef folderURL = CFURLCreateFromFSRef(kCFAllocatorDefault, &folderRef);
    if (!folderURL)
        return nullptr;
    CFURLRef result = nullptr;
    if (in_subfolder) {
        CFURLRef subfolderURL = CFURLCreateCopyAppendingPathComponent(kCFAllocatorDefault, folderURL, in_subfolder, true);
        if (subfolderURL) {
            result = CFURLCreateCopyAppendingPathComponent(kCFAllocatorDefault, subfolderURL, in_name, false);
            CFRelease(subfolderURL);
        }
    } else {
        result = CFURLCreateCopyAppendingPathComponent(kCFAllocatorDefault, folderURL, in_name, false);
    }
    CFRelease(folderURL);
    return result;
}

CFURLRef CFBaseDLL::URLOfNameInLocation(CFStringRef in_name, Location in_location)
{
    switch (in_location) {
    case kLocation_SystemFrameworks:
        return URLOfNameInFindFolder(in_name, kFrameworksFolderType, kSystemDomain, nullptr);
    case kLocation_LocalFrameworks:
        return URLOfNameInFindFolder(in_name, kFrameworksFolderType, kLocalDomain, nullptr);
    case kLocation_LocalQuickTimeComponents:
        return URLOfNameInFindFolder(in_name, kQuickTimeComponentsFolderType, kLocalDomain, nullptr);
    case kLocation_SystemQuickTimeComponents:
        return URLOfNameInFindFolder(in_name, kQuickTimeComponentsFolderType, kSystemDomain, nullptr);
    case kLocation_UserQuickTimeComponents:
        return URLOfNameInFindFolder(in_name, kQuickTimeComponentsFolderType, kUserDomain, nullptr);
    case kLocation_ExecutableFolder:
    case kLocation_PrivateFrameworks:
    case kLocation_SharedFrameworks:
    case kLocation_Resources:
    case kLocation_BuiltInPlugIns:
    case kLocation_SupportFiles:
        break;
    default:
        return nullptr;
    }

    CFBundleRef mainBundle = CFBundleGetMainBundle();
    if (!mainBundle)
        return nullptr;
    CFURLRef folderURL = nullptr;
    switch (in_location) {
    case kLocation_ExecutableFolder:
        if (CFURLRef executableURL = CFBundleCopyExecutableURL(mainBundle)) {
            folderURL = CFURLCreateCopyDeletingLastPathComponent(kCFAllocatorDefault, executableURL);
            CFRelease(executableURL);
        }
        break;
    case kLocation_PrivateFrameworks: folderURL = CFBundleCopyPrivateFrameworksURL(mainBundle); break;
    case kLocation_SharedFrameworks: folderURL = CFBundleCopySharedFrameworksURL(mainBundle); break;
    case kLocation_Resources: folderURL = CFBundleCopyResourcesDirectoryURL(mainBundle); break;
    case kLocation_BuiltInPlugIns: folderURL = CFBundleCopyBuiltInPlugInsURL(mainBundle); break;
    case kLocation_SupportFiles: folderURL = CFBundleCopySupportFilesDirectoryURL(mainBundle); break;
    default: break;
    }
    if (!folderURL)
        return nullptr;
    CFURLRef result = CFURLCreateCopyAppendingPathComponent(kCFAllocatorDefault, folderURL, in_name, false);
    CFRelease(folderURL);
    return result;
}

const char* CFBaseDLL::PathFromURL(CFURLRef in_url, std::string& out_path)
{
    static char path_buffer[1024];
    if (CFURLGetFileSystemRepresentation(in_url, true, reinterpret_cast<UInt8*>(path_buffer), sizeof(path_buffer)))
        out_path = path_buffer;
    return out_path.c_str();
}

// ---------------------------------------------------------------- I_CFBundleDLL

bool I_CFBundleDLL::LoadFromURL(CFURLRef in_url)
{
    if (!in_url)
        return false;
    CFBundleRef bundle = CFBundleCreate(kCFAllocatorDefault, in_url);
    if (!bundle)
        return false;
    // A bundle kept from an earlier attempt whose code did not load.
    if (mBundle)
        CFRelease(mBundle);
    mBundle = bundle;
    return CFBundleLoadExecutable(mBundle);
}

bool I_CFBundleDLL::Unload()
{
    if (!IsLoaded())
        return false;
    CFBundleUnloadExecutable(mBundle);
    CFRelease(mBundle);
    mBundle = nullptr;
    return true;
}

bool I_CFBundleDLL::IsLoaded() const
{
    return mBundle && CFBundleIsExecutableLoaded(mBundle);
}

// ---------------------------------------------------------------- SystemFramework

char* SystemFramework::getcwd(char* in_buffer, size_t in_size)
{
    if (!sSystem.IsLoaded())
        sSystem.LoadSystemFramework(nullptr);
    return sSystem.FnCall<char*>(CFSTR("getcwd"), in_buffer, in_size);
}

int SystemFramework::mprotect(const void* in_address, size_t in_length, int in_protection)
{
    if (!sSystem.IsLoaded())
        sSystem.LoadSystemFramework(nullptr);
    return sSystem.FnCall<int>(CFSTR("mprotect"), const_cast<void*>(in_address), in_length, in_protection);
}

int SystemFramework::chdir(const char* in_utf8_path_string)
{
    if (!sSystem.IsLoaded())
        sSystem.LoadSystemFramework(nullptr);
    if (!sSystem.IsLoaded())
        return -1;
    if (!VERIFY(in_utf8_path_string))
        return -1;
    return sSystem.FnCall<int>(CFSTR("chdir"), in_utf8_path_string);
}
