#include "player/playback.h"

#include <algorithm>

namespace player {

void movieOpened(PlayerState& state, const std::filesystem::path& path, int32_t count) {
    state.moviePath = path;
    state.count = std::max(count, 0);
    state.frameNumber = 1;
    state.shownFrame = 0;
    state.playState = kPlaying;
}

int32_t tickFrame(PlayerState& state) {
    if (state.count <= 0) {
        return 0;
    }
    if (state.frameNumber > state.count || state.frameNumber < 1) {
        state.frameNumber = 1;
    }
    state.shownFrame = state.frameNumber;
    if (state.playState != kPaused) {
        ++state.frameNumber;
    }
    return state.shownFrame;
}

int togglePlay(PlayerState& state) {
    state.playState = -state.playState;
    // While playing, the frame number is already one ahead of the screen; pausing there would
    // show one more frame than the user saw when pressing the button.
    if (state.playState == kPaused && state.shownFrame > 0) {
        state.frameNumber = state.shownFrame;
    }
    return state.playState;
}

int32_t positionMoved(PlayerState& state, int32_t position) {
    if (state.count <= 0) {
        return 0;
    }
    state.frameNumber = std::clamp(position, 1, state.count);
    return state.frameNumber;
}

int periodMs(int framesPerSecond) {
    for (const Speed& speed : kSpeeds) {
        if (speed.framesPerSecond == framesPerSecond) {
            return speed.periodMs;
        }
    }
    return kSpeeds[0].periodMs;
}

int setSpeed(PlayerState& state, int framesPerSecond) {
    const bool known = std::any_of(kSpeeds.begin(), kSpeeds.end(), [&](const Speed& speed) {
        return speed.framesPerSecond == framesPerSecond;
    });
    state.speed = known ? framesPerSecond : kDefaultSpeed;
    return periodMs(state.speed);
}

std::string playingText(const PlayerState& state) {
    return "Playing \"" + state.moviePath.filename().string() + "\" at " +
           std::to_string(state.speed) + " frames per sec";
}

std::string frameLabelText(int32_t frame) {
    return frame >= 0 ? " " + std::to_string(frame) : std::to_string(frame);
}

bool isTvFileName(std::string_view path) {
    const size_t dot = path.rfind('.');
    return dot != std::string_view::npos && path.substr(dot + 1) == "tv";
}

std::string usageText() {
    return "Usage: movieplay [--defaults] [FILE.tv]\n"
           "       movieplay --screenshot DIR FILE.tv\n"
           "\n"
           "Plays a Vistrel movie file (.tv, as the receiver records it) and writes it out as\n"
           "an AVI video (\"Make AVI\", into the current directory).\n"
           "\n"
           "  FILE.tv               open this movie at start\n"
           "  --screenshot DIR      open FILE.tv, write the windows as PNG images into DIR\n"
           "                        (movieplay-player.png, movieplay-picture.png,\n"
           "                        movieplay-export.png) and end\n"
           "  --defaults            start from the built-in settings, not the remembered\n"
           "                        ones; changes made in this run are still remembered\n"
           "  -h, --help            show this text\n"
           "\n"
           "The replay speed, brightness, contrast and colour format are remembered in\n"
           "$XDG_CONFIG_HOME/vistrel/movieplay.conf (~/.config/vistrel/movieplay.conf)\n"
           "whenever they change, and read at start. --screenshot neither reads nor\n"
           "writes that file.\n";
}

CommandLine parseCommandLine(const std::vector<std::string>& args) {
    CommandLine line;
    std::vector<std::string> positional;
    for (size_t i = 0; i < args.size() && line.error.empty(); ++i) {
        const std::string& arg = args[i];
        if (arg == "-h" || arg == "--help") {
            line.help = true;
        } else if (arg == "--defaults") {
            line.defaults = true;
        } else if (arg == "--screenshot") {
            if (i + 1 >= args.size()) {
                line.error = "--screenshot needs a directory";
            } else {
                line.screenshotDir = args[++i];
            }
        } else if (arg.rfind("--screenshot=", 0) == 0) {
            line.screenshotDir = arg.substr(13);
            if (line.screenshotDir.empty()) {
                line.error = "--screenshot needs a directory";
            }
        } else if (arg.size() > 1 && arg[0] == '-') {
            line.error = "unknown option " + arg;
        } else {
            positional.push_back(arg);
        }
    }
    if (line.error.empty() && positional.size() > 1) {
        line.error = "expected one movie file, got " + std::to_string(positional.size());
    }
    if (line.error.empty() && positional.size() == 1) {
        line.moviePath = positional[0];
    }
    if (line.error.empty() && !line.screenshotDir.empty() && line.moviePath.empty() && !line.help) {
        line.error = "--screenshot needs a movie file to show";
    }
    return line;
}

}  // namespace player
