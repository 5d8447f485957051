// vistrel modulate, demodulate, hf-channel and modem-sweep: the modem core on WAV files and on
// the simulated HF channel.

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

// The simulated HF path as hf-channel and modem-sweep take it from their options.
const std::vector<std::string_view> kChannels = {"awgn", "good", "moderate", "poor", "flutter"};

struct ChannelChoice {
    int channel = 0;        // index into kChannels; 0 (awgn) is noise alone, no fading
    double offsetHz = 0.0;  // mistuning, -100..100 Hz
    double ppm = 0.0;       // receiver's sample-clock error, -1000..1000 ppm
    int seed = 1;           // 0..2^30
};

ChannelChoice channelChoice(Options& opts) {
    ChannelChoice c;
    c.channel = opts.choice("channel", kChannels, 0);
    c.offsetHz = opts.number("offset", -100, 100, 0);
    c.ppm = opts.number("ppm", -1000, 1000, 0);
    c.seed = opts.integer("seed", 0, 1 << 30, 1);
    return c;
}

// Noise always, at snrDb in 3 kHz against signalPower (mean square); fading for every channel
// but awgn. At the modem's rate.
modem::HfChannelConfig channelConfig(const ChannelChoice& c, double snrDb, double signalPower,
                                     uint32_t seed) {
    modem::HfChannelConfig config;
    config.sampleRateHz = modem::kSampleRate;
    config.seed = seed;
    config.noise = true;
    config.snrDb = snrDb;
    config.signalPower = signalPower;
    config.offsetHz = c.offsetHz;
    config.clockPpm = c.ppm;
    if (c.channel > 0) {
        config.fading = true;
        config.watterson = *modem::wattersonProfile(kChannels[static_cast<size_t>(c.channel)]);
    }
    return config;
}

// Samples quieter than this (-80 dBFS) are taken for silence when a recording's signal power is
// measured: gaps, lead-in and dither count for nothing, so a frame with silence around it has
// the same SNR as the frame alone.
constexpr float kSilenceLevel = 1e-4f;

// Mean square of the samples above kSilenceLevel; 0 when there are none.
double signalPower(std::span<const float> samples) {
    double sum = 0.0;
    size_t count = 0;
    for (const float s : samples) {
        if (std::fabs(s) <= kSilenceLevel) continue;
        sum += double(s) * s;
        ++count;
    }
    return count == 0 ? 0.0 : sum / double(count);
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

int runHfChannel(const std::vector<std::string_view>& args) {
    constexpr std::string_view kCommand = "hf-channel";
    Options opts(kCommand, args, {"output", "channel", "snr", "offset", "ppm", "seed", "silence"},
                 {});
    const ChannelChoice path = channelChoice(opts);
    const double snrDb = opts.number("snr", -30, 100, 20);
    const double silenceSeconds = opts.number("silence", 0, 60, 1);
    const std::optional<std::string> outPath = opts.value("output");
    opts.expectPositional(1, "expected one IN.wav");
    if (opts.ok() && !outPath) opts.fail("expected -o OUT.wav");
    if (opts.reportIfFailed()) return kExitUsage;

    const std::string& inPath = opts.positional().front();
    const AudioRead read = readAudio(inPath);
    if (!read.ok) {
        reportError(kCommand, read.error);
        return kExitFailure;
    }
    const int rate = read.audio.sampleRate;
    const std::vector<float> clean =
        modem::resampleAudio(read.audio.samples, rate, modem::kSampleRate);
    const double power = signalPower(clean);
    if (!(power > 0.0)) {
        reportError(kCommand, "'" + inPath +
                                  "' is silent: no sample above -80 dBFS to set the noise against");
        return kExitUsage;
    }
    // Silence on both sides, as on the air: the receiver hears the noise before the signal
    // comes up and after it has gone.
    const auto pad = static_cast<size_t>(std::lround(silenceSeconds * modem::kSampleRate));
    std::vector<float> sent(pad, 0.0f);
    sent.insert(sent.end(), clean.begin(), clean.end());
    sent.resize(sent.size() + pad, 0.0f);

    // The channel's own delay (its Hilbert filter's centre tap) is taken off again, so that the
    // heard signal lies where the sent one did: with no clock error, sample for sample.
    modem::HfChannel channel(channelConfig(path, snrDb, power, static_cast<uint32_t>(path.seed)));
    std::vector<float> heard;
    std::vector<float> tail;
    channel.process(sent, heard);
    channel.flush(tail);
    heard.insert(heard.end(), tail.begin(), tail.end());
    const auto delay = std::min(heard.size(), static_cast<size_t>(channel.delaySamples()));
    heard.erase(heard.begin(), heard.begin() + static_cast<std::ptrdiff_t>(delay));

    std::vector<float> out = modem::resampleAudio(heard, modem::kSampleRate, rate);
    float peak = 0.0f;
    for (const float s : out) peak = std::max(peak, std::fabs(s));
    // Past full scale the WAV would clip: the noise's and the fading's peaks can go there. The
    // whole recording is scaled instead, to the largest sample 16 bits hold, which keeps the SNR.
    if (peak > 1.0f) {
        const float gain = 32767.0f / 32768.0f / peak;
        for (float& s : out) s *= gain;
        std::fprintf(stderr,
                     "vistrel %s: the output would clip (peak %+.2f dBFS); scaled down by %.2f "
                     "dB\n",
                     std::string(kCommand).c_str(), 20.0 * std::log10(double(peak)),
                     -20.0 * std::log10(double(gain)));
    }
    const AudioWrite written = writeWav16(*outPath, out, rate);
    if (!written.ok) {
        reportError(kCommand, written.error);
        return kExitFailure;
    }
    std::printf(
        "%s -> %s: %.1f s at %d Hz, channel %s, SNR %.1f dB (signal %.1f dBFS), offset %+.1f Hz, "
        "clock %+.0f ppm, seed %d\n",
        inPath.c_str(), outPath->c_str(), double(out.size()) / rate, rate,
        std::string(kChannels[static_cast<size_t>(path.channel)]).c_str(), snrDb,
        10.0 * std::log10(power), path.offsetHz, path.ppm, path.seed);
    return kExitOk;
}

int runModemSweep(const std::vector<std::string_view>& args) {
    constexpr std::string_view kCommand = "modem-sweep";
    Options opts(kCommand, args,
                 {"channel", "snr", "units", "mode", "offset", "ppm", "seed", "frames"},
                 {"pictures"});
    const ChannelChoice path = channelChoice(opts);
    const int unitCount = opts.integer("units", 12, 10'000'000, 2400);
    const bool pictures = opts.flag("pictures");
    const int frameCount = opts.integer("frames", 1, 100'000, 100);
    const std::optional<modem::Mode> mode = modeOption(opts);
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
        std::mt19937 rng(static_cast<uint32_t>(path.seed));
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
            modem::modeName(m), std::string(kChannels[path.channel]).c_str(), path.offsetHz,
            path.ppm, frameCount, units.size(), double(audio.size()) / modem::kSampleRate,
            path.seed);
        std::printf("%7s %8s %8s %7s %7s %9s %9s %9s %8s %10s\n", "snr_db", "uer_%", "good",
                    "wrong", "frames", "est_db", "x_realtime", "pictures", "pict_%", "pict_wrong");
    } else {
        std::printf(
            "# %s mode, channel %s, offset %+.1f Hz, clock %+.0f ppm, %d units a point, "
            "seed %d\n",
            modem::modeName(m), std::string(kChannels[path.channel]).c_str(), path.offsetHz,
            path.ppm, unitCount, path.seed);
        std::printf("%7s %8s %8s %7s %7s %9s %9s\n", "snr_db", "uer_%", "good", "wrong", "frames",
                    "est_db", "x_realtime");
    }
    const int points = static_cast<int>(std::floor((hi - lo) / step + 1e-9)) + 1;
    for (int point = 0; point < points; ++point) {
        const double snr = lo + point * step;
        const modem::HfChannelConfig config =
            channelConfig(path, snr, double(modem::kTxRms) * modem::kTxRms,
                          static_cast<uint32_t>(path.seed) * 1000u + static_cast<uint32_t>(point));
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
