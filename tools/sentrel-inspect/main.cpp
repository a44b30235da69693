// sentrel-inspect: the inspector's answers in a terminal or a script. The
// program itself reads the command line, walks the folders and writes the
// reports in order; the inspector module, which links everything a report
// needs, is loaded only where an entry is inspected (Run.cpp), so that
// --help, --version and a usage error cost no more than starting a process.
#include "Options.h"
#include "Run.h"

#include <cstdio>

#ifndef SENTREL_VERSION
#define SENTREL_VERSION "0.0.0"
#endif

int main(int argc, char** argv)
{
    std::string error;
    const std::optional<Options> options = parseOptions(argc, argv, error);
    if (!options) {
        std::fprintf(stderr, "sentrel-inspect: %s\n%s", error.c_str(), kUsage);
        return 2;
    }
    if (options->help) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (options->version) {
        std::printf("sentrel-inspect %s\n", SENTREL_VERSION);
        return 0;
    }
    return runInspection(*options);
}
