#include "tools/tonebox.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdio>

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
        } else if (i + 1 < args.size()) {
            value = args[++i];
        }
        const std::string n(name);
        if (!value) {
            fail(n + " needs a value");
            break;
        }
        const std::string_view v = *value;
        auto integer = [&](int low, int high, int& into) {
            int x = 0;
            if (!parseNumber(v, x) || x < low || x > high) {
                fail(n + " takes a whole number from " + std::to_string(low) + " to " +
                     std::to_string(high));
            } else {
                into = x;
            }
        };
        auto real = [&](double low, double high, bool lowOpen, double& into) {
            double x = 0;
            if (!parseNumber(v, x) || x > high || x < low || (lowOpen && x == low)) {
                fail(n + " takes a number " + (lowOpen ? "above " : "from ") + shortNumber(low) +
                     " to " + shortNumber(high));
            } else {
                into = x;
            }
        };
        if (name == "--port") {
            integer(0, 65535, o.port);
        } else if (name == "--listen") {
            o.listen = std::string(v);
        } else if (name == "--rx-host") {
            o.rxHost = std::string(v);
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
                fail("--burst-shape takes geometric or fixed");
            }
        } else if (name == "--seed") {
            if (!parseNumber(v, o.channel.seed)) fail("--seed takes a whole number");
        } else {
            fail("unknown option " + n);
        }
    }
    return result;
}

std::string_view toneboxUsage() {
    return "Usage: tonebox [WINDOW_ID] [options]\n"
           "\n"
           "Modulator stand-in: takes commands and frame strings from the sender on a TCP\n"
           "port, plays each frame's 41-byte units out at the air rate through a simulated\n"
           "radio channel, and writes every unit that arrives to the receiver's demodulator\n"
           "link, one write per unit. Ends when the sender says \"exit\".\n"
           "\n"
           "  WINDOW_ID               the sender's window, a decimal number; not used\n"
           "  --port N                listen for the sender on port N (998; 0: any free port)\n"
           "  --listen ADDRESS        listen on this address (127.0.0.1)\n"
           "  --rx-host HOST          the receiver's computer (127.0.0.1)\n"
           "  --rx-port N             the receiver's demodulator port (999)\n"
           "  --speed X               play X times faster than 250 bytes per second (1)\n"
           "  --loss P                fraction of units lost, 0..1 (0)\n"
           "  --byte-errors Q         chance that a byte of a delivered unit is damaged (0)\n"
           "  --burst LEN             mean length of a run of lost units; below 1 the losses\n"
           "                          are independent (0)\n"
           "  --burst-shape SHAPE     geometric or fixed burst lengths (geometric)\n"
           "  --seed S                seed of the channel: same seed, same losses (1)\n"
           "  -h, --help              show this text\n"
           "\n"
           "Commands on the sender's link: \"start\" keys the transmitter, \"stop\" unkeys it\n"
           "(units played while unkeyed go nowhere), \"exit\" ends tonebox.\n"
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
