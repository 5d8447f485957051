// Our modem beside codec2's HF data mode DATAC1 on the same simulated HF channel: for each SNR,
// the same units go through the `normal` and `robust` modes and through DATAC1, each modem's
// audio through modem::HfChannel with the same profile and seed, the SNR (in 3 kHz) set against
// that modem's own mean transmitted power measured on its clean audio. Prints one table per
// channel (unit error rate and net unit bytes per second of air for each modem) and where each
// modem crosses 1 % UER.
//
// Units are the frame strings' 41-byte units. Ours carry up to 12 of them per modem frame, each
// with its own CRC-16. DATAC1 carries a fixed payload per frame with one CRC-16 over it: the
// units are packed into the payload (as many as fit) and a frame whose CRC fails loses them all.
// DATAC1 is sent as bursts (preamble, frames back to back, postamble), the way its API frames
// data; the receiver is told the burst length and takes the audio in pieces of freedv_nin().
//
// A benchmark-only program: codec2 is linked here and nowhere else.

extern "C" {
#include <codec2/freedv_api.h>
#include <codec2/version.h>
}

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <random>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "modem/demodulator.h"
#include "modem/hf_channel.h"
#include "modem/modulator.h"

namespace {

constexpr int kRate = modem::kSampleRate;  // both modems run at 8000 Hz
constexpr double kShortScale = 32768.0;    // codec2's 16-bit samples to and from our floats

struct Options {
    std::vector<std::string> channels{"awgn"};
    double lo = 0, hi = 20, step = 2;
    int units = 2400;
    uint32_t seed = 1;
    int datac1Burst = 1;  // DATAC1 frames per burst; 0: all in one burst
    int skipClean = 2;    // a modem clean at this many points in a row is not run higher up
    double offsetHz = 0;
    double ppm = 0;
};

const std::vector<std::string> kChannels = {"awgn", "good", "moderate", "poor", "flutter"};

void usage(FILE* to) {
    std::fprintf(
        to,
        "usage: modem_peer [--channel awgn|good|moderate|poor|flutter|all] [--snr LO:HI:STEP]\n"
        "                  [--units N] [--seed S] [--datac1-burst FRAMES] [--skip-clean K]\n"
        "                  [--offset HZ] [--ppm P]\n"
        "Our normal and robust modes beside codec2's DATAC1 through the same simulated HF\n"
        "channel: unit error rate and net unit bytes per second, one table per channel.\n"
        "  --channel      one channel, a comma-separated list, or all (default awgn)\n"
        "  --snr          SNR in 3 kHz, dB (default 0:20:2)\n"
        "  --units        41-byte units per point and modem (default 2400)\n"
        "  --seed         units and channel seed (default 1)\n"
        "  --datac1-burst DATAC1 frames between preamble and postamble; 0 sends them all as one\n"
        "                 burst (default 1: each frame found on its own, as ours are)\n"
        "  --skip-clean   after K points in a row without a lost unit a modem is not run at\n"
        "                 higher SNR (shown as -); 0 runs every point (default 2)\n"
        "  --offset, --ppm  mistuning and sample-clock error of the channel (default 0)\n");
}

std::optional<Options> parse(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "-h" || arg == "--help") {
            usage(stdout);
            std::exit(0);
        }
        if (i + 1 >= argc) {
            std::fprintf(stderr, "modem_peer: %s needs a value\n", argv[i]);
            return std::nullopt;
        }
        const std::string value = argv[++i];
        if (arg == "--channel") {
            o.channels.clear();
            if (value == "all") {
                o.channels = kChannels;
            } else {
                size_t from = 0;
                while (from <= value.size()) {
                    const size_t comma = std::min(value.find(',', from), value.size());
                    const std::string name = value.substr(from, comma - from);
                    if (std::find(kChannels.begin(), kChannels.end(), name) == kChannels.end()) {
                        std::fprintf(stderr, "modem_peer: no channel '%s'\n", name.c_str());
                        return std::nullopt;
                    }
                    o.channels.push_back(name);
                    from = comma + 1;
                }
            }
        } else if (arg == "--snr") {
            if (std::sscanf(value.c_str(), "%lf:%lf:%lf", &o.lo, &o.hi, &o.step) != 3 ||
                o.step <= 0 || o.hi < o.lo || (o.hi - o.lo) / o.step > 1000) {
                std::fprintf(stderr, "modem_peer: --snr takes LO:HI:STEP in dB\n");
                return std::nullopt;
            }
        } else if (arg == "--units") {
            o.units = std::atoi(value.c_str());
            if (o.units < 12) {
                std::fprintf(stderr, "modem_peer: --units takes at least 12\n");
                return std::nullopt;
            }
        } else if (arg == "--seed") {
            o.seed = static_cast<uint32_t>(std::strtoul(value.c_str(), nullptr, 10));
        } else if (arg == "--datac1-burst") {
            o.datac1Burst = std::max(0, std::atoi(value.c_str()));
        } else if (arg == "--skip-clean") {
            o.skipClean = std::max(0, std::atoi(value.c_str()));
        } else if (arg == "--offset") {
            o.offsetHz = std::atof(value.c_str());
        } else if (arg == "--ppm") {
            o.ppm = std::atof(value.c_str());
        } else {
            std::fprintf(stderr, "modem_peer: unknown option %s\n", argv[i - 1]);
            usage(stderr);
            return std::nullopt;
        }
    }
    return o;
}

// What one modem sends: its audio and how long it keeps the transmitter busy.
struct Transmission {
    std::vector<float> audio;  // with half a second of silence either side
    double airSeconds = 0;     // the modem's own signal, silences excluded
    double signalPower = 0;    // mean square of the modem's own signal
};

void pad(std::vector<float>& signal, Transmission& tx) {
    tx.airSeconds = double(signal.size()) / kRate;
    tx.signalPower = modem::meanPower(signal);
    tx.audio.assign(kRate / 2, 0.0f);
    tx.audio.insert(tx.audio.end(), signal.begin(), signal.end());
    tx.audio.resize(tx.audio.size() + kRate, 0.0f);  // room for the receivers to finish
}

class Peer {
public:
    virtual ~Peer() = default;
    [[nodiscard]] virtual const char* name() const = 0;
    [[nodiscard]] virtual Transmission transmit(std::span<const modem::Unit> units) = 0;
    // Every unit that came out, in order.
    [[nodiscard]] virtual std::vector<modem::Unit> receive(std::span<const float> audio) = 0;
};

class Ours : public Peer {
public:
    explicit Ours(modem::Mode mode) : mode_(mode) {}
    const char* name() const override { return modem::modeName(mode_); }

    Transmission transmit(std::span<const modem::Unit> units) override {
        std::vector<float> signal;
        modem::Modulator(mode_).modulate(units, signal);
        Transmission tx;
        pad(signal, tx);
        return tx;
    }

    std::vector<modem::Unit> receive(std::span<const float> audio) override {
        modem::Demodulator demodulator;  // finds the mode from the signal
        modem::DemodOutput out;
        constexpr size_t kChunk = kRate / 10;  // 100 ms, as tonebox hands audio over
        for (size_t at = 0; at < audio.size(); at += kChunk) {
            demodulator.process(audio.subspan(at, std::min(kChunk, audio.size() - at)), out);
        }
        demodulator.flush(out);
        return std::move(out.units);
    }

private:
    modem::Mode mode_;
};

class Datac1 : public Peer {
public:
    explicit Datac1(int framesPerBurst) : framesPerBurst_(framesPerBurst) {}
    const char* name() const override { return "DATAC1"; }

    Transmission transmit(std::span<const modem::Unit> units) override {
        struct freedv* f = open();
        const int frameBytes = freedv_get_bits_per_modem_frame(f) / 8;
        const int payloadBytes = frameBytes - 2;  // the last two carry the CRC-16
        const int perFrame = payloadBytes / modem::kUnitBytes;
        const int frames = (static_cast<int>(units.size()) + perFrame - 1) / perFrame;
        const int burst = framesPerBurst_ > 0 ? framesPerBurst_ : frames;
        std::vector<short> samples(static_cast<size_t>(
            std::max({freedv_get_n_tx_modem_samples(f), freedv_get_n_tx_preamble_modem_samples(f),
                      freedv_get_n_tx_postamble_modem_samples(f)})));
        std::vector<float> signal;
        const auto append = [&](int count) {
            for (int n = 0; n < count; ++n) signal.push_back(float(samples[n] / kShortScale));
        };
        std::vector<uint8_t> bytes(static_cast<size_t>(frameBytes));
        for (int frame = 0; frame < frames; ++frame) {
            if (frame % burst == 0) append(freedv_rawdatapreambletx(f, samples.data()));
            std::fill(bytes.begin(), bytes.end(), 0);
            for (int u = 0; u < perFrame; ++u) {
                const size_t index = static_cast<size_t>(frame * perFrame + u);
                if (index >= units.size()) break;
                std::copy(units[index].begin(), units[index].end(),
                          bytes.begin() + u * modem::kUnitBytes);
            }
            const uint16_t crc = freedv_gen_crc16(bytes.data(), payloadBytes);
            bytes[static_cast<size_t>(payloadBytes)] = static_cast<uint8_t>(crc >> 8);
            bytes[static_cast<size_t>(payloadBytes) + 1] = static_cast<uint8_t>(crc & 0xff);
            freedv_rawdatatx(f, samples.data(), bytes.data());
            append(freedv_get_n_tx_modem_samples(f));
            if (frame % burst == burst - 1 || frame == frames - 1) {
                append(freedv_rawdatapostambletx(f, samples.data()));
            }
        }
        freedv_close(f);
        Transmission tx;
        pad(signal, tx);
        return tx;
    }

    std::vector<modem::Unit> receive(std::span<const float> audio) override {
        struct freedv* f = open();
        const int frameBytes = freedv_get_bits_per_modem_frame(f) / 8;
        const int payloadBytes = frameBytes - 2;
        const int perFrame = payloadBytes / modem::kUnitBytes;
        freedv_set_frames_per_burst(f, framesPerBurst_);
        std::vector<short> in(static_cast<size_t>(freedv_get_n_max_modem_samples(f)));
        std::vector<uint8_t> bytes(static_cast<size_t>(frameBytes));
        std::vector<modem::Unit> units;
        size_t at = 0;
        for (;;) {
            const auto nin = static_cast<size_t>(freedv_nin(f));
            if (at + nin > audio.size()) break;
            for (size_t n = 0; n < nin; ++n) {
                const double s = std::round(double(audio[at + n]) * kShortScale);
                in[n] = static_cast<short>(std::clamp(s, -32768.0, 32767.0));
            }
            at += nin;
            const int got = freedv_rawdatarx(f, bytes.data(), in.data());
            if (got != frameBytes) continue;
            const uint16_t crc = freedv_gen_crc16(bytes.data(), payloadBytes);
            if (bytes[static_cast<size_t>(payloadBytes)] != (crc >> 8) ||
                bytes[static_cast<size_t>(payloadBytes) + 1] != (crc & 0xff)) {
                continue;  // the frame's check failed: every unit in it is lost
            }
            for (int u = 0; u < perFrame; ++u) {
                modem::Unit unit;
                std::copy_n(bytes.begin() + u * modem::kUnitBytes, modem::kUnitBytes, unit.begin());
                units.push_back(unit);
            }
        }
        freedv_close(f);
        return units;
    }

    // Its frame as the library describes it.
    static void describe() {
        struct freedv* f = open();
        const int frameBytes = freedv_get_bits_per_modem_frame(f) / 8;
        std::printf(
            "# DATAC1 (codec2 %s): %d payload bytes + CRC-16 a frame (%d units), frame %.3f s, "
            "preamble %.3f s, postamble %.3f s\n",
            CODEC2_VERSION, frameBytes - 2, (frameBytes - 2) / modem::kUnitBytes,
            double(freedv_get_n_tx_modem_samples(f)) / kRate,
            double(freedv_get_n_tx_preamble_modem_samples(f)) / kRate,
            double(freedv_get_n_tx_postamble_modem_samples(f)) / kRate);
        freedv_close(f);
    }

private:
    static struct freedv* open() {
        struct freedv* f = freedv_open(FREEDV_MODE_DATAC1);
        if (f == nullptr) {
            std::fprintf(stderr, "modem_peer: codec2 cannot open DATAC1\n");
            std::exit(1);
        }
        return f;
    }

    int framesPerBurst_;
};

struct Point {
    bool run = false;
    double uer = 0;  // percent
    double bytesPerSecond = 0;
    size_t wrong = 0;
};

// Where UER falls through 1 %, interpolated in log UER between the measured points either side
// (a point with no loss counts as half a unit lost). held: through for good, after the last
// point above 1 %; otherwise the first time. A few lost frames decide a point on fading, so the
// two may lie a step or more apart.
std::string crossing(const std::vector<double>& snr, const std::vector<Point>& points, int units,
                     bool held) {
    std::vector<size_t> run;  // indices of the measured points
    for (size_t i = 0; i < points.size(); ++i) {
        if (points[i].run) run.push_back(i);
    }
    if (run.empty()) return "-";
    // above: the measured point above 1 % that the crossing follows (run index), or none.
    std::optional<size_t> above;
    for (size_t r = 0; r < run.size() && (held || points[run.front()].uer > 1.0); ++r) {
        if (points[run[r]].uer > 1.0) {
            above = r;
            if (!held && r + 1 < run.size() && points[run[r + 1]].uer <= 1.0) break;
        }
    }
    char text[64];
    if (!above) {
        std::snprintf(text, sizeof text, "<= %.1f", snr[run.front()]);
        return text;
    }
    // A point skipped as clean lies above clean points, so the point after the last one above
    // 1 % was measured unless the sweep ended there.
    if (*above + 1 >= run.size()) {
        std::snprintf(text, sizeof text, "> %.1f", snr[run[*above]]);
        return text;
    }
    const size_t i = run[*above], j = run[*above + 1];
    const double floor = 50.0 / units;
    const double a = std::log10(std::max(points[i].uer, floor));
    const double b = std::log10(std::max(points[j].uer, floor));
    const double t = a / (a - b);  // log10(1 %) = 0
    std::snprintf(text, sizeof text, "%.1f", snr[i] + t * (snr[j] - snr[i]));
    return text;
}

const char* channelTitle(const std::string& name) {
    if (name == "awgn") return "AWGN";
    if (name == "good") return "CCIR good (0.5 ms, 0.1 Hz)";
    if (name == "moderate") return "CCIR moderate (1 ms, 0.5 Hz)";
    if (name == "poor") return "CCIR poor (2 ms, 1 Hz)";
    return "CCIR flutter (0.5 ms, 10 Hz)";
}

}  // namespace

int main(int argc, char** argv) {
    const std::optional<Options> parsed = parse(argc, argv);
    if (!parsed) return 2;
    const Options& o = *parsed;

    std::mt19937 rng(o.seed);
    std::vector<modem::Unit> units(static_cast<size_t>(o.units));
    for (modem::Unit& u : units) {
        for (uint8_t& b : u) b = static_cast<uint8_t>(rng());
    }
    const std::set<modem::Unit> sent(units.begin(), units.end());
    const modem::Unit zero{};  // DATAC1's padding in its last frame

    std::vector<std::unique_ptr<Peer>> peers;
    peers.push_back(std::make_unique<Ours>(modem::Mode::Normal));
    peers.push_back(std::make_unique<Ours>(modem::Mode::Robust));
    peers.push_back(std::make_unique<Datac1>(o.datac1Burst));
    std::vector<Transmission> txs;
    for (auto& peer : peers) txs.push_back(peer->transmit(units));

    std::vector<double> snrs;
    const int count = static_cast<int>(std::floor((o.hi - o.lo) / o.step + 1e-9)) + 1;
    for (int i = 0; i < count; ++i) snrs.push_back(o.lo + i * o.step);

    std::printf(
        "# modem_peer: %d units of %d bytes a point and modem, seed %u, offset %+.1f Hz, "
        "clock %+.0f ppm",
        o.units, modem::kUnitBytes, o.seed, o.offsetHz, o.ppm);
    if (o.datac1Burst > 0) std::printf(", DATAC1 %d frames a burst", o.datac1Burst);
    std::printf("\n");
    Datac1::describe();
    for (size_t m = 0; m < peers.size(); ++m) {
        std::printf("# %s: %.1f s of air, mean power %.2f dBFS\n", peers[m]->name(),
                    txs[m].airSeconds, 10 * std::log10(txs[m].signalPower));
    }

    for (const std::string& channel : o.channels) {
        std::vector<std::vector<Point>> results(peers.size(), std::vector<Point>(snrs.size()));
        std::vector<int> cleanInRow(peers.size(), 0);
        for (size_t p = 0; p < snrs.size(); ++p) {
            for (size_t m = 0; m < peers.size(); ++m) {
                if (o.skipClean > 0 && cleanInRow[m] >= o.skipClean) continue;
                modem::HfChannelConfig config;
                config.seed = o.seed * 1000u + static_cast<uint32_t>(p);
                config.noise = true;
                config.snrDb = snrs[p];
                config.signalPower = txs[m].signalPower;
                config.offsetHz = o.offsetHz;
                config.clockPpm = o.ppm;
                if (channel != "awgn") {
                    config.fading = true;
                    config.watterson = *modem::wattersonProfile(channel);
                }
                const auto started = std::chrono::steady_clock::now();
                const std::vector<float> received = modem::simulateRecording(config, txs[m].audio);
                const std::vector<modem::Unit> got = peers[m]->receive(received);
                const double seconds =
                    std::chrono::duration<double>(std::chrono::steady_clock::now() - started)
                        .count();
                std::set<modem::Unit> good;
                size_t wrong = 0;
                for (const modem::Unit& u : got) {
                    if (sent.contains(u)) {
                        good.insert(u);
                    } else if (u != zero) {
                        ++wrong;
                    }
                }
                Point& point = results[m][p];
                point.run = true;
                point.uer = 100.0 * double(units.size() - good.size()) / double(units.size());
                point.bytesPerSecond = double(good.size()) * modem::kUnitBytes / txs[m].airSeconds;
                point.wrong = wrong;
                cleanInRow[m] = good.size() == units.size() ? cleanInRow[m] + 1 : 0;
                std::fprintf(stderr, "%s %5.1f dB %-7s UER %7.3f %% (%.0fx real time)\n",
                             channel.c_str(), snrs[p], peers[m]->name(), point.uer,
                             double(received.size()) / kRate / std::max(seconds, 1e-9));
            }
        }

        std::printf("\n## %s\n\n| SNR dB |", channelTitle(channel));
        for (auto& peer : peers) std::printf(" %s UER %% | %s B/s |", peer->name(), peer->name());
        std::printf("\n|---:|");
        for (size_t m = 0; m < peers.size(); ++m) std::printf("---:|---:|");
        std::printf("\n");
        for (size_t p = 0; p < snrs.size(); ++p) {
            std::printf("| %.1f |", snrs[p]);
            for (size_t m = 0; m < peers.size(); ++m) {
                const Point& point = results[m][p];
                if (point.run) {
                    std::printf(" %.2f | %.1f |", point.uer, point.bytesPerSecond);
                } else {
                    std::printf(" - | - |");
                }
            }
            std::printf("\n");
        }
        std::printf("\n1 %% UER held from (dB):");
        for (size_t m = 0; m < peers.size(); ++m) {
            std::printf(" %s %s%s", peers[m]->name(),
                        crossing(snrs, results[m], o.units, true).c_str(),
                        m + 1 < peers.size() ? ";" : "\n");
        }
        std::printf("1 %% UER first reached at (dB):");
        for (size_t m = 0; m < peers.size(); ++m) {
            std::printf(" %s %s%s", peers[m]->name(),
                        crossing(snrs, results[m], o.units, false).c_str(),
                        m + 1 < peers.size() ? ";" : "\n");
        }
        std::printf("Wrong units delivered:");
        for (size_t m = 0; m < peers.size(); ++m) {
            size_t wrong = 0;
            for (const Point& point : results[m]) wrong += point.wrong;
            std::printf(" %s %zu%s", peers[m]->name(), wrong, m + 1 < peers.size() ? ";" : "\n");
        }
        std::fflush(stdout);
    }
    return 0;
}
