#pragma once

// tonebox, the sound-card modem: the testable parts. Pure core: the stream parser, the
// simulated air clock, the options and the settings file, the choice of sound device and the
// listen failure's lines; tonebox_main.cpp and station.cpp are the shell with the sockets, the
// sound card and the timers.
//
// The sender's stream (TCP, port 998) carries two kinds of message, back to back with nothing
// between them:
//   commands   "start" (5 bytes), "stop" (4), "exit" (4): bare ASCII, no line end
//   frames     a whole number of 41-byte units, the first a header block (0xFF "header")
// Nothing says where a frame ends. The parser therefore reads the stream unit by unit, telling
// every message by how it begins:
//   0xFF "header"              header block: always accepted; starts a frame
//   "msg"                      message block: inside a frame only
//   n, then 0x00 (n = 1)       packet n: inside a frame only. A packet's first stream byte
//   n, then 0x20 (n = 2..255)  holds no codeword symbol and is always one of these two
//   "start", "stop", "exit"    command: ends the frame before it
// None of these begins like another: a packet numbered 's' (115) or 'e' (101) has 0x20 where
// a command has 't' or 'x', packet 255 has 0x20 where a header has 'h', and packet 109 ('m')
// has 0x20 where a message block has 's'. Once a unit's start is recognised its 41 bytes are
// taken whole, so command letters inside a unit are never taken for a command.
//
// Ambiguities and how they are settled:
// - Where one frame ends and the next begins: a header block that differs from the frame's
//   own header (every header block of one frame is the same; the next frame's carries another
//   counter), or a command, starts a new frame. A frame sent twice in a row with the same
//   counter therefore counts as one longer frame; the units are played all the same.
// - A byte that starts nothing (a sender that cut a unit short): it is skipped, and so is
//   everything up to the next command or header block, since outside a frame a packet's two
//   signature bytes are too weak to find one's start. While skipping, command words in a
//   message block or a header's label can be taken for commands. pictx never cuts a unit: a
//   send that runs out of time stops on a unit boundary.
// - The end of the connection with part of a message pending: the part is dropped.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "encoder/frame_format.h"
#include "modem/waveform.h"
#include "tools/channel.h"
#include "tools/ptt.h"

namespace tools {

enum class ToneboxCommand { Start, Stop, Exit };
enum class UnitKind { Header, Message, Packet };

[[nodiscard]] std::string_view toneboxCommandText(ToneboxCommand command);

struct StreamEvent {
    enum class Kind { Command, Unit, Skipped };
    Kind kind = Kind::Unit;
    ToneboxCommand command = ToneboxCommand::Start;  // Kind::Command
    encoder::Unit unit{};                            // Kind::Unit
    UnitKind unitKind = UnitKind::Header;            // Kind::Unit
    uint64_t frame = 0;  // Kind::Unit: the frame it belongs to, counted from 1 in this run
    size_t skipped = 0;  // Kind::Skipped: a run of bytes that began no message
};

class StreamParser {
public:
    // Takes any chunk of the stream (including an empty one) and returns the messages it
    // completes, in stream order. However the stream is cut into chunks, the events are the
    // same: a run of skipped bytes is reported whole, when the next message begins.
    [[nodiscard]] std::vector<StreamEvent> feed(std::span<const uint8_t> bytes);
    // The connection ended: drops a partial message (returned as skipped bytes, if any) and
    // starts the next connection outside a frame. Frames go on being counted.
    [[nodiscard]] std::vector<StreamEvent> reset();

    [[nodiscard]] size_t pendingBytes() const { return pending_.size(); }  // 0..40
    [[nodiscard]] uint64_t framesSeen() const { return frames_; }

private:
    void flushSkipped(std::vector<StreamEvent>& out);

    size_t skipped_ = 0;            // bytes of the current run that began no message
    std::vector<uint8_t> pending_;  // the start of the next message, not yet decided
    bool inFrame_ = false;
    encoder::Unit frameHeader_{};
    bool haveHeader_ = false;
    uint64_t frames_ = 0;
};

// The air clock: units play one after the other at bytesPerSecond; a unit is on the air from
// the moment the one before it ends, or from its arrival when the air was idle. Times are
// milliseconds on any clock the caller keeps.
struct PlayItem {
    encoder::Unit unit{};
    UnitKind kind = UnitKind::Packet;
    uint64_t frame = 0;
};

class Playout {
public:
    explicit Playout(double bytesPerSecond) : bytesPerSecond_(bytesPerSecond) {}

    void push(const PlayItem& item, double nowMs);
    // The units whose air time has ended by nowMs, in order; they leave the queue.
    [[nodiscard]] std::vector<PlayItem> takeDue(double nowMs);
    // When the unit at the front ends; nullopt with nothing queued.
    [[nodiscard]] std::optional<double> nextDueMs() const;
    // Forgets the queue (the sender said "exit"); returns how many units were dropped.
    size_t clear();

    [[nodiscard]] size_t queued() const { return queue_.size(); }
    [[nodiscard]] double unitMs() const { return encoder::kUnitBytes * 1000.0 / bytesPerSecond_; }

private:
    double bytesPerSecond_;
    std::deque<PlayItem> queue_;
    double headEndsMs_ = 0;  // end of the front unit's air time
};

// Whole frame strings from the parser's units, for the modem's queue, which sends a string
// whole or not at all. A string is complete when it has as many units as its header block
// promises (the packet count n' = 2t + r, and whether a message block follows packet 0); a
// string the sender cut short ends where the next frame, a command or the link's end begins.
class FrameStrings {
public:
    // Takes every event the parser gives, in order; returns the strings completed with it
    // (a command or another frame's unit completes the string before it).
    [[nodiscard]] std::vector<std::vector<encoder::Unit>> add(const StreamEvent& event);
    // What has begun, as it is (the link ended, or the stream paused); empty when nothing.
    [[nodiscard]] std::vector<encoder::Unit> flush();
    [[nodiscard]] size_t pendingUnits() const { return units_.size(); }

private:
    [[nodiscard]] bool complete() const;

    uint64_t frame_ = 0;
    std::vector<encoder::Unit> units_;
    int packets_ = 0;  // n' from the header; 0: no header seen
    bool streamless_ = false;
    bool message_ = false;
};

inline constexpr int kSenderPort = 998;    // where tonebox listens for pictx
inline constexpr int kReceiverPort = 999;  // where picrx listens for the demodulator
inline constexpr double kAirBytesPerSecond = 250.0;
inline constexpr int kReconnectMs = 500;  // between attempts to reach the receiver

struct ToneboxOptions {
    int port = kSenderPort;            // 0 takes a free port and prints it
    std::string listen = "127.0.0.1";  // address to listen on for the sender
    std::string rxHost = "127.0.0.1";  // the receiver's demodulator link
    int rxPort = kReceiverPort;
    bool help = false;
    std::optional<uint64_t> windowId;  // the sender's window, accepted and not used

    // The simulated channel instead of a sound card.
    bool simulate = false;
    double speed = 1.0;       // multiplies the 250 bytes per second, > 0
    ChannelSettings channel;  // --loss, --byte-errors, --burst, --seed

    // The sound card modem.
    bool transmit = true;  // --no-transmit: no sender port, nothing played
    bool receive = true;   // --no-receive: nothing recorded, no receiver link
    modem::Mode mode = modem::Mode::Normal;
    std::string inputDevice;   // part of a device's name; empty: the system's default
    std::string outputDevice;  // the same
    double txLevelDb = -6.0;   // the transmission's peak, dBFS
    double tuneSeconds = 0;    // > 0: send a steady tone this long, then end
    PttSetting ptt;            // none: VOX, or the sender keys by its serial port
    int pttLeadMs = 150;
    int pttTailMs = 50;
    int pttHoldMs = 1000;  // keyed this long after a frame string for the next one
    int txTimeoutS = 300;

    // A recording played in real time instead of the sound card's input (receive only); the
    // station ends when it is over. inputPace > 1 plays it faster (tests, screenshots).
    std::string inputFile;
    double inputPace = 1.0;

    bool window = false;    // the window instead of the terminal's status line
    bool endOnExit = true;  // the sender's "exit" ends tonebox (a window stays open)

    bool listDevices = false;
    bool writeConfig = false;
    bool verbose = false;
    bool defaults = false;  // do not read the settings file
};

struct ToneboxArguments {
    ToneboxOptions options;
    std::string error;            // empty when the arguments are good
    std::set<std::string> given;  // the options the command line gave, e.g. "--ptt"
};

// Each option on its own; how they go together is checkToneboxOptions' business, once the
// settings file has been read too.
[[nodiscard]] ToneboxArguments parseToneboxArguments(const std::vector<std::string_view>& args);
// Options that do not go together (given: what the command line gave): empty, or why.
[[nodiscard]] std::string checkToneboxOptions(const ToneboxOptions& o,
                                              const std::set<std::string>& given);
// Sets one option that takes a value ("--ptt", "rig:1"); empty, or why the value is refused
// (and the option is left as it was).
[[nodiscard]] std::string applyToneboxOption(ToneboxOptions& o, std::string_view name,
                                             std::string_view value);

// The settings file, ~/.config/vistrel/tonebox.conf (under $XDG_CONFIG_HOME when that is
// set): a [tonebox] section of "key = value" lines, a key being an option's name without its
// dashes (ptt = rigctld, tx-level = -10) and on/off settings taking true or false (receive =
// false). Applies the file's text to o, skipping what the command line gave; returns one line
// for each line of the file that was not used, naming it (FILE:LINE: ...), and why.
[[nodiscard]] std::vector<std::string> applyToneboxConfig(std::string_view text,
                                                          const std::string& fileName,
                                                          const std::set<std::string>& given,
                                                          ToneboxOptions& o);
// The settings a station sets once, as the file's text.
[[nodiscard]] std::string toneboxConfigText(const ToneboxOptions& o);
[[nodiscard]] std::string toneboxConfigPath();
// Writes the options' settings to the file (its folder made when missing) in one piece: empty,
// or why not.
[[nodiscard]] std::string writeToneboxConfig(const std::string& path, const ToneboxOptions& o);

// A sound device as PortAudio lists it.
struct SoundDeviceInfo {
    int index = -1;
    std::string name;
    std::string hostApi;
    int inputs = 0;  // channels
    int outputs = 0;
    double defaultRate = 0;
    bool defaultInput = false;
    bool defaultOutput = false;
};
struct DeviceChoice {
    int index = -1;  // -1: none, see error
    std::string name;
    std::string error;
};
// The device whose name is wanted (any case), else the one whose name contains it; the
// system's default for an empty wanted. None or several: an error naming the choices.
[[nodiscard]] DeviceChoice chooseSoundDevice(const std::vector<SoundDeviceInfo>& devices,
                                             std::string_view wanted, bool input);

// The settings dialog's fields, each an option and the text typed for it.
struct SettingsField {
    std::string option;  // "--ptt"
    std::string value;
};
struct SettingsCheck {
    ToneboxOptions options;
    std::string error;   // empty: all taken
    std::string option;  // the field refused
};
// The fields applied over base, each checked as on the command line, then together; a device
// name must choose one of devices (when there is a list to choose from).
[[nodiscard]] SettingsCheck checkSettingsFields(const ToneboxOptions& base,
                                                const std::vector<SettingsField>& fields,
                                                const std::vector<SoundDeviceInfo>& devices);

[[nodiscard]] std::string_view toneboxUsage();

// Why tonebox cannot listen for the sender, one line each: where and the system's reason, then
// for a port below 1024 that the system refused (permissionDenied) the two ways out, the
// setcap command for program (tonebox's own file) and --port with the sender's same option.
[[nodiscard]] std::vector<std::string> listenFailureLines(const std::string& where,
                                                          const std::string& reason, int port,
                                                          bool permissionDenied,
                                                          const std::string& program);

}  // namespace tools
