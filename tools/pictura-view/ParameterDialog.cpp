#include "ParameterDialog.h"

#include <QGridLayout>
#include <QLabel>
#include <QSignalBlocker>
#include <QSlider>
#include <QSpinBox>

TParameterDialog::TParameterDialog(const QString& Title, const QList<TParameter>& Parameters, TWork Work,
                                   QWidget* Parent)
    : TOperationDialog(Parent), FTitle(Title), FWork(std::move(Work)) {
    setWindowTitle(Title);
    auto* grid = new QGridLayout;
    grid->setColumnStretch(1, 1);
    int row = 0;
    for (const TParameter& parameter : Parameters) {
        auto* slider = new QSlider(Qt::Horizontal, this);
        auto* spin = new QSpinBox(this);
        auto* label = new QLabel(parameter.Label, this);
        label->setBuddy(slider);
        slider->setObjectName(parameter.Name + "Slider");
        spin->setObjectName(parameter.Name + "Spin");
        slider->setRange(parameter.Minimum, qMin(parameter.SliderMaximum, parameter.Maximum));
        spin->setRange(parameter.Minimum, parameter.Maximum);
        spin->setSuffix(parameter.Suffix);
        slider->setMinimumWidth(260);
        slider->setPageStep(qMax(1, (slider->maximum() - parameter.Minimum) / 10));
        slider->setValue(parameter.Value);
        spin->setValue(parameter.Value);
        // Either control moves the other. The slider follows the spin box silently: past the slider's end
        // it stops there, and must not pull the spin box's value back with it.
        connect(slider, &QSlider::valueChanged, spin, &QSpinBox::setValue);
        connect(spin, &QSpinBox::valueChanged, slider, [slider](int Value) {
            const QSignalBlocker quiet(slider);
            slider->setValue(Value);
        });
        connect(spin, &QSpinBox::valueChanged, this, [this] { ValuesChanged(); });
        grid->addWidget(label, row, 0);
        grid->addWidget(slider, row, 1);
        grid->addWidget(spin, row, 2);
        FSpins << spin;
        ++row;
    }
    SetContent(grid);
}

QList<int> TParameterDialog::Values() const {
    QList<int> values;
    for (const QSpinBox* spin : FSpins)
        values << spin->value();
    return values;
}

TPictureOperation TParameterDialog::Operation() const {
    return [work = FWork, values = Values()](TKvPictura& Picture) { work(Picture, values); };
}

QString TParameterDialog::OperationLabel() const {
    QStringList values;
    for (int value : Values())
        values << QString::number(value);
    return FTitle + " " + values.join(", ");
}
