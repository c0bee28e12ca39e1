#include "PicturaRun.h"

#include "Operations.h"
#include "StderrCapture.h"

#include <pictura/Dialogs.h>
#include <pictura/FileOutput.h>
#include <pictura/KvPictura.h>
#include <pictura/SysUtils.h>

#include <QFileInfo>

#include <charconv>
#include <chrono>
#include <cstdio>
#include <iostream>
#include <string>
#include <unistd.h>

namespace {

// Answers the "Convert" box as the command line says, asking on a terminal when it says nothing.
int AnswerConvert(TConvertAnswer Answer, const std::string& Text, const std::string& Caption) {
    if (Answer == TConvertAnswer::Yes) return IDOK;
    if (Answer == TConvertAnswer::No) return IDCANCEL;
    if (!isatty(STDIN_FILENO))
        throw Exception(
            "the picture is not 24-bit and must be converted first: pass --yes to convert it or --no "
            "to decline (no terminal to ask on)");
    std::cerr << Caption << ": " << Text << "\nOK or Cancel? [o/c] " << std::flush;
    std::string reply;
    if (!std::getline(std::cin, reply)) return IDCANCEL;
    return (reply == "o" || reply == "O" || reply == "ok" || reply == "OK" || reply == "y" || reply == "yes")
               ? IDOK
               : IDCANCEL;
}

std::string Shortest(double Value) {
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, Value);
    return std::string(buffer, result.ptr);
}

void PrintEnvelops(const TKvPictura& Picture, std::ostream& Out) {
    std::string text;
    for (int i = 0; i < 256; ++i) {
        const uint8_t index = uint8_t(i);
        text += Shortest(Picture.GetRedEnvelop(index)) + " " + Shortest(Picture.GetGreenEnvelop(index)) +
                " " + Shortest(Picture.GetBlueEnvelop(index)) + "\n";
    }
    Out << text;
}

} // namespace

int RunCommandLine(const TCommandLine& CommandLine, std::ostream& Out, std::ostream& Err) {
    TKvPictura picture;
    const TConvertAnswer answer = CommandLine.Convert;
    const TMessageBoxAnswerer previous =
        SetMessageBoxAnswerer([answer](HWND, const std::string& Text, const std::string& Caption, unsigned) {
            return AnswerConvert(answer, Text, Caption);
        });
    int status = 0;
    try {
        const bool hasPicture = !CommandLine.Input.empty();
        if (hasPicture) {
            if (IsSameFile(QString::fromStdString(CommandLine.Input),
                           QString::fromStdString(CommandLine.Output)))
                throw Exception("the output \"" + CommandLine.Output +
                                "\" is the input picture; write the result to another file");
            const QString output = QString::fromStdString(CommandLine.Output);
            const QString suffix = QFileInfo(output).suffix().toLower();
            if (!TPicture::WritableExtensions().contains(suffix))
                throw Exception("cannot write \"" + CommandLine.Output + "\": unknown picture format \"" +
                                suffix.toStdString() + "\" (use one of " +
                                TPicture::WritableExtensions().join(", ").toStdString() + ")");
            CheckOutputFile(output);
            picture.SetAutoSize(!CommandLine.Size);
            TStderrCapture decoderMessages; // decoders that print their complaints on standard error
            try {
                picture.Picture()->LoadFromFile(QString::fromStdString(CommandLine.Input));
            } catch (const Exception& e) {
                const std::string said = decoderMessages.Finish();
                throw Exception(e.what() + (said.empty() ? std::string() : " (" + said + ")"));
            }
            decoderMessages.Finish();
            if (CommandLine.Size) picture.resize(CommandLine.Size->first, CommandLine.Size->second);
        }
        for (const TOperation& op : CommandLine.Operations) {
            const auto start = std::chrono::steady_clock::now();
            ApplyOperation(picture, op);
            if (op.Kind != TOperationKind::SetEnvelop &&
                picture.Picture()->GetBitmap()->GetPixelFormat() != pf24bit)
                throw Exception(op.Name +
                                ": declined converting the picture to 24 bits; nothing was written");
            if (CommandLine.Time) {
                const double ms =
                    std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                        .count();
                Err << "pictura: " << op.Name << " " << ms << " ms\n";
            }
        }
        if (hasPicture) picture.Picture()->SaveToFile(QString::fromStdString(CommandLine.Output));
        if (CommandLine.PrintEnvelops) PrintEnvelops(picture, Out);
    } catch (const std::bad_alloc&) {
        const TBitmap* bitmap = picture.Picture()->GetBitmap();
        Err << "pictura: out of memory working on \"" << CommandLine.Input << "\" (" << bitmap->Width()
            << " x " << bitmap->Height() << " pixels, " << bitmap->Dib().Bits.size() << " bytes)\n";
        status = 1;
    } catch (const std::exception& e) {
        Err << "pictura: " << e.what() << "\n";
        status = 1;
    }
    SetMessageBoxAnswerer(previous);
    return status;
}
