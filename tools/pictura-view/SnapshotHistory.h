// TSnapshotHistory: undo and redo for whole-picture operations, kept as copies of the picture.
#pragma once

#include <pictura/PixelFormat.h>

#include <QString>

#include <cstddef>
#include <deque>

// One step of the history: the picture on the far side of the step, and the step's name.
struct TSnapshot {
    TDibImage Picture;
    QString Label;
};

// Undo and redo stacks of picture copies whose total size (with the copies held elsewhere) stays within
// a byte budget: the oldest undo
// steps go first, then the farthest redo steps, but the nearest undo and redo steps always stay, so
// one step can be taken back whatever the picture's size.
class TSnapshotHistory {
public:
    // Budget used unless told otherwise: 512 MiB.
    static constexpr size_t DefaultMaxBytes = size_t(512) << 20;

    explicit TSnapshotHistory(size_t MaxBytes = DefaultMaxBytes) : FMaxBytes(MaxBytes) {}

    // Records a new step: Before is the picture before it. Forgets the redo steps.
    void Push(TDibImage Before, const QString& Label);
    // Takes the newest step back: Current goes to the redo stack and the picture to show is returned.
    // Only valid when CanUndo().
    TDibImage Undo(TDibImage Current);
    // Takes the nearest redo step again; only valid when CanRedo().
    TDibImage Redo(TDibImage Current);
    // Forgets every step.
    void Clear();

    bool CanUndo() const { return !FUndo.empty(); }
    bool CanRedo() const { return !FRedo.empty(); }
    // Names of the step Undo and Redo would take; empty when there is none.
    QString UndoLabel() const { return FUndo.empty() ? QString() : FUndo.back().Label; }
    QString RedoLabel() const { return FRedo.empty() ? QString() : FRedo.back().Label; }
    int UndoCount() const { return int(FUndo.size()); }
    int RedoCount() const { return int(FRedo.size()); }

    // Bytes of pixels and palettes held by both stacks.
    size_t Bytes() const { return FBytes; }
    size_t MaxBytes() const { return FMaxBytes; }
    // Changes the budget, dropping steps at once if they no longer fit.
    void SetMaxBytes(size_t Value);
    // Bytes of picture copies held outside the history for a while (an operation's starting picture and
    // the worker's copy): they count in the budget, dropping steps at once if the rest no longer fits.
    void SetHeldElsewhere(size_t Bytes);
    size_t HeldElsewhere() const { return FHeldElsewhere; }

private:
    static size_t SizeOf(const TSnapshot& Snapshot);
    void Add(std::deque<TSnapshot>& Stack, TSnapshot Snapshot);
    TSnapshot Take(std::deque<TSnapshot>& Stack);
    void Trim();

    std::deque<TSnapshot> FUndo; // oldest at the front
    std::deque<TSnapshot> FRedo; // farthest at the front
    size_t FBytes = 0;
    size_t FMaxBytes;
    size_t FHeldElsewhere = 0;
};
