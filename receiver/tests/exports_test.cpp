// The exported entry points, looked up by name as another program would find them.

#include "receiver/exports.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <random>
#include <vector>

namespace receiver {
namespace {

using Coder = int64_t (*)(const uint8_t*, int64_t, uint8_t*, int64_t);
using InitControls = int (*)();
using FileVersion = int (*)(const char*, uint32_t*, int);

template <typename F>
F lookUp(const char* name) {
    return reinterpret_cast<F>(dlsym(RTLD_DEFAULT, name));
}

std::vector<uint8_t> call(Coder coder, const std::vector<uint8_t>& input) {
    const auto size = static_cast<int64_t>(input.size());
    const int64_t length = coder(input.data(), size, nullptr, 0);
    EXPECT_GE(length, 0);
    std::vector<uint8_t> out(static_cast<size_t>(std::max<int64_t>(length, 0)));
    EXPECT_EQ(coder(input.data(), size, out.data(), length), length);
    return out;
}

TEST(PicrxExports, AreFoundByName) {
    for (const char* name : {"LZW", "UNLZW", "INITCOMCTL32", "GETSYSFILEVER"}) {
        EXPECT_NE(dlsym(RTLD_DEFAULT, name), nullptr) << name;
    }
}

TEST(PicrxExports, LzwPairRestoresItsInputAndNeverWritesPastCapacity) {
    const auto lzw = lookUp<Coder>("LZW");
    const auto unlzw = lookUp<Coder>("UNLZW");
    ASSERT_TRUE(lzw && unlzw);
    EXPECT_EQ(call(lzw, {0x41}), (std::vector<uint8_t>{0x41, 0x00, 0x5A, 0x00, 0x9E, 0x9B}));

    constexpr uint64_t kSeed = 7;
    SCOPED_TRACE("seed " + std::to_string(kSeed));
    std::mt19937_64 rng(kSeed);
    std::vector<uint8_t> input(70000);  // past the dictionary's clear code
    for (auto& b : input) b = static_cast<uint8_t>(rng() % 6);
    const std::vector<uint8_t> packed = call(lzw, input);
    EXPECT_EQ(call(unlzw, packed), input);

    // Too little room: the first bytes, nothing past capacity, and the whole length back.
    const auto inputBytes = static_cast<int64_t>(input.size());
    std::vector<uint8_t> small(12, 0xEE);
    EXPECT_EQ(lzw(input.data(), inputBytes, small.data(), 10), static_cast<int64_t>(packed.size()));
    EXPECT_TRUE(std::equal(small.begin(), small.begin() + 10, packed.begin()));
    EXPECT_EQ(small[10], 0xEE);
    EXPECT_EQ(lzw(input.data(), -1, small.data(), 10), -1);
    EXPECT_EQ(lzw(nullptr, 5, small.data(), 10), -1);
    EXPECT_EQ(lzw(input.data(), inputBytes, nullptr, 10), -1);

    EXPECT_EQ(lzw(nullptr, 0, nullptr, 0), 4);  // an empty input is just the trailer
    std::vector<uint8_t> junk(300);
    for (auto& b : junk) b = static_cast<uint8_t>(rng());
    (void)call(unlzw, junk);  // any bytes are safe to unpack
}

TEST(PicrxExports, InitComCtl32SucceedsWithTheWidgetApplication) {
    const auto init = lookUp<InitControls>("INITCOMCTL32");
    ASSERT_TRUE(init);
    EXPECT_EQ(init(), 1);
}

TEST(PicrxExports, VersionSuffixReadsTheTrailingNumbers) {
    std::array<uint32_t, 4> v{};
    EXPECT_EQ(versionSuffix("libfoo.so.1.2.3", v), 3);
    EXPECT_EQ(v[0], 1u);
    EXPECT_EQ(v[1], 2u);
    EXPECT_EQ(v[2], 3u);
    EXPECT_EQ(versionSuffix("libc.so.6", v), 1);
    EXPECT_EQ(v[0], 6u);
    EXPECT_EQ(versionSuffix("libfoo.so", v), 0);
    EXPECT_EQ(versionSuffix("", v), 0);
    EXPECT_EQ(versionSuffix("libx.so.1.", v), 0);  // an empty group is no number
    EXPECT_EQ(versionSuffix("libx.so.1234567890", v), 0);
    EXPECT_EQ(versionSuffix("libx.so.1234567890.5", v), 1);
    EXPECT_EQ(v[0], 5u);
    std::array<uint32_t, 1> one{};
    EXPECT_EQ(versionSuffix("a.so.7.8.9", one), 3);  // all counted, only what fits written
    EXPECT_EQ(one[0], 7u);
}

TEST(PicrxExports, GetSysFileVerLooksOnlyInTheSystemLibraryFolder) {
    const auto version = lookUp<FileVersion>("GETSYSFILEVER");
    ASSERT_TRUE(version);
    std::array<uint32_t, 4> v{};
    // The C library this test runs with is in the folder by definition.
    EXPECT_EQ(version("libc.so.6", v.data(), 4), 1) << systemLibraryFolder();
    EXPECT_EQ(v[0], 6u);
    EXPECT_EQ(version("libc.so.6", nullptr, 0), 1);
    EXPECT_EQ(version("no-such-library.so.1", v.data(), 4), -1);
    EXPECT_EQ(version("../../etc/hostname", v.data(), 4), -1);
    EXPECT_EQ(version("/etc/hostname", v.data(), 4), -1);
    EXPECT_EQ(version("", v.data(), 4), -1);
    EXPECT_EQ(version("..", v.data(), 4), -1);
    EXPECT_EQ(version(nullptr, v.data(), 4), -1);
}

}  // namespace
}  // namespace receiver
