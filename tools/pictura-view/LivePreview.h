// TLivePreview: shows a dialog's operation on the picture while the dialog is open.
#pragma once

#include <QObject>
#include <QTimer>

#include <functional>

// Runs Apply a moment after the values stop changing, with Restore before each run so previews never
// stack; Cancel puts the picture back as it was before the first run.
class TLivePreview : public QObject {
    Q_OBJECT
public:
    // Pause after the last change before the preview runs, so a dragged slider does not queue work.
    static constexpr int DelayMs = 80;

    explicit TLivePreview(QObject* Parent = nullptr);

    // Restore puts back the pixels from before the dialog; Apply runs the operation with the current values.
    void SetHandlers(std::function<void()> Restore, std::function<void()> Apply);

    bool Enabled() const { return FEnabled; }
    // Off: the picture goes back to how it was and nothing is previewed until previews are on again.
    void SetEnabled(bool Value);
    // The values changed: preview them after the pause.
    void Schedule();
    // Runs a pending preview at once.
    void Flush();
    // The dialog was accepted: the picture shows the operation with the final values, previewed or not.
    void Finish();
    // The dialog was cancelled: the picture goes back to how it was.
    void Cancel();
    // True when the picture shows the operation with the current values.
    bool Current() const { return FApplied && FCurrent; }

private:
    void Run();

    std::function<void()> FRestore;
    std::function<void()> FApply;
    QTimer FTimer;
    bool FEnabled = true;
    bool FApplied = false; // the picture differs from how it was before the dialog
    bool FCurrent = false; // ... and shows the current values
};
