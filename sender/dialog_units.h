#pragma once

// Dialog units of the small dialogs in pixels, for their 8-point dialog font: a horizontal unit
// is a quarter of the font's mean character width (6 pixels), a vertical unit an eighth of its
// height (13 pixels).

#include <QRect>

namespace sender {

[[nodiscard]] constexpr int dialogUnitsX(int units) { return units * 6 / 4; }
[[nodiscard]] constexpr int dialogUnitsY(int units) { return units * 13 / 8; }
[[nodiscard]] constexpr QRect dialogUnits(int x, int y, int w, int h) {
    return {dialogUnitsX(x), dialogUnitsY(y), dialogUnitsX(w), dialogUnitsY(h)};
}
[[nodiscard]] constexpr QRect dialogUnits(int w, int h) { return dialogUnits(0, 0, w, h); }

}  // namespace sender
