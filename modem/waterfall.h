#pragma once

// The received audio as a waterfall: rows of power against frequency, 0 to 3000 Hz, for a
// window to draw. Pure core: 8000 Hz audio in (what the demodulator gets), rows out; the FFT is
// FFTW's. However the audio is cut into chunks, the rows are the same.
//
// Each row is the mean power spectrum of the last kRowSamples samples (Hann windows of
// kWaterfallFft samples, half overlapping), in dB relative to full scale: a full-scale sine
// reads about 0 dB in its bin.

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

namespace modem {

inline constexpr int kWaterfallFft = 512;         // 15.6 Hz between bins at 8000 Hz
inline constexpr int kWaterfallRowSamples = 800;  // 100 ms a row: 10 s of history in 100 rows
inline constexpr double kWaterfallTopHz = 3000.0;

struct WaterfallRow {
    int64_t firstSample = 0;  // the row's first input sample, counted from the start
    std::vector<float> db;    // power per bin from 0 Hz up to kWaterfallTopHz
};

class Waterfall {
public:
    Waterfall();
    ~Waterfall();
    Waterfall(const Waterfall&) = delete;
    Waterfall& operator=(const Waterfall&) = delete;

    // Appends the rows this chunk completes.
    void process(std::span<const float> audio, std::vector<WaterfallRow>& rows);
    void reset();

    [[nodiscard]] static int bins();               // per row
    [[nodiscard]] static double binHz();           // between bins
    [[nodiscard]] static double binOf(double hz);  // fractional bin of a frequency

private:
    struct Fft;
    std::unique_ptr<Fft> fft_;
    std::vector<float> window_;   // Hann
    std::vector<float> history_;  // the last kWaterfallFft samples, oldest at head_
    int head_ = 0;
    std::vector<double> sum_;  // power summed over the row's transforms
    int transforms_ = 0;
    int sinceTransform_ = 0;  // samples since the last transform
    int inRow_ = 0;           // samples of the current row
    int64_t taken_ = 0;
};

// A colour for a level, on the scale waterfalls in the field use: black through blue, cyan,
// yellow and red to white, from low to high (0xRRGGBB).
[[nodiscard]] uint32_t waterfallColour(float db, float floorDb, float ceilingDb);

}  // namespace modem
