// TForm: a top-level window that owns and holds controls.
#pragma once

#include <pictura/Controls.h>
#include <pictura/Vcl40Export.h>

class VCL40_EXPORT TForm : public TWinControl {
    Q_OBJECT
    Q_PROPERTY(QString Caption READ Caption WRITE SetCaption)
public:
    // A form is always a window of its own; AOwner owns it without becoming its parent widget.
    explicit TForm(TComponent* AOwner = nullptr);

    QString Caption() const { return windowTitle(); }
    void SetCaption(const QString& Value) { setWindowTitle(Value); }
    // Shows the form and makes it the active window.
    void Show();
};
