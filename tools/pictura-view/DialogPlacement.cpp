#include "DialogPlacement.h"

#include <algorithm>

QPoint DialogPlace(QRect Screen, QRect Window, QRect Picture, QSize Size) {
    const int roomRight = Screen.right() - Picture.right(), roomLeft = Picture.left() - Screen.left();
    int x;
    if (Window.right() + 1 + Size.width() <= Screen.right() + 1)
        x = Window.right() + 1;
    else if (Window.left() - Size.width() >= Screen.left())
        x = Window.left() - Size.width();
    else if (Size.width() <= roomRight || (Size.width() > roomLeft && roomRight >= roomLeft))
        x = std::max(Picture.right() + 1, Window.right() + 1 - Size.width()); // over the window's right
    else
        x = std::min(Picture.left() - Size.width(), Window.left()); // over its left
    // Whatever is left over goes off the screen's edge least.
    x = std::clamp(x, Screen.left(), std::max(Screen.left(), Screen.right() + 1 - Size.width()));
    const int y =
        std::clamp(Window.top(), Screen.top(), std::max(Screen.top(), Screen.bottom() + 1 - Size.height()));
    return {x, y};
}
