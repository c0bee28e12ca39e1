// Fuzz body: the pictura tool's argument parser and its envelope files.
#include "FuzzBodies.h"

#include "CommandLine.h"

#include <QDir>
#include <QTemporaryDir>

#include <cmath>
#include <cstdint>
#include <fstream>
#include <sys/stat.h>
#include <vector>

namespace {

// A folder for the files that --envelop-file may name: "env" holds the input's text, "dir" is a folder
// and "fifo" a named pipe (which the parser must refuse rather than wait on).
const std::string& FilesFolder() {
    static const std::string folder = [] {
        static QTemporaryDir dir;
        const std::string path = dir.path().toStdString();
        QDir(dir.path()).mkdir("dir");
        ::mkfifo((path + "/fifo").c_str(), 0600);
        return path;
    }();
    return folder;
}

bool Within(const TParameterSpec& Parameter, double Value) {
    return Value >= Parameter.Min && Value <= Parameter.Max &&
           (!Parameter.Whole || Value == double(int64_t(Value)));
}

// Every accepted operation holds values inside the ranges its table row states.
void CheckOperation(const TOperation& Op) {
    FuzzCheck(Op.Spec != nullptr, Op.Name + ": no table row");
    const TOperationSpec& spec = *Op.Spec;
    FuzzCheck(Op.Name.rfind("--", 0) == 0, "an operation not named by its option: " + Op.Name);
    FuzzCheck(!spec.PerChannel || Op.Channel, Op.Name + ": a per-channel operation without its channel");
    switch (spec.Shape) {
    case TValueShape::None:
        FuzzCheck(Op.Values.empty(), Op.Name + ": values for an operation that takes none");
        break;
    case TValueShape::Numbers:
        FuzzCheck(Op.Values.size() == spec.Parameters.size(), Op.Name + ": not one value per parameter");
        for (size_t i = 0; i < Op.Values.size(); ++i)
            FuzzCheck(Within(spec.Parameters[i], Op.Values[i]), Op.Name + ": value out of range");
        break;
    case TValueShape::ChannelFile:
        FuzzCheck(Op.Channel && Op.Values.size() == 2 * 256, Op.Name + ": a file table without 256 values");
        [[fallthrough]];
    case TValueShape::Points: {
        const std::vector<std::pair<int, double>> points = Op.Points();
        FuzzCheck(!points.empty() && Op.Values.size() == 2 * points.size(), Op.Name + ": no whole points");
        for (size_t i = 0; i < points.size(); ++i) {
            const auto& [level, percent] = points[i];
            FuzzCheck(Within(spec.Parameters[0], Op.Values[2 * i]) && Within(spec.Parameters[1], percent),
                      Op.Name + ": entry out of range");
            FuzzCheck(spec.Shape != TValueShape::ChannelFile || level == int(i),
                      Op.Name + ": file table out of order");
            FuzzCheck(!spec.RisingLevels || i == 0 || level > points[i - 1].first,
                      Op.Name + ": curve points not rising");
        }
        break;
    }
    }
}

void CheckLine(const TCommandLine& Line) {
    if (Line.Help || Line.Version) return;
    bool touchesPicture = false;
    for (const TOperation& op : Line.Operations) {
        CheckOperation(op);
        if (op.Spec->ChangesPicture) touchesPicture = true;
    }
    if (Line.Size) FuzzCheck(Line.Size->first >= 0 && Line.Size->second >= 0, "negative --size accepted");
    FuzzCheck(Line.Jobs >= 0 && (!Line.Quality || (*Line.Quality >= 0 && *Line.Quality <= 100)),
              "bad -j or --quality");
    if (!Line.Inputs.empty() || !Line.Output.empty() || touchesPicture || !Line.PrintEnvelops) {
        FuzzCheck(!Line.Inputs.empty() || !Line.FilesFrom.empty(), "no input picture accepted");
        FuzzCheck(!Line.Output.empty() || !Line.OutDir.empty(), "no output accepted");
        FuzzCheck(Line.Output != "-" || (!Line.Format.empty() && Line.Inputs.size() == 1),
                  "bad -o - accepted");
    }
}

// A byte picks an operation's option from the table, so every option is reached without a dictionary.
std::string TableOption(uint8_t Pick) {
    const std::vector<TOperationSpec>& table = OperationTable();
    const TOperationSpec& spec = table[Pick % table.size()];
    const std::optional<TChannel> channel =
        spec.PerChannel ? std::optional<TChannel>(AllChannels[(Pick / table.size()) % 3]) : std::nullopt;
    return "--" + spec.OptionName(channel);
}

} // namespace

void FuzzCommandLine(const uint8_t* Data, size_t Size) {
    const std::string input(reinterpret_cast<const char*>(Data), Size);
    const size_t split = input.find(std::string("\0\0", 2));
    const std::string text = split == std::string::npos ? std::string() : input.substr(split + 2);
    std::vector<std::string> args;
    const std::string argText = input.substr(0, split);
    for (size_t start = 0; start <= argText.size() && args.size() < 64;) {
        const size_t end = std::min(argText.find('\0', start), argText.size());
        std::string arg = argText.substr(start, end - start);
        // "\x01" and a byte stand for an operation of the table.
        if (arg.size() == 2 && arg[0] == '\x01') arg = TableOption(uint8_t(arg[1]));
        args.push_back(arg);
        start = end + 1;
    }
    // Envelope files are read at parse time: keep them inside the fuzzing folder.
    const std::string& folder = FilesFolder();
    const std::string attached = "--envelop-file=";
    for (size_t i = 0; i < args.size(); ++i) {
        // The value follows as the next word, or in the same word after '='.
        const bool inWord = args[i].rfind(attached, 0) == 0;
        if (!inWord && (args[i] != "--envelop-file" || i + 1 == args.size())) continue;
        std::string& value = inWord ? args[i] : args[i + 1];
        const size_t eq = value.find('=', inWord ? attached.size() : 0);
        if (eq != std::string::npos) value.insert(eq + 1, folder + "/");
        if (value.find("..") != std::string::npos) return;
    }
    {
        std::ofstream env(folder + "/env", std::ios::binary | std::ios::trunc);
        env << text;
    }

    try {
        const std::vector<std::pair<int, double>> entries = ParseEnvelopFile(text, "fuzz text");
        FuzzCheck(entries.size() == 256, "a file table without 256 values");
        for (size_t i = 0; i < entries.size(); ++i)
            FuzzCheck(entries[i].first == int(i) && entries[i].second >= 0 && entries[i].second <= 100,
                      "a file value out of range");
    } catch (const TUsageError& e) {
        const std::string message = e.what();
        FuzzCheck(message.find("fuzz text") != std::string::npos, "a message without its source");
        for (const char c : message)
            FuzzCheck(uint8_t(c) >= 0x20 && c != 0x7f, "a control character echoed in a message");
    }

    try {
        CheckLine(ParseCommandLine(args));
    } catch (const TUsageError& e) {
        const std::string message = e.what();
        FuzzCheck(!message.empty(), "an empty usage message");
        for (const char c : message)
            FuzzCheck(uint8_t(c) >= 0x20 && c != 0x7f, "a control character echoed in a message");
    }
}
