// pictx's remembered settings as text and back: every field survives the round trip, a bad
// value keeps its built-in default without disturbing the others, and the "256 x 256" rule is
// not applied to a remembered size.

#include "sender/pictx_settings.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "packaging/tests/config_home.h"

namespace sender {
namespace {

PictxSettings changedEverywhere() {
    PictxSettings s;
    s.callsign = QStringLiteral("G4ABC/P");
    s.message = QStringLiteral("73, from Bath = \"best\" [ok] ü");
    s.comport = QStringLiteral("/dev/ttyUSB0");
    encoder::EncoderSettings& e = s.window.encoder;
    e.frameSize = 256;
    e.threshold = 5;  // not the 30 that choosing 256 sets
    e.wavelet = encoder::Wavelet::D4;
    e.quantiser = 17;
    e.redFactor = 2;
    e.blueFactor = 2;
    e.av1Chroma = encoder::kAv1Chroma420;
    e.syndromes = 80;
    s.window.aspect = Aspect::Preserve;
    chooseTab(s.window, SourceTab::Webcam);
    s.window.movieRate = 0.1f;
    s.window.movieSynced = true;
    return s;
}

void expectSame(const PictxSettings& a, const PictxSettings& b) {
    EXPECT_EQ(a.callsign, b.callsign);
    EXPECT_EQ(a.message, b.message);
    EXPECT_EQ(a.comport, b.comport);
    const encoder::EncoderSettings& x = a.window.encoder;
    const encoder::EncoderSettings& y = b.window.encoder;
    EXPECT_EQ(x.frameSize, y.frameSize);
    EXPECT_EQ(x.threshold, y.threshold);
    EXPECT_EQ(x.wavelet, y.wavelet);
    EXPECT_EQ(x.quantiser, y.quantiser);
    EXPECT_EQ(x.redFactor, y.redFactor);
    EXPECT_EQ(x.blueFactor, y.blueFactor);
    EXPECT_EQ(x.av1Chroma, y.av1Chroma);
    EXPECT_EQ(x.syndromes, y.syndromes);
    EXPECT_EQ(x.sourceKind, y.sourceKind);
    EXPECT_EQ(a.window.aspect, b.window.aspect);
    EXPECT_EQ(a.window.tab, b.window.tab);
    EXPECT_EQ(a.window.movieRate, b.window.movieRate);
    EXPECT_EQ(a.window.movieSynced, b.window.movieSynced);
}

PictxSettings sendingAv1() {
    PictxSettings s = changedEverywhere();
    s.window.encoder.wavelet = encoder::Wavelet::Av1;
    return s;
}

TEST(PictxSettings, EveryFieldSurvivesTheRoundTrip) {
    for (const PictxSettings& s : {PictxSettings{}, changedEverywhere(), sendingAv1()}) {
        QStringList rejected;
        const PictxSettings back = pictxSettingsFromText(pictxConfigText(s), rejected);
        EXPECT_TRUE(rejected.isEmpty()) << rejected.join(",").toStdString();
        expectSame(back, s);
    }
}

TEST(PictxSettings, TheFileSpellsValuesAsAPersonWould) {
    const packaging::ConfigText text = pictxConfigText(changedEverywhere());
    EXPECT_EQ(text.at("wavelet"), "d4");
    EXPECT_EQ(text.at("source_tab"), "webcam");
    EXPECT_EQ(text.at("movie_rate"), "0.1");
    EXPECT_EQ(text.at("preserve_aspect"), "true");
    EXPECT_EQ(text.at("frame_size"), "256");
    EXPECT_EQ(text.at("av1_chroma"), "420");
    EXPECT_EQ(text.size(), 15u);
    EXPECT_EQ(pictxConfigText(PictxSettings{}).at("av1_chroma"), "444");
    EXPECT_EQ(pictxConfigText(sendingAv1()).at("wavelet"), "av1");
}

TEST(PictxSettings, AFileFromBeforeAv1ReadsAsItDidWithAv1AtItsDefaults) {
    packaging::ConfigText old = pictxConfigText(changedEverywhere());
    old.erase(QStringLiteral("av1_chroma"));
    QStringList rejected;
    const PictxSettings s = pictxSettingsFromText(old, rejected);
    EXPECT_TRUE(rejected.isEmpty()) << rejected.join(",").toStdString();
    EXPECT_EQ(s.window.encoder.av1Chroma, encoder::kAv1Chroma444);
    PictxSettings expected = changedEverywhere();
    expected.window.encoder.av1Chroma = encoder::kAv1Chroma444;
    expectSame(s, expected);
}

TEST(PictxSettings, AnEmptyFileGivesTheWindowsStartUpValues) {
    QStringList rejected;
    expectSame(pictxSettingsFromText({}, rejected), PictxSettings{});
    EXPECT_TRUE(rejected.isEmpty());
    EXPECT_EQ(PictxSettings{}.comport, "1");
}

TEST(PictxSettings, EachBadValueFallsBackAloneAndIsNamed) {
    const packaging::ConfigText text = pictxConfigText(sendingAv1());
    const packaging::ConfigText bad{
        {"frame_size", "100"},     {"wavelet", "daubechies"}, {"quantiser", "66"},
        {"threshold", "-1"},       {"red_factor", "3"},       {"blue_factor", "8"},
        {"syndromes", "255"},      {"preserve_aspect", "2"},  {"source_tab", "radio"},
        {"movie_rate", "0"},       {"movie_sync", "perhaps"}, {"callsign", QString(256, 'A')},
        {"message", "two\nlines"}, {"comport", "tty\x01"},    {"av1_chroma", "422"}};
    const PictxSettings defaults;
    for (const auto& [key, value] : bad) {
        packaging::ConfigText one = text;
        one[key] = value;
        QStringList rejected;
        const PictxSettings s = pictxSettingsFromText(one, rejected);
        EXPECT_EQ(rejected, QStringList{key}) << key.toStdString();
        // The bad key reads as the built-in value; every other key keeps the file's.
        packaging::ConfigText mixed = text;
        mixed[key] = pictxConfigText(defaults).at(key);
        QStringList none;
        const PictxSettings expected = pictxSettingsFromText(mixed, none);
        EXPECT_TRUE(none.isEmpty());
        expectSame(s, expected);
    }
}

TEST(PictxSettings, RangesEndWhereTheControlsEnd) {
    const struct {
        const char* key;
        const char* value;
        bool good;
    } kEdges[] = {
        {"quantiser", "1", true},      {"quantiser", "65", true},      {"quantiser", "0", false},
        {"threshold", "0", true},      {"threshold", "100", true},     {"threshold", "101", false},
        {"syndromes", "4", true},      {"syndromes", "254", true},     {"syndromes", "3", false},
        {"movie_rate", "86400", true}, {"movie_rate", "86401", false}, {"movie_rate", "nan", false},
        {"frame_size", "48", true},    {"frame_size", "256", true},    {"threshold", "1e2", false},
        {"quantiser", "12.5", false},  {"av1_chroma", "444", true},    {"av1_chroma", "420", true},
        {"av1_chroma", "1", false},    {"wavelet", "AV1", true},       {"wavelet", "av2", false}};
    for (const auto& edge : kEdges) {
        QStringList rejected;
        static_cast<void>(pictxSettingsFromText({{edge.key, edge.value}}, rejected));
        EXPECT_EQ(rejected.isEmpty(), edge.good) << edge.key << "=" << edge.value;
    }
}

TEST(PictxSettings, TheTabSetsTheEncodersSource) {
    QStringList rejected;
    const PictxSettings s = pictxSettingsFromText({{"source_tab", "movie"}}, rejected);
    EXPECT_EQ(s.window.tab, SourceTab::Movie);
    EXPECT_EQ(s.window.encoder.sourceKind, encoder::SourceKind::Movie);
}

TEST(PictxSettings, ASourceNamedOnTheCommandLineIsShown) {
    PictxSettings s;
    chooseTab(s.window, SourceTab::Webcam);
    showNamedSource(s, false, false);
    EXPECT_EQ(s.window.tab, SourceTab::Webcam);
    showNamedSource(s, true, true);
    EXPECT_EQ(s.window.tab, SourceTab::Webcam);
    showNamedSource(s, false, true);
    EXPECT_EQ(s.window.tab, SourceTab::Movie);
    EXPECT_EQ(s.window.encoder.sourceKind, encoder::SourceKind::Movie);
    showNamedSource(s, true, false);
    EXPECT_EQ(s.window.tab, SourceTab::Still);
}

// pictx's start in a configuration folder of the test's own.
class PictxStartUp : public packaging::testing_support::ConfigHomeTest {
protected:
    PictxStartUp() : ConfigHomeTest(QStringLiteral("pictx")) {}
    // startUpSettings and what it printed.
    std::pair<PictxSettings, std::string> start(bool defaults) {
        testing::internal::CaptureStderr();
        PictxSettings s = startUpSettings(defaults);
        return {s, testing::internal::GetCapturedStderr()};
    }
};

TEST_F(PictxStartUp, ReadsTheFileUnlessToldDefaults) {
    put("[pictx]\ncallsign=G4ABC\nframe_size=256\nthreshold=5\n");
    auto [read, said] = start(false);
    EXPECT_EQ(read.callsign, "G4ABC");
    EXPECT_EQ(read.window.encoder.frameSize, 256);
    EXPECT_EQ(read.window.encoder.threshold, 5);
    EXPECT_EQ(said, "");
    auto [defaults, quiet] = start(true);
    expectSame(defaults, PictxSettings{});
    EXPECT_EQ(quiet, "");
}

TEST_F(PictxStartUp, NoFileIsTheBuiltInSettingsSilently) {
    auto [s, said] = start(false);
    expectSame(s, PictxSettings{});
    EXPECT_EQ(said, "");
}

TEST_F(PictxStartUp, OneBadValueIsOneLineNamingItAndTheRestIsKept) {
    put("[pictx]\ncallsign=G4ABC\nthreshold=400\nwavelet=haar\n");
    auto [s, said] = start(false);
    EXPECT_EQ(s.callsign, "G4ABC");
    EXPECT_EQ(s.window.encoder.wavelet, encoder::Wavelet::Haar);
    EXPECT_EQ(s.window.encoder.threshold, 0);
    EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
    EXPECT_TRUE(said.starts_with("pictx: settings file ")) << said;
    EXPECT_NE(said.find(": threshold out of range"), std::string::npos) << said;
}

TEST_F(PictxStartUp, ADamagedFileIsOneLineAndTheBuiltInSettings) {
    for (const QByteArray& bytes :
         {QByteArray("\x7f"
                     "ELF\x02\x01\x01\0\0\0",
                     10),
          QByteArray("[pictx\ncallsign=X\n"), QByteArray("[picrx]\nrecord=true\n")}) {
        put(bytes);
        auto [s, said] = start(false);
        expectSame(s, PictxSettings{});
        EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
        EXPECT_TRUE(said.starts_with("pictx: ignoring the settings file ")) << said;
    }
}

}  // namespace
}  // namespace sender
