#include "Operations.h"

#include "MessageText.h"

TOperation ParseOperation(const std::string& Name, const std::string& Argument) {
    const auto found = FindOperation(Name);
    if (!found) throw TUsageError(Quoted(Name) + " is not an operation");
    const auto [spec, channel] = *found;
    const bool takesValue = spec->Shape != TValueShape::None;
    if (takesValue && Argument.empty()) throw TUsageError(Name + " needs a value after '='");
    if (!takesValue && !Argument.empty()) throw TUsageError(Name + " takes no value");
    return ParseOperationValue(*spec, channel, "--" + Name, Argument);
}
