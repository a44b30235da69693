#include "Foundation/NSLog.h"

#include <pthread.h>
#include <sys/syscall.h>
#include <sys/time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <string>


static std::atomic<NSLogCStringFunction> s_logFunction{nullptr};

void _NSSetLogCStringFunction(NSLogCStringFunction function) { s_logFunction.store(function); }
NSLogCStringFunction _NSLogCStringFunction() { return s_logFunction.load(); }

namespace {

// The process and thread ids the lines carry, asked of the kernel once per
// thread and again after a fork (the sentrel-inspect workers are forked).
std::atomic<unsigned> s_forkGeneration{1};

void afterFork() { s_forkGeneration.fetch_add(1); }

std::string processAndThread()
{
    static std::once_flag registered;
    std::call_once(registered, [] { pthread_atfork(nullptr, nullptr, &afterFork); });
    thread_local unsigned generation = 0;
    thread_local std::string ids;
    if (const unsigned now = s_forkGeneration.load(); generation != now) {
        ids = std::to_string(getpid()) + ":" + std::to_string(static_cast<long>(syscall(SYS_gettid)));
        generation = now;
    }
    return ids;
}

} // namespace

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
                       program_invocation_short_name + "[" + processAndThread() + "] ";
    line.append(message);
    // One line per call: the platform adds the line feed unless the message ends in one.
    if (line.back() != '\n')
        line.push_back('\n');
    static std::mutex lock;
    std::lock_guard guard(lock);
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
}
