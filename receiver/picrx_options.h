#pragma once

// picrx's command line: the demodulator link's address and port, the recorder, and two aids
// for scripts (a frame file fed in at start-up, and a picture of the window saved at once).

#include <QHostAddress>
#include <QStringList>
#include <filesystem>
#include <optional>
#include <string>

#include "receiver/demod_link.h"

namespace receiver {

struct PicrxOptions {
    bool help = false;
    QHostAddress listen{QHostAddress::LocalHost};     // --listen ADDRESS
    quint16 port = kDemodPort;                        // --port N; 0 takes a free port
    bool record = false;                              // --record: start recording at launch
    std::filesystem::path recordDir;                  // --record-dir DIR; empty: the current one
    std::optional<std::filesystem::path> feed;        // --feed FILE: units of a frame file
    std::optional<std::filesystem::path> screenshot;  // --screenshot FILE: save, then end
    bool verbose = false;   // --verbose: connections, good frames, dropped bytes on stdout
    bool defaults = false;  // --defaults: picrx.conf is not read (changes are still written)
};

struct PicrxParse {
    PicrxOptions options;
    std::string error;  // empty when the arguments were good
};

// arguments without the program name.
[[nodiscard]] PicrxParse parsePicrxOptions(const QStringList& arguments);
[[nodiscard]] std::string picrxUsage();

}  // namespace receiver
