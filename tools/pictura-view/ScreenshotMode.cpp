#include "ScreenshotMode.h"

#include "MessageText.h"
#include "ViewerWindow.h"

#include <pictura/Dialogs.h>
#include <pictura/FileOutput.h>
#include <pictura/Picture.h>

#include <QApplication>
#include <QFileInfo>
#include <QPixmap>

#include <iostream>

namespace {

// Installs an answerer for the run's lifetime: nobody is there to answer, so every box gets OK.
class TAnswerOk {
public:
    TAnswerOk() {
        FPrevious =
            SetMessageBoxAnswerer([](HWND, const std::string& Text, const std::string& Caption, unsigned) {
                std::cerr << "pictura-view: "
                          << PrintableLine("\"" + Caption + "\" (" + Text + "): answered OK") << "\n";
                return IDOK;
            });
    }
    ~TAnswerOk() { SetMessageBoxAnswerer(FPrevious); }

private:
    TMessageBoxAnswerer FPrevious;
};

} // namespace

int RunScreenshot(TViewerWindow& Window, const TViewerOptions& Options) {
    const auto fail = [&](const QString& Reason) {
        std::cerr << "pictura-view: "
                  << PrintableLine("cannot write the screenshot \"" + Options.Screenshot.toStdString() +
                                   "\": " + Reason.toStdString())
                  << "\n";
        return 1;
    };
    const QString suffix = QFileInfo(Options.Screenshot).suffix().toLower();
    if (!TPicture::WritableExtensions().contains(suffix))
        return fail(QStringLiteral("the extension names no picture format that can be written (%1)")
                        .arg(TPicture::WritableExtensions().join(", ")));
    if (!Options.File.isEmpty() && IsSameFile(Options.Screenshot, Options.File))
        return fail(QStringLiteral("it is the picture the screenshot shows"));
    try {
        CheckOutputFile(Options.Screenshot); // a device or folder behind the name is never replaced
    } catch (const std::exception& e) {
        std::cerr << "pictura-view: " << PrintableLine(e.what()) << "\n";
        return 1;
    }

    TAnswerOk answerOk;
    Window.SetKeepsRecentFiles(false); // a run nobody watches is no use of a file worth remembering
    Window.SetErrorReporter([](const QString&, const QString& Message) {
        std::cerr << "pictura-view: " << PrintableLine(Message.toStdString()) << "\n";
    });
    Window.resize(Window.size().expandedTo(QSize(MinScreenshotWidth, MinScreenshotHeight)));
    Window.show();
    if (!Options.File.isEmpty() && !Window.OpenFile(Options.File)) return 1;
    for (size_t i = 0; i < Options.Operations.size(); ++i)
        if (!Window.RunCommandLineOperation(Options.Operations[i], Options.OperationLabels[qsizetype(i)]))
            return 1;
    QApplication::processEvents();

    // Written through the framework's picture, in the format the extension names, replaced atomically.
    TPicture shot;
    try {
        shot.GetBitmap()->FromQImage(Window.grab().toImage());
        shot.SaveToFile(Options.Screenshot);
    } catch (const std::exception& e) {
        std::cerr << "pictura-view: " << PrintableLine(e.what()) << "\n";
        return 1;
    }
    return 0;
}
