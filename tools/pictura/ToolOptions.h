// The tool's options other than the operations, described once for --help, the man page, the shell
// completions and the suggestion after a mistyped option.
#pragma once

#include <string>
#include <string_view>
#include <vector>

struct TToolOption {
    const char* Short;           // "-o", or ""
    const char* Long;            // "--output", or "" for an option with a short name only
    const char* Value;           // "FILE" for an option that takes a value, else ""
    const char* Help;            // one line; a second line after "\n"
    const char* Completion = ""; // what a shell completes the value with: "file", "folder", or a word list
};

// Every option, in the order --help lists them.
const std::vector<TToolOption>& ToolOptions();

// Every option name the tool takes, short and long, operations included ("--red-envelop").
std::vector<std::string> OptionNames();

// The known option nearest to Unknown when it is near enough to be a likely typo; empty otherwise.
std::string NearestOption(std::string_view Unknown);
