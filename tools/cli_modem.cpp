// vistrel modulate, demodulate and modem-sweep: the modem core on WAV files and on the
// simulated HF channel.

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <random>
#include <set>
#include <string>

#include "encoder/encode_frame.h"
#include "encoder/frame_format.h"
#include "encoder/test_pictures.h"
#include "modem/demodulator.h"
#include "modem/hf_channel.h"
#include "modem/modulator.h"
#include "modem/resample.h"
#include "receiver/receive_packet.h"
#include "tools/audio_file.h"
#include "tools/cli.h"
#include "tools/file_io.h"

namespace tools {

namespace {

std::optional<modem::Mode> modeOption(Options& opts) {
    const int choice = opts.choice("mode", {"normal", "robust"}, -1);
    if (choice < 0) return std::nullopt;
    return static_cast<modem::Mode>(choice);
}

void printFrame(const modem::FrameStats& f) {
    std::fprintf(stderr,
                 "modem frame at %.2f s: %s, %d unit%s, %d good, %d dropped; SNR %.1f dB, "
                 "offset %+.1f Hz, clock %+.0f ppm\n",
                 double(f.startSample) / modem::kSampleRate, modem::modeName(f.mode), f.units,
                 f.units == 1 ? "" : "s", f.unitsGood, f.unitsDropped, f.snrDb, f.offsetHz,
                 f.clockPpm);
}

bool knownPicture(const std::vector<encoder::Picture>& pictures, const encoder::Picture& p) {
    return std::any_of(pictures.begin(), pictures.end(), [&](const encoder::Picture& q) {
        return q.size == p.size && q.pixels == p.pixels;
    });
}

// The test card's frames as a sending station sends them, timed sends with the counter
// advancing: the start-up settings (64 x 64, syndromes 32), every frame's units back to back.
struct PictureLoad {
    std::vector<modem::Unit> units;
    std::vector<encoder::Picture> previews;  // what a receiver decodes, each different one once
};

std::optional<PictureLoad> testCardFrames(int frames) {
    encoder::EncoderSettings settings;
    settings.sourceKind = encoder::SourceKind::Still;
    settings.sourcePath = "testcard.png";
    settings.transmit = true;
    encoder::EncoderState state;
    const encoder::SourcePicture source = encoder::testCard();
    PictureLoad load;
    for (int f = 0; f < frames; ++f) {
        const encoder::EncodeResult sent =
            encoder::ENCODEFRAME(settings, source, state, encoder::kEncodeSend);
        if (sent.error != encoder::EncodeError::None) return std::nullopt;
        for (size_t at = 0; at + modem::kUnitBytes <= sent.frame.size(); at += modem::kUnitBytes) {
            modem::Unit unit;
            std::copy_n(sent.frame.begin() + static_cast<std::ptrdiff_t>(at), modem::kUnitBytes,
                        unit.begin());
            load.units.push_back(unit);
        }
        if (!knownPicture(load.previews, sent.preview)) load.previews.push_back(sent.preview);
    }
    return load;
}

struct PictureTally {
    int good = 0;   // frames the receiver decoded to the sender's picture
    int wrong = 0;  // frames it decoded to another picture
};

// The demodulated units through the receiver core as picrx runs it: a frame ends at the next
// frame's header or, as the receiver's idle timer has it, when no unit came for
// receiver::kFrameIdleMs of audio (the units of a modem frame arrive at its end).
PictureTally receivePictures(const modem::DemodOutput& out,
                             const std::vector<encoder::Picture>& previews) {
    receiver::ReceiverState state;
    PictureTally tally;
    const auto take = [&](const receiver::ReceiveUpdate& update) {
        if (update.decode != receiver::DecodeOutcome::Good) return;
        if (update.picture && !knownPicture(previews, update.picture->picture)) {
            ++tally.wrong;
        } else {
            ++tally.good;
        }
    };
    constexpr int64_t kIdleSamples = int64_t{receiver::kFrameIdleMs} * modem::kSampleRate / 1000;
    size_t next = 0;
    std::optional<int64_t> lastArrival;
    for (const modem::FrameStats& frame : out.frames) {
        if (frame.unitsGood == 0) continue;
        if (lastArrival && frame.endSample - *lastArrival > kIdleSamples) {
            take(receiver::finishFrame(state));
        }
        for (int i = 0; i < frame.unitsGood && next < out.units.size(); ++i) {
            take(receiver::RECEIVEPACKET(state, out.units[next++]));
        }
        lastArrival = frame.endSample;
    }
    take(receiver::finishFrame(state));
    return tally;
}

}  // namespace

int runModulate(const std::vector<std::string_view>& args) {
    constexpr std::string_view kCommand = "modulate";
    Options opts(kCommand, args, {"output", "mode", "rate"}, {});
    const std::optional<modem::Mode> mode = modeOption(opts);
    const int rate = opts.integer("rate", 8000, 192000, 48000);
    const std::optional<std::string> outPath = opts.value("output");
    if (opts.ok() && opts.positional().empty()) opts.fail("expected one or more FRAME files");
    if (opts.ok() && !outPath) opts.fail("expected -o OUT.wav");
    if (opts.reportIfFailed()) return kExitUsage;

    std::vector<modem::Unit> units;
    for (const std::string& path : opts.positional()) {
        std::string error;
        const auto bytes = readFile(path, error);
        if (!bytes) {
            reportError(kCommand, error);
            return kExitFailure;
        }
        if (bytes->empty() || bytes->size() % modem::kUnitBytes != 0) {
            reportError(kCommand, "'" + path + "' is not a frame string (" +
                                      std::to_string(bytes->size()) +
                                      " bytes, not a whole number of 41-byte units)");
            return kExitUsage;
        }
        for (size_t at = 0; at < bytes->size(); at += modem::kUnitBytes) {
            modem::Unit unit;
            std::copy_n(bytes->begin() + static_cast<std::ptrdiff_t>(at), modem::kUnitBytes,
                        unit.begin());
            units.push_back(unit);
        }
    }
    modem::Modulator modulator(mode.value_or(modem::Mode::Normal));
    std::vector<float> audio;
    modulator.modulate(units, audio);
    const std::vector<float> out = modem::resampleAudio(audio, modem::kSampleRate, rate);
    const AudioWrite written = writeWav16(*outPath, out, rate);
    if (!written.ok) {
        reportError(kCommand, written.error);
        return kExitFailure;
    }
    std::printf(
        "%zu units in %zu modem frames (%s): %.1f s of audio at %d Hz -> %s\n", units.size(),
        (units.size() + modem::kMaxUnitsPerFrame - 1) / modem::kMaxUnitsPerFrame,
        modem::modeName(modulator.mode()), double(out.size()) / rate, rate, outPath->c_str());
    return kExitOk;
}

int runDemodulate(const std::vector<std::string_view>& args) {
    constexpr std::string_view kCommand = "demodulate";
    Options opts(kCommand, args, {"output", "mode"}, {});
    const std::optional<modem::Mode> mode = modeOption(opts);
    const std::optional<std::string> outPath = opts.value("output");
    opts.expectPositional(1, "expected one IN.wav");
    if (opts.ok() && !outPath) opts.fail("expected -o UNITS");
    if (opts.reportIfFailed()) return kExitUsage;

    const AudioRead read = readAudio(opts.positional().front());
    if (!read.ok) {
        reportError(kCommand, read.error);
        return kExitFailure;
    }
    const std::vector<float> audio =
        modem::resampleAudio(read.audio.samples, read.audio.sampleRate, modem::kSampleRate);
    modem::Demodulator demodulator(mode);
    modem::DemodOutput out;
    // In pieces of a tenth of a second, as a sound card would hand them over.
    constexpr size_t kChunk = modem::kSampleRate / 10;
    for (size_t at = 0; at < audio.size(); at += kChunk) {
        const size_t before = out.frames.size();
        demodulator.process(std::span(audio).subspan(at, std::min(kChunk, audio.size() - at)), out);
        for (size_t f = before; f < out.frames.size(); ++f) printFrame(out.frames[f]);
    }
    const size_t before = out.frames.size();
    demodulator.flush(out);
    for (size_t f = before; f < out.frames.size(); ++f) printFrame(out.frames[f]);
    std::vector<uint8_t> bytes;
    for (const modem::Unit& unit : out.units) bytes.insert(bytes.end(), unit.begin(), unit.end());
    const FileResult written = writeFileReplacing(*outPath, bytes);
    if (!written.ok) {
        reportError(kCommand, written.error);
        return kExitFailure;
    }
    int dropped = 0;
    for (const modem::FrameStats& f : out.frames) dropped += f.unitsDropped;
    std::printf("%zu modem frame%s, %zu units good, %d dropped, in %.1f s of audio -> %s\n",
                out.frames.size(), out.frames.size() == 1 ? "" : "s", out.units.size(), dropped,
                double(audio.size()) / modem::kSampleRate, outPath->c_str());
    return kExitOk;
}

int runModemSweep(const std::vector<std::string_view>& args) {
    constexpr std::string_view kCommand = "modem-sweep";
    Options opts(kCommand, args,
                 {"channel", "snr", "units", "mode", "offset", "ppm", "seed", "frames"},
                 {"pictures"});
    const std::vector<std::string_view> channels = {"awgn", "good", "moderate", "poor", "flutter"};
    const int channel = opts.choice("channel", channels, 0);
    const int unitCount = opts.integer("units", 12, 10'000'000, 2400);
    const bool pictures = opts.flag("pictures");
    const int frameCount = opts.integer("frames", 1, 100'000, 100);
    const std::optional<modem::Mode> mode = modeOption(opts);
    const double offsetHz = opts.number("offset", -100, 100, 0);
    const double ppm = opts.number("ppm", -1000, 1000, 0);
    const int seed = opts.integer("seed", 0, 1 << 30, 1);
    double lo = 0, hi = 10, step = 1;
    if (const auto snr = opts.value("snr")) {
        if (std::sscanf(snr->c_str(), "%lf:%lf:%lf", &lo, &hi, &step) != 3 || step <= 0 ||
            hi < lo || (hi - lo) / step > 1000) {
            opts.fail("--snr takes LO:HI:STEP in dB, such as 0:10:1");
        }
    }
    if (opts.ok() && pictures && opts.value("units")) {
        opts.fail("--units is for random units; --pictures sends --frames test-card frames");
    }
    if (opts.ok() && !pictures && opts.value("frames")) opts.fail("--frames needs --pictures");
    opts.expectPositional(0, "takes no file");
    if (opts.reportIfFailed()) return kExitUsage;

    const modem::Mode m = mode.value_or(modem::Mode::Normal);
    std::vector<modem::Unit> units;
    std::vector<encoder::Picture> previews;
    if (pictures) {
        std::optional<PictureLoad> load = testCardFrames(frameCount);
        if (!load) {
            reportError(kCommand, "the test card gives no frame with the default settings");
            return kExitFailure;
        }
        units = std::move(load->units);
        previews = std::move(load->previews);
    } else {
        std::mt19937 rng(static_cast<uint32_t>(seed));
        units.resize(static_cast<size_t>(unitCount));
        for (modem::Unit& u : units) {
            for (uint8_t& b : u) b = static_cast<uint8_t>(rng());
        }
    }
    const std::set<modem::Unit> sent(units.begin(), units.end());
    std::vector<float> audio(modem::kSampleRate / 2, 0.0f);
    modem::Modulator modulator(m);
    modulator.modulate(units, audio);
    audio.resize(audio.size() + modem::kSampleRate / 2, 0.0f);

    const bool terminal = ::isatty(STDERR_FILENO) != 0;
    if (pictures) {
        std::printf(
            "# %s mode, channel %s, offset %+.1f Hz, clock %+.0f ppm, %d test-card frames a "
            "point (64 x 64, syndromes 32, %zu units, %.0f s), seed %d\n",
            modem::modeName(m), std::string(channels[channel]).c_str(), offsetHz, ppm, frameCount,
            units.size(), double(audio.size()) / modem::kSampleRate, seed);
        std::printf("%7s %8s %8s %7s %7s %9s %9s %9s %8s %10s\n", "snr_db", "uer_%", "good",
                    "wrong", "frames", "est_db", "x_realtime", "pictures", "pict_%", "pict_wrong");
    } else {
        std::printf(
            "# %s mode, channel %s, offset %+.1f Hz, clock %+.0f ppm, %d units a point, "
            "seed %d\n",
            modem::modeName(m), std::string(channels[channel]).c_str(), offsetHz, ppm, unitCount,
            seed);
        std::printf("%7s %8s %8s %7s %7s %9s %9s\n", "snr_db", "uer_%", "good", "wrong", "frames",
                    "est_db", "x_realtime");
    }
    const int points = static_cast<int>(std::floor((hi - lo) / step + 1e-9)) + 1;
    for (int point = 0; point < points; ++point) {
        const double snr = lo + point * step;
        modem::HfChannelConfig config;
        config.seed = static_cast<uint32_t>(seed) * 1000u + static_cast<uint32_t>(point);
        config.noise = true;
        config.snrDb = snr;
        config.signalPower = double(modem::kTxRms) * modem::kTxRms;
        config.offsetHz = offsetHz;
        config.clockPpm = ppm;
        if (channel > 0) {
            config.fading = true;
            config.watterson = *modem::wattersonProfile(channels[channel]);
        }
        const std::vector<float> received = modem::simulateRecording(config, audio);
        modem::Demodulator demodulator(mode);
        modem::DemodOutput out;
        const auto started = std::chrono::steady_clock::now();
        constexpr size_t kChunk = modem::kSampleRate / 10;
        for (size_t at = 0; at < received.size(); at += kChunk) {
            demodulator.process(
                std::span(received).subspan(at, std::min(kChunk, received.size() - at)), out);
            if (at + kChunk >= received.size()) demodulator.flush(out);
            if (terminal && at % (kChunk * 100) == 0) {
                std::fprintf(stderr, "\r%5.1f dB: %3d %%", snr,
                             static_cast<int>(100 * at / received.size()));
            }
        }
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        size_t wrong = 0;
        for (const modem::Unit& u : out.units) wrong += !sent.contains(u);
        const size_t good = out.units.size() - wrong;
        double estimate = 0;
        for (const modem::FrameStats& f : out.frames) estimate += f.snrDb;
        if (!out.frames.empty()) estimate /= double(out.frames.size());
        if (terminal) std::fprintf(stderr, "\r               \r");
        std::printf("%7.1f %8.3f %8zu %7zu %7zu %9.1f %9.0f", snr,
                    100.0 * double(units.size() - std::min(good, units.size())) / units.size(),
                    good, wrong, out.frames.size(), estimate,
                    double(received.size()) / modem::kSampleRate / std::max(seconds, 1e-9));
        if (pictures) {
            const PictureTally tally = receivePictures(out, previews);
            std::printf(" %9d %8.1f %10d", tally.good, 100.0 * tally.good / frameCount,
                        tally.wrong);
        }
        std::printf("\n");
        std::fflush(stdout);
    }
    return kExitOk;
}

}  // namespace tools
