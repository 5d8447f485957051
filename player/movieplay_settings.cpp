#include "player/movieplay_settings.h"

#include <array>
#include <utility>

namespace player {

namespace {

constexpr std::array<std::pair<const char*, ColourFormat>, 2> kColourNames{
    {{"bgr", ColourFormat::Bgr}, {"rgb", ColourFormat::Rgb}}};

constexpr std::array<int, kSpeeds.size()> speedChoices() {
    std::array<int, kSpeeds.size()> fps{};
    for (size_t i = 0; i < kSpeeds.size(); ++i) fps[i] = kSpeeds[i].framesPerSecond;
    return fps;
}
constexpr std::array<int, kSpeeds.size()> kSpeedChoices = speedChoices();

}  // namespace

packaging::ConfigText movieplayConfigText(const MovieplaySettings& settings) {
    return {
        {QStringLiteral("speed"), QString::number(settings.speed)},
        {QStringLiteral("brightness"), QString::number(settings.brightness)},
        {QStringLiteral("contrast"), QString::number(settings.contrast)},
        {QStringLiteral("colour_order"),
         packaging::ConfigFields::nameOf<ColourFormat>(settings.colour, kColourNames)},
    };
}

MovieplaySettings movieplaySettingsFromText(const packaging::ConfigText& values,
                                            QStringList& rejected) {
    MovieplaySettings s;
    packaging::ConfigFields f(values);
    s.speed = f.integerOf("speed", s.speed, kSpeedChoices);
    s.brightness = f.integer("brightness", s.brightness, 0, kMaxBrightness);
    s.contrast = f.integer("contrast", s.contrast, 0, kMaxContrast);
    s.colour = f.choice<ColourFormat>("colour_order", s.colour, kColourNames);
    rejected = f.rejected();
    return s;
}

MovieplaySettings startUpSettings(bool defaults) {
    MovieplaySettings settings;
    if (defaults) return settings;
    static_cast<void>(packaging::loadConfig(
        QStringLiteral("movieplay"), [&settings](const packaging::ConfigText& values) {
            QStringList rejected;
            settings = movieplaySettingsFromText(values, rejected);
            return rejected;
        }));
    return settings;
}

}  // namespace player
