// The C entry points, found by name in this executable's dynamic symbols as another program
// would find them in pictx.

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

namespace {

using CoderFn = int64_t (*)(const uint8_t*, int64_t, uint8_t*, int64_t);
using FitFn = void (*)(int32_t, int32_t, int32_t, int32_t, int32_t*, int32_t*, int32_t*, int32_t*);

template <typename F>
F entryPoint(const char* name) {
    return reinterpret_cast<F>(dlsym(RTLD_DEFAULT, name));
}

std::vector<uint8_t> run(CoderFn fn, const std::vector<uint8_t>& input) {
    const int64_t size = fn(input.data(), static_cast<int64_t>(input.size()), nullptr, 0);
    EXPECT_GE(size, 0);
    std::vector<uint8_t> out(static_cast<size_t>(std::max<int64_t>(size, 0)));
    EXPECT_EQ(fn(input.data(), static_cast<int64_t>(input.size()), out.data(),
                 static_cast<int64_t>(out.size())),
              size);
    return out;
}

TEST(Exports, LzwRoundTripsThroughTheNamedEntryPoints) {
    const auto lzw = entryPoint<CoderFn>("LZW");
    const auto unlzw = entryPoint<CoderFn>("UNLZW");
    ASSERT_NE(lzw, nullptr);
    ASSERT_NE(unlzw, nullptr);
    constexpr uint32_t kSeed = 6;
    SCOPED_TRACE(testing::Message() << "seed " << kSeed);
    std::mt19937 random(kSeed);
    std::vector<uint8_t> input(50000);
    for (uint8_t& b : input) b = static_cast<uint8_t>(random() % 7);  // compressible, past a clear
    const std::vector<uint8_t> packed = run(lzw, input);
    ASSERT_GE(packed.size(), 4u);
    EXPECT_EQ(packed[packed.size() - 4], 0x5A);  // the trailer
    EXPECT_EQ(packed.back(), 0x9B);
    EXPECT_EQ(run(unlzw, packed), input);
}

TEST(Exports, LzwRefusesBadBuffersAndFillsShortOnes) {
    const auto lzw = entryPoint<CoderFn>("LZW");
    ASSERT_NE(lzw, nullptr);
    const std::vector<uint8_t> input{1, 2, 3, 1, 2, 3, 1, 2, 3};
    EXPECT_EQ(lzw(nullptr, 5, nullptr, 0), -1);
    EXPECT_EQ(lzw(input.data(), -1, nullptr, 0), -1);
    EXPECT_EQ(lzw(input.data(), 9, nullptr, 10), -1);
    const std::vector<uint8_t> whole = run(lzw, input);
    std::vector<uint8_t> part(3, 0xEE);
    EXPECT_EQ(lzw(input.data(), 9, part.data(), 3), static_cast<int64_t>(whole.size()));
    EXPECT_EQ(part, std::vector<uint8_t>(whole.begin(), whole.begin() + 3));
    EXPECT_EQ(lzw(nullptr, 0, nullptr, 0), 4);  // just the trailer
}

TEST(Exports, SkiconiseFitsAndLeavesNullOutputsAlone) {
    const auto fit = entryPoint<FitFn>("SKICONISE");
    ASSERT_NE(fit, nullptr);
    int32_t x = -1, y = -1, w = -1, h = -1;
    fit(640, 480, 256, 256, &x, &y, &w, &h);
    EXPECT_EQ((std::vector<int32_t>{x, y, w, h}), (std::vector<int32_t>{0, 32, 256, 192}));
    fit(480, 640, 256, 256, &x, &y, &w, &h);
    EXPECT_EQ((std::vector<int32_t>{x, y, w, h}), (std::vector<int32_t>{32, 0, 192, 256}));
    fit(1000, 10, 256, 256, nullptr, &y, nullptr, &h);
    EXPECT_EQ(y, 126);
    EXPECT_EQ(h, 3);
}

}  // namespace
