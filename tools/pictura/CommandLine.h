// The pictura tool's command line: options and the operations to run, in the order given.
#pragma once

#include <array>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

// A command line that cannot be run; the message is one line for standard error.
class TUsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

enum class TOperationKind {
    Invert,
    Brightness,
    GreyScale,
    Blur,
    Sharpen,
    SetEnvelop,   // Channel, Entries
    ApplyEnvelop, // Channel
    ApplyEnvelops,
};

// Channel numbers follow the pixel's byte order: 0 blue, 1 green, 2 red.
struct TOperation {
    TOperation(TOperationKind AKind, std::string AName) : Kind(AKind), Name(std::move(AName)) {}

    TOperationKind Kind;
    std::string Name;                            // the option as written, for messages and timings
    int Value = 0;                               // Brightness value, filter amount
    int Radius = 0;                              // filter radius
    int Channel = 0;                             // envelope channel
    std::vector<std::pair<int, double>> Entries; // envelope index and percent
};

enum class TConvertAnswer { Ask, Yes, No };

struct TCommandLine {
    std::string Input;
    std::string Output;
    std::optional<std::pair<int, int>> Size; // the control's size instead of the picture's
    TConvertAnswer Convert = TConvertAnswer::Ask;
    bool Time = false;
    bool Help = false;
    bool Version = false;
    bool PrintEnvelops = false;
    std::vector<TOperation> Operations;
};

// Parses the arguments after the program name. Envelope files named by --envelop-file are read here,
// so that every input problem shows before any work. Throws TUsageError.
TCommandLine ParseCommandLine(const std::vector<std::string>& Args);

// Parses the text of an envelope file: 256 percents, one per line or separated by white space.
// Source names the file in messages. Throws TUsageError naming the line of a bad value.
std::vector<std::pair<int, double>> ParseEnvelopFile(const std::string& Text, const std::string& Source);

// The text of --help.
std::string UsageText();
