#include "InputList.h"

#include "MessageText.h"

#include <pictura/Picture.h>

#include <QStringList>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

[[noreturn]] void Fail(const std::string& Message) {
    throw TUsageError(Message);
}

std::string ReadAll(const std::string& Path) {
    const bool standardInput = Path == "-";
    const std::string name = standardInput ? "standard input" : Quoted(Path, 256);
    const int fd = standardInput ? STDIN_FILENO : ::open(Path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) Fail("--files-from: cannot read " + name + ": " + std::strerror(errno));
    std::string text;
    char buffer[1 << 16];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n == 0) break;
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 || text.size() + size_t(n) > MaxFilesFromBytes) {
            const std::string reason = n < 0 ? std::strerror(errno) : "longer than 64 MiB";
            if (!standardInput) ::close(fd);
            Fail("--files-from: cannot read " + name + ": " + reason);
        }
        text.append(buffer, size_t(n));
    }
    if (!standardInput) ::close(fd);
    return text;
}

std::vector<std::string> NamesFrom(const std::string& Path, bool NulSeparated) {
    const std::string text = ReadAll(Path);
    std::vector<std::string> names;
    const char end = NulSeparated ? '\0' : '\n';
    for (size_t start = 0; start < text.size();) {
        size_t stop = text.find(end, start);
        if (stop == std::string::npos) stop = text.size();
        std::string name = text.substr(start, stop - start);
        // A name "-" in the list is a file of that name, not standard input.
        if (name == "-") name = "./-";
        if (!name.empty()) names.push_back(std::move(name));
        start = stop + 1;
    }
    return names;
}

bool IsPictureName(const fs::path& Path, const QStringList& Readable) {
    const std::string ext = Path.extension().string();
    return ext.size() > 1 && Readable.contains(QString::fromStdString(ext.substr(1)).toLower());
}

// The pictures below Folder, sorted, each with its folder relative to Folder.
std::vector<std::pair<std::string, std::string>> Walk(const std::string& Folder, const std::string& Skip) {
    const QStringList readable = TPicture::ReadableExtensions();
    std::vector<std::pair<std::string, std::string>> found;
    std::error_code error;
    fs::recursive_directory_iterator walk(Folder, error), end;
    for (; !error && walk != end; walk.increment(error)) {
        std::error_code ignored;
        if (walk->is_directory(ignored)) {
            // The results of an earlier run go into --out-dir: never read them back as inputs.
            if (!Skip.empty() && fs::equivalent(walk->path(), Skip, ignored))
                walk.disable_recursion_pending();
            continue;
        }
        if (!walk->is_regular_file(ignored) || !IsPictureName(walk->path(), readable)) continue;
        found.emplace_back(walk->path().string(),
                           walk->path().parent_path().lexically_relative(Folder).string());
    }
    if (error) Fail("cannot read the folder " + Quoted(Folder, 256) + ": " + error.message());
    std::sort(found.begin(), found.end());
    for (auto& [file, below] : found)
        if (below == ".") below.clear();
    return found;
}

} // namespace

void GatherInputs(TCommandLine& Line) {
    if (!Line.FilesFrom.empty()) {
        if (Line.FilesFrom == "-" && std::count(Line.Inputs.begin(), Line.Inputs.end(), "-"))
            Fail("standard input cannot hold both the list of --files-from and a picture");
        std::vector<std::string> names = NamesFrom(Line.FilesFrom, Line.NulSeparated);
        if (names.empty())
            Fail("--files-from: " +
                 (Line.FilesFrom == "-" ? std::string("standard input") : Quoted(Line.FilesFrom, 256)) +
                 " names no input");
        Line.Inputs.insert(Line.Inputs.end(), names.begin(), names.end());
    }
    std::vector<std::string> inputs, subfolders;
    for (const std::string& input : Line.Inputs) {
        std::error_code ignored;
        if (input == "-" || !fs::is_directory(input, ignored)) {
            inputs.push_back(input);
            subfolders.emplace_back();
            continue;
        }
        if (!Line.Recursive)
            Fail(Quoted(input, 256) + " is a folder: give -r (--recursive) to process the pictures in it");
        const auto found = Walk(input, Line.OutDir);
        if (found.empty()) Fail("the folder " + Quoted(input, 256) + " holds no picture the tool can read");
        for (const auto& [file, below] : found) {
            inputs.push_back(file);
            subfolders.push_back(below);
        }
    }
    Line.Inputs = std::move(inputs);
    Line.Subfolders = std::move(subfolders);
    if (Line.Inputs.empty()) Fail("no input picture (see --help)");
    CheckOutputs(Line);
}
