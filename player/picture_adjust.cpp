#include "player/picture_adjust.h"

#include <algorithm>

namespace player {

void adjustSliderMoved(PictureAdjust& adjust, AdjustSlider slider, int value) {
    if (slider == AdjustSlider::Brightness) {
        adjust.brightness = std::clamp(value, 0, kMaxBrightness);
    } else {
        adjust.contrast = std::clamp(value, 0, kMaxContrast);
    }
    adjust.savedBrightness = adjust.brightness;
    adjust.savedContrast = adjust.contrast;
}

void adjustDefaults(PictureAdjust& adjust) {
    adjust.brightness = kDefaultBrightness;
    adjust.contrast = kDefaultContrast;
}

void adjustUndo(PictureAdjust& adjust) {
    adjust.brightness = adjust.savedBrightness;
    adjust.contrast = adjust.savedContrast;
}

ColourTable colourTable(int brightness, int contrast) {
    const int scale10 = kMaxContrast - std::clamp(contrast, 0, kMaxContrast);
    const int offset = kDefaultBrightness - std::clamp(brightness, 0, kMaxBrightness);
    ColourTable table{};
    for (int c = 0; c < 256; ++c) {
        // Tenths in integers: a scale such as 1.1 or 0.9 has no exact binary form, and
        // c * 1.1 in floating point lands a hair off the halves (5 * 1.1 = 5.5000000000000009)
        // that must round to even.
        const int tenths = c * scale10 + 10 * offset;
        int whole = tenths >= 0 ? tenths / 10 : -((-tenths + 9) / 10);  // rounded down
        const int rest = tenths - 10 * whole;                           // 0..9
        if (rest > 5 || (rest == 5 && (whole & 1) != 0)) {
            ++whole;
        }
        table[static_cast<size_t>(c)] = static_cast<uint8_t>(std::clamp(whole, 0, 255));
    }
    return table;
}

void adjustPixels(std::span<const uint32_t> record, std::span<uint32_t> display,
                  const PictureAdjust& adjust, ColourFormat format) {
    const ColourTable table = colourTable(adjust.brightness, adjust.contrast);
    const size_t count = std::min(record.size(), display.size());
    const int redShift = format == ColourFormat::Bgr ? 16 : 0;
    const int blueShift = 16 - redShift;
    for (size_t i = 0; i < count; ++i) {
        const uint32_t p = record[i];
        const uint32_t red = table[(p >> 16) & 0xFF];
        const uint32_t green = table[(p >> 8) & 0xFF];
        const uint32_t blue = table[p & 0xFF];
        display[i] = red << redShift | green << 8 | blue << blueShift;
    }
}

}  // namespace player
