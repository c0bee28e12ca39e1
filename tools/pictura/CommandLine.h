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
    std::optional<int> Compression; // --compression for PNG, TIFF and WebP
    bool AutoOrient = false;        // --auto-orient: pixels turned upright from the EXIF orientation first
    int Jobs = 0;                   // -j: pictures at once; 0 for as many as there are cores
    std::optional<std::pair<int, int>> Size; // the control's size instead of the picture's
    TConvertAnswer Convert = TConvertAnswer::Ask;
    bool Time = false;
    bool Progress = false; // --progress: show progress even when standard error is not a terminal
    bool Quiet = false;    // --quiet: no progress, notes nor summary; errors still show
    bool Help = false;
    bool Version = false;
    bool PrintEnvelops = false;
    bool Recursive = false;    // -r: folders among the inputs are walked
    std::string FilesFrom;     // --files-from: a file of input names, "-" for standard input
    bool NulSeparated = false; // -0: those names end in NUL, not in a line break
    std::vector<TOperation> Operations;
    // For each input found by walking a folder, its folder below the one given ("" for the others):
    // --out-dir keeps that structure. Filled by GatherInputs, parallel to Inputs.
    std::vector<std::string> Subfolders;
};

// Parses the arguments after the program name. Envelope files named by --envelop-file are read here,
// so that every input problem shows before any work. Throws TUsageError.
TCommandLine ParseCommandLine(const std::vector<std::string>& Args);

// Checks that the inputs and outputs fit together (several inputs need --out-dir or a pattern, standard
// input and output alone, ...). ParseCommandLine calls it on the inputs given, GatherInputs again on
// all of them (-r, --files-from). Throws TUsageError.
void CheckOutputs(const TCommandLine& Line);

// The text of --help, and its parts: the forms of the command line, one a line, and what it does.
std::string UsageText();
std::string UsageSynopsis();
std::string UsageDescription();

// The ranges of Spec's values as --help states them: " (AMOUNT -128..127, RADIUS 0..2147483647)".
std::string ValueRanges(const TOperationSpec& Spec);
