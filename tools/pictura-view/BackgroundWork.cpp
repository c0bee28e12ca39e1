#include "BackgroundWork.h"

#include <QEventLoop>

#include <exception>
#include <stdexcept>

TBackgroundWork::TBackgroundWork(QObject* Parent) : QObject(Parent) {
    // A connection made here, on this thread, rather than a call object built by the work thread:
    // what crosses over is Qt's alone.
    connect(this, &TBackgroundWork::WorkEnded, this, &TBackgroundWork::Finish, Qt::QueuedConnection);
}

TBackgroundWork::~TBackgroundWork() {
    // The queued Finish dies with this object; only the thread is left to end.
    if (FThread.joinable()) FThread.join();
}

void TBackgroundWork::Start(const QString& Title, std::function<void()> Work,
                            std::function<void(const QString& Error)> Done) {
    if (Busy()) throw std::logic_error("background work started while other work runs");
    FTitle = Title;
    FError.clear();
    FDone = std::move(Done);
    SetPercent(-1);
    FThread = std::thread([this, work = std::move(Work)] {
        try {
            work();
        } catch (const std::exception& e) {
            FError = QString::fromStdString(e.what());
            if (FError.isEmpty()) FError = QStringLiteral("unexpected error");
        } catch (...) {
            FError = QStringLiteral("unexpected error");
        }
        emit WorkEnded();
    });
    emit BusyChanged(true);
}

void TBackgroundWork::Finish() {
    FThread.join(); // from here on everything the work wrote is visible to this thread
    const QString error = FError;
    const std::function<void(const QString&)> done = std::move(FDone);
    FDone = nullptr;
    if (done) done(error);
    if (!Busy()) emit BusyChanged(false);
}

void TBackgroundWork::Wait() {
    while (Busy()) {
        QEventLoop loop;
        connect(this, &TBackgroundWork::BusyChanged, &loop, &QEventLoop::quit);
        loop.exec();
    }
}

QString RunAndWait(TBackgroundWork& Work, const QString& Title, std::function<void()> Job) {
    QString error;
    Work.Start(Title, std::move(Job), [&error](const QString& Error) { error = Error; });
    Work.Wait();
    return error;
}
