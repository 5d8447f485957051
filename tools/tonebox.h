#pragma once

// tonebox, the modulator stand-in: the testable parts. Pure core: the stream parser, the air
// clock, the option reader and the listen failure's lines; tonebox_main.cpp is the shell with
// the sockets and timers.
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
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "encoder/frame_format.h"
#include "tools/channel.h"

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

inline constexpr int kSenderPort = 998;    // where tonebox listens for pictx
inline constexpr int kReceiverPort = 999;  // where picrx listens for the demodulator
inline constexpr double kAirBytesPerSecond = 250.0;
inline constexpr int kReconnectMs = 500;  // between attempts to reach the receiver

struct ToneboxOptions {
    int port = kSenderPort;            // 0 takes a free port and prints it
    std::string listen = "127.0.0.1";  // address to listen on for the sender
    std::string rxHost = "127.0.0.1";  // the receiver's demodulator link
    int rxPort = kReceiverPort;
    double speed = 1.0;       // multiplies the 250 bytes per second, > 0
    ChannelSettings channel;  // --loss, --byte-errors, --burst, --seed
    bool help = false;
    std::optional<uint64_t> windowId;  // the sender's window, accepted and not used
};

struct ToneboxArguments {
    ToneboxOptions options;
    std::string error;  // empty when the arguments are good
};

[[nodiscard]] ToneboxArguments parseToneboxArguments(const std::vector<std::string_view>& args);
[[nodiscard]] std::string_view toneboxUsage();

// Why tonebox cannot listen for the sender, one line each: where and the system's reason, then
// for a port below 1024 that the system refused (permissionDenied) the two ways out, the
// setcap command for program (tonebox's own file) and --port with the sender's same option.
[[nodiscard]] std::vector<std::string> listenFailureLines(const std::string& where,
                                                          const std::string& reason, int port,
                                                          bool permissionDenied,
                                                          const std::string& program);

}  // namespace tools
