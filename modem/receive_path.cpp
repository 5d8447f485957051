#include "modem/receive_path.h"

#include <algorithm>
#include <cmath>

namespace modem {

ReceivePath::ReceivePath(double cardRate, bool waterfall)
    : rate_(cardRate),
      waterfallWanted_(waterfall),
      down_(cardRate, kSampleRate),
      quiet_(static_cast<uint64_t>(cardRate)) {}

void ReceivePath::process(std::span<const float> audio, ReceiveOutput& out) {
    const uint64_t quietSpell = static_cast<uint64_t>(rate_ / 2);
    for (size_t i = 0; i < audio.size(); ++i) {
        const float a = std::abs(audio[i]);
        peak_ = std::max(peak_, a);
        power_ += double(a) * a;
        if (a >= kSoundThreshold) {
            if (quiet_ >= quietSpell) out.edges.push_back(SoundEdge{true, taken_ + i});
            quiet_ = 0;
            lastLoud_ = taken_ + i;
            loud_ = true;
        } else if (++quiet_ == quietSpell && loud_) {
            out.edges.push_back(SoundEdge{false, lastLoud_ + 1});
            loud_ = false;
        }
    }
    taken_ += audio.size();
    counted_ += audio.size();
    if (muted_) return;
    base_.clear();
    down_.process(audio, base_);
    const size_t framesBefore = out.demod.frames.size();
    demodulator_.process(base_, out.demod);
    // Where each new frame began, in card samples: as far back from the newest sample as the
    // demodulator's newest is from the burst, and the resampler's delay more.
    for (size_t f = framesBefore; f < out.demod.frames.size(); ++f) {
        const double back =
            (double(demodulator_.samplesIn() - out.demod.frames[f].startSample) + down_.delay()) /
            kSampleRate * rate_;
        out.frameStarts.push_back(double(taken_) - back);
    }
    if (waterfallWanted_) waterfall_.process(base_, out.rows);
}

void ReceivePath::setMuted(bool muted) {
    if (muted_ && !muted) {
        down_.reset();
        demodulator_.reset();
        waterfall_.reset();
    }
    muted_ = muted;
}

InputLevel ReceivePath::takeLevel() {
    InputLevel level{peak_, counted_ > 0 ? std::sqrt(power_ / double(counted_)) : 0.0, counted_};
    peak_ = 0;
    power_ = 0;
    counted_ = 0;
    return level;
}

}  // namespace modem
