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
    // Title names the operation; Work runs it with the values in the order of Parameters.
    TParameterDialog(const QString& Title, const QList<TParameter>& Parameters,
                     std::function<void(const QList<int>&)> Work, QWidget* Parent = nullptr);

    QList<int> Values() const;
    void ApplyOperation() override { FWork(Values()); }
    QString OperationLabel() const override;

private:
    QString FTitle;
    std::function<void(const QList<int>&)> FWork;
    QList<QSpinBox*> FSpins;
};
