#pragma once

#include <QColor>

// The brand colour: the accent of every view (the primary button, the switches,
// the link, the HUD's symbols and level meter).
inline const QColor& wispenBlue() {
    static const QColor colour = QColor::fromRgb(40, 118, 247);
    return colour;
}
