// The debug log: the library's one diagnostic channel, and the checks VERIFY
// and VERIFY_OSERR that report through it.
//
// A failed check writes one line naming the checked expression, the source
// file, the line and the function, and the caller carries on. Lines go to the
// route chosen once per process:
//
//   kCoreLogOutput_File            append to "CoreMachDebugLog.log" in the user's Logs folder
//   kCoreLogOutput_ASL             the Apple System Log (ident and facility "CoreMachDebugLog",
//                                  debug level, echoed on standard error)
//   kCoreLogOutput_Syslog          syslog(3), debug level: "CoreMachDebugLog:<message>"
//   kCoreLogOutput_ConsoleAndFile  "CoreMachDebugLog:<message>" on standard output, then the file
//
// Any other value behaves as kCoreLogOutput_File. The user's Logs folder is
// FSFindFolder(kUserDomain, kLogsFolderType): $XDG_STATE_HOME/log (by default
// ~/.local/state/log). The log never creates it; while it is missing, file
// route messages are dropped and the folder is looked for again with the next
// one. A report raised while the log file's path is being worked out goes to
// standard error instead of starting that work again.
//
// Messages are formatted into 1024 bytes: longer ones are cut at 1023
// characters. A log file path that would not fit in 1024 bytes is refused
// (reported, and the file route drops its messages).
#pragma once

#include "CoreMachDebugLog_weak_extern.h"
#include "CoreServices/Files.h"
#include "CoreServices/MacTypes.h"

enum kCoreLogOutput : int32_t {
    kCoreLogOutput_File = 0,
    kCoreLogOutput_ASL = 1,
    kCoreLogOutput_Syslog = 2,
    kCoreLogOutput_ConsoleAndFile = 4,
};

// The route for the rest of the process; the value is not checked.
void CoreMachDebugLogSetUseLogger(kCoreLogOutput in_output);
void CoreMachDebugLog(const char* in_format, ...) __attribute__((format(printf, 1, 2)));
void CoreMachDebugLogString(const char* in_message);
// Works out the log file's path; true once it is known.
bool CoreMachDebugLogClassInitialize();

// The report bodies of the checks below. `code` is " code : " and the
// expression's text (or any text of the caller's).
void _CoreMachDebugVerifyBody(const char* in_function, const char* in_file, int in_line, const char* in_code);
void _CoreMachDebugVerifyOSerrBody(int in_status, const char* in_function, const char* in_file, int in_line,
                                   const char* in_code);

// A reference that still names an existing object.
bool bool_FSRef_IsValid(const FSRef& fileRef);
// The reference's POSIX path into a 1024-byte buffer.
bool bool_FSRef_GetUnixPath(const FSRef& fileRef, char* out_path);

inline bool _CoreMachDebugVerify(bool in_value, const char* in_function, const char* in_file, int in_line,
                                 const char* in_code)
{
    if (!in_value)
        _CoreMachDebugVerifyBody(in_function, in_file, in_line, in_code);
    return in_value;
}

inline OSStatus _CoreMachDebugVerifyOSerr(OSStatus in_status, const char* in_function, const char* in_file,
                                          int in_line, const char* in_code)
{
    if (in_status != 0)
        _CoreMachDebugVerifyOSerrBody(in_status, in_function, in_file, in_line, in_code);
    return in_status;
}

// VERIFY(expression): evaluates the expression once; when it is false, files
// "VERIFY FAILED: ..." and carries on. Its value is the expression's truth.
#define VERIFY(expression)                                                                        \
    _CoreMachDebugVerify(static_cast<bool>(expression), __func__, __FILE__, __LINE__,             \
                         " code : " #expression)

// VERIFY_OSERR(expression): evaluates a status once (an OSErr widened with its
// sign); when it is not 0, files "VERIFY_OSERR FAILED: ..." with the status's
// name and comment, and carries on. Its value is the status.
#define VERIFY_OSERR(expression)                                                                  \
    _CoreMachDebugVerifyOSerr((expression), __func__, __FILE__, __LINE__, " code : " #expression)
