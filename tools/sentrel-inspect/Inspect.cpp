// The body of lib/sentrel/sentrel-inspect.so: one file or bundle read
// through the same controllers as the window, its report written as text or
// JSON.
#include "FileControllers.h"
#include "Inspector.h"
#include "Output.h"
#include "UCodeEntitlements.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <exception>

namespace {

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

} // namespace

// No exception leaves the module: the program and the module each link a
// copy of the C++ library of their own, and the program's could not catch
// one thrown by the module's.
extern "C" __attribute__((visibility("default"))) void sentrelInspectEntry(const WalkEntry& entry, const Options& options,
                                                                          EntryOutcome& outcome)
{
    try {
        outcome = inspectEntry(entry, options);
    } catch (const std::exception& error) {
        outcome = {{}, errorLine(entry.path, std::string("could not be inspected: ") + error.what()), kFailed};
    } catch (...) {
        outcome = {{}, errorLine(entry.path, "could not be inspected"), kFailed};
    }
}
