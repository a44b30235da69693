// The debug log: report lines, status names through the loaded Core Services
// framework, and where each route writes. Routes that depend on the log's
// one-time start-up run in a fresh probe process with a home of their own.
#include "PlinthTestSupport.h"

#include "CoreBaseDLL.h"
#include "CoreServices/MacErrors.h"
#include "RequiredCoreFoundation.h"
#include "RequiredFoundation.h"
#include "asl/asl.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <syslog.h>

using namespace plinth_test;

namespace {

const std::string kPrefix = "CoreMachDebugLog:";

// The environment of a probe whose home is `home` (XDG_STATE_HOME unset, so
// the Logs folder is <home>/.local/state/log).
std::map<std::string, std::string> HomeAt(const TempDir& home)
{
    return {{"HOME", home.path()}, {"XDG_STATE_HOME", ""}};
}

std::string LogsFolder(const TempDir& home) { return home / ".local/state/log"; }

size_t Count(const std::string& text, const std::string& piece)
{
    size_t n = 0;
    for (size_t at = text.find(piece); at != std::string::npos; at = text.find(piece, at + piece.size()))
        ++n;
    return n;
}

TEST(DebugLogReports, VerifyLinesNameTheExpressionFileLineAndFunction)
{
    int answer = 42;
    int line = __LINE__ + 1;
    std::string reports = ReportsOf([&] { EXPECT_FALSE(VERIFY(answer == 41)); });
    EXPECT_EQ(reports, kPrefix + "VERIFY FAILED:  code : answer == 41 in " __FILE__ ":" + std::to_string(line) +
                           " (operator())\n");

    // A passing check writes nothing and hands its value on.
    EXPECT_EQ(ReportsOf([&] { EXPECT_TRUE(VERIFY(answer == 42)); }), "");
    // The expression is evaluated exactly once.
    int calls = 0;
    ReportsOf([&] { VERIFY(++calls == 0); });
    EXPECT_EQ(calls, 1);
}

TEST(DebugLogReports, FailedStatusNamesItThroughTheLoadedCoreServicesFramework)
{
    int line = __LINE__ + 1;
    std::string reports = ReportsOf([] { VERIFY_OSERR(OSErr(fnfErr)); });
    EXPECT_EQ(reports, kPrefix + "VERIFY_OSERR FAILED: OSErr:-43 (fnfErr/File not found)  code : OSErr(fnfErr) in " __FILE__
                                 ":" + std::to_string(line) + " (operator())\n");
    EXPECT_TRUE(CoreServicesFramework::sCoreServices.IsLoaded());

    // Code-signing and certificate statuses come from the same table; the
    // status is widened with its sign and handed back to the caller.
    OSStatus status = 0;
    reports = ReportsOf([&] { status = VERIFY_OSERR(OSStatus(-67062)); });
    EXPECT_EQ(status, -67062);
    EXPECT_NE(reports.find("OSErr:-67062 (errSecCSUnsigned/code object is not signed at all)  code : "),
              std::string::npos) << reports;
    reports = ReportsOf([] { VERIFY_OSERR(OSStatus(-67818)); });
    EXPECT_NE(reports.find("(errSecCertificateExpired/An expired certificate was detected.)"), std::string::npos);

    // A status without a name still gives the line, with empty texts.
    reports = ReportsOf([] { VERIFY_OSERR(12345); });
    EXPECT_NE(reports.find("VERIFY_OSERR FAILED: OSErr:12345 (/)  code : 12345 in "), std::string::npos) << reports;
}

TEST(DebugLogReports, WithoutTheCoreServicesFrameworkTheLineComesWithEmptyTexts)
{
    T_CFBaseDLL<I_CFBundleDLL>& coreServices = CoreServicesFramework::sCoreServices;
    coreServices.Unload();
    EXPECT_FALSE(coreServices.LoadSystemFramework(CFSTR("Absent.framework")));

    std::string reports = ReportsOf([] { VERIFY_OSERR(OSErr(fnfErr)); });
    EXPECT_NE(reports.find("VERIFY_OSERR FAILED: OSErr:-43 (/)  code : OSErr(fnfErr) in "), std::string::npos)
        << reports;
    EXPECT_FALSE(coreServices.IsLoaded());

    EXPECT_TRUE(coreServices.LoadSystemFramework(CFSTR("CoreServices.framework")));
}

TEST(DebugLogReports, MessagesAreCutToTheBufferAndTakenLiterallyByTheStringForm)
{
    std::string longText(5000, 'y');
    std::string reports = ReportsOf([&] { CoreMachDebugLog("%s", longText.c_str()); });
    EXPECT_EQ(reports, kPrefix + std::string(1023, 'y'));

    reports = ReportsOf([] { CoreMachDebugLogString("100% sure %s %n"); });
    EXPECT_EQ(reports, kPrefix + "100% sure %s %n");
}

TEST(DebugLogRoutes, FileRouteWithoutLogsFolderDropsAndRetriesEachMessage)
{
    TempDir home;
    ProbeRun run = RunProgram("plinth_log_probe",
                              {"0", "string:first\n", "string:second\n", "mkdir:" + LogsFolder(home), "string:third\n",
                               "string:fourth\n"},
                              HomeAt(home));
    ASSERT_EQ(run.exitCode, 0) << run.err;
    // Two failed look-ups, one per dropped message, each reported; the log
    // never made the folder itself (the probe did, before the third).
    EXPECT_EQ(Count(run.err, "VERIFY_OSERR FAILED: OSErr:-43 (fnfErr/File not found)  code : FSFindFolder(domain, "
                             "kLogsFolderType, kDontCreateFolder, &sUserLogsFolder) in "),
              2u)
        << run.err;
    EXPECT_EQ(Count(run.err, "(CoreMachDebugLogClassInitialize)"), 2u);
    EXPECT_EQ(readFile(LogsFolder(home) + "/CoreMachDebugLog.log"), "third\nfourth\n");
    EXPECT_EQ(run.out, "");
}

TEST(DebugLogRoutes, FileRouteAppendsAndUnknownRoutesWriteTheFile)
{
    TempDir home;
    makeFolders(LogsFolder(home));
    std::string file = LogsFolder(home) + "/CoreMachDebugLog.log";
    for (const char* route : {"0", "3", "-7"}) {
        ProbeRun run = RunProgram("plinth_log_probe", {route, std::string("format:") + route + "%d\n"}, HomeAt(home));
        ASSERT_EQ(run.exitCode, 0) << run.err;
        EXPECT_EQ(run.out, "");
    }
    EXPECT_EQ(readFile(file), "[0%d\n][3%d\n][-7%d\n]");
}

TEST(DebugLogRoutes, ConsoleAndFileRoutePrefixesStandardOutputOnly)
{
    TempDir home;
    makeFolders(LogsFolder(home));
    ProbeRun run = RunProgram("plinth_log_probe", {"4", "string:one\n", "verify"}, HomeAt(home));
    ASSERT_EQ(run.exitCode, 0) << run.err;
    std::string verifyLine = "VERIFY FAILED:  code : answer == 41 in ";
    ASSERT_EQ(run.out.rfind("CoreMachDebugLog:one\nCoreMachDebugLog:" + verifyLine, 0), 0u) << run.out;
    std::string logged = readFile(LogsFolder(home) + "/CoreMachDebugLog.log");
    EXPECT_EQ(logged.rfind("one\n" + verifyLine, 0), 0u) << logged;
    EXPECT_EQ(run.out, "CoreMachDebugLog:one\nCoreMachDebugLog:" + logged.substr(4));
}

TEST(DebugLogRoutes, LongMessagesAreCutAtTheBufferOnEveryRoute)
{
    TempDir home;
    makeFolders(LogsFolder(home));
    ProbeRun run = RunProgram("plinth_log_probe", {"4", "long:4000"}, HomeAt(home));
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(readFile(LogsFolder(home) + "/CoreMachDebugLog.log"), std::string(1023, 'x'));
    EXPECT_EQ(run.out, "CoreMachDebugLog:" + std::string(1023, 'x'));
}

TEST(DebugLogRoutes, LogFileNameComesFromTheLinkTimeSettings)
{
    TempDir home;
    makeFolders(LogsFolder(home));

    // An empty name selects CoreConsole.log.
    ProbeRun run = RunProgram("plinth_log_probe", {"0", "filename:", "string:console\n"}, HomeAt(home));
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(readFile(LogsFolder(home) + "/CoreConsole.log"), "console\n");

    // A program that defines the settings itself replaces both defaults.
    run = RunProgram("plinth_log_probe_custom", {"4", "string:custom\n"}, HomeAt(home));
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, "ProbeCustom:custom\n");
    EXPECT_EQ(readFile(LogsFolder(home) + "/ProbeCustom.log"), "custom\n");
    EXPECT_FALSE(exists(LogsFolder(home) + "/CoreMachDebugLog.log"));
}

TEST(DebugLogRoutes, LogFilePathThatWouldNotFitIsRefusedNotCut)
{
    // A Logs folder whose path leaves no room for "/CoreMachDebugLog.log" in
    // 1024 bytes, but fits on its own.
    TempDir home;
    std::string state = home.path();
    while (1006 - state.size() >= 2)
        state += "/" + std::string(std::min<size_t>(200, 1006 - state.size() - 1), 'd');
    std::string logs = state + "/log";
    ASSERT_GE(logs.size() + std::string("/CoreMachDebugLog.log").size(), 1024u);
    ASSERT_LE(logs.size(), 1023u);
    makeFolders(logs);

    ProbeRun run = RunProgram("plinth_log_probe", {"0", "string:lost\n"}, {{"XDG_STATE_HOME", state}});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.err.find("VERIFY FAILED:  code : fOk = (length > 0 && size_t(length) < sizeof(sCoreDebugLogFileName))"),
              std::string::npos)
        << run.err;
    EXPECT_TRUE(std::filesystem::is_empty(logs));
}

TEST(DebugLogRoutes, AppleSystemLogRouteEchoesTheRecordOnStandardError)
{
    TempDir home;
    ProbeRun run = RunProgram("plinth_log_probe", {"1", "string:to asl\n", "verify"}, HomeAt(home));
    ASSERT_EQ(run.exitCode, 0) << run.err;
    std::string ident = "CoreMachDebugLog[" + std::to_string(run.pid) + "]: ";
    // The record is the message and the "%s\n" newline: the line feed twice.
    EXPECT_NE(run.err.find(ident + "to asl\n\n"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find(ident + "VERIFY FAILED:  code : answer == 41 in "), std::string::npos) << run.err;
    EXPECT_EQ(run.out, "");
    EXPECT_FALSE(exists(LogsFolder(home)));
}

TEST(DebugLogRoutes, SyslogRouteSendsThePrefixedLineToSyslog)
{
    TempDir home;
    ProbeRun run = RunProgram("plinth_log_probe", {"2", "syslog-echo", "string:to syslog\n"}, HomeAt(home));
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.err.find(": CoreMachDebugLog:to syslog\n"), std::string::npos) << run.err;
    EXPECT_FALSE(exists(LogsFolder(home)));
}

TEST(RequirementReports, GoToTheAppleSystemLogOrNSLogWhateverTheRoute)
{
    std::fflush(stderr);
    testing::internal::CaptureStderr();
    int line = __LINE__ + 1;
    EXPECT_FALSE(REQUIRED_CF(1 > 2));
    EXPECT_EQ(REQUIRED_OSSTATUS(OSStatus(-67050)), -67050);
    EXPECT_FALSE(REQUIRED_NSERROR_NIL(NSError::errorWithDomain(NSPOSIXErrorDomain, 2, nullptr)));
    EXPECT_TRUE(REQUIRED_NSERROR_NIL((NSError*)nullptr));
    std::string err = testing::internal::GetCapturedStderr();

    std::string at = " in " __FILE__ ":";
    EXPECT_NE(err.find("RequiredCoreFoundation.cpp[" + std::to_string(getpid()) + "]: REQUIREMENT FAILED:  code : 1 > 2" +
                       at + std::to_string(line) + " (TestBody)\n"),
              std::string::npos)
        << err;
    EXPECT_NE(err.find("REQUIRED_OSSTATUS(-67050) errSecCSReqFailed code failed to satisfy specified code requirement(s):"
                       "  code : OSStatus(-67050)" + at + std::to_string(line + 1) + " (TestBody)\n"),
              std::string::npos)
        << err;
    EXPECT_NE(err.find("REQUIRED_NSERROR_NIL FAILED ("), std::string::npos) << err;
    EXPECT_NE(err.find(") :  code : NSError::errorWithDomain(NSPOSIXErrorDomain, 2, nullptr)" + at +
                       std::to_string(line + 2) + " (TestBody)\n"),
              std::string::npos)
        << err;
    EXPECT_EQ(Count(err, "REQUIRED_NSERROR_NIL FAILED"), 1u);
}

TEST(AppleSystemLog, EchoesOnStandardErrorAndLeavesSyslogAsItFoundIt)
{
    std::fflush(stderr);
    testing::internal::CaptureStderr();
    aslclient client = asl_open("plinth-asl-test", "Tests", ASL_OPT_STDERR);
    EXPECT_EQ(asl_log(client, nullptr, ASL_LEVEL_NOTICE, "value %d", 7), 0);
    EXPECT_EQ(asl_log(client, nullptr, 8, "out of range"), -1);
    asl_close(client);
    aslclient quiet = asl_open("plinth-asl-quiet", "Tests", 0);
    asl_log(quiet, nullptr, ASL_LEVEL_DEBUG, "not echoed");
    asl_close(quiet);
    // No echo was left switched on for the program's own syslog(3) calls.
    syslog(LOG_DEBUG, "plain syslog");
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err, "plinth-asl-test[" + std::to_string(getpid()) + "]: value 7\n");
}

} // namespace
