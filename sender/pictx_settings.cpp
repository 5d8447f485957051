#include "sender/pictx_settings.h"

#include <algorithm>
#include <array>
#include <utility>

namespace sender {

namespace {

using packaging::ConfigFields;

constexpr std::array<std::pair<const char*, encoder::Wavelet>, 4> kWaveletNames{
    {{"haar", encoder::Wavelet::Haar},
     {"d4", encoder::Wavelet::D4},
     {"cdf97", encoder::Wavelet::Cdf97},
     {"av1", encoder::Wavelet::Av1}}};
constexpr std::array<std::pair<const char*, int>, 2> kAv1ChromaNames{
    {{"444", encoder::kAv1Chroma444}, {"420", encoder::kAv1Chroma420}}};
constexpr std::array<std::pair<const char*, SourceTab>, 3> kTabNames{
    {{"still", SourceTab::Still}, {"movie", SourceTab::Movie}, {"webcam", SourceTab::Webcam}}};

// A line of a text field: no control characters (a newline would end the INI line by hand).
bool oneLine(const QString& text) {
    return std::none_of(text.begin(), text.end(), [](QChar c) { return c.unicode() < 0x20; });
}

constexpr int kChromaFactors[] = {2, 4};

}  // namespace

packaging::ConfigText pictxConfigText(const PictxSettings& settings) {
    const WindowSettings& w = settings.window;
    const encoder::EncoderSettings& e = w.encoder;
    return {
        {QStringLiteral("callsign"), settings.callsign},
        {QStringLiteral("message"), settings.message},
        {QStringLiteral("comport"), settings.comport},
        {QStringLiteral("frame_size"), QString::number(e.frameSize)},
        {QStringLiteral("wavelet"),
         ConfigFields::nameOf<encoder::Wavelet>(e.wavelet, kWaveletNames)},
        {QStringLiteral("quantiser"), QString::number(e.quantiser)},
        {QStringLiteral("threshold"), QString::number(e.threshold)},
        {QStringLiteral("red_factor"), QString::number(e.redFactor)},
        {QStringLiteral("blue_factor"), QString::number(e.blueFactor)},
        {QStringLiteral("av1_chroma"), ConfigFields::nameOf<int>(e.av1Chroma, kAv1ChromaNames)},
        {QStringLiteral("syndromes"), QString::number(e.syndromes)},
        {QStringLiteral("preserve_aspect"), packaging::configFlag(w.aspect == Aspect::Preserve)},
        {QStringLiteral("source_tab"), ConfigFields::nameOf<SourceTab>(w.tab, kTabNames)},
        {QStringLiteral("movie_rate"), movieRateText(w.movieRate).trimmed()},
        {QStringLiteral("movie_sync"), packaging::configFlag(w.movieSynced)},
    };
}

PictxSettings pictxSettingsFromText(const packaging::ConfigText& values, QStringList& rejected) {
    PictxSettings s;
    ConfigFields f(values);
    s.callsign = f.text("callsign", s.callsign, kMaxRememberedText, oneLine);
    s.message = f.text("message", s.message, kMaxRememberedText, oneLine);
    s.comport = f.text("comport", s.comport, kMaxRememberedText, oneLine);

    WindowSettings& w = s.window;
    encoder::EncoderSettings& e = w.encoder;
    e.frameSize = f.integerOf("frame_size", e.frameSize, kFrameSizes);
    e.wavelet = f.choice<encoder::Wavelet>("wavelet", e.wavelet, kWaveletNames);
    e.quantiser = f.integer("quantiser", e.quantiser, quantiserFromSlider(kQuantiserSliderMax),
                            quantiserFromSlider(0));  // 1..65
    e.threshold = f.integer("threshold", e.threshold, 0, kThresholdSliderMax);
    e.redFactor = f.integerOf("red_factor", e.redFactor, kChromaFactors);
    e.blueFactor = f.integerOf("blue_factor", e.blueFactor, kChromaFactors);
    e.av1Chroma = f.choice<int>("av1_chroma", e.av1Chroma, kAv1ChromaNames);
    const RsBarRange bar = rsBarRange(kRsRowsBeforeEncode);
    e.syndromes = f.integer("syndromes", e.syndromes, bar.low, bar.high);
    w.aspect = f.flag("preserve_aspect", w.aspect == Aspect::Preserve) ? Aspect::Preserve
                                                                       : Aspect::Stretch;
    chooseTab(w, f.choice<SourceTab>("source_tab", w.tab, kTabNames));
    w.movieRate = static_cast<float>(f.positive("movie_rate", w.movieRate, kMaxMovieRate));
    w.movieSynced = f.flag("movie_sync", w.movieSynced);
    rejected = f.rejected();
    return s;
}

void showNamedSource(PictxSettings& settings, bool picture, bool movie) {
    if (picture == movie) return;
    chooseTab(settings.window, picture ? SourceTab::Still : SourceTab::Movie);
}

PictxSettings startUpSettings(bool defaults) {
    PictxSettings settings;
    if (defaults) return settings;
    static_cast<void>(packaging::loadConfig(QStringLiteral("pictx"),
                                            [&settings](const packaging::ConfigText& values) {
                                                QStringList rejected;
                                                settings = pictxSettingsFromText(values, rejected);
                                                return rejected;
                                            }));
    return settings;
}

}  // namespace sender
