#include "ViewerDocument.h"

#include <QFileInfo>

#include <utility>

QString PixelFormatName(TPixelFormat Format) {
    switch (Format) {
    case pf1bit:
        return QStringLiteral("1-bit palette");
    case pf4bit:
        return QStringLiteral("4-bit palette");
    case pf8bit:
        return QStringLiteral("8-bit palette");
    case pf15bit:
        return QStringLiteral("15-bit");
    case pf16bit:
        return QStringLiteral("16-bit");
    case pf24bit:
        return QStringLiteral("24-bit");
    case pf32bit:
        return QStringLiteral("32-bit");
    case pfDevice:
        return QStringLiteral("device");
    default:
        return QStringLiteral("custom");
    }
}

QString TViewerDocument::DisplayName() const {
    return FFileName.isEmpty() ? QStringLiteral("Untitled") : QFileInfo(FFileName).fileName();
}

void TViewerDocument::Opened(const QString& FileName) {
    FFileName = FileName;
    FHistory.Clear();
    FPosition = FCleanPosition = 0;
}

void TViewerDocument::Saved(const QString& FileName) {
    FFileName = FileName;
    FCleanPosition = FPosition;
}

void TViewerDocument::Reloaded(TDibImage Before) {
    Changed(std::move(Before), QStringLiteral("Reload"));
    FCleanPosition = FPosition;
}

void TViewerDocument::Changed(TDibImage Before, const QString& Label) {
    // A clean step among the forgotten redo steps can never come back.
    if (FCleanPosition > FPosition) FCleanPosition = -1;
    FHistory.Push(std::move(Before), Label);
    ++FPosition;
}

TDibImage TViewerDocument::Undo(TDibImage Current) {
    --FPosition;
    return FHistory.Undo(std::move(Current));
}

TDibImage TViewerDocument::Redo(TDibImage Current) {
    ++FPosition;
    return FHistory.Redo(std::move(Current));
}
