#include "ScreenshotMode.h"

#include "ViewerWindow.h"

#include <pictura/Dialogs.h>
#include <pictura/Picture.h>

#include <QApplication>
#include <QFileInfo>
#include <QPixmap>

#include <sys/stat.h>

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

// Why the screenshot may not be written to Output, or an empty string. Files are compared by device
// and inode, so another spelling of the input's path or a link to it is found too.
QString RefusalToWrite(const QString& Output, const QString& Input) {
    struct stat target {};
    if (::stat(QFile::encodeName(Output).constData(), &target) != 0) return {}; // a new file
    if (!S_ISREG(target.st_mode)) return QStringLiteral("it exists and is not a regular file");
    struct stat source {};
    if (!Input.isEmpty() && ::stat(QFile::encodeName(Input).constData(), &source) == 0 &&
        source.st_dev == target.st_dev && source.st_ino == target.st_ino)
        return QStringLiteral("it is the picture the screenshot shows");
    return {};
}

} // namespace

int RunScreenshot(TViewerWindow& Window, const TViewerOptions& Options) {
    const auto fail = [&](const QString& Reason) {
        std::cerr << "pictura-view: cannot write the screenshot \"" << Options.Screenshot.toStdString()
                  << "\": " << Reason.toStdString() << "\n";
        return 1;
    };
    const QString suffix = QFileInfo(Options.Screenshot).suffix().toLower();
    if (!TPicture::WritableExtensions().contains(suffix))
        return fail(QStringLiteral("the extension names no picture format that can be written (%1)")
                        .arg(TPicture::WritableExtensions().join(", ")));
    if (const QString refusal = RefusalToWrite(Options.Screenshot, Options.File); !refusal.isEmpty())
        return fail(refusal);

    TAnswerOk answerOk;
    Window.SetKeepsRecentFiles(false); // a run nobody watches is no use of a file worth remembering
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

    // Written through the framework's picture, in the format the extension names, replaced atomically.
    TPicture shot;
    try {
        shot.GetBitmap()->FromQImage(Window.grab().toImage());
        shot.SaveToFile(Options.Screenshot);
    } catch (const std::exception& e) {
        std::cerr << "pictura-view: " << e.what() << "\n";
        return 1;
    }
    return 0;
}
