#pragma once

// What movieplay remembers between runs, in ~/.config/vistrel/movieplay.conf
// (packaging/config_file.h):
//
//   [movieplay]
//   speed=10          frames per second: 10, 6, 3 or 1
//   brightness=256    0..512, 256 leaves the picture as recorded
//   contrast=10       0..20, 10 leaves the picture as recorded
//   colour_order=bgr  bgr (the record's own) or rgb (red and blue exchanged)
//
// The settings as text and back are pure; startUpSettings reads the file.

#include <QStringList>

#include "packaging/config_file.h"
#include "player/picture_adjust.h"
#include "player/playback.h"

namespace player {

struct MovieplaySettings {
    int speed = kDefaultSpeed;                // frames per second: 10, 6, 3 or 1; default 10
    int brightness = kDefaultBrightness;      // 0..512, default 256
    int contrast = kDefaultContrast;          // 0..20, default 10
    ColourFormat colour = ColourFormat::Bgr;  // the "Colour format" menu, default BGR
};

[[nodiscard]] packaging::ConfigText movieplayConfigText(const MovieplaySettings& settings);
// A value out of its range or of the wrong type keeps the built-in one and is named in
// rejected.
[[nodiscard]] MovieplaySettings movieplaySettingsFromText(const packaging::ConfigText& values,
                                                          QStringList& rejected);
// The built-in settings with --defaults (the file is not read), else the file's, after its one
// stderr line when it has something to say.
[[nodiscard]] MovieplaySettings startUpSettings(bool defaults);

}  // namespace player
