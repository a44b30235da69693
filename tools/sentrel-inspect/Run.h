// One run of sentrel-inspect: the walk over what the command line names,
// every entry inspected (by the inspector module, in this process or in
// workers), the reports in walk order and the summary.
#pragma once

#include "Options.h"

// The exit status: 0 all inspected, 1 an error, 3 something not genuine.
int runInspection(const Options& options);
