// The window with remembered settings: at start every control shows them and the first encode
// uses them; each change is written to pictx.conf in a configuration folder of the test's own.

#include <gtest/gtest.h>

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QKeyEvent>
#include <QLineEdit>
#include <QRadioButton>
#include <QSlider>
#include <QTabBar>
#include <QTemporaryDir>
#include <QTest>

#include "media/tests/test_movies.h"
#include "packaging/tests/config_home.h"
#include "sender/main_window.h"
#include "sender/rs_bar.h"
#include "sender/source_pages.h"

namespace sender {
namespace {

class NoKeying final : public Keying {
public:
    bool open(const std::string&) override { return true; }
    void close() override {}
    bool isOpen() const override { return true; }
    bool setLines(KeyLines) override { return true; }
};

PictxSettings remembered() {
    PictxSettings s;
    s.callsign = QStringLiteral("G4ABC");
    s.message = QStringLiteral("73 from Bath");
    s.comport = QStringLiteral("ttyUSB0");
    encoder::EncoderSettings& e = s.window.encoder;
    e.frameSize = 256;
    e.threshold = 5;  // not the 30 that a click on "256 x 256" sets
    e.wavelet = encoder::Wavelet::Haar;
    e.quantiser = 20;
    e.redFactor = 2;
    e.blueFactor = 4;
    e.syndromes = 40;
    s.window.aspect = Aspect::Preserve;
    chooseTab(s.window, SourceTab::Movie);
    s.window.movieRate = 0.3f;
    s.window.movieSynced = false;
    return s;
}

class Remembered : public packaging::testing_support::ConfigHomeTest {
protected:
    Remembered() : ConfigHomeTest(QStringLiteral("pictx")) {}
    void TearDown() override {
        window_.reset();
        ConfigHomeTest::TearDown();
    }

    MainWindow& open(const PictxSettings& initial, bool remember = true) {
        MainWindowOptions o;
        o.openLink = false;
        o.captureDevice.clear();
        o.keying = std::make_unique<NoKeying>();
        o.message = [](const QString&, const QString&) {};
        o.choice = [this](QWidget*, const QString&, const QString&, const QStringList&,
                          const QString&) { return answer_; };
        o.initial = initial;
        o.rememberSettings = remember;
        window_ = std::make_unique<MainWindow>(std::move(o));
        window_->show();
        return *window_;
    }
    template <typename W>
    W* find(const char* id) {
        W* w = window_->findChild<W*>(QString::fromLatin1(id));
        EXPECT_NE(w, nullptr) << id;
        return w;
    }
    // The file's values, which must read without a problem.
    [[nodiscard]] packaging::ConfigText file() const {
        const packaging::ConfigRead read = packaging::readConfigFile(path(), "pictx");
        EXPECT_EQ(read.problem, QString());
        return read.values;
    }

    QString answer_;
    std::unique_ptr<MainWindow> window_;
};

TEST_F(Remembered, EveryControlShowsTheSettingsAtStart) {
    open(remembered());
    EXPECT_TRUE(find<QRadioButton>("ctl1404")->isChecked());  // 256 x 256
    EXPECT_FALSE(find<QRadioButton>("ctl1401")->isChecked());
    EXPECT_TRUE(find<QRadioButton>("ctl1100")->isChecked());  // Haar
    EXPECT_FALSE(find<QRadioButton>("ctl1102")->isChecked());
    EXPECT_EQ(find<QSlider>("ctl1103")->value(), 45);    // quantiser 20 = 65 - 45
    EXPECT_EQ(find<QSlider>("ctl1104")->value(), 95);    // threshold 5 = 100 - 95
    EXPECT_TRUE(find<QAction>("ctl1411")->isChecked());  // 2x2 red
    EXPECT_FALSE(find<QAction>("ctl1410")->isChecked());
    EXPECT_TRUE(find<QAction>("ctl1412")->isChecked());  // 4x4 blue
    EXPECT_TRUE(find<QAction>("ctl9016")->isChecked());  // free-running
    EXPECT_EQ(find<QLineEdit>("ctl1501")->text(), "G4ABC");
    EXPECT_EQ(find<QLineEdit>("ctl1504")->text(), "73 from Bath");
    EXPECT_EQ(find<QLineEdit>("ctl1602")->text(), "ttyUSB0");
    EXPECT_EQ(find<RsBar>("ctl9101")->position(), 40);
    EXPECT_EQ(find<RsBar>("ctl9101")->text(), "40");
    EXPECT_EQ(find<QTabBar>("tabBar")->currentIndex(), 1);
    EXPECT_TRUE(find<QWidget>("page1")->isVisible());
    EXPECT_FALSE(find<QWidget>("page0")->isVisible());
    // Preserving: the box is ticked.
    EXPECT_TRUE(find<QCheckBox>("ctl1107")->isChecked());
    EXPECT_EQ(window_->encodeCount(), 0) << "showing the settings encodes nothing";
    EXPECT_FALSE(QFile::exists(path())) << "showing the settings writes nothing";
}

TEST_F(Remembered, TheFirstEncodeUsesThemAndTheMovieTheirRate) {
    open(remembered());
    window_->previewEncode();
    const encoder::EncoderSettings& e = window_->lastEncode().settings;
    EXPECT_EQ(e.frameSize, 256);
    EXPECT_EQ(e.threshold, 5);
    EXPECT_EQ(e.quantiser, 20);
    EXPECT_EQ(e.wavelet, encoder::Wavelet::Haar);
    EXPECT_EQ(e.redFactor, 2);
    EXPECT_EQ(e.blueFactor, 4);
    EXPECT_EQ(e.syndromes, 40);
    EXPECT_EQ(e.callsign, "G4ABC");
    EXPECT_EQ(e.message, "73 from Bath");
    EXPECT_EQ(e.sourceKind, encoder::SourceKind::Movie);

    const QString movie = home_.path() + "/ten.avi";
    ASSERT_EQ(media::test::writeTestMovie(movie.toStdString(), {}), "");
    ASSERT_TRUE(window_->openMovie(movie).ok);
    EXPECT_EQ(window_->moviePage()->frameTimer().interval(), 300);
}

TEST_F(Remembered, SyncedMoviesShowTheSyncItem) {
    PictxSettings s = remembered();
    s.window.movieSynced = true;
    open(s);
    EXPECT_TRUE(find<QAction>("ctl1123")->isChecked());
    EXPECT_FALSE(find<QAction>("ctl9016")->isChecked());
}

TEST_F(Remembered, AnAv1StationStartsSendingAv1WithItsChromaAndTheRestGreyed) {
    PictxSettings s = remembered();
    s.window.encoder.wavelet = encoder::Wavelet::Av1;
    s.window.encoder.av1Chroma = encoder::kAv1Chroma420;
    open(s);
    EXPECT_TRUE(find<QRadioButton>("av1")->isChecked());
    EXPECT_FALSE(find<QRadioButton>("ctl1100")->isChecked());
    EXPECT_EQ(find<QComboBox>("av1Chroma")->currentText(), "4:2:0");
    EXPECT_TRUE(find<QComboBox>("av1Chroma")->isEnabled());
    EXPECT_FALSE(find<QSlider>("ctl1104")->isEnabled());
    EXPECT_EQ(find<QSlider>("ctl1104")->value(), 95) << "greyed, still showing threshold 5";
    EXPECT_FALSE(find<QAction>("ctl1411")->isEnabled());
    EXPECT_TRUE(find<QAction>("ctl1411")->isChecked());
    EXPECT_TRUE(find<QSlider>("ctl1103")->toolTip().startsWith("AV1 quality 19 "));
    EXPECT_EQ(window_->encodeCount(), 0);

    window_->previewEncode();
    EXPECT_EQ(window_->lastEncode().error, encoder::EncodeError::None);
    EXPECT_EQ(window_->lastEncode().settings.wavelet, encoder::Wavelet::Av1);
    EXPECT_EQ(window_->lastEncode().settings.av1Chroma, encoder::kAv1Chroma420);

    // The combo's choice is written at once, as every change is.
    QTest::keyClick(find<QComboBox>("av1Chroma"), Qt::Key_Up);
    EXPECT_EQ(file().at("wavelet"), "av1");
    EXPECT_EQ(file().at("av1_chroma"), "444");
    find<QRadioButton>("ctl1102")->click();
    EXPECT_EQ(file().at("wavelet"), "cdf97");
    EXPECT_EQ(file().at("av1_chroma"), "444");
}

TEST_F(Remembered, EachChangeIsWrittenAtOnce) {
    open(PictxSettings{});
    EXPECT_FALSE(QFile::exists(path()));

    find<QRadioButton>("ctl1404")->click();
    EXPECT_EQ(file().at("frame_size"), "256");
    EXPECT_EQ(file().at("threshold"), "30");  // the rule of the 256 option
    find<QRadioButton>("ctl1101")->click();
    EXPECT_EQ(file().at("wavelet"), "d4");
    find<QSlider>("ctl1103")->setValue(30);
    EXPECT_EQ(file().at("quantiser"), "35");
    find<QSlider>("ctl1104")->setValue(90);
    EXPECT_EQ(file().at("threshold"), "10");
    find<QAction>("ctl1413")->trigger();
    EXPECT_EQ(file().at("blue_factor"), "2");
    find<QAction>("ctl1411")->trigger();
    EXPECT_EQ(file().at("red_factor"), "2");
    find<QCheckBox>("ctl1107")->click();
    EXPECT_EQ(file().at("preserve_aspect"), "true");
    find<QTabBar>("tabBar")->setCurrentIndex(2);
    EXPECT_EQ(file().at("source_tab"), "webcam");

    QTest::keyClicks(find<QLineEdit>("ctl1501"), "G4ABC");
    EXPECT_EQ(file().at("callsign"), "G4ABC");
    QTest::keyClicks(find<QLineEdit>("ctl1504"), "hello, world");
    EXPECT_EQ(file().at("message"), "hello, world");
    find<QLineEdit>("ctl1602")->setText("3");
    EXPECT_EQ(file().at("comport"), "3");

    auto* bar = find<RsBar>("ctl9101");
    const int before = bar->position();
    QTest::keyClick(bar, Qt::Key_Down);
    EXPECT_EQ(file().at("syndromes"), QString::number(before - 1));

    answer_ = "6";
    find<QAction>("ctl9016")->trigger();
    EXPECT_EQ(file().at("movie_rate"), "6");
    find<QAction>("ctl1123")->trigger();
    EXPECT_EQ(file().at("movie_sync"), "true");
}

TEST_F(Remembered, WhatOneRunSetsTheNextShows) {
    open(PictxSettings{});
    find<QRadioButton>("ctl1404")->click();  // threshold 30 with it
    find<QSlider>("ctl1104")->setValue(95);  // then threshold 5
    find<QRadioButton>("ctl1100")->click();
    QTest::keyClicks(find<QLineEdit>("ctl1501"), "G4ABC");
    find<QTabBar>("tabBar")->setCurrentIndex(1);
    window_->close();

    testing::internal::CaptureStderr();
    const PictxSettings next = startUpSettings(false);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    open(next);
    EXPECT_TRUE(find<QRadioButton>("ctl1404")->isChecked());
    EXPECT_EQ(find<QSlider>("ctl1104")->value(), 95) << "the remembered 256 keeps threshold 5";
    EXPECT_TRUE(find<QRadioButton>("ctl1100")->isChecked());
    EXPECT_EQ(find<QLineEdit>("ctl1501")->text(), "G4ABC");
    EXPECT_EQ(find<QTabBar>("tabBar")->currentIndex(), 1);
    window_->previewEncode();
    EXPECT_EQ(window_->lastEncode().settings.threshold, 5);
    EXPECT_EQ(window_->lastEncode().settings.frameSize, 256);
}

TEST_F(Remembered, DefaultsStartBlankAndTheFirstChangeWritesThemAll) {
    open(remembered());
    find<QRadioButton>("ctl1102")->click();  // the file now holds remembered() with CDF97
    ASSERT_EQ(file().at("callsign"), "G4ABC");
    window_.reset();

    open(startUpSettings(true));  // --defaults
    EXPECT_EQ(find<QLineEdit>("ctl1501")->text(), "");
    EXPECT_TRUE(find<QRadioButton>("ctl1401")->isChecked());
    EXPECT_EQ(file().at("callsign"), "G4ABC") << "starting with --defaults writes nothing";
    find<QRadioButton>("ctl1101")->click();
    packaging::ConfigText expected = pictxConfigText(PictxSettings{});
    expected["wavelet"] = "d4";
    expected["syndromes"] = file().at("syndromes");  // wherever the encode put the bar
    EXPECT_EQ(file(), expected);
}

TEST_F(Remembered, AWindowNotRememberingWritesNothing) {
    open(remembered(), false);
    find<QRadioButton>("ctl1101")->click();
    QTest::keyClicks(find<QLineEdit>("ctl1501"), "X");
    EXPECT_FALSE(QFile::exists(path()));
}

}  // namespace
}  // namespace sender
