#include "DecoderMessages.h"

#include "TiffMessages.h"

#include <QString>
#include <QtGlobal>

#include <cstdio>
#include <mutex>

namespace {

thread_local TDecoderMessages* collecting = nullptr;
QtMessageHandler previousHandler = nullptr;

void Collect(QtMsgType Type, const QMessageLogContext& Context, const QString& Message) {
    if (collecting && Type != QtFatalMsg) {
        collecting->Add(Message.toStdString());
        return;
    }
    if (previousHandler) {
        previousHandler(Type, Context, Message);
        return;
    }
    std::fprintf(stderr, "%s\n", qPrintable(qFormatLogMessage(Type, Context, Message)));
}

} // namespace

TDecoderMessages::TDecoderMessages() : FOuter(collecting) {
    static std::once_flag once;
    std::call_once(once, [] {
        previousHandler = qInstallMessageHandler(Collect);
        RouteTiffMessages();
    });
    collecting = this;
}

TDecoderMessages::~TDecoderMessages() {
    collecting = FOuter;
}

TDecoderMessages* TDecoderMessages::Current() {
    return collecting;
}

void TDecoderMessages::PassOn(const std::string& Line) {
    collecting = FOuter;
    qWarning("%s", Line.c_str());
    collecting = this;
}

void TDecoderMessages::Add(const std::string& Message, bool Damage) {
    FDamaged = FDamaged || Damage;
    constexpr size_t MaxLength = 400;
    if (FText.size() >= MaxLength) return;
    // Readers are asked several times (format, size, pixels): a complaint is told once.
    if (FSeen.count(Message)) return;
    FSeen.insert(Message);
    if (!FText.empty()) FText += "; ";
    for (const char c : Message) {
        if (FText.size() >= MaxLength) {
            FText += "...";
            break;
        }
        // Decoders quote bytes of the file: no control character reaches a terminal.
        const unsigned char u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", u);
            FText += escaped;
        } else {
            FText += c;
        }
    }
}
