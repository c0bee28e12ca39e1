#include "LivePreview.h"

TLivePreview::TLivePreview(QObject* Parent) : QObject(Parent) {
    FTimer.setSingleShot(true);
    FTimer.setInterval(DelayMs);
    connect(&FTimer, &QTimer::timeout, this, &TLivePreview::Run);
}

void TLivePreview::SetHandlers(std::function<void()> Restore, std::function<void()> Apply) {
    FRestore = std::move(Restore);
    FApply = std::move(Apply);
}

void TLivePreview::SetEnabled(bool Value) {
    if (FEnabled == Value) return;
    FEnabled = Value;
    if (FEnabled)
        Schedule();
    else
        Cancel();
}

void TLivePreview::Schedule() {
    FCurrent = false;
    if (FEnabled) FTimer.start();
}

void TLivePreview::Flush() {
    if (FTimer.isActive()) Run();
}

void TLivePreview::Finish() {
    FTimer.stop();
    if (!Current()) Run();
}

void TLivePreview::Cancel() {
    FTimer.stop();
    if (FApplied && FRestore) FRestore();
    FApplied = FCurrent = false;
}

void TLivePreview::Run() {
    FTimer.stop();
    if (FApplied && FRestore) FRestore();
    if (FApply) FApply();
    FApplied = FCurrent = true;
}
