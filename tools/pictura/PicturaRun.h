// Runs a parsed pictura command line: each picture loaded, processed and written, one after the other
// or in worker processes, with progress, timings and a summary on standard error.
#pragma once

#include "CommandLine.h"

// Returns the exit code: 0 when every picture was written, 1 otherwise. argc and argv are for the
// applications it creates. Throws TUsageError for outputs that cannot be planned.
int RunCommandLine(const TCommandLine& Line, int& argc, char** argv);
