// Answers the real modal message box from inside a test, the way a user would: find the box once it
// is up and press one of its buttons.
#pragma once

#include <pictura/Dialogs.h>

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QTimer>

#include <functional>
#include <string>

// What the box looked like when it was answered.
struct TSeenBox {
    bool Shown = false;
    QString Title, Text;
    QWidget* Parent = nullptr;
    QStringList Buttons;
    bool HasIcon = false;
};

// Presses Button (QMessageBox::Ok or Cancel) on the next modal box, recording what it showed.
inline void AnswerNextBox(QMessageBox::StandardButton Button, TSeenBox* Seen) {
    auto poll = std::make_shared<std::function<void()>>();
    *poll = [Button, Seen, poll] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box) {
            QTimer::singleShot(5, *poll);
            return;
        }
        if (Seen) {
            Seen->Shown = true;
            Seen->Title = box->windowTitle();
            Seen->Text = box->text();
            Seen->Parent = box->parentWidget();
            Seen->HasIcon = box->icon() != QMessageBox::NoIcon;
            for (QAbstractButton* b : box->buttons())
                Seen->Buttons << b->text().remove('&');
        }
        box->button(Button)->click();
        // The running copy belongs to the timer; dropping the stored one breaks the self-reference.
        *poll = nullptr;
    };
    QTimer::singleShot(0, *poll);
}

// Makes MessageBoxA show the real box for the lifetime of this object, even offscreen.
struct TRealMessageBoxes {
    TRealMessageBoxes() { previous = SetMessageBoxAnswerer(ShowModalMessageBox); }
    ~TRealMessageBoxes() { SetMessageBoxAnswerer(previous); }
    TMessageBoxAnswerer previous;
};
