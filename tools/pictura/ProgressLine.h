// One self-updating line on standard error that shows what the tool is doing: the step, its percent
// and its elapsed time. On a terminal it is redrawn in place and cleared at the end; elsewhere it is
// shown only when asked, as a plain line when each step ends (and at most every second while it runs).
#pragma once

#include <chrono>
#include <string>

class TProgressLine {
public:
    enum TMode { pmOff, pmTerminal, pmLines };

    // The mode for file descriptor Fd: a terminal redraws, anything else prints lines only when Forced.
    static TMode ModeFor(int Fd, bool Forced, bool Quiet);

    explicit TProgressLine(TMode Mode, int Fd = 2) : FMode(Mode), FFd(Fd) {}
    ~TProgressLine() { Clear(); }
    TProgressLine(const TProgressLine&) = delete;
    TProgressLine& operator=(const TProgressLine&) = delete;

    // A new step (What: "loading x.png", "--blur") at 0 %.
    void Start(const std::string& What);
    // The step's progress; redrawn when the percent changed and some time has passed.
    void Update(int Percent);
    // The step at 100 %.
    void End();
    // Free text in place of a step, such as "37 of 100 pictures".
    void Show(const std::string& Text);
    // Takes the line off the terminal, before other output goes there.
    void Clear();

private:
    void Draw(const std::string& Text);
    std::string StepText() const;

    TMode FMode;
    int FFd;
    std::string FWhat;
    int FPercent = 0;
    std::chrono::steady_clock::time_point FStarted{}, FDrawn{};
    bool FShown = false;
};
