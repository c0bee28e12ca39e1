// Where a dialog that previews its work on the picture goes: beside the window where the screen has
// room, else over the part of the window that does not show the picture.
#pragma once

#include <QRect>
#include <QSize>

// The dialog's top-left corner for a dialog of Size (its frame) on Screen (its available area), for
// Window's frame and the Picture as shown there, all in screen coordinates.
QPoint DialogPlace(QRect Screen, QRect Window, QRect Picture, QSize Size);
