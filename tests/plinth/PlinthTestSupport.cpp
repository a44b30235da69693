#include "PlinthTestSupport.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <ftw.h>
#include <spawn.h>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace plinth_test {

TempDir::TempDir()
{
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/plinth-XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (!mkdtemp(buffer.data()))
        throw std::runtime_error("mkdtemp failed");
    m_path = buffer.data();
}

TempDir::~TempDir()
{
    nftw(
        m_path.c_str(), [](const char* path, const struct stat*, int, struct FTW*) { return ::remove(path); }, 16,
        FTW_DEPTH | FTW_PHYS);
}

void makeFolders(const std::string& path)
{
    for (size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
        ::mkdir(path.substr(0, slash).c_str(), 0700);
        if (slash == std::string::npos)
            break;
    }
}

void writeFile(const std::string& path, const std::string& content)
{
    std::ofstream(path, std::ios::binary) << content;
}

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return "<missing>";
    std::ostringstream all;
    all << in.rdbuf();
    return all.str();
}

bool exists(const std::string& path)
{
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0;
}

std::string CaptureReportsBegin()
{
    std::fflush(stdout);
    testing::internal::CaptureStdout();
    CoreMachDebugLogSetUseLogger(kCoreLogOutput_ConsoleAndFile);
    return {};
}

std::string CaptureReportsEnd(const std::string&)
{
    std::fflush(stdout);
    CoreMachDebugLogSetUseLogger(kCoreLogOutput_File);
    return testing::internal::GetCapturedStdout();
}

std::string ProgramFolder()
{
    char buffer[PATH_MAX];
    ssize_t length = ::readlink("/proc/self/exe", buffer, sizeof(buffer) - 1);
    if (length <= 0)
        return ".";
    buffer[length] = '\0';
    std::string path(buffer);
    return path.substr(0, path.rfind('/'));
}

ProbeRun RunProgram(const std::string& program, const std::vector<std::string>& arguments,
                    const std::map<std::string, std::string>& environment)
{
    TempDir outputs;
    std::string outPath = outputs / "out", errPath = outputs / "err";

    std::vector<std::string> argumentTexts{ProgramFolder() + "/" + program};
    argumentTexts.insert(argumentTexts.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& a : argumentTexts)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    std::vector<std::string> environmentTexts;
    for (char** e = environ; *e; ++e) {
        std::string entry(*e);
        if (!environment.count(entry.substr(0, entry.find('='))))
            environmentTexts.push_back(entry);
    }
    for (const auto& [name, value] : environment)
        environmentTexts.push_back(name + "=" + value);
    std::vector<char*> envp;
    for (std::string& e : environmentTexts)
        envp.push_back(e.data());
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ProbeRun run;
    pid_t pid = 0;
    int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0)
        return run;
    int status = 0;
    ::waitpid(pid, &status, 0);
    run.pid = pid;
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.out = readFile(outPath);
    run.err = readFile(errPath);
    return run;
}

namespace {
// In-process reports on the console route also reach the log file: keep that
// file in a home of the tests' own, never in the user's Logs folder.
class PrivateHome : public testing::Environment {
public:
    PrivateHome()
    {
        setenv("HOME", m_home.path().c_str(), 1);
        setenv("XDG_STATE_HOME", (m_home / ".local/state").c_str(), 1);
        makeFolders(m_home / ".local/state/log");
    }

private:
    TempDir m_home;
};
[[maybe_unused]] testing::Environment* const sPrivateHome = testing::AddGlobalTestEnvironment(new PrivateHome);
} // namespace

} // namespace plinth_test
