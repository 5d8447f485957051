// picrx's command line: what each option sets, and a clear error for each mistake.

#include "receiver/picrx_options.h"

#include <gtest/gtest.h>

namespace receiver {
namespace {

PicrxParse parse(std::initializer_list<const char*> args) {
    QStringList list;
    for (const char* a : args) list << QString::fromLatin1(a);
    return parsePicrxOptions(list);
}

TEST(PicrxOptions, DefaultsAreTheSystemsPortOnLoopbackWithoutRecording) {
    const PicrxParse p = parse({});
    EXPECT_TRUE(p.error.empty());
    EXPECT_EQ(p.options.port, 999);
    EXPECT_EQ(p.options.listen, QHostAddress(QHostAddress::LocalHost));
    EXPECT_FALSE(p.options.record);
    EXPECT_TRUE(p.options.recordDir.empty());
    EXPECT_FALSE(p.options.help);
    EXPECT_FALSE(p.options.defaults);
    EXPECT_FALSE(p.options.feed || p.options.screenshot);
}

TEST(PicrxOptions, EachOptionInBothSpellings) {
    const PicrxParse p =
        parse({"--port", "19999", "--listen=0.0.0.0", "--record", "--record-dir", "movies",
               "--feed=a.frame", "--screenshot", "w.png", "--verbose", "--defaults"});
    ASSERT_TRUE(p.error.empty()) << p.error;
    EXPECT_EQ(p.options.port, 19999);
    EXPECT_EQ(p.options.listen, QHostAddress(QHostAddress::AnyIPv4));
    EXPECT_TRUE(p.options.record);
    EXPECT_EQ(p.options.recordDir, std::filesystem::path("movies"));
    EXPECT_EQ(p.options.feed, std::filesystem::path("a.frame"));
    EXPECT_EQ(p.options.screenshot, std::filesystem::path("w.png"));
    EXPECT_TRUE(p.options.verbose);
    EXPECT_TRUE(p.options.defaults);
    EXPECT_TRUE(parse({"-h"}).options.help);
    EXPECT_EQ(parse({"--port=0"}).options.port, 0);
    EXPECT_EQ(parse({"--port", "65535"}).options.port, 65535);
}

TEST(PicrxOptions, MistakesAreNamed) {
    const struct {
        std::initializer_list<const char*> args;
        const char* error;
    } cases[] = {
        {{"--port", "65536"}, "--port must be a number from 0 to 65535, not '65536'"},
        {{"--port", "-1"}, "--port must be a number from 0 to 65535, not '-1'"},
        {{"--port"}, "--port needs a value"},
        {{"--listen", "localhost:1"}, "--listen must be an IP address, not 'localhost:1'"},
        {{"--record-dir="}, "--record-dir needs a folder"},
        {{"--recorddir", "x"}, "unknown argument '--recorddir'"},
        {{"picture.png"}, "unknown argument 'picture.png'"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(parse(c.args).error, c.error);
    }
}

}  // namespace
}  // namespace receiver
