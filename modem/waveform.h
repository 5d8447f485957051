#pragma once

// The modem's waveform and the layout of a modem frame: pure numbers and tables, shared by the
// modulator and the demodulator.
//
// OFDM at an 8000 Hz core rate: a 128-point transform gives carriers 62.5 Hz apart (16 ms
// symbols), and a 4 ms cyclic prefix makes each symbol 20 ms (50 baud). The prefix swallows
// echoes up to about 2 ms with room left for timing error and a drifting sound card; 62.5 Hz
// keeps a 1-2 Hz Doppler spread small beside the carrier spacing. 37 carriers, bins 6..42
// (375..2625 Hz), sit inside any SSB filter's 300-2700 Hz.
//
// A modem frame, symbol by symbol (20 ms each):
//
//   sync sync | pilot | header data*6 | pilot | data*7 | pilot | ... | data*r | pilot
//
// - sync: two symbol times of a signal on the even carriers only, so it repeats every 64
//   samples: the receiver finds it by correlating the signal with itself 64 samples later,
//   whatever the frequency offset, and reads the offset from that correlation's phase.
// - pilot: every carrier a known BPSK value. The receiver measures the channel on each carrier
//   at every pilot row and interpolates between rows, so it follows fading that moves a notch
//   across the band within a frame.
// - header: 6 bits (mode and unit count) in a first-order Reed-Muller (32, 6) code, BPSK on 32
//   carriers, the other 5 carriers pilots: the receiver needs no setting to know what follows.
// - data: QPSK on every carrier, the frame's LDPC codeword interleaved across them.
//
// Slots between pilot rows: `normal` 7, `robust` 3 (denser pilots for fast fading).

#include <array>
#include <complex>
#include <cstdint>
#include <optional>
#include <vector>

namespace modem {

using Complex = std::complex<float>;

inline constexpr int kSampleRate = 8000;  // Hz, the modem's core rate
inline constexpr int kFftSize = 128;      // samples: 62.5 Hz between carriers
inline constexpr int kCyclicPrefix = 32;  // samples, 4 ms
inline constexpr int kSymbolSamples = kFftSize + kCyclicPrefix;  // 160 samples, 20 ms
inline constexpr int kFirstBin = 6;                              // 375 Hz
inline constexpr int kCarriers = 37;                             // bins 6..42, 375..2625 Hz
inline constexpr double kCarrierSpacingHz = double(kSampleRate) / kFftSize;
inline constexpr double kCentreHz = 1500.0;  // bin 24, the middle carrier
inline constexpr int kCentreBin = 24;
inline constexpr int kSyncSymbols = 2;            // symbol times the sync burst takes
inline constexpr int kSyncPeriod = kFftSize / 2;  // the sync burst repeats every 64 samples

inline constexpr int kUnitBytes = 41;      // a unit of the frame string
inline constexpr int kUnitCheckBytes = 2;  // CRC-16 after each unit inside the modem frame
inline constexpr int kCodedUnitBits = (kUnitBytes + kUnitCheckBytes) * 8;  // 344
inline constexpr int kMaxUnitsPerFrame = 12;

inline constexpr int kHeaderBits = 6;       // mode (2 bits), then units - 1 (4 bits)
inline constexpr int kHeaderCodeBits = 32;  // Reed-Muller (32, 6), minimum distance 16

enum class Mode : uint8_t { Normal = 0, Robust = 1 };
inline constexpr int kModes = 2;

struct ModeParams {
    int codeRateNum = 3;  // LDPC rate codeRateNum / codeRateDen before filling the last symbol
    int codeRateDen = 4;
    int slotsBetweenPilots = 7;  // header or data symbols between two pilot rows
};
[[nodiscard]] ModeParams modeParams(Mode mode);
[[nodiscard]] const char* modeName(Mode mode);  // "normal", "robust"

enum class SymbolKind : uint8_t { Sync, Pilot, Header, Data };

// Everything a frame of `units` units looks like in one mode.
struct FrameLayout {
    Mode mode = Mode::Normal;
    int units = 0;     // 1..kMaxUnitsPerFrame
    int infoBits = 0;  // units x 344: the units and their checks
    int codeBits = 0;  // LDPC codeword: dataSymbols x 2 x kCarriers
    int dataSymbols = 0;
    std::vector<SymbolKind> symbols;  // each symbol time in order; Sync appears twice

    [[nodiscard]] int samples() const { return static_cast<int>(symbols.size()) * kSymbolSamples; }
    [[nodiscard]] double seconds() const { return double(samples()) / kSampleRate; }
};
[[nodiscard]] FrameLayout frameLayout(Mode mode, int units);

// The known BPSK values (+1 or -1) of a pilot row, carrier by carrier.
[[nodiscard]] const std::array<float, kCarriers>& pilotValues();
// The sync burst's values on the even bins (zero on odd ones), carrier by carrier, at a
// power that gives the burst the same mean power as any other symbol.
[[nodiscard]] const std::array<float, kCarriers>& syncValues();
// The header's carriers: which of the 37 carry the 32 code bits (the rest are pilots).
[[nodiscard]] const std::array<int, kHeaderCodeBits>& headerCarriers();

// The header: 6 bits to 32 and back. The decoder correlates the 32 soft values with all 64
// codewords (a fast Hadamard transform) and returns the best, with its margin over the second
// best so a caller can refuse a header lost in noise.
struct HeaderFields {
    Mode mode = Mode::Normal;
    int units = 1;
};
[[nodiscard]] std::array<int8_t, kHeaderCodeBits> encodeHeader(const HeaderFields& fields);  // +-1
struct HeaderDecode {
    std::optional<HeaderFields> fields;  // none: the best codeword names no mode or is too weak
    float confidence = 0;  // best correlation less the second best, over the total magnitude
};
[[nodiscard]] HeaderDecode decodeHeader(const std::array<float, kHeaderCodeBits>& soft);

// Units per second this layout carries when frames follow one another without a gap.
[[nodiscard]] double unitBytesPerSecond(const FrameLayout& layout);

}  // namespace modem
