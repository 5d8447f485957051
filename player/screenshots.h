#pragma once

// movieplay --screenshot: the windows drawn on Qt's offscreen platform and saved as PNG.

#include <QString>

namespace player {

// Opens moviePath, lets it play a few ticks and writes movieplay-player.png (the control window
// above the viewer), movieplay-picture.png and movieplay-export.png into directory. Prints the
// problem and returns false when the movie or a PNG fails.
bool writeScreenshots(const QString& directory, const QString& moviePath);

}  // namespace player
