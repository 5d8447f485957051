#include "encoder/air_time.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <future>
#include <optional>
#include <span>
#include <system_error>

#include "av1/av1_payload.h"
#include "codec/wavelet.h"
#include "encoder/colour.h"
#include "encoder/decode_frame.h"
#include "encoder/frame_format.h"
#include "encoder/quantise.h"
#include "encoder/transform.h"

namespace encoder {
namespace {

constexpr double kEqualPsnrDb = 99.0;
constexpr double kPeak = 255.0;
constexpr int kQuantiserMin = 1;
constexpr int kQuantiserMax = 65;
// Quantisers decoded around a leader's estimated best (positions in the grid's list), and
// around the best point found.
constexpr ptrdiff_t kWindowBelow = 3;
constexpr ptrdiff_t kWindowAbove = 4;
constexpr ptrdiff_t kNeighbours = 3;
// Quantisers between the estimates of a combination's first pass over its coarser quantisers.
constexpr size_t kEstimateStride = 4;
// How far the estimated coded length may be from ARITHCODE's before the coder is run to tell
// which frame length it gives. Over 4 pictures, 4 sizes, 3 wavelets, 4 quantisers and 2
// thresholds the two never differed by more than one byte; four is a margin of safety.
constexpr double kMarginBytes = 4.0;

// Sum of squared errors of the red, green and blue samples for a luma error of 1 and for
// colour-difference errors of 1 (undoubled): R = Y + 1.4 Cr, B = Y + 1.77 Cb,
// G = Y - 0.7 Cr - 0.295 Cb.
constexpr double kLumaWeight = 3.0;
constexpr double kRedWeight = 1.4 * 1.4 + 0.7 * 0.7;
constexpr double kBlueWeight = 1.77 * 1.77 + 0.295 * 0.295;

int waveletIndex(Wavelet w) { return static_cast<int>(w); }
// Chroma goes through Haar with Haar and through D4 with D4 and CDF 9/7.
int chromaIndex(Wavelet w) { return w == Wavelet::Haar ? 0 : 1; }
int factorIndex(int f) { return f == 2 ? 0 : 1; }

struct ValueCount {
    int32_t value;
    uint32_t count;
};

// The distinct coefficient values of a plane with their counts: the estimates run over these,
// a few thousand, instead of every coefficient.
std::vector<ValueCount> valueCounts(const codec::Plane& plane) {
    std::vector<ValueCount> out;
    if (plane.samples.empty()) return out;
    const auto [lo, hi] = std::minmax_element(plane.samples.begin(), plane.samples.end());
    const int64_t span = static_cast<int64_t>(*hi) - *lo + 1;
    constexpr int64_t kDenseLimit = int64_t{1} << 22;
    if (span <= kDenseLimit) {
        std::vector<uint32_t> counts(static_cast<size_t>(span), 0);
        for (const int32_t v : plane.samples) ++counts[static_cast<size_t>(v - *lo)];
        for (size_t i = 0; i < counts.size(); ++i) {
            if (counts[i] != 0) {
                out.push_back({static_cast<int32_t>(*lo + static_cast<int64_t>(i)), counts[i]});
            }
        }
        return out;
    }
    std::vector<int32_t> sorted = plane.samples;
    std::sort(sorted.begin(), sorted.end());
    for (const int32_t v : sorted) {
        if (out.empty() || out.back().value != v) {
            out.push_back({v, 1});
        } else {
            ++out.back().count;
        }
    }
    return out;
}

// One combination of the grid: everything but the quantiser.
struct Combination {
    Wavelet wavelet = Wavelet::Cdf97;
    int redFactor = 4;
    int blueFactor = 4;
    int threshold = 0;
};

// What the receiver's picture needs from one source square at one frame size: the transformed
// planes of every wavelet and factor, shared by all thresholds and quantisers (the transforms do
// not depend on either: Haar's own threshold zeroes the same coefficients the quantiser's does).
struct Prepared {
    int n = 0;
    Picture reference;
    std::array<codec::Plane, 3> luma;                   // by wavelet
    std::array<std::array<codec::Plane, 2>, 2> red;     // by chroma transform, then factor
    std::array<std::array<codec::Plane, 2>, 2> blue;    // by chroma transform, then factor
    std::array<std::vector<ValueCount>, 3> lumaValues;  // filled for the estimates only
    std::array<std::array<std::vector<ValueCount>, 2>, 2> redValues;
    std::array<std::array<std::vector<ValueCount>, 2>, 2> blueValues;
    // Squared error, summed over the frame in undoubled colour-difference units, that chroma
    // subsampling and smoothing alone cause, by factor.
    std::array<double, 2> redBase{};
    std::array<double, 2> blueBase{};
};

// Sums of red, green and blue over the source block that frame pixel (i, j) covers.
struct BlockSums {
    int red = 0;
    int green = 0;
    int blue = 0;
};

BlockSums blockSums(const SourcePicture& source, const SourceWindow& w, int i, int j) {
    BlockSums sums;
    for (int y = w.y0 + w.block * j; y < w.y0 + w.block * (j + 1); ++y) {
        for (int x = w.x0 + w.block * i; x < w.x0 + w.block * (i + 1); ++x) {
            sums.red += source.red(x, y);
            sums.green += source.green(x, y);
            sums.blue += source.blue(x, y);
        }
    }
    return sums;
}

// Full-resolution colour differences of the frame, undoubled.
struct FullChroma {
    codec::Plane red;
    codec::Plane blue;
};

FullChroma fullChroma(const SourcePicture& source, int n) {
    const SourceWindow w = sourceWindow(n);
    FullChroma out{codec::Plane(n, n), codec::Plane(n, n)};
    for (int j = 0; j < n; ++j) {
        for (int i = 0; i < n; ++i) {
            const auto [sr, sg, sb] = blockSums(source, w, i, j);
            const Ycc c = blockColour(sr, sg, sb, w.block);
            out.red.at(i, j) = c.cr;
            out.blue.at(i, j) = c.cb;
        }
    }
    return out;
}

double subsamplingError(const codec::Plane& full, const codec::Plane& sub, int factor, int n) {
    const std::vector<int32_t> smoothed = smoothChroma(sub, factor, n);
    double sum = 0.0;
    for (size_t i = 0; i < smoothed.size() && i < full.samples.size(); ++i) {
        const double e = full.samples[i] - smoothed[i] / 2.0;
        sum += e * e;
    }
    return sum;
}

bool gridWants(const std::vector<Wavelet>& list, Wavelet w) {
    return std::find(list.begin(), list.end(), w) != list.end();
}

Prepared prepare(const SourcePicture& source, int n, const FitGrid& grid, bool estimates) {
    Prepared p;
    p.n = n;
    p.reference = referencePicture(source, n);
    std::array<bool, 2> factorUsed{};
    for (const auto& [r, b] : grid.factors) {
        if (isChromaFactor(r)) factorUsed[factorIndex(r)] = true;
        if (isChromaFactor(b)) factorUsed[factorIndex(b)] = true;
    }
    std::array<YccPlanes, 2> planes;
    for (int fi = 0; fi < 2; ++fi) {
        if (!factorUsed[fi]) continue;
        const int f = fi == 0 ? 2 : 4;
        planes[fi] = convertColour(source, PictureParams{n, Wavelet::Cdf97, f, f, kBaseStep + 1});
    }
    const int lumaFrom = factorUsed[1] ? 1 : 0;
    for (const Wavelet w : {Wavelet::Haar, Wavelet::D4, Wavelet::Cdf97}) {
        if (!gridWants(grid.wavelets, w) || !factorUsed[lumaFrom]) continue;
        codec::Plane luma = planes[lumaFrom].luma;
        switch (w) {
            case Wavelet::Haar:
                forwardHaar(luma, 0);
                break;
            case Wavelet::D4:
                forwardD4(luma, n);
                break;
            case Wavelet::Cdf97:
                forwardCdf97(luma);
                break;
            case Wavelet::Av1:
                break;  // not on the wavelets' grid
        }
        if (estimates) p.lumaValues[waveletIndex(w)] = valueCounts(luma);
        p.luma[waveletIndex(w)] = std::move(luma);
    }
    const bool haar = gridWants(grid.wavelets, Wavelet::Haar);
    const bool d4 =
        gridWants(grid.wavelets, Wavelet::D4) || gridWants(grid.wavelets, Wavelet::Cdf97);
    const FullChroma full = estimates ? fullChroma(source, n) : FullChroma{};
    for (int fi = 0; fi < 2; ++fi) {
        if (!factorUsed[fi]) continue;
        const int f = fi == 0 ? 2 : 4;
        if (estimates) {
            p.redBase[fi] = subsamplingError(full.red, planes[fi].red, f, n);
            p.blueBase[fi] = subsamplingError(full.blue, planes[fi].blue, f, n);
        }
        for (int ci = 0; ci < 2; ++ci) {
            if ((ci == 0 && !haar) || (ci == 1 && !d4)) continue;
            codec::Plane red = planes[fi].red;
            codec::Plane blue = planes[fi].blue;
            if (ci == 0) {
                forwardHaar(red, 0);
                forwardHaar(blue, 0);
            } else {
                forwardD4(red, n);
                forwardD4(blue, n);
            }
            if (estimates) {
                p.redValues[ci][fi] = valueCounts(red);
                p.blueValues[ci][fi] = valueCounts(blue);
            }
            p.red[ci][fi] = std::move(red);
            p.blue[ci][fi] = std::move(blue);
        }
    }
    return p;
}

EncoderSettings withPoint(const EncoderSettings& base, const Combination& c, int quantiser) {
    EncoderSettings s = base;
    s.wavelet = c.wavelet;
    s.redFactor = c.redFactor;
    s.blueFactor = c.blueFactor;
    s.threshold = c.threshold;
    s.quantiser = quantiser;
    return s;
}

std::vector<uint8_t> coefficientBytes(const Prepared& p, const Combination& c, int quantiser) {
    const int ci = chromaIndex(c.wavelet);
    return serialise(p.luma[waveletIndex(c.wavelet)], p.red[ci][factorIndex(c.redFactor)],
                     p.blue[ci][factorIndex(c.blueFactor)], c.threshold, kBaseStep + quantiser);
}

struct Exact {
    size_t frameBytes = 0;  // 0: rejected by the size check or the coder
    std::vector<uint8_t> coefficients;
};

Exact codeExactly(const Prepared& p, const EncoderSettings& base, const Combination& c,
                  int quantiser) {
    Exact e;
    e.coefficients = coefficientBytes(p, c, quantiser);
    const std::vector<uint8_t> coded = codeCoefficients(e.coefficients);
    if (!coded.empty()) {
        e.frameBytes = frameBytesFor(coded.size(), base.syndromes, !base.message.empty());
    }
    return e;
}

double decodedPsnr(const Prepared& p, const Combination& c, int quantiser,
                   std::span<const uint8_t> coefficients) {
    const PictureParams params{p.n, c.wavelet, c.redFactor, c.blueFactor, kBaseStep + quantiser};
    return psnrDb(decodeCoefficients(coefficients, params).picture, p.reference);
}

bool validCombination(const Combination& c) {
    return isChromaFactor(c.redFactor) && isChromaFactor(c.blueFactor) && c.threshold >= 0 &&
           c.threshold <= 100;
}

std::vector<Combination> combinations(const FitGrid& grid) {
    std::vector<Combination> out;
    for (const Wavelet w : grid.wavelets) {
        for (const auto& [r, b] : grid.factors) {
            for (const int t : grid.thresholds) {
                const Combination c{w, r, b, t};
                if (validCombination(c)) out.push_back(c);
            }
        }
    }
    return out;
}

// The grid's quantisers inside 1..65, finest first, each once.
std::vector<int> quantiserList(const FitGrid& grid) {
    std::vector<int> out;
    for (const int q : grid.quantisers) {
        if (q >= kQuantiserMin && q <= kQuantiserMax) out.push_back(q);
    }
    std::sort(out.begin(), out.end());
    out.erase(std::unique(out.begin(), out.end()), out.end());
    return out;
}

// The coder's output for a byte histogram, from the model alone. Every byte starts with a count
// of 1 and the end symbol with 1, and counts are never rescaled, so the probability of the whole
// stream is the same in any order: prod(n_s!) / ((256 + M)! / 256!) / (257 + M). The coder's
// integer steps lose a few bits more over a frame; the chosen point is coded exactly anyway.
struct Estimate {
    double codedBytes = 0.0;
    double squaredError = 0.0;  // over the red, green and blue samples of the frame
};

class Estimator {
public:
    Estimator(const Prepared& p, const std::vector<int>& quantisers) : p_(p) {
        for (const int q : quantisers) {
            std::array<int32_t, 256> back{};
            for (int b = 0; b < 256; ++b) {
                back[b] = dequantise(static_cast<uint8_t>(b), kBaseStep + q);
            }
            back_.push_back(back);
        }
        const size_t n = static_cast<size_t>(p.n);
        const size_t most = n * n + 2 * (n / 2) * (n / 2) + 257;
        log2Factorial_.resize(most + 1);
        double sum = 0.0;
        for (size_t k = 1; k <= most; ++k) {
            sum += std::log2(static_cast<double>(k));
            log2Factorial_[k] = sum;
        }
    }

    // Coded length of coefficient bytes in full, as the model would spend it.
    [[nodiscard]] double codedBytes(std::span<const uint8_t> bytes) const {
        std::array<uint32_t, 256> histogram{};
        for (const uint8_t b : bytes) ++histogram[b];
        return lengthOf(histogram, bytes.size());
    }

    // index: position of the quantiser in the list given to the constructor.
    Estimate at(const Combination& c, int quantiser, size_t index) const {
        const int step = kBaseStep + quantiser;
        const std::array<int32_t, 256>& back = back_[index];
        std::array<uint32_t, 256> histogram{};
        uint64_t total = 0;
        const auto run = [&](const std::vector<ValueCount>& values) {
            double sum = 0.0;
            for (const ValueCount& vc : values) {
                const uint8_t b = quantise(vc.value, c.threshold, step);
                histogram[b] += vc.count;
                total += vc.count;
                const double e = static_cast<double>(vc.value) - back[b];
                sum += e * e * vc.count;
            }
            return sum;
        };
        const int ci = chromaIndex(c.wavelet);
        const int ri = factorIndex(c.redFactor);
        const int bi = factorIndex(c.blueFactor);
        const double luma = run(p_.lumaValues[waveletIndex(c.wavelet)]);
        // A subsampled chroma error covers factor^2 pixels and is doubled.
        const double red =
            run(p_.redValues[ci][ri]) * c.redFactor * c.redFactor / 4.0 + p_.redBase[ri];
        const double blue =
            run(p_.blueValues[ci][bi]) * c.blueFactor * c.blueFactor / 4.0 + p_.blueBase[bi];
        Estimate e;
        e.codedBytes = lengthOf(histogram, total);
        e.squaredError = kLumaWeight * luma + kRedWeight * red + kBlueWeight * blue;
        return e;
    }

private:
    [[nodiscard]] double lengthOf(const std::array<uint32_t, 256>& histogram,
                                  uint64_t total) const {
        if (256 + total >= log2Factorial_.size()) return 1e30;
        double bits = log2Factorial_[256 + total] - log2Factorial_[256] +
                      std::log2(static_cast<double>(257 + total));
        for (const uint32_t count : histogram) bits -= log2Factorial_[count];
        constexpr double kMarkBytes = 4.0;
        constexpr double kFlushBits = 2.0;
        return kMarkBytes + std::ceil((bits + kFlushBits) / 8.0);
    }

    const Prepared& p_;
    std::vector<std::array<int32_t, 256>> back_;  // dequantised bytes by quantiser
    std::vector<double> log2Factorial_;           // log2(k!) for k up to every count met
};

// The shortest frame the grid offers, coded exactly; 0 when even that is rejected. With an
// estimator, only the combination it finds shortest is coded.
size_t smallestFrame(const Prepared& p, const EncoderSettings& base, const FitGrid& grid,
                     const Estimator* estimator) {
    const std::vector<int> quantisers = quantiserList(grid);
    if (quantisers.empty() || grid.thresholds.empty()) return 0;
    const int threshold = *std::max_element(grid.thresholds.begin(), grid.thresholds.end());
    std::optional<Combination> shortest;
    double shortestBytes = 0.0;
    size_t best = 0;
    for (const Wavelet w : grid.wavelets) {
        for (const auto& [r, b] : grid.factors) {
            const Combination c{w, r, b, threshold};
            if (!validCombination(c)) continue;
            if (estimator != nullptr) {
                const double bytes =
                    estimator->at(c, quantisers.back(), quantisers.size() - 1).codedBytes;
                if (!shortest || bytes < shortestBytes) {
                    shortest = c;
                    shortestBytes = bytes;
                }
                continue;
            }
            const size_t bytes = codeExactly(p, base, c, quantisers.back()).frameBytes;
            if (bytes != 0 && (best == 0 || bytes < best)) best = bytes;
        }
    }
    if (shortest) best = codeExactly(p, base, *shortest, quantisers.back()).frameBytes;
    return best;
}

struct Candidate {
    Combination combination;
    size_t index = 0;   // of the estimate's best quantiser in the grid's list
    size_t finest = 0;  // of the finest quantiser whose estimated frame fits
    double squaredError = 0.0;
};

void consider(AirTimeFit& best, const EncoderSettings& base, const Combination& c, int quantiser,
              double psnr, size_t frameBytes) {
    if (best.found && psnr <= best.psnrDb) return;
    best.found = true;
    best.settings = withPoint(base, c, quantiser);
    best.psnrDb = psnr;
    best.frameBytes = frameBytes;
    best.airTimeSeconds = static_cast<double>(frameBytes) / kBytesPerSecond;
}

bool usable(const EncoderSettings& base) {
    EncoderSettings probe = base;
    probe.wavelet = Wavelet::Cdf97;
    probe.redFactor = 4;
    probe.blueFactor = 4;
    probe.threshold = 0;
    probe.quantiser = 1;
    return isValid(probe);
}

}  // namespace

FitGrid fullFitGrid() {
    FitGrid g;
    g.wavelets = {Wavelet::Haar, Wavelet::D4, Wavelet::Cdf97};
    g.factors = {{2, 2}, {2, 4}, {4, 2}, {4, 4}};
    g.thresholds = {0, 10, 15, 20, 25, 30, 40, 50, 60, 80, 100};
    for (int q = kQuantiserMin; q <= kQuantiserMax; ++q) g.quantisers.push_back(q);
    return g;
}

size_t frameBytesWithin(double airTimeSeconds) {
    if (!(airTimeSeconds > 0.0)) return 0;
    // A hair above the product, so that 17.9 s of air admits the 4475 bytes it means.
    return static_cast<size_t>(std::floor(airTimeSeconds * kBytesPerSecond + 1e-6));
}

size_t frameBytesFor(size_t codedBytes, int syndromes, bool message) {
    const int t = syndromes / 2;
    const size_t L = codedBytes + 4;
    if (t < 1 || t > 127 || L > 10200 || !passesSizeCheck(static_cast<int>(L), t)) return 0;
    // End marker and 1..39 fill bytes make the payload a multiple of the 39 rows.
    const int r = static_cast<int>((L + kEndMarker.size()) / kCodewords + 1);
    return frameStringLength(2 * t + r, message);
}

Picture referencePicture(const SourcePicture& source, int frameSize) {
    if (!isFrameSize(frameSize) || source.bgr.size() != kSourceBytes) return Picture();
    const SourceWindow w = sourceWindow(frameSize);
    const int shift = w.block == 4 ? 4 : w.block == 2 ? 2 : 0;
    Picture out(frameSize);
    for (int j = 0; j < frameSize; ++j) {
        for (int i = 0; i < frameSize; ++i) {
            const auto [sr, sg, sb] = blockSums(source, w, i, j);
            const auto mean = [shift](int sum) {
                return shift == 0 ? sum : static_cast<int>(codec::roundedShift(sum, shift));
            };
            out.at(i, j) = packRgb(mean(sr), mean(sg), mean(sb));
        }
    }
    return out;
}

double psnrDb(const Picture& a, const Picture& b) {
    if (a.size != b.size || a.pixels.size() != b.pixels.size() || a.pixels.empty()) return 0.0;
    uint64_t sum = 0;
    for (size_t i = 0; i < a.pixels.size(); ++i) {
        const uint32_t p = a.pixels[i];
        const uint32_t q = b.pixels[i];
        for (int shift = 0; shift < 24; shift += 8) {
            const int e =
                static_cast<int>((p >> shift) & 0xFF) - static_cast<int>((q >> shift) & 0xFF);
            sum += static_cast<uint64_t>(e * e);
        }
    }
    if (sum == 0) return kEqualPsnrDb;
    const double mse = static_cast<double>(sum) / (3.0 * static_cast<double>(a.pixels.size()));
    return 10.0 * std::log10(kPeak * kPeak / mse);
}

double lumaPsnrDb(const Picture& a, const Picture& b) {
    if (a.size != b.size || a.pixels.size() != b.pixels.size() || a.pixels.empty()) return 0.0;
    const auto luma = [](uint32_t p) {
        return 0.299 * redOf(p) + 0.587 * greenOf(p) + 0.114 * blueOf(p);
    };
    double sum = 0.0;
    for (size_t i = 0; i < a.pixels.size(); ++i) {
        const double e = luma(a.pixels[i]) - luma(b.pixels[i]);
        sum += e * e;
    }
    if (sum == 0.0) return kEqualPsnrDb;
    const double mse = sum / static_cast<double>(a.pixels.size());
    return 10.0 * std::log10(kPeak * kPeak / mse);
}

AirTimeFit fitAirTime(const EncoderSettings& base, const SourcePicture& source,
                      double airTimeSeconds, const FitGrid& grid) {
    AirTimeFit best;
    best.settings = base;
    if (!usable(base) || source.bgr.size() != kSourceBytes) return best;
    const size_t budget = frameBytesWithin(airTimeSeconds);
    const std::vector<int> quantisers = quantiserList(grid);
    const Prepared p = prepare(source, base.frameSize, grid, true);
    const Estimator estimator(p, quantisers);
    best.smallestFrameBytes = smallestFrame(p, base, grid, &estimator);
    if (best.smallestFrameBytes == 0 || best.smallestFrameBytes > budget) return best;
    const bool message = !base.message.empty();
    const auto estimateFits = [&](const Estimate& e) {
        const size_t bytes =
            frameBytesFor(static_cast<size_t>(e.codedBytes), base.syndromes, message);
        return bytes != 0 && bytes <= budget;
    };

    // The frame shrinks as the quantiser rises, nearly always, so the finest fitting quantiser
    // of each combination is found by bisection. It is not always the best one: at finer steps
    // the largest coefficients leave the byte range, and the power law spends its byte values
    // unevenly across steps. So the coarser ones are estimated too, at a stride and then around
    // the least error (microseconds each).
    const size_t last = quantisers.size() - 1;
    std::vector<Candidate> candidates;
    for (const Combination& c : combinations(grid)) {
        if (!estimateFits(estimator.at(c, quantisers[last], last))) continue;
        size_t lo = 0;
        size_t hi = last;
        while (lo < hi) {
            const size_t mid = (lo + hi) / 2;
            if (estimateFits(estimator.at(c, quantisers[mid], mid))) {
                hi = mid;
            } else {
                lo = mid + 1;
            }
        }
        // Coarser quantisers at a stride first, then the neighbours of the least error.
        Candidate pick{c, hi, hi, estimator.at(c, quantisers[hi], hi).squaredError};
        const auto tryAt = [&](size_t i) {
            const double e = estimator.at(c, quantisers[i], i).squaredError;
            if (e < pick.squaredError) pick = {c, i, hi, e};
        };
        for (size_t i = hi + kEstimateStride; i <= last; i += kEstimateStride) tryAt(i);
        const size_t centre = pick.index;
        for (size_t i = centre > hi + kEstimateStride ? centre - kEstimateStride + 1 : hi + 1;
             i < centre + kEstimateStride && i <= last; ++i) {
            if (i != centre) tryAt(i);
        }
        // A threshold below half the step zeroes nothing the division would keep: the same
        // frame as a lower threshold already listed.
        const bool repeat = std::any_of(candidates.begin(), candidates.end(), [&](const auto& d) {
            return d.combination.wavelet == c.wavelet && d.combination.redFactor == c.redFactor &&
                   d.combination.blueFactor == c.blueFactor && d.index == pick.index &&
                   d.squaredError == pick.squaredError;
        });
        if (!repeat) candidates.push_back(pick);
    }
    std::stable_sort(
        candidates.begin(), candidates.end(),
        [](const Candidate& a, const Candidate& b) { return a.squaredError < b.squaredError; });

    // The decoded PSNR of one combination jumps by up to half a dB from one quantiser to the
    // next (which coefficients the power law rounds up or down), and the clamping of saturated
    // colours hides errors the estimate counts: the estimate only orders the work. Points are
    // decoded in rounds, from the leaders' best quantisers outwards, until a budget of decoded
    // coefficients runs out (about 30 frames at 256 x 256, hundreds at 64 x 64); then the
    // neighbours of the best point found. Lengths come from the byte counts as well, and the
    // coder runs only near the edge of a frame length.
    struct Point {
        Combination combination;
        int quantiser = 0;
        double psnr = 0.0;
        size_t frameBytes = 0;
        bool coded = false;  // frameBytes from ARITHCODE rather than the estimate
        std::vector<uint8_t> coefficients;
    };
    std::vector<Point> points;
    std::vector<bool> tried(candidates.size() * quantisers.size(), false);
    const size_t coefficientsPerFrame = static_cast<size_t>(p.n) * p.n;
    size_t work = 0;
    const auto fits = [budget](size_t bytes) { return bytes != 0 && bytes <= budget; };
    const auto evaluate = [&](size_t k, ptrdiff_t at) {
        if (at < 0 || at > static_cast<ptrdiff_t>(last)) return;
        const size_t i = static_cast<size_t>(at);
        if (tried[k * quantisers.size() + i]) return;
        tried[k * quantisers.size() + i] = true;
        const Combination& c = candidates[k].combination;
        std::vector<uint8_t> bytes = coefficientBytes(p, c, quantisers[i]);
        work += bytes.size();
        const double estimate = estimator.codedBytes(bytes);
        const size_t low =
            frameBytesFor(static_cast<size_t>(estimate - kMarginBytes), base.syndromes, message);
        const size_t high =
            frameBytesFor(static_cast<size_t>(estimate + kMarginBytes), base.syndromes, message);
        Point point{c, quantisers[i], 0.0, high, false, {}};
        if (low != high) {
            const std::vector<uint8_t> coded = codeCoefficients(bytes);
            point.frameBytes =
                coded.empty() ? 0 : frameBytesFor(coded.size(), base.syndromes, message);
            point.coded = true;
        }
        if (!fits(point.frameBytes)) return;
        ++best.evaluations;
        point.psnr = decodedPsnr(p, c, point.quantiser, bytes);
        work += coefficientsPerFrame;
        if (!point.coded) point.coefficients = std::move(bytes);
        points.push_back(std::move(point));
    };
    const auto spent = [&] { return work >= grid.effort; };
    const auto window = [&](size_t k) {
        const auto centre = static_cast<ptrdiff_t>(candidates[k].index);
        for (ptrdiff_t d = -kWindowBelow; d <= kWindowAbove && !spent(); ++d)
            evaluate(k, centre + d);
    };
    const auto stride = [&](size_t k, ptrdiff_t step) {
        for (auto i = static_cast<ptrdiff_t>(candidates[k].finest);
             i <= static_cast<ptrdiff_t>(last) && !spent(); i += step) {
            evaluate(k, i);
        }
    };
    const size_t count = candidates.size();
    for (size_t k = 0; k < std::min<size_t>(4, count); ++k) window(k);
    for (size_t k = 0; k < std::min<size_t>(8, count); ++k) stride(k, 4);
    for (size_t k = 4; k < std::min<size_t>(16, count); ++k) window(k);
    for (size_t k = 0; k < std::min<size_t>(16, count); ++k) stride(k, 2);
    for (size_t k = 0; k < count; ++k) stride(k, 1);

    std::stable_sort(points.begin(), points.end(),
                     [](const Point& a, const Point& b) { return a.psnr > b.psnr; });
    if (!points.empty()) {
        // The neighbours of the best point, whatever the budget: the jumps from one quantiser
        // to the next are as large as the differences between the leaders.
        const Combination top = points.front().combination;
        const auto k = static_cast<size_t>(
            std::find_if(candidates.begin(), candidates.end(),
                         [&](const Candidate& c) {
                             return c.combination.wavelet == top.wavelet &&
                                    c.combination.redFactor == top.redFactor &&
                                    c.combination.blueFactor == top.blueFactor &&
                                    c.combination.threshold == top.threshold;
                         }) -
            candidates.begin());
        const auto at = static_cast<ptrdiff_t>(
            std::find(quantisers.begin(), quantisers.end(), points.front().quantiser) -
            quantisers.begin());
        const size_t before = points.size();
        if (k < count) {
            for (ptrdiff_t d = -kNeighbours; d <= kNeighbours; ++d) evaluate(k, at + d);
        }
        if (points.size() != before) {
            std::stable_sort(points.begin(), points.end(),
                             [](const Point& a, const Point& b) { return a.psnr > b.psnr; });
        }
    }
    for (Point& point : points) {
        if (!point.coded) {
            const std::vector<uint8_t> coded = codeCoefficients(point.coefficients);
            point.frameBytes =
                coded.empty() ? 0 : frameBytesFor(coded.size(), base.syndromes, message);
        }
        if (!fits(point.frameBytes)) continue;
        consider(best, base, point.combination, point.quantiser, point.psnr, point.frameBytes);
        break;
    }
    return best;
}

namespace {

// Where the AV1 fit's search stands, given what it knows of which qualities fit: the next
// quality it has to try, or (probe empty) its answer, pick, which is -1 when nothing fits.
struct Av1SearchStep {
    std::optional<int> probe;
    int pick = -1;
};

// The AV1 fit's search, from the start, with fits(quality) giving true or false for the
// qualities known and nothing for the others: it stops at the first quality it needs and does
// not know. Replaying it is cheap; the encodes are what cost.
template <typename Fits>
Av1SearchStep av1Search(const Fits& fits) {
    const std::optional<bool> anything = fits(kAv1MaxQuality);
    if (!anything) return {kAv1MaxQuality};
    if (!*anything) return {};
    // Quality 0 is not tried first: below it lies a quality that never fits, and the bisection
    // of the 64 qualities takes six encodes whether or not the answer is 0.
    int lo = -1;              // never fits
    int hi = kAv1MaxQuality;  // fits
    while (hi - lo > 1) {
        const int mid = (lo + hi) / 2;
        const std::optional<bool> fit = fits(mid);
        if (!fit) return {mid};
        (*fit ? hi : lo) = mid;
    }
    // hi - 1 does not fit; look further below in case the length took a step back up there.
    int pick = hi;
    int misses = 1;
    for (int q = pick - 2; q >= 0 && misses < kAv1FitLookBelow; --q) {
        const std::optional<bool> fit = fits(q);
        if (!fit) return {q};
        if (*fit) {
            pick = q;
            misses = 0;
        } else {
            ++misses;
        }
    }
    return {std::nullopt, pick};
}

// The AV1 encodes of one fit, each quality at most once, each on a thread of its own, at most
// atOnce at a time: the one the search needs and one it will probably need (a guess). A guess
// only saves time: the search is the same as with one encode at a time, and so are its answer
// and its count of encodes (the qualities it needed; an unused guess does not count).
class Av1Encodes {
public:
    Av1Encodes(const Picture& reference, const av1::EncodeSettings& coding, int syndromes,
               bool message, int atOnce)
        : reference_(reference),
          coding_(coding),
          syndromes_(syndromes),
          message_(message),
          atOnce_(std::max(1, atOnce)) {}
    Av1Encodes(const Av1Encodes&) = delete;
    Av1Encodes& operator=(const Av1Encodes&) = delete;
    ~Av1Encodes() {
        // Encodes still running read reference_ and coding_.
        for (Slot& slot : slots_) {
            if (slot.pending.valid()) slot.pending.wait();
        }
    }

    // The frame-string length at the quality (0 when nothing was encoded or the size check
    // rejects it), waiting for its encode; starts it first unless a guess did.
    size_t need(int quality) {
        Slot& slot = slots_[static_cast<size_t>(quality)];
        if (!slot.needed) {
            slot.needed = true;
            ++needed_;
        }
        if (!start(quality)) store(slot, encode(quality));
        if (slot.pending.valid()) {
            // A guess waiting for a free thread starts as soon as an unused one ends.
            while (guess_ && slot.pending.wait_for(kPoll) != std::future_status::ready) {
                guess(*guess_);
            }
            store(slot, slot.pending.get());
        }
        guess_.reset();
        return *slot.frameBytes;
    }

    // Starts the quality on a thread unless it was started; false when no thread was to be had.
    bool start(int quality) {
        if (started(quality)) return true;
        try {
            slots_[static_cast<size_t>(quality)].pending =
                std::async(std::launch::async, [this, quality] { return encode(quality); });
        } catch (const std::system_error&) {
            return false;
        }
        return true;
    }

    // Starts the quality when fewer than atOnce encodes are running, else as soon as one
    // ends while the search waits in need; a later guess replaces it.
    void guess(int quality) {
        guess_.reset();
        if (started(quality)) return;
        if (running() < atOnce_) {
            start(quality);
        } else {
            guess_ = quality;
        }
    }

    [[nodiscard]] bool started(int quality) const {
        const Slot& slot = slots_[static_cast<size_t>(quality)];
        return slot.frameBytes || slot.pending.valid();
    }

    // The length when it is known by now (needed, or a guess that has finished).
    std::optional<size_t> known(int quality) {
        Slot& slot = slots_[static_cast<size_t>(quality)];
        if (slot.pending.valid() && ready(slot)) store(slot, slot.pending.get());
        return slot.frameBytes;
    }

    [[nodiscard]] const std::vector<uint8_t>& stream(int quality) const {
        return slots_[static_cast<size_t>(quality)].obus;
    }
    [[nodiscard]] int needed() const { return needed_; }

private:
    struct Slot {
        std::future<std::vector<uint8_t>> pending;
        std::optional<size_t> frameBytes;
        std::vector<uint8_t> obus;
        bool needed = false;
    };

    [[nodiscard]] std::vector<uint8_t> encode(int quality) const {
        av1::EncodeSettings s = coding_;
        s.quality = quality;
        return av1::encodePicture(reference_, s).obus;
    }

    static bool ready(const Slot& slot) {
        return slot.pending.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
    }

    [[nodiscard]] int running() const {
        return static_cast<int>(std::count_if(slots_.begin(), slots_.end(), [](const Slot& s) {
            return s.pending.valid() && !ready(s);
        }));
    }

    void store(Slot& slot, std::vector<uint8_t> obus) const {
        slot.frameBytes = obus.empty() ? 0 : frameBytesFor(obus.size(), syndromes_, message_);
        slot.obus = std::move(obus);
    }

    const Picture& reference_;
    const av1::EncodeSettings coding_;
    const int syndromes_;
    const bool message_;
    const int atOnce_;
    static constexpr std::chrono::milliseconds kPoll{2};

    std::array<Slot, kAv1MaxQuality + 1> slots_;
    std::optional<int> guess_;  // not started for want of a thread
    int needed_ = 0;
};

// The nearest quality past from (in the direction step) whose frame length is known.
std::optional<int> nearestKnown(Av1Encodes& encodes, int from, int step) {
    for (int q = from + step; q >= 0 && q <= kAv1MaxQuality; q += step) {
        if (const auto bytes = encodes.known(q); bytes && *bytes != 0) return q;
    }
    return std::nullopt;
}

// Whether the quality's frame probably fits the budget, from the lengths known so far: the
// logarithm of the length taken as linear in the quality between the nearest known qualities
// either side, or beyond the two nearest on one side. With fewer than two known, it may.
bool probablyFits(Av1Encodes& encodes, int quality, size_t budget) {
    const std::optional<int> below = nearestKnown(encodes, quality, -1);
    const std::optional<int> above = nearestKnown(encodes, quality, 1);
    std::optional<int> lo = below;
    std::optional<int> hi = above;
    if (!below && above) {
        lo = above;
        hi = nearestKnown(encodes, *above, 1);
    } else if (below && !above) {
        lo = nearestKnown(encodes, *below, -1);
        hi = below;
    }
    if (!lo || !hi) return true;
    const double a = std::log(static_cast<double>(*encodes.known(*lo)));
    const double b = std::log(static_cast<double>(*encodes.known(*hi)));
    const double t = static_cast<double>(quality - *lo) / static_cast<double>(*hi - *lo);
    return a + (b - a) * t <= std::log(static_cast<double>(budget));
}

}  // namespace

AirTimeFit fitAv1AirTime(const EncoderSettings& base, const SourcePicture& source,
                         double airTimeSeconds, int encodesAtOnce) {
    AirTimeFit best;
    best.settings = base;
    best.settings.wavelet = Wavelet::Av1;
    best.settings.quantiser = 1;
    if (!isValid(best.settings) || source.bgr.size() != kSourceBytes) return best;
    const size_t budget = frameBytesWithin(airTimeSeconds);
    const Picture reference = referencePicture(source, base.frameSize);
    av1::EncodeSettings coding;
    coding.chroma = base.av1Chroma == kAv1Chroma444 ? av1::Chroma::Yuv444 : av1::Chroma::Yuv420;
    coding.speed = base.av1Speed;
    Av1Encodes encodes(reference, coding, base.syndromes, !base.message.empty(), encodesAtOnce);
    std::array<std::optional<bool>, kAv1MaxQuality + 1> fitting;  // what the search has learnt
    const auto fits = [&](int quality) { return fitting[static_cast<size_t>(quality)]; };

    Av1SearchStep step = av1Search(fits);
    while (step.probe) {
        const int quality = *step.probe;
        encodes.start(quality);
        // The guess: where the search goes next if every quality started fits as the lengths
        // so far say, the first quality not yet started.
        const Av1SearchStep ahead = av1Search([&](int q) -> std::optional<bool> {
            if (fitting[static_cast<size_t>(q)]) return fitting[static_cast<size_t>(q)];
            if (!encodes.started(q)) return std::nullopt;
            return probablyFits(encodes, q, budget);
        });
        if (ahead.probe) encodes.guess(*ahead.probe);
        const size_t bytes = encodes.need(quality);
        fitting[static_cast<size_t>(quality)] = bytes != 0 && bytes <= budget;
        step = av1Search(fits);
    }
    best.smallestFrameBytes = *encodes.known(kAv1MaxQuality);
    best.evaluations = encodes.needed();
    if (step.pick < 0) return best;

    // At the finest qualities the decoded PSNR no longer rises with every step (the picture
    // is nearly exact and the encoder's choices wander): of the fitting qualities tried from
    // the pick up to kAv1FitPsnrSpan coarser, the sharpest decoded one is taken.
    best.found = true;
    best.psnrDb = -1.0;
    for (int q = step.pick; q <= std::min(kAv1MaxQuality, step.pick + kAv1FitPsnrSpan); ++q) {
        if (!fitting[static_cast<size_t>(q)].value_or(false)) continue;
        EncoderSettings s = best.settings;
        s.quantiser = q + 1;
        const PictureDecode decoded = decodePayload(encodes.stream(q), pictureParams(s));
        const double db = psnrDb(decoded.picture, reference);
        if (db > best.psnrDb) {
            best.psnrDb = db;
            best.settings.quantiser = q + 1;
        }
    }
    best.frameBytes = *encodes.known(best.settings.quantiser - 1);
    best.airTimeSeconds = static_cast<double>(best.frameBytes) / kBytesPerSecond;
    return best;
}

AirTimeFit searchGridExhaustively(const EncoderSettings& base, const SourcePicture& source,
                                  double airTimeSeconds, const FitGrid& grid) {
    AirTimeFit best;
    best.settings = base;
    if (!usable(base) || source.bgr.size() != kSourceBytes) return best;
    const size_t budget = frameBytesWithin(airTimeSeconds);
    const Prepared p = prepare(source, base.frameSize, grid, false);
    best.smallestFrameBytes = smallestFrame(p, base, grid, nullptr);
    for (const Combination& c : combinations(grid)) {
        for (const int q : quantiserList(grid)) {
            const Exact e = codeExactly(p, base, c, q);
            if (e.frameBytes == 0 || e.frameBytes > budget) continue;
            ++best.evaluations;
            consider(best, base, c, q, decodedPsnr(p, c, q, e.coefficients), e.frameBytes);
        }
    }
    return best;
}

}  // namespace encoder
