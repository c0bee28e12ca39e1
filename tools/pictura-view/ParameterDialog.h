// TParameterDialog: an operation dialog with one slider and spin box per whole-number parameter.
#pragma once

#include "OperationDialog.h"

#include <QList>

class QSlider;
class QSpinBox;

// One parameter: Name names its slider ("<Name>Slider") and spin box ("<Name>Spin").
struct TParameter {
    QString Name;
    QString Label; // with an & before the mnemonic
    int Minimum;
    int Maximum;
    int Value;
    QString Suffix;    // unit after the spin box's number, as in " %"
    int SliderMaximum; // the slider stops here (at most Maximum); the spin box goes on to Maximum
};

class TParameterDialog : public TOperationDialog {
    Q_OBJECT
public:
    // Runs an operation on a control with the values in the order of Parameters.
    using TWork = std::function<void(TKvPictura& Picture, const QList<int>& Values)>;

    // Title names the operation; Work runs it.
    TParameterDialog(const QString& Title, const QList<TParameter>& Parameters, TWork Work,
                     QWidget* Parent = nullptr);

    QList<int> Values() const;
    TPictureOperation Operation() const override;
    QString OperationLabel() const override;

private:
    QString FTitle;
    TWork FWork;
    QList<QSpinBox*> FSpins;
};
