#include "sender/window_core.h"

#include <gtest/gtest.h>

#include <vector>

namespace sender {
namespace {

// ---- what the controls set ----

TEST(WindowSettingsRules, SlidersAtTheirEndsGiveTheSettingsRange) {
    EXPECT_EQ(quantiserFromSlider(0), 65);
    EXPECT_EQ(quantiserFromSlider(kQuantiserSliderMax), 1);
    EXPECT_EQ(thresholdFromSlider(0), 100);
    EXPECT_EQ(thresholdFromSlider(kThresholdSliderMax), 0);
    EXPECT_EQ(thresholdSliderPosition(30), 70);
    for (int q = 1; q <= 65; ++q) EXPECT_EQ(quantiserFromSlider(quantiserSliderPosition(q)), q);
}

TEST(WindowSettingsRules, OnlyTheLargestFrameSetsTheThreshold) {
    WindowSettings s;
    s.encoder.threshold = 5;
    EXPECT_EQ(chooseFrameSize(s, 128), std::nullopt);
    EXPECT_EQ(s.encoder.frameSize, 128);
    EXPECT_EQ(s.encoder.threshold, 5);

    EXPECT_EQ(chooseFrameSize(s, 256), std::optional<int>(70));
    EXPECT_EQ(s.encoder.threshold, 30);

    // Back to a smaller frame: the threshold stays where 256 x 256 put it.
    EXPECT_EQ(chooseFrameSize(s, 64), std::nullopt);
    EXPECT_EQ(s.encoder.frameSize, 64);
    EXPECT_EQ(s.encoder.threshold, 30);
}

TEST(WindowSettingsRules, Av1TurnsTheQuantiserIntoItsQuality) {
    encoder::EncoderSettings s;
    for (encoder::Wavelet w :
         {encoder::Wavelet::Haar, encoder::Wavelet::D4, encoder::Wavelet::Cdf97}) {
        s.wavelet = w;
        EXPECT_TRUE(waveletControlsApply(w));
        const QuantiserTexts texts = quantiserTexts(s);
        EXPECT_EQ(texts.label, "Quantize");
        EXPECT_TRUE(texts.toolTip.isEmpty());
    }
    s.wavelet = encoder::Wavelet::Av1;
    EXPECT_FALSE(waveletControlsApply(s.wavelet));
    // The slider's right end is the finest quality, its left end and the one before it the
    // coarsest.
    const struct {
        int position;
        const char* label;
    } kEnds[] = {{kQuantiserSliderMax, "Quality 0"},
                 {40, "Quality 24"},
                 {1, "Quality 63"},
                 {0, "Quality 63"}};
    for (const auto& end : kEnds) {
        s.quantiser = quantiserFromSlider(end.position);
        EXPECT_EQ(quantiserTexts(s).label, end.label) << end.position;
    }
    s.quantiser = quantiserFromSlider(40);
    EXPECT_EQ(quantiserTexts(s).toolTip, "AV1 quality 24 (0 sharpest .. 63 smallest)");
}

TEST(WindowSettingsRules, Av1ChromaChoicesMapToTheEncodersValues) {
    ASSERT_EQ(kAv1ChromaChoices.size(), 2);
    EXPECT_EQ(kAv1ChromaChoices[av1ChromaIndex(encoder::kAv1Chroma444)], "4:4:4");
    EXPECT_EQ(kAv1ChromaChoices[av1ChromaIndex(encoder::kAv1Chroma420)], "4:2:0");
    for (int i = 0; i < kAv1ChromaChoices.size(); ++i) {
        EXPECT_EQ(av1ChromaIndex(kAv1ChromaValues[i]), i);
    }
    EXPECT_EQ(av1ChromaIndex(0), 0) << "an unknown value shows 4:4:4";
}

TEST(WindowSettingsRules, AspectSwitchStartsStretchedAndInverts) {
    WindowSettings s;
    EXPECT_EQ(s.aspect, Aspect::Stretch);
    toggleAspect(s);
    EXPECT_EQ(s.aspect, Aspect::Preserve);
    toggleAspect(s);
    EXPECT_EQ(s.aspect, Aspect::Stretch);
}

TEST(WindowSettingsRules, TabChoosesTheEncodersSource) {
    WindowSettings s;
    chooseTab(s, SourceTab::Webcam);
    EXPECT_EQ(s.encoder.sourceKind, encoder::SourceKind::Webcam);
    chooseTab(s, SourceTab::Movie);
    EXPECT_EQ(s.encoder.sourceKind, encoder::SourceKind::Movie);
}

// ---- movie frame rate ----

TEST(MovieRate, DefaultTextIsBlankLed) {
    EXPECT_EQ(movieRateText(3.0f), " 3");
    EXPECT_EQ(movieRateText(0.1f), " 0.1");
    EXPECT_EQ(movieRateText(0.3f), " 0.3");
}

TEST(MovieRate, EmptyOrUnusableAnswersKeepTheRate) {
    EXPECT_FLOAT_EQ(movieRateFromAnswer("0.3", 3.0f), 0.3f);
    EXPECT_FLOAT_EQ(movieRateFromAnswer(" 6", 3.0f), 6.0f);
    EXPECT_FLOAT_EQ(movieRateFromAnswer("", 3.0f), 3.0f);
    EXPECT_FLOAT_EQ(movieRateFromAnswer("fast", 1.0f), 1.0f);
    EXPECT_FLOAT_EQ(movieRateFromAnswer("0", 1.0f), 1.0f);   // would spin the frame timer
    EXPECT_FLOAT_EQ(movieRateFromAnswer("-2", 1.0f), 1.0f);  // likewise
}

TEST(MovieRate, FrameTimerRoundsDown) {
    EXPECT_EQ(movieTimerMs(3.0f), 3000);
    EXPECT_EQ(movieTimerMs(0.1f), 100);  // 0.1f is 0.100000001: 100.000001 ms
    EXPECT_EQ(movieTimerMs(0.3f), 300);  // 0.3f is 0.300000012
    EXPECT_EQ(movieTimerMs(0.0015f), 1);
    EXPECT_EQ(movieTimerMs(0.0001f), 1);  // never a spinning timer
}

// ---- RS syndromes bar ----

TEST(RsBarArithmetic, RangeFollowsTheRowLength) {
    EXPECT_EQ(rsBarRange(1).high, 254);  // before the first encode
    EXPECT_EQ(rsBarRange(200).low, 4);
    EXPECT_EQ(rsBarRange(200).high, 55);
    EXPECT_EQ(rsBarRange(252).high, 4);  // never below the low limit
}

TEST(RsBarArithmetic, KeysStepAndClamp) {
    const RsBarRange range{4, 100};
    EXPECT_EQ(rsBarKeyPosition(BarKey::Up, 32, range), 33);
    EXPECT_EQ(rsBarKeyPosition(BarKey::Down, 32, range), 31);
    EXPECT_EQ(rsBarKeyPosition(BarKey::PageUp, 32, range), 42);
    EXPECT_EQ(rsBarKeyPosition(BarKey::PageDown, 32, range), 22);
    EXPECT_EQ(rsBarKeyPosition(BarKey::Home, 32, range), 100);
    EXPECT_EQ(rsBarKeyPosition(BarKey::End, 32, range), 4);
    EXPECT_EQ(rsBarKeyPosition(BarKey::PageUp, 95, range), 100);
    EXPECT_EQ(rsBarKeyPosition(BarKey::PageDown, 9, range), 4);
    EXPECT_EQ(rsBarKeyPosition(BarKey::Down, 4, range), 4);
}

TEST(RsBarArithmetic, DraggingRoundsHalvesToEven) {
    const RsBarRange range{4, 254};                    // 251 steps over a 254-pixel bar
    EXPECT_EQ(rsBarDragPosition(0, 254, range), 253);  // the top gives high - 1
    EXPECT_EQ(rsBarDragPosition(254, 254, range), 4);
    EXPECT_EQ(rsBarDragPosition(400, 254, range), 4);    // below the bar
    EXPECT_EQ(rsBarDragPosition(-50, 254, range), 254);  // above it, clamped to high
    // y = 127: 1 + 127 * 251 / 254 = 126.5 exactly, rounded to even 126.
    EXPECT_EQ(rsBarDragPosition(127, 254, range), 254 - 126);
    // A 4..13 bar 20 pixels high: y = 1 gives 1.5 -> 2, y = 3 gives 2.5 -> 2, y = 5: 3.5 -> 4.
    const RsBarRange small{4, 13};
    EXPECT_EQ(rsBarDragPosition(1, 20, small), 11);
    EXPECT_EQ(rsBarDragPosition(3, 20, small), 11);
    EXPECT_EQ(rsBarDragPosition(5, 20, small), 9);
}

// ---- movie stepping ----

TEST(MovieStepping, TenFrameMovieRunsOneToTenThenWraps) {
    MovieStepper movie;
    movieOpened(movie, 10);
    std::vector<int64_t> seen{movie.current};
    for (int i = 0; i < 12; ++i) {
        movieTicked(movie);
        seen.push_back(movie.current);
    }
    EXPECT_EQ(seen, (std::vector<int64_t>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 0, 1, 2}));
    EXPECT_TRUE(movie.playing);
}

TEST(MovieStepping, EndPositionShowsTheLastFrame) {
    MovieStepper movie;
    movieOpened(movie, 10);
    movieSought(movie, 10);
    EXPECT_EQ(movieFrameIndex(movie, 10), 9);
    movieSought(movie, 0);
    EXPECT_EQ(movieFrameIndex(movie, 10), 0);
    movieSought(movie, 99);
    EXPECT_EQ(movie.current, 10);
}

TEST(MovieStepping, AMovieThatDidNotOpenStepsHarmlessly) {
    MovieStepper movie;
    movieOpened(movie, 0);
    for (int i = 0; i < 3; ++i) {
        movieTicked(movie);
        EXPECT_EQ(movie.current, 0);
        EXPECT_EQ(movieFrameIndex(movie, 0), -1);
    }
}

TEST(MovieStepping, PlayButtonSymbols) {
    EXPECT_EQ(playButtonText(true), ";");
    EXPECT_EQ(playButtonText(false), "4");
}

// ---- choice dialog answers ----

TEST(ChoiceAnswer, NonEmptyDefaultPreselectsTheFirstChoice) {
    ChoiceState c;
    choiceOpened(c, " 3", kMovieRateChoices);
    EXPECT_EQ(c.result, "0.1");
    EXPECT_EQ(choiceAnswer(c), "");  // not accepted yet
    c.code = kChoiceAccepted;
    EXPECT_EQ(choiceAnswer(c), "0.1");
}

TEST(ChoiceAnswer, EmptyDefaultSelectsNothing) {
    ChoiceState c;
    choiceOpened(c, "", kMovieRateChoices);
    c.code = kChoiceAccepted;
    EXPECT_EQ(choiceAnswer(c), "");
}

}  // namespace
}  // namespace sender
