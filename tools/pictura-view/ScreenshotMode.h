// Screenshot mode: the window with a picture and its operations, written to a picture file, for checks
// in CI.
#pragma once

#include "ViewerOptions.h"

class TViewerWindow;

// Smallest screenshot RunScreenshot writes, in pixels.
constexpr int MinScreenshotWidth = 640;
constexpr int MinScreenshotHeight = 480;

// Opens Options.File in Window, runs Options.Operations (answering the "Convert" box OK), writes a
// picture of the whole window to Options.Screenshot in the format its extension names and returns the
// exit status: 0, or 1 after printing the error to standard error. Refuses, before anything is run, an
// unknown extension and a destination that is the input file or exists but is not a regular file.
// The recent files are left as they were.
int RunScreenshot(TViewerWindow& Window, const TViewerOptions& Options);
