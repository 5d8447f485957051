#pragma once

// What movieplay's control window shows and does between ticks: frame stepping, pausing, the
// position slider, the replay speed and the texts of the status line and the frame label. Pure
// core: each event changes PlayerState and returns what the window applies to its widgets and
// its QTimer.
//
//   open     frame 1, playing, slider 1..N, status "Playing "NAME" at 10 frames per sec"
//   tick     shows the frame number (after N comes 1); while playing, the next tick shows the
//            next one; the slider and the label follow the frame on screen
//   pause    the frame on screen stays there at every tick until play is pressed
//   speed    10, 6, 3 or 1 frames per second: 100, 150, 330 or 1000 ms between ticks

#include <array>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "player/picture_adjust.h"

namespace player {

inline constexpr std::string_view kControlTitle = "Lumra universal movie viewer";
inline constexpr std::string_view kViewerTitle = "TV Viewer";
inline constexpr std::string_view kNotTvFile = "Not a *.TV file!";
inline constexpr std::string_view kHelpCaption = "HELP notes";
inline constexpr std::string_view kHelpText =
    "Load any Lumra bitmap movie file and that's it!\nOr drag and drop onto the main control "
    "window";
inline constexpr std::string_view kAboutCaption = "Movie Viewer";
inline constexpr std::string_view kAboutText =
    "Lumra bitmap movie viewer and AVI maker\n\nmovieplay 0.1.0, part of Vistrel";

inline constexpr int kPlaying = 1;
inline constexpr int kPaused = -1;

struct Speed {
    int framesPerSecond;  // the speed setting, also the AVI stream's rate
    int periodMs;         // between ticks
};
// In the order of the Replay speed menu.
inline constexpr std::array<Speed, 4> kSpeeds{{{10, 100}, {6, 150}, {3, 330}, {1, 1000}}};
inline constexpr int kDefaultSpeed = 10;

struct PlayerState {
    std::filesystem::path moviePath;  // the current movie; empty before the first open
    int32_t count = 0;                // N, records in the movie; 0 with no movie
    int32_t frameNumber = 0;          // record the next tick shows, 1..N (N + 1 wraps to 1)
    int32_t shownFrame = 0;           // record on screen, 0 before the first tick
    int playState = kPlaying;         // kPlaying or kPaused
    int speed = kDefaultSpeed;        // frames per second: 10, 6, 3 or 1
    ColourFormat colour = ColourFormat::Bgr;
};

// A movie of count records (1 or more) was opened: playing from frame 1 at the chosen speed.
void movieOpened(PlayerState& state, const std::filesystem::path& path, int32_t count);

// Timer tick: the record to show now (1..N), 0 with no movie.
[[nodiscard]] int32_t tickFrame(PlayerState& state);

// Play/pause button: the new play state. Pausing holds the frame on screen.
int togglePlay(PlayerState& state);

// The user moved the position slider to position: that frame is shown at the next tick. The
// frame number, limited to 1..N, is returned for the label.
int32_t positionMoved(PlayerState& state, int32_t position);

// Replay speed menu: the timer period in ms for framesPerSecond (10, 6, 3 or 1; anything else
// is taken as 10).
int setSpeed(PlayerState& state, int framesPerSecond);
[[nodiscard]] int periodMs(int framesPerSecond);

// "Playing "NAME" at 10 frames per sec", NAME the movie path's last part.
[[nodiscard]] std::string playingText(const PlayerState& state);
// The frame-number label: one leading blank, " 12".
[[nodiscard]] std::string frameLabelText(int32_t frame);

// A dropped file is taken only when the text after its last "." is "tv", in lower case.
[[nodiscard]] bool isTvFileName(std::string_view path);

// movieplay's command line. The first problem found is kept in error.
struct CommandLine {
    bool help = false;
    bool defaults = false;      // --defaults: movieplay.conf is not read (changes still written)
    std::string moviePath;      // opened at start; empty for none
    std::string screenshotDir;  // --screenshot DIR: write the windows as PNG there and end
    std::string error;
};
[[nodiscard]] CommandLine parseCommandLine(const std::vector<std::string>& args);
[[nodiscard]] std::string usageText();

}  // namespace player
