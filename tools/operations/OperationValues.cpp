#include "OperationValues.h"

#include "MessageText.h"
#include "NumberText.h"

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

[[noreturn]] void Fail(const std::string& Message) {
    throw TUsageError(Message);
}

std::vector<std::string> Split(const std::string& Text, char Separator) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        const size_t at = Text.find(Separator, start);
        parts.push_back(Text.substr(start, at - start));
        if (at == std::string::npos) return parts;
        start = at + 1;
    }
}

// "--blur amount" for a value of several numbers, "--brightness" for a value of one.
std::string ParameterWhat(const TOperationSpec& Spec, const std::string& Option, size_t Index) {
    if (Spec.Parameters.size() < 2) return Option;
    return Option + " " + Lower(Spec.Parameters[Index].Name);
}

double ParseParameter(const TParameterSpec& Parameter, const std::string& Text, const std::string& What) {
    if (Parameter.Whole)
        return double(ParseWhole(Text, What, int64_t(Parameter.Min), int64_t(Parameter.Max)));
    return ParseReal(Text, What, Parameter.Min, Parameter.Max);
}

// An envelope file is 256 short numbers; anything far longer is not one.
constexpr std::uintmax_t MaxEnvelopFileBytes = 1 << 20;

std::string ReadFile(const std::string& Path, const std::string& What) {
    const std::string name = Quoted(Path, 256);
    // Only regular files: a pipe or device could block the open or never end (/dev/zero).
    std::error_code error;
    if (!std::filesystem::is_regular_file(Path, error)) {
        if (std::filesystem::is_directory(Path, error)) Fail(What + ": " + name + " is a folder");
        if (std::filesystem::exists(Path, error)) Fail(What + ": " + name + " is not a regular file");
        Fail(What + ": cannot read " + name);
    }
    const std::uintmax_t size = std::filesystem::file_size(Path, error);
    if (!error && size > MaxEnvelopFileBytes)
        Fail(What + ": " + name + " is too large for an envelope file (" + std::to_string(size) + " bytes)");
    std::ifstream file(Path, std::ios::binary);
    if (!file) Fail(What + ": cannot read " + name);
    std::string text(MaxEnvelopFileBytes + 1, '\0');
    file.read(text.data(), std::streamsize(text.size()));
    if (file.bad()) Fail(What + ": cannot read " + name);
    text.resize(size_t(file.gcount()));
    if (text.size() > MaxEnvelopFileBytes) Fail(What + ": " + name + " is too large for an envelope file");
    return text;
}

} // namespace

TOperation ParseOperationValue(const TOperationSpec& Spec, std::optional<TChannel> Channel,
                               const std::string& Option, const std::string& Value) {
    TOperation op{.Spec = &Spec, .Name = Option, .Channel = Channel};
    const auto shapeError = [&](const std::string& Got) {
        Fail(Option + ": expected " + Spec.ValueSyntax() + " (for example " + Spec.Example + "), got " +
             Quoted(Got));
    };
    switch (Spec.Shape) {
    case TValueShape::None:
        break;
    case TValueShape::Numbers: {
        const std::vector<std::string> parts = Split(Value, ',');
        if (parts.size() != Spec.Parameters.size()) shapeError(Value);
        for (size_t i = 0; i < parts.size(); ++i)
            op.Values.push_back(ParseParameter(Spec.Parameters[i], parts[i], ParameterWhat(Spec, Option, i)));
        break;
    }
    case TValueShape::Points:
        for (const std::string& item : Split(Value, ',')) {
            const size_t eq = item.find('=');
            if (eq == std::string::npos) shapeError(item);
            const double level = ParseParameter(Spec.Parameters[0], item.substr(0, eq), Option + " level");
            const double percent =
                ParseParameter(Spec.Parameters[1], item.substr(eq + 1), Option + " percent");
            const size_t count = op.Values.size();
            if (Spec.RisingLevels && count > 0 && level <= op.Values[count - 2])
                Fail(Option + ": level " + NumberString(level) + " comes after level " +
                     NumberString(op.Values[count - 2]) + "; give the points by rising level");
            op.Values.insert(op.Values.end(), {level, percent});
        }
        break;
    case TValueShape::ChannelFile: {
        const size_t eq = Value.find('=');
        if (eq == std::string::npos) shapeError(Value);
        op.Channel = ChannelByName(Value.substr(0, eq));
        if (!op.Channel)
            Fail(Option + ": unknown channel " + Quoted(Value.substr(0, eq)) + " (use red, green or blue)");
        const std::string path = Value.substr(eq + 1);
        for (const auto& [level, percent] : ParseEnvelopFile(ReadFile(path, Option), Quoted(path, 256)))
            op.Values.insert(op.Values.end(), {double(level), percent});
        break;
    }
    }
    return op;
}

TOperation ParseOperation(const std::string& Name, const std::string& Argument) {
    const auto found = FindOperation(Name);
    if (!found) Fail(Quoted(Name) + " is not an operation");
    const auto [spec, channel] = *found;
    const bool takesValue = spec->Shape != TValueShape::None;
    if (takesValue && Argument.empty()) Fail(Name + " needs a value after '='");
    if (!takesValue && !Argument.empty()) Fail(Name + " takes no value");
    return ParseOperationValue(*spec, channel, "--" + Name, Argument);
}

std::vector<std::pair<int, double>> ParseEnvelopFile(const std::string& Text, const std::string& Source) {
    std::vector<std::pair<int, double>> entries;
    const TParameterSpec& percent = OperationSpec("envelop-file").Parameters[1];
    std::istringstream lines(Text);
    std::string line;
    for (int lineNumber = 1; std::getline(lines, line); ++lineNumber) {
        std::istringstream words(line);
        std::string word;
        while (words >> word) {
            const std::string where = Source + ", line " + std::to_string(lineNumber);
            if (entries.size() == 256) Fail(where + ": more than 256 values");
            entries.emplace_back(int(entries.size()), ParseReal(word, where, percent.Min, percent.Max));
        }
    }
    if (entries.size() != 256)
        Fail(Source + ": holds " + std::to_string(entries.size()) + " values, expected 256 (one per level)");
    return entries;
}
