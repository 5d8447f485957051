// robustness_table: frames decoded by RECEIVEPACKET against what the Reed-Solomon code could
// correct, over the simulated channel, for a grid of losses, byte error rates and burst lengths.
//
// For every frame the damage that actually landed is measured: the slots a receiver fills (each
// unit filed by its first byte, the latest unit winning, header and message blocks aside) are
// compared with what was sent. A codeword is correctable when 2 errors + erasures <= 2t, where an
// erasure is a position no unit filled and an error a filled position holding the wrong byte;
// a frame is correctable when all 39 codewords are. The receiver should decode exactly those
// frames: "missed" counts correctable frames it lost, "beyond" frames it decoded past the limit
// (possible only by a lucky guess at a position the code treats as erased).
//
// Not a test: a bench program run by hand, see docs/RELIABILITY.md. Seeds are fixed and printed.

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "codec/rs.h"
#include "encoder/encode_frame.h"
#include "encoder/frame_format.h"
#include "encoder/test_pictures.h"
#include "receiver/receive_packet.h"
#include "tools/channel.h"

namespace {

constexpr std::string_view kHeaderTag = "header";
constexpr std::string_view kMessageTag = "msg";
constexpr int kLanes = encoder::kInterleaveRows;

struct Row {
    int syndromes = 0;
    double loss = 0;
    double byteErrors = 0;
    double burst = 0;
};

struct Tally {
    int frames = 0;
    int correctable = 0;
    int decoded = 0;
    int missed = 0;      // correctable, not decoded
    int beyond = 0;      // decoded, not correctable
    int wrong = 0;       // decoded to a picture other than the sender's preview
    int duplicates = 0;  // a frame counted good more than once
    int headerHits = 0;  // frames with at least one damaged header block delivered
};

bool startsWith(const encoder::Unit& unit, size_t offset, std::string_view tag) {
    for (size_t i = 0; i < tag.size(); ++i) {
        if (unit[offset + i] != static_cast<uint8_t>(tag[i])) return false;
    }
    return true;
}

bool isHeaderUnit(const encoder::Unit& unit) {
    return unit[0] == 0xFF && startsWith(unit, 1, kHeaderTag);
}
bool isMessageUnit(const encoder::Unit& unit) { return startsWith(unit, 0, kMessageTag); }

// Every codeword of the frame within 2 errors + erasures <= 2t, judged from the slots the
// delivered units fill against the slots the sent units fill.
bool correctable(const std::vector<encoder::Unit>& sent, const std::vector<encoder::Unit>& got,
                 const encoder::FrameLayout& layout, bool& headerHit) {
    using Slots = std::vector<const encoder::Unit*>;
    auto file = [](const std::vector<encoder::Unit>& units, Slots& slots, bool* hit,
                   const std::vector<encoder::Unit>* truth) {
        for (const encoder::Unit& u : units) {
            if (isHeaderUnit(u) || isMessageUnit(u)) {
                if (hit && truth) {
                    bool same = false;
                    for (const encoder::Unit& t : *truth) same = same || t == u;
                    *hit = *hit || !same;
                }
                continue;
            }
            slots[u[0]] = &u;
        }
    };
    Slots want(256, nullptr);
    Slots have(256, nullptr);
    file(sent, want, nullptr, nullptr);
    headerHit = false;
    file(got, have, &headerHit, &sent);

    const int n = layout.n;
    for (int lane = 1; lane < kLanes; ++lane) {
        int erasures = 0;
        int errors = 0;
        auto symbol = [&](const Slots& slots, int position, int& value) {
            // Position 0 of codeword c >= 1 rides in packet n' (its byte c); codeword 0's is
            // never sent.
            const int packet = position == 0 ? n : position;
            const int byte = position == 0 ? lane - 1 : lane;
            if (position == 0 && lane == 1) return false;
            if (slots[packet] == nullptr) return false;
            value = (*slots[packet])[1 + byte];
            return true;
        };
        for (int position = 0; position < n; ++position) {
            int wanted = 0;
            int had = 0;
            if (!symbol(want, position, wanted) && !(position == 0 && lane == 1)) {
                std::fprintf(stderr, "robustness_table: sent frame lacks position %d\n", position);
                std::exit(1);
            }
            if (!symbol(have, position, had)) {
                ++erasures;
            } else if (had != wanted) {
                ++errors;
            }
        }
        if (2 * errors + erasures > 2 * layout.t) return false;
    }
    return true;
}

std::vector<encoder::Unit> unitsOf(const std::vector<uint8_t>& frame) {
    std::vector<encoder::Unit> units(frame.size() / encoder::kUnitBytes);
    for (size_t i = 0; i < units.size(); ++i) {
        std::copy_n(frame.begin() + static_cast<std::ptrdiff_t>(i * encoder::kUnitBytes),
                    encoder::kUnitBytes, units[i].begin());
    }
    return units;
}

Tally runRow(const Row& row, int frames, uint64_t seed, const encoder::SourcePicture& source,
             bool verbose) {
    encoder::EncoderSettings settings;
    settings.syndromes = row.syndromes;
    settings.sourcePath = "card.png";  // as scripts/soak.py sends it: same frames, same channel
    settings.transmit = true;
    encoder::EncoderState encoderState;
    receiver::ReceiverState receiverState;
    tools::ChannelSettings channelSettings;
    channelSettings.loss = row.loss;
    channelSettings.byteErrors = row.byteErrors;
    channelSettings.burstLength = row.burst;
    channelSettings.seed = seed;
    tools::ChannelState air(channelSettings);

    Tally tally;
    std::vector<int> good(static_cast<size_t>(frames), 0);
    std::vector<bool> canCorrect(static_cast<size_t>(frames), false);
    std::vector<encoder::Picture> previews(static_cast<size_t>(frames));
    auto take = [&](const receiver::ReceiveUpdate& up, int frame) {
        if (up.decode != receiver::DecodeOutcome::Good) return;
        const auto at = static_cast<size_t>(frame);
        if (up.picture && up.picture->picture.pixels != previews[at].pixels) ++tally.wrong;
        ++good[at];
    };
    for (int f = 0; f < frames; ++f) {
        const encoder::EncodeResult sent =
            encoder::ENCODEFRAME(settings, source, encoderState, encoder::kEncodeSend);
        if (sent.error != encoder::EncodeError::None) {
            std::fprintf(stderr, "robustness_table: syndromes %d give no frame\n", row.syndromes);
            std::exit(1);
        }
        const auto at = static_cast<size_t>(f);
        previews[at] = sent.preview;
        const std::vector<encoder::Unit> units = unitsOf(sent.frame);
        const std::vector<encoder::Unit> got = tools::passFrame(air, sent.frame);
        bool headerHit = false;
        canCorrect[at] = correctable(units, got, sent.layout, headerHit);
        tally.headerHits += headerHit ? 1 : 0;

        // The frames follow one another with no pause, as over tonebox at speed: the next
        // frame's first header ends this one, so a good decode up to and including this frame's
        // first header is the previous frame's.
        bool seenHeader = false;
        int index = 0;
        for (const encoder::Unit& u : got) {
            const receiver::ReceiveUpdate up = receiver::RECEIVEPACKET(receiverState, u);
            if (verbose && up.decode != receiver::DecodeOutcome::None) {
                std::printf("  frame %d unit %d (byte0 %d, %s): %s, %d slots, wrong picture %d\n",
                            f, index, u[0], isHeaderUnit(u) ? "header" : "packet",
                            up.decode == receiver::DecodeOutcome::Good ? "good" : "failed",
                            receiverState.received,
                            up.picture ? up.picture->picture.pixels != sent.preview.pixels : -1);
            }
            if (verbose && isHeaderUnit(u)) {
                bool same = false;
                for (const encoder::Unit& t : units) same = same || t == u;
                if (!same) {
                    std::printf("  frame %d unit %d: damaged header:", f, index);
                    for (const encoder::Unit& t : units) {
                        if (!isHeaderUnit(t)) continue;
                        for (size_t b = 0; b < t.size(); ++b) {
                            if (t[b] != u[b]) std::printf(" [%zu] %d->%d", b, t[b], u[b]);
                        }
                        break;
                    }
                    std::printf("\n");
                }
            }
            take(up, seenHeader || f == 0 ? f : f - 1);
            seenHeader = seenHeader || isHeaderUnit(u);
            ++index;
        }
        if (verbose) {
            std::printf("frame %d: %zu of %zu units, correctable %d, first units", f, got.size(),
                        units.size(), canCorrect[at] ? 1 : 0);
            for (size_t i = 0; i < got.size() && i < 8; ++i) std::printf(" %d", got[i][0]);
            std::printf("\n");
        }
    }
    take(receiver::finishFrame(receiverState), frames - 1);
    for (int f = 0; f < frames; ++f) {
        const auto at = static_cast<size_t>(f);
        ++tally.frames;
        tally.correctable += canCorrect[at] ? 1 : 0;
        tally.decoded += good[at] > 0 ? 1 : 0;
        tally.duplicates += good[at] > 1 ? 1 : 0;
        tally.missed += canCorrect[at] && good[at] == 0 ? 1 : 0;
        if (verbose && canCorrect[at] != (good[at] > 0)) {
            std::printf("frame %d: correctable %d, decoded %d times\n", f, canCorrect[at] ? 1 : 0,
                        good[at]);
        }
        tally.beyond += !canCorrect[at] && good[at] > 0 ? 1 : 0;
    }
    return tally;
}

void printUsage() {
    std::printf(
        "usage: robustness_table [--frames N] [--quick]\n"
        "Frames decoded by the receiver against the Reed-Solomon limit over the simulated\n"
        "channel, for syndromes 8, 32 and 64, unit loss 0-40 %%, byte errors and bursts.\n"
        "  --frames N  frames per row (default 40)\n"
        "  --quick     fewer rows: independent losses and no byte errors only\n"
        "  --row SEED  only the row of this seed, frame by frame\n"
        "  --channel SYNDROMES,LOSS,BYTE_ERRORS,BURST,SEED\n"
        "              one row of these settings (as scripts/soak.py's tonebox has them)\n"
        "Prints a Markdown table; exit status 1 when a correctable frame was missed.\n");
}

}  // namespace

int main(int argc, char** argv) {
    int frames = 40;
    bool quick = false;
    int only = 0;
    std::optional<Row> custom;
    uint64_t customSeed = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            printUsage();
            return 0;
        }
        if (arg == "--quick") {
            quick = true;
        } else if (arg == "--channel" && i + 1 < argc) {
            Row row;
            unsigned long long seed = 0;
            if (std::sscanf(argv[++i], "%d,%lf,%lf,%lf,%llu", &row.syndromes, &row.loss,
                            &row.byteErrors, &row.burst, &seed) != 5 ||
                row.syndromes < 4 || row.syndromes > 254 || !(row.loss >= 0 && row.loss <= 1) ||
                !(row.byteErrors >= 0 && row.byteErrors <= 1) || !(row.burst >= 0)) {
                std::fprintf(stderr,
                             "robustness_table: --channel takes SYNDROMES (4..254),LOSS (0..1),"
                             "BYTE_ERRORS (0..1),BURST,SEED\n");
                return 2;
            }
            custom = row;
            customSeed = seed;
        } else if (arg == "--row" && i + 1 < argc) {
            only = std::atoi(argv[++i]);
        } else if (arg == "--frames" && i + 1 < argc) {
            char* end = nullptr;
            const long value = std::strtol(argv[++i], &end, 10);
            if (end == argv[i] || *end != '\0' || value < 1 || value > 100000) {
                std::fprintf(stderr, "robustness_table: --frames must be 1 to 100000\n");
                return 2;
            }
            frames = static_cast<int>(value);
        } else {
            std::fprintf(stderr, "robustness_table: unknown argument '%s' (see --help)\n", argv[i]);
            return 2;
        }
    }

    const encoder::SourcePicture source = encoder::testCard();
    std::vector<Row> rows;
    const std::vector<double> byteRates =
        quick ? std::vector<double>{0.0} : std::vector<double>{0.0, 0.001, 0.005};
    const std::vector<double> bursts =
        quick ? std::vector<double>{0.0} : std::vector<double>{0.0, 4.0};
    for (int syndromes : {8, 32, 64}) {
        for (double burst : bursts) {
            for (double rate : byteRates) {
                for (int loss = 0; loss <= 40; loss += 10) {
                    rows.push_back(Row{syndromes, loss / 100.0, rate, burst});
                }
            }
        }
    }

    std::printf(
        "| syndromes | t | loss | byte errors | burst | seed | frames | correctable | decoded | "
        "missed | beyond | wrong | dup | hdr hit |\n");
    std::printf("|---|---|---|---|---|---|---|---|---|---|---|---|---|---|\n");
    int missed = 0;
    if (custom) {
        rows = {*custom};
        only = 0;
    }
    uint64_t seed = custom ? customSeed - 1 : 1000;
    for (const Row& row : rows) {
        ++seed;
        if (only != 0 && seed != static_cast<uint64_t>(only)) continue;
        const Tally t = runRow(row, frames, seed, source, only != 0);
        missed += t.missed + t.wrong + t.duplicates;
        std::printf(
            "| %d | %d | %.0f %% | %.3f | %s | %llu | %d | %d | %d | %d | %d | %d | %d | %d |\n",
            row.syndromes, row.syndromes / 2, row.loss * 100.0, row.byteErrors,
            row.burst >= 1.0 ? std::to_string(static_cast<int>(row.burst)).c_str() : "none",
            static_cast<unsigned long long>(seed), t.frames, t.correctable, t.decoded, t.missed,
            t.beyond, t.wrong, t.duplicates, t.headerHits);
        std::fflush(stdout);
    }
    return missed == 0 ? 0 : 1;
}
