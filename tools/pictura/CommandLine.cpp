#include "CommandLine.h"

#include "MessageText.h"
#include "NumberText.h"
#include "ToolOptions.h"

#include <cstdint>
#include <limits>

namespace {

constexpr int64_t MaxInt32 = std::numeric_limits<int32_t>::max();
constexpr int64_t MaxJobs = 256;

[[noreturn]] void Fail(const std::string& Message) {
    throw TUsageError(Message);
}

std::pair<int, int> ParseSize(const std::string& Text) {
    const size_t x = Text.find('x');
    if (x == std::string::npos)
        Fail("--size: expected WIDTHxHEIGHT (for example 640x480), got " + Quoted(Text));
    return {int(ParseWhole(Text.substr(0, x), "--size width", 0, MaxInt32)),
            int(ParseWhole(Text.substr(x + 1), "--size height", 0, MaxInt32))};
}

std::string ParseFormat(const std::string& Text) {
    std::string format = Lower(Text);
    if (!format.empty() && format[0] == '.') format.erase(0, 1);
    if (format.empty() || format.find_first_of("/.{}") != std::string::npos)
        Fail("--format: expected an extension such as png or jpg, got " + Quoted(Text));
    return format;
}

} // namespace

void CheckOutputs(const TCommandLine& Line) {
    const bool several = Line.Inputs.size() > 1;
    bool fromInput = false;
    for (const std::string& input : Line.Inputs)
        if (input == "-") fromInput = true;
    if (!Line.Output.empty() && !Line.OutDir.empty()) Fail("-o and --out-dir exclude each other");
    if (Line.Output.empty() && Line.OutDir.empty())
        Fail(several ? "no output: give --out-dir DIR or an output pattern such as -o 'out/{stem}.{ext}'"
                     : "no output picture: give -o OUTPUT");
    if (!Line.Suffix.empty() && Line.OutDir.empty()) Fail("--suffix needs --out-dir");
    if (fromInput && several) Fail("standard input (-) can only be the one input picture");
    const bool pattern = Line.Output.find('{') != std::string::npos;
    if (fromInput && (pattern || !Line.OutDir.empty()))
        Fail("standard input has no name to make an output name from: give -o FILE or -o -");
    if (Line.Output == "-") {
        if (Line.Format.empty()) Fail("-o - needs --format EXT to name the format of standard output");
        if (several) Fail("several pictures cannot all go to standard output");
        if (Line.PrintEnvelops) Fail("--print-envelops and -o - both write to standard output");
    } else if (several && !Line.Output.empty() && !pattern) {
        Fail("several input pictures need --out-dir DIR or an output pattern such as -o 'out/{stem}.{ext}'");
    }
}

TCommandLine ParseCommandLine(const std::vector<std::string>& Args) {
    TCommandLine line;
    bool optionsEnded = false;
    for (size_t i = 0; i < Args.size(); ++i) {
        const std::string& arg = Args[i];
        if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
            line.Inputs.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        // --name=value and -jN give the value in the same word.
        std::string name = arg;
        std::optional<std::string> attached;
        if (arg.rfind("--", 0) == 0 && arg.find('=') != std::string::npos) {
            name = arg.substr(0, arg.find('='));
            attached = arg.substr(arg.find('=') + 1);
        } else if (arg.rfind("-j", 0) == 0 && arg.size() > 2) {
            name = "-j";
            attached = arg.substr(2);
        }
        const auto value = [&]() -> std::string {
            if (attached) return *attached;
            if (i + 1 >= Args.size()) Fail(Printable(name) + " needs a value");
            return Args[++i];
        };
        const auto flag = [&]() {
            if (attached) Fail(Printable(name) + " takes no value");
            return true;
        };
        const auto once = [&](std::string& Field, const char* What) {
            if (!Field.empty()) Fail(std::string(What) + " is given twice");
            Field = value();
            if (Field.empty()) Fail(Printable(name) + " needs a value");
        };
        if (name == "-o" || name == "--output") {
            once(line.Output, "the output");
        } else if (name == "--out-dir") {
            once(line.OutDir, "--out-dir");
        } else if (name == "--suffix") {
            once(line.Suffix, "--suffix");
        } else if (name == "--format") {
            line.Format = ParseFormat(value());
        } else if (name == "--quality") {
            line.Quality = int(ParseWhole(value(), "--quality", 0, 100));
        } else if (name == "--compression") {
            line.Compression = int(ParseWhole(value(), "--compression", 0, 9));
        } else if (name == "--auto-orient") {
            line.AutoOrient = flag();
        } else if (name == "-j" || name == "--jobs") {
            line.Jobs = int(ParseWhole(value(), "-j", 1, MaxJobs));
        } else if (name == "--size") {
            line.Size = ParseSize(value());
        } else if (name == "--yes" || name == "--no") {
            flag();
            const TConvertAnswer answer = name == "--yes" ? TConvertAnswer::Yes : TConvertAnswer::No;
            if (line.Convert != TConvertAnswer::Ask && line.Convert != answer)
                Fail("--yes and --no exclude each other");
            line.Convert = answer;
        } else if (name == "--time") {
            line.Time = flag();
        } else if (name == "--progress") {
            line.Progress = flag();
        } else if (name == "-q" || name == "--quiet") {
            line.Quiet = flag();
        } else if (name == "-h" || name == "--help") {
            line.Help = flag();
        } else if (name == "--version") {
            line.Version = flag();
        } else if (name == "--print-envelops") {
            line.PrintEnvelops = flag();
        } else if (name == "-r" || name == "--recursive") {
            line.Recursive = flag();
        } else if (name == "--files-from") {
            once(line.FilesFrom, "--files-from");
        } else if (name == "-0") {
            line.NulSeparated = flag();
        } else if (const auto found =
                       name.rfind("--", 0) == 0 ? FindOperation(name.substr(2)) : std::nullopt) {
            const auto [spec, channel] = *found;
            if (spec->Shape == TValueShape::None) flag();
            line.Operations.push_back(
                ParseOperationValue(*spec, channel, name, spec->Shape == TValueShape::None ? "" : value()));
        } else {
            const std::string nearest = NearestOption(arg);
            Fail("unknown option " + Quoted(arg) +
                 (nearest.empty() ? " (see --help)" : "; did you mean " + nearest + "? (see --help)"));
        }
    }
    if (line.Help || line.Version) return line;

    bool touchesPicture = false;
    for (const TOperation& op : line.Operations)
        if (op.Spec->ChangesPicture) touchesPicture = true;
    const bool printOnly = line.PrintEnvelops && line.Inputs.empty() && line.Output.empty() &&
                           line.OutDir.empty() && !touchesPicture;
    if (printOnly) return line;
    if (line.NulSeparated && line.FilesFrom.empty()) Fail("-0 is for the names of --files-from FILE");
    if (line.Inputs.empty() && line.FilesFrom.empty()) Fail("no input picture (see --help)");
    // Checked again once the inputs --files-from names, and those in folders, are gathered.
    CheckOutputs(line);
    return line;
}

namespace {} // namespace

std::string ValueRanges(const TOperationSpec& Spec) {
    std::string text;
    if (Spec.Shape == TValueShape::ChannelFile) return "";
    for (const TParameterSpec& parameter : Spec.Parameters)
        text += std::string(text.empty() ? "" : ", ") + parameter.Name + " " + NumberString(parameter.Min) +
                ".." + NumberString(parameter.Max);
    return text.empty() ? text : " (" + text + ")";
}

namespace {

std::string HelpLine(std::string Left, const std::string& Right) {
    Left = "  " + Left;
    Left.resize(std::max<size_t>(Left.size() + 1, 31), ' ');
    return Left + Right + "\n";
}

std::string OperationHelp() {
    std::string text;
    for (const TOperationSpec& spec : OperationTable()) {
        const std::optional<TChannel> first =
            spec.PerChannel ? std::optional<TChannel>(TChannel::Red) : std::nullopt;
        std::string help = spec.Help;
        if (const size_t mark = help.find("{channel}"); mark != std::string::npos)
            help.replace(mark, 9, ChannelInfo(TChannel::Red).Name);
        const std::string syntax = spec.ValueSyntax();
        const std::string option = "--" + spec.OptionName(first) + (syntax.empty() ? "" : " " + syntax);
        const std::string line = HelpLine(option, help + ValueRanges(spec));
        // Ranges that would run past the width go on a line of their own.
        text +=
            line.size() <= 106 ? line : HelpLine(option, help) + HelpLine("", ValueRanges(spec).substr(1));
        if (spec.PerChannel)
            text += HelpLine("", "also --" + spec.OptionName(TChannel::Green) + ", --" +
                                     spec.OptionName(TChannel::Blue));
    }
    return text;
}

std::string OptionsHelp() {
    std::string text;
    for (const TToolOption& option : ToolOptions()) {
        std::string names =
            std::string(option.Short) + (*option.Short && *option.Long ? ", " : "") + option.Long;
        if (*option.Value) names += std::string(" ") + option.Value;
        const std::string help = option.Help;
        const size_t cut = help.find('\n');
        text += HelpLine(names, help.substr(0, cut));
        if (cut != std::string::npos) text += HelpLine("", help.substr(cut + 1));
    }
    return text;
}

} // namespace

std::string UsageSynopsis() {
    return R"(pictura INPUT -o OUTPUT [options] OPERATION...
pictura INPUT... --out-dir DIR [--suffix S] [--format EXT] [options] OPERATION...
pictura INPUT... -o PATTERN [options] OPERATION...
pictura -r FOLDER... --out-dir DIR [options] OPERATION...
pictura --files-from FILE [-0] --out-dir DIR [options] OPERATION...
pictura [--red-envelop ...] --print-envelops
)";
}

std::string UsageDescription() {
    return R"(Loads each INPUT into an image control sized to the picture, applies the operations in the order given
and writes the result, in the format its extension names (bmp, png, jpg, tif, webp, ppm, ...).
INPUT - reads standard input (any format it can read); -o - writes standard output (give --format).
Several inputs go to --out-dir DIR (as STEM[SUFFIX].EXT) or to a pattern such as 'out/{stem}-blur.{ext}'
({stem}: the input's name without extension, {ext}: --format or the input's extension, {dir}: its folder).
Each picture is written on its own and atomically; a failing one does not stop the others.
Folders given as inputs are walked with -r, their structure kept below --out-dir; --files-from FILE reads
input names from FILE. A missing --out-dir, or folder of a pattern, is made.
Numbers take one sign (+ or -); a value outside its range is an error.
)";
}

std::string UsageText() {
    std::string synopsis = UsageSynopsis();
    for (size_t at = synopsis.find('\n'); at + 1 < synopsis.size(); at = synopsis.find('\n', at + 1))
        synopsis.insert(at + 1, "       ");
    return "Usage: " + synopsis + "\n" + UsageDescription() + "\nOperations:\n" + OperationHelp() +
           "\nOptions:\n" + OptionsHelp() + "Options that take a value also take it as --name=value.\n";
}
