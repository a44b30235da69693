#include "Options.h"

#include <cstdlib>
#include <cstring>

namespace {

bool parseJobs(const char* text, unsigned& jobs)
{
    if (!text || *text < '1' || *text > '9')
        return false;
    char* end = nullptr;
    const unsigned long n = std::strtoul(text, &end, 10);
    if (*end != '\0' || n > 1024)
        return false;
    jobs = static_cast<unsigned>(n);
    return true;
}

} // namespace

std::optional<Options> parseOptions(int argc, char** argv, std::string& error)
{
    Options options;
    bool filesOnly = false;
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (filesOnly || arg[0] != '-' || std::strcmp(arg, "-") == 0) {
            options.files.emplace_back(arg);
        } else if (std::strcmp(arg, "--") == 0) {
            filesOnly = true;
        } else if (std::strcmp(arg, "--json") == 0) {
            options.json = true;
        } else if (std::strcmp(arg, "--recursive") == 0 || std::strcmp(arg, "-r") == 0) {
            options.recursive = true;
        } else if (std::strcmp(arg, "--follow-links") == 0) {
            options.followLinks = true;
        } else if (std::strcmp(arg, "--jobs") == 0 || std::strncmp(arg, "-j", 2) == 0 || std::strncmp(arg, "--jobs=", 7) == 0) {
            // --jobs N, --jobs=N, -j N, -jN
            const char* value = std::strncmp(arg, "--jobs=", 7) == 0 ? arg + 7
                                : (arg[1] == 'j' && arg[2] != '\0') ? arg + 2
                                : (i + 1 < argc ? argv[++i] : nullptr);
            if (!parseJobs(value, options.jobs)) {
                error = "--jobs needs a number from 1 to 1024";
                return std::nullopt;
            }
        } else if (std::strcmp(arg, "--remove-quarantine") == 0) {
            options.removeQuarantine = true;
        } else if (std::strcmp(arg, "--verify") == 0) {
            options.verify = true;
        } else if (std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0) {
            options.help = true;
        } else if (std::strcmp(arg, "--version") == 0) {
            options.version = true;
        } else {
            error = std::string("unknown option '") + arg + "'";
            return std::nullopt;
        }
    }
    if (!options.help && !options.version && options.files.empty()) {
        error = "no file given";
        return std::nullopt;
    }
    return options;
}
