#include "modem/resample.h"

#include <soxr.h>

#include <cmath>

namespace modem {

std::vector<float> resampleAudio(std::span<const float> in, double fromHz, double toHz) {
    if (fromHz <= 0 || toHz <= 0) return {};
    if (fromHz == toHz) return {in.begin(), in.end()};
    std::vector<float> out(static_cast<size_t>(std::ceil(double(in.size()) * toHz / fromHz)) + 16);
    size_t done = 0;
    const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
    const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
    const soxr_error_t error = soxr_oneshot(fromHz, toHz, 1, in.data(), in.size(), nullptr,
                                            out.data(), out.size(), &done, &io, &quality, nullptr);
    if (error != nullptr) return {};
    out.resize(done);
    return out;
}

}  // namespace modem

namespace modem {

namespace {

soxr_t makeSoxr(double fromHz, double toHz) {
    const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
    const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
    soxr_error_t error = nullptr;
    soxr_t s = soxr_create(fromHz, toHz, 1, &error, &io, &quality, nullptr);
    return error == nullptr ? s : nullptr;
}

}  // namespace

StreamResampler::StreamResampler(double fromHz, double toHz) : fromHz_(fromHz), toHz_(toHz) {
    if (fromHz > 0 && toHz > 0 && fromHz != toHz) soxr_ = makeSoxr(fromHz, toHz);
}

StreamResampler::~StreamResampler() {
    if (soxr_ != nullptr) soxr_delete(static_cast<soxr_t>(soxr_));
}

void StreamResampler::process(std::span<const float> in, std::vector<float>& out) {
    if (soxr_ == nullptr) {
        if (fromHz_ == toHz_) out.insert(out.end(), in.begin(), in.end());
        return;
    }
    auto* s = static_cast<soxr_t>(soxr_);
    const size_t room = static_cast<size_t>(std::ceil(double(in.size()) * toHz_ / fromHz_)) + 64;
    size_t used = 0;
    // soxr may hold input back; every sample is taken before returning.
    do {
        const size_t start = out.size();
        out.resize(start + room);
        size_t taken = 0;
        size_t made = 0;
        soxr_process(s, in.data() + used, in.size() - used, &taken, out.data() + start, room,
                     &made);
        out.resize(start + made);
        used += taken;
        if (taken == 0 && made == 0) break;
    } while (used < in.size());
}

void StreamResampler::drain(std::vector<float>& out) {
    if (soxr_ == nullptr) return;
    auto* s = static_cast<soxr_t>(soxr_);
    constexpr size_t kRoom = 4096;
    for (;;) {
        const size_t start = out.size();
        out.resize(start + kRoom);
        size_t made = 0;
        soxr_process(s, nullptr, 0, nullptr, out.data() + start, kRoom, &made);
        out.resize(start + made);
        if (made == 0) break;
    }
    soxr_clear(s);
}

double StreamResampler::delay() const {
    return soxr_ != nullptr ? soxr_delay(static_cast<soxr_t>(soxr_)) : 0.0;
}

void StreamResampler::reset() {
    if (soxr_ != nullptr) soxr_clear(static_cast<soxr_t>(soxr_));
}

}  // namespace modem
