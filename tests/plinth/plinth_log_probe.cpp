// A fresh process for the debug log: the one-time resolution of the log
// file's path, and each route, are seen as a program sees them at start-up.
//
//   plinth_log_probe <route> <command>...
//     string:<text>     CoreMachDebugLogString(text)
//     format:<text>     CoreMachDebugLog("[%s]", text)
//     long:<n>          CoreMachDebugLog("%s", n times 'x' then "<END>")
//     verify            a failed VERIFY
//     oserr:<n>         a failed VERIFY_OSERR with status n
//     mkdir:<path>      make a folder (and its parents)
//     filename:<name>   g_CoreMachDebug_LogFileName = name
//     syslog-echo       make syslog(3) echo on standard error, to see route 2
#include "CoreMachDebugLog.h"

#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <syslog.h>

namespace {
std::string sFileName;   // keeps a filename: command's text alive

void makeFolders(const std::string& path)
{
    for (size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
        mkdir(path.substr(0, slash).c_str(), 0700);
        if (slash == std::string::npos)
            break;
    }
}
} // namespace

int main(int argc, char** argv)
{
    AutoreleasePoolScope pool;
    if (argc < 2)
        return 2;
    CoreMachDebugLogSetUseLogger(static_cast<kCoreLogOutput>(std::atoi(argv[1])));
    for (int i = 2; i < argc; ++i) {
        std::string command = argv[i];
        std::string argument = command.substr(command.find(':') + 1);
        if (command.starts_with("string:")) {
            CoreMachDebugLogString(argument.c_str());
        } else if (command.starts_with("format:")) {
            CoreMachDebugLog("[%s]", argument.c_str());
        } else if (command.starts_with("long:")) {
            std::string text(std::strtoul(argument.c_str(), nullptr, 10), 'x');
            CoreMachDebugLog("%s<END>", text.c_str());
        } else if (command == "verify") {
            int answer = 42;
            VERIFY(answer == 41);
        } else if (command.starts_with("oserr:")) {
            VERIFY_OSERR(static_cast<OSStatus>(std::atol(argument.c_str())));
        } else if (command.starts_with("mkdir:")) {
            makeFolders(argument);
        } else if (command.starts_with("filename:")) {
            sFileName = argument;
            g_CoreMachDebug_LogFileName = sFileName.c_str();
        } else if (command == "syslog-echo") {
            openlog(nullptr, LOG_PERROR, LOG_USER);
        } else {
            return 2;
        }
    }
    return 0;
}
