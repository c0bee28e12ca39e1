// TOperationSession: one operation on the viewer's picture, from the question whether to convert it
// to the last preview. It keeps the picture from before, so the operation can be cancelled cleanly or
// recorded as an undo step.
#pragma once

#include <pictura/PixelFormat.h>

#include <QString>

#include <functional>
#include <optional>

class QWidget;
class TKvPictura;

class TOperationSession {
public:
    // Picture is the control to work on; Frozen (may be null) is the widget whose painting is held
    // while the control is briefly grown to cover the whole picture.
    TOperationSession(TKvPictura& Picture, QWidget* Frozen) : FPicture(Picture), FFrozen(Frozen) {}

    // Copies the picture and makes sure it is 24-bit, asking with the control's own "Convert" box.
    // False, with nothing changed, when there is no picture or the user declines.
    bool Begin();
    // Runs Work on the whole picture and times it. When Work throws, the pixels from before the first
    // run come back, Error() says why and the result is false.
    bool Run(const std::function<void()>& Work);
    // Puts back the pixels from before the first run (keeping the conversion to 24 bits).
    void Restore();
    // Puts back the picture from before Begin, the conversion included.
    void Cancel();
    // The picture from before Begin, for the undo history; the session is spent afterwards.
    TDibImage TakeBefore() { return std::move(FBefore); }

    // True when the picture changed since Begin (a conversion or a run).
    bool Changed() const { return FConverted || FRan; }
    // Wall time of the last run in milliseconds.
    double LastMilliseconds() const { return FMilliseconds; }
    QString Error() const { return FError; }

private:
    const TDibImage& Base() const { return FConvertedBase ? *FConvertedBase : FBefore; }
    void Assign(const TDibImage& Picture);

    TKvPictura& FPicture;
    QWidget* FFrozen;
    TDibImage FBefore;
    std::optional<TDibImage> FConvertedBase; // the 24-bit picture, when Begin had to convert
    bool FConverted = false;
    bool FRan = false;
    double FMilliseconds = 0;
    QString FError;
};
