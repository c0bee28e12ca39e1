#include "ViewerOptions.h"

#include "MessageText.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <cstdlib>
#include <cstring>
#include <iostream>

void UseOffscreenWithoutWindow(int argc, char** argv) {
    if (!qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) return;
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (std::strcmp(arg, "--screenshot") == 0 || std::strncmp(arg, "--screenshot=", 13) == 0 ||
            std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0 ||
            std::strcmp(arg, "--help-all") == 0 || std::strcmp(arg, "--version") == 0 ||
            std::strcmp(arg, "-v") == 0) {
            qputenv("QT_QPA_PLATFORM", "offscreen");
            return;
        }
    }
}

// Every operation as --op takes it, from the table: "invert, brightness=20, blur=50,2, ...".
QString OperationExamples() {
    QStringList examples;
    for (const TOperationSpec& spec : OperationTable()) {
        const std::string name = spec.OptionName(TChannel::Red);
        examples << QString::fromStdString(*spec.Example ? name + "=" + spec.Example : name);
    }
    return examples.join(", ");
}

QString OperationLabel(const QString& Text) {
    const qsizetype equals = Text.indexOf('=');
    QString name = Text.left(equals).replace('-', ' ');
    if (!name.isEmpty()) name[0] = name[0].toUpper();
    if (equals < 0) return name;
    QString argument = Text.mid(equals + 1);
    return name + " " + argument.replace(",", ", ");
}

std::optional<TViewerOptions> ReadViewerOptions(const QStringList& Arguments) {
    QCommandLineParser parser;
    parser.setApplicationDescription(QCoreApplication::translate(
        "main", "Opens a picture and runs the Pictura image control's operations on it.\n\n"
                "Screenshot mode: pictura-view FILE --op greyscale --op blur=50,2 --screenshot OUT.png\n"
                "opens FILE, runs each --op, writes a picture of the whole window (in the format OUT's\n"
                "extension names; never over FILE) and quits, leaving the recent files alone. Nobody can\n"
                "answer questions there, so a picture that is not 24-bit is converted without asking\n"
                "(the \"Convert\" box is answered OK), and errors go to standard error."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument("file", QCoreApplication::translate("main", "The picture to open."),
                                 "[FILE]");
    const QCommandLineOption op(
        "op",
        QCoreApplication::translate("main",
                                    "Run an operation of the pictura tool after opening FILE, named "
                                    "without the dashes, its argument after '=' (%1). May be repeated.")
            .arg(OperationExamples()),
        "name[=argument]");
    const QCommandLineOption screenshot(
        "screenshot",
        QCoreApplication::translate("main", "Write a picture of the whole window to <file> and quit."),
        "file");
    parser.addOption(op);
    parser.addOption(screenshot);
    // Qt would print an unknown option as it was typed: the message is printed here, escaped.
    if (!parser.parse(Arguments)) {
        std::cerr << "pictura-view: " << PrintableLine(parser.errorText().toStdString()) << "\n";
        std::exit(1);
    }
    if (parser.isSet("help") || parser.isSet("version")) parser.process(Arguments);

    TViewerOptions options;
    const QStringList positional = parser.positionalArguments();
    if (positional.size() > 1) {
        std::cerr << "pictura-view: one picture at a time (got " << positional.size() << ")\n";
        return std::nullopt;
    }
    if (!positional.isEmpty()) options.File = positional.front();
    options.Screenshot = parser.value(screenshot);
    for (const QString& text : parser.values(op)) {
        const qsizetype equals = text.indexOf('=');
        const std::string name = text.left(equals).toStdString();
        const std::string argument = equals < 0 ? std::string() : text.mid(equals + 1).toStdString();
        try {
            options.Operations.push_back(ParseOperation(name, argument));
        } catch (const std::exception& e) {
            std::cerr << "pictura-view: " << PrintableLine("--op " + text.toStdString() + ": " + e.what())
                      << "\n";
            return std::nullopt;
        }
        options.OperationLabels << OperationLabel(text);
    }
    if (!options.Operations.empty() && options.File.isEmpty()) {
        std::cerr << "pictura-view: --op needs a picture to work on\n";
        return std::nullopt;
    }
    return options;
}
