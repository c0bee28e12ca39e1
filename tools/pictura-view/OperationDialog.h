// TOperationDialog: the frame of the viewer's operation dialogs: content, a Preview box, OK and Cancel.
#pragma once

#include "LivePreview.h"
#include "OperationSession.h"

#include <QDialog>
#include <QDialogButtonBox>

class QCheckBox;

class TOperationDialog : public QDialog {
    Q_OBJECT
public:
    explicit TOperationDialog(QWidget* Parent = nullptr);

    // How the dialog reaches the picture: Restore puts back the pixels from before the dialog and Apply
    // starts Operation() off the GUI thread (see TLivePreview::TApply).
    void SetPreviewHandlers(std::function<void()> Restore, TLivePreview::TApply Apply);
    TLivePreview& Preview() { return *FPreview; }

    // The operation with the dialog's current values, for any control on any thread.
    virtual TPictureOperation Operation() const = 0;
    // The operation and its values for the undo history and the status bar, as in "Blur 50, 2".
    virtual QString OperationLabel() const = 0;
    // Called once the accepted operation's result is shown: carries over to Shown whatever else the
    // operation changed on the control it ran on.
    virtual void KeepOperation(TKvPictura& Shown) { Q_UNUSED(Shown); }

    void accept() override;
    void reject() override;

protected:
    // Puts Content above the Preview box and the buttons (OK, Cancel and Extra).
    void SetContent(QLayout* Content, QDialogButtonBox::StandardButtons Extra = QDialogButtonBox::NoButton);
    QDialogButtonBox* Buttons() const { return FButtons; }
    // Subclasses call this whenever a value changes.
    void ValuesChanged() { FPreview->Schedule(); }

private:
    TLivePreview* FPreview;
    QCheckBox* FPreviewBox;
    QDialogButtonBox* FButtons;
};
