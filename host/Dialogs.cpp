#include <pictura/Dialogs.h>

#include <QApplication>
#include <QMessageBox>

#include <iostream>

namespace {

TMessageBoxAnswerer& InstalledAnswerer() {
    static TMessageBoxAnswerer answerer;
    return answerer;
}

bool HasInteractiveDisplay() {
    if (!qobject_cast<QApplication*>(QCoreApplication::instance())) return false;
    const QString platform = QGuiApplication::platformName();
    return platform != "offscreen" && platform != "minimal";
}

int SafeAnswer(unsigned Type) {
    switch (Type & 0xF) {
    case MB_OK:
        return IDOK;
    case MB_YESNO:
        return IDNO;
    default:
        return IDCANCEL;
    }
}

} // namespace

int ShowModalMessageBox(HWND OwnerWindow, const std::string& Text, const std::string& Caption,
                        unsigned Type) {
    QMessageBox::StandardButtons buttons;
    switch (Type & 0xF) {
    case MB_OKCANCEL:
        buttons = QMessageBox::Ok | QMessageBox::Cancel;
        break;
    case MB_YESNOCANCEL:
        buttons = QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
        break;
    case MB_YESNO:
        buttons = QMessageBox::Yes | QMessageBox::No;
        break;
    default:
        buttons = QMessageBox::Ok;
        break;
    }
    QWidget* owner = OwnerWindow ? QWidget::find(OwnerWindow) : nullptr;
    QMessageBox box(QMessageBox::NoIcon, QString::fromStdString(Caption), QString::fromStdString(Text),
                    buttons, owner ? owner->window() : nullptr);
    box.setWindowModality(Qt::ApplicationModal);
    // exec() answers with Qt's button codes, not the framework's IDs.
    switch (box.exec()) {
    case QMessageBox::Ok:
        return IDOK;
    case QMessageBox::Yes:
        return IDYES;
    case QMessageBox::No:
        return IDNO;
    default:
        return IDCANCEL;
    }
}

int MessageBoxA(HWND OwnerWindow, const char* Text, const char* Caption, unsigned Type) {
    const std::string text = Text ? Text : "", caption = Caption ? Caption : "";
    if (const TMessageBoxAnswerer& answerer = InstalledAnswerer())
        return answerer(OwnerWindow, text, caption, Type);
    if (HasInteractiveDisplay()) return ShowModalMessageBox(OwnerWindow, text, caption, Type);
    std::cerr << "message box \"" << caption << "\" (" << text
              << ") cannot be shown without an interactive display; answered "
              << (SafeAnswer(Type) == IDOK   ? "OK"
                  : SafeAnswer(Type) == IDNO ? "No"
                                             : "Cancel")
              << "\n";
    return SafeAnswer(Type);
}

TMessageBoxAnswerer SetMessageBoxAnswerer(TMessageBoxAnswerer Answerer) {
    TMessageBoxAnswerer previous = std::move(InstalledAnswerer());
    InstalledAnswerer() = std::move(Answerer);
    return previous;
}
