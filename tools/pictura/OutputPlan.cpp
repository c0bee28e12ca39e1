#include "OutputPlan.h"

#include "FileIdentity.h"
#include "MessageText.h"
#include "OutputFolders.h"

#include <filesystem>
#include <map>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

[[noreturn]] void Fail(const std::string& Message) {
    throw TUsageError(Message);
}

std::string ExtensionOf(const std::string& Path) {
    const std::string ext = fs::path(Path).extension().string();
    return ext.empty() ? ext : ext.substr(1);
}

// The output for Input by the pattern: {stem}, {ext} and {dir} replaced.
std::string Expand(const std::string& Pattern, const std::string& Input, const std::string& Ext) {
    const fs::path path(Input);
    const std::string dir = path.parent_path().empty() ? "." : path.parent_path().string();
    std::string out;
    for (size_t i = 0; i < Pattern.size(); ++i) {
        if (Pattern[i] != '{') {
            out += Pattern[i];
            continue;
        }
        const size_t close = Pattern.find('}', i);
        const std::string name = close == std::string::npos ? "" : Pattern.substr(i + 1, close - i - 1);
        if (name == "stem")
            out += path.stem().string();
        else if (name == "ext")
            out += Ext;
        else if (name == "dir")
            out += dir;
        else
            Fail("-o: unknown placeholder " +
                 Quoted(Pattern.substr(i, close == std::string::npos ? 1 : close - i + 1)) +
                 " in the output pattern (use {stem}, {ext} or {dir})");
        i = close;
    }
    return out;
}

std::string OutputFor(const TCommandLine& Line, const std::string& Input, const std::string& Subfolder) {
    if (Line.Output == "-") return Line.Output;
    const bool named = Line.OutDir.empty() && Line.Output.find('{') == std::string::npos;
    if (named) return Line.Output;
    const std::string ext = Line.Format.empty() ? ExtensionOf(Input) : Line.Format;
    if (ext.empty())
        Fail(Quoted(Input, 256) + " has no extension to name the output's format: give --format EXT");
    if (!Line.OutDir.empty())
        return (fs::path(Line.OutDir) / Subfolder /
                (fs::path(Input).stem().string() + Line.Suffix + "." + ext))
            .string();
    return Expand(Line.Output, Input, ext);
}

// What names the file Path will be: its folder as the file system identifies it (so that links to
// folders and ".." lead to one key) and its name in that folder, in lower case where the folder
// ignores case. A folder that does not exist yet falls back to the normalised spelling.
std::string OutputKey(const std::string& Path) {
    // The folder as spelt: the system resolves its links and ".." as the write will.
    const fs::path folder =
        fs::path(Path).parent_path().empty() ? fs::path(".") : fs::path(Path).parent_path();
    const std::optional<TFileIdentity> identity = IdentityOf(folder.string());
    if (!identity) {
        std::error_code error;
        const fs::path absolute = fs::absolute(Path, error);
        return "path:" + (error ? fs::path(Path) : absolute).lexically_normal().string();
    }
    const std::string name = fs::path(Path).filename().string();
    return "folder:" + std::to_string(identity->Device) + ":" + std::to_string(identity->Inode) + "/" +
           (IgnoresCase(folder.string()) ? Lower(name) : name);
}

} // namespace

bool TakesQuality(const std::string& Format) {
    return Format == "jpg" || Format == "jpeg" || Format == "webp";
}

bool TakesCompression(const std::string& Format) {
    return Format == "png" || Format == "tif" || Format == "tiff" || Format == "webp";
}

std::string DisplayName(const std::string& Path) {
    if (Path == "-") return "standard input";
    const std::string name = fs::path(Path).filename().string();
    return Printable(name.empty() ? Path : name, 48);
}

std::vector<TPictureJob> PlanPictures(const TCommandLine& Line) {
    std::error_code ignored;
    if (!Line.OutDir.empty() && fs::exists(Line.OutDir, ignored) && !fs::is_directory(Line.OutDir, ignored))
        Fail("--out-dir: " + Quoted(Line.OutDir, 256) + " is not a folder");
    if (Line.Output == "-" && ::isatty(STDOUT_FILENO))
        Fail("standard output is a terminal: redirect it to a file or a pipe to write a picture there");

    std::vector<std::pair<std::string, std::optional<TFileIdentity>>> inputs;
    for (const std::string& input : Line.Inputs)
        inputs.emplace_back(input, input == "-" ? IdentityOf(STDIN_FILENO) : IdentityOf(input));

    std::vector<TPictureJob> jobs;
    std::map<std::string, std::string> outputs; // by OutputKey, to the input written there
    std::map<std::pair<dev_t, ino_t>, std::string> existing;
    for (size_t i = 0; i < Line.Inputs.size(); ++i) {
        const std::string& input = Line.Inputs[i];
        TPictureJob job{input, OutputFor(Line, input, i < Line.Subfolders.size() ? Line.Subfolders[i] : ""),
                        Line.Format};
        // A plain -o names a file in a folder that should exist: a mistyped folder is not made.
        job.MakesFolder = !Line.OutDir.empty() || Line.Output.find('{') != std::string::npos;
        if (job.Output != "-") {
            job.Format = Lower(ExtensionOf(job.Output));
            if (!Line.Format.empty() && job.Format != Line.Format)
                Fail("--format " + Printable(Line.Format) + " does not match the output " +
                     Quoted(job.Output, 256) + " (leave --format out, or change the extension)");
        }
        const auto refuse = [&](const std::string& Option, const std::string& Formats) {
            Fail(Option + " is for " + Formats + ", and " +
                 (job.Output == "-" ? std::string("standard output") : Quoted(job.Output, 256)) +
                 " is written as " + Printable(job.Format.empty() ? "(no format)" : job.Format));
        };
        if (Line.Quality && !TakesQuality(job.Format)) refuse("--quality", "JPEG and WebP");
        if (Line.Compression && !TakesCompression(job.Format)) refuse("--compression", "PNG, TIFF and WebP");
        const std::optional<TFileIdentity> identity =
            job.Output == "-" ? IdentityOf(STDOUT_FILENO) : IdentityOf(job.Output);
        for (const auto& [name, inputIdentity] : inputs)
            if (identity && inputIdentity && *identity == *inputIdentity)
                Fail("the output " + Quoted(job.Output == "-" ? "standard output" : job.Output, 256) +
                     " is the input picture " + Quoted(name, 256) + "; write the result to another file");
        if (job.Output != "-") {
            // The same name, or an existing file reached by two names, would be written twice.
            std::string earlier;
            if (const auto [at, added] = outputs.emplace(OutputKey(job.Output), input); !added)
                earlier = at->second;
            if (identity)
                if (const auto [at, added] =
                        existing.emplace(std::pair{identity->Device, identity->Inode}, input);
                    !added)
                    earlier = at->second;
            if (!earlier.empty())
                Fail("two pictures would be written to " + Quoted(job.Output, 256) + " (from " +
                     Quoted(earlier, 256) + " and " + Quoted(input, 256) + ")");
        }
        jobs.push_back(job);
    }
    // A missing --out-dir is made once the plan holds, as mkdir -p would; a template's folders are
    // made by each picture's job.
    try {
        MakeFolders(Line.OutDir);
    } catch (const std::exception& e) {
        Fail(std::string("--out-dir: ") + e.what());
    }
    return jobs;
}
