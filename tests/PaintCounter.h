// Counts the paint events a widget receives.
#pragma once

#include <QEvent>
#include <QWidget>

class TPaintCounter : public QObject {
public:
    explicit TPaintCounter(QWidget* Widget) { Widget->installEventFilter(this); }
    int Paints = 0;

protected:
    bool eventFilter(QObject*, QEvent* Event) override {
        if (Event->type() == QEvent::Paint) ++Paints;
        return false;
    }
};
