// quality_sweep: PSNR against bytes for Vistrel's settings and the peers' quality scales on the
// same pictures, as CSV for scripts/quality_sweep.py (which draws the tables and the plot of
// docs/QUALITY.md); and the air-time fit against an exhaustive search of its full grid.

#include <QImage>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <numbers>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "bench/peer_codecs.h"
#include "encoder/air_time.h"
#include "encoder/encode_frame.h"
#include "encoder/test_pictures.h"

namespace {

using namespace encoder;

constexpr std::string_view kUsage =
    "Usage: quality_sweep points CSV [PICTURE...]\n"
    "       quality_sweep fitcheck CSV\n"
    "\n"
    "points    every Vistrel setting of the sweep grid (wavelet, factors 2/2 and 4/4,\n"
    "          thresholds 0, 20, 50, 100, quantisers 1..65; syndromes 32), every AV1\n"
    "          quality 0..63 in 4:4:4 and 4:2:0 (the send speed) and every step of the\n"
    "          peers' quality scales, on each picture at 64, 128 and 256: coded bytes,\n"
    "          frame-string bytes, PSNR (RGB and luma) against the N x N picture. PICTURE\n"
    "          files (any format Qt reads) join the generated ones, named by their file\n"
    "          name: the middle square of each, smoothly scaled to 256 x 256\n"
    "fitcheck  fitAirTime against searchGridExhaustively over the full 8580-point grid,\n"
    "          with the time each took\n"
    "av1fit    fitAv1AirTime against every AV1 quality 0..63 (4:4:4), on each picture\n"
    "          (PICTURE files too) at 64, 128 and 256, three air times each\n"
    "\n"
    "Pictures: the generated test card and gradient, and 'landscape', fractal noise made here\n"
    "(seed 7) for the statistics of a photograph. Writes CSV to the named file; exit status 0\n"
    "on success, 1 when the file cannot be written, 2 on wrong usage.\n";

// Value noise on a lattice of the given cell size, bilinear between lattice points.
double latticeNoise(uint64_t seed, double x, double y) {
    const auto hash = [seed](int64_t i, int64_t j) {
        uint64_t z = seed ^ (static_cast<uint64_t>(i) * 0x9E3779B97F4A7C15ull) ^
                     (static_cast<uint64_t>(j) * 0xC2B2AE3D27D4EB4Full);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return static_cast<double>((z ^ (z >> 31)) >> 11) / 9007199254740992.0;
    };
    const double fx = std::floor(x);
    const double fy = std::floor(y);
    const auto i = static_cast<int64_t>(fx);
    const auto j = static_cast<int64_t>(fy);
    const double u = x - fx;
    const double v = y - fy;
    const double top = hash(i, j) * (1 - u) + hash(i + 1, j) * u;
    const double bottom = hash(i, j + 1) * (1 - u) + hash(i + 1, j + 1) * u;
    return top * (1 - v) + bottom * v;
}

// Octaves of value noise with amplitude halving as frequency doubles: the 1/f spectrum of
// natural scenes, 0..1.
double fractal(uint64_t seed, double x, double y) {
    double sum = 0.0;
    double amplitude = 0.5;
    double scale = 1.0 / 64.0;
    for (int octave = 0; octave < 7; ++octave) {
        sum += amplitude * latticeNoise(seed + octave, x * scale, y * scale);
        amplitude /= 2;
        scale *= 2;
    }
    return sum / (1.0 - std::pow(0.5, 7));
}

// Sky above a wavy horizon, textured ground below, a dark tree-like blob: smooth areas, edges
// and texture in the proportions of an outdoor photograph.
SourcePicture landscape() {
    SourcePicture p;
    constexpr uint64_t kSeed = 7;
    for (int y = 0; y < kSourceSide; ++y) {
        for (int x = 0; x < kSourceSide; ++x) {
            const double horizon =
                110 + 30 * fractal(kSeed + 100, x, 0) + 8 * std::sin(x * std::numbers::pi / 64);
            double r, g, b;
            if (y < horizon) {
                const double t = y / horizon;
                const double cloud = std::max(0.0, fractal(kSeed + 200, x, y * 2) - 0.55) * 2.5;
                r = 90 + 80 * t + 150 * cloud;
                g = 140 + 60 * t + 110 * cloud;
                b = 220 + 20 * t + 30 * cloud;
            } else {
                const double t = fractal(kSeed + 300, x * 2, y * 2);
                const double d = (y - horizon) / (kSourceSide - horizon);
                r = 60 + 90 * t + 40 * d;
                g = 90 + 100 * t - 20 * d;
                b = 30 + 50 * t;
            }
            const double dx = x - 180.0;
            const double dy = y - 120.0;
            const double tree = std::sqrt(dx * dx / 900 + dy * dy / 2500) +
                                0.4 * fractal(kSeed + 400, x * 3, y * 3);
            if (tree < 1.0) {
                const double t = fractal(kSeed + 500, x * 4, y * 4);
                r = 20 + 40 * t;
                g = 50 + 70 * t;
                b = 20 + 30 * t;
            }
            const auto clamp = [](double v) {
                return static_cast<uint8_t>(std::lround(std::min(255.0, std::max(0.0, v))));
            };
            p.set(x, y, clamp(r), clamp(g), clamp(b));
        }
    }
    return p;
}

struct NamedPicture {
    std::string name;
    SourcePicture picture;
};

// The middle square of a picture file, smoothly scaled to the source square; nullopt when Qt
// cannot read it.
std::optional<SourcePicture> pictureFile(const std::string& path) {
    QImage image(QString::fromStdString(path));
    if (image.isNull()) return std::nullopt;
    const int side = std::min(image.width(), image.height());
    image = image.copy((image.width() - side) / 2, (image.height() - side) / 2, side, side)
                .scaled(kSourceSide, kSourceSide, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                .convertToFormat(QImage::Format_RGB32);
    SourcePicture p;
    for (int y = 0; y < kSourceSide; ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = 0; x < kSourceSide; ++x) {
            p.set(x, y, static_cast<uint8_t>(qRed(line[x])), static_cast<uint8_t>(qGreen(line[x])),
                  static_cast<uint8_t>(qBlue(line[x])));
        }
    }
    return p;
}

std::vector<NamedPicture> pictures(const std::vector<std::string>& files = {}) {
    std::vector<NamedPicture> all{
        {"card", testCard()}, {"gradient", gradient()}, {"landscape", landscape()}};
    for (const std::string& file : files) {
        std::optional<SourcePicture> p = pictureFile(file);
        if (!p) {
            std::fprintf(stderr, "quality_sweep: cannot read '%s'; left out\n", file.c_str());
            continue;
        }
        std::string name = file.substr(file.find_last_of('/') + 1);
        name = name.substr(0, name.find('.'));
        all.push_back({name, std::move(*p)});
    }
    return all;
}

std::string settingsText(const EncoderSettings& s) {
    return std::string(1, static_cast<char>(waveletLetter(s.wavelet))) + " " +
           std::to_string(s.redFactor) + "/" + std::to_string(s.blueFactor) + " T" +
           std::to_string(s.threshold) + " q" + std::to_string(s.quantiser);
}

int points(std::FILE* out, const std::vector<std::string>& files) {
    std::fprintf(out, "picture,n,codec,setting,coded_bytes,air_bytes,rgb_db,luma_db\n");
    for (const NamedPicture& p : pictures(files)) {
        for (const int n : {64, 128, 256}) {
            const Picture reference = referencePicture(p.picture, n);
            std::fprintf(stderr, "quality_sweep: %s at %d\n", p.name.c_str(), n);
            for (const Wavelet w : {Wavelet::Haar, Wavelet::D4, Wavelet::Cdf97}) {
                for (const int f : {2, 4}) {
                    for (const int t : {0, 20, 50, 100}) {
                        for (int q = 1; q <= 65; ++q) {
                            EncoderSettings s;
                            s.frameSize = n;
                            s.wavelet = w;
                            s.redFactor = s.blueFactor = f;
                            s.threshold = t;
                            s.quantiser = q;
                            EncoderState state;
                            const EncodeResult r = ENCODEFRAME(s, p.picture, state, kEncodePreview);
                            if (r.error != EncodeError::None) continue;
                            std::fprintf(out, "%s,%d,Vistrel,%s,%zu,%zu,%.3f,%.3f\n",
                                         p.name.c_str(), n, settingsText(s).c_str(), r.coded.size(),
                                         r.frame.size(), psnrDb(r.preview, reference),
                                         lumaPsnrDb(r.preview, reference));
                        }
                    }
                }
            }
            // The AV1 payload in the same frame, through ENCODEFRAME like the wavelets.
            for (const int chroma : {kAv1Chroma444, kAv1Chroma420}) {
                for (int quality = 0; quality <= kAv1MaxQuality; ++quality) {
                    EncoderSettings s;
                    s.frameSize = n;
                    s.wavelet = Wavelet::Av1;
                    s.av1Chroma = chroma;
                    s.quantiser = quality + 1;
                    EncoderState state;
                    const EncodeResult r = ENCODEFRAME(s, p.picture, state, kEncodePreview);
                    if (r.error != EncodeError::None) continue;
                    std::fprintf(out, "%s,%d,%s,quality %d,%zu,%zu,%.3f,%.3f\n", p.name.c_str(), n,
                                 chroma == kAv1Chroma444 ? "Av1-444" : "Av1-420", quality,
                                 r.coded.size(), r.frame.size(), psnrDb(r.preview, reference),
                                 lumaPsnrDb(r.preview, reference));
                }
            }
            const std::vector<uint8_t> rgb = bench::rgbBytes(reference);
            for (const bench::Peer& peer : bench::peers()) {
                for (const int setting : peer.settings) {
                    const std::vector<uint8_t> coded = peer.encode(rgb, n, setting);
                    const Picture back = bench::pictureFromRgb(peer.decode(coded, n), n);
                    if (back.size != n) continue;
                    std::fprintf(out, "%s,%d,%s,%s %d,%zu,%zu,%.3f,%.3f\n", p.name.c_str(), n,
                                 peer.name, peer.settingName, setting, coded.size(), coded.size(),
                                 psnrDb(back, reference), lumaPsnrDb(back, reference));
                }
            }
        }
    }
    return 0;
}

int fitcheck(std::FILE* out) {
    std::fprintf(out,
                 "picture,n,syndromes,air_s,fit_settings,fit_db,fit_bytes,fit_points,fit_ms,"
                 "best_settings,best_db,best_bytes,search_ms\n");
    struct Case {
        int n;
        int syndromes;
        std::vector<double> seconds;
    };
    const Case cases[] = {{48, 32, {8, 12, 20}}, {64, 32, {10, 14, 24}}, {256, 8, {25, 40}}};
    for (const NamedPicture& p : pictures()) {
        for (const Case& c : cases) {
            for (const double seconds : c.seconds) {
                std::fprintf(stderr, "quality_sweep: fit %s at %d, %.0f s\n", p.name.c_str(), c.n,
                             seconds);
                EncoderSettings base;
                base.frameSize = c.n;
                base.syndromes = c.syndromes;
                const auto t0 = std::chrono::steady_clock::now();
                const AirTimeFit fit = fitAirTime(base, p.picture, seconds);
                const auto t1 = std::chrono::steady_clock::now();
                const AirTimeFit best = searchGridExhaustively(base, p.picture, seconds);
                const auto t2 = std::chrono::steady_clock::now();
                const auto ms = [](auto d) {
                    return std::chrono::duration<double, std::milli>(d).count();
                };
                std::fprintf(out, "%s,%d,%d,%.0f,%s,%.3f,%zu,%d,%.1f,%s,%.3f,%zu,%.0f\n",
                             p.name.c_str(), c.n, c.syndromes, seconds,
                             fit.found ? settingsText(fit.settings).c_str() : "none", fit.psnrDb,
                             fit.frameBytes, fit.evaluations, ms(t1 - t0),
                             best.found ? settingsText(best.settings).c_str() : "none", best.psnrDb,
                             best.frameBytes, ms(t2 - t1));
                std::fflush(out);
            }
        }
    }
    return 0;
}

int av1fit(std::FILE* out, const std::vector<std::string>& files) {
    std::fprintf(out,
                 "picture,n,air_s,fit_quality,fit_db,fit_bytes,fit_encodes,fit_ms,"
                 "best_quality,best_db,best_bytes\n");
    for (const NamedPicture& p : pictures(files)) {
        for (const int n : {64, 128, 256}) {
            std::fprintf(stderr, "quality_sweep: AV1 fit %s at %d\n", p.name.c_str(), n);
            // Every quality once: the frame lengths and PSNRs the fit is judged against.
            std::vector<std::pair<size_t, double>> all;
            for (int q = 0; q <= kAv1MaxQuality; ++q) {
                EncoderSettings s;
                s.frameSize = n;
                s.wavelet = Wavelet::Av1;
                s.quantiser = q + 1;
                EncoderState state;
                const EncodeResult r = ENCODEFRAME(s, p.picture, state, kEncodePreview);
                all.emplace_back(r.error == EncodeError::None ? r.frame.size() : SIZE_MAX,
                                 psnrDb(r.preview, referencePicture(p.picture, n)));
            }
            const double shortest = double(all.back().first) / kBytesPerSecond;
            for (const double factor : {1.1, 1.5, 2.5}) {
                const double seconds = std::ceil(shortest * factor);
                EncoderSettings base;
                base.frameSize = n;
                base.wavelet = Wavelet::Av1;
                const auto t0 = std::chrono::steady_clock::now();
                const AirTimeFit fit = fitAv1AirTime(base, p.picture, seconds);
                const double ms =
                    std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0)
                        .count();
                int best = -1;
                for (int q = 0; q <= kAv1MaxQuality; ++q) {
                    if (double(all[q].first) > seconds * kBytesPerSecond) continue;
                    if (best < 0 || all[q].second > all[best].second) best = q;
                }
                std::fprintf(out, "%s,%d,%.0f,%d,%.3f,%zu,%d,%.1f,%d,%.3f,%zu\n", p.name.c_str(), n,
                             seconds, fit.found ? av1Quality(fit.settings.quantiser) : -1,
                             fit.psnrDb, fit.frameBytes, fit.evaluations, ms, best,
                             best >= 0 ? all[best].second : 0.0,
                             best >= 0 ? all[best].first : size_t{0});
                std::fflush(out);
            }
        }
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string_view> args(argv + 1, argv + argc);
    for (const std::string_view a : args) {
        if (a == "-h" || a == "--help") {
            std::fputs(kUsage.data(), stdout);
            return 0;
        }
    }
    if (args.size() < 2 || (args[0] != "points" && args[0] != "fitcheck" && args[0] != "av1fit") ||
        (args[0] == "fitcheck" && args.size() != 2)) {
        std::fputs(kUsage.data(), stderr);
        return 2;
    }
    // Written to a temporary name and renamed, so that a failed run leaves an old file whole.
    const std::string path(args[1]);
    const std::string partial = path + ".partial";
    std::FILE* out = std::fopen(partial.c_str(), "w");
    if (out == nullptr) {
        std::fprintf(stderr, "quality_sweep: cannot write '%s'\n", partial.c_str());
        return 1;
    }
    const std::vector<std::string> files(args.begin() + 2, args.end());
    const int status = args[0] == "points"   ? points(out, files)
                       : args[0] == "av1fit" ? av1fit(out, files)
                                             : fitcheck(out);
    if (std::fclose(out) != 0 || std::rename(partial.c_str(), path.c_str()) != 0) {
        std::fprintf(stderr, "quality_sweep: cannot write '%s'\n", path.c_str());
        return 1;
    }
    return status;
}
