#include "ToolOptions.h"

#include "OperationTable.h"

#include <algorithm>

const std::vector<TToolOption>& ToolOptions() {
    static const std::vector<TToolOption> options{
        {"-o", "--output", "FILE", "where to write the result (replaced atomically); - for standard output",
         "file"},
        {"", "--out-dir", "DIR", "write each result into DIR (made when missing), named after its input",
         "folder"},
        {"", "--suffix", "S", "add S to each name written into --out-dir"},
        {"", "--format", "EXT", "the output format (png, jpg, tif, webp, ...); needed for -o -",
         "bmp png jpg tif webp ppm"},
        {"", "--quality", "Q", "JPEG and WebP quality (0..100; WebP 100 is lossless)"},
        {"", "--compression", "N",
         "PNG and TIFF deflate level (0..9, default 2; TIFF 0 uncompressed), WebP effort (default 3)"},
        {"", "--auto-orient", "",
         "turn the pixels upright as the EXIF orientation says, before the operations, and mark the "
         "result upright"},
        {"-r", "--recursive", "", "walk the folders given as inputs; --out-dir keeps their structure"},
        {"", "--files-from", "FILE", "read input names from FILE (- for standard input), one a line", "file"},
        {"-0", "", "", "the names of --files-from are separated by NUL (find -print0)"},
        {"-j", "--jobs", "N", "pictures processed at once (1..256; default: the number of cores)"},
        {"", "--size", "WxH", "process only the top-left W x H part of the picture"},
        {"", "--yes", "", "convert a picture that is not 24-bit without asking"},
        {"", "--no", "",
         "decline converting (an error); without --yes or --no,\nask on a terminal (one picture only), "
         "otherwise refuse"},
        {"", "--time", "", "print the wall time of loading, each operation, saving, and a total"},
        {"", "--progress", "", "show progress even when standard error is not a terminal"},
        {"-q", "--quiet", "", "no progress, notes or summary; errors still show"},
        {"", "--print-envelops", "", "print the three gain tables (256 lines: red green blue)"},
        {"", "--", "", "end of options: every later argument is an input"},
        {"-h", "--help", "", "show this help"},
        {"", "--version", "", "show the version"},
    };
    return options;
}

std::vector<std::string> OptionNames() {
    std::vector<std::string> names;
    for (const TToolOption& option : ToolOptions())
        for (const char* name : {option.Short, option.Long})
            if (*name) names.emplace_back(name);
    for (const TOperationSpec& spec : OperationTable()) {
        if (!spec.PerChannel) {
            names.push_back("--" + spec.OptionName(std::nullopt));
            continue;
        }
        for (TChannel channel : AllChannels)
            names.push_back("--" + spec.OptionName(channel));
    }
    return names;
}

namespace {

// Edits (insertions, deletions, substitutions, swaps of neighbours) from A to B.
size_t EditDistance(std::string_view A, std::string_view B) {
    std::vector<std::vector<size_t>> d(A.size() + 1, std::vector<size_t>(B.size() + 1));
    for (size_t i = 0; i <= A.size(); ++i)
        d[i][0] = i;
    for (size_t j = 0; j <= B.size(); ++j)
        d[0][j] = j;
    for (size_t i = 1; i <= A.size(); ++i)
        for (size_t j = 1; j <= B.size(); ++j) {
            d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + (A[i - 1] != B[j - 1])});
            if (i > 1 && j > 1 && A[i - 1] == B[j - 2] && A[i - 2] == B[j - 1])
                d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
        }
    return d[A.size()][B.size()];
}

} // namespace

std::string NearestOption(std::string_view Unknown) {
    // Long words make the table large and are no typo of an option anyway.
    if (Unknown.size() > 64) return "";
    if (const size_t eq = Unknown.find('='); eq != std::string_view::npos) Unknown = Unknown.substr(0, eq);
    std::string best;
    size_t bestDistance = 0;
    for (const std::string& name : OptionNames()) {
        const size_t distance = EditDistance(Unknown, name);
        if (best.empty() || distance < bestDistance) {
            best = name;
            bestDistance = distance;
        }
    }
    // A third of the word may be wrong, at least one letter and at most three.
    const size_t allowed = std::clamp<size_t>(Unknown.size() / 3, 1, 3);
    return bestDistance <= allowed ? best : "";
}
