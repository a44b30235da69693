#include "CoreMachDebugLog.h"

#include "CoreBaseDLL.h"
#include "CoreStaticInitOrder.h"
#include "CoreServices/CatalogInfo.h"
#include "CoreServices/Folders.h"
#include "asl/asl.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <syslog.h>

T_CFBaseDLL<I_CFBundleDLL> CoreServicesFramework::sCoreServices CORE_INIT_ORDER(kCoreInitRank_CoreServicesFramework)(
    CFSTR("CoreServices.framework"));

namespace {

kCoreLogOutput sLogOutput = kCoreLogOutput_File;
FSRef sUserLogsFolder;              // zeroed: not a valid reference
char sUserLogsPath[1024];
char sCoreDebugLogFileName[1024];
bool sResolvingLogFile = false;     // CoreMachDebugLogClassInitialize is at work

const char* text(const char* in_text) { return in_text ? in_text : ""; }

class ResolvingLogFile {
public:
    ResolvingLogFile() { sResolvingLogFile = true; }
    ~ResolvingLogFile() { sResolvingLogFile = false; }
};

void WriteToLogFile(const char* in_message)
{
    static bool fClassInitialized = false;
    if (sResolvingLogFile) {
        // A check failed while the path is being worked out: say so on
        // standard error rather than start over.
        std::fprintf(stderr, "%s:%s", g_CoreMachDebug_LogPrefix, in_message);
        return;
    }
    if (!fClassInitialized)
        fClassInitialized = CoreMachDebugLogClassInitialize();
    FILE* file = std::fopen(sCoreDebugLogFileName, "at");
    if (!file)
        return;
    std::fseek(file, 0, SEEK_END);
    std::fputs(in_message, file);
    std::fclose(file);
}

} // namespace

void CoreMachDebugLogSetUseLogger(kCoreLogOutput in_output)
{
    sLogOutput = in_output;
}

void CoreMachDebugLog(const char* in_format, ...)
{
    char buffer[1024];
    va_list arguments;
    va_start(arguments, in_format);
    int length = std::vsnprintf(buffer, sizeof(buffer), text(in_format), arguments);
    va_end(arguments);
    if (length < 0)
        buffer[0] = '\0';
    CoreMachDebugLogString(buffer);
}

void CoreMachDebugLogString(const char* in_message)
{
    const char* message = text(in_message);
    switch (sLogOutput) {
    case kCoreLogOutput_ASL: {
        aslclient client = asl_open(g_CoreMachDebug_LogPrefix, "CoreMachDebugLog", ASL_OPT_STDERR);
        asl_log(client, nullptr, ASL_LEVEL_DEBUG, "%s\n", message);
        asl_close(client);
        break;
    }
    case kCoreLogOutput_Syslog:
        syslog(LOG_DEBUG, "%s:%s\n", g_CoreMachDebug_LogPrefix, message);
        break;
    case kCoreLogOutput_ConsoleAndFile:
        std::printf("%s:%s", g_CoreMachDebug_LogPrefix, message);
        std::fflush(stdout);
        WriteToLogFile(message);
        break;
    default:
        WriteToLogFile(message);
        break;
    }
}

bool bool_FSRef_IsValid(const FSRef& fileRef)
{
    FSCatalogInfo info;
    return FSGetCatalogInfo(&fileRef, kFSCatInfoCreateDate, &info, nullptr, nullptr, nullptr) == noErr;
}

bool bool_FSRef_GetUnixPath(const FSRef& fileRef, char* out_path)
{
    if (!VERIFY(bool_FSRef_IsValid(fileRef)))
        return false;
    return FSRefMakePath(&fileRef, reinterpret_cast<UInt8*>(out_path), 1024) == noErr;
}

bool CoreMachDebugLogClassInitialize()
{
    if (bool_FSRef_IsValid(sUserLogsFolder))
        return true;
    ResolvingLogFile resolving;

    SInt16 domain = kUserDomain;
    if (VERIFY_OSERR(FSFindFolder(domain, kLogsFolderType, kDontCreateFolder, &sUserLogsFolder)) != noErr) {
        std::memset(&sUserLogsFolder, 0, sizeof(sUserLogsFolder));
        return false;
    }

    bool fOk;
    sUserLogsPath[0] = '\0';
    VERIFY(fOk=bool_FSRef_GetUnixPath(sUserLogsFolder, sUserLogsPath));
    if (!fOk) {
        std::memset(&sUserLogsFolder, 0, sizeof(sUserLogsFolder));
        return false;
    }

    const char* fileName = g_CoreMachDebug_LogFileName && g_CoreMachDebug_LogFileName[0] != '\0'
                               ? g_CoreMachDebug_LogFileName
                               : "CoreConsole.log";
    int length = std::snprintf(sCoreDebugLogFileName, sizeof(sCoreDebugLogFileName), "%s/%s", sUserLogsPath, fileName);
    // A path that does not fit would name another file: refuse it.
    VERIFY(fOk = (length > 0 && size_t(length) < sizeof(sCoreDebugLogFileName)));
    if (!fOk) {
        sCoreDebugLogFileName[0] = '\0';
        std::memset(&sUserLogsFolder, 0, sizeof(sUserLogsFolder));
        return false;
    }
    return true;
}

void _CoreMachDebugVerifyBody(const char* in_function, const char* in_file, int in_line, const char* in_code)
{
    CoreMachDebugLog("VERIFY FAILED: %s in %s:%d (%s)\n", text(in_code), text(in_file), in_line, text(in_function));
}

void _CoreMachDebugVerifyOSerrBody(int in_status, const char* in_function, const char* in_file, int in_line,
                                   const char* in_code)
{
    typedef const char* (*StatusTextFunction)(OSStatus);
    T_CFBaseDLL<I_CFBundleDLL>& coreServices = CoreServicesFramework::sCoreServices;
    const char* statusName = "";
    const char* statusComment = "";
    StatusTextFunction function = nullptr;

    if (!coreServices.IsLoaded())
        coreServices.LoadSystemFramework(nullptr);
    if (coreServices.GetFunctionPointer(CFSTR("GetMacOSStatusErrorString"), function))
        statusName = text(function(in_status));
    if (!coreServices.IsLoaded())
        coreServices.LoadSystemFramework(nullptr);
    if (coreServices.GetFunctionPointer(CFSTR("GetMacOSStatusCommentString"), function))
        statusComment = text(function(in_status));

    CoreMachDebugLog("VERIFY_OSERR FAILED: OSErr:%d (%s/%s) %s in %s:%d (%s)\n", in_status, statusName, statusComment,
                     text(in_code), text(in_file), in_line, text(in_function));
}
