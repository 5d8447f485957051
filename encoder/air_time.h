#pragma once

// Fitting a picture to an air time: the quantiser, threshold, wavelet and chroma factors that
// give the best picture whose frame string fits a number of seconds at 250 bytes per second,
// with the frame size, syndromes and message left as the caller set them. Pure core: the sender
// window (or vistrel encode --air-time) takes the chosen settings and runs ENCODEFRAME with them.
//
// Quality is the RGB PSNR of the picture a receiver decodes against the N x N picture the
// encoder sees (the source square box-averaged to N x N, as the luma is): what the frame could
// have shown, not the 256 x 256 original.

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "encoder/encode_frame.h"
#include "encoder/params.h"
#include "encoder/picture.h"

namespace encoder {

// The settings grid the fit chooses from. The full grid (fullFitGrid) is every wavelet, every
// pair of chroma factors, every quantiser 1..65, and the thresholds 0, 10, 15, 20, 25, 30, 40,
// 50, 60, 80, 100: 3 x 4 x 11 x 65 = 8580 points. Thresholds below half the step change nothing
// (the division rounds those coefficients to 0 anyway), so the list is densest where the steps
// are, 17..81.
struct FitGrid {
    std::vector<Wavelet> wavelets;
    std::vector<std::pair<int, int>> factors;  // red and blue chroma factors, 2 or 4 each
    std::vector<int> thresholds;               // 0..100
    std::vector<int> quantisers;               // 1..65
    // Coefficients fitAirTime may code and decode in full (a point costs its coefficient count
    // plus N^2): about 30 points at 256 x 256 (near 100 ms), some hundreds at 64 x 64.
    size_t effort = 4'000'000;
};
[[nodiscard]] FitGrid fullFitGrid();

struct AirTimeFit {
    bool found = false;           // false: no point of the grid fits the air time
    EncoderSettings settings;     // the caller's, with the five fitted settings chosen
    double psnrDb = 0.0;          // RGB PSNR of the decoded picture against referencePicture
    size_t frameBytes = 0;        // length of the frame string ENCODEFRAME builds with settings
    double airTimeSeconds = 0.0;  // frameBytes at 250 bytes per second
    // The shortest frame on the grid (coarsest quantiser, highest threshold, the wavelet and
    // factors that code shortest), for telling the user what would fit; 0 when even that fails
    // the size check.
    size_t smallestFrameBytes = 0;
    int evaluations = 0;  // points decoded in full, for the benchmark and the docs
};

// Best PSNR on the grid whose frame string is at most airTimeSeconds x 250 bytes long. Per
// combination of wavelet, factors and threshold, estimates of the frame length (from the counts
// of the coefficient bytes, which is all the order-0 coder's output depends on) and of the error
// pick the quantisers worth decoding; the leading combinations are then decoded in full around
// them, within grid.effort, and the best point's frame length is confirmed with ARITHCODE. Not
// exhaustive: the decoded PSNR jumps between neighbouring quantisers, so the result can fall a
// little short of searchGridExhaustively's (docs/QUALITY.md shows by how much). base must be
// valid (isValid) apart from the five fitted settings; a grid setting out of range is skipped.
[[nodiscard]] AirTimeFit fitAirTime(const EncoderSettings& base, const SourcePicture& source,
                                    double airTimeSeconds, const FitGrid& grid = fullFitGrid());

// The same answer by coding every point of the grid and decoding every one that fits: the
// yardstick for fitAirTime, far too slow for the window at 256 x 256.
[[nodiscard]] AirTimeFit searchGridExhaustively(const EncoderSettings& base,
                                                const SourcePicture& source, double airTimeSeconds,
                                                const FitGrid& grid = fullFitGrid());

// The AV1 payload's fit: the finest AV1 quality (0..63, lower is sharper) whose frame string is
// at most airTimeSeconds x 250 bytes long, with the frame size, syndromes, message, chroma and
// speed left as the caller set them; the result's wavelet is Av1 and its quantiser gives the
// quality (quantiser = quality + 1). Every quality tried is one AV1 encode at base.av1Speed:
// quality 63 (nothing fits if it does not), six to bisect the 64 qualities, and one or more
// below the answer. An encode takes 30 to 70 ms at 256 x 256 and speed 6, several times that
// at speed 2.
//
// The frame length falls with the quality nearly always, but not strictly: libaom's decisions
// can make a coarser quality a little longer (on synthetic pictures such as the test card the
// length wanders by a packet over tens of qualities). So after the bisection the qualities just
// finer than the answer are tried too, until kAv1FitLookBelow in a row do not fit: the quality
// one finer than the finest fitting one tried never fits (or that is 0). A fitting quality
// further below is missed. smallestFrameBytes is quality 63's frame, taken as the shortest (0 when
// the size check rejects it). psnrDb is the decoded picture's against referencePicture, evaluations
// the encodes the search needed.
//
// The encodes run on threads of their own, up to encodesAtOnce at a time: the one the search
// needs and the one it will probably need next, guessed from the lengths so far. A guess saves
// time when it is right and is dropped when not; the answer and evaluations are the same for
// any encodesAtOnce (1: one encode at a time).
inline constexpr int kAv1FitLookBelow = 3;
// Of the fitting qualities tried from the pick up to this many coarser, the one whose decoded
// picture is sharpest is the answer (at the finest qualities PSNR stops rising).
inline constexpr int kAv1FitPsnrSpan = 3;
inline constexpr int kAv1FitEncodesAtOnce = 2;
[[nodiscard]] AirTimeFit fitAv1AirTime(const EncoderSettings& base, const SourcePicture& source,
                                       double airTimeSeconds,
                                       int encodesAtOnce = kAv1FitEncodesAtOnce);

// Longest frame string, in bytes, that plays out within the air time at 250 bytes per second.
[[nodiscard]] size_t frameBytesWithin(double airTimeSeconds);

// Length of the frame string that carries a coded stream of codedBytes (ARITHCODE output, "ACMC"
// included) with the given syndromes setting and, when message is true, message blocks; 0 when
// the size check rejects it.
[[nodiscard]] size_t frameBytesFor(size_t codedBytes, int syndromes, bool message);

// The N x N picture the encoder sees: each pixel the rounded mean of its block of the source
// square, over the window of sourceWindow(frameSize).
[[nodiscard]] Picture referencePicture(const SourcePicture& source, int frameSize);

// PSNR over the red, green and blue samples of two pictures of one size, in dB; 99 for equal
// pictures, 0 for pictures of different sizes.
[[nodiscard]] double psnrDb(const Picture& a, const Picture& b);
// PSNR of the luma 0.299 R + 0.587 G + 0.114 B, unrounded.
[[nodiscard]] double lumaPsnrDb(const Picture& a, const Picture& b);

}  // namespace encoder
