#include "tools/tonebox.h"

#include <gtest/gtest.h>

#include <random>
#include <set>
#include <string>

#include "encoder/tests/seeded_bytes.h"

namespace tools {
namespace {

using encoder::kUnitBytes;
using encoder::Unit;

// A frame string of n' packets (frame format as the encoder builds it), with command words in
// its message and label so that a parser looking for them inside units would be caught.
std::vector<uint8_t> frameString(uint64_t seed, size_t codedBytes, uint16_t counter,
                                 std::string message = "start stop exit") {
    std::vector<uint8_t> coded = encoder::testing_support::seededBytes(seed, codedBytes);
    std::copy_n("ACMC", 4, coded.begin());
    encoder::FrameInput in;
    in.coded = coded;
    in.counter = counter;
    in.params = encoder::PictureParams{64, encoder::Wavelet::D4, 4, 4, 20};
    in.syndromes = 32;
    in.label = encoder::headerLabel("exit ", "start.png");
    in.message = std::move(message);
    encoder::FrameBuild built = encoder::buildFrame(in);
    EXPECT_EQ(built.error, encoder::FrameBuildError::None);
    return std::move(built.frame);
}

void append(std::vector<uint8_t>& stream, std::string_view text) {
    stream.insert(stream.end(), text.begin(), text.end());
}
void append(std::vector<uint8_t>& stream, const std::vector<uint8_t>& bytes) {
    stream.insert(stream.end(), bytes.begin(), bytes.end());
}

// Events written as text, one per line, so that a failure shows where two runs part.
std::string describe(const std::vector<StreamEvent>& events) {
    std::string s;
    for (const StreamEvent& e : events) {
        switch (e.kind) {
            case StreamEvent::Kind::Command:
                s += "command " + std::string(toneboxCommandText(e.command));
                break;
            case StreamEvent::Kind::Unit:
                s += "frame " + std::to_string(e.frame) + " ";
                s += e.unitKind == UnitKind::Header    ? "H"
                     : e.unitKind == UnitKind::Message ? "M"
                                                       : "P" + std::to_string(e.unit[0]);
                s += " " + std::to_string(std::hash<std::string_view>{}(std::string_view(
                               reinterpret_cast<const char*>(e.unit.data()), kUnitBytes)));
                break;
            case StreamEvent::Kind::Skipped:
                s += "skipped " + std::to_string(e.skipped);
                break;
        }
        s += "\n";
    }
    return s;
}

std::vector<StreamEvent> parseInPieces(const std::vector<uint8_t>& stream,
                                       const std::vector<size_t>& cuts) {
    StreamParser parser;
    std::vector<StreamEvent> out;
    size_t from = 0;
    auto take = [&](size_t to) {
        const auto got = parser.feed(std::span(stream).subspan(from, to - from));
        out.insert(out.end(), got.begin(), got.end());
        from = to;
    };
    for (const size_t c : cuts) take(c);
    take(stream.size());
    EXPECT_EQ(parser.pendingBytes(), 0u);
    return out;
}

// The whole session as pictx sends it: switch on, two frames, switch off and on, a frame,
// exit. What a whole-stream parse must find, and what every other cutting must find too.
struct Session {
    std::vector<uint8_t> stream;
    std::vector<uint8_t> frame1 = frameString(1, 400, 1);
    std::vector<uint8_t> frame2 = frameString(2, 300, 2, "");
    std::vector<uint8_t> frame3 = frameString(3, 350, 3);

    Session() {
        append(stream, "start");
        append(stream, frame1);
        append(stream, frame2);
        append(stream, "stop");
        append(stream, "start");
        append(stream, frame3);
        append(stream, "stop");
        append(stream, "exit");
    }
};

// ---- commands and frames on one stream ----

TEST(ToneboxParser, WholeSessionInOneRead) {
    const Session s;
    const std::vector<StreamEvent> events = parseInPieces(s.stream, {});
    std::vector<std::string> shape;
    std::vector<uint8_t> units1;
    std::vector<uint8_t> units3;
    size_t frame2Units = 0;
    for (const StreamEvent& e : events) {
        if (e.kind == StreamEvent::Kind::Command) {
            shape.emplace_back(toneboxCommandText(e.command));
        } else {
            ASSERT_EQ(e.kind, StreamEvent::Kind::Unit) << describe(events);
            const std::string tag = "frame " + std::to_string(e.frame);
            if (shape.empty() || shape.back() != tag) shape.push_back(tag);
            std::vector<uint8_t>& into = e.frame == 1 ? units1 : units3;
            if (e.frame == 2) {
                ++frame2Units;
            } else {
                into.insert(into.end(), e.unit.begin(), e.unit.end());
            }
        }
    }
    const std::vector<std::string> want{"start", "frame 1", "frame 2", "stop",
                                        "start", "frame 3", "stop",    "exit"};
    EXPECT_EQ(shape, want);
    EXPECT_EQ(units1, s.frame1);
    EXPECT_EQ(frame2Units, s.frame2.size() / kUnitBytes);
    EXPECT_EQ(units3, s.frame3);
}

TEST(ToneboxParser, SplitAtEveryOffset) {
    const Session s;
    const std::string whole = describe(parseInPieces(s.stream, {}));
    for (size_t cut = 0; cut <= s.stream.size(); ++cut) {
        const std::string got = describe(parseInPieces(s.stream, {cut}));
        ASSERT_EQ(got, whole) << "cut at " << cut;
    }
}

TEST(ToneboxParser, ByteAtATimeAndSeededChunks) {
    const Session s;
    const std::string whole = describe(parseInPieces(s.stream, {}));
    std::vector<size_t> everyByte;
    for (size_t i = 1; i < s.stream.size(); ++i) everyByte.push_back(i);
    EXPECT_EQ(describe(parseInPieces(s.stream, everyByte)), whole);
    for (const uint64_t seed : {5u, 6u, 7u, 8u}) {
        std::mt19937_64 random(seed);
        std::vector<size_t> cuts;
        for (size_t at = 0; at < s.stream.size();) {
            at = std::min(s.stream.size(), at + 1 + static_cast<size_t>(random() % 100));
            cuts.push_back(at);
        }
        EXPECT_EQ(describe(parseInPieces(s.stream, cuts)), whole) << "seed " << seed;
    }
}

TEST(ToneboxParser, PacketsNumberedLikeCommandLettersStayPackets) {
    // n' = 255: packets 101 ('e'), 109 ('m'), 115 ('s') and 255 (0xFF, like a header) all
    // occur, and "stop" follows the frame directly.
    std::vector<uint8_t> stream;
    const std::vector<uint8_t> frame = frameString(9, 8665, 4);
    append(stream, frame);
    append(stream, "stop");
    std::vector<size_t> cuts;
    for (size_t at = 1; at < stream.size(); at += 37) cuts.push_back(at);
    const std::vector<StreamEvent> events = parseInPieces(stream, cuts);
    std::set<int> packets;
    std::vector<uint8_t> units;
    for (size_t i = 0; i + 1 < events.size(); ++i) {
        ASSERT_EQ(events[i].kind, StreamEvent::Kind::Unit);
        EXPECT_EQ(events[i].frame, 1u);
        if (events[i].unitKind == UnitKind::Packet) packets.insert(events[i].unit[0]);
        units.insert(units.end(), events[i].unit.begin(), events[i].unit.end());
    }
    EXPECT_EQ(units, frame);
    EXPECT_EQ(packets.size(), 255u);
    EXPECT_TRUE(packets.contains('e') && packets.contains('s') && packets.contains(255));
    ASSERT_EQ(events.back().kind, StreamEvent::Kind::Command);
    EXPECT_EQ(events.back().command, ToneboxCommand::Stop);
}

TEST(ToneboxParser, StreamlessFrameOfHeadersAndMessages) {
    const std::vector<uint8_t> frame = frameString(10, 300, 0xFFFF, "hi");
    const std::vector<StreamEvent> events = parseInPieces(frame, {50, 100});
    ASSERT_EQ(events.size(), frame.size() / kUnitBytes);
    for (const StreamEvent& e : events) {
        EXPECT_NE(e.unitKind, UnitKind::Packet);
        EXPECT_EQ(e.frame, 1u);
    }
}

// ---- where frames begin ----

TEST(ToneboxParserFrames, ANewCounterStartsANewFrameAndACommandEndsOne) {
    std::vector<uint8_t> stream;
    const std::vector<uint8_t> a = frameString(11, 200, 5);
    append(stream, a);
    append(stream, a);  // the same frame again: one longer frame
    append(stream, frameString(12, 200, 6));
    append(stream, "stop");
    append(stream, a);  // after a command, even the same header starts a frame
    StreamParser parser;
    std::vector<uint64_t> frames;
    for (const StreamEvent& e : parser.feed(stream)) {
        if (e.kind == StreamEvent::Kind::Unit && (frames.empty() || frames.back() != e.frame)) {
            frames.push_back(e.frame);
        }
    }
    EXPECT_EQ(frames, (std::vector<uint64_t>{1, 2, 3}));
    EXPECT_EQ(parser.framesSeen(), 3u);
}

// ---- bytes that begin nothing ----

TEST(ToneboxParserResync, GarbageIsSkippedUpToTheNextCommandOrHeader) {
    std::vector<uint8_t> stream;
    append(stream, "xyz");
    append(stream, "start");
    // Packet-like bytes outside a frame are not taken for a packet.
    stream.push_back(7);
    stream.push_back(0x20);
    append(stream, "st");  // a command's start that turns out not to be one
    const std::vector<uint8_t> frame = frameString(13, 200, 1);
    append(stream, frame);
    const std::vector<StreamEvent> events = parseInPieces(stream, {4, 9});
    EXPECT_EQ(describe(events), describe(parseInPieces(stream, {})));
    ASSERT_GE(events.size(), 4u);
    EXPECT_EQ(events[0].kind, StreamEvent::Kind::Skipped);
    EXPECT_EQ(events[0].skipped, 3u);
    EXPECT_EQ(events[1].kind, StreamEvent::Kind::Command);
    EXPECT_EQ(events[2].kind, StreamEvent::Kind::Skipped);
    EXPECT_EQ(events[2].skipped, 4u);
    EXPECT_EQ(events.size(), 3 + frame.size() / kUnitBytes);
    EXPECT_EQ(events[3].unitKind, UnitKind::Header);
}

TEST(ToneboxParserResync, ConnectionEndDropsAPartialMessage) {
    const std::vector<uint8_t> frame = frameString(14, 200, 1);
    StreamParser parser;
    // Header and packet 1 whole, then half of the next unit.
    const std::vector<StreamEvent> first = parser.feed(std::span(frame).first(3 * 41 + 41 + 20));
    EXPECT_EQ(first.size(), 4u);
    const std::vector<StreamEvent> dropped = parser.reset();
    ASSERT_EQ(dropped.size(), 1u);
    EXPECT_EQ(dropped[0].skipped, 20u);
    // The next connection starts outside a frame: a packet (units 3 and 6 are packets 1 and
    // 2, after H H H and before H M) is not accepted before a header.
    EXPECT_TRUE(parser.feed(std::span(frame).subspan(6 * 41, 41)).empty());
    const std::vector<StreamEvent> next = parser.feed(std::span(frame).first(41));
    ASSERT_EQ(next.size(), 2u);
    EXPECT_EQ(next[0].kind, StreamEvent::Kind::Skipped);
    EXPECT_EQ(next[0].skipped, 41u);
    EXPECT_EQ(next[1].unitKind, UnitKind::Header);
}

// ---- the air clock ----

TEST(ToneboxPlayout, UnitsEndAt164MsIntervalsAt250BytesPerSecond) {
    Playout p(250.0);
    EXPECT_DOUBLE_EQ(p.unitMs(), 164.0);
    for (int i = 0; i < 3; ++i) p.push(PlayItem{}, 0.0);
    EXPECT_EQ(p.nextDueMs(), 164.0);
    EXPECT_TRUE(p.takeDue(163.9).empty());
    EXPECT_EQ(p.takeDue(164.0).size(), 1u);
    // A late call gets everything due, and the schedule does not slip.
    EXPECT_EQ(p.takeDue(400.0).size(), 1u);
    EXPECT_EQ(p.nextDueMs(), 492.0);
    EXPECT_EQ(p.takeDue(1000.0).size(), 1u);
    EXPECT_FALSE(p.nextDueMs().has_value());
}

TEST(ToneboxPlayout, IdleAirRestartsFromTheArrival) {
    Playout p(25000.0);  // --speed 100
    p.push(PlayItem{}, 0.0);
    EXPECT_EQ(p.takeDue(10.0).size(), 1u);
    p.push(PlayItem{}, 5000.0);
    EXPECT_DOUBLE_EQ(*p.nextDueMs(), 5001.64);
}

TEST(ToneboxPlayout, UnitsComeOutInOrderAndClearDropsTheRest) {
    Playout p(250.0);
    for (uint8_t i = 1; i <= 5; ++i) {
        PlayItem item;
        item.unit[0] = i;
        p.push(item, 0.0);
    }
    const std::vector<PlayItem> two = p.takeDue(2 * 164.0);
    ASSERT_EQ(two.size(), 2u);
    EXPECT_EQ(two[0].unit[0], 1);
    EXPECT_EQ(two[1].unit[0], 2);
    EXPECT_EQ(p.clear(), 3u);
    EXPECT_EQ(p.queued(), 0u);
}

// ---- the command line ----

TEST(ToneboxOptions, DefaultsAndTheWindowId) {
    const ToneboxArguments a = parseToneboxArguments({"1234567"});
    EXPECT_TRUE(a.error.empty());
    EXPECT_EQ(a.options.port, 998);
    EXPECT_EQ(a.options.rxPort, 999);
    EXPECT_EQ(a.options.listen, "127.0.0.1");
    EXPECT_EQ(a.options.rxHost, "127.0.0.1");
    EXPECT_EQ(a.options.speed, 1.0);
    EXPECT_EQ(a.options.channel.loss, 0.0);
    EXPECT_EQ(a.options.windowId, 1234567u);
    EXPECT_FALSE(a.options.help);
}

TEST(ToneboxOptions, EveryOptionInBothSpellings) {
    const ToneboxArguments a =
        parseToneboxArguments({"--simulate", "--port", "0", "--rx-port=5999", "--rx-host", "::1",
                               "--speed=100", "--loss", "0.25", "--byte-errors=0.001", "--burst",
                               "3", "--burst-shape", "fixed", "--seed=42", "--listen", "0.0.0.0"});
    ASSERT_TRUE(a.error.empty()) << a.error;
    EXPECT_EQ(a.options.port, 0);
    EXPECT_EQ(a.options.rxPort, 5999);
    EXPECT_EQ(a.options.rxHost, "::1");
    EXPECT_EQ(a.options.listen, "0.0.0.0");
    EXPECT_EQ(a.options.speed, 100.0);
    EXPECT_EQ(a.options.channel.loss, 0.25);
    EXPECT_EQ(a.options.channel.byteErrors, 0.001);
    EXPECT_EQ(a.options.channel.burstLength, 3.0);
    EXPECT_EQ(a.options.channel.shape, BurstShape::Fixed);
    EXPECT_EQ(a.options.channel.seed, 42u);
    EXPECT_FALSE(a.options.windowId.has_value());
    EXPECT_TRUE(parseToneboxArguments({"--help"}).options.help);
    EXPECT_TRUE(parseToneboxArguments({"-h"}).options.help);
}

TEST(ToneboxOptions, BadArgumentsAreNamed) {
    const std::vector<std::pair<std::vector<std::string_view>, std::string>> cases{
        {{"--port", "70000"}, "--port"},
        {{"--speed", "0"}, "--speed"},
        {{"--loss", "1.5"}, "--loss"},
        {{"--loss", "x"}, "--loss"},
        {{"--seed", "-1"}, "--seed"},
        {{"--volume", "3"}, "--volume"},
        {{"12", "13"}, "'13'"},
        {{"window"}, "'window'"},
        {{"--rx-port"}, "--rx-port"},
        {{"--burst-shape", "square"}, "--burst-shape"},
        {{"--mode", "fast"}, "--mode"},
        {{"--tx-level", "3"}, "--tx-level"},
        {{"--ptt", "vox"}, "rigctld"},
        {{"--ptt-lead", "-5"}, "--ptt-lead"},
        {{"--tx-timeout", "0"}, "--tx-timeout"},
        {{"--tune", "0"}, "--tune"},
    };
    for (const auto& [args, name] : cases) {
        const ToneboxArguments a = parseToneboxArguments(args);
        EXPECT_NE(a.error.find(name), std::string::npos) << name << ": '" << a.error << "'";
    }
    // Options that do not go together, also when the settings file set one of them.
    const auto clash = [](std::vector<std::string_view> args, std::string_view file) {
        ToneboxArguments a = parseToneboxArguments(args);
        EXPECT_TRUE(a.error.empty()) << a.error;
        (void)applyToneboxConfig(file, "f", a.given, a.options);
        return checkToneboxOptions(a.options, a.given);
    };
    EXPECT_NE(clash({"--loss", "0.1"}, "").find("--simulate"), std::string::npos);
    EXPECT_EQ(clash({"--loss", "0.1"}, "[tonebox]\nsimulate = true\n"), "");
    EXPECT_NE(clash({"--no-transmit"}, "[tonebox]\nreceive = false\n").find("nothing to do"),
              std::string::npos);
    EXPECT_NE(clash({"--no-transmit", "--tune", "3"}, "").find("--tune"), std::string::npos);
    EXPECT_EQ(clash({"--no-transmit", "--no-receive", "--list-devices"}, ""), "");
}

// ---- listening ----

TEST(ToneboxListen, RefusedLowPortNamesTheCapabilityAndTheMatchingOptions) {
    const std::vector<std::string> lines = listenFailureLines(
        "127.0.0.1:998", "The address is protected", 998, true, "/usr/bin/tonebox");
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0], "cannot listen for the sender on 127.0.0.1:998: The address is protected");
    EXPECT_EQ(lines[2], "    sudo setcap cap_net_bind_service=+ep /usr/bin/tonebox");
    EXPECT_NE(lines[3].find("--port N"), std::string::npos);
    EXPECT_NE(lines[3].find("pictx --tonebox-port N"), std::string::npos);
    // Any other failure is only what the system said: a busy port, or a refusal above 1023
    // that privileges would not cure.
    EXPECT_EQ(listenFailureLines("127.0.0.1:998", "in use", 998, false, "tonebox").size(), 1u);
    EXPECT_EQ(listenFailureLines("127.0.0.1:5000", "refused", 5000, true, "tonebox").size(), 1u);
}

}  // namespace
}  // namespace tools

namespace tools {
namespace {

// ---- the sound-card station's settings ----

TEST(ToneboxOptions, TheStationsOptions) {
    const ToneboxArguments a = parseToneboxArguments({"--mode",
                                                      "robust",
                                                      "--no-receive",
                                                      "--input-device",
                                                      "USB",
                                                      "--output-device=CODEC",
                                                      "--tx-level",
                                                      "-10.5",
                                                      "--ptt",
                                                      "rigctld:host:4533",
                                                      "--ptt-lead",
                                                      "300",
                                                      "--ptt-tail=80",
                                                      "--ptt-hold",
                                                      "0",
                                                      "--tx-timeout",
                                                      "120",
                                                      "--verbose",
                                                      "--tune",
                                                      "5"});
    ASSERT_TRUE(a.error.empty()) << a.error;
    const ToneboxOptions& o = a.options;
    EXPECT_EQ(o.mode, modem::Mode::Robust);
    EXPECT_TRUE(o.transmit);
    EXPECT_FALSE(o.receive);
    EXPECT_FALSE(o.simulate);
    EXPECT_EQ(o.inputDevice, "USB");
    EXPECT_EQ(o.outputDevice, "CODEC");
    EXPECT_EQ(o.txLevelDb, -10.5);
    EXPECT_EQ(o.ptt.kind, PttSetting::Kind::Rigctld);
    EXPECT_EQ(o.ptt.device, "host:4533");
    EXPECT_EQ(o.pttLeadMs, 300);
    EXPECT_EQ(o.pttTailMs, 80);
    EXPECT_EQ(o.pttHoldMs, 0);
    EXPECT_EQ(o.txTimeoutS, 120);
    EXPECT_EQ(o.tuneSeconds, 5.0);
    EXPECT_TRUE(o.verbose);
    EXPECT_TRUE(a.given.contains("--ptt"));
    EXPECT_FALSE(a.given.contains("--port"));
    // The defaults a station starts from.
    const ToneboxOptions d = parseToneboxArguments({}).options;
    EXPECT_EQ(d.ptt.kind, PttSetting::Kind::None);
    EXPECT_EQ(d.pttLeadMs, 150);
    EXPECT_EQ(d.pttTailMs, 50);
    EXPECT_EQ(d.txTimeoutS, 300);
    EXPECT_EQ(d.txLevelDb, -6.0);
    EXPECT_TRUE(d.transmit && d.receive && !d.simulate);
}

// What --write-config writes is read back to the same settings, and the command line wins.
TEST(ToneboxConfig, WrittenSettingsReadBackAndTheCommandLineWins) {
    ToneboxArguments set =
        parseToneboxArguments({"--mode", "robust", "--input-device", "USB Audio CODEC: - (hw:1,0)",
                               "--ptt", "serial:/dev/ttyUSB0:both", "--tx-level", "-9", "--port",
                               "7998", "--rx-port", "7999", "--ptt-tail", "70", "--no-receive"});
    ASSERT_TRUE(set.error.empty()) << set.error;
    const std::string text = toneboxConfigText(set.options);

    ToneboxOptions read;
    EXPECT_TRUE(applyToneboxConfig(text, "tonebox.conf", {}, read).empty());
    EXPECT_EQ(toneboxConfigText(read), text);
    EXPECT_EQ(read.inputDevice, "USB Audio CODEC: - (hw:1,0)");
    EXPECT_EQ(read.ptt.lines, PttSetting::Lines::Both);
    EXPECT_FALSE(read.receive);

    // Given on the command line: --mode normal and --port stay as given.
    ToneboxArguments cmd = parseToneboxArguments({"--mode", "normal", "--port", "1998"});
    EXPECT_TRUE(applyToneboxConfig(text, "tonebox.conf", cmd.given, cmd.options).empty());
    EXPECT_EQ(cmd.options.mode, modem::Mode::Normal);
    EXPECT_EQ(cmd.options.port, 1998);
    EXPECT_EQ(cmd.options.rxPort, 7999);  // from the file
    EXPECT_EQ(cmd.options.txLevelDb, -9.0);
}

// Every line that is not used is named with its number; the rest of the file still counts,
// and a refused value leaves the built-in setting (never a half-set one).
TEST(ToneboxConfig, BadLinesAreNamedAndTheRestIsRead) {
    const std::string text =
        "# a comment\n"
        "[tonebox]\n"
        "ptt = bogus\n"
        "colour = red\n"
        "tx-level = 3\n"
        "mode = robust\n"
        "just words\n"
        "receive = maybe\n"
        "transmit = false\n"
        "[pictx]\n"
        "callsign = G4ABC\n";
    ToneboxOptions o;
    const std::vector<std::string> problems = applyToneboxConfig(text, "t.conf", {}, o);
    ASSERT_EQ(problems.size(), 7u);
    EXPECT_NE(problems[0].find("t.conf:3: ptt = bogus"), std::string::npos) << problems[0];
    EXPECT_NE(problems[1].find("t.conf:4: unknown setting 'colour'"), std::string::npos);
    EXPECT_NE(problems[2].find("t.conf:5: tx-level = 3"), std::string::npos);
    EXPECT_NE(problems[3].find("t.conf:7:"), std::string::npos);
    EXPECT_NE(problems[4].find("t.conf:8: receive = maybe"), std::string::npos);
    EXPECT_NE(problems[5].find("t.conf:10: section [pictx]"), std::string::npos);
    EXPECT_NE(problems[6].find("t.conf:11:"), std::string::npos);
    EXPECT_EQ(o.ptt.kind, PttSetting::Kind::None);  // nothing keys on a bad line
    EXPECT_EQ(o.txLevelDb, -6.0);
    EXPECT_EQ(o.mode, modem::Mode::Robust);
    EXPECT_TRUE(o.receive);
    EXPECT_FALSE(o.transmit);
    // Lines outside any section, and a file of another program.
    ToneboxOptions other;
    EXPECT_EQ(applyToneboxConfig("mode = robust\n", "x", {}, other).size(), 1u);
    EXPECT_EQ(other.mode, modem::Mode::Normal);
}

// The window: asked for on the command line or in the file, where --no-window wins; a
// recording instead of the card, and what does not go with either.
TEST(ToneboxConfig, TheWindowAndARecording) {
    ToneboxOptions fromFile;
    EXPECT_TRUE(applyToneboxConfig("[tonebox]\nwindow = true\n", "t", {}, fromFile).empty());
    EXPECT_TRUE(fromFile.window);
    EXPECT_NE(toneboxConfigText(fromFile).find("window = true"), std::string::npos);
    ToneboxArguments no = parseToneboxArguments({"--no-window"});
    EXPECT_TRUE(
        applyToneboxConfig("[tonebox]\nwindow = true\n", "t", no.given, no.options).empty());
    EXPECT_FALSE(no.options.window);

    ToneboxArguments file = parseToneboxArguments({"--input-file", "heard.wav", "--window"});
    ASSERT_TRUE(file.error.empty()) << file.error;
    EXPECT_EQ(file.options.inputFile, "heard.wav");
    EXPECT_EQ(checkToneboxOptions(file.options, file.given), "");
    for (const std::vector<std::string_view>& clash :
         {std::vector<std::string_view>{"--input-file", "a.wav", "--no-receive"},
          {"--input-file", "a.wav", "--tune", "5"},
          {"--input-file", "a.wav", "--simulate"},
          {"--window", "--simulate"}}) {
        const ToneboxArguments a = parseToneboxArguments(clash);
        ASSERT_TRUE(a.error.empty()) << a.error;
        EXPECT_NE(checkToneboxOptions(a.options, a.given), "") << clash[0] << " " << clash.back();
    }
    // The file's window = true does not stop a simulated channel from starting.
    ToneboxArguments sim = parseToneboxArguments({"--simulate"});
    ASSERT_TRUE(
        applyToneboxConfig("[tonebox]\nwindow = true\n", "t", sim.given, sim.options).empty());
    EXPECT_EQ(checkToneboxOptions(sim.options, sim.given), "");
    EXPECT_NE(parseToneboxArguments({"--input-file", ""}).error, "");
    EXPECT_NE(parseToneboxArguments({"--listen", ""}).error, "");
}

// The settings dialog's fields: each checked as on the command line, then together, and the
// first refused one named.
TEST(ToneboxSettingsFields, CheckedOneByOneThenTogether) {
    std::vector<SoundDeviceInfo> devices(2);
    devices[0].name = "USB Audio CODEC";
    devices[0].inputs = devices[0].outputs = 1;
    devices[1].name = "USB Headset";
    devices[1].outputs = 2;
    const SettingsCheck good = checkSettingsFields(
        ToneboxOptions{},
        {{"--ptt", "rigctld"}, {"--tx-level", "-10"}, {"--input-device", "codec"}}, devices);
    EXPECT_EQ(good.error, "");
    EXPECT_EQ(good.options.ptt.kind, PttSetting::Kind::Rigctld);
    EXPECT_EQ(good.options.txLevelDb, -10.0);
    EXPECT_EQ(good.options.inputDevice, "codec");

    const SettingsCheck level =
        checkSettingsFields(ToneboxOptions{}, {{"--ptt", "rigctld"}, {"--tx-level", "3"}}, devices);
    EXPECT_EQ(level.option, "--tx-level");
    EXPECT_NE(level.error.find("-60"), std::string::npos) << level.error;
    const SettingsCheck twoMatch =
        checkSettingsFields(ToneboxOptions{}, {{"--output-device", "usb"}}, devices);
    EXPECT_EQ(twoMatch.option, "--output-device");
    EXPECT_NE(twoMatch.error.find("more than one"), std::string::npos) << twoMatch.error;
    // Without a list to choose from (no sound system), a name is taken as it is.
    EXPECT_EQ(checkSettingsFields(ToneboxOptions{}, {{"--output-device", "usb"}}, {}).error, "");
    ToneboxOptions off;
    off.transmit = off.receive = false;
    EXPECT_NE(checkSettingsFields(off, {}, devices).error, "");
}

TEST(ToneboxDevices, ChosenByNameOrPartOfItElseTheChoicesAreNamed) {
    const auto device = [](int index, std::string name, int inputs, int outputs) {
        SoundDeviceInfo d;
        d.index = index;
        d.name = std::move(name);
        d.inputs = inputs;
        d.outputs = outputs;
        d.defaultInput = d.defaultOutput = d.name == "default";
        return d;
    };
    const std::vector<SoundDeviceInfo> devices{
        device(0, "HDA Intel PCH: ALC257 Analog (hw:0,0)", 2, 2),
        device(1, "USB Audio CODEC: - (hw:1,0)", 1, 2),
        device(2, "pulse", 32, 32),
        device(3, "default", 32, 32),
        device(4, "HDMI 0 (hw:0,3)", 0, 8),
    };
    EXPECT_EQ(chooseSoundDevice(devices, "", true).index, 3);
    EXPECT_EQ(chooseSoundDevice(devices, "usb audio", false).index, 1);  // any case
    EXPECT_EQ(chooseSoundDevice(devices, "pulse", true).index, 2);
    // A whole name wins over the names that contain it.
    EXPECT_EQ(chooseSoundDevice(devices, "default", true).index, 3);
    // An output-only device is no input.
    const DeviceChoice hdmi = chooseSoundDevice(devices, "HDMI", true);
    EXPECT_EQ(hdmi.index, -1);
    EXPECT_NE(hdmi.error.find("no sound input device matches 'HDMI'"), std::string::npos);
    EXPECT_NE(hdmi.error.find("'USB Audio CODEC: - (hw:1,0)'"), std::string::npos);
    const DeviceChoice several = chooseSoundDevice(devices, "hw:", false);
    EXPECT_EQ(several.index, -1);
    EXPECT_NE(several.error.find("more than one"), std::string::npos) << several.error;
    EXPECT_NE(several.error.find("'HDMI 0 (hw:0,3)'"), std::string::npos);
    EXPECT_EQ(chooseSoundDevice({}, "", false).error, "no sound output devices");
}

// ---- whole frame strings for the modem's queue ----

std::vector<std::vector<Unit>> stringsOf(const std::vector<uint8_t>& stream, bool flushAtEnd) {
    StreamParser parser;
    FrameStrings strings;
    std::vector<std::vector<Unit>> out;
    for (const StreamEvent& e : parser.feed(stream)) {
        for (auto& s : strings.add(e)) out.push_back(std::move(s));
    }
    if (flushAtEnd && strings.pendingUnits() > 0) out.push_back(strings.flush());
    return out;
}

TEST(ToneboxFrameStrings, CompleteWhenTheHeaderSaysSoWithOrWithoutAMessage) {
    const std::vector<uint8_t> withMessage = frameString(1, 400, 1);
    const std::vector<uint8_t> without = frameString(2, 300, 2, "");
    const std::vector<uint8_t> tiny = frameString(3, 10, 3, "");
    for (const auto* frame : {&withMessage, &without}) {
        // Complete with its last unit: nothing waits for the next frame or a pause.
        const auto got = stringsOf(*frame, false);
        ASSERT_EQ(got.size(), 1u);
        EXPECT_EQ(got[0].size() * kUnitBytes, frame->size());
    }
    // Back to back, each whole; a command ends a string the sender cut short.
    std::vector<uint8_t> stream = withMessage;
    append(stream, without);
    append(stream, std::vector<uint8_t>(withMessage.begin(), withMessage.begin() + 10 * 41));
    append(stream, "stop");
    append(stream, tiny);
    const auto got = stringsOf(stream, true);
    ASSERT_EQ(got.size(), 4u);
    EXPECT_EQ(got[0].size() * kUnitBytes, withMessage.size());
    EXPECT_EQ(got[1].size() * kUnitBytes, without.size());
    EXPECT_EQ(got[2].size(), 10u);
    EXPECT_EQ(got[3].size() * kUnitBytes, tiny.size());
}

}  // namespace
}  // namespace tools
