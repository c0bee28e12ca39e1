#include "OperationSession.h"

#include "BackgroundWork.h"

#include <pictura/KvPictura.h>

#include <QElapsedTimer>

TOperationSession::~TOperationSession() {
    FWork.Wait();
}

bool TOperationSession::Begin() {
    TBitmap* bitmap = FShown.Picture()->GetBitmap();
    if (bitmap->Empty()) return false;
    if (bitmap->GetPixelFormat() == pf24bit) return true;
    // The control's own "Convert" box asks, from a stand-in that has the same owner and a one-pixel
    // picture of the same format: the question is the control's, the conversion of the whole picture is
    // left to the first run, off the GUI thread.
    TKvPictura standIn(FShown.Owner());
    const TDibImage& shown = bitmap->Dib();
    TDibImage pixel;
    pixel.Width = pixel.Height = 1;
    pixel.Format = shown.Format;
    pixel.Palette = shown.Palette;
    pixel.HasAlpha = shown.HasAlpha;
    pixel.Bits.assign(shown.Row(0), shown.Row(0) + pixel.Stride());
    standIn.Picture()->GetBitmap()->Assign(std::move(pixel));
    if (!standIn.Set24BitColor()) return false;
    FConverted = true;
    return true;
}

void TOperationSession::Run(const QString& Title, TPictureOperation Operation, std::function<bool()> Wanted,
                            std::function<void()> Done) {
    const TBitmap* shown = FShown.Picture()->GetBitmap();
    // The worker processes its own Width x Height: it covers the whole picture, whatever the view shows.
    FWorker.resize(shown->Width(), shown->Height());
    FWorker.AssignEnvelops(FShown);
    FError.clear();
    const auto work = [this, shown, operation = std::move(Operation)] {
        // Only reads of the shown picture here: the GUI thread paints it meanwhile and changes it only
        // after this work has ended.
        if (!FBase) {
            if (FConverted) {
                FBefore = shown->Dib();
                TBitmap converted;
                converted.Assign(*FBefore);
                converted.SetPixelFormat(pf24bit);
                FBase = converted.Dib();
            } else {
                FBase = shown->Dib();
            }
        }
        FWorker.Picture()->GetBitmap()->Assign(*FBase);
        QElapsedTimer timer;
        timer.start();
        operation(FWorker);
        FRunMilliseconds = double(timer.nsecsElapsed()) / 1e6;
        FResult = FWorker.Picture()->GetBitmap()->TakeDib(); // moved: no fourth copy of the picture
    };
    const auto done = [this, wanted = std::move(Wanted), finished = std::move(Done)](const QString& Error) {
        FError = Error;
        if (Error.isEmpty() && (!wanted || wanted())) {
            FMilliseconds = FRunMilliseconds;
            FShown.Picture()->GetBitmap()->Assign(std::move(FResult));
            FShown.update();
            FShowsResult = true;
        }
        // A dropped result stays: the next run copies into its memory rather than this thread freeing it.
        if (finished) finished();
    };
    FWork.Start(Title, work, done);
}

void TOperationSession::Restore() {
    if (!FShowsResult) return;
    Show(*FBase);
    FShowsResult = false;
}

void TOperationSession::Cancel() {
    if (FBefore) // converted by a run: the picture from before the conversion goes back
        Show(*FBefore);
    else
        Restore();
    FShowsResult = FConverted = false;
}

TDibImage TOperationSession::TakeBefore() {
    if (FBefore) return std::move(*FBefore);
    if (FConverted) return FShown.Picture()->GetBitmap()->Dib(); // no run has converted it yet
    return FBase ? std::move(*FBase) : FShown.Picture()->GetBitmap()->Dib();
}

void TOperationSession::Show(const TDibImage& Picture) {
    FShown.Picture()->GetBitmap()->Assign(Picture);
    FShown.update();
}
