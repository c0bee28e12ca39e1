// Numbers as the tool reads them: one sign rule for all (a leading + or -), whole numbers and reals,
// and one range rule: a value outside its range is an error naming the range. A number too large for
// the machine reads as the infinity of its sign, and so falls outside every range.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// Parses Text as a whole number within Min..Max; What names the value in messages (the option). Throws
// TUsageError.
int64_t ParseWhole(std::string_view Text, const std::string& What, int64_t Min, int64_t Max);

// Parses Text as a decimal real within Min..Max (a NaN is never one); throws TUsageError.
double ParseReal(std::string_view Text, const std::string& What, double Min, double Max);

// Shortest text that reads back as Value: 100, 0.5, 2147483647.
std::string NumberString(double Value);
