#pragma once

// What pictx remembers between runs, in ~/.config/vistrel/pictx.conf (packaging/config_file.h):
//
//   [pictx]
//   callsign=G4ABC            message=73 from Bath       comport=1
//   frame_size=128            wavelet=cdf97              quantiser=1    threshold=0
//   red_factor=4              blue_factor=4              av1_chroma=444 syndromes=32
//   preserve_aspect=false     source_tab=still           movie_rate=3   movie_sync=false
//
// wavelet=av1 sends the AV1 payload, whose quality the quantiser gives; av1_chroma (444 or 420)
// is its chroma. A file written before AV1 has neither, and reads as it always did.
//
// The settings as text and back are pure; startUpSettings reads the file. The window applies
// them to its controls.

#include <QString>
#include <QStringList>

#include "packaging/config_file.h"
#include "sender/window_core.h"

namespace sender {

inline constexpr int kMaxRememberedText = 255;   // characters of callsign, message, comport
inline constexpr double kMaxMovieRate = 86'400;  // seconds per movie frame: a day

struct PictxSettings {
    // The controls' settings; the source path and the transmit switch are not remembered.
    WindowSettings window;
    QString callsign;                       // the callsign field; empty at first
    QString message;                        // the short message field; empty at first
    QString comport = QStringLiteral("1");  // the "Set comport" field; "1" at first
};

// Every remembered setting as the file spells it.
[[nodiscard]] packaging::ConfigText pictxConfigText(const PictxSettings& settings);

// The settings the file's values give: each value of the wrong type or out of range keeps the
// built-in one and is named in rejected. Unknown keys are skipped.
[[nodiscard]] PictxSettings pictxSettingsFromText(const packaging::ConfigText& values,
                                                  QStringList& rejected);

// A source named on the command line is the one shown: --picture the Still picture tab, --movie
// the Movie tab; with both, or neither, the remembered tab.
void showNamedSource(PictxSettings& settings, bool picture, bool movie);

// The settings pictx starts with: the built-in ones with --defaults (the file is not read),
// else the file's, after its one stderr line when it has something to say.
[[nodiscard]] PictxSettings startUpSettings(bool defaults);

}  // namespace sender
