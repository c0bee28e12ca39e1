#include "OperationSession.h"

#include <pictura/KvPictura.h>

#include <QElapsedTimer>

bool TOperationSession::Begin() {
    TBitmap* bitmap = FPicture.Picture()->GetBitmap();
    if (bitmap->Empty()) return false;
    FBefore = bitmap->Dib();
    if (bitmap->GetPixelFormat() == pf24bit) return true;
    if (!FPicture.Set24BitColor()) return false;
    FConverted = true;
    FConvertedBase = bitmap->Dib();
    return true;
}

bool TOperationSession::Run(const std::function<void()>& Work) {
    // The control works on its own Width x Height clipped to the bitmap. A view smaller than the
    // picture (zoomed to fit) would leave the rest untouched, so the control covers the whole picture
    // while it works, with painting held so the larger size never shows.
    TBitmap* bitmap = FPicture.Picture()->GetBitmap();
    const QSize viewSize = FPicture.size();
    const QSize workSize = viewSize.expandedTo(QSize(bitmap->Width(), bitmap->Height()));
    const bool grow = workSize != viewSize;
    const bool wasFrozen = FFrozen && !FFrozen->updatesEnabled();
    if (grow) {
        if (FFrozen) FFrozen->setUpdatesEnabled(false);
        FPicture.resize(workSize);
    }
    FError.clear();
    FRan = true; // from here on the pixels may differ from the base, even if Work fails half way
    QElapsedTimer timer;
    timer.start();
    try {
        Work();
    } catch (const std::exception& e) {
        FError = QString::fromStdString(e.what());
    }
    FMilliseconds = double(timer.nsecsElapsed()) / 1e6;
    if (grow) {
        FPicture.resize(viewSize);
        if (FFrozen && !wasFrozen) FFrozen->setUpdatesEnabled(true);
        FPicture.update();
    }
    if (!FError.isEmpty()) {
        Restore();
        return false;
    }
    return true;
}

void TOperationSession::Restore() {
    if (!FRan) return;
    Assign(Base());
    FRan = false;
}

void TOperationSession::Cancel() {
    if (Changed()) Assign(FBefore);
    FRan = FConverted = false;
    FConvertedBase.reset();
}

void TOperationSession::Assign(const TDibImage& Picture) {
    FPicture.Picture()->GetBitmap()->Assign(Picture);
    FPicture.update();
}
