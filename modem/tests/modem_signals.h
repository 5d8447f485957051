#pragma once

// What the modem's tests send: seeded random units, their frames as audio with silence around
// them, and that audio through the simulated channel at the modulator's own power.

#include <cstdint>
#include <random>
#include <span>
#include <vector>

#include "modem/hf_channel.h"
#include "modem/modulator.h"

namespace modem::test {

inline std::vector<Unit> randomUnits(int count, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<Unit> units(static_cast<size_t>(count));
    for (Unit& u : units) {
        for (uint8_t& b : u) b = static_cast<uint8_t>(rng());
    }
    return units;
}

// leading samples of silence, the frames of units back to back, trailing samples of silence.
inline std::vector<float> transmission(std::span<const Unit> units, Mode mode, int leading = 1234,
                                       int trailing = 2000) {
    std::vector<float> audio(static_cast<size_t>(leading), 0.0f);
    Modulator modulator(mode);
    modulator.modulate(units, audio);
    audio.resize(audio.size() + static_cast<size_t>(trailing), 0.0f);
    return audio;
}

// The whole recording through the channel; the SNR is against the modulator's mean power.
inline std::vector<float> through(HfChannelConfig config, std::span<const float> audio) {
    config.signalPower = double(kTxRms) * kTxRms;
    return simulateRecording(config, audio);
}

}  // namespace modem::test
