// The pictures in a file's folder, for stepping to the next or previous one.
#pragma once

#include <QString>

#include <utility>

// The picture Step places after (Step > 0) or before (Step < 0) FileName among the readable pictures of
// its folder, in the order a file manager shows them ("2.png" before "10.png"); empty past the ends.
// FileName itself need not exist any more.
QString NeighbourPicture(const QString& FileName, int Step);

// FileName's place among the readable pictures of its folder, in the same order: (1, 3) for the first
// of three. (0, 0) when the folder cannot be read.
std::pair<int, int> FolderPosition(const QString& FileName);
