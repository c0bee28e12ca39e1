#include "EnvelopesDialog.h"

#include "Channel.h"

#include <pictura/KvPictura.h>

#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

// The dialog's channels, in the order it shows them, as the control names them.
::TChannel ControlChannel(int Channel) {
    return AllChannels[size_t(Channel)];
}

const char* ChannelTitle(int Channel) {
    return ChannelInfo(ControlChannel(Channel)).Title;
}
const QColor ChannelColors[3] = {QColor(0xd0, 0x30, 0x30), QColor(0x2a, 0x9d, 0x3a),
                                 QColor(0x2f, 0x5f, 0xd0)};

} // namespace

TEnvelopesDialog::TEnvelopesDialog(TKvPictura& Picture, QWidget* Parent) : TOperationDialog(Parent) {
    setWindowTitle(tr("Envelopes"));
    std::array<TEnvelopeTable, 3> opened; // the curves start from the control's tables
    for (int channel = chRed; channel <= chBlue; ++channel)
        for (int i = 0; i < 256; ++i)
            opened[size_t(channel)][size_t(i)] = GetEnvelop(Picture, ControlChannel(channel), uint8_t(i));

    auto* content = new QVBoxLayout;
    auto* hint =
        new QLabel(tr("Each curve is a channel's gain at every level from 0 to 255. Drag a point to move "
                      "it, click elsewhere to add one, double-click a point to remove it."),
                   this);
    hint->setWordWrap(true);
    content->addWidget(hint);
    auto* curves = new QHBoxLayout;
    for (int channel = chRed; channel <= chBlue; ++channel) {
        const QString name = tr(ChannelTitle(channel));
        auto* box = new QGroupBox(name, this);
        auto* curve = new TEnvelopeCurve(ChannelColors[channel], box);
        curve->setObjectName(QString(ChannelTitle(channel)) + "Curve");
        curve->SetTable(opened[size_t(channel)]);
        connect(curve, &TEnvelopeCurve::Changed, this, [this] { ValuesChanged(); });
        auto* reset = new QPushButton(tr("Reset"), box);
        reset->setObjectName(QString(ChannelTitle(channel)) + "Reset");
        reset->setToolTip(tr("Back to 100 % at every level"));
        connect(reset, &QPushButton::clicked, curve, &TEnvelopeCurve::Reset);
        auto* boxLayout = new QVBoxLayout(box);
        boxLayout->addWidget(curve, 1);
        boxLayout->addWidget(reset, 0, Qt::AlignRight);
        curves->addWidget(box);
        FCurves[size_t(channel)] = curve;
    }
    content->addLayout(curves, 1);

    auto* applyRow = new QHBoxLayout;
    FApplyTo = new QComboBox(this);
    FApplyTo->setObjectName("ApplyTo");
    FApplyTo->addItems({tr("All channels"), tr("Red only"), tr("Green only"), tr("Blue only")});
    connect(FApplyTo, &QComboBox::currentIndexChanged, this, [this] { ValuesChanged(); });
    auto* label = new QLabel(tr("&Apply to:"), this);
    label->setBuddy(FApplyTo);
    applyRow->addWidget(label);
    applyRow->addWidget(FApplyTo);
    applyRow->addStretch(1);
    content->addLayout(applyRow);

    SetContent(content, QDialogButtonBox::RestoreDefaults);
    QPushButton* resetAll = Buttons()->button(QDialogButtonBox::RestoreDefaults);
    resetAll->setText(tr("Reset &All"));
    connect(resetAll, &QPushButton::clicked, this, [this] {
        for (TEnvelopeCurve* curve : FCurves)
            curve->Reset();
    });
}

TEnvelopesDialog::TApplyTo TEnvelopesDialog::ApplyTo() const {
    return TApplyTo(FApplyTo->currentIndex());
}

void TEnvelopesDialog::SetApplyTo(TApplyTo Value) {
    FApplyTo->setCurrentIndex(int(Value));
}

TEnvelopesDialog::TChosen TEnvelopesDialog::Chosen() const {
    TChosen chosen{ApplyTo(), {}};
    for (int channel = chRed; channel <= chBlue; ++channel)
        chosen.Tables[size_t(channel)] = FCurves[size_t(channel)]->Table();
    return chosen;
}

void TEnvelopesDialog::WriteTables(TKvPictura& Picture, const TChosen& Chosen) {
    for (int channel = chRed; channel <= chBlue; ++channel) {
        if (Chosen.ApplyTo != atAll && Chosen.ApplyTo != atRed + channel) continue;
        for (int i = 0; i < 256; ++i)
            SetEnvelop(Picture, ControlChannel(channel), uint8_t(i),
                       Chosen.Tables[size_t(channel)][size_t(i)]);
    }
}

TPictureOperation TEnvelopesDialog::Operation() const {
    return [chosen = Chosen()](TKvPictura& Picture) {
        WriteTables(Picture, chosen);
        if (chosen.ApplyTo == atAll)
            Picture.ApplyEnvelops();
        else
            ApplyEnvelop(Picture, ControlChannel(chosen.ApplyTo - atRed));
    };
}

void TEnvelopesDialog::KeepOperation(TKvPictura& Shown) {
    WriteTables(Shown, Chosen());
}

QString TEnvelopesDialog::OperationLabel() const {
    return ApplyTo() == atAll ? tr("Envelopes") : tr("%1 Envelope").arg(tr(ChannelTitle(ApplyTo() - atRed)));
}
