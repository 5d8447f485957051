// tonebox: the sound-card modem (tools/station.h), or with --simulate the stand-in that plays
// each frame's units out at the air rate through a simulated radio channel. Either way it
// listens for the sender (pictx) on TCP port 998 and writes the units that arrive to the
// receiver's demodulator link (picrx, TCP port 999), one write per unit. See tools/tonebox.h
// for how commands and frames are told apart on the one stream.

#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QApplication>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSocketNotifier>
#include <QTcpSocket>
#include <QTimer>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "encoder/frame_format.h"
#include "packaging/app_icon.h"
#include "tools/channel.h"
#include "tools/sound.h"
#include "tools/station.h"
#include "tools/tonebox.h"
#include "tools/tonebox_links.h"
#include "tools/tonebox_window.h"

namespace {

using tools::PlayItem;
using tools::StreamEvent;
using tools::ToneboxCommand;
using tools::ToneboxOptions;

constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;  // could not listen for the sender
constexpr int kExitUsage = 2;
constexpr int kExitDrainMs = 1000;  // longest wait for the receiver to take the last units

void say(const std::string& line) {
    std::printf("tonebox: %s\n", line.c_str());
    std::fflush(stdout);
}

// One frame as it goes on the air, for the line printed about it.
struct FrameReport {
    uint64_t frame = 0;  // 0: none yet
    uint64_t units = 0;
    uint64_t delivered = 0;
    uint64_t lost = 0;        // by the channel
    uint64_t unkeyed = 0;     // played while the transmitter was not keyed
    uint64_t noReceiver = 0;  // the receiver was not connected
    bool unreported = false;  // units played since the last line about it
};

class SimulatedTonebox {
public:
    explicit SimulatedTonebox(const ToneboxOptions& options)
        : options_(options),
          port_(tools::SenderPort::Handlers{
              .line = [](const std::string& text) { say(text); },
              .event = [this](const StreamEvent& e) { handle(e); },
              .afterRead = [this] { schedule(); },
              .gone = nullptr,
          }),
          receiver_(tools::ReceiverLink::Settings{.host = options.rxHost,
                                                  .port = options.rxPort,
                                                  .firstRetryMs = tools::kReconnectMs,
                                                  .longestRetryMs = tools::kReconnectMs,
                                                  .gapMs = 0},
                    [](const std::string& text) { say(text); }),
          playout_(tools::kAirBytesPerSecond * options.speed),
          channel_(options.channel) {
        playTimer_.setSingleShot(true);
        playTimer_.setTimerType(Qt::PreciseTimer);
        QObject::connect(&playTimer_, &QTimer::timeout, [this] { play(); });
        clock_.start();
    }

    bool start() {
        if (!port_.listen(options_.listen, options_.port,
                          QCoreApplication::applicationFilePath().toStdString())) {
            return false;
        }
        if (options_.windowId) say("sender window " + std::to_string(*options_.windowId));
        const tools::ChannelSettings& c = options_.channel;
        char line[200];
        std::snprintf(line, sizeof line,
                      "air rate %.0f bytes/s (x%g); channel loss %g, byte errors %g, burst %g "
                      "(%s), seed %llu",
                      tools::kAirBytesPerSecond * options_.speed, options_.speed, c.loss,
                      c.byteErrors, c.burstLength,
                      c.shape == tools::BurstShape::Fixed ? "fixed" : "geometric",
                      static_cast<unsigned long long>(c.seed));
        say(line);
        say("transmitter not keyed");
        receiver_.connect();
        return true;
    }

private:
    void handle(const StreamEvent& e) {
        switch (e.kind) {
            case StreamEvent::Kind::Command:
                command(e.command);
                break;
            case StreamEvent::Kind::Unit:
                playout_.push(PlayItem{e.unit, e.unitKind, e.frame}, nowMs());
                break;
            case StreamEvent::Kind::Skipped:
                say("skipped " + std::to_string(e.skipped) + " bytes that began no message");
                break;
        }
    }

    void command(ToneboxCommand c) {
        switch (c) {
            case ToneboxCommand::Start:
                keyed_ = true;
                say("start: transmitter keyed");
                break;
            case ToneboxCommand::Stop:
                keyed_ = false;
                say("stop: transmitter not keyed");
                break;
            case ToneboxCommand::Exit:
                exit();
                break;
        }
    }

    double nowMs() const { return static_cast<double>(clock_.nsecsElapsed()) / 1e6; }

    void schedule() {
        const std::optional<double> next = playout_.nextDueMs();
        if (!next || exiting_) return;
        const double wait = std::max(0.0, std::ceil(*next - nowMs()));
        playTimer_.start(static_cast<int>(wait));
    }

    void play() {
        for (const PlayItem& item : playout_.takeDue(nowMs())) air(item);
        if (playout_.queued() == 0) {
            report(false);
        } else {
            schedule();
        }
    }

    void air(const PlayItem& item) {
        if (item.frame != frame_.frame) {
            report(false);
            frame_ = FrameReport{};
            frame_.frame = item.frame;
            announce(item);
        }
        ++frame_.units;
        ++totals_.units;
        frame_.unreported = true;
        if (!keyed_) {
            ++frame_.unkeyed;
            ++totals_.unkeyed;
            return;
        }
        const std::optional<encoder::Unit> arrived = tools::passUnit(channel_, item.unit);
        if (!arrived) {
            ++frame_.lost;
            ++totals_.lost;
            return;
        }
        if (!receiver_.send(*arrived)) {
            ++frame_.noReceiver;
            ++totals_.noReceiver;
            return;
        }
        ++frame_.delivered;
        ++totals_.delivered;
    }

    void announce(const PlayItem& first) {
        std::string line = "frame " + std::to_string(first.frame);
        if (const auto h = encoder::parseHeaderBlock(first.unit)) {
            std::string label = h->label;
            label.erase(label.find_last_not_of(' ') + 1);
            line += " (counter " + std::to_string(h->counter) + ", " +
                    std::to_string(h->frameSize == 255 ? 256 : h->frameSize) + " pixels, " +
                    static_cast<char>(h->letter) + ", label '" + label + "')";
        }
        line += keyed_ ? ": on the air" : ": playing, transmitter not keyed";
        say(line);
    }

    void report(bool ending) {
        if (!frame_.unreported) return;
        frame_.unreported = false;
        say("frame " + std::to_string(frame_.frame) + (ending ? " (cut short)" : "") + ": " +
            counts(frame_));
    }

    static std::string counts(const FrameReport& r) {
        std::string s = std::to_string(r.units) + " units played, " + std::to_string(r.delivered) +
                        " delivered, " + std::to_string(r.lost) + " lost";
        if (r.unkeyed > 0) s += ", " + std::to_string(r.unkeyed) + " not keyed";
        if (r.noReceiver > 0) s += ", " + std::to_string(r.noReceiver) + " without a receiver";
        return s;
    }

    void exit() {
        const size_t dropped = playout_.clear();
        report(true);
        exiting_ = true;
        playTimer_.stop();
        say("exit" + (dropped > 0 ? ": " + std::to_string(dropped) + " units not played" : ""));
        say("in all: " + std::to_string(port_.framesSeen()) + " frames, " + counts(totals_));
        port_.close();
        const bool connected = receiver_.connected();
        receiver_.close();
        if (!connected) {
            QCoreApplication::exit(kExitOk);
            return;
        }
        // The units already written still reach the receiver before the connection ends.
        QObject::connect(&receiver_.socket(), &QTcpSocket::disconnected,
                         [] { QCoreApplication::exit(kExitOk); });
        QTimer::singleShot(kExitDrainMs, [] { QCoreApplication::exit(kExitOk); });
    }

    ToneboxOptions options_;
    tools::SenderPort port_;
    tools::ReceiverLink receiver_;
    QTimer playTimer_;
    QElapsedTimer clock_;
    tools::Playout playout_;
    tools::ChannelState channel_;
    bool keyed_ = false;
    bool exiting_ = false;
    FrameReport frame_;
    FrameReport totals_;
};

// SIGINT, SIGTERM and SIGHUP reach the event loop through a socket pair, where the station
// unkeys and ends like on "exit".
int signalPipe[2] = {-1, -1};

void onSignal(int signal) {
    const char byte = static_cast<char>(signal);
    [[maybe_unused]] const ssize_t n = ::write(signalPipe[1], &byte, 1);
}

void catchSignals(const std::function<void(int)>& handler) {
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signalPipe) != 0) return;
    auto* notifier =
        new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, QCoreApplication::instance());
    QObject::connect(notifier, &QSocketNotifier::activated, [handler] {
        char byte = 0;
        if (::read(signalPipe[0], &byte, 1) == 1) handler(byte);
    });
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int s : {SIGINT, SIGTERM, SIGHUP}) sigaction(s, &action, nullptr);
}

// One line on a terminal, rewritten in place; event lines go above it.
class StatusLine {
public:
    StatusLine() : terminal_(::isatty(STDOUT_FILENO) != 0) {}
    void say(const std::string& line) {
        clear();
        std::printf("tonebox: %s\n", line.c_str());
        redraw();
    }
    void show(const tools::StationStatus& s) {
        if (!terminal_) return;
        char text[400];
        std::string frame = "no frame yet";
        if (s.lastFrame) {
            char f[80];
            std::snprintf(f, sizeof f, "SNR %.1f dB, %+.1f Hz", s.lastFrame->snrDb,
                          s.lastFrame->offsetHz);
            frame = f;
        }
        // While transmitting, the level sent; otherwise the level heard.
        const double level = s.transmitting ? s.outputPeakDbfs : s.inputPeakDbfs;
        char levelText[32] = "silent";
        if (level > -100) std::snprintf(levelText, sizeof levelText, "%5.1f dBFS", level);
        std::snprintf(text, sizeof text,
                      "%s  %s %s%s  %s  units %llu good/%llu dropped  strings %llu "
                      "queued/%llu dropped  pictx %s  picrx %s%s",
                      !s.soundUp       ? "--"
                      : s.transmitting ? "TX"
                                       : "RX",
                      s.transmitting ? "out" : "in", levelText,
                      s.clipping && !s.transmitting ? " CLIPPING" : "", frame.c_str(),
                      static_cast<unsigned long long>(s.unitsGood),
                      static_cast<unsigned long long>(s.unitsDropped),
                      static_cast<unsigned long long>(s.stringsQueued),
                      static_cast<unsigned long long>(s.stringsDropped),
                      s.senderConnected ? "up" : "down", s.receiverConnected ? "up" : "down",
                      s.refused ? "  TX TIMED OUT" : "");
        if (s.underruns + s.overruns > 0) {
            const size_t used = std::strlen(text);
            std::snprintf(text + used, sizeof text - used, "  underruns %llu, overruns %llu",
                          static_cast<unsigned long long>(s.underruns),
                          static_cast<unsigned long long>(s.overruns));
        }
        current_ = text;
        clear();
        redraw();
    }
    void end() {
        clear();
        current_.clear();
    }

private:
    void clear() {
        if (terminal_ && !current_.empty()) std::printf("\r\033[K");
    }
    void redraw() {
        if (terminal_ && !current_.empty()) std::printf("%s", current_.c_str());
        std::fflush(stdout);
    }
    bool terminal_;
    std::string current_;
};

int listDevices(bool verbose) {
    // --verbose shows what the sound system says about the devices it could not open.
    const tools::SoundSystem sound(verbose);
    if (!sound.ok()) {
        std::fprintf(stderr, "tonebox: %s\n", sound.error().c_str());
        return kExitFailure;
    }
    const std::vector<tools::SoundDeviceInfo> devices = sound.devices();
    for (const bool input : {true, false}) {
        std::printf("%s devices (--%s-device NAME; any part of the name will do):\n",
                    input ? "Input" : "Output", input ? "input" : "output");
        for (const tools::SoundDeviceInfo& d : devices) {
            if ((input ? d.inputs : d.outputs) == 0) continue;
            const bool isDefault = input ? d.defaultInput : d.defaultOutput;
            std::printf("  %c '%s'  (%s, %.0f Hz)\n", isDefault ? '*' : ' ', d.name.c_str(),
                        d.hostApi.c_str(), d.defaultRate);
        }
    }
    std::printf("* the default device\n");
    return kExitOk;
}

// Whether a window can be shown here: a display, or a Qt platform chosen by hand.
bool displayPresent() {
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
        const char* value = std::getenv(name);
        if (value != nullptr && *value != '\0') return true;
    }
    return false;
}

int runWindow(int argc, char** argv, const ToneboxOptions& options, const std::string& configPath) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("tonebox"));
    QApplication::setDesktopFileName(QStringLiteral("tonebox"));
    QApplication::setWindowIcon(packaging::vistrelIcon());
    tools::ToneboxWindow window(options, configPath);
    window.setEcho([](const std::string& line) { say(line); });
    catchSignals([&window](int signal) {
        std::printf("tonebox: signal %s: unkeying and ending\n", strsignal(signal));
        window.close();
    });
    window.show();
    window.startStation();
    return QApplication::exec();
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string_view> args;
    for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
    tools::ToneboxArguments parsed = tools::parseToneboxArguments(args);
    if (!parsed.error.empty()) {
        std::fprintf(stderr, "tonebox: %s (see tonebox --help)\n", parsed.error.c_str());
        return kExitUsage;
    }
    if (parsed.options.help) {
        const std::string_view usage = tools::toneboxUsage();
        std::fwrite(usage.data(), 1, usage.size(), stdout);
        return kExitOk;
    }
    tools::ToneboxOptions options = parsed.options;
    const std::string configPath = tools::toneboxConfigPath();
    if (!options.defaults) {
        std::ifstream file(configPath, std::ios::binary);
        if (file) {
            std::string text((std::istreambuf_iterator<char>(file)), {});
            for (const std::string& problem :
                 tools::applyToneboxConfig(text, configPath, parsed.given, options)) {
                std::fprintf(stderr, "tonebox: %s\n", problem.c_str());
            }
        }
    }
    if (const std::string error = tools::checkToneboxOptions(options, parsed.given);
        !error.empty()) {
        std::fprintf(stderr, "tonebox: %s (see tonebox --help)\n", error.c_str());
        return kExitUsage;
    }
    if (options.writeConfig) {
        if (const std::string error = tools::writeToneboxConfig(configPath, options);
            !error.empty()) {
            std::fprintf(stderr, "tonebox: %s\n", error.c_str());
            return kExitFailure;
        }
        std::printf("tonebox: settings written to %s\n", configPath.c_str());
        return kExitOk;
    }
    if (options.listDevices) return listDevices(options.verbose);
    if (options.window && !options.simulate) {
        if (displayPresent()) return runWindow(argc, argv, options, configPath);
        // Asked for on the command line: a clear no. From the settings file (the sender
        // started tonebox on a station without a display): the status line instead.
        if (parsed.given.contains("--window")) {
            std::fprintf(stderr,
                         "tonebox: --window: no display to show it on (DISPLAY and "
                         "WAYLAND_DISPLAY are not set)\n");
            return kExitUsage;
        }
        std::fprintf(stderr, "tonebox: no display for the window: the status line instead\n");
    }

    QCoreApplication app(argc, argv);
    if (options.simulate) {
        SimulatedTonebox tonebox(options);
        if (!tonebox.start()) return kExitFailure;
        return QCoreApplication::exec();
    }
    StatusLine status;
    tools::StationEvents events;
    events.line = [&status](const std::string& line) { status.say(line); };
    events.verbose = [&status](const std::string& line) { status.say(line); };
    events.finished = [&status](int code) {
        status.end();
        // The last units written to the receiver leave before the loop ends.
        QTimer::singleShot(200, [code] { QCoreApplication::exit(code); });
    };
    tools::Station station(options, events);
    bool ending = false;  // a signal can come twice (to the process and to its group)
    catchSignals([&station, &status, &ending](int signal) {
        if (ending) return;
        ending = true;
        status.say(std::string("signal ") + strsignal(signal) + ": unkeying and ending");
        station.shutDown(kExitOk);
    });
    if (!station.start()) return kExitFailure;
    QTimer statusTimer;
    QObject::connect(&statusTimer, &QTimer::timeout,
                     [&station, &status] { status.show(station.status()); });
    statusTimer.start(500);
    return QCoreApplication::exec();
}
