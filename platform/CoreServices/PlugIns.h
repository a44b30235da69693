// The program's own plug-ins: shared libraries built with it and installed
// beside its frameworks, as <prefix>/lib/sentrel/PlugIns/<Name>.so (<prefix>
// as for FSFindFolder: the folder above the running executable's). Code that
// needs a large library only now and then -- Qt's MIME database, Qt's image
// readers -- lives in one, so that a run that never asks for it never loads
// that library. A plug-in's entry points take and answer plain C++ values
// only: the program does not export its own symbols to it.
#pragma once

#include <string>

namespace sentrel::plugins {

// <prefix>/lib/sentrel/PlugIns
std::string folder();

// The address of `entry` in the plug-in `name`. The plug-in is loaded on the
// first call and kept for the life of the process. nullptr when it cannot be
// loaded or has no such entry; the first failure for a plug-in is written to
// standard error, later calls fail quietly.
void* entry(const char* name, const char* entry);

} // namespace sentrel::plugins
