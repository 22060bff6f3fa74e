#pragma once

// The program's own artwork, drawn in code: the program icon and the hand
// pointer that the windows show over their buttons.

#include <QByteArray>
#include <QImage>
#include <QPoint>

namespace orl::art {

// The program icon, a square of `size` pixels with transparent corners.
QImage DrawProgramIcon(int size);

// The hand pointer: 32 by 32 pixels, the index finger pointing up.
QImage DrawHandPointer();
// Where the hand points: the top of the index finger.
QPoint HandPointerHotSpot();

// A Windows cursor file (.cur) holding `image` (at most 255 by 255 pixels)
// as a 32-bit picture with an AND mask, with the given hot spot.
QByteArray CursorFile(const QImage& image, QPoint hotSpot);

}  // namespace orl::art
