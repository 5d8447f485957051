#pragma once

// Brightness, contrast and colour order of the pictures the player shows, and the "Picture"
// dialog's values. Pure core: the dialog and the viewer apply what these return.
//
//   shown byte = c * (20 - contrast) / 10 + (256 - brightness), to the nearest (ties to even),
//                limited to 0..255; the defaults 256 and 10 leave every byte as recorded.

#include <array>
#include <cstdint>
#include <span>

namespace player {

inline constexpr int kDefaultBrightness = 256;
inline constexpr int kMaxBrightness = 512;  // slider range 0..512; 0 adds 256, 512 takes 256
inline constexpr int kDefaultContrast = 10;
inline constexpr int kMaxContrast = 20;  // slider range 0..20; 0 doubles, 20 flattens

// "BGR": the record's own colours; "RGB": red and blue exchanged.
enum class ColourFormat { Bgr, Rgb };

struct PictureAdjust {
    int brightness = kDefaultBrightness;       // 0..512, default 256
    int contrast = kDefaultContrast;           // 0..20, default 10
    int savedBrightness = kDefaultBrightness;  // what "Undo" restores, default 256
    int savedContrast = kDefaultContrast;      // what "Undo" restores, default 10
};

enum class AdjustSlider { Brightness, Contrast };

// A user's move of a slider (drag, arrow keys, page, home, end): the value is taken, limited to
// the slider's range, and also becomes the value "Undo" restores.
void adjustSliderMoved(PictureAdjust& adjust, AdjustSlider slider, int value);
// "Default settings": 256 and 10; the saved values stay, so "Undo" can take the press back.
void adjustDefaults(PictureAdjust& adjust);
// "Undo": back to the saved values.
void adjustUndo(PictureAdjust& adjust);

// The shown value of every colour byte 0..255 for one brightness and contrast.
using ColourTable = std::array<uint8_t, 256>;
[[nodiscard]] ColourTable colourTable(int brightness, int contrast);

// Record pixels (0x00RRGGBB, the reader's form) to display pixels in the same form: every
// colour byte through the table, red and blue exchanged for "RGB". display holds at least as
// many pixels as record; the top byte of each display pixel is 0.
void adjustPixels(std::span<const uint32_t> record, std::span<uint32_t> display,
                  const PictureAdjust& adjust, ColourFormat format);

}  // namespace player
