#include "Run.h"

#include "CoreServices/BundleFolder.h"
#include "Inspector.h"
#include "Walk.h"
#include "Workers.h"

#include <dlfcn.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

namespace {

// The inspector module, loaded on first use and kept: <prefix>/lib/sentrel/
// sentrel-inspect.so for the program in <prefix>/bin, found from the running
// executable as the frameworks are. Its static initialisers run as it is
// loaded, in their ranks. nullptr, with `why` set, when it cannot be loaded.
InspectEntryFunction loadInspector(std::string& why)
{
    char path[PATH_MAX];
    const ssize_t length = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0) {
        why = "cannot find the running program";
        return nullptr;
    }
    path[length] = '\0';
    // <prefix>/bin/sentrel-inspect -> <prefix>/lib/sentrel/sentrel-inspect.so
    std::string module(path);
    for (int parts = 0; parts < 2; ++parts) {
        const size_t slash = module.rfind('/');
        module.resize(slash == std::string::npos ? 0 : slash);
    }
    module += "/lib/sentrel/sentrel-inspect.so";
    void* inspector = ::dlopen(module.c_str(), RTLD_LAZY | RTLD_LOCAL);
    auto function = inspector ? reinterpret_cast<InspectEntryFunction>(::dlsym(inspector, "sentrelInspectEntry")) : nullptr;
    if (!function) {
        const char* error = ::dlerror();
        why = "cannot load " + module + " (" + (error ? error : "no sentrelInspectEntry") + ")";
    }
    return function;
}

struct Inspector {
    InspectEntryFunction function = nullptr;
    std::string why;
};

const Inspector& inspector()
{
    static const Inspector loaded = [] {
        Inspector inspector;
        inspector.function = loadInspector(inspector.why);
        return inspector;
    }();
    return loaded;
}

// An entry's outcome. The walk's errors and skipped entries need no
// inspector; without one, nothing else can be done and the program ends.
EntryOutcome inspectEntry(const WalkEntry& entry, const Options& options)
{
    EntryOutcome outcome;
    if (entry.kind == WalkEntry::Kind::Error || entry.kind == WalkEntry::Kind::Skipped) {
        outcome.err = errorLine(entry.path, entry.message);
        outcome.flags = entry.kind == WalkEntry::Kind::Error ? uint32_t(kFailed) : 0u;
        return outcome;
    }
    if (!inspector().function) {
        std::fprintf(stderr, "sentrel-inspect: %s\n", inspector().why.c_str());
        // The walk may still be going on, on a thread of its own: the
        // process ends without running its destructors under it.
        std::fflush(nullptr);
        std::_Exit(1);
    }
    inspector().function(entry, options, outcome);
    return outcome;
}

// Whether the walk may find more than one entry: more than one argument, a
// folder that is not a bundle, or a bundle a recursive walk looks into.
bool mayFindSeveral(const Options& options)
{
    if (options.files.size() != 1)
        return options.files.size() > 1;
    struct stat st;
    return ::stat(options.files[0].c_str(), &st) == 0 && S_ISDIR(st.st_mode) &&
           (options.recursive || !sentrel::coreservices::isBundleFolder(options.files[0]));
}

// A file or bundle as a worker is given it: its kind, then its path. (The
// walk's errors and skipped entries, which carry a message, never go to a
// worker.)
std::string encodeEntry(const WalkEntry& entry)
{
    return static_cast<char>(entry.kind) + entry.path;
}

WalkEntry decodeEntry(std::string_view record)
{
    WalkEntry entry;
    if (record.empty()) {
        entry.kind = WalkEntry::Kind::Error;
        entry.message = "the entry was not passed on whole";
        return entry;
    }
    entry.kind = static_cast<WalkEntry::Kind>(record.front());
    entry.path = record.substr(1);
    return entry;
}

struct Summary {
    size_t files = 0, signedFiles = 0, adHoc = 0, unsignedFiles = 0, quarantined = 0, errors = 0, notGenuine = 0;
    bool verified = false;

    void add(uint32_t flags)
    {
        files += (flags & kInspected) != 0;
        signedFiles += (flags & kSigned) != 0;
        adHoc += (flags & kAdHoc) != 0;
        unsignedFiles += (flags & kUnsigned) != 0;
        quarantined += (flags & kQuarantined) != 0;
        errors += (flags & kFailed) != 0;
        notGenuine += (flags & kInspected) && (flags & kNotGenuine);
    }

    std::string line() const
    {
        return std::to_string(files) + (files == 1 ? " file, " : " files, ") + std::to_string(signedFiles) + " signed, " +
               std::to_string(adHoc) + " ad-hoc, " + std::to_string(unsignedFiles) + " unsigned, " +
               std::to_string(quarantined) + " quarantined, " +
               (verified ? std::to_string(files - notGenuine) + " genuine, " + std::to_string(notGenuine) + " not genuine, "
                         : std::string()) +
               std::to_string(errors) + (errors == 1 ? " error" : " errors");
    }
};

} // namespace

int runInspection(const Options& options)
{
    // With more than one entry to come, the workers start first and load
    // the inspector while this process walks; it never loads it itself
    // unless every worker ends early. The walk goes on, on a thread of its
    // own, while the workers inspect what it has found so far.
    const unsigned jobs = options.jobs ? options.jobs : availableCores();
    const Inspect inspectRecord = [&options](size_t, std::string_view record) {
        return inspectEntry(decodeEntry(record), options);
    };
    std::optional<WorkerPool> pool;
    if (jobs > 1 && mayFindSeveral(options)) {
        pool.emplace(
            jobs,
            [] {
                if (!inspector().function)
                    ::_exit(1);   // this process says why, when it comes to an entry
            },
            inspectRecord);
        if (pool->size() == 0)
            pool.reset();
    }

    Summary summary;
    summary.verified = options.verify;
    // The reports of a batch go out in one write, from where they came in;
    // an error line first sends what came before it, so that the two
    // streams keep their order.
    std::vector<std::string_view> pending;
    size_t shown = 0, found = 0;
    // On a terminal, a line that counts the entries done of those found so
    // far, with a "+" while the walk goes on.
    const bool onTerminal = isatty(STDERR_FILENO);
    bool progressShown = false;
    std::atomic<bool> walkEnded = false;
    const auto progress = [&](size_t foundSoFar) {
        if (onTerminal && foundSoFar > 1) {
            std::fprintf(stderr, "\r[%zu/%zu%s] inspecting...", shown, foundSoFar, walkEnded ? "" : "+");
            progressShown = true;
        }
    };
    const auto send = [&] {
        std::fflush(stdout);
        writeAll(STDOUT_FILENO, pending);
        pending.clear();
    };
    const EntryEmitter emit = [&](size_t i, uint32_t flags, std::string_view out, std::string_view err) {
        if (!err.empty()) {
            send();
            std::fwrite(err.data(), 1, err.size(), stderr);
        }
        pending.push_back(out);
        summary.add(flags);
        shown = i + 1;
    };
    const auto flush = [&] {
        send();
        progress(pool ? pool->added() : found);
    };

    const WalkOptions walkOptions{options.recursive, options.followLinks};
    const auto walk = [&](const std::function<void(WalkEntry)>& visit) {
        for (const std::string& argument : options.files)
            walkArgument(argument, walkOptions, visit);
    };
    if (!pool) {
        walk([&](WalkEntry entry) {
            ++found;
            const EntryOutcome outcome = inspectEntry(entry, options);
            emit(found - 1, outcome.flags, outcome.out, outcome.err);
            flush();
        });
        walkEnded = true;
        progress(found);
    } else {
        // The walk's errors and skipped entries need no worker.
        std::thread walking([&] {
            walk([&](WalkEntry entry) {
                if (entry.kind == WalkEntry::Kind::File || entry.kind == WalkEntry::Kind::Bundle)
                    pool->add(encodeEntry(entry));
                else
                    pool->addDone(inspectEntry(entry, options));
            });
            walkEnded = true;
            pool->close();
        });
        pool->run(inspectRecord,
                  [](std::string_view record) {
                      return EntryOutcome{{}, errorLine(decodeEntry(record).path, "the inspection ended abnormally"), kFailed};
                  },
                  emit, flush);
        walking.join();
    }

    if (progressShown)
        std::fputc('\n', stderr);
    const std::string line = summary.line() + "\n";
    if (options.json)
        std::fprintf(stderr, "sentrel-inspect: %s", line.c_str());
    else
        std::fputs(line.c_str(), stdout);
    std::fflush(stdout);
    // 1 for errors comes first: a file that could not be inspected was not
    // verified either.
    return summary.errors > 0 ? 1 : (options.verify && summary.notGenuine > 0) ? 3 : 0;
}
