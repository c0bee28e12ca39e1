#include "ProgressLine.h"

#include <cstdio>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

using TClock = std::chrono::steady_clock;

// Redraws on a terminal at most this often, and at least this often while something is shown; plain
// lines at most every second.
constexpr auto TerminalInterval = std::chrono::milliseconds(100);
constexpr auto LinesInterval = std::chrono::seconds(1);

void WriteAll(int Fd, const std::string& Text) {
    size_t done = 0;
    while (done < Text.size()) {
        const ssize_t n = ::write(Fd, Text.data() + done, Text.size() - done);
        if (n <= 0) return; // progress is a courtesy: a failing terminal does not stop the work
        done += size_t(n);
    }
}

size_t TerminalWidth(int Fd) {
    struct winsize size {};
    if (::ioctl(Fd, TIOCGWINSZ, &size) == 0 && size.ws_col > 1) return size.ws_col;
    return 80;
}

} // namespace

TProgressLine::TMode TProgressLine::ModeFor(int Fd, bool Forced, bool Quiet) {
    if (Quiet) return pmOff;
    if (::isatty(Fd)) return pmTerminal;
    return Forced ? pmLines : pmOff;
}

TProgressLine::TProgressLine(TMode Mode, int Fd) : FMode(Mode), FFd(Fd) {}

TProgressLine::~TProgressLine() {
    Clear();
    if (FTicker.joinable()) {
        {
            const std::lock_guard lock(FLock);
            FStopping = true;
        }
        FWake.notify_all();
        FTicker.join();
    }
}

void TProgressLine::Tick() {
    std::unique_lock lock(FLock);
    while (!FStopping) {
        FWake.wait_for(lock, TerminalInterval);
        if (FStopping || !FShown || TClock::now() - FDrawn < TerminalInterval) continue;
        FDrawn = TClock::now();
        Draw(LineText());
    }
}

std::string TProgressLine::LineText() const {
    const double seconds =
        std::chrono::duration<double>((FEnded ? *FEnded : TClock::now()) - FStarted).count();
    char tail[64];
    if (FIsStep)
        std::snprintf(tail, sizeof tail, " %3d%% %6.1f s", FPercent, seconds);
    else
        std::snprintf(tail, sizeof tail, " %6.1f s", seconds);
    return "pictura: " + FWhat + tail;
}

void TProgressLine::Start(const std::string& What) {
    if (FMode == pmOff) return;
    const std::lock_guard lock(FLock);
    FWhat = What;
    FIsStep = true;
    FEnded.reset();
    FPercent = 0;
    FStarted = TClock::now();
    if (FMode == pmTerminal) Draw(LineText());
    FDrawn = FStarted;
}

void TProgressLine::Update(int Percent) {
    if (FMode == pmOff) return;
    const std::lock_guard lock(FLock);
    if (Percent == FPercent) return;
    FPercent = Percent;
    const auto now = TClock::now();
    if (now - FDrawn <
        (FMode == pmTerminal ? TClock::duration(TerminalInterval) : TClock::duration(LinesInterval)))
        return;
    FDrawn = now;
    Draw(LineText());
}

void TProgressLine::End() {
    if (FMode == pmOff) return;
    const std::lock_guard lock(FLock);
    FPercent = 100;
    FEnded = TClock::now(); // the time stops with the step, until the next one starts
    Draw(LineText());
}

void TProgressLine::Show(const std::string& Text, TClock::time_point Since) {
    if (FMode == pmOff) return;
    const std::lock_guard lock(FLock);
    const auto now = TClock::now();
    if (FMode == pmLines && FShown && now - FDrawn < LinesInterval) return;
    FWhat = Text;
    FIsStep = false;
    FEnded.reset();
    FStarted = Since;
    FDrawn = now;
    Draw(LineText());
}

void TProgressLine::Draw(const std::string& Text) {
    if (FMode == pmLines) {
        WriteAll(FFd, Text + "\n");
        FShown = true;
        return;
    }
    // The ticker starts with the first line, after the tool has forked any workers: a process forked
    // while it ran would hold a copy of its lock.
    if (!FTicker.joinable()) FTicker = std::thread([this] { Tick(); });
    // Cut to the terminal's width: a line that wraps could not be redrawn in place.
    const size_t width = TerminalWidth(FFd) - 1;
    WriteAll(FFd, "\r" + Text.substr(0, width) + "\033[K");
    FShown = true;
}

void TProgressLine::Clear() {
    if (FMode != pmTerminal) return;
    const std::lock_guard lock(FLock);
    if (!FShown) return;
    WriteAll(FFd, "\r\033[K");
    FShown = false;
}
