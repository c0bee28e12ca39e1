// Runs a parsed pictura command line on an image control.
#pragma once

#include "CommandLine.h"

#include <iosfwd>

// Loads, runs the operations, saves; returns the exit code. Errors go to Err as one line each.
int RunCommandLine(const TCommandLine& CommandLine, std::ostream& Out, std::ostream& Err);
