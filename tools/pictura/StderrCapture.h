// Captures what libraries print on standard error themselves (the PNG decoder prints its errors there),
// so that the tool can fold it into its own one-line message.
#pragma once

#include <cstdio>
#include <string>

class TStderrCapture {
public:
    // From here on, standard error (file descriptor 2) goes to a temporary file.
    TStderrCapture();
    // Puts standard error back (if Finish has not) and drops what was captured.
    ~TStderrCapture();
    TStderrCapture(const TStderrCapture&) = delete;
    TStderrCapture& operator=(const TStderrCapture&) = delete;

    // Puts standard error back and returns what was captured as one line (line breaks become "; "),
    // each line once (decoders are asked several times and say the same again). A line that names the
    // placeholder "foo" (the name Qt gives libtiff for every file) names File instead.
    std::string Finish(const std::string& File = "the file");

private:
    std::FILE* FFile = nullptr;
    int FSaved = -1;
};
