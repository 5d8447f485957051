#pragma once

// Whole recordings from one sample rate to another (libsoxr, high quality): the modem works at
// 8000 Hz, sound cards and WAV files at 44100, 48000 or anything else.

#include <span>
#include <vector>

namespace modem {

// The samples at toHz; the same samples when the rates are equal. Empty for a rate <= 0.
[[nodiscard]] std::vector<float> resampleAudio(std::span<const float> in, double fromHz,
                                               double toHz);

}  // namespace modem

namespace modem {

// A stream from one rate to another, chunk by chunk (libsoxr, high quality): the sound card's
// 48000 or 44100 Hz to the modem's 8000 and back. However the input is cut into chunks, the
// output is the same samples, delayed by the filter.
class StreamResampler {
public:
    StreamResampler(double fromHz, double toHz);
    ~StreamResampler();
    StreamResampler(const StreamResampler&) = delete;
    StreamResampler& operator=(const StreamResampler&) = delete;

    // Appends the output samples this chunk completes.
    void process(std::span<const float> in, std::vector<float>& out);
    // The stream ends: appends what the filter still holds, then starts afresh.
    void drain(std::vector<float>& out);
    // Forgets what the filter holds (a new stream begins).
    void reset();
    // Output samples the filter holds back: the output so far ends this long before the input.
    [[nodiscard]] double delay() const;
    [[nodiscard]] double fromHz() const { return fromHz_; }
    [[nodiscard]] double toHz() const { return toHz_; }

private:
    double fromHz_;
    double toHz_;
    void* soxr_ = nullptr;  // soxr_t; nullptr when the rates are equal
};

}  // namespace modem
