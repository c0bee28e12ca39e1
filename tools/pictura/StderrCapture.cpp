#include "StderrCapture.h"

#include <set>
#include <unistd.h>

TStderrCapture::TStderrCapture() {
    std::fflush(stderr);
    FFile = std::tmpfile();
    if (!FFile) return; // nothing captured: messages simply stay on standard error
    FSaved = ::dup(STDERR_FILENO);
    if (FSaved < 0 || ::dup2(::fileno(FFile), STDERR_FILENO) < 0) {
        if (FSaved >= 0) ::close(FSaved);
        FSaved = -1;
    }
}

TStderrCapture::~TStderrCapture() {
    Finish();
}

std::string TStderrCapture::Finish(const std::string& File) {
    std::string text;
    if (FSaved >= 0) {
        std::fflush(stderr);
        ::dup2(FSaved, STDERR_FILENO);
        ::close(FSaved);
        FSaved = -1;
        std::rewind(FFile);
        char buffer[512];
        size_t n;
        // A few lines are all a decoder says; more is cut rather than read without end.
        while (text.size() < 4096 && (n = std::fread(buffer, 1, sizeof buffer, FFile)) > 0)
            text.append(buffer, n);
    }
    if (FFile) std::fclose(FFile);
    FFile = nullptr;
    std::string line, current;
    std::set<std::string> seen;
    for (const char c : text + "\n") {
        if (c != '\n' && c != '\r') {
            current += c;
            continue;
        }
        if (current.rfind("foo: ", 0) == 0) current = File + current.substr(3);
        if (!current.empty() && seen.insert(current).second) line += (line.empty() ? "" : "; ") + current;
        current.clear();
    }
    while (!line.empty() && (line.back() == ' ' || line.back() == ';'))
        line.pop_back();
    return line;
}
