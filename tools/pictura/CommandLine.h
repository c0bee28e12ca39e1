// The pictura tool's command line: inputs, outputs, options and the operations to run, in the order given.
#pragma once

#include "OperationValues.h"

#include <optional>
#include <string>
#include <utility>
#include <vector>

enum class TConvertAnswer { Ask, Yes, No };

// Where the operation's results go and in which format.
struct TCommandLine {
    std::vector<std::string> Inputs; // "-" is standard input
    std::string Output;         // a file, a pattern with {stem}, {ext} or {dir}, or "-" for standard output
    std::string OutDir;         // --out-dir: each result there, named after its input
    std::string Suffix;         // --suffix: added to the stem in --out-dir
    std::string Format;         // --format: the extension naming the output format
    std::optional<int> Quality; // --quality for JPEG and WebP
    int Jobs = 0;               // -j: pictures at once; 0 for as many as there are cores
    std::optional<std::pair<int, int>> Size; // the control's size instead of the picture's
    TConvertAnswer Convert = TConvertAnswer::Ask;
    bool Time = false;
    bool Progress = false; // --progress: show progress even when standard error is not a terminal
    bool Quiet = false;    // --quiet: no progress, notes nor summary; errors still show
    bool Help = false;
    bool Version = false;
    bool PrintEnvelops = false;
    std::vector<TOperation> Operations;
};

// Parses the arguments after the program name. Envelope files named by --envelop-file are read here,
// so that every input problem shows before any work. Throws TUsageError.
TCommandLine ParseCommandLine(const std::vector<std::string>& Args);

// The text of --help.
std::string UsageText();
