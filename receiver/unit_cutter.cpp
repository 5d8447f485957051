#include "receiver/unit_cutter.h"

#include <algorithm>

namespace receiver {

std::vector<encoder::Unit> UnitCutter::feed(std::span<const uint8_t> bytes) {
    std::vector<encoder::Unit> units;
    units.reserve((filled_ + bytes.size()) / encoder::kUnitBytes);
    bytesFed_ += bytes.size();
    while (!bytes.empty()) {
        const size_t take = std::min(encoder::kUnitBytes - filled_, bytes.size());
        std::copy_n(bytes.begin(), take, partial_.begin() + static_cast<std::ptrdiff_t>(filled_));
        filled_ += take;
        bytes = bytes.subspan(take);
        if (filled_ == encoder::kUnitBytes) {
            units.push_back(partial_);
            filled_ = 0;
            ++unitsCut_;
        }
    }
    return units;
}

size_t UnitCutter::reset() {
    const size_t dropped = filled_;
    droppedAtEnd_ += dropped;
    filled_ = 0;
    return dropped;
}

size_t UnitCutter::realign() {
    const size_t dropped = filled_;
    if (dropped == 0) return 0;
    droppedAtPause_ += dropped;
    ++realignments_;
    filled_ = 0;
    return dropped;
}

}  // namespace receiver
