// pictura: applies the image control's operations to a picture file from the command line.
#include "CommandLine.h"
#include "PicturaRun.h"
#include <pictura/KvPictura.h>

#include <QApplication>

#include <iostream>

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    TCommandLine commandLine;
    try {
        commandLine = ParseCommandLine(args);
    } catch (const TUsageError& e) {
        std::cerr << "pictura: " << e.what() << "\n";
        return 2;
    }
    if (commandLine.Help) {
        std::cout << UsageText();
        return 0;
    }
    if (commandLine.Version) {
        std::cout << "pictura " << PICTURA_VERSION << "\n";
        return 0;
    }
    // The control is a widget, so it needs an application; this tool never shows a window.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // Qt's own notes about the offscreen session are not the user's business; real failures are.
    qInstallMessageHandler([](QtMsgType Type, const QMessageLogContext&, const QString& Message) {
        if (Type == QtCriticalMsg || Type == QtFatalMsg)
            std::cerr << "pictura: " << Message.toStdString() << "\n";
    });
    QApplication application(argc, argv);
    return RunCommandLine(commandLine, std::cout, std::cerr);
}
