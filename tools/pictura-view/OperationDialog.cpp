#include "OperationDialog.h"

#include <QCheckBox>
#include <QVBoxLayout>

TOperationDialog::TOperationDialog(QWidget* Parent)
    : QDialog(Parent), FPreview(new TLivePreview(this)), FPreviewBox(new QCheckBox(tr("&Preview"), this)),
      FButtons(new QDialogButtonBox(this)) {
    FPreviewBox->setObjectName("PreviewBox");
    FPreviewBox->setChecked(true);
    connect(FPreviewBox, &QCheckBox::toggled, FPreview, &TLivePreview::SetEnabled);
    connect(FButtons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(FButtons, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

void TOperationDialog::SetPreviewHandlers(std::function<void()> Restore, TLivePreview::TApply Apply) {
    FPreview->SetHandlers(std::move(Restore), std::move(Apply));
    // Show the starting values at once: the dialog opens with a useful setting.
    FPreview->Schedule();
}

void TOperationDialog::SetContent(QLayout* Content, QDialogButtonBox::StandardButtons Extra) {
    FButtons->setStandardButtons(QDialogButtonBox::Ok | QDialogButtonBox::Cancel | Extra);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(Content, 1);
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(FPreviewBox);
    bottom->addStretch(1);
    bottom->addWidget(FButtons);
    layout->addLayout(bottom);
}

void TOperationDialog::accept() {
    FPreview->Finish();
    QDialog::accept();
}

void TOperationDialog::reject() {
    FPreview->Cancel();
    QDialog::reject();
}
