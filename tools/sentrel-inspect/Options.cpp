#include "Options.h"

#include <cstring>

const char* const kUsage =
    "Usage: sentrel-inspect [options] FILE...\n"
    "Tell where each file came from and how far its code may be trusted: its\n"
    "attributes, its quarantine record and its code signature.\n"
    "\n"
    "  --json               one JSON object per file, one per line\n"
    "  --remove-quarantine  take each file out of quarantine, then report it\n"
    "  --help               show this help\n"
    "  --version            show the version\n"
    "  --                   treat every later argument as a file\n"
    "\n"
    "Exit status: 0 when every file was inspected, 1 when one could not be\n"
    "(or its quarantine could not be removed), 2 for a usage error.\n";

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
        } else if (std::strcmp(arg, "--remove-quarantine") == 0) {
            options.removeQuarantine = true;
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
