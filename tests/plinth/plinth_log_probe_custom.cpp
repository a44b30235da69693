// The log probe with its own log settings, replacing the library's weak
// defaults at link time.
const char* g_CoreMachDebug_LogPrefix = "ProbeCustom";
const char* g_CoreMachDebug_LogFileName = "ProbeCustom.log";
