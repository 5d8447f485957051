#include "player/playback.h"

#include <gtest/gtest.h>

#include <vector>

namespace player {
namespace {

std::vector<int32_t> ticks(PlayerState& state, int count) {
    std::vector<int32_t> shown;
    for (int i = 0; i < count; ++i) {
        shown.push_back(tickFrame(state));
    }
    return shown;
}

PlayerState opened(int32_t count) {
    PlayerState state;
    movieOpened(state, "/data/movies/a.tv", count);
    return state;
}

TEST(Playback, ThreeRecordsPlayInALoop) {
    PlayerState state = opened(3);
    EXPECT_EQ(ticks(state, 7), (std::vector<int32_t>{1, 2, 3, 1, 2, 3, 1}));
    EXPECT_EQ(state.shownFrame, 1);
}

TEST(Playback, PauseHoldsTheFrameOnScreenAndPlayGoesOnFromIt) {
    PlayerState state = opened(3);
    EXPECT_EQ(ticks(state, 2), (std::vector<int32_t>{1, 2}));
    EXPECT_EQ(togglePlay(state), kPaused);
    EXPECT_EQ(ticks(state, 4), (std::vector<int32_t>{2, 2, 2, 2}));
    EXPECT_EQ(togglePlay(state), kPlaying);
    EXPECT_EQ(ticks(state, 3), (std::vector<int32_t>{2, 3, 1}));
}

TEST(Playback, PauseBeforeTheFirstTickShowsFrameOne) {
    PlayerState state = opened(3);
    togglePlay(state);
    EXPECT_EQ(ticks(state, 2), (std::vector<int32_t>{1, 1}));
}

TEST(Playback, OneRecordShowsItAtEveryTick) {
    PlayerState state = opened(1);
    EXPECT_EQ(ticks(state, 3), (std::vector<int32_t>{1, 1, 1}));
}

TEST(Playback, NothingToShowWithoutAMovie) {
    PlayerState state;
    EXPECT_EQ(tickFrame(state), 0);
    EXPECT_EQ(positionMoved(state, 5), 0);
    EXPECT_EQ(state.frameNumber, 0);
}

TEST(Playback, SliderMovesAreLimitedAndShownAtTheNextTick) {
    PlayerState state = opened(5);
    ticks(state, 1);
    EXPECT_EQ(positionMoved(state, 4), 4);
    EXPECT_EQ(ticks(state, 2), (std::vector<int32_t>{4, 5}));
    EXPECT_EQ(positionMoved(state, 99), 5);
    EXPECT_EQ(positionMoved(state, -3), 1);
    togglePlay(state);
    EXPECT_EQ(positionMoved(state, 3), 3);
    EXPECT_EQ(ticks(state, 2), (std::vector<int32_t>{3, 3}));
}

TEST(Playback, OpeningAnotherMovieStartsItAtFrameOnePlayingAtTheChosenSpeed) {
    PlayerState state = opened(5);
    setSpeed(state, 3);
    ticks(state, 3);
    togglePlay(state);
    movieOpened(state, "/data/b.tv", 2);
    EXPECT_EQ(state.playState, kPlaying);
    EXPECT_EQ(state.speed, 3);
    EXPECT_EQ(ticks(state, 3), (std::vector<int32_t>{1, 2, 1}));
    EXPECT_EQ(playingText(state), "Playing \"b.tv\" at 3 frames per sec");
}

TEST(Playback, SpeedsAndTheirPeriods) {
    PlayerState state;
    EXPECT_EQ(setSpeed(state, 6), 150);
    EXPECT_EQ(state.speed, 6);
    EXPECT_EQ(setSpeed(state, 3), 330);
    EXPECT_EQ(setSpeed(state, 1), 1000);
    EXPECT_EQ(setSpeed(state, 10), 100);
    EXPECT_EQ(setSpeed(state, 7), 100);
    EXPECT_EQ(state.speed, 10);
    EXPECT_EQ(periodMs(1), 1000);
}

TEST(PlayerTexts, PlayingTextAndFrameLabel) {
    PlayerState state = opened(3);
    EXPECT_EQ(playingText(state), "Playing \"a.tv\" at 10 frames per sec");
    EXPECT_EQ(frameLabelText(7), " 7");
    EXPECT_EQ(frameLabelText(1234), " 1234");
    EXPECT_EQ(frameLabelText(0), " 0");
}

TEST(PlayerTexts, OnlyLowerCaseTvEndingsAreTakenFromADrop) {
    EXPECT_TRUE(isTvFileName("/home/op/Vistrel_12-06-2026_063815.tv"));
    EXPECT_TRUE(isTvFileName("a.tv"));
    EXPECT_TRUE(isTvFileName("/odd.dir/x.tv"));
    EXPECT_FALSE(isTvFileName("/home/op/A.TV"));
    EXPECT_FALSE(isTvFileName("a.Tv"));
    EXPECT_FALSE(isTvFileName("a.tv.bak"));
    EXPECT_FALSE(isTvFileName("a.tvx"));
    EXPECT_FALSE(isTvFileName("/movies/tv"));
    EXPECT_FALSE(isTvFileName(""));
}

TEST(CommandLine, MovieHelpAndScreenshots) {
    const CommandLine none = parseCommandLine({});
    EXPECT_TRUE(none.error.empty());
    EXPECT_TRUE(none.moviePath.empty());

    EXPECT_TRUE(parseCommandLine({"--help"}).help);
    EXPECT_TRUE(parseCommandLine({"-h"}).help);
    EXPECT_EQ(parseCommandLine({"a.tv"}).moviePath, "a.tv");
    EXPECT_FALSE(none.defaults);
    const CommandLine defaults = parseCommandLine({"--defaults", "a.tv"});
    EXPECT_TRUE(defaults.defaults);
    EXPECT_EQ(defaults.moviePath, "a.tv");
    EXPECT_NE(usageText().find("movieplay.conf"), std::string::npos);

    const CommandLine shots = parseCommandLine({"--screenshot", "docs/shots", "a.tv"});
    EXPECT_TRUE(shots.error.empty()) << shots.error;
    EXPECT_EQ(shots.screenshotDir, "docs/shots");
    EXPECT_EQ(shots.moviePath, "a.tv");
    EXPECT_EQ(parseCommandLine({"a.tv", "--screenshot=out"}).screenshotDir, "out");
    EXPECT_NE(usageText().find("--screenshot DIR"), std::string::npos);
}

TEST(CommandLine, MistakesAreNamed) {
    EXPECT_EQ(parseCommandLine({"--fast"}).error, "unknown option --fast");
    EXPECT_EQ(parseCommandLine({"a.tv", "b.tv"}).error, "expected one movie file, got 2");
    EXPECT_EQ(parseCommandLine({"--screenshot"}).error, "--screenshot needs a directory");
    EXPECT_EQ(parseCommandLine({"--screenshot="}).error, "--screenshot needs a directory");
    EXPECT_EQ(parseCommandLine({"--screenshot", "out"}).error,
              "--screenshot needs a movie file to show");
}

}  // namespace
}  // namespace player
