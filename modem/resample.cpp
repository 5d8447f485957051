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
