#pragma once

// Samples between the sound card's real-time thread and the event loop: a lock-free ring with
// one writer and one reader. Neither side ever waits or allocates; a writer that finds the ring
// full writes what fits and says how much that was.

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <span>
#include <vector>

namespace modem {

class AudioRing {
public:
    explicit AudioRing(size_t capacity) : buffer_(capacity + 1) {}

    // Writer side: copies as many samples as fit; returns how many.
    size_t write(std::span<const float> samples) {
        const size_t head = head_.load(std::memory_order_relaxed);
        const size_t tail = tail_.load(std::memory_order_acquire);
        const size_t count = std::min(samples.size(), free(head, tail));
        copyIn(head, samples.first(count));
        head_.store((head + count) % buffer_.size(), std::memory_order_release);
        return count;
    }
    // Reader side: copies up to out.size() samples; returns how many.
    size_t read(std::span<float> out) {
        const size_t tail = tail_.load(std::memory_order_relaxed);
        const size_t head = head_.load(std::memory_order_acquire);
        const size_t count = std::min(out.size(), used(head, tail));
        const size_t first = std::min(count, buffer_.size() - tail);
        std::copy_n(buffer_.begin() + static_cast<std::ptrdiff_t>(tail), first, out.begin());
        std::copy_n(buffer_.begin(), count - first,
                    out.begin() + static_cast<std::ptrdiff_t>(first));
        tail_.store((tail + count) % buffer_.size(), std::memory_order_release);
        return count;
    }
    // Either side: samples waiting (a snapshot).
    [[nodiscard]] size_t available() const {
        return used(head_.load(std::memory_order_acquire), tail_.load(std::memory_order_acquire));
    }
    [[nodiscard]] size_t capacity() const { return buffer_.size() - 1; }

private:
    [[nodiscard]] size_t used(size_t head, size_t tail) const {
        return (head + buffer_.size() - tail) % buffer_.size();
    }
    [[nodiscard]] size_t free(size_t head, size_t tail) const {
        return buffer_.size() - 1 - used(head, tail);
    }
    void copyIn(size_t head, std::span<const float> samples) {
        const size_t first = std::min(samples.size(), buffer_.size() - head);
        std::copy_n(samples.begin(), first, buffer_.begin() + static_cast<std::ptrdiff_t>(head));
        std::copy(samples.begin() + static_cast<std::ptrdiff_t>(first), samples.end(),
                  buffer_.begin());
    }

    std::vector<float> buffer_;    // one slot stays empty: head == tail means empty
    std::atomic<size_t> head_{0};  // next slot the writer fills
    std::atomic<size_t> tail_{0};  // next slot the reader takes
};

}  // namespace modem
