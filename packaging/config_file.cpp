#include "packaging/config_file.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>
#include <QStringDecoder>
#include <QTemporaryFile>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <system_error>

namespace packaging {

QString configFilePath(const QString& program) {
    // GenericConfigLocation is $XDG_CONFIG_HOME when it is set to an absolute path, else
    // ~/.config; it is read again at every call, so tests can point it at a folder of their own.
    const QString base = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    return QDir(base).filePath(QStringLiteral("vistrel/%1.conf").arg(program));
}

ConfigRead readConfigFile(const QString& path, const QString& group) {
    ConfigRead read;
    const QFileInfo info(path);
    if (!info.exists()) return read;
    if (info.isDir()) {
        read.problem = QStringLiteral("it is a folder");
        return read;
    }
    // A pipe or a device would never end, or never start.
    if (!info.isFile()) {
        read.problem = QStringLiteral("not a regular file");
        return read;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        read.problem = QStringLiteral("cannot read it: ") + file.errorString();
        return read;
    }
    // One byte more than the limit tells an oversized file without reading all of it.
    const QByteArray bytes = file.read(kMaxConfigBytes + 1);
    if (bytes.size() > kMaxConfigBytes) {
        read.problem = QStringLiteral("larger than a settings file can be");
        return read;
    }
    if (bytes.trimmed().isEmpty()) return read;
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = utf8.decode(bytes);
    if (utf8.hasError() || bytes.contains('\0')) {
        read.problem = QStringLiteral("not a text file");
        return read;
    }

    // QSettings keeps what it read of a path for the whole process and reads it again only when
    // its size or millisecond time stamp changed, which two quick writes of the same length do
    // not do: it reads the bytes just checked from a file of their own instead.
    QTemporaryFile copy;
    if (!copy.open() || copy.write(bytes) != bytes.size() || !copy.flush()) {
        read.problem = QStringLiteral("cannot read it: no room for a working copy");
        return read;
    }
    QSettings settings(copy.fileName(), QSettings::IniFormat);
    // The status is set at the first access: the groups come before it.
    const QStringList groups = settings.childGroups();
    if (settings.status() != QSettings::NoError) {
        read.problem = settings.status() == QSettings::FormatError
                           ? QStringLiteral("not INI syntax")
                           : QStringLiteral("cannot read it");
        return read;
    }
    if (!groups.contains(group)) {
        read.problem = QStringLiteral("no [%1] section").arg(group);
        return read;
    }
    settings.beginGroup(group);
    for (const QString& key : settings.childKeys()) {
        const QVariant value = settings.value(key);
        // An unquoted comma makes Qt read a list; the text is what the user wrote.
        read.values[key] = value.typeId() == QMetaType::QStringList
                               ? value.toStringList().join(QStringLiteral(", "))
                               : value.toString();
    }
    return read;
}

QString writeConfigFile(const QString& path, const QString& group, const ConfigText& values) {
    const QFileInfo info(path);
    if (!QDir().mkpath(info.absolutePath())) {
        return QStringLiteral("cannot create the folder ") + info.absolutePath();
    }
    const QString fresh = path + QStringLiteral(".new");
    QFile::remove(fresh);
    {
        QSettings settings(fresh, QSettings::IniFormat);
        settings.beginGroup(group);
        for (const auto& [key, value] : values) settings.setValue(key, value);
        settings.endGroup();
        settings.sync();
        if (settings.status() != QSettings::NoError) {
            QFile::remove(fresh);
            return QStringLiteral("cannot write ") + fresh;
        }
    }
    std::error_code ec;
    std::filesystem::rename(fresh.toStdString(), path.toStdString(), ec);
    if (ec) {
        QFile::remove(fresh);
        return QString::fromStdString(ec.message());
    }
    return {};
}

const QString* ConfigFields::find(const char* key) const {
    const auto it = values_.find(QString::fromLatin1(key));
    return it == values_.end() ? nullptr : &it->second;
}

int ConfigFields::integer(const char* key, int fallback, int low, int high) {
    const QString* value = find(key);
    if (value == nullptr) return fallback;
    bool ok = false;
    const int n = value->trimmed().toInt(&ok);
    if (ok && n >= low && n <= high) return n;
    reject(key);
    return fallback;
}

int ConfigFields::integerOf(const char* key, int fallback, std::span<const int> allowed) {
    const QString* value = find(key);
    if (value == nullptr) return fallback;
    bool ok = false;
    const int n = value->trimmed().toInt(&ok);
    if (ok && std::find(allowed.begin(), allowed.end(), n) != allowed.end()) return n;
    reject(key);
    return fallback;
}

double ConfigFields::positive(const char* key, double fallback, double high) {
    const QString* value = find(key);
    if (value == nullptr) return fallback;
    bool ok = false;
    const double x = value->trimmed().toDouble(&ok);
    if (ok && std::isfinite(x) && x > 0 && x <= high) return x;
    reject(key);
    return fallback;
}

bool ConfigFields::flag(const char* key, bool fallback) {
    const QString* value = find(key);
    if (value == nullptr) return fallback;
    const QString v = value->trimmed().toLower();
    for (const char* yes : {"true", "1", "yes", "on"}) {
        if (v == QLatin1String(yes)) return true;
    }
    for (const char* no : {"false", "0", "no", "off"}) {
        if (v == QLatin1String(no)) return false;
    }
    reject(key);
    return fallback;
}

QString ConfigFields::text(const char* key, const QString& fallback, int maxChars,
                           bool (*accept)(const QString&)) {
    const QString* value = find(key);
    if (value == nullptr) return fallback;
    if (value->size() <= maxChars && (accept == nullptr || accept(*value))) return *value;
    reject(key);
    return fallback;
}

QString configFlag(bool value) { return value ? QStringLiteral("true") : QStringLiteral("false"); }

QString configReport(const QString& path, const QString& problem, const QStringList& rejected) {
    if (!problem.isEmpty()) {
        return QStringLiteral("ignoring the settings file %1 (%2); using the built-in settings")
            .arg(path, problem);
    }
    if (rejected.isEmpty()) return {};
    return QStringLiteral("settings file %1: %2 out of range or unreadable; using %3 built-in %4")
        .arg(path, rejected.join(QStringLiteral(", ")),
             rejected.size() == 1 ? QStringLiteral("its") : QStringLiteral("their"),
             rejected.size() == 1 ? QStringLiteral("value") : QStringLiteral("values"));
}

void printConfigLine(const QString& program, const QString& line) {
    if (line.isEmpty()) return;
    std::fprintf(stderr, "%s: %s\n", qPrintable(program), qPrintable(line));
}

ConfigSaver::ConfigSaver(QString program)
    : program_(std::move(program)), path_(configFilePath(program_)) {}

void ConfigSaver::save(const ConfigText& values) {
    if (!enabled() || values == last_) return;
    if (const QString error = writeConfigFile(path_, program_, values); !error.isEmpty()) {
        if (!failureTold_) {
            printConfigLine(program_,
                            QStringLiteral("cannot save the settings to %1: %2").arg(path_, error));
        }
        failureTold_ = true;
        return;
    }
    last_ = values;
}

}  // namespace packaging
