// The shared settings file: where it lives, what a damaged or foreign file gives, the typed
// reads' fallbacks and the saver's writes. Every file is in a temporary XDG_CONFIG_HOME.

#include "packaging/config_file.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <array>

namespace packaging {
namespace {

class ConfigFileTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(home_.isValid());
        qputenv("XDG_CONFIG_HOME", home_.path().toUtf8());
    }
    void TearDown() override { qunsetenv("XDG_CONFIG_HOME"); }

    QString put(const QByteArray& bytes) {
        const QString path = configFilePath(QStringLiteral("prog"));
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(bytes);
        return path;
    }

    QTemporaryDir home_;
};

TEST_F(ConfigFileTest, LivesInTheVistrelFolderOfXdgConfigHome) {
    EXPECT_EQ(configFilePath(QStringLiteral("pictx")), home_.path() + "/vistrel/pictx.conf");
}

TEST_F(ConfigFileTest, WrittenValuesReadBackExactly) {
    const ConfigText values{{"callsign", "G4ABC"},
                            {"message", "Grüße, 73 = \"best\"; [ok]"},
                            {"empty", ""},
                            {"spaces", "  padded  "},
                            {"path", "/home/a b/movies"}};
    const QString path = configFilePath(QStringLiteral("prog"));
    ASSERT_EQ(writeConfigFile(path, QStringLiteral("prog"), values), QString());
    const ConfigRead read = readConfigFile(path, QStringLiteral("prog"));
    EXPECT_EQ(read.problem, QString());
    EXPECT_EQ(read.values, values);
    EXPECT_FALSE(QFile::exists(path + ".new"));
}

TEST_F(ConfigFileTest, AWriteReplacesTheWholeFile) {
    const QString path = put("[prog]\nold=1\n[other]\nx=2\n");
    ASSERT_EQ(writeConfigFile(path, QStringLiteral("prog"), {{"new", "3"}, {"b", "4"}}), QString());
    EXPECT_EQ(readConfigFile(path, QStringLiteral("prog")).values,
              (ConfigText{{"new", "3"}, {"b", "4"}}));
    // At once again, the same size: what was read before in this process is not kept.
    ASSERT_EQ(writeConfigFile(path, QStringLiteral("prog"), {{"new", "5"}, {"b", "6"}}), QString());
    EXPECT_EQ(readConfigFile(path, QStringLiteral("prog")).values,
              (ConfigText{{"new", "5"}, {"b", "6"}}));
    ASSERT_EQ(writeConfigFile(path, QStringLiteral("prog"), {{"c", "7"}}), QString());
    EXPECT_EQ(readConfigFile(path, QStringLiteral("prog")).values, (ConfigText{{"c", "7"}}));
}

TEST_F(ConfigFileTest, MissingOrEmptyFileGivesNothingSilently) {
    const QString path = configFilePath(QStringLiteral("prog"));
    ConfigRead read = readConfigFile(path, QStringLiteral("prog"));
    EXPECT_TRUE(read.values.empty());
    EXPECT_EQ(read.problem, QString());
    put("  \n\n");
    read = readConfigFile(path, QStringLiteral("prog"));
    EXPECT_TRUE(read.values.empty());
    EXPECT_EQ(read.problem, QString());
}

TEST_F(ConfigFileTest, DamagedOrForeignFileIsIgnoredWithItsReason) {
    const struct {
        QByteArray bytes;
        const char* reason;
    } kCases[] = {
        {"[prog\nkey=1\n", "not INI syntax"},
        {"[prog]\njust some words\n", "not INI syntax"},
        {"{\"callsign\": \"G4ABC\"}\n", "not INI syntax"},
        {QByteArray("[prog]\nkey=1\n\0\x01\x02", 16), "not a text file"},
        {"[prog]\nkey=\xff\xfe\n", "not a text file"},
        {"[picrx]\nrecord=true\n", "no [prog] section"},
        {"key=1\n", "no [prog] section"},
        {QByteArray(kMaxConfigBytes + 1, 'a'), "larger than a settings file can be"},
    };
    for (const auto& c : kCases) {
        const QString path = put(c.bytes);
        const ConfigRead read = readConfigFile(path, QStringLiteral("prog"));
        EXPECT_TRUE(read.values.empty()) << c.reason;
        EXPECT_EQ(read.problem, QLatin1String(c.reason)) << c.bytes.left(40).toStdString();
    }
}

TEST_F(ConfigFileTest, FolderOrDeviceIsIgnored) {
    const QString path = configFilePath(QStringLiteral("prog"));
    QDir().mkpath(path);
    EXPECT_EQ(readConfigFile(path, QStringLiteral("prog")).problem, "it is a folder");
    QDir().rmdir(path);
    QDir().mkpath(QFileInfo(path).absolutePath());
    ASSERT_TRUE(QFile::link("/dev/zero", path));
    EXPECT_EQ(readConfigFile(path, QStringLiteral("prog")).problem, "not a regular file");
    QFile::remove(path);
}

TEST_F(ConfigFileTest, UnreadableFileIsIgnored) {
    const QString path = put("[prog]\nkey=1\n");
    QFile::setPermissions(path, QFileDevice::WriteOwner);
    QFile probe(path);
    if (probe.open(QIODevice::ReadOnly)) GTEST_SKIP() << "running as root: every file reads";
    EXPECT_TRUE(readConfigFile(path, QStringLiteral("prog")).problem.startsWith("cannot read it"));
}

TEST_F(ConfigFileTest, UnquotedCommasReadAsTheTextWritten) {
    const QString path = put("[prog]\nmessage=hello, world\n");
    EXPECT_EQ(readConfigFile(path, QStringLiteral("prog")).values.at("message"), "hello, world");
}

enum class Colour { Red, Blue };
constexpr std::array<std::pair<const char*, Colour>, 2> kColours{
    {{"red", Colour::Red}, {"blue", Colour::Blue}}};

TEST(ConfigFields, GoodValuesAreTakenAndMissingOnesFallBackSilently) {
    const ConfigText values{{"n", " 42 "}, {"x", "0.25"}, {"on", "TRUE"},
                            {"off", "0"},  {"t", "abc"},  {"c", "Blue"}};
    ConfigFields f(values);
    EXPECT_EQ(f.integer("n", 1, 0, 100), 42);
    EXPECT_DOUBLE_EQ(f.positive("x", 3, 10), 0.25);
    EXPECT_TRUE(f.flag("on", false));
    EXPECT_FALSE(f.flag("off", true));
    EXPECT_EQ(f.text("t", "d", 3), "abc");
    EXPECT_EQ(f.choice<Colour>("c", Colour::Red, kColours), Colour::Blue);
    EXPECT_EQ(f.integer("missing", 7, 0, 10), 7);
    EXPECT_TRUE(f.rejected().isEmpty());
    EXPECT_EQ(ConfigFields::nameOf<Colour>(Colour::Blue, kColours), "blue");
}

TEST(ConfigFields, OutOfRangeOrWrongTypeFallsBackAndIsNamed) {
    const ConfigText values{{"big", "101"}, {"word", "ten"},  {"zero", "0"},  {"inf", "inf"},
                            {"maybe", "2"}, {"long", "abcd"}, {"c", "green"}, {"edge", "100"}};
    ConfigFields f(values);
    EXPECT_EQ(f.integer("big", 5, 0, 100), 5);
    EXPECT_EQ(f.integer("word", 5, 0, 100), 5);
    EXPECT_EQ(f.integer("edge", 5, 0, 100), 100);
    constexpr int kSizes[] = {48, 64, 100};
    EXPECT_EQ(f.integerOf("edge", 64, kSizes), 100);
    EXPECT_EQ(f.integerOf("big", 64, kSizes), 64);
    EXPECT_DOUBLE_EQ(f.positive("zero", 3, 10), 3);
    EXPECT_DOUBLE_EQ(f.positive("inf", 3, 10), 3);
    EXPECT_TRUE(f.flag("maybe", true));
    EXPECT_EQ(f.text("long", "d", 3), "d");
    EXPECT_EQ(f.choice<Colour>("c", Colour::Red, kColours), Colour::Red);
    EXPECT_EQ(f.rejected(),
              (QStringList{"big", "word", "big", "zero", "inf", "maybe", "long", "c"}));
}

TEST(ConfigReport, SaysWhyOrWhichInOneLine) {
    EXPECT_EQ(configReport("/c/p.conf", {}, {}), QString());
    EXPECT_EQ(configReport("/c/p.conf", "not a text file", {}),
              "ignoring the settings file /c/p.conf (not a text file); using the built-in "
              "settings");
    EXPECT_EQ(configReport("/c/p.conf", {}, {"threshold"}),
              "settings file /c/p.conf: threshold out of range or unreadable; using its built-in "
              "value");
    EXPECT_EQ(configReport("/c/p.conf", {}, {"a", "b"}),
              "settings file /c/p.conf: a, b out of range or unreadable; using their built-in "
              "values");
}

TEST_F(ConfigFileTest, LoadConfigHandsTheValuesOverAndReportsTheRefused) {
    put("[prog]\nn=500\nm=2\n");
    ConfigText seen;
    const QString line = loadConfig(QStringLiteral("prog"), [&](const ConfigText& values) {
        seen = values;
        return QStringList{"n"};
    });
    EXPECT_EQ(seen, (ConfigText{{"n", "500"}, {"m", "2"}}));
    EXPECT_TRUE(line.contains("n out of range")) << line.toStdString();

    put("\x01\x02 binary");
    bool applied = false;
    EXPECT_TRUE(loadConfig(QStringLiteral("prog"), [&](const ConfigText&) {
                    applied = true;
                    return QStringList{};
                }).startsWith("ignoring"));
    EXPECT_FALSE(applied);
}

TEST_F(ConfigFileTest, SaverWritesOnlyChangesAndNothingWhenDisabled) {
    const QString path = configFilePath(QStringLiteral("prog"));
    ConfigSaver off;
    off.save({{"a", "1"}});
    EXPECT_FALSE(QFile::exists(path));

    ConfigSaver saver(QStringLiteral("prog"));
    EXPECT_EQ(saver.path(), path);
    saver.assume({{"a", "1"}});
    saver.save({{"a", "1"}});
    EXPECT_FALSE(QFile::exists(path)) << "nothing changed, nothing written";
    saver.save({{"a", "2"}});
    EXPECT_EQ(readConfigFile(path, "prog").values, (ConfigText{{"a", "2"}}));
    QFile::remove(path);
    saver.save({{"a", "2"}});
    EXPECT_FALSE(QFile::exists(path)) << "the same settings again are not written";
}

TEST_F(ConfigFileTest, SaverSurvivesAnUnwritableFolder) {
    // A file where the vistrel folder should be: the folder cannot be made.
    QFile blocker(home_.path() + "/vistrel");
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    ConfigSaver saver(QStringLiteral("prog"));
    saver.save({{"a", "1"}});
    saver.save({{"a", "2"}});
    EXPECT_FALSE(QFileInfo(saver.path()).exists());
}

}  // namespace
}  // namespace packaging
