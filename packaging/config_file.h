#pragma once

// The settings file each window program keeps: an INI file in the vistrel folder of the user's
// configuration folder ($XDG_CONFIG_HOME, by default ~/.config), one [program] section of
// plain "key=value" lines:
//
//   ~/.config/vistrel/pictx.conf      [pictx]  callsign=G4ABC  frame_size=128 ...
//
// Reading never fails: a file that cannot be used is ignored as a whole and a value that cannot
// be used falls back to its default, and the program says so in one line on stderr. Each
// program's own rules (its keys, their ranges) are pure functions over ConfigText; this file
// has the part all three share.

#include <QString>
#include <QStringList>
#include <map>
#include <span>
#include <utility>

namespace packaging {

// Key -> value, as the file spells them.
using ConfigText = std::map<QString, QString>;

// The file is refused beyond this size: a settings file is a few hundred bytes.
inline constexpr qint64 kMaxConfigBytes = 64 * 1024;

// <configuration folder>/vistrel/<program>.conf; the folder is QStandardPaths'
// GenericConfigLocation, which follows $XDG_CONFIG_HOME.
[[nodiscard]] QString configFilePath(const QString& program);

struct ConfigRead {
    ConfigText values;  // the [group] section's keys; empty when absent or ignored
    QString problem;    // why the whole file was ignored; empty when it was read or is absent
};
// A missing or empty file gives nothing, silently. A folder, an unreadable or oversized file,
// bytes that are not UTF-8 text, bad INI syntax, or a file without a [group] section (some
// other program's) give nothing, with the reason.
[[nodiscard]] ConfigRead readConfigFile(const QString& path, const QString& group);

// Writes the values as the file's whole content, in a [group] section: a new file beside it,
// renamed over the old, so a crash never leaves half a file. Creates the folder. Returns why it
// failed; empty on success.
[[nodiscard]] QString writeConfigFile(const QString& path, const QString& group,
                                      const ConfigText& values);

// Typed reads of the values. A missing key gives the fallback silently; a value of the wrong
// type or out of range gives the fallback and notes the key in rejected().
class ConfigFields {
public:
    explicit ConfigFields(const ConfigText& values) : values_(values) {}

    [[nodiscard]] int integer(const char* key, int fallback, int low, int high);
    // One of the numbers given.
    [[nodiscard]] int integerOf(const char* key, int fallback, std::span<const int> allowed);
    // A finite number in low < value <= high.
    [[nodiscard]] double positive(const char* key, double fallback, double high);
    // true/false (also 1/0, yes/no, on/off), any case.
    [[nodiscard]] bool flag(const char* key, bool fallback);
    // Any text up to maxChars characters; accept may refuse more (nullptr: no more rules).
    [[nodiscard]] QString text(const char* key, const QString& fallback, int maxChars,
                               bool (*accept)(const QString&) = nullptr);
    // One of a few names, any case.
    template <typename T>
    [[nodiscard]] T choice(const char* key, T fallback,
                           std::span<const std::pair<const char*, T>> names) {
        const QString* value = find(key);
        if (value == nullptr) return fallback;
        for (const auto& [name, v] : names) {
            if (value->trimmed().compare(QLatin1String(name), Qt::CaseInsensitive) == 0) return v;
        }
        reject(key);
        return fallback;
    }
    // The key's name as written for a choice's value (the inverse of choice).
    template <typename T>
    [[nodiscard]] static QString nameOf(T value, std::span<const std::pair<const char*, T>> names) {
        for (const auto& [name, v] : names) {
            if (v == value) return QString::fromLatin1(name);
        }
        return {};
    }

    [[nodiscard]] const QStringList& rejected() const { return rejected_; }

private:
    [[nodiscard]] const QString* find(const char* key) const;
    void reject(const char* key) { rejected_ << QString::fromLatin1(key); }

    const ConfigText& values_;
    QStringList rejected_;
};

[[nodiscard]] QString configFlag(bool value);  // "true" or "false"

// The one stderr line about a read, without the program's name; empty when there is nothing to
// say.
[[nodiscard]] QString configReport(const QString& path, const QString& problem,
                                   const QStringList& rejected);

// ---- the programs' shell: stderr and the file on disk ----

// Reads <program>.conf ([program] section) and gives its values to apply, which returns the
// keys it refused; prints the report line on stderr as "program: ...". Returns that line.
template <typename Apply>
QString loadConfig(const QString& program, Apply&& apply);

// Writes the program's settings whenever they differ from the last ones written or read. A
// saver made with an empty program name writes nothing (tests, --screenshot). A failed write
// is told on stderr once.
class ConfigSaver {
public:
    ConfigSaver() = default;
    explicit ConfigSaver(QString program);

    [[nodiscard]] bool enabled() const { return !program_.isEmpty(); }
    [[nodiscard]] const QString& path() const { return path_; }
    // What the file holds now: no write until the settings differ from these.
    void assume(const ConfigText& values) { last_ = values; }
    void save(const ConfigText& values);

private:
    QString program_;
    QString path_;
    ConfigText last_;
    bool failureTold_ = false;
};

void printConfigLine(const QString& program, const QString& line);

template <typename Apply>
QString loadConfig(const QString& program, Apply&& apply) {
    const QString path = configFilePath(program);
    const ConfigRead read = readConfigFile(path, program);
    QStringList rejected;
    if (read.problem.isEmpty()) rejected = apply(read.values);
    const QString line = configReport(path, read.problem, rejected);
    printConfigLine(program, line);
    return line;
}

}  // namespace packaging
