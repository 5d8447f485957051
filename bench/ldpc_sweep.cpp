// ldpc_sweep: frame error rate against Eb/N0 of the modem's LDPC codes on BPSK over AWGN, with
// a fixed seed, and the Eb/N0 where each code crosses a frame error rate of 1e-2 (interpolated
// in log FER between the two points around it).
//
// Each point draws random information words, encodes them, sends bit 0 as +1 and bit 1 as -1
// with Gaussian noise of variance 1 / (2 R Eb/N0), and decodes the LLRs 2y / s^2. A frame is in
// error when the decoder gives up or its information bits differ from those sent.

#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "modem/ldpc.h"
#include "modem/splitmix.h"

namespace {

constexpr std::string_view kUsage =
    "Usage: ldpc_sweep [--code normal|robust|K:N]... [--ebn0 LO:HI:STEP] [--frames N]\n"
    "                  [--errors N] [--iterations N] [--normalisation A]\n"
    "                  [--parity-normalisation A] [--seed S]\n"
    "\n"
    "--code           code to measure; repeatable (default: normal and robust)\n"
    "--ebn0           Eb/N0 points in dB (default 0:4:0.25)\n"
    "--frames         most frames per point (default 2000)\n"
    "--errors         stop a point after this many frame errors (default 100)\n"
    "--iterations     decoder's iteration limit (default 50)\n"
    "--normalisation  min-sum scale of the messages to information bits (default: the\n"
    "                 code's own, 0.7 or 0.8)\n"
    "--parity-normalisation\n"
    "                 the same for the messages to parity bits (default 1)\n"
    "--seed           noise and data seed (default 1)\n"
    "\n"
    "Prints one row per point: Eb/N0, frames, frame errors (the decoder gave up or its\n"
    "information bits are wrong), FER, the share of frames with wrong information bits (what\n"
    "the unit checks see), bit error rate of the information bits, mean iterations, mean\n"
    "decode time; then each code's 1e-2 crossing of FER.\n";

bool parseDouble(std::string_view text, double& out) {
    try {
        size_t used = 0;
        out = std::stod(std::string(text), &used);
        return used == text.size();
    } catch (...) {
        return false;
    }
}

bool parseInt(std::string_view text, long long& out) {
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), out);
    return error == std::errc() && end == text.data() + text.size();
}

struct Point {
    double ebn0Db;
    double fer;
};

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::pair<int, int>> codes;
    double lo = 0.0, hi = 4.0, step = 0.25;
    long long frames = 2000, errors = 100, iterations = 50, seed = 1;
    double normalisation = 0.0, parityNormalisation = 1.0;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage.data(), stdout);
            return 0;
        }
        if (i + 1 >= argc) {
            std::fputs(kUsage.data(), stderr);
            return 2;
        }
        const std::string_view value = argv[++i];
        bool ok = true;
        if (arg == "--code") {
            if (value == "normal") {
                codes.emplace_back(modem::kLdpcNormalK, modem::kLdpcNormalN);
            } else if (value == "robust") {
                codes.emplace_back(modem::kLdpcRobustK, modem::kLdpcRobustN);
            } else {
                const size_t colon = value.find(':');
                long long k = 0, n = 0;
                ok = colon != std::string_view::npos && parseInt(value.substr(0, colon), k) &&
                     parseInt(value.substr(colon + 1), n);
                codes.emplace_back(static_cast<int>(k), static_cast<int>(n));
            }
        } else if (arg == "--ebn0") {
            const size_t a = value.find(':');
            const size_t b = a == std::string_view::npos ? a : value.find(':', a + 1);
            ok = b != std::string_view::npos && parseDouble(value.substr(0, a), lo) &&
                 parseDouble(value.substr(a + 1, b - a - 1), hi) &&
                 parseDouble(value.substr(b + 1), step) && step > 0;
        } else if (arg == "--frames") {
            ok = parseInt(value, frames) && frames > 0;
        } else if (arg == "--errors") {
            ok = parseInt(value, errors) && errors > 0;
        } else if (arg == "--iterations") {
            ok = parseInt(value, iterations) && iterations > 0;
        } else if (arg == "--normalisation") {
            ok = parseDouble(value, normalisation) && normalisation > 0 && normalisation <= 1;
        } else if (arg == "--parity-normalisation") {
            ok = parseDouble(value, parityNormalisation) && parityNormalisation > 0 &&
                 parityNormalisation <= 1;
        } else if (arg == "--seed") {
            ok = parseInt(value, seed);
        } else {
            ok = false;
        }
        if (!ok) {
            std::fprintf(stderr, "ldpc_sweep: bad argument %s %s\n%s", argv[i - 1], argv[i],
                         kUsage.data());
            return 2;
        }
    }
    if (codes.empty()) {
        codes.emplace_back(modem::kLdpcNormalK, modem::kLdpcNormalN);
        codes.emplace_back(modem::kLdpcRobustK, modem::kLdpcRobustN);
    }

    for (const auto& [k, n] : codes) {
        const auto built = std::chrono::steady_clock::now();
        std::optional<modem::LdpcCode> code = modem::makeLdpcCode(k, n);
        if (!code) {
            std::fprintf(stderr, "ldpc_sweep: no code for k = %d, n = %d\n", k, n);
            return 2;
        }
        const double buildMs =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - built)
                .count();
        const double rate = static_cast<double>(k) / n;
        std::printf(
            "code (%d, %d), rate %.4f: %d info bits of degree %d, %d of degree 3; "
            "built in %.0f ms\n",
            n, k, rate, code->highCount, code->highDegree, k - code->highCount, buildMs);

        modem::LdpcDecoder decoder(*code,
                                   {static_cast<int>(iterations), static_cast<float>(normalisation),
                                    static_cast<float>(parityNormalisation)});
        std::printf("min-sum scales %.2f (information bits), %.2f (parity bits), %lld iterations\n",
                    decoder.settings().normalisation, decoder.settings().parityNormalisation,
                    iterations);
        std::printf("%8s %7s %6s %10s %10s %10s %6s %8s\n", "Eb/N0", "frames", "errors", "FER",
                    "info FER", "BER", "iters", "ms/word");
        modem::SplitMix64 rng{static_cast<uint64_t>(seed)};
        std::vector<uint8_t> info(static_cast<size_t>(k)), word(static_cast<size_t>(n)),
            decoded(static_cast<size_t>(k));
        std::vector<float> llr(static_cast<size_t>(n));
        std::vector<Point> points;
        for (double ebn0 = lo; ebn0 <= hi + 1e-9; ebn0 += step) {
            const double sigma = std::sqrt(1.0 / (2.0 * rate * std::pow(10.0, ebn0 / 10.0)));
            long long sent = 0, frameErrors = 0, infoErrors = 0, bitErrors = 0, iterationSum = 0;
            double decodeSeconds = 0;
            while (sent < frames && frameErrors < errors) {
                for (auto& bit : info) bit = static_cast<uint8_t>(rng.next() >> 63);
                modem::encodeLdpc(*code, info, word);
                for (size_t i = 0; i < word.size(); ++i) {
                    const double y = (word[i] ? -1.0 : 1.0) + sigma * rng.gaussian();
                    llr[i] = static_cast<float>(2.0 * y / (sigma * sigma));
                }
                const auto start = std::chrono::steady_clock::now();
                const modem::LdpcDecodeResult result = decoder.process(llr, decoded);
                decodeSeconds +=
                    std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
                long long wrong = 0;
                for (size_t i = 0; i < info.size(); ++i) wrong += info[i] != decoded[i];
                bitErrors += wrong;
                frameErrors += (!result.ok || wrong != 0) ? 1 : 0;
                infoErrors += wrong != 0 ? 1 : 0;
                iterationSum += result.iterations;
                ++sent;
            }
            const double fer = static_cast<double>(frameErrors) / static_cast<double>(sent);
            std::printf("%8.2f %7lld %6lld %10.2e %10.2e %10.2e %6.1f %8.3f\n", ebn0, sent,
                        frameErrors, fer,
                        static_cast<double>(infoErrors) / static_cast<double>(sent),
                        static_cast<double>(bitErrors) / static_cast<double>(sent * k),
                        static_cast<double>(iterationSum) / static_cast<double>(sent),
                        1e3 * decodeSeconds / static_cast<double>(sent));
            std::fflush(stdout);
            points.push_back({ebn0, fer});
            if (frameErrors == 0) break;
        }
        std::optional<double> crossing;
        for (size_t i = 1; i < points.size() && !crossing; ++i) {
            const Point& a = points[i - 1];
            const Point& b = points[i];
            if (a.fer >= 1e-2 && b.fer < 1e-2) {
                const double la = std::log10(a.fer);
                const double lb = b.fer > 0 ? std::log10(b.fer) : la - 2.0;
                crossing = a.ebn0Db + (b.ebn0Db - a.ebn0Db) * (la + 2.0) / (la - lb);
            }
        }
        if (crossing) {
            std::printf("FER 1e-2 at Eb/N0 = %.2f dB\n\n", *crossing);
        } else {
            std::printf("FER 1e-2 not crossed in the range\n\n");
        }
    }
    return 0;
}
