#include "tools/tonebox.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "tools/file_io.h"

namespace tools {

namespace {

constexpr std::array<uint8_t, 7> kHeaderStart{0xFF, 'h', 'e', 'a', 'd', 'e', 'r'};
constexpr std::array<uint8_t, 3> kMessageStart{'m', 's', 'g'};
// Data byte 0 of a packet: packet 1 carries the stream's first byte, 0x00; every later packet
// starts with a byte of the absent interleaver row.
constexpr uint8_t kFirstPacketLead = 0x00;
constexpr uint8_t kPacketLead = 0x20;

struct CommandWord {
    std::string_view text;
    ToneboxCommand command;
};
constexpr std::array<CommandWord, 3> kCommands{{
    {"start", ToneboxCommand::Start},
    {"stop", ToneboxCommand::Stop},
    {"exit", ToneboxCommand::Exit},
}};

// Whether s can still begin with prefix: all of prefix seen, or all of s agrees with it.
template <typename Prefix>
bool agrees(std::span<const uint8_t> s, const Prefix& prefix) {
    const size_t n = std::min(s.size(), std::size(prefix));
    for (size_t i = 0; i < n; ++i) {
        if (s[i] != static_cast<uint8_t>(prefix[i])) return false;
    }
    return true;
}

}  // namespace

std::string_view toneboxCommandText(ToneboxCommand command) {
    for (const CommandWord& w : kCommands) {
        if (w.command == command) return w.text;
    }
    return "";
}

std::vector<StreamEvent> StreamParser::feed(std::span<const uint8_t> bytes) {
    std::vector<StreamEvent> out;
    pending_.insert(pending_.end(), bytes.begin(), bytes.end());
    size_t at = 0;
    while (at < pending_.size()) {
        const std::span<const uint8_t> rest = std::span(pending_).subspan(at);
        bool needMore = false;

        // Commands.
        bool took = false;
        for (const CommandWord& w : kCommands) {
            if (!agrees(rest, w.text)) continue;
            if (rest.size() < w.text.size()) {
                needMore = true;
                continue;
            }
            flushSkipped(out);
            StreamEvent e;
            e.kind = StreamEvent::Kind::Command;
            e.command = w.command;
            out.push_back(e);
            at += w.text.size();
            inFrame_ = false;
            haveHeader_ = false;
            took = true;
            break;
        }
        if (took) continue;

        // Units.
        std::optional<UnitKind> kind;
        if (agrees(rest, kHeaderStart)) {
            kind = UnitKind::Header;
        } else if (inFrame_ && agrees(rest, kMessageStart)) {
            kind = UnitKind::Message;
        } else if (inFrame_ && rest[0] != 0 &&
                   (rest.size() < 2 ||
                    rest[1] == (rest[0] == 1 ? kFirstPacketLead : kPacketLead))) {
            kind = UnitKind::Packet;
        }
        if (kind) {
            if (rest.size() < encoder::kUnitBytes) break;  // a unit's start is known: wait
            flushSkipped(out);
            StreamEvent e;
            e.kind = StreamEvent::Kind::Unit;
            e.unitKind = *kind;
            std::copy_n(rest.begin(), encoder::kUnitBytes, e.unit.begin());
            if (*kind == UnitKind::Header) {
                if (!haveHeader_ || e.unit != frameHeader_) {
                    ++frames_;
                    frameHeader_ = e.unit;
                    haveHeader_ = true;
                }
                inFrame_ = true;
            }
            e.frame = frames_;
            out.push_back(e);
            at += encoder::kUnitBytes;
            continue;
        }
        if (needMore) break;

        // Nothing begins here: skip a byte, and look for a header or a command from now on.
        ++skipped_;
        ++at;
        inFrame_ = false;
    }
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(at));
    return out;
}

std::vector<StreamEvent> StreamParser::reset() {
    std::vector<StreamEvent> out;
    skipped_ += pending_.size();
    flushSkipped(out);
    pending_.clear();
    inFrame_ = false;
    haveHeader_ = false;
    return out;
}

void StreamParser::flushSkipped(std::vector<StreamEvent>& out) {
    if (skipped_ == 0) return;
    StreamEvent e;
    e.kind = StreamEvent::Kind::Skipped;
    e.skipped = skipped_;
    out.push_back(e);
    skipped_ = 0;
}

void Playout::push(const PlayItem& item, double nowMs) {
    if (queue_.empty()) headEndsMs_ = nowMs + unitMs();
    queue_.push_back(item);
}

std::vector<PlayItem> Playout::takeDue(double nowMs) {
    std::vector<PlayItem> out;
    while (!queue_.empty() && headEndsMs_ <= nowMs) {
        out.push_back(queue_.front());
        queue_.pop_front();
        // Kept on the schedule even when the caller comes late, so late calls cause no drift.
        headEndsMs_ += unitMs();
    }
    return out;
}

std::optional<double> Playout::nextDueMs() const {
    if (queue_.empty()) return std::nullopt;
    return headEndsMs_;
}

size_t Playout::clear() {
    const size_t dropped = queue_.size();
    queue_.clear();
    return dropped;
}

std::vector<std::vector<encoder::Unit>> FrameStrings::add(const StreamEvent& e) {
    std::vector<std::vector<encoder::Unit>> done;
    if (e.kind != StreamEvent::Kind::Unit) {
        if (e.kind == StreamEvent::Kind::Command && !units_.empty()) done.push_back(flush());
        return done;
    }
    if (e.frame != frame_ && !units_.empty()) done.push_back(flush());
    if (units_.empty()) {
        frame_ = e.frame;
        packets_ = 0;
        message_ = false;
        if (const auto h = encoder::parseHeaderBlock(e.unit)) {
            packets_ = h->codewordLength();
            streamless_ = h->counter == encoder::kStreamlessCounter;
        }
    }
    units_.push_back(e.unit);
    message_ = message_ || e.unitKind == UnitKind::Message;
    if (complete()) done.push_back(flush());
    return done;
}

bool FrameStrings::complete() const {
    if (packets_ <= 0) return false;
    // The message block, when there is one, comes sixth (after packet 0 and its header); a
    // string of five units without one may still get it.
    if (!message_ && units_.size() <= 5) return false;
    return units_.size() * encoder::kUnitBytes ==
           encoder::frameStringLength(packets_, message_, streamless_);
}

std::vector<encoder::Unit> FrameStrings::flush() {
    std::vector<encoder::Unit> out;
    out.swap(units_);
    packets_ = 0;
    message_ = false;
    return out;
}

namespace {

template <typename Number>
bool parseNumber(std::string_view text, Number& value) {
    const char* end = text.data() + text.size();
    const auto [ptr, error] = std::from_chars(text.data(), end, value);
    return error == std::errc() && ptr == end && !text.empty();
}

std::string shortNumber(double x) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", x);
    return text;
}

}  // namespace

namespace {

// Options that take no value, and what each sets.
bool applyFlag(ToneboxOptions& o, std::string_view name) {
    if (name == "--simulate") {
        o.simulate = true;
    } else if (name == "--no-transmit") {
        o.transmit = false;
    } else if (name == "--no-receive") {
        o.receive = false;
    } else if (name == "--list-devices") {
        o.listDevices = true;
    } else if (name == "--write-config") {
        o.writeConfig = true;
    } else if (name == "--verbose") {
        o.verbose = true;
    } else if (name == "--defaults") {
        o.defaults = true;
    } else if (name == "--window") {
        o.window = true;
    } else if (name == "--no-window") {
        o.window = false;
    } else {
        return false;
    }
    return true;
}

// The simulated channel's options, which only --simulate uses.
constexpr std::string_view kSimulationOptions[] = {"--speed", "--loss",        "--byte-errors",
                                                   "--burst", "--burst-shape", "--seed"};

}  // namespace

std::string applyToneboxOption(ToneboxOptions& o, std::string_view name, std::string_view v) {
    const std::string n(name);
    std::string error;
    auto integer = [&](int low, int high, int& into) {
        int x = 0;
        if (!parseNumber(v, x) || x < low || x > high) {
            error = n + " takes a whole number from " + std::to_string(low) + " to " +
                    std::to_string(high);
        } else {
            into = x;
        }
    };
    auto real = [&](double low, double high, bool lowOpen, double& into) {
        double x = 0;
        if (!parseNumber(v, x) || x > high || x < low || (lowOpen && x == low)) {
            error = n + " takes a number " + (lowOpen ? "above " : "from ") + shortNumber(low) +
                    " to " + shortNumber(high);
        } else {
            into = x;
        }
    };
    if (name == "--port") {
        integer(0, 65535, o.port);
    } else if (name == "--listen") {
        if (v.empty()) {
            error = "--listen takes an address";
        } else {
            o.listen = std::string(v);
        }
    } else if (name == "--rx-host") {
        if (v.empty()) {
            error = "--rx-host takes a host name or address";
        } else {
            o.rxHost = std::string(v);
        }
    } else if (name == "--rx-port") {
        integer(1, 65535, o.rxPort);
    } else if (name == "--speed") {
        real(0.0, 1e6, true, o.speed);
    } else if (name == "--loss") {
        real(0.0, 1.0, false, o.channel.loss);
    } else if (name == "--byte-errors") {
        real(0.0, 1.0, false, o.channel.byteErrors);
    } else if (name == "--burst") {
        real(0.0, 1e6, false, o.channel.burstLength);
    } else if (name == "--burst-shape") {
        if (v == "geometric") {
            o.channel.shape = BurstShape::Geometric;
        } else if (v == "fixed") {
            o.channel.shape = BurstShape::Fixed;
        } else {
            error = "--burst-shape takes geometric or fixed";
        }
    } else if (name == "--seed") {
        if (!parseNumber(v, o.channel.seed)) error = "--seed takes a whole number";
    } else if (name == "--mode") {
        if (v == "normal") {
            o.mode = modem::Mode::Normal;
        } else if (v == "robust") {
            o.mode = modem::Mode::Robust;
        } else {
            error = "--mode takes normal or robust";
        }
    } else if (name == "--input-device") {
        o.inputDevice = std::string(v);
    } else if (name == "--output-device") {
        o.outputDevice = std::string(v);
    } else if (name == "--tx-level") {
        real(-60.0, 0.0, false, o.txLevelDb);
    } else if (name == "--tune") {
        real(0.0, 600.0, true, o.tuneSeconds);
    } else if (name == "--ptt") {
        const PttParse ptt = parsePttSetting(v);
        if (ptt.error.empty()) {
            o.ptt = ptt.setting;
        } else {
            error = ptt.error;
        }
    } else if (name == "--ptt-lead") {
        integer(0, 5000, o.pttLeadMs);
    } else if (name == "--ptt-tail") {
        integer(0, 5000, o.pttTailMs);
    } else if (name == "--ptt-hold") {
        integer(0, 10000, o.pttHoldMs);
    } else if (name == "--tx-timeout") {
        integer(1, 3600, o.txTimeoutS);
    } else if (name == "--input-file") {
        if (v.empty()) {
            error = "--input-file takes a WAV file";
        } else {
            o.inputFile = std::string(v);
        }
    } else {
        error = "unknown option " + n;
    }
    return error;
}

ToneboxArguments parseToneboxArguments(const std::vector<std::string_view>& args) {
    ToneboxArguments result;
    ToneboxOptions& o = result.options;
    auto fail = [&](std::string message) {
        if (result.error.empty()) result.error = std::move(message);
    };
    for (size_t i = 0; i < args.size(); ++i) {
        std::string_view arg = args[i];
        if (arg == "-h" || arg == "--help") {
            o.help = true;
            continue;
        }
        if (!arg.starts_with("--")) {
            uint64_t id = 0;
            if (!o.windowId && parseNumber(arg, id)) {
                o.windowId = id;
            } else {
                fail("unexpected argument '" + std::string(arg) + "'");
            }
            continue;
        }
        std::string_view name = arg;
        std::optional<std::string_view> value;
        if (const size_t eq = arg.find('='); eq != std::string_view::npos) {
            name = arg.substr(0, eq);
            value = arg.substr(eq + 1);
        }
        if (!value && applyFlag(o, name)) {
            result.given.insert(std::string(name));
            continue;
        }
        if (!value && i + 1 < args.size()) value = args[++i];
        if (!value) {
            fail(std::string(name) + " needs a value");
            break;
        }
        const std::string error = applyToneboxOption(o, name, *value);
        if (!error.empty()) fail(error);
        result.given.insert(std::string(name));
    }
    return result;
}

std::string checkToneboxOptions(const ToneboxOptions& o, const std::set<std::string>& given) {
    if (!o.simulate) {
        for (const std::string_view option : kSimulationOptions) {
            if (given.contains(std::string(option))) {
                return std::string(option) + " belongs to the simulated channel: add --simulate";
            }
        }
    }
    if (o.listDevices || o.writeConfig || o.help) return {};
    if (!o.transmit && !o.receive && !o.simulate) {
        return "transmit and receive both off (--no-transmit, --no-receive or the settings "
               "file) leave nothing to do";
    }
    if (o.tuneSeconds > 0 && (!o.transmit || o.simulate)) {
        return "--tune needs the transmitter: not with --no-transmit or --simulate";
    }
    if (!o.inputFile.empty() && (o.simulate || o.tuneSeconds > 0 || !o.receive)) {
        return "--input-file is what is heard: not with --simulate, --tune or --no-receive";
    }
    if (o.window && o.simulate && given.contains("--window")) {
        return "the window shows the sound card's modem: not with --simulate";
    }
    return {};
}

// The settings file. Each key is an option's name without its dashes (on/off settings take
// true or false); a file line is checked as the option would be on the command line.
namespace {

struct ConfigKey {
    std::string_view key;
    std::string_view option;  // the option it stands for
    bool flag = false;        // true/false: flagOn when true, flagOff when false
    std::string_view flagOff = {};
};

constexpr ConfigKey kConfigKeys[] = {
    {"input-device", "--input-device"},
    {"output-device", "--output-device"},
    {"mode", "--mode"},
    {"ptt", "--ptt"},
    {"ptt-lead", "--ptt-lead"},
    {"ptt-tail", "--ptt-tail"},
    {"ptt-hold", "--ptt-hold"},
    {"tx-timeout", "--tx-timeout"},
    {"tx-level", "--tx-level"},
    {"port", "--port"},
    {"listen", "--listen"},
    {"rx-host", "--rx-host"},
    {"rx-port", "--rx-port"},
    {"transmit", "", true, "--no-transmit"},
    {"receive", "", true, "--no-receive"},
    {"simulate", "--simulate", true, ""},
    {"window", "--window", true, "--no-window"},
};

std::string trim(std::string_view s) {
    const size_t a = s.find_first_not_of(" \t\r");
    if (a == std::string_view::npos) return {};
    const size_t b = s.find_last_not_of(" \t\r");
    return std::string(s.substr(a, b - a + 1));
}

std::optional<bool> parseFlag(std::string_view v) {
    if (v == "true" || v == "yes" || v == "on" || v == "1") return true;
    if (v == "false" || v == "no" || v == "off" || v == "0") return false;
    return std::nullopt;
}

}  // namespace

std::vector<std::string> applyToneboxConfig(std::string_view text, const std::string& fileName,
                                            const std::set<std::string>& given, ToneboxOptions& o) {
    std::vector<std::string> problems;
    int lineNumber = 0;
    size_t at = 0;
    bool inSection = false;
    while (at <= text.size()) {
        const size_t end = std::min(text.find('\n', at), text.size());
        const std::string line = trim(text.substr(at, end - at));
        at = end + 1;
        ++lineNumber;
        const std::string where = fileName + ":" + std::to_string(lineNumber) + ": ";
        if (line.empty() || line[0] == '#' || line[0] == ';') continue;
        if (line.front() == '[') {
            inSection = line == "[tonebox]";
            if (!inSection)
                problems.push_back(where + "section " + line +
                                   " is not tonebox's; "
                                   "its lines are ignored");
            continue;
        }
        if (!inSection) {
            problems.push_back(where + "outside the [tonebox] section; ignored");
            continue;
        }
        const size_t eq = line.find('=');
        if (eq == std::string::npos) {
            problems.push_back(where + "'" + line + "' is not key = value; ignored");
            continue;
        }
        const std::string key = trim(std::string_view(line).substr(0, eq));
        const std::string value = trim(std::string_view(line).substr(eq + 1));
        const auto known = std::find_if(std::begin(kConfigKeys), std::end(kConfigKeys),
                                        [&](const ConfigKey& k) { return k.key == key; });
        if (known == std::end(kConfigKeys)) {
            problems.push_back(where + "unknown setting '" + key + "'; ignored");
            continue;
        }
        if (!known->flag) {
            if (given.contains(std::string(known->option))) continue;  // the command line wins
            ToneboxOptions trial = o;
            const std::string error = applyToneboxOption(trial, known->option, value);
            if (error.empty()) {
                o = trial;
            } else {
                problems.push_back(where + key + " = " + value + ": " + error +
                                   "; the built-in setting stays");
            }
            continue;
        }
        const std::optional<bool> on = parseFlag(value);
        if (!on) {
            problems.push_back(where + key + " = " + value +
                               ": takes true or false; the built-in setting stays");
            continue;
        }
        if (given.contains(std::string(known->option)) ||
            given.contains(std::string(known->flagOff))) {
            continue;
        }
        if (known->key == "transmit") o.transmit = *on;
        if (known->key == "receive") o.receive = *on;
        if (known->key == "simulate") o.simulate = *on;
        if (known->key == "window") o.window = *on;
    }
    return problems;
}

std::string toneboxConfigText(const ToneboxOptions& o) {
    std::string text =
        "# tonebox's settings: written by tonebox --write-config, read at every start.\n"
        "# Options given on the command line win over these.\n"
        "[tonebox]\n";
    auto line = [&](std::string_view key, const std::string& value) {
        text += std::string(key) + " = " + value + "\n";
    };
    line("input-device", o.inputDevice);
    line("output-device", o.outputDevice);
    line("mode", o.mode == modem::Mode::Robust ? "robust" : "normal");
    line("ptt", pttSettingText(o.ptt));
    line("ptt-lead", std::to_string(o.pttLeadMs));
    line("ptt-tail", std::to_string(o.pttTailMs));
    line("ptt-hold", std::to_string(o.pttHoldMs));
    line("tx-timeout", std::to_string(o.txTimeoutS));
    line("tx-level", shortNumber(o.txLevelDb));
    line("port", std::to_string(o.port));
    line("listen", o.listen);
    line("rx-host", o.rxHost);
    line("rx-port", std::to_string(o.rxPort));
    line("transmit", o.transmit ? "true" : "false");
    line("receive", o.receive ? "true" : "false");
    line("simulate", o.simulate ? "true" : "false");
    line("window", o.window ? "true" : "false");
    return text;
}

std::string toneboxConfigPath() {
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    std::string base;
    if (xdg != nullptr && xdg[0] == '/') {
        base = xdg;
    } else {
        const char* home = std::getenv("HOME");
        base = std::string(home != nullptr ? home : ".") + "/.config";
    }
    return base + "/vistrel/tonebox.conf";
}

std::string writeToneboxConfig(const std::string& path, const ToneboxOptions& o) {
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ec);
    if (ec) return "cannot create the folder of " + path + ": " + ec.message();
    const std::string text = toneboxConfigText(o);
    return writeFileReplacing(path,
                              std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size()))
        .error;
}

namespace {

std::string lower(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

}  // namespace

DeviceChoice chooseSoundDevice(const std::vector<SoundDeviceInfo>& devices, std::string_view wanted,
                               bool input) {
    const auto usable = [&](const SoundDeviceInfo& d) {
        return input ? d.inputs > 0 : d.outputs > 0;
    };
    const char* what = input ? "input" : "output";
    std::vector<const SoundDeviceInfo*> matches;
    for (const SoundDeviceInfo& d : devices) {
        if (!usable(d)) continue;
        if (wanted.empty() ? (input ? d.defaultInput : d.defaultOutput)
                           : lower(d.name) == lower(wanted)) {
            return DeviceChoice{d.index, d.name, {}};
        }
        if (!wanted.empty() && lower(d.name).find(lower(wanted)) != std::string::npos) {
            matches.push_back(&d);
        }
    }
    if (matches.size() == 1) return DeviceChoice{matches[0]->index, matches[0]->name, {}};
    std::string names;
    for (const SoundDeviceInfo& d : devices) {
        if (usable(d)) names += (names.empty() ? "'" : ", '") + d.name + "'";
    }
    if (names.empty()) return DeviceChoice{-1, {}, std::string("no sound ") + what + " devices"};
    if (wanted.empty()) {
        return DeviceChoice{
            -1, {}, std::string("no default sound ") + what + " device; choose one of " + names};
    }
    std::string error = std::string(matches.empty() ? "no" : "more than one") + " sound " + what +
                        " device matches '" + std::string(wanted) + "'";
    if (!matches.empty()) {
        error += " (";
        for (size_t i = 0; i < matches.size(); ++i) {
            error += (i > 0 ? ", '" : "'") + matches[i]->name + "'";
        }
        error += "): give more of the name, or the whole name";
    } else {
        error += "; the " + std::string(what) + " devices are " + names;
    }
    return DeviceChoice{-1, {}, error};
}

SettingsCheck checkSettingsFields(const ToneboxOptions& base,
                                  const std::vector<SettingsField>& fields,
                                  const std::vector<SoundDeviceInfo>& devices) {
    SettingsCheck check{base, {}, {}};
    for (const SettingsField& field : fields) {
        check.error = applyToneboxOption(check.options, field.option, field.value);
        const bool device = field.option == "--input-device" || field.option == "--output-device";
        if (check.error.empty() && device && !field.value.empty() && !devices.empty()) {
            check.error =
                chooseSoundDevice(devices, field.value, field.option == "--input-device").error;
        }
        if (!check.error.empty()) {
            check.option = field.option;
            return check;
        }
    }
    check.error = checkToneboxOptions(check.options, {});
    return check;
}

std::string_view toneboxUsage() {
    return "Usage: tonebox [WINDOW_ID] [options]\n"
           "\n"
           "The sound-card modem between the sender and the receiver. It takes commands and\n"
           "frame strings from the sender (pictx) on a TCP port, sends their 41-byte units\n"
           "through the sound card to the rig, keying the transmitter around the sound; and it\n"
           "records the sound card, demodulates what it hears and writes every good unit to\n"
           "the receiver's demodulator link (picrx), one write per unit. Half duplex: while it\n"
           "transmits, it does not listen. Ends when the sender says \"exit\", or on Ctrl-C.\n"
           "\n"
           "  WINDOW_ID               the sender's window, a decimal number; not used\n"
           "  --mode MODE             send in normal (270 bytes/s) or robust (160 bytes/s)\n"
           "                          mode (normal); both are received\n"
           "  --no-transmit           receive only: no sender port, nothing played\n"
           "  --no-receive            transmit only: nothing recorded, no receiver link\n"
           "  --list-devices          list the sound devices and end\n"
           "  --input-device NAME     record this device (any part of its name; the default\n"
           "                          device when not given)\n"
           "  --output-device NAME    play on this device (the same)\n"
           "  --tx-level DB           the transmission's peak level, -60..0 dBFS (-6)\n"
           "  --tune SECONDS          key and send a steady 1500 Hz tone at the transmit level\n"
           "                          for this long, then end: set the rig's drive with it\n"
           "  --ptt KIND              how tonebox keys the transmitter (none):\n"
           "                            none                      VOX, or the sender keys\n"
           "                            rig:MODEL[:DEVICE[:BAUD]] a CAT command (Hamlib model)\n"
           "                            rigctld[:HOST:PORT]       a running rigctld\n"
           "                            serial:DEVICE:rts|dtr|both  a serial port's line(s)\n"
           "                            cm108:/dev/hidrawN[:GPIO] a USB sound interface's GPIO\n"
           "  --ptt-lead MS           keyed this long before the first sample is heard (150)\n"
           "  --ptt-tail MS           unkeyed this long after the last one (50)\n"
           "  --ptt-hold MS           while the sender is on, stay keyed this long after a\n"
           "                          frame string for the next one (1000)\n"
           "  --tx-timeout SECONDS    unkey after this long keyed, and key no more until the\n"
           "                          sender's next \"start\" (300)\n"
           "  --port N                listen for the sender on port N (998; 0: any free port)\n"
           "  --listen ADDRESS        listen on this address (127.0.0.1)\n"
           "  --rx-host HOST          the receiver's computer (127.0.0.1)\n"
           "  --rx-port N             the receiver's demodulator port (999)\n"
           "  --window                show the window: waterfall, levels, frames, settings\n"
           "                          (the desktop entry's way; window = true in the settings\n"
           "                          file opens it also when the sender starts tonebox)\n"
           "  --no-window             the terminal's status line, whatever the settings say\n"
           "  --input-file FILE       hear this recording (WAV) in real time instead of the\n"
           "                          sound card, then end: receive only\n"
           "  --verbose               a line for each modem frame, keying and timing\n"
           "  --write-config          write these settings to the settings file and end\n"
           "  --defaults              do not read the settings file\n"
           "  -h, --help              show this text\n"
           "\n"
           "The simulated radio channel, instead of a sound card (for tests and the demo):\n"
           "  --simulate              play the units out at 250 bytes/s through a simulated\n"
           "                          channel straight to the receiver's link\n"
           "  --speed X               X times faster than 250 bytes per second (1)\n"
           "  --loss P                fraction of units lost, 0..1 (0)\n"
           "  --byte-errors Q         chance that a byte of a delivered unit is damaged (0)\n"
           "  --burst LEN             mean length of a run of lost units; below 1 the losses\n"
           "                          are independent (0)\n"
           "  --burst-shape SHAPE     geometric or fixed burst lengths (geometric)\n"
           "  --seed S                seed of the channel: same seed, same losses (1)\n"
           "\n"
           "Settings: ~/.config/vistrel/tonebox.conf ($XDG_CONFIG_HOME/vistrel/ when that is\n"
           "set) is read at every start, so that a tonebox the sender starts without options\n"
           "runs as the station set it up. Its keys are the options' names without dashes\n"
           "(ptt = rigctld, tx-level = -10, receive = false); the command line wins over it.\n"
           "--write-config writes the settings a station sets once (devices, keying, levels,\n"
           "mode, ports) there.\n"
           "\n"
           "Commands on the sender's link: \"start\" (the sender is on), \"stop\" (unkeys at\n"
           "once and drops what is queued), \"exit\" (unkeys and ends tonebox).\n"
           "\n"
           "Ports below 1024 need privileges on Linux: the Debian package lets tonebox open\n"
           "998 (setcap cap_net_bind_service=+ep); otherwise run it with --port N and the\n"
           "sender with --tonebox-port N, and give the receiver's port with --rx-port.\n";
}

std::vector<std::string> listenFailureLines(const std::string& where, const std::string& reason,
                                            int port, bool permissionDenied,
                                            const std::string& program) {
    std::vector<std::string> lines{"cannot listen for the sender on " + where + ": " + reason};
    if (permissionDenied && port > 0 && port < 1024) {
        lines.insert(lines.end(),
                     {"ports below 1024 need privileges on Linux; either let tonebox open them "
                      "(once, as root):",
                      "    sudo setcap cap_net_bind_service=+ep " + program,
                      "or choose another port with --port N and give the sender the same "
                      "(pictx --tonebox-port N, vistrel send --tonebox-port N)"});
    }
    return lines;
}

}  // namespace tools
