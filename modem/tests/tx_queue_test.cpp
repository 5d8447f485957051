#include "modem/tx_queue.h"

#include <gtest/gtest.h>

#include "modem/demodulator.h"
#include "modem/tests/modem_signals.h"

namespace modem {
namespace {

using test::randomUnits;

std::vector<Unit> join(const std::vector<Unit>& a, const std::vector<Unit>& b) {
    std::vector<Unit> both = a;
    both.insert(both.end(), b.begin(), b.end());
    return both;
}

std::vector<Unit> demodulateAll(std::span<const float> audio) {
    Demodulator demodulator;
    DemodOutput out;
    demodulator.process(audio, out);
    demodulator.flush(out);
    return out.units;
}

// Two frame strings queued together share a modem frame: the audio is exactly what the
// modulator makes of all their units at once, with no gap, and the units come back in order.
TEST(TxQueue, ConsecutiveStringsShareModemFrames) {
    const std::vector<Unit> a = randomUnits(17, 1);  // a full frame and 5 units
    const std::vector<Unit> b = randomUnits(9, 2);   // 7 of them fill the second frame
    TxQueue shared;
    shared.push(a);
    std::vector<float> audio;
    ASSERT_EQ(shared.pull(1, audio), 1u);  // a is on the air
    EXPECT_EQ(shared.push(b), 0);
    while (shared.pull(4096, audio) > 0) {
    }
    EXPECT_TRUE(shared.idle());
    std::vector<float> expected;
    Modulator modulator;
    modulator.modulate(join(a, b), expected);
    EXPECT_EQ(audio, expected);
    EXPECT_EQ(shared.stats().modemFrames, 3u);  // 12 + 12 + 2, not 12 + 5 + 9
    EXPECT_EQ(shared.stats().stringsSent, 2u);
    EXPECT_EQ(demodulateAll(audio), join(a, b));
}

TEST(TxQueue, AnyPullSizesGiveTheSameAudio) {
    const std::vector<Unit> a = randomUnits(30, 3);
    std::vector<float> whole;
    TxQueue one;
    one.push(a);
    const size_t played = one.pull(1 << 20, whole);
    EXPECT_EQ(played, whole.size());
    EXPECT_TRUE(one.idle());
    for (const size_t piece : {size_t{1}, size_t{159}, size_t{800}}) {
        TxQueue queue;
        queue.push(a);
        std::vector<float> audio;
        while (queue.pull(piece, audio) == piece) {
        }
        EXPECT_EQ(audio, whole) << "pieces of " << piece;
    }
    std::vector<float> none;
    EXPECT_EQ(one.pull(100, none), 0u);  // nothing queued: nothing to play
}

// Strings arriving faster than the mode sends them: the one on the air goes out whole, a
// newer arrival replaces the one waiting, and no string is ever sent in part.
TEST(TxQueue, WaitingStringsAreDroppedWholeOldestFirst) {
    // Two strings pushed before anything has played: the first has not begun, so the second
    // replaces it.
    TxQueue early;
    early.push(randomUnits(5, 10));
    EXPECT_EQ(early.push(randomUnits(5, 11)), 1);

    TxQueue queue(Mode::Robust);
    const std::vector<Unit> a = randomUnits(20, 4), b = randomUnits(20, 5), c = randomUnits(20, 6),
                            d = randomUnits(3, 7);
    queue.push(a);
    std::vector<float> audio;
    queue.pull(1000, audio);  // a begun
    EXPECT_EQ(queue.push(b), 0);
    EXPECT_EQ(queue.waiting(), 1u);
    EXPECT_EQ(queue.push(c), 1);  // b dropped, c waits
    EXPECT_EQ(queue.waiting(), 1u);
    while (queue.pull(4096, audio) > 0) {
    }
    EXPECT_EQ(queue.stats().stringsDropped, 1u);
    EXPECT_EQ(queue.stats().stringsSent, 2u);
    EXPECT_EQ(demodulateAll(audio), join(a, c));

    // A string whose first units share the frame on the air has begun and is kept.
    queue.push(d);
    queue.pull(1, audio);
    queue.push(randomUnits(12, 8));
    EXPECT_EQ(queue.push(randomUnits(12, 9)), 1);
    EXPECT_EQ(queue.stats().stringsDropped, 2u);

    queue.clear();  // "stop"
    EXPECT_TRUE(queue.idle());
    EXPECT_EQ(queue.pull(100, audio), 0u);
}

}  // namespace
}  // namespace modem
