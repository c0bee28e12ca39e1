// One picture of a run: loaded, processed by the operations and written, on its own.
#pragma once

#include "CommandLine.h"
#include "OutputPlan.h"

#include <string>

class TProgressLine;

struct TJobResult {
    bool Written = false;
    std::string Messages; // lines for standard error, each ending in a line break
};

// Runs Job with the operations and settings of Line. Errors, notes and timings come back as message
// lines, named after the picture when Named; Progress (may be null) shows each step. Needs a
// QApplication; never throws.
TJobResult RunPictureJob(const TPictureJob& Job, const TCommandLine& Line, bool Named,
                         TProgressLine* Progress);
