// The two forms of a report: readable text grouped as the window groups it,
// and one JSON object per line.
#pragma once

#include "FileControllers.h"

#include <string>

std::string textReport(const FileReport& report);
std::string jsonReport(const FileReport& report);
