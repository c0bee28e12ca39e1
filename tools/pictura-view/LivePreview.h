// TLivePreview: shows a dialog's operation on the picture while the dialog is open.
#pragma once

#include <QObject>
#include <QTimer>

#include <functional>

// Starts a run a moment after the values stop changing. Runs work off the GUI thread and the latest
// values win: a run overtaken by newer values has its result dropped, and the newest values run next.
// Cancel puts the picture back as it was before the first run.
class TLivePreview : public QObject {
    Q_OBJECT
public:
    // Pause after the last change before the preview runs, so a dragged slider does not queue work.
    static constexpr int DelayMs = 80;
    // Starts the operation with the current values; when it has ended it calls Ended(true) on the GUI
    // thread (Ended(false) when it failed), whose answer says whether to show the result.
    using TApply = std::function<void(std::function<bool(bool Succeeded)> Ended)>;

    explicit TLivePreview(QObject* Parent = nullptr);

    // Restore puts back the pixels from before the dialog; Apply starts a run as described above.
    void SetHandlers(std::function<void()> Restore, TApply Apply);

    bool Enabled() const { return FEnabled; }
    // Off: the picture goes back to how it was and nothing is previewed until previews are on again.
    void SetEnabled(bool Value);
    // The values changed: preview them after the pause.
    void Schedule();
    // Runs a pending preview at once and waits (processing events) until the picture shows it.
    void Flush();
    // The dialog was accepted: waits until the picture shows the operation with the final values,
    // previewed or not.
    void Finish();
    // The dialog was cancelled: the picture goes back to how it was; a running preview is dropped.
    void Cancel();
    // True when the picture shows the operation with the current values.
    bool Current() const { return FApplied && FCurrent; }
    // True while a run is going or about to follow one that was overtaken.
    bool Running() const { return FRunning || FRerunPending; }

signals:
    // Nothing runs any more (the picture shows the latest values, or the last run failed).
    void Settled();

private:
    void Run();
    bool Ended(int Generation, bool Succeeded);
    bool ResultsWanted() const { return !FStopped && (FEnabled || FFinishing); }
    void WaitUntilSettled();

    std::function<void()> FRestore;
    TApply FApply;
    QTimer FTimer;
    int FGeneration = 0; // counts value changes and cancels; a run remembers the one it started with
    bool FEnabled = true;
    bool FFinishing = false;
    bool FStopped = false; // cancelled: nothing runs until the values change again
    bool FRunning = false;
    bool FRerunPending = false;
    bool FApplied = false; // the picture differs from how it was before the dialog
    bool FCurrent = false; // ... and shows the current values
};
