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

    // Writes the chosen channels' curves into a control's tables and applies them; the other tables
    // keep what they held.
    TPictureOperation Operation() const override;
    QString OperationLabel() const override;
    // Writes the applied channels' curves into Shown's tables, as the operation did on its control.
    void KeepOperation(TKvPictura& Shown) override;

private:
    // The channels OK applies and their tables, in a form any thread can use.
    struct TChosen {
        TApplyTo ApplyTo;
        std::array<TEnvelopeTable, 3> Tables;
    };
    TChosen Chosen() const;
    static void WriteTables(TKvPictura& Picture, const TChosen& Chosen);

    std::array<TEnvelopeCurve*, 3> FCurves;
    QComboBox* FApplyTo;
};
