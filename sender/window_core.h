#pragma once

// The rules behind pictx's window: what each control sets, the RS syndromes bar's arithmetic,
// the movie page's stepping and the choice dialog's answer. Pure core: no widgets, no timers;
// the window classes call these and apply what they return.

#include <QString>
#include <QStringList>
#include <optional>

#include "encoder/encode_frame.h"
#include "sender/still_picture.h"

namespace sender {

// Slider ranges and their start positions: quantiser = 65 - position, threshold = 100 -
// position, so both start at their mildest setting with the thumb on the right.
inline constexpr int kQuantiserSliderMax = 64;
inline constexpr int kThresholdSliderMax = 100;
inline constexpr int kLargeFrameThreshold = 30;  // what "256 x 256" sets
inline constexpr int kLargestFrame = 256;
inline constexpr int kFrameSizes[] = {48, 64, 96, 128, 256};  // options 1400..1404

inline constexpr float kDefaultMovieRate = 3.0f;  // seconds per movie frame
inline const QStringList kMovieRateChoices{"0.1", "0.3", "1", "3", "6"};

enum class SourceTab { Still = 0, Movie = 1, Webcam = 2 };

// Everything the window's controls set. Each field starts at the window's start-up value.
struct WindowSettings {
    encoder::EncoderSettings encoder;     // read by every ENCODEFRAME run
    Aspect aspect = Aspect::Stretch;      // the check box is ticked for Preserve
    float movieRate = kDefaultMovieRate;  // seconds per movie frame, free-running
    bool movieSynced = false;             // "Sync frames with sender"
    SourceTab tab = SourceTab::Still;
};

[[nodiscard]] int quantiserFromSlider(int position);
[[nodiscard]] int thresholdFromSlider(int position);
[[nodiscard]] int thresholdSliderPosition(int threshold);
[[nodiscard]] int quantiserSliderPosition(int quantiser);

// ---- the AV1 choice ----

// The chroma combo's items, in order, and the encoder's value for each.
inline const QStringList kAv1ChromaChoices{"4:4:4", "4:2:0"};
inline constexpr int kAv1ChromaValues[] = {encoder::kAv1Chroma444, encoder::kAv1Chroma420};
[[nodiscard]] int av1ChromaIndex(int av1Chroma);  // the combo's item; 4:4:4 for any other value

// Which controls an encode reads: with AV1 the threshold and the red and blue factors do not
// apply (they keep their values for a return to a wavelet), and the chroma combo does.
[[nodiscard]] bool waveletControlsApply(encoder::Wavelet wavelet);
// What the Quantize label and the slider's tip say. With a wavelet the label says "Quantize"
// and the slider has no tip; with AV1 the slider sets the AV1 quality (quantiser 1..64 gives
// 0..63, finest first) and both name it: "Quality 24", "AV1 quality 24 (0 sharpest .. 63
// smallest)".
struct QuantiserTexts {
    QString label;
    QString toolTip;
};
[[nodiscard]] QuantiserTexts quantiserTexts(const encoder::EncoderSettings& settings);

// A frame size option clicked. Returns the Threshold slider's new position when the choice
// moves it ("256 x 256" sets threshold 30, slider 70); a smaller size leaves the threshold.
std::optional<int> chooseFrameSize(WindowSettings& settings, int size);

// The aspect check box clicked: the switch inverts.
void toggleAspect(WindowSettings& settings);

// The tab control reported a change; the encoder's source follows the tab.
void chooseTab(WindowSettings& settings, SourceTab tab);

// ---- movie frame rate ----

// The rate as the choice dialog's default text: blank-led, shortest form ("3" -> " 3").
[[nodiscard]] QString movieRateText(float rate);
// The dialog's answer: an empty answer keeps the current rate; so does one that is no positive
// number (a rate of 0 or less would make the frame timer spin).
[[nodiscard]] float movieRateFromAnswer(const QString& answer, float current);
// The free-running frame timer: 1000 x rate ms, rounded down, at least 1 ms.
[[nodiscard]] int movieTimerMs(float rate);

// ---- the RS syndromes bar ----

inline constexpr int kRsBarLow = 4;
inline constexpr int kCodewordLength = 255;
inline constexpr int kRsBarStart = 32;
inline constexpr int kRsRowsBeforeEncode = 1;  // r before the first encode: range 4..254

struct RsBarRange {
    int low = kRsBarLow;
    int high = kCodewordLength - kRsRowsBeforeEncode;
};
[[nodiscard]] RsBarRange rsBarRange(int r);
[[nodiscard]] int clampToRange(int position, RsBarRange range);

enum class BarKey { Up, Down, PageUp, PageDown, Home, End };
// The position after a key on the vertical bar, clamped.
[[nodiscard]] int rsBarKeyPosition(BarKey key, int position, RsBarRange range);
// The position for the cursor y pixels below the bar's top (clientHeight pixels high), clamped:
// high - round(1 + y (high - low + 1) / height), halves to even. The top gives high - 1.
[[nodiscard]] int rsBarDragPosition(int y, int clientHeight, RsBarRange range);

// ---- the movie page ----

// Frames stepped by index. The position runs 0..length like a media window's, so with a
// 10-frame movie the timer shows 1, 2, ..., 10, 0, 1, ...; position 10 shows the last frame.
struct MovieStepper {
    int64_t length = 0;   // frames; 0 with no movie or one that could not be opened
    int64_t current = 0;  // position, 0..length
    bool playing = true;  // the play button shows pause while playing
};
// A movie was opened (or failed to open, with length 0): position 1, playing.
void movieOpened(MovieStepper& movie, int64_t length);
// The frame timer: one step on, wrapping past the length to 0.
void movieTicked(MovieStepper& movie);
// The slider moved to a position (thumb, keys or clicks); clamped to 0..length.
void movieSought(MovieStepper& movie, int64_t position);
// The frame of the file to show for the position: the position itself, the last frame at the
// end position, nothing (-1) without frames.
[[nodiscard]] int64_t movieFrameIndex(const MovieStepper& movie, int64_t frameCount);
// The play button's text in the symbol font: ";" pause while playing, "4" play while paused.
[[nodiscard]] QString playButtonText(bool playing);

// ---- the choice dialog ----

inline constexpr int kChoiceAccepted = 0;
inline constexpr int kChoiceCancelled = 901;

struct ChoiceState {
    QString result;  // empty at start
    int code = kChoiceCancelled;
};
// Opening: a non-empty default preselects the first choice and takes its text.
void choiceOpened(ChoiceState& choice, const QString& defaultText, const QStringList& choices);
[[nodiscard]] QString choiceAnswer(const ChoiceState& choice);  // empty unless accepted

}  // namespace sender
