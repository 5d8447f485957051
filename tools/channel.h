#pragma once

// A simulated radio channel for 41-byte units: lost units, alone or in bursts, and damaged
// bytes in the units that arrive. Every decision comes from a seeded 64-bit generator whose
// output the C++ standard fixes, turned into probabilities and byte values here rather than by
// the standard library's distributions, so a seed gives the same channel on every platform.
//
// Losses: with burstLength below 1 each unit is lost on its own with probability loss. From 1
// up, a two-state chain: after a delivered unit the next one starts a burst with probability
// s = loss / (burstLength * (1 - loss)); a geometric burst goes on after each lost unit with
// probability 1 - 1 / burstLength, a fixed burst is exactly round(burstLength) units. Both give
// runs of lost units of mean burstLength and, over a long run, the fraction loss of units lost
// (for loss up to burstLength / (burstLength + 1), beyond which s is held at 1).
//
// Byte errors: each byte of a delivered unit is replaced with probability byteErrors by one of
// the 255 other values, all equally likely. They draw from a generator of their own, so the
// same seed loses the same units whatever byteErrors is.

#include <cstdint>
#include <optional>
#include <random>
#include <span>
#include <vector>

#include "encoder/frame_format.h"

namespace tools {

enum class BurstShape { Geometric, Fixed };

struct ChannelSettings {
    double loss = 0.0;         // fraction of units lost, 0..1
    double byteErrors = 0.0;   // probability that a delivered byte is damaged, 0..1
    double burstLength = 0.0;  // mean run of lost units; below 1: independent losses
    BurstShape shape = BurstShape::Geometric;
    uint64_t seed = 1;  // same seed and settings, same channel
};

struct ChannelCounters {
    uint64_t unitsIn = 0;         // units offered to the channel
    uint64_t unitsLost = 0;       // of those, not delivered
    uint64_t bytesCorrupted = 0;  // bytes changed in delivered units
};

struct ChannelState {
    ChannelSettings settings;
    std::mt19937_64 lossRandom;
    std::mt19937_64 errorRandom;
    bool inBurst = false;  // the previous unit was lost in a burst
    int burstLeft = 0;     // fixed bursts: units of the current burst still to lose
    ChannelCounters counters;

    explicit ChannelState(const ChannelSettings& channelSettings);
};

// One unit through the channel: nullopt when it is lost, else the unit as received.
[[nodiscard]] std::optional<encoder::Unit> passUnit(ChannelState& channel,
                                                    const encoder::Unit& unit);

// A frame string (a whole number of units) through the channel: the units that arrive, in
// order. A tail shorter than a unit is not a unit and is not sent.
[[nodiscard]] std::vector<encoder::Unit> passFrame(ChannelState& channel,
                                                   std::span<const uint8_t> frame);

}  // namespace tools
