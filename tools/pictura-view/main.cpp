// pictura-view: opens a picture in a window and runs the image control's operations on it.
#include "ScreenshotMode.h"
#include "ViewerOptions.h"
#include "ViewerWindow.h"

#include <QApplication>

int main(int argc, char** argv) {
    UseOffscreenWithoutWindow(argc, argv);
    QApplication application(argc, argv);
    QApplication::setOrganizationName("Pictura");
    QApplication::setApplicationName("pictura-view");
    QApplication::setApplicationDisplayName("Pictura Viewer");
    QApplication::setApplicationVersion(PICTURA_VERSION);
    const std::optional<TViewerOptions> options = ReadViewerOptions(QApplication::arguments());
    if (!options) return 2;

    TViewerWindow window;
    if (!options->Screenshot.isEmpty()) return RunScreenshot(window, *options);
    window.show();
    if (!options->File.isEmpty() && window.OpenFile(options->File))
        for (size_t i = 0; i < options->Operations.size(); ++i)
            window.RunCommandLineOperation(options->Operations[i], options->OperationLabels[qsizetype(i)]);
    return application.exec();
}
