// movieplay's remembered speed, picture adjustment and colour order: the text and back, the
// start (--defaults, a damaged file, one bad value), and the window showing and writing them.
// Every file is in a configuration folder of the test's own.

#include "player/movieplay_settings.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QSlider>
#include <QTemporaryDir>

#include "packaging/tests/config_home.h"
#include "player/control_window.h"
#include "player/tests/test_movie.h"

namespace player {
namespace {

void expectSame(const MovieplaySettings& a, const MovieplaySettings& b) {
    EXPECT_EQ(a.speed, b.speed);
    EXPECT_EQ(a.brightness, b.brightness);
    EXPECT_EQ(a.contrast, b.contrast);
    EXPECT_EQ(a.colour, b.colour);
}

TEST(MovieplaySettings, RoundTripAndEachBadValueAlone) {
    const MovieplaySettings changed{3, 100, 17, ColourFormat::Rgb};
    for (const MovieplaySettings& s : {MovieplaySettings{}, changed}) {
        QStringList rejected;
        expectSame(movieplaySettingsFromText(movieplayConfigText(s), rejected), s);
        EXPECT_TRUE(rejected.isEmpty());
    }
    EXPECT_EQ(movieplayConfigText(changed).at("colour_order"), "rgb");
    const std::pair<const char*, const char*> kBad[] = {{"speed", "5"},
                                                        {"brightness", "513"},
                                                        {"contrast", "-1"},
                                                        {"colour_order", "grb"},
                                                        {"brightness", "bright"}};
    for (const auto& [key, value] : kBad) {
        packaging::ConfigText text = movieplayConfigText(changed);
        text[key] = value;
        QStringList rejected;
        const MovieplaySettings s = movieplaySettingsFromText(text, rejected);
        EXPECT_EQ(rejected, QStringList{key}) << key;
        text[key] = movieplayConfigText({}).at(key);
        QStringList none;
        expectSame(s, movieplaySettingsFromText(text, none));
    }
}

class MovieplayRemembered : public packaging::testing_support::ConfigHomeTest {
protected:
    MovieplayRemembered() : ConfigHomeTest(QStringLiteral("movieplay")) {}
    std::pair<MovieplaySettings, std::string> start(bool defaults) {
        testing::internal::CaptureStderr();
        const MovieplaySettings s = startUpSettings(defaults);
        return {s, testing::internal::GetCapturedStderr()};
    }
    template <typename T>
    static T* child(QWidget& parent, const char* id) {
        T* found = parent.findChild<T*>(QStringLiteral("ctl") + QLatin1String(id));
        EXPECT_NE(found, nullptr) << id;
        return found;
    }
};

TEST_F(MovieplayRemembered, StartReadsTheFileUnlessToldDefaults) {
    put("[movieplay]\nspeed=1\ncontrast=15\n");
    auto [read, said] = start(false);
    EXPECT_EQ(read.speed, 1);
    EXPECT_EQ(read.contrast, 15);
    EXPECT_EQ(said, "");
    auto [defaults, quiet] = start(true);
    expectSame(defaults, MovieplaySettings{});
    EXPECT_EQ(quiet, "");
}

TEST_F(MovieplayRemembered, ADamagedFileOrBadValueIsOneLine) {
    put("[movieplay]\nspeed=1\ncontrast=99\n");
    auto [s, said] = start(false);
    EXPECT_EQ(s.speed, 1);
    EXPECT_EQ(s.contrast, kDefaultContrast);
    EXPECT_EQ(said.find("movieplay: settings file "), 0u) << said;
    EXPECT_NE(said.find(": contrast out of range"), std::string::npos) << said;
    EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1);

    put("speed=1\n");  // no [movieplay] section: some other file
    auto [blank, why] = start(false);
    expectSame(blank, MovieplaySettings{});
    EXPECT_EQ(why.find("movieplay: ignoring the settings file "), 0u) << why;
    EXPECT_EQ(std::count(why.begin(), why.end(), '\n'), 1);
}

TEST_F(MovieplayRemembered, TheWindowShowsAndPlaysWithThem) {
    test::TempDir dir;
    const auto movie = dir.file("a.tv");
    test::writeSeededMovie(movie, 7, 3, 8, 6);
    ControlWindow window({3, 100, 17, ColourFormat::Rgb}, true);
    window.show();
    EXPECT_TRUE(child<QAction>(window, "423")->isChecked());  // 3fps
    EXPECT_FALSE(child<QAction>(window, "421")->isChecked());
    EXPECT_TRUE(child<QAction>(window, "501")->isChecked());  // RGB
    EXPECT_FALSE(child<QAction>(window, "502")->isChecked());
    EXPECT_EQ(window.adjust().brightness, 100);
    EXPECT_EQ(window.adjust().savedContrast, 17) << "Undo goes back to the start";
    EXPECT_EQ(window.state().colour, ColourFormat::Rgb);
    ASSERT_TRUE(window.openMovie(movie).ok);
    EXPECT_EQ(window.timer().interval(), 330);
    window.showPictureDialog();
    auto* dialog = window.findChild<QDialog*>("pictureDialog");
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(child<QSlider>(*dialog, "429")->value(), 100);
    EXPECT_EQ(child<QSlider>(*dialog, "430")->value(), 17);
    EXPECT_FALSE(QFile::exists(path())) << "showing the settings writes nothing";
}

TEST_F(MovieplayRemembered, EachChangeIsWrittenAndTheNextStartShowsIt) {
    {
        ControlWindow window({}, true);
        child<QAction>(window, "420")->trigger();  // 6fps
        EXPECT_EQ(file().at("speed"), "6");
        child<QAction>(window, "501")->trigger();
        EXPECT_EQ(file().at("colour_order"), "rgb");
        window.showPictureDialog();
        auto* dialog = window.findChild<QDialog*>("pictureDialog");
        child<QSlider>(*dialog, "429")->triggerAction(QAbstractSlider::SliderToMinimum);
        EXPECT_EQ(file().at("brightness"), "0");
        child<QSlider>(*dialog, "430")->triggerAction(QAbstractSlider::SliderToMaximum);
        EXPECT_EQ(file().at("contrast"), "20");
        child<QPushButton>(*dialog, "431")->click();  // Default settings
        EXPECT_EQ(file().at("brightness"), "256");
        EXPECT_EQ(file().at("contrast"), "10");
        child<QPushButton>(*dialog, "432")->click();  // Undo
        EXPECT_EQ(file().at("contrast"), "20");
    }
    auto [next, said] = start(false);
    expectSame(next, MovieplaySettings{6, 0, 20, ColourFormat::Rgb});
    EXPECT_EQ(said, "");
}

TEST_F(MovieplayRemembered, AWindowNotRememberingWritesNothing) {
    ControlWindow window;
    child<QAction>(window, "422")->trigger();
    child<QAction>(window, "501")->trigger();
    EXPECT_FALSE(QFile::exists(path()));
}

}  // namespace
}  // namespace player
