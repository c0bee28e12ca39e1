// TBackgroundWork: runs the viewer's long work (reading, writing, operations) on a thread of its own, one
// piece at a time, so the window keeps painting and answering while it runs.
#pragma once

#include <QObject>
#include <QString>

#include <atomic>
#include <functional>
#include <thread>

class TBackgroundWork : public QObject {
    Q_OBJECT
public:
    explicit TBackgroundWork(QObject* Parent = nullptr);
    // Waits for work still running: nothing it touches may go away under it.
    ~TBackgroundWork() override;

    bool Busy() const { return FThread.joinable(); }
    // What the running work does, for people ("Blur", "Saving photo.png").
    QString Title() const { return FTitle; }

    // Runs Work on a new thread. When it has ended, Done runs on this object's thread with what Work
    // threw (empty when it returned normally); Done may start the next work. Only one piece of work runs
    // at a time: starting while Busy() throws std::logic_error.
    void Start(const QString& Title, std::function<void()> Work,
               std::function<void(const QString& Error)> Done);
    // Processes events until no work runs (and any started from a Done has ended too).
    void Wait();

    // The running work's progress in whole percents, or -1 while it has said nothing. Any thread.
    int Percent() const { return FPercent.load(std::memory_order_relaxed); }
    void SetPercent(int Value) { FPercent.store(Value, std::memory_order_relaxed); }

signals:
    // Work started (true) or ended with nothing started after it (false).
    void BusyChanged(bool Busy);
    // Emitted by the work thread as it ends; queued to Finish on this object's thread.
    void WorkEnded();

private slots:
    void Finish();

private:
    std::thread FThread;
    QString FTitle;
    QString FError; // written by the work thread, read after joining it
    std::function<void(const QString&)> FDone;
    std::atomic<int> FPercent{-1};
};

// Runs Job on Work and waits for it, processing events; returns what it threw, or an empty string.
QString RunAndWait(TBackgroundWork& Work, const QString& Title, std::function<void()> Job);
