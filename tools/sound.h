#pragma once

// The sound card, through PortAudio: the devices there are, and one input and one output
// stream of mono float samples at the card's rate (48000 Hz, or 44100 where that is all it
// takes). The streams' callbacks run on PortAudio's real-time thread and only copy samples
// between the device and a lock-free ring; everything else happens on the caller's thread.
//
// Times are seconds on CLOCK_MONOTONIC: PortAudio's "this buffer reaches the converter in so
// long" and "this one left it so long ago", taken against the monotonic clock in the callback.

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "modem/audio_ring.h"
#include "tools/tonebox.h"

struct PaStreamCallbackTimeInfo;

namespace tools {

// PortAudio itself, for as long as this lives. A new session sees the devices there are now
// (a USB interface plugged in since the last one). ALSA's complaints about the devices it
// probes are kept off stderr unless asked for.
class SoundSystem {
public:
    explicit SoundSystem(bool showProbes = false);
    ~SoundSystem();
    SoundSystem(const SoundSystem&) = delete;
    SoundSystem& operator=(const SoundSystem&) = delete;

    [[nodiscard]] bool ok() const { return error_.empty(); }
    [[nodiscard]] const std::string& error() const { return error_; }
    [[nodiscard]] std::vector<SoundDeviceInfo> devices() const;

private:
    std::string error_;
};

// Samples of one direction. For the output: the producer writes what is to be sent; the
// callback sends silence until gate, then the ring; samplesPlayed counts what left the ring
// and lastSampleEnd is when the last of those has left the converter.
class SoundStream {
public:
    enum class Direction { Input, Output };
    SoundStream(Direction direction, double ringSeconds);
    ~SoundStream();
    SoundStream(const SoundStream&) = delete;
    SoundStream& operator=(const SoundStream&) = delete;

    // Opens and starts the device at 48000 Hz, or 44100; empty or why not.
    [[nodiscard]] std::string open(int device, const std::string& name);
    void close();
    [[nodiscard]] bool isOpen() const { return stream_ != nullptr; }
    [[nodiscard]] double rate() const { return rate_; }
    [[nodiscard]] const std::string& deviceName() const { return name_; }
    // The clock all of the stream's times are on: CLOCK_MONOTONIC, in seconds, which other
    // processes can compare with.
    [[nodiscard]] double now() const;
    [[nodiscard]] double latency() const;
    // The stream stopped by itself, or its callback has not run for a while: the device is gone.
    [[nodiscard]] bool stalled(double wallSeconds);

    modem::AudioRing ring;
    // Output: the converter gets silence before this time.
    std::atomic<double> gate{0};
    // Output: the producer has more to send (a ring that runs dry then is an underrun).
    std::atomic<bool> expectMore{false};
    std::atomic<uint64_t> samplesPlayed{0};
    // Output: the callback throws away what the ring holds (counted as played) and clears it.
    std::atomic<bool> discard{false};
    std::atomic<double> lastSampleEnd{0};
    // Input: when the sample counted samplesIn arrived at the converter (for timing lines).
    [[nodiscard]] double timeOfInputSample(uint64_t index);
    std::atomic<uint64_t> samplesIn{0};

    std::atomic<uint64_t> underruns{0};  // the ring ran dry mid-transmission, or the device's
    std::atomic<uint64_t> overruns{0};   // input samples lost: ring full, or the device's
    std::atomic<uint64_t> callbacks{0};

private:
    static int callback(const void* input, void* output, unsigned long frames,
                        const ::PaStreamCallbackTimeInfo* time, unsigned long flags, void* self);
    void onOutput(float* out, size_t frames, double dacTime, unsigned long flags);
    void onInput(const float* in, size_t frames, unsigned long flags);

    Direction direction_;
    void* stream_ = nullptr;  // PaStream*
    double rate_ = 0;
    std::string name_;
    double latency_ = 0;  // PortAudio's figure, when a callback brings no times
    // The input's clock: the converter time of sample inMark_, written by the callback under
    // a sequence count.
    std::atomic<uint32_t> seq_{0};
    std::atomic<uint64_t> inMark_{0};
    std::atomic<double> inMarkTime_{0};
    uint64_t lastMark_ = ~uint64_t{0};
    std::deque<double> origins_;  // converter time of sample 0, as the recent buffers say
    uint64_t lastCallbacks_ = 0;
    double lastProgress_ = 0;
};

}  // namespace tools
