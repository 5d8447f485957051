// picrx's remembered record folder and recorder switch: the text and back, the command line on
// top of the file, --defaults, and the window writing what the Record button leaves. Every file
// is in a configuration folder of the test's own.

#include "receiver/picrx_settings.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QTemporaryDir>

#include "packaging/tests/config_home.h"
#include "receiver/main_window.h"

namespace receiver {
namespace {

TEST(PicrxSettings, RoundTripAndBadValues) {
    for (const PicrxSettings& s : {PicrxSettings{}, PicrxSettings{"/srv/movies a", true}}) {
        QStringList rejected;
        const PicrxSettings back = picrxSettingsFromText(picrxConfigText(s), rejected);
        EXPECT_TRUE(rejected.isEmpty());
        EXPECT_EQ(back.recordDir, s.recordDir);
        EXPECT_EQ(back.record, s.record);
    }
    QStringList rejected;
    PicrxSettings s =
        picrxSettingsFromText({{"record_dir", "movies"}, {"record", "true"}}, rejected);
    EXPECT_EQ(rejected, QStringList{"record_dir"}) << "a relative folder depends on where";
    EXPECT_TRUE(s.recordDir.empty());
    EXPECT_TRUE(s.record) << "the other value is kept";
    rejected.clear();
    s = picrxSettingsFromText({{"record_dir", "/srv/m"}, {"record", "sometimes"}}, rejected);
    EXPECT_EQ(rejected, QStringList{"record"});
    EXPECT_EQ(s.recordDir, "/srv/m");
    EXPECT_FALSE(s.record);
}

class PicrxStartUp : public packaging::testing_support::ConfigHomeTest {
protected:
    PicrxStartUp() : ConfigHomeTest(QStringLiteral("picrx")) {}
    std::pair<PicrxStart, std::string> start(const PicrxOptions& options) {
        testing::internal::CaptureStderr();
        PicrxStart s = startUpSettings(options);
        return {s, testing::internal::GetCapturedStderr()};
    }
};

TEST_F(PicrxStartUp, TheCommandLineWinsOverTheFile) {
    put("[picrx]\nrecord_dir=/srv/movies\nrecord=false\n");
    auto [plain, said] = start({});
    EXPECT_EQ(plain.settings.recordDir, "/srv/movies");
    EXPECT_FALSE(plain.settings.record);
    EXPECT_EQ(said, "");

    PicrxOptions o;
    o.record = true;
    o.recordDir = "here/movies";
    auto [given, quiet] = start(o);
    EXPECT_EQ(given.file.recordDir, "/srv/movies");
    EXPECT_TRUE(given.settings.record);
    EXPECT_TRUE(given.settings.recordDir.is_absolute());
    EXPECT_EQ(given.settings.recordDir, std::filesystem::current_path() / "here/movies");
}

TEST_F(PicrxStartUp, DefaultsDoNotReadTheFile) {
    put("[picrx]\nrecord_dir=/srv/movies\nrecord=true\n");
    PicrxOptions o;
    o.defaults = true;
    auto [s, said] = start(o);
    EXPECT_TRUE(s.file.recordDir.empty());
    EXPECT_FALSE(s.settings.record);
    EXPECT_EQ(said, "");
}

TEST_F(PicrxStartUp, DamagedOrOutOfRangeIsOneLine) {
    put("[picrx]\nrecord_dir=/srv/movies\nrecord=2\n");
    auto [s, said] = start({});
    EXPECT_EQ(s.settings.recordDir, "/srv/movies");
    EXPECT_EQ(said.find("picrx: settings file "), 0u) << said;
    EXPECT_NE(said.find(": record out of range"), std::string::npos) << said;
    EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1);

    put(QByteArray("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16));
    auto [blank, why] = start({});
    EXPECT_TRUE(blank.settings.recordDir.empty());
    EXPECT_EQ(why.find("picrx: ignoring the settings file "), 0u) << why;
    EXPECT_EQ(std::count(why.begin(), why.end(), '\n'), 1);
}

// The window: what the Record button leaves is written; a start that fails keeps the wish.
TEST_F(PicrxStartUp, TheRecordButtonIsRemembered) {
    QTemporaryDir movies;
    WindowSettings settings;
    settings.link.port = 0;
    settings.recordDir = movies.path().toStdString();
    settings.remember = true;
    settings.onFile = picrxConfigText({});
    MainWindow window(settings);
    window.rememberSettings();
    const auto file = [this] { return packaging::readConfigFile(path(), "picrx").values; };
    EXPECT_EQ(file().at("record_dir"), movies.path()) << "a folder given this run is written";
    EXPECT_EQ(file().at("record"), "false");

    auto* record = window.findChild<QPushButton*>(QString::fromLatin1(kRecordButtonName));
    record->click();
    ASSERT_TRUE(window.station().recorder.recording);
    EXPECT_EQ(file().at("record"), "true");
    window.close();  // closing stops the recording but is no change of mind
    EXPECT_EQ(file().at("record"), "true");
    record->click();
    record->click();
    EXPECT_EQ(file().at("record"), "false");
}

TEST_F(PicrxStartUp, ARecordingThatCannotStartKeepsTheWish) {
    QTemporaryDir scratch;
    WindowSettings settings;
    settings.link.port = 0;
    // A file where the folder should be: no recording can start there.
    settings.recordDir = (scratch.path() + "/not-a-folder").toStdString();
    QFile blocker(scratch.path() + "/not-a-folder");
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    settings.record = true;
    settings.remember = true;
    settings.onFile = picrxConfigText({settings.recordDir, true});
    MainWindow window(settings);
    window.recordAtStart();
    EXPECT_FALSE(window.station().recorder.recording);
    window.rememberSettings();
    EXPECT_FALSE(QFile::exists(path())) << "nothing changed: the file still says record=true";
}

TEST_F(PicrxStartUp, AWindowNotRememberingWritesNothing) {
    QTemporaryDir movies;
    WindowSettings settings;
    settings.link.port = 0;
    settings.recordDir = movies.path().toStdString();
    MainWindow window(settings);
    window.toggleRecord();
    window.rememberSettings();
    EXPECT_FALSE(QFile::exists(path()));
}

}  // namespace
}  // namespace receiver
