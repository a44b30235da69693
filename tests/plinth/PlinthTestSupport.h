// Shared helpers of the Plinth tests: temporary folders, reports captured
// from the debug log, and fresh processes of the log probe.
#pragma once

#include "CoreMachDebugLog.h"

#include <map>
#include <string>
#include <vector>

namespace plinth_test {

// A fresh folder under $TMPDIR (or /tmp), removed with its contents.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return m_path; }
    std::string operator/(const std::string& name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

void makeFolders(const std::string& path);
void writeFile(const std::string& path, const std::string& content);
// The whole file, or "<missing>" when it cannot be read.
std::string readFile(const std::string& path);
bool exists(const std::string& path);

// What the debug log wrote while `body` ran, taken from standard output on
// the console route: every line still carries the "CoreMachDebugLog:" prefix.
template <class F>
std::string ReportsOf(F body);
std::string CaptureReportsBegin();
std::string CaptureReportsEnd(const std::string& state);

// A run of a helper program from this test program's folder.
struct ProbeRun {
    int exitCode = -1;
    std::string out;
    std::string err;
    int pid = 0;
};
ProbeRun RunProgram(const std::string& program, const std::vector<std::string>& arguments,
                    const std::map<std::string, std::string>& environment);

// The folder of the running test program (<build>/bin).
std::string ProgramFolder();

template <class F>
std::string ReportsOf(F body)
{
    std::string state = CaptureReportsBegin();
    body();
    return CaptureReportsEnd(state);
}

} // namespace plinth_test
