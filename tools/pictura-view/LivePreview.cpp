#include "LivePreview.h"

#include <QEventLoop>

TLivePreview::TLivePreview(QObject* Parent) : QObject(Parent) {
    FTimer.setSingleShot(true);
    FTimer.setInterval(DelayMs);
    connect(&FTimer, &QTimer::timeout, this, &TLivePreview::Run);
}

void TLivePreview::SetHandlers(std::function<void()> Restore, TApply Apply) {
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
    ++FGeneration;
    FStopped = false;
    FCurrent = false;
    if (FEnabled) FTimer.start();
}

void TLivePreview::Flush() {
    if (FTimer.isActive()) Run();
    WaitUntilSettled();
}

void TLivePreview::Finish() {
    FFinishing = true;
    FStopped = false;
    FTimer.stop();
    if (!Current()) Run();
    WaitUntilSettled();
}

void TLivePreview::Cancel() {
    FTimer.stop();
    ++FGeneration; // a run still going is dropped when it ends
    FStopped = true;
    if (FApplied && FRestore) FRestore();
    FApplied = FCurrent = false;
}

void TLivePreview::Run() {
    FTimer.stop();
    // A run already going finds the values changed when it ends, and then starts the newest ones.
    if (FRunning || !FApply || Current()) return;
    FRunning = true;
    FApply([this, generation = FGeneration](bool Succeeded) { return Ended(generation, Succeeded); });
}

bool TLivePreview::Ended(int Generation, bool Succeeded) {
    FRunning = false;
    if (Succeeded && Generation == FGeneration && ResultsWanted()) {
        FApplied = FCurrent = true;
        emit Settled();
        return true;
    }
    if (Succeeded && Generation != FGeneration && ResultsWanted()) {
        // Overtaken: the result is dropped and the newest values run next, once the caller has
        // finished with this run.
        FRerunPending = true;
        QTimer::singleShot(0, this, [this] {
            FRerunPending = false;
            if (ResultsWanted() && !Current()) Run();
            if (!Running()) emit Settled();
        });
        return false;
    }
    emit Settled();
    return false;
}

void TLivePreview::WaitUntilSettled() {
    while (Running()) {
        QEventLoop loop;
        connect(this, &TLivePreview::Settled, &loop, &QEventLoop::quit);
        loop.exec();
    }
}
