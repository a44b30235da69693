// sentrel-inspect: the program the user runs. It answers --help and
// --version itself, linking nothing but the C library and the allocator
// (mimalloc, which must be the process's malloc from the start), so that
// they cost no more than starting a process; for anything else it loads the
// inspector (<prefix>/lib/sentrel/sentrel-inspect.so, found from the running
// executable as the frameworks are) and runs its main. The inspector's
// static initialisers run as it is loaded, in their documented order.
#include "Usage.h"

#include <dlfcn.h>
#include <limits.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#ifndef SENTREL_VERSION
#define SENTREL_VERSION "0.0.0"
#endif

namespace {

// Only --help, -h and --version, at least one of them: the inspector would
// answer the same (help before version), so it need not be loaded.
bool answersItself(int argc, char** argv, bool& help)
{
    help = false;
    if (argc < 2)
        return false;
    for (int i = 1; i < argc; ++i) {
        if (strcmp(argv[i], "--help") == 0 || strcmp(argv[i], "-h") == 0)
            help = true;
        else if (strcmp(argv[i], "--version") != 0)
            return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    bool help = false;
    if (answersItself(argc, argv, help)) {
        if (help)
            fputs(kUsage, stdout);
        else
            printf("sentrel-inspect %s\n", SENTREL_VERSION);
        return 0;
    }

    char path[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0) {
        fprintf(stderr, "sentrel-inspect: cannot find the running program\n");
        return 1;
    }
    path[length] = '\0';
    // <prefix>/bin/sentrel-inspect -> <prefix>/lib/sentrel/sentrel-inspect.so
    char* slash = strrchr(path, '/');
    if (slash)
        *slash = '\0';
    slash = strrchr(path, '/');
    const size_t prefixLength = slash ? static_cast<size_t>(slash - path) : 0;
    static const char kInspector[] = "/lib/sentrel/sentrel-inspect.so";
    if (prefixLength + sizeof kInspector > sizeof path) {
        fprintf(stderr, "sentrel-inspect: the program's path is too long\n");
        return 1;
    }
    memcpy(path + prefixLength, kInspector, sizeof kInspector);

    void* inspector = dlopen(path, RTLD_LAZY | RTLD_LOCAL);
    using Main = int (*)(int, char**);
    Main run = inspector ? reinterpret_cast<Main>(dlsym(inspector, "main")) : nullptr;
    if (!run) {
        const char* why = dlerror();
        fprintf(stderr, "sentrel-inspect: cannot load %s (%s)\n", path, why ? why : "no main");
        return 1;
    }
    return run(argc, argv);
}
