// The debug log's two link-time settings. Their definitions in
// CoreMachDebugLog_weak_extern.cpp are weak: a program that defines either
// symbol itself, e.g.
//
//     const char* g_CoreMachDebug_LogFileName = "MyTool.log";
//
// replaces the default when it is linked. The log reads them through the
// symbols every time, so they may also be changed at run time.
#pragma once

// Identity of the Apple System Log client and prefix of console and syslog
// lines. Default "CoreMachDebugLog".
extern const char* g_CoreMachDebug_LogPrefix;
// Name of the log file in the user's Logs folder; an empty name selects
// "CoreConsole.log". Default "CoreMachDebugLog.log".
extern const char* g_CoreMachDebug_LogFileName;
