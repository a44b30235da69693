// The one entry point of <prefix>/lib/sentrel/sentrel-inspect.so, and what
// the program and the module both read of its answer: the summary bits and
// the error line.
#pragma once

#include "Options.h"
#include "Walk.h"
#include "Workers.h"

#include <cstdint>
#include <string>

// What an entry's outcome says, for the summary.
enum : uint32_t {
    kInspected = 1,
    kSigned = 2,        // signed with certificates
    kAdHoc = 4,         // a signature without certificates
    kUnsigned = 8,
    kQuarantined = 16,
    kFailed = 32,       // not inspected, or a record left after removal
    kNotGenuine = 64,   // verified, and found not genuine
};

// "sentrel-inspect: PATH: MESSAGE", a line of its own.
inline std::string errorLine(const std::string& path, const std::string& message)
{
    return "sentrel-inspect: " + path + ": " + message + "\n";
}

// The module's one exported function: the outcome of inspecting `entry`, a
// File or a Bundle, as `options` ask.
extern "C" void sentrelInspectEntry(const WalkEntry& entry, const Options& options, EntryOutcome& outcome);
using InspectEntryFunction = decltype(&sentrelInspectEntry);
