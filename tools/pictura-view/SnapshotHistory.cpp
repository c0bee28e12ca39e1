#include "SnapshotHistory.h"

#include <utility>

size_t TSnapshotHistory::SizeOf(const TSnapshot& Snapshot) {
    return Snapshot.Picture.Bits.size() + Snapshot.Picture.Palette.size() * sizeof(uint32_t);
}

void TSnapshotHistory::Add(std::deque<TSnapshot>& Stack, TSnapshot Snapshot) {
    FBytes += SizeOf(Snapshot);
    Stack.push_back(std::move(Snapshot));
}

TSnapshot TSnapshotHistory::Take(std::deque<TSnapshot>& Stack) {
    TSnapshot snapshot = std::move(Stack.back());
    Stack.pop_back();
    FBytes -= SizeOf(snapshot);
    return snapshot;
}

void TSnapshotHistory::Push(TDibImage Before, const QString& Label) {
    while (!FRedo.empty())
        Take(FRedo);
    Add(FUndo, TSnapshot{std::move(Before), Label});
    Trim();
}

TDibImage TSnapshotHistory::Undo(TDibImage Current) {
    TSnapshot step = Take(FUndo);
    // The redo entry keeps the step's name, so Redo can say what it does again.
    Add(FRedo, TSnapshot{std::move(Current), step.Label});
    Trim();
    return std::move(step.Picture);
}

TDibImage TSnapshotHistory::Redo(TDibImage Current) {
    TSnapshot step = Take(FRedo);
    Add(FUndo, TSnapshot{std::move(Current), step.Label});
    Trim();
    return std::move(step.Picture);
}

void TSnapshotHistory::Clear() {
    FUndo.clear();
    FRedo.clear();
    FBytes = 0;
}

void TSnapshotHistory::SetMaxBytes(size_t Value) {
    FMaxBytes = Value;
    Trim();
}

void TSnapshotHistory::SetHeldElsewhere(size_t Bytes) {
    FHeldElsewhere = Bytes;
    Trim();
}

void TSnapshotHistory::Trim() {
    const auto over = [this] { return FBytes + FHeldElsewhere > FMaxBytes; };
    // Oldest undo steps first: they are the least likely to be wanted back.
    while (over() && FUndo.size() > 1) {
        FBytes -= SizeOf(FUndo.front());
        FUndo.pop_front();
    }
    while (over() && FRedo.size() > 1) {
        FBytes -= SizeOf(FRedo.front());
        FRedo.pop_front();
    }
}
