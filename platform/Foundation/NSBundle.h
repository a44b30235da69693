// Bundles: a folder with an information dictionary and resources.
//
// Layouts: a full bundle keeps "Contents/Info.plist" and "Contents/Resources";
// a shallow one keeps "Info.plist" and its resources at its top. The program's
// own bundle (mainBundle) is the folder of its executable; its resources are
// in "../share/sentrel/Resources" beside that folder when it exists (the build
// and install layout: bin/ and share/sentrel/Resources/), and in the
// executable's folder otherwise. An executable inside "X.app/Contents/MacOS"
// has X.app as its bundle.
#pragma once

#include <string>

#include "Foundation/NSArray.h"

class NSBundle : public NSObject {
    OBJC_CLASS(NSBundle, NSObject)
public:
    NSBundle() = default;
    // A bundle for an existing folder; nil for anything else. Each call reads
    // the folder anew: bundles are not shared between calls.
    static NSBundle* bundleWithPath(const NSString* path);
    // The running program's bundle.
    static NSBundle* mainBundle();

    NSString* bundlePath() const { return m_path; }
    NSString* resourcePath() const;
    // The information dictionary from Info.plist (XML or binary), read once
    // per bundle object; empty when there is none or it does not parse.
    NSDictionary* infoDictionary() const;
    id objectForInfoDictionaryKey(const NSString* key) const;
    NSString* bundleIdentifier() const;
    // The resource "name.type" (or "name" when type is nil or empty) in the
    // resource folder; nil when there is no such file.
    NSString* pathForResource(const NSString* name, const NSString* type) const;

    // Loading: the bundle's executable is a shared library, loaded with
    // dlopen and searched with dlsym (NSBundle_Loading.cpp).
    // The executable: CFBundleExecutable of the information dictionary (the
    // bundle's name without its extension when there is none), in
    // "Contents/MacOS" of a full bundle or at the top of a shallow one
    // ("Name.framework/Name"); the running program itself for the main
    // bundle. nil when no such file exists.
    NSString* executablePath() const;
    // Loads the executable; true when it is loaded (already or now).
    bool load();
    bool isLoaded() const { return m_handle != nullptr; }
    // Unloads what load loaded; false when nothing was loaded. A bundle
    // released while loaded leaves its code loaded, as on the platform.
    bool unload();
    // The address of a function or data symbol of the loaded executable;
    // null when it is not loaded or has no such symbol.
    void* symbolAddressForName(const NSString* name) const;
    // The bundle's standard folders, whether or not they exist: in
    // "Contents" of a full bundle, at the top of a shallow one. The main
    // bundle's live beside the program's installation prefix (see
    // docs/ARCHITECTURE.md): lib/sentrel/{PrivateFrameworks,SharedFrameworks,PlugIns}
    // and share/sentrel for the support files.
    NSString* privateFrameworksPath() const;
    NSString* sharedFrameworksPath() const;
    NSString* builtInPlugInsPath() const;
    NSString* supportFilesPath() const;

    // The folder holding `path` ("." for a bare name, "/" for a name at the root).
    static std::string parentPath(const std::string& path);

private:
    Retained<NSString> m_path;
    Retained<NSString> m_resourcePath;   // set for the main bundle
    mutable Retained<NSDictionary> m_info;
    void* m_handle = nullptr;   // dlopen handle while loaded
};
