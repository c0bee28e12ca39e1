// The viewer's command line: a picture to open, operations to run on it, and a screenshot to take.
#pragma once

#include "OperationValues.h"

#include <QStringList>

#include <optional>
#include <vector>

struct TViewerOptions {
    QString File;                       // the picture to open; empty for none
    std::vector<TOperation> Operations; // --op, in the order given
    QStringList OperationLabels;        // each --op's name for the history and the status bar
    QString Screenshot;                 // --screenshot: where to write the PNG; empty for a normal run
};

// Runs that show no window (a screenshot, --help, --version) need no display: unless a platform was
// chosen, they use "offscreen". Must run before the application object exists.
void UseOffscreenWithoutWindow(int argc, char** argv);

// The name of an --op for people: "blur=50,2" gives "Blur 50, 2", "apply-envelops" "Apply envelops".
QString OperationLabel(const QString& Text);

// Reads the command line. --help and --version print and end the program, as do unknown options;
// an --op that cannot be parsed prints a message to standard error and gives nullopt.
std::optional<TViewerOptions> ReadViewerOptions(const QStringList& Arguments);
