// TOperationDialog: the frame of the viewer's operation dialogs: content, a Preview box, OK and Cancel.
#pragma once

#include "LivePreview.h"

#include <QDialog>
#include <QDialogButtonBox>

class QCheckBox;

class TOperationDialog : public QDialog {
    Q_OBJECT
public:
    explicit TOperationDialog(QWidget* Parent = nullptr);

    // How the dialog reaches the picture: Restore puts back the pixels from before the dialog and Apply
    // calls ApplyOperation on the picture (the viewer times it and makes it cover the whole picture).
    void SetPreviewHandlers(std::function<void()> Restore, std::function<void()> Apply);
    TLivePreview& Preview() { return *FPreview; }

    // Runs the operation with the dialog's current values on the control.
    virtual void ApplyOperation() = 0;
    // The operation and its values for the undo history and the status bar, as in "Blur 50, 2".
    virtual QString OperationLabel() const = 0;

    void accept() override;
    void reject() override;

protected:
    // Puts Content above the Preview box and the buttons (OK, Cancel and Extra).
    void SetContent(QLayout* Content, QDialogButtonBox::StandardButtons Extra = QDialogButtonBox::NoButton);
    QDialogButtonBox* Buttons() const { return FButtons; }
    // Called on Cancel after the pixels are back, to undo anything else the previews changed.
    virtual void CancelOperation() {}
    // Subclasses call this whenever a value changes.
    void ValuesChanged() { FPreview->Schedule(); }

private:
    TLivePreview* FPreview;
    QCheckBox* FPreviewBox;
    QDialogButtonBox* FButtons;
};
