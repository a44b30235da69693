#include "Foundation/NSLog.h"

#include <sys/syscall.h>
#include <sys/time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <mutex>


static std::atomic<NSLogCStringFunction> s_logFunction{nullptr};

void _NSSetLogCStringFunction(NSLogCStringFunction function) { s_logFunction.store(function); }
NSLogCStringFunction _NSLogCStringFunction() { return s_logFunction.load(); }

void NSLogWrite(std::string_view message)
{
    if (NSLogCStringFunction hook = s_logFunction.load()) {
        std::string copy(message);
        hook(copy.c_str(), static_cast<unsigned>(copy.size()), YES);
        return;
    }
    timeval now{};
    gettimeofday(&now, nullptr);
    tm parts{};
    localtime_r(&now.tv_sec, &parts);
    char stamp[64];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &parts);
    std::string line = std::string(stamp) + "." + std::to_string(now.tv_usec / 1000 + 1000).substr(1) + " " +
                       program_invocation_short_name + "[" + std::to_string(getpid()) + ":" +
                       std::to_string(static_cast<long>(syscall(SYS_gettid))) + "] ";
    line.append(message);
    // One line per call: the platform adds the line feed unless the message ends in one.
    if (line.back() != '\n')
        line.push_back('\n');
    static std::mutex lock;
    std::lock_guard guard(lock);
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
}
