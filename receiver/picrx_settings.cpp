#include "receiver/picrx_settings.h"

#include <system_error>

namespace receiver {

namespace {

bool absoluteFolder(const QString& text) {
    if (text.isEmpty()) return true;
    for (const QChar c : text) {
        if (c.unicode() < 0x20) return false;
    }
    return std::filesystem::path(text.toStdString()).is_absolute();
}

}  // namespace

packaging::ConfigText picrxConfigText(const PicrxSettings& settings) {
    return {{QStringLiteral("record_dir"), QString::fromStdString(settings.recordDir.string())},
            {QStringLiteral("record"), packaging::configFlag(settings.record)}};
}

PicrxSettings picrxSettingsFromText(const packaging::ConfigText& values, QStringList& rejected) {
    PicrxSettings s;
    packaging::ConfigFields f(values);
    // PATH_MAX on Linux.
    s.recordDir = f.text("record_dir", QString(), 4096, absoluteFolder).toStdString();
    s.record = f.flag("record", s.record);
    rejected = f.rejected();
    return s;
}

PicrxStart startUpSettings(const PicrxOptions& options) {
    PicrxStart start;
    if (!options.defaults) {
        static_cast<void>(packaging::loadConfig(
            QStringLiteral("picrx"), [&start](const packaging::ConfigText& values) {
                QStringList rejected;
                start.file = picrxSettingsFromText(values, rejected);
                return rejected;
            }));
    }
    start.settings = start.file;
    if (!options.recordDir.empty()) {
        std::error_code ec;
        const std::filesystem::path absolute = std::filesystem::absolute(options.recordDir, ec);
        start.settings.recordDir = ec ? options.recordDir : absolute.lexically_normal();
    }
    if (options.record) start.settings.record = true;
    return start;
}

}  // namespace receiver
