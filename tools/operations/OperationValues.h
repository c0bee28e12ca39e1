// Operations' values as people write them, read against the ranges of the table: the tool's options
// ("--blur 50,2"), the viewer's --op ("blur=50,2") and envelope files. Every bad value is a TUsageError
// whose one line names the option and, for a number out of range, the range.
#pragma once

#include "OperationTable.h"

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

// Parses the value of one operation's option: Option is how it was written ("--blur"), for messages.
// An envelope file named by the value is read here, so that every input problem shows before any work.
TOperation ParseOperationValue(const TOperationSpec& Spec, std::optional<TChannel> Channel,
                               const std::string& Option, const std::string& Value);

// Parses one operation given by name without the dashes and its argument, as in "blur" and "50,2".
TOperation ParseOperation(const std::string& Name, const std::string& Argument);

// Parses the text of an envelope file: 256 percents (0..100), one per line or separated by white space.
// Source names the file in messages. Throws TUsageError naming the line of a bad value.
std::vector<std::pair<int, double>> ParseEnvelopFile(const std::string& Text, const std::string& Source);
