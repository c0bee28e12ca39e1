#include "ScreenshotMode.h"

#include "ViewerWindow.h"

#include <pictura/Dialogs.h>
#include <pictura/FileOutput.h>
#include <pictura/SysUtils.h>

#include <QApplication>
#include <QBuffer>
#include <QPixmap>

#include <iostream>

namespace {

// Installs an answerer for the run's lifetime: nobody is there to answer, so every box gets OK.
class TAnswerOk {
public:
    TAnswerOk() {
        FPrevious =
            SetMessageBoxAnswerer([](HWND, const std::string& Text, const std::string& Caption, unsigned) {
                std::cerr << "pictura-view: \"" << Caption << "\" (" << Text << "): answered OK\n";
                return IDOK;
            });
    }
    ~TAnswerOk() { SetMessageBoxAnswerer(FPrevious); }

private:
    TMessageBoxAnswerer FPrevious;
};

} // namespace

int RunScreenshot(TViewerWindow& Window, const TViewerOptions& Options) {
    TAnswerOk answerOk;
    Window.SetErrorReporter([](const QString&, const QString& Message) {
        std::cerr << "pictura-view: " << Message.toStdString() << "\n";
    });
    Window.resize(Window.size().expandedTo(QSize(MinScreenshotWidth, MinScreenshotHeight)));
    Window.show();
    if (!Options.File.isEmpty() && !Window.OpenFile(Options.File)) return 1;
    for (size_t i = 0; i < Options.Operations.size(); ++i)
        if (!Window.RunCommandLineOperation(Options.Operations[i], Options.OperationLabels[qsizetype(i)]))
            return 1;
    QApplication::processEvents();

    const QPixmap shot = Window.grab();
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    try {
        if (!shot.save(&buffer, "PNG")) throw Exception("cannot encode the screenshot");
        WriteFileAtomically(Options.Screenshot, png);
    } catch (const std::exception& e) {
        std::cerr << "pictura-view: " << e.what() << "\n";
        return 1;
    }
    return 0;
}
