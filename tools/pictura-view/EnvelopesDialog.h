// TEnvelopesDialog: edits the control's three envelope tables as curves and applies them.
#pragma once

#include "EnvelopeCurve.h"
#include "OperationDialog.h"

class QComboBox;
class TKvPictura;

class TEnvelopesDialog : public TOperationDialog {
    Q_OBJECT
public:
    // Channels in the order the dialog shows them.
    enum TChannel { chRed, chGreen, chBlue };
    // Which tables OK applies: one channel's or all three in one pass.
    enum TApplyTo { atAll, atRed, atGreen, atBlue };

    // Reads the control's tables through its getters; the curves start from them.
    explicit TEnvelopesDialog(TKvPictura& Picture, QWidget* Parent = nullptr);

    TEnvelopeCurve* Curve(TChannel Channel) const { return FCurves[Channel]; }
    TApplyTo ApplyTo() const;
    void SetApplyTo(TApplyTo Value);

    // Writes the chosen channels' curves into the control's tables and applies them.
    void ApplyOperation() override;
    QString OperationLabel() const override;

protected:
    // Puts back the tables read when the dialog opened.
    void CancelOperation() override;

private:
    void WriteTable(TChannel Channel, const TEnvelopeTable& Table);

    TKvPictura& FPicture;
    std::array<TEnvelopeTable, 3> FOpened;
    std::array<TEnvelopeCurve*, 3> FCurves;
    QComboBox* FApplyTo;
    bool FWritten = false; // the control's tables were changed since the dialog opened
};
