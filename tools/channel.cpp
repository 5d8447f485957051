#include "tools/channel.h"

#include <algorithm>
#include <cmath>

namespace tools {

namespace {

// Byte errors draw from a second stream so that turning them on leaves the losses unchanged.
constexpr uint64_t kErrorStream = 0x9E3779B97F4A7C15ull;
// Far beyond any frame, and small enough to convert to int.
constexpr double kLongestBurst = 1e9;

// Uniform in [0, 1): the top 53 bits of the output, which a double holds exactly.
double uniformUnit(std::mt19937_64& random) {
    return static_cast<double>(random() >> 11) * 0x1.0p-53;
}

// p <= 0 (and NaN) never happens, p >= 1 always does.
bool happens(std::mt19937_64& random, double p) { return uniformUnit(random) < p; }

// 1..255 by multiply-shift of 32 random bits; the values' likelihoods differ by at most one part
// in 2^32 / 255, far below anything a test of the receiver could notice.
uint8_t nonZeroByte(std::mt19937_64& random) {
    const uint64_t bits = random() >> 32;
    return static_cast<uint8_t>(1 + ((bits * 255) >> 32));
}

bool loseNext(ChannelState& channel) {
    const ChannelSettings& s = channel.settings;
    const double mean = s.burstLength;
    if (!(mean >= 1.0)) {
        return happens(channel.lossRandom, s.loss);
    }
    const bool fixed = s.shape == BurstShape::Fixed;
    if (channel.inBurst) {
        channel.inBurst =
            fixed ? channel.burstLeft > 0 : happens(channel.lossRandom, 1.0 - 1.0 / mean);
    } else {
        // Chosen so that bursts of mean length `mean` separated by good runs of mean 1 / start
        // lose the fraction loss of all units.
        const double start = s.loss / (mean * (1.0 - s.loss));
        channel.inBurst = happens(channel.lossRandom, start);
        if (channel.inBurst) {
            channel.burstLeft = static_cast<int>(std::round(std::min(mean, kLongestBurst)));
        }
    }
    if (channel.inBurst && fixed) {
        --channel.burstLeft;
    }
    return channel.inBurst;
}

}  // namespace

ChannelState::ChannelState(const ChannelSettings& channelSettings)
    : settings(channelSettings),
      lossRandom(channelSettings.seed),
      errorRandom(channelSettings.seed ^ kErrorStream) {}

std::optional<encoder::Unit> passUnit(ChannelState& channel, const encoder::Unit& unit) {
    ++channel.counters.unitsIn;
    if (loseNext(channel)) {
        ++channel.counters.unitsLost;
        return std::nullopt;
    }
    encoder::Unit received = unit;
    if (channel.settings.byteErrors > 0.0) {
        for (uint8_t& byte : received) {
            if (happens(channel.errorRandom, channel.settings.byteErrors)) {
                // XOR with a non-zero value: the byte always changes, to any other value alike.
                byte ^= nonZeroByte(channel.errorRandom);
                ++channel.counters.bytesCorrupted;
            }
        }
    }
    return received;
}

std::vector<encoder::Unit> passFrame(ChannelState& channel, std::span<const uint8_t> frame) {
    std::vector<encoder::Unit> received;
    received.reserve(frame.size() / encoder::kUnitBytes);
    for (size_t at = 0; at + encoder::kUnitBytes <= frame.size(); at += encoder::kUnitBytes) {
        encoder::Unit unit;
        std::copy_n(frame.begin() + static_cast<std::ptrdiff_t>(at), encoder::kUnitBytes,
                    unit.begin());
        if (std::optional<encoder::Unit> arrived = passUnit(channel, unit)) {
            received.push_back(*arrived);
        }
    }
    return received;
}

}  // namespace tools
