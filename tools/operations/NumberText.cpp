#include "NumberText.h"

#include "MessageText.h"
#include "OperationValues.h"

#include <charconv>
#include <cmath>
#include <limits>

namespace {

[[noreturn]] void OutOfRange(std::string_view Text, const std::string& What, double Min, double Max) {
    throw TUsageError(What + ": " + Printable(Text) + " is out of range (" + NumberString(Min) + " to " +
                      NumberString(Max) + ")");
}

// Whether a decimal number too large or too small for a double is too large: its leading digit stands at
// a power of ten of zero or more.
bool Overflows(std::string_view Digits) {
    const size_t exponentAt = Digits.find_first_of("eE");
    const std::string_view mantissa = Digits.substr(0, exponentAt);
    int64_t exponent = 0;
    if (exponentAt != std::string_view::npos) {
        std::string_view text = Digits.substr(exponentAt + 1);
        const bool negative = !text.empty() && text[0] == '-';
        if (!text.empty() && (text[0] == '-' || text[0] == '+')) text.remove_prefix(1);
        for (char c : text)
            exponent = std::min<int64_t>(exponent * 10 + (c - '0'), int64_t(1) << 40);
        if (negative) exponent = -exponent;
    }
    const size_t point = std::min(mantissa.find('.'), mantissa.size());
    const size_t first = mantissa.find_first_of("123456789");
    if (first == std::string_view::npos) return false;
    const int64_t leading = first < point ? int64_t(point - first - 1) : -int64_t(first - point);
    return leading + exponent >= 0;
}

} // namespace

std::string NumberString(double Value) {
    if (std::isinf(Value)) return Value < 0 ? "-infinity" : "infinity";
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, Value);
    return std::string(buffer, result.ptr);
}

int64_t ParseWhole(std::string_view Text, const std::string& What, int64_t Min, int64_t Max) {
    std::string_view digits = Text;
    if (!digits.empty() && digits[0] == '+') digits.remove_prefix(1);
    int64_t value = 0;
    const char* end = digits.data() + digits.size();
    const auto [ptr, ec] = std::from_chars(digits.data(), end, value);
    // One sign at most: from_chars takes a minus, so "+-5" must be caught here.
    if (digits.empty() || ptr != end || ec == std::errc::invalid_argument ||
        (digits.data() != Text.data() && digits[0] == '-'))
        throw TUsageError(What + ": " + Quoted(Text) + " is not a whole number");
    if (ec == std::errc::result_out_of_range || value < Min || value > Max)
        OutOfRange(Text, What, double(Min), double(Max));
    return value;
}

double ParseReal(std::string_view Text, const std::string& What, double Min, double Max) {
    std::string_view digits = Text;
    if (!digits.empty() && digits[0] == '+') digits.remove_prefix(1);
    double value = 0;
    const char* end = digits.data() + digits.size();
    const auto [ptr, ec] = std::from_chars(digits.data(), end, value);
    if (digits.empty() || ptr != end || ec == std::errc::invalid_argument ||
        (digits.data() != Text.data() && digits[0] == '-') || std::isnan(value))
        throw TUsageError(What + ": " + Quoted(Text) + " is not a number");
    if (ec == std::errc::result_out_of_range) {
        const bool negative = digits[0] == '-';
        if (negative) digits.remove_prefix(1);
        value = Overflows(digits) ? HUGE_VAL : 0.0;
        if (negative) value = -value;
    }
    if (!(value >= Min && value <= Max)) OutOfRange(Text, What, Min, Max);
    return value;
}
