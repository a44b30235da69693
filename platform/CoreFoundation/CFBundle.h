// CFBundle over NSBundle: the same objects, so CFRelease and CFGetTypeID work
// on bundles. Loading goes through dlopen/dlsym (see Foundation/NSBundle.h).
#pragma once

#include "CoreFoundation/CoreFoundation.h"
#include "Foundation/NSBundle.h"

typedef const NSBundle* CFBundleRef;

CFTypeID CFBundleGetTypeID();

// A bundle for an existing folder (the caller owns it), or NULL.
CFBundleRef CFBundleCreate(CFAllocatorRef allocator, CFURLRef bundleURL);
// The running program's bundle (borrowed).
CFBundleRef CFBundleGetMainBundle();

Boolean CFBundleLoadExecutable(CFBundleRef bundle);
Boolean CFBundleIsExecutableLoaded(CFBundleRef bundle);
void CFBundleUnloadExecutable(CFBundleRef bundle);
// NULL when the bundle's code is not loaded or has no such symbol.
void* CFBundleGetFunctionPointerForName(CFBundleRef bundle, CFStringRef functionName);
void* CFBundleGetDataPointerForName(CFBundleRef bundle, CFStringRef symbolName);

// URLs the caller owns; NULL when the bundle has no such item. The folders'
// URLs are given whether or not the folders exist.
CFURLRef CFBundleCopyExecutableURL(CFBundleRef bundle);
CFURLRef CFBundleCopyResourcesDirectoryURL(CFBundleRef bundle);
CFURLRef CFBundleCopyPrivateFrameworksURL(CFBundleRef bundle);
CFURLRef CFBundleCopySharedFrameworksURL(CFBundleRef bundle);
CFURLRef CFBundleCopySupportFilesDirectoryURL(CFBundleRef bundle);
CFURLRef CFBundleCopyBuiltInPlugInsURL(CFBundleRef bundle);
