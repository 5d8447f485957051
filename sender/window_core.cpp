#include "sender/window_core.h"

#include <algorithm>
#include <cmath>

#include "codec/wavelet.h"

namespace sender {

int quantiserFromSlider(int position) { return kQuantiserSliderMax + 1 - position; }
int thresholdFromSlider(int position) { return kThresholdSliderMax - position; }
int thresholdSliderPosition(int threshold) { return kThresholdSliderMax - threshold; }
int quantiserSliderPosition(int quantiser) { return kQuantiserSliderMax + 1 - quantiser; }

int av1ChromaIndex(int av1Chroma) { return av1Chroma == encoder::kAv1Chroma420 ? 1 : 0; }

bool waveletControlsApply(encoder::Wavelet wavelet) { return wavelet != encoder::Wavelet::Av1; }

QuantiserTexts quantiserTexts(const encoder::EncoderSettings& settings) {
    if (waveletControlsApply(settings.wavelet)) return {QStringLiteral("Quantize"), QString()};
    const int quality = encoder::av1Quality(settings.quantiser);
    return {QStringLiteral("Quality %1").arg(quality),
            QStringLiteral("AV1 quality %1 (0 sharpest .. %2 smallest)")
                .arg(quality)
                .arg(encoder::kAv1MaxQuality)};
}

std::optional<int> chooseFrameSize(WindowSettings& settings, int size) {
    settings.encoder.frameSize = size;
    if (size != kLargestFrame) return std::nullopt;
    settings.encoder.threshold = kLargeFrameThreshold;
    return thresholdSliderPosition(kLargeFrameThreshold);
}

void toggleAspect(WindowSettings& settings) {
    settings.aspect = settings.aspect == Aspect::Stretch ? Aspect::Preserve : Aspect::Stretch;
}

void chooseTab(WindowSettings& settings, SourceTab tab) {
    settings.tab = tab;
    settings.encoder.sourceKind = static_cast<encoder::SourceKind>(tab);
}

QString movieRateText(float rate) {
    // Seven significant digits give back the float's decimal as typed: 0.1f shows as "0.1".
    const QString digits = QString::number(static_cast<double>(rate), 'g', 7);
    return rate >= 0 ? QStringLiteral(" ") + digits : digits;
}

float movieRateFromAnswer(const QString& answer, float current) {
    bool ok = false;
    const float value = answer.trimmed().toFloat(&ok);
    if (!ok || !std::isfinite(value) || value <= 0.0f) return current;
    return value;
}

int movieTimerMs(float rate) {
    const double ms = std::floor(1000.0 * static_cast<double>(rate));
    // A day is far beyond any sensible rate and keeps the period inside a QTimer's int.
    return static_cast<int>(std::clamp(ms, 1.0, 86'400'000.0));
}

RsBarRange rsBarRange(int r) {
    return {kRsBarLow, std::max(kRsBarLow, kCodewordLength - std::clamp(r, 1, kCodewordLength))};
}

int clampToRange(int position, RsBarRange range) {
    return std::clamp(position, range.low, range.high);
}

int rsBarKeyPosition(BarKey key, int position, RsBarRange range) {
    switch (key) {
        case BarKey::Up:
            return clampToRange(position + 1, range);
        case BarKey::Down:
            return clampToRange(position - 1, range);
        case BarKey::PageUp:
            return clampToRange(position + 10, range);
        case BarKey::PageDown:
            return clampToRange(position - 10, range);
        case BarKey::Home:
            return range.high;
        case BarKey::End:
            return range.low;
    }
    return position;
}

int rsBarDragPosition(int y, int clientHeight, RsBarRange range) {
    if (clientHeight <= 0) return range.low;
    const long double steps = 1.0L + static_cast<long double>(y) * (range.high - range.low + 1) /
                                         static_cast<long double>(clientHeight);
    return clampToRange(range.high - codec::roundToInt(steps), range);
}

void movieOpened(MovieStepper& movie, int64_t length) {
    movie.length = std::max<int64_t>(0, length);
    movie.current = std::min<int64_t>(1, movie.length);
    movie.playing = true;
}

void movieTicked(MovieStepper& movie) {
    ++movie.current;
    if (movie.current > movie.length) movie.current = 0;
}

void movieSought(MovieStepper& movie, int64_t position) {
    movie.current = std::clamp<int64_t>(position, 0, movie.length);
}

int64_t movieFrameIndex(const MovieStepper& movie, int64_t frameCount) {
    if (frameCount <= 0) return -1;
    return std::clamp<int64_t>(movie.current, 0, frameCount - 1);
}

QString playButtonText(bool playing) { return playing ? QStringLiteral(";") : QStringLiteral("4"); }

void choiceOpened(ChoiceState& choice, const QString& defaultText, const QStringList& choices) {
    choice.result.clear();
    choice.code = kChoiceCancelled;
    if (!defaultText.isEmpty() && !choices.isEmpty()) choice.result = choices.front();
}

QString choiceAnswer(const ChoiceState& choice) {
    return choice.code == kChoiceAccepted ? choice.result : QString();
}

}  // namespace sender
