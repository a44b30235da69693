// sentrel-inspect: the inspector's answers in a terminal or a script.
#include "FileControllers.h"
#include "Options.h"
#include "Output.h"
#include "UCodeEntitlements.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>

#ifndef SENTREL_VERSION
#define SENTREL_VERSION "0.0.0"
#endif

namespace {

void progress(size_t done, size_t total, bool show)
{
    if (show)
        std::fprintf(stderr, "\r[%zu/%zu] inspecting...%s", done, total, done == total ? "\n" : "");
}

// Inspects one file; false when it could not be inspected or its quarantine
// could not be removed.
bool inspectOne(const std::string& path, const Options& options)
{
    struct stat st{};
    if (::lstat(path.c_str(), &st) != 0) {
        std::fprintf(stderr, "sentrel-inspect: %s: %s\n", path.c_str(), std::strerror(errno));
        return false;
    }
    AutoreleasePoolScope pool;
    FileControllers inspection(path);
    bool ok = true;
    // As the window's action: removal is asked for whatever the record holds,
    // an empty record included; the status says whether one remains.
    if (options.removeQuarantine) {
        if (UCodeEntitlements::sEntitlements.HasActiveSecuritySandbox()) {
            if (inspection.hasQuarantineRecord()) {
                std::fprintf(stderr,
                             "sentrel-inspect: %s: runs in a sandbox and cannot remove the quarantine itself; run:\n"
                             "  xattr -d com.apple.quarantine \"%s\"\n",
                             path.c_str(), path.c_str());
                ok = false;
            }
        } else if (!inspection.removeQuarantine()) {
            std::fprintf(stderr, "sentrel-inspect: %s: could not remove the quarantine\n", path.c_str());
            ok = false;
        }
    }
    FileReport report = inspection.report();
    std::cout << (options.json ? jsonReport(report) + "\n" : textReport(report) + "\n");
    std::cout.flush();
    return ok;
}

} // namespace

int main(int argc, char** argv)
{
    NSAutoreleasePool* pool = NSAutoreleasePool::alloc()->init();
    std::string error;
    std::optional<Options> options = parseOptions(argc, argv, error);
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
    const bool showProgress = options->files.size() > 1 && isatty(STDERR_FILENO);
    int status = 0;
    for (size_t i = 0; i < options->files.size(); ++i) {
        if (!inspectOne(options->files[i], *options))
            status = 1;
        progress(i + 1, options->files.size(), showProgress);
    }
    pool->drain();
    return status;
}
