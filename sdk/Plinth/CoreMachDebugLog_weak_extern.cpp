#include "CoreMachDebugLog_weak_extern.h"

__attribute__((weak)) const char* g_CoreMachDebug_LogPrefix = "CoreMachDebugLog";
__attribute__((weak)) const char* g_CoreMachDebug_LogFileName = "CoreMachDebugLog.log";
