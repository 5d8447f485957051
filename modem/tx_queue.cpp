#include "modem/tx_queue.h"

#include <algorithm>

namespace modem {

int TxQueue::push(std::vector<Unit> frameString) {
    if (frameString.empty()) return 0;
    int dropped = 0;
    // Only strings not yet begun can go; of those, every one but the newest arrival.
    for (auto it = strings_.begin(); it != strings_.end();) {
        if (it->taken == 0) {
            it = strings_.erase(it);
            ++dropped;
        } else {
            ++it;
        }
    }
    stats_.stringsDropped += static_cast<uint64_t>(dropped);
    ++stats_.stringsQueued;
    strings_.push_back(Pending{std::move(frameString), 0});
    return dropped;
}

size_t TxQueue::waiting() const {
    return static_cast<size_t>(std::count_if(strings_.begin(), strings_.end(),
                                             [](const Pending& p) { return p.taken == 0; }));
}

bool TxQueue::makeModemFrame() {
    std::vector<Unit> units;
    while (units.size() < kMaxUnitsPerFrame && !strings_.empty()) {
        Pending& front = strings_.front();
        const size_t take =
            std::min(kMaxUnitsPerFrame - units.size(), front.units.size() - front.taken);
        units.insert(units.end(), front.units.begin() + static_cast<std::ptrdiff_t>(front.taken),
                     front.units.begin() + static_cast<std::ptrdiff_t>(front.taken + take));
        front.taken += take;
        if (front.taken == front.units.size()) {
            strings_.pop_front();
            ++stats_.stringsSent;
        }
    }
    if (units.empty()) return false;
    audio_.clear();
    played_ = 0;
    modulator_.modulateFrame(units, audio_);
    ++stats_.modemFrames;
    stats_.unitsSent += units.size();
    return true;
}

size_t TxQueue::pull(size_t count, std::vector<float>& out) {
    size_t given = 0;
    while (given < count) {
        if (played_ == audio_.size() && !makeModemFrame()) break;
        const size_t take = std::min(count - given, audio_.size() - played_);
        out.insert(out.end(), audio_.begin() + static_cast<std::ptrdiff_t>(played_),
                   audio_.begin() + static_cast<std::ptrdiff_t>(played_ + take));
        played_ += take;
        given += take;
    }
    return given;
}

void TxQueue::clear() {
    stats_.stringsDropped += strings_.size();
    strings_.clear();
    audio_.clear();
    played_ = 0;
}

}  // namespace modem
