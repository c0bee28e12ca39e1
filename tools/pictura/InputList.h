// The inputs of a command line made whole: names read from --files-from, folders walked with -r.
#pragma once

#include "CommandLine.h"

// The most --files-from reads: 64 MiB of names (some half a million paths) is past any list of pictures.
constexpr size_t MaxFilesFromBytes = size_t(64) << 20;

// Adds the names --files-from gives to Line's inputs and replaces each folder among them by the
// pictures found below it (with -r; without, a folder is an error), sorted by name within the walk.
// Files whose extension names no readable format are passed over while walking; the --out-dir folder is
// never walked. Then checks the outputs against the inputs. Throws TUsageError.
void GatherInputs(TCommandLine& Line);
