// The usage text of sentrel-inspect.
#pragma once

extern const char* const kUsage;
