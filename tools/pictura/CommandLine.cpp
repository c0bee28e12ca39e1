#include "CommandLine.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <limits>
#include <sstream>

namespace {

[[noreturn]] void Fail(const std::string& Message) {
    throw TUsageError(Message);
}

int64_t ParseInteger(const std::string& Text, const std::string& What, int64_t Min, int64_t Max) {
    int64_t value = 0;
    const char* end = Text.data() + Text.size();
    const auto [ptr, ec] = std::from_chars(Text.data(), end, value);
    if (Text.empty() || ptr != end || (ec != std::errc() && ec != std::errc::result_out_of_range))
        Fail(What + ": \"" + Text + "\" is not a whole number");
    if (ec == std::errc::result_out_of_range || value < Min || value > Max)
        Fail(What + ": " + Text + " is out of range (" + std::to_string(Min) + " to " + std::to_string(Max) +
             ")");
    return value;
}

double ParsePercent(const std::string& Text, const std::string& What) {
    double value = 0;
    const char* begin = Text.data();
    if (!Text.empty() && Text[0] == '+') ++begin;
    const char* end = Text.data() + Text.size();
    const auto [ptr, ec] = std::from_chars(begin, end, value);
    // One sign at most: "+-5" is not a number.
    if (Text.empty() || ptr != end || ec == std::errc::invalid_argument ||
        (begin != Text.data() && *begin == '-'))
        Fail(What + ": \"" + Text + "\" is not a number");
    if (std::isnan(value)) Fail(What + ": \"" + Text + "\" is not a number");
    // Values too large or too small for a double still clamp like their infinities.
    if (ec == std::errc::result_out_of_range)
        value = Text.find('-') == 0 ? -HUGE_VAL : (std::fabs(value) < 1 ? 0 : HUGE_VAL);
    return value;
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

int ChannelByName(const std::string& Name, const std::string& What) {
    if (Name == "red") return 2;
    if (Name == "green") return 1;
    if (Name == "blue") return 0;
    Fail(What + ": unknown channel \"" + Name + "\" (use red, green or blue)");
}

TOperation FilterOperation(TOperationKind Kind, const std::string& Option, const std::string& Value) {
    const std::vector<std::string> parts = Split(Value, ',');
    if (parts.size() != 2)
        Fail(Option + ": expected AMOUNT,RADIUS (for example 50,2), got \"" + Value + "\"");
    TOperation op{Kind, Option};
    op.Value = int(ParseInteger(parts[0], Option + " amount", -128, 127));
    op.Radius = int(ParseInteger(parts[1], Option + " radius", 0, std::numeric_limits<int32_t>::max()));
    return op;
}

TOperation EnvelopEntries(int Channel, const std::string& Option, const std::string& Value) {
    TOperation op{TOperationKind::SetEnvelop, Option};
    op.Channel = Channel;
    for (const std::string& item : Split(Value, ',')) {
        const size_t eq = item.find('=');
        if (eq == std::string::npos) Fail(Option + ": expected INDEX=PERCENT, got \"" + item + "\"");
        const int index = int(ParseInteger(item.substr(0, eq), Option + " index", 0, 255));
        op.Entries.emplace_back(index, ParsePercent(item.substr(eq + 1), Option + " percent"));
    }
    return op;
}

// An envelope file is 256 short numbers; anything far longer is not one.
constexpr std::uintmax_t MaxEnvelopFileBytes = 1 << 20;

std::string ReadFile(const std::string& Path, const std::string& What) {
    // Only regular files: a pipe or device could block the open or never end (/dev/zero).
    std::error_code error;
    if (!std::filesystem::is_regular_file(Path, error)) {
        if (std::filesystem::is_directory(Path, error)) Fail(What + ": \"" + Path + "\" is a folder");
        if (std::filesystem::exists(Path, error)) Fail(What + ": \"" + Path + "\" is not a regular file");
        Fail(What + ": cannot read \"" + Path + "\"");
    }
    const std::uintmax_t size = std::filesystem::file_size(Path, error);
    if (!error && size > MaxEnvelopFileBytes)
        Fail(What + ": \"" + Path + "\" is too large for an envelope file (" + std::to_string(size) +
             " bytes)");
    std::ifstream file(Path, std::ios::binary);
    if (!file) Fail(What + ": cannot read \"" + Path + "\"");
    std::string text(MaxEnvelopFileBytes + 1, '\0');
    file.read(text.data(), std::streamsize(text.size()));
    if (file.bad()) Fail(What + ": cannot read \"" + Path + "\"");
    text.resize(size_t(file.gcount()));
    if (text.size() > MaxEnvelopFileBytes)
        Fail(What + ": \"" + Path + "\" is too large for an envelope file");
    return text;
}

} // namespace

std::vector<std::pair<int, double>> ParseEnvelopFile(const std::string& Text, const std::string& Source) {
    std::vector<std::pair<int, double>> entries;
    std::istringstream lines(Text);
    std::string line;
    for (int lineNumber = 1; std::getline(lines, line); ++lineNumber) {
        std::istringstream words(line);
        std::string word;
        while (words >> word) {
            if (entries.size() == 256)
                Fail(Source + ", line " + std::to_string(lineNumber) + ": more than 256 values");
            const std::string where = Source + ", line " + std::to_string(lineNumber);
            entries.emplace_back(int(entries.size()), ParsePercent(word, where));
        }
    }
    if (entries.size() != 256)
        Fail(Source + ": holds " + std::to_string(entries.size()) + " values, expected 256 (one per level)");
    return entries;
}

TCommandLine ParseCommandLine(const std::vector<std::string>& Args) {
    TCommandLine line;
    std::vector<std::string> positional;
    for (size_t i = 0; i < Args.size(); ++i) {
        const std::string& arg = Args[i];
        auto value = [&]() -> const std::string& {
            if (i + 1 >= Args.size()) Fail(arg + " needs a value");
            return Args[++i];
        };
        if (arg == "-o" || arg == "--output") {
            if (!line.Output.empty()) Fail("the output is given twice");
            line.Output = value();
            if (line.Output.empty()) Fail(arg + " needs a file name");
        } else if (arg == "--size") {
            const std::string& size = value();
            const size_t x = size.find('x');
            if (x == std::string::npos)
                Fail("--size: expected WIDTHxHEIGHT (for example 640x480), got \"" + size + "\"");
            line.Size = {
                int(ParseInteger(size.substr(0, x), "--size width", 0, std::numeric_limits<int32_t>::max())),
                int(ParseInteger(size.substr(x + 1), "--size height", 0,
                                 std::numeric_limits<int32_t>::max()))};
        } else if (arg == "--yes" || arg == "--no") {
            const TConvertAnswer answer = arg == "--yes" ? TConvertAnswer::Yes : TConvertAnswer::No;
            if (line.Convert != TConvertAnswer::Ask && line.Convert != answer)
                Fail("--yes and --no exclude each other");
            line.Convert = answer;
        } else if (arg == "--time") {
            line.Time = true;
        } else if (arg == "-h" || arg == "--help") {
            line.Help = true;
        } else if (arg == "--version") {
            line.Version = true;
        } else if (arg == "--print-envelops") {
            line.PrintEnvelops = true;
        } else if (arg == "--invert") {
            line.Operations.push_back({TOperationKind::Invert, arg});
        } else if (arg == "--greyscale") {
            line.Operations.push_back({TOperationKind::GreyScale, arg});
        } else if (arg == "--brightness") {
            TOperation op{TOperationKind::Brightness, arg};
            op.Value = int(ParseInteger(value(), arg, std::numeric_limits<int32_t>::min(),
                                        std::numeric_limits<int32_t>::max()));
            line.Operations.push_back(op);
        } else if (arg == "--blur") {
            line.Operations.push_back(FilterOperation(TOperationKind::Blur, arg, value()));
        } else if (arg == "--sharpen") {
            line.Operations.push_back(FilterOperation(TOperationKind::Sharpen, arg, value()));
        } else if (arg == "--red-envelop" || arg == "--green-envelop" || arg == "--blue-envelop") {
            const std::string channel = arg.substr(2, arg.find('-', 2) - 2);
            line.Operations.push_back(EnvelopEntries(ChannelByName(channel, arg), arg, value()));
        } else if (arg == "--envelop-file") {
            const std::string& spec = value();
            const size_t eq = spec.find('=');
            if (eq == std::string::npos) Fail(arg + ": expected CHANNEL=FILE, got \"" + spec + "\"");
            TOperation op{TOperationKind::SetEnvelop, arg};
            op.Channel = ChannelByName(spec.substr(0, eq), arg);
            const std::string path = spec.substr(eq + 1);
            op.Entries = ParseEnvelopFile(ReadFile(path, arg), "\"" + path + "\"");
            line.Operations.push_back(op);
        } else if (arg == "--apply-red-envelop" || arg == "--apply-green-envelop" ||
                   arg == "--apply-blue-envelop") {
            TOperation op{TOperationKind::ApplyEnvelop, arg};
            op.Channel = ChannelByName(arg.substr(8, arg.find('-', 8) - 8), arg);
            line.Operations.push_back(op);
        } else if (arg == "--apply-envelops") {
            line.Operations.push_back({TOperationKind::ApplyEnvelops, arg});
        } else if (arg.size() > 1 && arg[0] == '-') {
            Fail("unknown option \"" + arg + "\" (see --help)");
        } else {
            positional.push_back(arg);
        }
    }
    if (line.Help || line.Version) return line;
    if (positional.size() > 1) Fail("more than one input picture: \"" + positional[1] + "\"");
    if (!positional.empty()) line.Input = positional[0];

    bool touchesPicture = false;
    for (const TOperation& op : line.Operations)
        if (op.Kind != TOperationKind::SetEnvelop) touchesPicture = true;
    const bool printOnly = line.PrintEnvelops && line.Input.empty() && line.Output.empty() && !touchesPicture;
    if (!printOnly) {
        if (line.Input.empty()) Fail("no input picture (see --help)");
        if (line.Output.empty()) Fail("no output picture: give -o OUTPUT");
    }
    if (line.Size && line.Input.empty()) Fail("--size needs an input picture");
    return line;
}

std::string UsageText() {
    return R"(Usage: pictura INPUT -o OUTPUT [options] OPERATION...
       pictura [--red-envelop ...] --print-envelops

Loads INPUT into an image control sized to the picture, applies the operations in the order given
and writes the result to OUTPUT, whose extension names the format (bmp, png, ppm, jpg, ...).

Operations:
  --invert                     replace every channel c by 255 - c
  --brightness V               towards white (V > 0) or black (V < 0) by V percent (-100..100)
  --greyscale                  luma 0.2125 R + 0.7154 G + 0.0721 B
  --blur AMOUNT,RADIUS         move towards the window mean (AMOUNT -128..127, RADIUS >= 0)
  --sharpen AMOUNT,RADIUS      move away from the window mean
  --red-envelop I=P[,I=P...]   set red gains: level I at P percent (also --green-, --blue-envelop)
  --envelop-file CHANNEL=FILE  set a whole table from 256 percents (CHANNEL red, green or blue)
  --apply-red-envelop          apply one table (also --apply-green-envelop, --apply-blue-envelop)
  --apply-envelops             apply all three tables in one pass

Options:
  -o, --output FILE            where to write the result (replaced atomically)
  --size WxH                   process only the top-left W x H part of the picture
  --yes, --no                  answer to converting a picture that is not 24-bit; without either,
                               ask on a terminal, otherwise refuse
  --time                       print each operation's wall time to standard error
  --print-envelops             print the three gain tables (256 lines: red green blue)
  -h, --help                   show this help
  --version                    show the version
)";
}
