#include "tools/sound.h"

#include <fcntl.h>
#include <portaudio.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <ctime>

namespace tools {

namespace {

constexpr double kRates[] = {48000.0, 44100.0};

// ALSA prints a line to stderr for every device it probes and cannot open; none of it is ours.
class QuietStderr {
public:
    explicit QuietStderr(bool quiet) {
        if (!quiet) return;
        saved_ = dup(STDERR_FILENO);
        const int null = ::open("/dev/null", O_WRONLY);
        if (saved_ < 0 || null < 0) {
            if (null >= 0) ::close(null);
            return;
        }
        dup2(null, STDERR_FILENO);
        ::close(null);
    }
    ~QuietStderr() {
        if (saved_ < 0) return;
        dup2(saved_, STDERR_FILENO);
        ::close(saved_);
    }
    QuietStderr(const QuietStderr&) = delete;
    QuietStderr& operator=(const QuietStderr&) = delete;

private:
    int saved_ = -1;
};

double wallSeconds() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

}  // namespace

SoundSystem::SoundSystem(bool showProbes) {
    const QuietStderr quiet(!showProbes);
    const PaError e = Pa_Initialize();
    if (e != paNoError) error_ = std::string("cannot start PortAudio: ") + Pa_GetErrorText(e);
}

SoundSystem::~SoundSystem() {
    if (ok()) Pa_Terminate();
}

std::vector<SoundDeviceInfo> SoundSystem::devices() const {
    std::vector<SoundDeviceInfo> list;
    if (!ok()) return list;
    const int count = Pa_GetDeviceCount();
    for (int i = 0; i < count; ++i) {
        const PaDeviceInfo* d = Pa_GetDeviceInfo(i);
        if (d == nullptr) continue;
        const PaHostApiInfo* api = Pa_GetHostApiInfo(d->hostApi);
        list.push_back(SoundDeviceInfo{
            .index = i,
            .name = d->name != nullptr ? d->name : "",
            .hostApi = api != nullptr && api->name != nullptr ? api->name : "",
            .inputs = d->maxInputChannels,
            .outputs = d->maxOutputChannels,
            .defaultRate = d->defaultSampleRate,
            .defaultInput = i == Pa_GetDefaultInputDevice(),
            .defaultOutput = i == Pa_GetDefaultOutputDevice(),
        });
    }
    return list;
}

SoundStream::SoundStream(Direction direction, double ringSeconds)
    : ring(static_cast<size_t>(kRates[0] * ringSeconds)), direction_(direction) {}

SoundStream::~SoundStream() { close(); }

std::string SoundStream::open(int device, const std::string& name) {
    close();
    const PaDeviceInfo* info = Pa_GetDeviceInfo(device);
    if (info == nullptr) return "no sound device number " + std::to_string(device);
    const bool input = direction_ == Direction::Input;
    PaStreamParameters p{};
    p.device = device;
    p.channelCount = 1;
    p.sampleFormat = paFloat32;
    // Latency costs nothing here (the keying is timed by the converter's clock) and a roomy
    // buffer rides out a busy machine.
    p.suggestedLatency = input ? info->defaultHighInputLatency : info->defaultHighOutputLatency;
    const PaStreamParameters* in = input ? &p : nullptr;
    const PaStreamParameters* out = input ? nullptr : &p;
    PaError last = paNoError;
    for (const double rate : kRates) {
        if ((last = Pa_IsFormatSupported(in, out, rate)) != paFormatIsSupported) continue;
        PaStream* s = nullptr;
        last = Pa_OpenStream(&s, in, out, rate, paFramesPerBufferUnspecified, paNoFlag,
                             &SoundStream::callback, this);
        if (last != paNoError) continue;
        rate_ = rate;
        name_ = name;
        if (const PaStreamInfo* si = Pa_GetStreamInfo(s)) {
            latency_ = input ? si->inputLatency : si->outputLatency;
        }
        lastCallbacks_ = callbacks.load();
        lastProgress_ = wallSeconds();
        if ((last = Pa_StartStream(s)) != paNoError) {
            Pa_CloseStream(s);
            continue;
        }
        stream_ = s;
        return {};
    }
    return "cannot open '" + name + "' for " + (input ? "recording" : "playing") +
           " at 48000 or 44100 Hz: " + Pa_GetErrorText(last);
}

void SoundStream::close() {
    if (stream_ == nullptr) return;
    auto* s = static_cast<PaStream*>(stream_);
    Pa_AbortStream(s);
    Pa_CloseStream(s);
    stream_ = nullptr;
}

double SoundStream::now() const { return wallSeconds(); }

double SoundStream::latency() const {
    if (stream_ == nullptr) return 0;
    const PaStreamInfo* info = Pa_GetStreamInfo(static_cast<PaStream*>(stream_));
    if (info == nullptr) return 0;
    return direction_ == Direction::Input ? info->inputLatency : info->outputLatency;
}

bool SoundStream::stalled(double wallLimit) {
    if (stream_ == nullptr) return false;
    if (Pa_IsStreamActive(static_cast<PaStream*>(stream_)) != 1) return true;
    const uint64_t n = callbacks.load(std::memory_order_relaxed);
    const double t = wallSeconds();
    if (n != lastCallbacks_) {
        lastCallbacks_ = n;
        lastProgress_ = t;
        return false;
    }
    return t - lastProgress_ > wallLimit;
}

double SoundStream::timeOfInputSample(uint64_t index) {
    uint32_t seq = 0;
    uint64_t mark = 0;
    double at = 0;
    do {
        seq = seq_.load(std::memory_order_acquire);
        mark = inMark_.load(std::memory_order_relaxed);
        at = inMarkTime_.load(std::memory_order_relaxed);
    } while ((seq & 1u) != 0 || seq != seq_.load(std::memory_order_acquire));
    const double rate = rate_ > 0 ? rate_ : kRates[0];
    // The converter's times come in steps and with the scheduler's jitter; sample n arrived at
    // n / rate plus an origin that stays put, so the median of the recent origins is taken.
    if (mark != lastMark_) {
        lastMark_ = mark;
        origins_.push_back(at - double(mark) / rate);
        if (origins_.size() > 101) origins_.pop_front();
    }
    if (origins_.empty()) return at + (double(index) - double(mark)) / rate;
    std::vector<double> sorted(origins_.begin(), origins_.end());
    std::nth_element(sorted.begin(), sorted.begin() + sorted.size() / 2, sorted.end());
    return sorted[sorted.size() / 2] + double(index) / rate;
}

int SoundStream::callback(const void* input, void* output, unsigned long frames,
                          const PaStreamCallbackTimeInfo* time, unsigned long flags, void* self) {
    auto* s = static_cast<SoundStream*>(self);
    s->callbacks.fetch_add(1, std::memory_order_relaxed);
    // PortAudio's times say how far the buffer is from the converter; the host's own clock
    // behind them can be stale (ALSA's PulseAudio plugin), so they are taken against the
    // monotonic clock read here.
    const double now = wallSeconds();
    const double current = time != nullptr ? time->currentTime : 0;
    if (s->direction_ == Direction::Output) {
        double ahead = time != nullptr && current > 0 && time->outputBufferDacTime > 0
                           ? time->outputBufferDacTime - current
                           : s->latency_;
        s->onOutput(static_cast<float*>(output), frames, now + std::max(0.0, ahead), flags);
    } else {
        const double behind = time != nullptr && current > 0 && time->inputBufferAdcTime > 0
                                  ? current - time->inputBufferAdcTime
                                  : s->latency_;
        s->seq_.fetch_add(1, std::memory_order_acq_rel);
        s->inMark_.store(s->samplesIn.load(std::memory_order_relaxed), std::memory_order_relaxed);
        s->inMarkTime_.store(now - std::max(0.0, behind), std::memory_order_relaxed);
        s->seq_.fetch_add(1, std::memory_order_acq_rel);
        s->onInput(static_cast<const float*>(input), frames, flags);
    }
    return paContinue;
}

void SoundStream::onOutput(float* out, size_t frames, double dacTime, unsigned long flags) {
    if ((flags & paOutputUnderflow) != 0) underruns.fetch_add(1, std::memory_order_relaxed);
    if (discard.exchange(false, std::memory_order_acq_rel)) {
        size_t thrown = 0;
        while ((thrown = ring.read(std::span(out, frames))) > 0) {
            samplesPlayed.fetch_add(thrown, std::memory_order_release);
        }
    }
    const double gateAt = gate.load(std::memory_order_acquire);
    size_t silent = 0;
    if (dacTime < gateAt) {
        // (The gate may be infinitely far: audio made ready before the transmitter is keyed.)
        const double wait = std::ceil((gateAt - dacTime) * rate_);
        silent = wait >= double(frames) ? frames : static_cast<size_t>(wait);
    }
    std::fill_n(out, silent, 0.0f);
    const size_t sent = ring.read(std::span(out + silent, frames - silent));
    std::fill(out + silent + sent, out + frames, 0.0f);
    if (sent > 0) {
        lastSampleEnd.store(dacTime + double(silent + sent) / rate_, std::memory_order_relaxed);
        samplesPlayed.fetch_add(sent, std::memory_order_release);
    }
    if (silent + sent < frames && expectMore.load(std::memory_order_relaxed) && silent < frames) {
        underruns.fetch_add(1, std::memory_order_relaxed);
    }
}

void SoundStream::onInput(const float* in, size_t frames, unsigned long flags) {
    if ((flags & paInputOverflow) != 0) overruns.fetch_add(1, std::memory_order_relaxed);
    const uint64_t first = samplesIn.load(std::memory_order_relaxed);
    size_t kept = 0;
    if (in != nullptr) kept = ring.write(std::span(in, frames));
    if (kept < frames) overruns.fetch_add(frames - kept, std::memory_order_relaxed);
    samplesIn.store(first + kept, std::memory_order_release);
}

}  // namespace tools
