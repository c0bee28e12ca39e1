#include <pictura/Forms.h>

TForm::TForm(TComponent* AOwner) : TWinControl(nullptr) {
    setWindowFlag(Qt::Window);
    if (AOwner) connect(AOwner, &QObject::destroyed, this, [this] { delete this; });
}

void TForm::Show() {
    show();
    raise();
    activateWindow();
}
