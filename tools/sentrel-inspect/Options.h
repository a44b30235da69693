// The command line of sentrel-inspect.
#pragma once

#include "Usage.h"

#include <optional>
#include <string>
#include <vector>

struct Options {
    bool json = false;
    bool removeQuarantine = false;
    bool verify = false;        // verify signatures; their verdict joins the report
    bool recursive = false;
    bool followLinks = false;
    unsigned jobs = 0;          // 0: the number of cores
    bool help = false;
    bool version = false;
    std::vector<std::string> files;
};

// nullopt with `error` set for a usage error.
std::optional<Options> parseOptions(int argc, char** argv, std::string& error);
