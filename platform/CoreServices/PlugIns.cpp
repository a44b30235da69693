#include "CoreServices/PlugIns.h"

#include "CoreServices/Folders.h"

#include <dlfcn.h>

#include <cstdio>
#include <map>
#include <mutex>

namespace sentrel::plugins {

std::string folder()
{
    const std::string prefix = folders::installationPrefix();
    return prefix.empty() ? prefix : (prefix == "/" ? "" : prefix) + "/lib/sentrel/PlugIns";
}

void* entry(const char* name, const char* entryName)
{
    static std::mutex lock;
    // name -> handle; a null handle remembers a plug-in that did not load.
    static auto* const loaded = new std::map<std::string, void*>;
    std::lock_guard guard(lock);
    auto found = loaded->find(name);
    if (found == loaded->end()) {
        const std::string path = folder() + "/" + name + ".so";
        void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!handle) {
            const char* why = ::dlerror();
            std::fprintf(stderr, "sentrel: cannot load the plug-in %s (%s)\n", path.c_str(), why ? why : "unknown error");
        }
        found = loaded->emplace(name, handle).first;
    }
    return found->second ? ::dlsym(found->second, entryName) : nullptr;
}

} // namespace sentrel::plugins
