// The pictures in a file's folder, for stepping to the next or previous one.
#pragma once

#include <QString>

// The picture Step places after (Step > 0) or before (Step < 0) FileName among the readable pictures of
// its folder, in the order a file manager shows them ("2.png" before "10.png"); empty past the ends.
// FileName itself need not exist any more.
QString NeighbourPicture(const QString& FileName, int Step);
