// Fuzz body: the pictura tool's argument parser and its envelope files.
#include "FuzzBodies.h"

#include "CommandLine.h"

#include <QDir>
#include <QTemporaryDir>

#include <cmath>
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

void CheckEntries(const TOperation& Op, bool Whole) {
    FuzzCheck(Op.Channel >= 0 && Op.Channel <= 2, Op.Name + ": channel out of range");
    FuzzCheck(!Op.Entries.empty(), Op.Name + ": no entries");
    FuzzCheck(!Whole || Op.Entries.size() == 256, Op.Name + ": a file table without 256 values");
    for (size_t i = 0; i < Op.Entries.size(); ++i) {
        const auto& [index, percent] = Op.Entries[i];
        FuzzCheck(index >= 0 && index <= 255, Op.Name + ": index out of range");
        FuzzCheck(!Whole || index == int(i), Op.Name + ": file table out of order");
        FuzzCheck(!std::isnan(percent), Op.Name + ": a NaN percent was accepted");
    }
}

void CheckLine(const TCommandLine& Line) {
    if (Line.Help || Line.Version) return;
    bool touchesPicture = false;
    for (const TOperation& op : Line.Operations) {
        FuzzCheck(op.Name.rfind("--", 0) == 0, "an operation not named by its option: " + op.Name);
        switch (op.Kind) {
        case TOperationKind::Blur:
        case TOperationKind::Sharpen:
            FuzzCheck(op.Value >= -128 && op.Value <= 127, op.Name + ": amount out of range");
            FuzzCheck(op.Radius >= 0, op.Name + ": negative radius accepted");
            break;
        case TOperationKind::SetEnvelop:
            CheckEntries(op, op.Name == "--envelop-file");
            break;
        case TOperationKind::ApplyEnvelop:
            FuzzCheck(op.Channel >= 0 && op.Channel <= 2, "channel out of range");
            break;
        default:
            break;
        }
        if (op.Kind != TOperationKind::SetEnvelop) touchesPicture = true;
    }
    if (Line.Size) FuzzCheck(Line.Size->first >= 0 && Line.Size->second >= 0, "negative --size accepted");
    if (!Line.Input.empty() || !Line.Output.empty() || touchesPicture || !Line.PrintEnvelops) {
        FuzzCheck(!Line.Input.empty(), "no input picture accepted");
        FuzzCheck(!Line.Output.empty(), "no output picture accepted");
    }
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
        args.push_back(argText.substr(start, end - start));
        start = end + 1;
    }
    // Envelope files are read at parse time: keep them inside the fuzzing folder.
    const std::string& folder = FilesFolder();
    for (size_t i = 0; i + 1 < args.size(); ++i) {
        if (args[i] != "--envelop-file") continue;
        std::string& value = args[i + 1];
        const size_t eq = value.find('=');
        if (eq != std::string::npos) value.insert(eq + 1, folder + "/");
        if (value.find("..") != std::string::npos) return;
    }
    {
        std::ofstream env(folder + "/env", std::ios::binary | std::ios::trunc);
        env << text;
    }

    try {
        const std::vector<std::pair<int, double>> entries = ParseEnvelopFile(text, "fuzz text");
        TOperation op{TOperationKind::SetEnvelop, "--envelop-file"};
        op.Entries = entries;
        CheckEntries(op, true);
    } catch (const TUsageError& e) {
        FuzzCheck(std::string(e.what()).find("fuzz text") != std::string::npos,
                  "a message without its source");
    }

    try {
        CheckLine(ParseCommandLine(args));
    } catch (const TUsageError& e) {
        FuzzCheck(*e.what() != '\0', "an empty usage message");
    }
}
