#pragma once

#include <QRectF>
#include <QSizeF>
#include <cstdint>
#include <vector>

namespace orvix {

// One key of the on-screen keyboard: its key code and its frame in layout
// coordinates (points, origin at the top left, y down). Each frame has the
// size of KeyView::sizeForCode for its code.
struct KeyPlacement {
    int64_t code;
    QRectF frame;
};

// The compact keyboard (ANSI, 78 keys) in six rows, top to bottom and left to
// right: function row, digits, QWERTY row, home row, shift row, bottom row with
// the arrows (up above down). Rows are justified to one width.
std::vector<KeyPlacement> keyboardLayout();

// The size of the whole layout, margins included.
QSizeF keyboardLayoutSize();

} // namespace orvix
