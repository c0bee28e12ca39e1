// TViewerDocument: what the viewer knows about the open picture apart from its pixels: the file it
// came from, whether it changed since, and the undo history.
#pragma once

#include "SnapshotHistory.h"

#include <QString>

// Short names of pixel formats for the status bar ("24-bit", "8-bit palette", ...).
QString PixelFormatName(TPixelFormat Format);

class TViewerDocument {
public:
    explicit TViewerDocument(size_t HistoryBytes = TSnapshotHistory::DefaultMaxBytes)
        : FHistory(HistoryBytes) {}

    // The file the picture was read from or last saved to; empty for none.
    QString FileName() const { return FFileName; }
    // The file's name without its folder, or "Untitled".
    QString DisplayName() const;
    // True when the picture differs from the file (an operation, undo or redo since open or save).
    bool Modified() const { return FPosition != FCleanPosition; }

    // A new picture was read from FileName: the history starts again and nothing is modified.
    void Opened(const QString& FileName);
    // The picture was written to FileName and is now what that file holds.
    void Saved(const QString& FileName);
    // The file was read again over Before, which stays one undo step away.
    void Reloaded(TDibImage Before);
    // An operation named Label changed the picture; Before is the picture before it.
    void Changed(TDibImage Before, const QString& Label);

    bool CanUndo() const { return FHistory.CanUndo(); }
    bool CanRedo() const { return FHistory.CanRedo(); }
    QString UndoLabel() const { return FHistory.UndoLabel(); }
    QString RedoLabel() const { return FHistory.RedoLabel(); }
    // Steps back from Current and returns the picture to show; only valid when CanUndo().
    TDibImage Undo(TDibImage Current);
    // Steps forward from Current and returns the picture to show; only valid when CanRedo().
    TDibImage Redo(TDibImage Current);

    const TSnapshotHistory& History() const { return FHistory; }
    TSnapshotHistory& History() { return FHistory; }

private:
    QString FFileName;
    TSnapshotHistory FHistory;
    // Steps from the opened picture (undo moves down, redo and new steps up) and the step that matches
    // the file; a clean step that can no longer be reached is -1.
    long FPosition = 0;
    long FCleanPosition = 0;
};
