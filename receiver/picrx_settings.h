#pragma once

// What picrx remembers between runs, in ~/.config/vistrel/picrx.conf (packaging/config_file.h):
//
//   [picrx]
//   record_dir=/home/g4abc/movies     where ".tv" files go; empty: the current folder
//   record=true                       the Record button was left on
//
// The settings as text and back are pure; startUpSettings reads the file and puts the command
// line on top.

#include <QStringList>
#include <filesystem>

#include "packaging/config_file.h"
#include "receiver/picrx_options.h"

namespace receiver {

struct PicrxSettings {
    std::filesystem::path recordDir;  // absolute, or empty for the current folder (default)
    bool record = false;              // recording wanted from the start; default off
};

[[nodiscard]] packaging::ConfigText picrxConfigText(const PicrxSettings& settings);
// A record_dir that is not an absolute path, or a record that is no yes or no, keeps the
// built-in value and is named in rejected.
[[nodiscard]] PicrxSettings picrxSettingsFromText(const packaging::ConfigText& values,
                                                  QStringList& rejected);

struct PicrxStart {
    PicrxSettings file;      // what picrx.conf holds (the built-in settings with --defaults)
    PicrxSettings settings;  // what this run uses: the file's, with the command line on top
};
// --record and --record-dir win over the file (the folder made absolute); with --defaults the
// file is not read. Prints the file's one stderr line when it has something to say.
[[nodiscard]] PicrxStart startUpSettings(const PicrxOptions& options);

}  // namespace receiver
