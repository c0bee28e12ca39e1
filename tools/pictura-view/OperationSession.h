// TOperationSession: one operation on the viewer's picture, from the question whether to convert it
// to the last preview. The operation runs off the GUI thread on a hidden worker control holding a copy
// of the picture; the shown control only ever receives finished results, so the picture being painted
// is never the one being worked on. The session keeps the picture from before, so the operation can be
// cancelled cleanly or recorded as an undo step.
#pragma once

#include <pictura/PixelFormat.h>

#include <QString>

#include <functional>
#include <optional>

class TBackgroundWork;
class TKvPictura;

// An operation of the control, bound to its values; runs on the work thread, on the worker control.
using TPictureOperation = std::function<void(TKvPictura& Picture)>;

class TOperationSession {
public:
    // Shown is the control in the window; Worker a control that is never shown, used only by the
    // session's work; Work runs that work.
    TOperationSession(TKvPictura& Shown, TKvPictura& Worker, TBackgroundWork& Work)
        : FShown(Shown), FWorker(Worker), FWork(Work) {}
    // Waits for the session's work still running.
    ~TOperationSession();

    // For a picture that is not 24-bit, asks the control's own "Convert" box; the first run converts a
    // copy off the GUI thread. False, with nothing changed, when there is no picture or the user declines.
    bool Begin();
    // Starts Operation (Title names it for the status bar) on a copy of the picture from before the first run
    // (the worker gets the shown control's envelope tables first). When it has ended, Wanted decides on the
    // GUI thread whether its result replaces the shown picture (a newer request may have overtaken it), then
    // Done runs. On failure Error() says why, nothing is shown and Wanted is not asked.
    void Run(const QString& Title, TPictureOperation Operation, std::function<bool()> Wanted = {},
             std::function<void()> Done = {});
    // Puts back the pixels from before the first run (keeping the conversion to 24 bits).
    void Restore();
    // Puts back the picture from before Begin, the conversion included.
    void Cancel();
    // The picture from before Begin, for the undo history; the session is spent afterwards.
    TDibImage TakeBefore();

    // True when the shown picture differs from the one before Begin.
    bool Changed() const { return FConverted || FShowsResult; }
    // Wall time of the last finished run in milliseconds.
    double LastMilliseconds() const { return FMilliseconds; }
    QString Error() const { return FError; }

private:
    void Show(const TDibImage& Picture);

    TKvPictura& FShown;
    TKvPictura& FWorker;
    TBackgroundWork& FWork;
    std::optional<TDibImage> FBefore; // the picture before the conversion, kept by the run that made it
    std::optional<TDibImage> FBase;   // the 24-bit picture every run starts from; made by the first run
    TDibImage FResult;                // the last run's result until it is shown; a dropped one stays
    double FRunMilliseconds = 0;      // written by the work thread
    bool FConverted = false;
    bool FShowsResult = false;
    double FMilliseconds = 0;
    QString FError;
};
