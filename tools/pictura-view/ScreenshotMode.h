// Screenshot mode: the window with a picture and its operations, written as a PNG, for checks in CI.
#pragma once

#include "ViewerOptions.h"

class TViewerWindow;

// Smallest screenshot RunScreenshot writes, in pixels.
constexpr int MinScreenshotWidth = 640;
constexpr int MinScreenshotHeight = 480;

// Opens Options.File in Window, runs Options.Operations (answering the "Convert" box OK), writes a PNG
// of the whole window to Options.Screenshot and returns the exit status: 0, or 1 after printing the
// error to standard error.
int RunScreenshot(TViewerWindow& Window, const TViewerOptions& Options);
