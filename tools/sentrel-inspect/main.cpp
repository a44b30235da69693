// sentrel-inspect: the inspector's answers in a terminal or a script.
#include "FileControllers.h"
#include "Options.h"
#include "Output.h"
#include "UCodeEntitlements.h"
#include "Walk.h"
#include "Workers.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <vector>

#ifndef SENTREL_VERSION
#define SENTREL_VERSION "0.0.0"
#endif

namespace {

// What an entry's outcome says, for the summary.
enum : uint32_t {
    kInspected = 1,
    kSigned = 2,        // signed with certificates
    kAdHoc = 4,         // a signature without certificates
    kUnsigned = 8,
    kQuarantined = 16,
    kFailed = 32,       // not inspected, or its quarantine still there
    kNotGenuine = 64,   // verified, and found not genuine
};

void progress(size_t done, size_t total, bool show)
{
    if (show)
        std::fprintf(stderr, "\r[%zu/%zu] inspecting...%s", done, total, done == total ? "\n" : "");
}

std::string errorLine(const std::string& path, const std::string& message)
{
    return "sentrel-inspect: " + path + ": " + message + "\n";
}

bool reportSays(const FileReport& report, const std::string& key)
{
    for (const ReportSection& section : report.sections)
        for (const ReportField& field : section.fields)
            if (field.key == key)
                return field.value && field.value->isKindOfClass(NSNumber::class_()) &&
                       static_cast<const NSNumber*>(field.value.get())->boolValue();
    return false;
}

// Inspects one file or bundle.
EntryOutcome inspectEntry(const WalkEntry& entry, const Options& options)
{
    EntryOutcome outcome;
    const std::string& path = entry.path;
    if (entry.kind == WalkEntry::Kind::Error) {
        outcome.err = errorLine(path, entry.message);
        outcome.flags = kFailed;
        return outcome;
    }
    if (entry.kind == WalkEntry::Kind::Skipped) {
        outcome.err = errorLine(path, entry.message);
        return outcome;
    }
    if (entry.kind == WalkEntry::Kind::File) {
        // A file that cannot be read is said so and left; one that has
        // become a FIFO since the walk does not block the open.
        const int fd = ::open(path.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) {
            outcome.err = errorLine(path, std::strerror(errno));
            outcome.flags = kFailed;
            return outcome;
        }
        struct stat st{};
        const bool regular = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
        ::close(fd);
        if (!regular) {
            outcome.err = errorLine(path, "no longer a regular file, not opened");
            return outcome;
        }
    }

    AutoreleasePoolScope pool;
    FileControllers inspection(path, options.verify);
    outcome.flags = kInspected;
    // As the window's action: removal is asked for whatever the record holds,
    // an empty record included; the status says whether one remains.
    if (options.removeQuarantine) {
        if (UCodeEntitlements::sEntitlements.HasActiveSecuritySandbox()) {
            if (inspection.hasQuarantineRecord()) {
                outcome.err = "sentrel-inspect: " + path +
                              ": runs in a sandbox and cannot remove the quarantine itself; run:\n";
                for (const std::string& command : inspection.quarantineRemovalCommands())
                    outcome.err += "  " + command + "\n";
                outcome.flags |= kFailed;
            }
        } else if (!inspection.removeQuarantine()) {
            outcome.err = errorLine(path, "could not remove the quarantine");
            outcome.flags |= kFailed;
        }
    }
    FileReport report = inspection.report();
    outcome.out = options.json ? jsonReport(report) + "\n" : textReport(report) + "\n";
    if (!report.certificates.empty())
        outcome.flags |= kSigned;
    else if (reportSays(report, "hasCodeSignature"))
        outcome.flags |= kAdHoc;
    else
        outcome.flags |= kUnsigned;
    // A record counts wherever it was found: the own attribute, the Samba
    // stream, an AppleDouble companion.
    if (reportSays(report, "quarantined") || reportSays(report, "quarantinedAnywhere"))
        outcome.flags |= kQuarantined;
    if (options.verify && !reportSays(report, "signatureIsValid"))
        outcome.flags |= kNotGenuine;
    return outcome;
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

int main(int argc, char** argv)
{
    NSAutoreleasePool* pool = NSAutoreleasePool::alloc()->init();
    std::string error;
    std::optional<Options> options = parseOptions(argc, argv, error);
    if (!options) {
        std::fprintf(stderr, "sentrel-inspect: %s\n%s", error.c_str(), kUsage);
        return 2;
    }
    if (options->help) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (options->version) {
        std::printf("sentrel-inspect %s\n", SENTREL_VERSION);
        return 0;
    }
    // The walk is cheap beside the inspections; it is done first so that
    // the workers share its list and the progress knows the total.
    std::vector<WalkEntry> entries;
    const WalkOptions walkOptions{options->recursive, options->followLinks};
    for (const std::string& argument : options->files)
        walkArgument(argument, walkOptions, [&](WalkEntry entry) { entries.push_back(std::move(entry)); });

    const bool showProgress = entries.size() > 1 && isatty(STDERR_FILENO);
    const unsigned jobs = options->jobs ? options->jobs : availableCores();
    Summary summary;
    summary.verified = options->verify;
    EntryOutcome lost;
    lost.flags = kFailed;
    // The reports of a batch go out in one write, from where they came in;
    // an error line first sends what came before it, so that the two
    // streams keep their order.
    std::vector<std::string_view> pending;
    size_t shown = 0;
    const auto send = [&] {
        std::fflush(stdout);
        writeAll(STDOUT_FILENO, pending);
        pending.clear();
    };
    inspectInOrder(
        entries.size(), jobs, [&](size_t i) { return inspectEntry(entries[i], *options); },
        [&](size_t i, uint32_t flags, std::string_view out, std::string_view err) {
            const std::string lostLine =
                err.empty() && flags == kFailed ? errorLine(entries[i].path, "the inspection ended abnormally") : "";
            if (!lostLine.empty())
                err = lostLine;
            if (!err.empty()) {
                send();
                std::fwrite(err.data(), 1, err.size(), stderr);
            }
            pending.push_back(out);
            summary.add(flags);
            shown = i + 1;
        },
        [&] {
            send();
            progress(shown, entries.size(), showProgress);
        },
        lost);
    if (options->json)
        std::fprintf(stderr, "sentrel-inspect: %s\n", summary.line().c_str());
    else
        std::cout << summary.line() << "\n";
    std::cout.flush();
    // 1 for errors comes first: a file that could not be inspected was not
    // verified either.
    const int status = summary.errors > 0 ? 1 : (options->verify && summary.notGenuine > 0) ? 3 : 0;
    pool->drain();
    return status;
}
