// Run-time binding to frameworks: a framework is found by location and name,
// loaded as a bundle, and its functions and data are looked up by name, so
// that the program starts where a framework or function is missing and
// degrades to a neutral result (null, false, 0) instead.
//
// Locations on this platform (see docs/ARCHITECTURE.md for the folders):
//   kLocation_ExecutableFolder       the folder of the running program
//   kLocation_SystemFrameworks       FSFindFolder(kSystemDomain, 'fram'): <prefix>/lib/sentrel/Frameworks
//   kLocation_LocalFrameworks        FSFindFolder(kLocalDomain, 'fram'): /usr/local/lib/sentrel/Frameworks
//   kLocation_PrivateFrameworks ...  the main bundle's folders (CFBundleCopy...URL)
//   kLocation_*QuickTimeComponents   no folder here: always null
#pragma once

#include "CoreFoundation/CoreFoundation.h"
#include "CoreServices/MacTypes.h"

#include <string>

class CFBaseDLL {
public:
    enum Location : int32_t {
        kLocation_ExecutableFolder = 0,
        kLocation_SystemFrameworks = 1,
        kLocation_LocalFrameworks = 2,
        kLocation_PrivateFrameworks = 3,
        kLocation_SharedFrameworks = 4,
        kLocation_Resources = 5,
        kLocation_BuiltInPlugIns = 6,
        kLocation_SupportFiles = 7,
        kLocation_LocalQuickTimeComponents = 8,
        kLocation_SystemQuickTimeComponents = 9,
        kLocation_UserQuickTimeComponents = 10,
    };

    // Every URL answered is new; the caller releases it. Null when the
    // folder cannot be found (it is never created).
    static CFURLRef URLOfNameInFindFolder(CFStringRef in_name, OSType in_folderType, short in_domain,
                                          CFStringRef in_subfolder);
    static CFURLRef URLOfNameInLocation(CFStringRef in_name, Location in_location);
    // The URL's file-system path into out_path (left as it was when the URL
    // has none); answers out_path's characters. Shares one static buffer:
    // not reentrant.
    static const char* PathFromURL(CFURLRef in_url, std::string& out_path);
};

// The bundle-based binding: a framework name (borrowed; callers pass
// constant strings) and the bundle once created (owned).
class I_CFBundleDLL {
public:
    explicit I_CFBundleDLL(CFStringRef in_name = nullptr) : mName(in_name) {}
    I_CFBundleDLL(const I_CFBundleDLL&) = delete;
    I_CFBundleDLL& operator=(const I_CFBundleDLL&) = delete;

    // Creates the bundle at the URL and loads its code; true when loaded.
    bool LoadFromURL(CFURLRef in_url);
    // Unloads and releases the bundle; false (and nothing changes) unless
    // the binding was loaded.
    bool Unload();
    // The bundle exists and its code is loaded.
    bool IsLoaded() const;

    CFStringRef GetName() const { return mName; }
    CFBundleRef GetBundle() const { return mBundle; }

protected:
    ~I_CFBundleDLL() = default;

    CFStringRef mName = nullptr;
    CFBundleRef mBundle = nullptr;
};

template <class I>
class T_CFBaseDLL : public I {
public:
    explicit T_CFBaseDLL(CFStringRef in_name = nullptr) : I(in_name) {}
    // Unloads what the binding loaded and forgets the name. A bundle that was
    // created but whose code never loaded is released too.
    ~T_CFBaseDLL();

    // LoadLocation(kLocation_SystemFrameworks, in_newName).
    bool LoadSystemFramework(CFStringRef in_newName = nullptr);
    // A new name, when given, is stored first; a loaded binding then answers
    // true at once (it is never reloaded, whatever the location).
    bool LoadLocation(CFBaseDLL::Location in_location, CFStringRef in_newName = nullptr);

    // Look-ups never load: out is null and the answer false unless the
    // binding is loaded and has the symbol.
    template <class F>
    bool GetFunctionPointer(CFStringRef in_symbol, F*& out_function) const;
    template <class T>
    bool GetDataPointer(CFStringRef in_symbol, T*& out_data) const;
    // Calls the named function with the arguments; the zero value of R when
    // it cannot be found (nothing is called then).
    template <class R, class... A>
    R FnCall(CFStringRef in_symbol, A... in_arguments) const;
};

// "System.framework": the C library as a framework.
class SystemFramework {
public:
    static T_CFBaseDLL<I_CFBundleDLL> sSystem;

    // Through the framework's "getcwd": null when it cannot be called.
    static char* getcwd(char* in_buffer, size_t in_size);
    // Through "mprotect": 0 when it cannot be called.
    static int mprotect(const void* in_address, size_t in_length, int in_protection);
    // Through "chdir": -1 when the framework cannot be loaded or the path is
    // null (reported), 0 when the function is not found.
    static int chdir(const char* in_utf8_path_string);
};

// "CoreServices.framework": names the status codes of failed checks.
class CoreServicesFramework {
public:
    static T_CFBaseDLL<I_CFBundleDLL> sCoreServices;
};

// ---------------------------------------------------------------- templates

template <class I>
T_CFBaseDLL<I>::~T_CFBaseDLL()
{
    this->Unload();
    if (this->mBundle) {
        CFRelease(this->mBundle);
        this->mBundle = nullptr;
    }
    this->mName = nullptr;
}

template <class I>
bool T_CFBaseDLL<I>::LoadSystemFramework(CFStringRef in_newName)
{
    return LoadLocation(CFBaseDLL::kLocation_SystemFrameworks, in_newName);
}

template <class I>
bool T_CFBaseDLL<I>::LoadLocation(CFBaseDLL::Location in_location, CFStringRef in_newName)
{
    if (in_newName)
        this->mName = in_newName;
    if (this->IsLoaded())
        return true;
    if (!this->mName)
        return false;
    AutoreleasePoolScope pool;
    CFURLRef url = CFBaseDLL::URLOfNameInLocation(this->mName, in_location);
    if (!url)
        return false;
    bool result = this->LoadFromURL(url);
    CFRelease(url);
    return result;
}

template <class I>
template <class F>
bool T_CFBaseDLL<I>::GetFunctionPointer(CFStringRef in_symbol, F*& out_function) const
{
    out_function = nullptr;
    if (!this->IsLoaded())
        return false;
    void* p = CFBundleGetFunctionPointerForName(this->mBundle, in_symbol);
    if (!p)
        return false;
    out_function = reinterpret_cast<F*>(p);
    return true;
}

template <class I>
template <class T>
bool T_CFBaseDLL<I>::GetDataPointer(CFStringRef in_symbol, T*& out_data) const
{
    out_data = nullptr;
    if (!this->IsLoaded())
        return false;
    out_data = static_cast<T*>(CFBundleGetDataPointerForName(this->mBundle, in_symbol));
    return out_data != nullptr;
}

template <class I>
template <class R, class... A>
R T_CFBaseDLL<I>::FnCall(CFStringRef in_symbol, A... in_arguments) const
{
    R (*function)(A...) = nullptr;
    if (GetFunctionPointer(in_symbol, function))
        return function(in_arguments...);
    return R();
}
