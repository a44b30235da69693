#include "CoreFoundation/CFBundle.h"

namespace {

NSBundle* mutableBundle(CFBundleRef bundle) { return const_cast<NSBundle*>(bundle); }

// A folder URL the caller owns, for a path that may be nil.
CFURLRef copyFolderURL(NSString* path)
{
    if (!path)
        return nullptr;
    AutoreleasePoolScope pool;
    NSURL* url = NSURL::fileURLWithPath(path, true);
    return url ? static_cast<CFURLRef>(url->retain()) : nullptr;
}

} // namespace

CFTypeID CFBundleGetTypeID() { return kCFTypeIDBundle; }

CFBundleRef CFBundleCreate(CFAllocatorRef, CFURLRef bundleURL)
{
    if (!bundleURL || !bundleURL->isFileURL())
        return nullptr;
    AutoreleasePoolScope pool;
    std::string path = bundleURL->fileSystemPath();
    if (path.size() > 1 && path.back() == '/')
        path.pop_back();
    NSBundle* bundle = NSBundle::bundleWithPath(NSString::stringWithUTF8(path));
    return bundle ? static_cast<CFBundleRef>(bundle->retain()) : nullptr;
}

CFBundleRef CFBundleGetMainBundle() { return NSBundle::mainBundle(); }

Boolean CFBundleLoadExecutable(CFBundleRef bundle)
{
    if (!bundle)
        return false;
    AutoreleasePoolScope pool;
    return mutableBundle(bundle)->load();
}

Boolean CFBundleIsExecutableLoaded(CFBundleRef bundle) { return bundle && bundle->isLoaded(); }

void CFBundleUnloadExecutable(CFBundleRef bundle)
{
    if (bundle)
        mutableBundle(bundle)->unload();
}

void* CFBundleGetFunctionPointerForName(CFBundleRef bundle, CFStringRef functionName)
{
    return bundle ? bundle->symbolAddressForName(functionName) : nullptr;
}

void* CFBundleGetDataPointerForName(CFBundleRef bundle, CFStringRef symbolName)
{
    return bundle ? bundle->symbolAddressForName(symbolName) : nullptr;
}

CFURLRef CFBundleCopyExecutableURL(CFBundleRef bundle)
{
    if (!bundle)
        return nullptr;
    AutoreleasePoolScope pool;
    NSString* path = bundle->executablePath();
    NSURL* url = path ? NSURL::fileURLWithPath(path, false) : nil;
    return url ? static_cast<CFURLRef>(url->retain()) : nullptr;
}

CFURLRef CFBundleCopyResourcesDirectoryURL(CFBundleRef bundle)
{
    AutoreleasePoolScope pool;
    return bundle ? copyFolderURL(bundle->resourcePath()) : nullptr;
}

CFURLRef CFBundleCopyPrivateFrameworksURL(CFBundleRef bundle)
{
    AutoreleasePoolScope pool;
    return bundle ? copyFolderURL(bundle->privateFrameworksPath()) : nullptr;
}

CFURLRef CFBundleCopySharedFrameworksURL(CFBundleRef bundle)
{
    AutoreleasePoolScope pool;
    return bundle ? copyFolderURL(bundle->sharedFrameworksPath()) : nullptr;
}

CFURLRef CFBundleCopySupportFilesDirectoryURL(CFBundleRef bundle)
{
    AutoreleasePoolScope pool;
    return bundle ? copyFolderURL(bundle->supportFilesPath()) : nullptr;
}

CFURLRef CFBundleCopyBuiltInPlugInsURL(CFBundleRef bundle)
{
    AutoreleasePoolScope pool;
    return bundle ? copyFolderURL(bundle->builtInPlugInsPath()) : nullptr;
}
