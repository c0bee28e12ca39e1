// Which file each input picture is written to, in which format, checked before any work: no output is
// one of the inputs, no two pictures go to the same file.
#pragma once

#include "CommandLine.h"

#include <string>
#include <vector>

struct TPictureJob {
    std::string Input;        // "-" for standard input
    std::string Output;       // "-" for standard output
    std::string Format;       // the lower-case extension that names the output's format
    bool MakesFolder = false; // the output's folder is made when missing (--out-dir, a pattern's folders)
};

// The jobs of a command line that has inputs, in the order of the inputs. Throws TUsageError.
std::vector<TPictureJob> PlanPictures(const TCommandLine& Line);

// Whether the format named by Format takes --quality (JPEG and WebP).
bool TakesQuality(const std::string& Format);
// Whether --compression applies to Format.
bool TakesCompression(const std::string& Format);

// A file name shortened for messages and the progress line: its last part, escaped.
std::string DisplayName(const std::string& Path);
