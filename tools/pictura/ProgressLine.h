// One self-updating line on standard error that shows what the tool is doing: the step, its percent
// and its elapsed time. On a terminal it is redrawn in place and cleared at the end; elsewhere it is
// shown only when asked, as a plain line when each step ends (and at most every second while it runs).
// On a terminal a ticker thread redraws the line while a step runs, so that the elapsed time moves even
// when the step itself reports nothing (a decoder or an encoder busy with one call); it starts with the
// first line drawn.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

class TProgressLine {
public:
    enum TMode { pmOff, pmTerminal, pmLines };
    using TClock = std::chrono::steady_clock;

    // The mode for file descriptor Fd: a terminal redraws, anything else prints lines only when Forced.
    static TMode ModeFor(int Fd, bool Forced, bool Quiet);

    explicit TProgressLine(TMode Mode, int Fd = 2);
    ~TProgressLine();
    TProgressLine(const TProgressLine&) = delete;
    TProgressLine& operator=(const TProgressLine&) = delete;

    // A new step (What: "loading x.png", "--blur") at 0 %.
    void Start(const std::string& What);
    // The step's progress; redrawn when the percent changed and some time has passed. Any thread.
    void Update(int Percent);
    // The step at 100 %.
    void End();
    // Free text in place of a step, such as "37 of 100 pictures", followed by the time since Since.
    void Show(const std::string& Text, TClock::time_point Since);
    // Takes the line off the terminal, before other output goes there; nothing is redrawn until the
    // next Start or Show.
    void Clear();

private:
    void Draw(const std::string& Text);
    std::string LineText() const;
    void Tick();

    TMode FMode;
    int FFd;
    std::mutex FLock; // the fields below, and the terminal's line
    std::string FWhat;
    bool FIsStep = false; // FWhat is a step with a percent, not free text
    int FPercent = 0;
    TClock::time_point FStarted{}, FDrawn{};
    std::optional<TClock::time_point> FEnded; // when the step shown ended
    bool FShown = false;
    bool FStopping = false;
    std::condition_variable FWake;
    std::thread FTicker;
};
