#include "sender/main_window.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMimeData>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QSlider>
#include <QTabBar>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>
#include <algorithm>
#include <chrono>

#include "encoder/decode_frame.h"
#include "encoder/frame_format.h"
#include "encoder/test_pictures.h"
#include "media/tests/test_movies.h"
#include "sender/rs_bar.h"
#include "sender/source_pages.h"
#include "sender/still_picture.h"
#include "sender/window_graphics.h"

namespace sender {
namespace {

// Records what the keying is told; every device opens.
class FakeKeying final : public Keying {
public:
    explicit FakeKeying(std::vector<KeyLines>* lines, bool present = true)
        : lines_(lines), present_(present) {}
    bool open(const std::string& device) override {
        opened = device;
        open_ = present_;
        return open_;
    }
    void close() override { open_ = false; }
    bool isOpen() const override { return open_; }
    bool setLines(KeyLines l) override {
        if (!open_) return false;
        lines_->push_back(l);
        return true;
    }
    std::string opened;

private:
    std::vector<KeyLines>* lines_;
    bool present_;
    bool open_ = false;
};

struct Messages {
    QStringList captions;
    QStringList texts;
};

MainWindowOptions quietOptions(Messages* messages, std::vector<KeyLines>* lines,
                               bool portPresent = true) {
    MainWindowOptions o;
    o.openLink = false;
    o.captureDevice.clear();
    o.keying = std::make_unique<FakeKeying>(lines, portPresent);
    o.message = [messages](const QString& caption, const QString& text) {
        messages->captions << caption;
        messages->texts << text;
    };
    o.choice = [](QWidget*, const QString&, const QString&, const QStringList&, const QString&) {
        return QString();
    };
    return o;
}

struct WindowFixture : testing::Test {
    void SetUp() override {
        window = std::make_unique<MainWindow>(quietOptions(&messages, &lines));
        window->show();
    }
    template <typename W>
    W* find(const QString& id) {
        W* w = window->findChild<W*>(id);
        EXPECT_NE(w, nullptr) << id.toStdString();
        return w;
    }
    QAction* action(int id) { return find<QAction>(QStringLiteral("ctl%1").arg(id)); }
    // A picture file written for the test.
    QString writePicture(const QString& name, int w, int h, QColor colour) {
        QImage image(w, h, QImage::Format_RGB32);
        image.fill(colour);
        const QString path = dir.filePath(name);
        EXPECT_TRUE(image.save(path));
        return path;
    }
    void drop(const QStringList& paths) {
        auto* mime = new QMimeData;
        QList<QUrl> urls;
        for (const QString& p : paths) urls << QUrl::fromLocalFile(p);
        mime->setUrls(urls);
        QDropEvent event(QPointF(10, 10), Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
        // Straight to the window's handler: QApplication only delivers drops that a drag
        // started, which a test has none of.
        static_cast<QObject*>(window.get())->event(&event);
        delete mime;
    }

    QTemporaryDir dir;
    Messages messages;
    std::vector<KeyLines> lines;
    std::unique_ptr<MainWindow> window;
};

// ---- controls, texts and places ----

TEST_F(WindowFixture, CaptionAndFixedClientArea) {
    EXPECT_EQ(window->windowTitle(), "Wavelet compression codec");
    EXPECT_EQ(window->centralWidget()->size(), QSize(805, 408));
    EXPECT_EQ(window->minimumSize(), window->maximumSize());  // not resizable
}

TEST_F(WindowFixture, ControlsSitAtTheirPlacesWithTheirTexts) {
    const struct {
        const char* id;
        QRect place;
        const char* text;
    } kControls[] = {
        {"ctl1120", {1, 1, 263, 308}, nullptr},
        {"ctl1400", {645, 35, 65, 15}, "48 x 48"},
        {"ctl1401", {645, 55, 65, 15}, "64 x 64"},
        {"ctl1402", {645, 75, 65, 15}, "96 x 96"},
        {"ctl1403", {645, 95, 65, 15}, "128 x 128"},
        {"ctl1404", {645, 115, 65, 15}, "256 x 256"},
        {"ctl1100", {645, 165, 45, 20}, "Haar"},
        {"ctl1101", {645, 185, 45, 20}, "D4"},
        {"ctl1102", {645, 205, 95, 20}, "CDF97 subband"},
        {"av1", {645, 225, 99, 30}, "AV1 (sharper, new\nreceivers only)"},
        {"av1Chroma", {687, 257, 56, 22}, nullptr},
        {"ctl1201", {279, 20, 344, 256}, nullptr},
        {"ctl1500", {280, 285, 330, 15}, nullptr},
        {"ctl2800", {279, 305, 330, 6}, nullptr},
        {"ctl1103", {671, 295, 128, 20}, nullptr},
        {"ctl1104", {671, 325, 128, 20}, nullptr},
        {"ctl1501", {279, 327, 150, 20}, ""},
        {"ctl1504", {279, 357, 270, 20}, ""},
        {"ctl1107", {20, 330, 170, 20}, "Preserve still picture aspect ratio"},
        {"ctl1002", {5, 360, 65, 20}, "Turn On"},
        {"ctl1601", {90, 360, 65, 20}, "Set comport"},
        {"ctl1602", {157, 360, 20, 20}, "1"},
        {"ctl9101", {760, 20, 24, 254}, nullptr},
        {"ctl9100", {760, 274, 24, 1}, nullptr},
        {"page0", {4, 24, 256, 281}, nullptr},
        {"page1", {4, 24, 256, 281}, nullptr},
        {"page2", {4, 24, 256, 281}, nullptr},
    };
    for (const auto& c : kControls) {
        SCOPED_TRACE(c.id);
        QWidget* w = find<QWidget>(QString::fromLatin1(c.id));
        if (w == nullptr) continue;
        EXPECT_EQ(w->geometry(), c.place);
        if (c.text == nullptr) continue;
        if (auto* b = qobject_cast<QAbstractButton*>(w)) {
            EXPECT_EQ(b->text(), c.text);
        }
        if (auto* e = qobject_cast<QLineEdit*>(w)) {
            EXPECT_EQ(e->text(), c.text);
        }
    }
    // The unnamed labels and group frames, by their texts.
    const struct {
        const char* text;
        QRect place;
    } kLabels[] = {{"Quantize", {615, 300, 50, 20}},
                   {"Threshold", {615, 330, 50, 20}},
                   {"Chroma", {645, 257, 40, 22}},
                   {"Enter callsign etc", {437, 330, 150, 20}},
                   {"Enter short message (<39 chars)", {555, 360, 190, 20}}};
    for (const auto& l : kLabels) {
        bool found = false;
        for (const QLabel* label : window->findChildren<QLabel*>()) {
            if (label->text() != l.text) continue;
            found = true;
            EXPECT_EQ(label->geometry(), l.place) << l.text;
            EXPECT_LE(label->fontMetrics().horizontalAdvance(label->text()),
                      label->contentsRect().width())
                << l.text;
        }
        EXPECT_TRUE(found) << l.text;
    }
    QStringList groups;
    for (const QGroupBox* g : window->findChildren<QGroupBox*>()) {
        groups << QStringLiteral("%1 %2,%3,%4,%5")
                      .arg(g->title())
                      .arg(g->x())
                      .arg(g->y())
                      .arg(g->width())
                      .arg(g->height());
    }
    groups.sort();
    EXPECT_EQ(groups, (QStringList{"Frame size 636,14,110,125", "Wavelet 636,144,110,140"}));
    // The AV1 choice's two lines beside its indicator, and the chroma combo's text, fit.
    for (const char* id : {"av1", "av1Chroma"}) {
        const QWidget* w = find<QWidget>(QString::fromLatin1(id));
        if (w == nullptr) continue;
        EXPECT_LE(w->sizeHint().width(), w->width()) << id;
    }
    // The group holds its choices, under the frame sizes and beside the RS bars.
    for (const char* id : {"ctl1100", "av1", "av1Chroma"}) {
        const QWidget* w = find<QWidget>(QString::fromLatin1(id));
        if (w == nullptr) continue;
        EXPECT_TRUE(QRect(636, 144, 110, 140).contains(w->geometry())) << id;
    }
    EXPECT_EQ(find<QLabel>("ctl1121")->text(), "Drag and drop picture here");
    EXPECT_EQ(find<QWidget>("ctl1121")->geometry(), QRect(30, 260, 180, 20));
}

TEST_F(WindowFixture, ControlsStartAtTheirDefaults) {
    EXPECT_TRUE(find<QRadioButton>("ctl1401")->isChecked());
    EXPECT_TRUE(find<QRadioButton>("ctl1102")->isChecked());
    EXPECT_FALSE(find<QRadioButton>("av1")->isChecked());
    EXPECT_EQ(find<QComboBox>("av1Chroma")->currentText(), "4:4:4");
    EXPECT_FALSE(find<QComboBox>("av1Chroma")->isEnabled());
    // Unticked: the picture is stretched, and the box says so.
    EXPECT_FALSE(find<QCheckBox>("ctl1107")->isChecked());
    EXPECT_FALSE(find<QPushButton>("ctl1002")->isChecked());
    EXPECT_TRUE(find<QPushButton>("ctl1002")->isCheckable());
    auto* q = find<QSlider>("ctl1103");
    EXPECT_EQ(q->minimum(), 0);
    EXPECT_EQ(q->maximum(), 64);
    EXPECT_EQ(q->value(), 64);
    auto* t = find<QSlider>("ctl1104");
    EXPECT_EQ(t->maximum(), 100);
    EXPECT_EQ(t->value(), 100);
    auto* bar = find<RsBar>("ctl9101");
    EXPECT_EQ(bar->position(), 32);
    EXPECT_EQ(bar->range().low, 4);
    EXPECT_EQ(bar->range().high, 254);
    EXPECT_EQ(bar->text(), "32");
    EXPECT_TRUE(bar->toolTip().isEmpty());  // the tip comes with the first encode
    EXPECT_TRUE(find<QWidget>("page0")->isVisible());
    EXPECT_FALSE(find<QWidget>("page1")->isVisible());
    EXPECT_FALSE(find<QWidget>("page2")->isVisible());
    EXPECT_EQ(window->encodeCount(), 0);  // nothing until the first change or timed send

    const encoder::EncoderSettings& s = window->settings().encoder;
    EXPECT_EQ(s.frameSize, 64);
    EXPECT_EQ(s.wavelet, encoder::Wavelet::Cdf97);
    EXPECT_EQ(s.redFactor, 4);
    EXPECT_EQ(s.blueFactor, 4);
    EXPECT_EQ(s.threshold, 0);
    EXPECT_EQ(s.quantiser, 1);
    EXPECT_EQ(s.av1Chroma, encoder::kAv1Chroma444);
    EXPECT_EQ(window->settings().aspect, Aspect::Stretch);
}

TEST_F(WindowFixture, MenusCarryTheirItemsAndChecks) {
    QStringList menus;
    for (const QAction* a : window->menuBar()->actions()) menus << a->text();
    EXPECT_EQ(menus, (QStringList{"&File", "&Soundcard", "Movie frame rate", "Chroma subsampling",
                                  "Help"}));
    const struct {
        int id;
        const char* text;
        bool checked;
    } kItems[] = {{9000, "Exit", false},
                  {9001, "&Output", false},
                  {9016, "Frame rate (free-running)", true},
                  {1123, "Sync frames with sender", false},
                  {1410, "4x4 red", true},
                  {1411, "2x2 red", false},
                  {1412, "4x4 blue", true},
                  {1413, "2x2 blue", false},
                  {1018, "Help", false},
                  {1017, "About", false}};
    for (const auto& item : kItems) {
        SCOPED_TRACE(item.id);
        QAction* a = action(item.id);
        if (a == nullptr) continue;
        EXPECT_EQ(a->text(), item.text);
        EXPECT_EQ(a->isChecked(), item.checked);
    }
}

TEST_F(WindowFixture, SelectedTabTextIsBlue) {
    auto* tabs = find<QTabBar>("tabBar");
    ASSERT_EQ(tabs->count(), 3);
    EXPECT_EQ(tabs->tabText(0), "Still picture");
    EXPECT_EQ(tabs->tabText(1), "Movie");
    EXPECT_EQ(tabs->tabText(2), "Webcam");
    const auto bluePixels = [&](int tab) {
        const QImage image = tabs->grab().toImage();
        const QRect r = tabs->tabRect(tab).intersected(image.rect());
        int count = 0;
        for (int y = r.top(); y <= r.bottom(); ++y) {
            for (int x = r.left(); x <= r.right(); ++x) {
                const QRgb p = image.pixel(x, y);
                if (qBlue(p) > 150 && qRed(p) < 100 && qGreen(p) < 100) ++count;
            }
        }
        return count;
    };
    EXPECT_GT(bluePixels(0), 10);
    EXPECT_EQ(bluePixels(1), 0);
    window->chooseSourceTab(SourceTab::Movie);
    EXPECT_EQ(bluePixels(0), 0);
    EXPECT_GT(bluePixels(1), 10);
}

// ---- every setting change encodes with the new settings ----

TEST_F(WindowFixture, EachSettingChangeRunsAPreviewEncodeWithIt) {
    const struct {
        const char* what;
        std::function<void()> change;
        std::function<bool(const encoder::EncoderSettings&)> holds;
    } kChanges[] = {
        {"48 x 48", [&] { QTest::mouseClick(find<QRadioButton>("ctl1400"), Qt::LeftButton); },
         [](const auto& s) { return s.frameSize == 48; }},
        {"128 x 128", [&] { QTest::mouseClick(find<QRadioButton>("ctl1403"), Qt::LeftButton); },
         [](const auto& s) { return s.frameSize == 128; }},
        {"Haar", [&] { QTest::mouseClick(find<QRadioButton>("ctl1100"), Qt::LeftButton); },
         [](const auto& s) { return s.wavelet == encoder::Wavelet::Haar; }},
        {"D4", [&] { QTest::mouseClick(find<QRadioButton>("ctl1101"), Qt::LeftButton); },
         [](const auto& s) { return s.wavelet == encoder::Wavelet::D4; }},
        {"2x2 red", [&] { action(1411)->trigger(); },
         [](const auto& s) { return s.redFactor == 2 && s.blueFactor == 4; }},
        {"2x2 blue", [&] { action(1413)->trigger(); },
         [](const auto& s) { return s.redFactor == 2 && s.blueFactor == 2; }},
        {"4x4 red", [&] { action(1410)->trigger(); },
         [](const auto& s) { return s.redFactor == 4 && s.blueFactor == 2; }},
        {"Quantize dragged to 10",
         [&] {
             auto* q = find<QSlider>("ctl1103");
             q->setSliderDown(true);
             q->setSliderPosition(10);
             q->setSliderDown(false);
         },
         [](const auto& s) { return s.quantiser == 55; }},
        {"Quantize by key", [&] { QTest::keyClick(find<QSlider>("ctl1103"), Qt::Key_Home); },
         [](const auto& s) { return s.quantiser == 65; }},
        {"Threshold by a page step",
         [&] { find<QSlider>("ctl1104")->triggerAction(QAbstractSlider::SliderPageStepSub); },
         [](const auto& s) { return s.threshold == 10; }},
        {"aspect box", [&] { QTest::mouseClick(find<QCheckBox>("ctl1107"), Qt::LeftButton); },
         [&](const auto&) { return window->settings().aspect == Aspect::Preserve; }},
        {"Movie tab", [&] { window->chooseSourceTab(SourceTab::Movie); },
         [](const auto& s) { return s.sourceKind == encoder::SourceKind::Movie; }},
        {"Webcam tab", [&] { window->chooseSourceTab(SourceTab::Webcam); },
         [](const auto& s) { return s.sourceKind == encoder::SourceKind::Webcam; }},
    };
    for (const auto& c : kChanges) {
        SCOPED_TRACE(c.what);
        const int before = window->encodeCount();
        c.change();
        EXPECT_EQ(window->encodeCount(), before + 1);
        EXPECT_EQ(window->lastEncode().mode, encoder::kEncodePreview);
        EXPECT_TRUE(c.holds(window->lastEncode().settings));
    }
    EXPECT_TRUE(action(1410)->isChecked());
    EXPECT_FALSE(action(1411)->isChecked());
    EXPECT_TRUE(action(1413)->isChecked());
    EXPECT_FALSE(action(1412)->isChecked());
    EXPECT_TRUE(find<QWidget>("page2")->isVisible());
    EXPECT_FALSE(find<QWidget>("page0")->isVisible());
}

TEST_F(WindowFixture, DraggingEncodesAtEveryStep) {
    auto* q = find<QSlider>("ctl1103");
    const int before = window->encodeCount();
    q->setSliderDown(true);
    for (int p : {60, 50, 40}) q->setSliderPosition(p);
    q->setSliderDown(false);
    EXPECT_EQ(window->encodeCount(), before + 3);
    EXPECT_EQ(window->settings().encoder.quantiser, 25);
}

TEST_F(WindowFixture, LargestFrameSetsThresholdThirtyAndASmallerOneKeepsIt) {
    QTest::mouseClick(find<QRadioButton>("ctl1404"), Qt::LeftButton);
    EXPECT_EQ(window->lastEncode().settings.frameSize, 256);
    EXPECT_EQ(window->lastEncode().settings.threshold, 30);
    EXPECT_EQ(find<QSlider>("ctl1104")->value(), 70);
    QTest::mouseClick(find<QRadioButton>("ctl1401"), Qt::LeftButton);
    EXPECT_EQ(window->lastEncode().settings.frameSize, 64);
    EXPECT_EQ(window->lastEncode().settings.threshold, 30);
    EXPECT_EQ(find<QSlider>("ctl1104")->value(), 70);
}

TEST_F(WindowFixture, EncodeRebuildsTheCodewordBarsAndShowsTheStatus) {
    QTest::mouseClick(find<QRadioButton>("ctl1100"), Qt::LeftButton);
    auto* bar = find<RsBar>("ctl9101");
    auto* data = find<QLabel>("ctl9100");
    const int high = bar->range().high;
    const int r = 255 - high;
    EXPECT_GT(r, 1);
    EXPECT_EQ(bar->geometry(), QRect(760, 20, 24, high));
    EXPECT_EQ(data->geometry(), QRect(760, 20 + high, 24, r));
    EXPECT_EQ(bar->position(), 32);  // 2t with t = 16
    EXPECT_EQ(bar->toolTip(), "Click and drag to change number of RS syndromes");
    EXPECT_TRUE(find<QLabel>("ctl1500")->text().startsWith("64x64 pixels,  Haar compression,  "));
    EXPECT_TRUE(find<QLabel>("ctl1500")->text().endsWith(" seconds/frame"));
    if (data->height() >= data->fontMetrics().height()) {
        EXPECT_EQ(data->text(), QString::number(r));
    }

    // Keys move the bar at once; the next encode uses the new count.
    bar->setFocus();
    QTest::keyClick(bar, Qt::Key_Up);
    QTest::keyClick(bar, Qt::Key_Up);
    EXPECT_EQ(bar->text(), "34");
    const int count = window->encodeCount();
    QTest::mouseClick(bar, Qt::LeftButton, {}, QPoint(12, bar->height() / 2));
    EXPECT_EQ(window->encodeCount(), count + 1);  // the release encodes
    EXPECT_EQ(window->lastEncode().settings.syndromes,
              rsBarDragPosition(bar->height() / 2, bar->height(), bar->range()));
}

TEST_F(WindowFixture, StatusLineFitsAtEveryFrameSizeAndWavelet) {
    ASSERT_EQ(window->loadStill(writePicture("grey.png", 64, 64, Qt::gray)), QString());
    auto* status = find<QLabel>("ctl1500");
    for (const char* size : {"ctl1400", "ctl1401", "ctl1402", "ctl1403", "ctl1404"}) {
        for (const char* wavelet : {"ctl1100", "ctl1101", "ctl1102", "av1"}) {
            QTest::mouseClick(find<QRadioButton>(size), Qt::LeftButton);
            QTest::mouseClick(find<QRadioButton>(wavelet), Qt::LeftButton);
            ASSERT_TRUE(status->text().endsWith(" seconds/frame"))
                << size << " " << wavelet << ": " << status->text().toStdString();
            EXPECT_LE(status->fontMetrics().horizontalAdvance(status->text()),
                      status->contentsRect().width())
                << status->text().toStdString();
        }
    }
    // The longest line a frame can give, with three digits of seconds.
    const QString longest = "256x256 pixels,  CDF97 subband compression,  999.9 seconds/frame";
    EXPECT_LE(QFontMetrics(fontToFit(status->font(), longest, 330)).horizontalAdvance(longest),
              330);
    // A short line keeps the window's font.
    const QFont base = window->centralWidget()->font();
    EXPECT_EQ(fontToFit(base, "48x48 pixels", 330), base);
}

TEST_F(WindowFixture, OversizeFrameShowsTheCheckLinesAndRetriesEverySecond) {
    // Noise at 256 x 256 with no threshold and the finest step cannot fit a frame.
    QImage noise(256, 256, QImage::Format_RGB32);
    uint32_t seed = 12345;
    SCOPED_TRACE(testing::Message() << "seed " << 12345);
    for (int y = 0; y < 256; ++y) {
        for (int x = 0; x < 256; ++x) {
            seed = seed * 1664525u + 1013904223u;
            noise.setPixel(x, y, 0xFF000000u | (seed >> 8));
        }
    }
    const QString path = dir.filePath("noise.png");
    ASSERT_TRUE(noise.save(path));
    ASSERT_EQ(window->loadStill(path), QString());
    QTest::mouseClick(find<QRadioButton>("ctl1404"), Qt::LeftButton);
    find<QSlider>("ctl1104")->setValue(100);
    ASSERT_EQ(window->lastEncode().settings.threshold, 0);
    ASSERT_EQ(window->lastEncode().error, encoder::EncodeError::TooLarge);
    EXPECT_TRUE(window->sendTimer().isActive());
    EXPECT_EQ(window->sendTimer().interval(), 1000);
    const QImage& surface = window->findChild<PreviewView*>("ctl1201")->surface();
    int red = 0, blue = 0, white = 0;
    for (int y = 0; y < surface.height(); ++y) {
        for (int x = 0; x < surface.width(); ++x) {
            const QRgb p = surface.pixel(x, y);
            if (p == qRgb(255, 255, 255)) ++white;
            if (qRed(p) > 200 && qGreen(p) < 80 && qBlue(p) < 80) ++red;
            if (qBlue(p) > 200 && qRed(p) < 80 && qGreen(p) < 80) ++blue;
        }
    }
    EXPECT_GT(white, surface.width() * surface.height() / 2);
    EXPECT_GT(red + blue, 50);
    EXPECT_TRUE(red == 0 || blue == 0) << "one colour per failure: red " << red << " blue " << blue;
}

// ---- the AV1 choice ----

// The test card on the still page: detail in every plane for the AV1 encoder to keep or drop.
void showTestCard(MainWindow& window) {
    window.stillPage()->setStill(sender::imageFromSource(encoder::testCard()));
}

// The first header block of a frame string, as a receiver reads it.
encoder::HeaderFields frameHeader(const std::vector<uint8_t>& frame) {
    std::optional<encoder::HeaderFields> header;
    if (frame.size() >= encoder::kUnitBytes) {
        header = encoder::parseHeaderBlock(std::span(frame).first(encoder::kUnitBytes));
    }
    EXPECT_TRUE(header.has_value()) << "no header block first in " << frame.size() << " bytes";
    return header.value_or(encoder::HeaderFields{});
}

TEST_F(WindowFixture, Av1EncodesAnAv1FrameAndShowsItAsReceiversDecodeIt) {
    showTestCard(*window);
    const int before = window->encodeCount();
    QTest::mouseClick(find<QRadioButton>("av1"), Qt::LeftButton);
    ASSERT_EQ(window->encodeCount(), before + 1);
    const MainWindow::EncodeRecord& record = window->lastEncode();
    EXPECT_EQ(record.mode, encoder::kEncodePreview);
    ASSERT_EQ(record.error, encoder::EncodeError::None);
    EXPECT_EQ(record.settings.wavelet, encoder::Wavelet::Av1);
    const encoder::HeaderFields header = frameHeader(record.frame);
    EXPECT_EQ(header.letter, 'A');
    EXPECT_EQ(header.frameSize, 64);
    EXPECT_EQ(header.redFactor, encoder::kAv1Chroma444);
    EXPECT_EQ(header.blueFactor, encoder::kAv1Chroma444);
    EXPECT_EQ(header.step, 0) << "quantiser 1 is the finest quality";

    // The coded stream the frame carries, decoded as every receiver decodes it, is what the
    // preview shows.
    const encoder::FrameContents contents = encoder::readFrame(record.frame);
    ASSERT_EQ(contents.error, encoder::FrameReadError::None);
    const std::optional<encoder::PictureParams> params = header.pictureParams();
    ASSERT_TRUE(params.has_value());
    const encoder::PictureDecode decoded = encoder::decodePayload(contents.coded, *params);
    ASSERT_EQ(decoded.error, encoder::DecodeError::None);
    ASSERT_EQ(decoded.picture.size, 64);
    EXPECT_EQ(record.preview.pixels, decoded.picture.pixels);
    PreviewView expected;
    expected.showPicture(imageFromPicture(decoded.picture));
    EXPECT_EQ(find<PreviewView>("ctl1201")->surface(), expected.surface());

    // The status line and the codeword bars follow the frame as for a wavelet.
    EXPECT_EQ(find<QLabel>("ctl1500")->text(),
              QString::fromStdString(
                  encoder::statusText(64, encoder::Wavelet::Av1, record.frame.size())));
    EXPECT_TRUE(find<QLabel>("ctl1500")->text().startsWith("64x64 pixels,  AV1 compression,  "));
    EXPECT_EQ(find<RsBar>("ctl9101")->range().high, 255 - header.r());

    // A timed send carries the AV1 frame and waits its air time.
    window->start();
    window->sendTimerFired();
    ASSERT_EQ(window->lastEncode().error, encoder::EncodeError::None);
    EXPECT_EQ(window->lastEncode().mode, encoder::kEncodeSend);
    EXPECT_EQ(frameHeader(window->lastEncode().frame).letter, 'A');
    EXPECT_EQ(window->sendTimer().interval(),
              encoder::framePeriodMs(window->lastEncode().frame.size()));
}

TEST_F(WindowFixture, Av1GreysWhatItDoesNotReadAndTheSliderSetsItsQuality) {
    auto* quantiser = find<QSlider>("ctl1103");
    auto* threshold = find<QSlider>("ctl1104");
    auto* chroma = find<QComboBox>("av1Chroma");
    QLabel* quantiseLabel = nullptr;
    QLabel* thresholdLabel = nullptr;
    for (QLabel* label : window->findChildren<QLabel*>()) {
        if (label->geometry() == QRect(615, 300, 50, 20)) quantiseLabel = label;
        if (label->geometry() == QRect(615, 330, 50, 20)) thresholdLabel = label;
    }
    ASSERT_NE(quantiseLabel, nullptr);
    ASSERT_NE(thresholdLabel, nullptr);
    const QFont base = window->centralWidget()->font();
    const auto factorsEnabled = [&](bool enabled) {
        for (int id : {1410, 1411, 1412, 1413}) EXPECT_EQ(action(id)->isEnabled(), enabled) << id;
    };
    const auto wavelet = [&] {
        EXPECT_TRUE(threshold->isEnabled());
        EXPECT_TRUE(thresholdLabel->isEnabled());
        EXPECT_FALSE(chroma->isEnabled());
        factorsEnabled(true);
        EXPECT_EQ(quantiseLabel->text(), "Quantize");
        EXPECT_EQ(quantiseLabel->font(), base);
        EXPECT_TRUE(quantiser->toolTip().isEmpty());
    };
    wavelet();

    QTest::mouseClick(find<QRadioButton>("av1"), Qt::LeftButton);
    EXPECT_FALSE(threshold->isEnabled());
    EXPECT_FALSE(thresholdLabel->isEnabled());
    EXPECT_TRUE(threshold->isVisible());
    factorsEnabled(false);
    EXPECT_TRUE(chroma->isEnabled());
    EXPECT_TRUE(quantiser->isEnabled());
    EXPECT_EQ(quantiseLabel->text(), "Quality 0");
    EXPECT_TRUE(quantiser->toolTip().startsWith("AV1 quality 0 "))
        << quantiser->toolTip().toStdString();

    // Position p is quantiser 65 - p, AV1 quality 64 - p, down to 63 at the left end; the
    // header's step byte carries the quality.
    const struct {
        int position;
        int quality;
    } kPositions[] = {{40, 24}, {1, 63}, {0, 63}, {63, 1}, {64, 0}};
    for (const auto& p : kPositions) {
        SCOPED_TRACE(p.position);
        const int count = window->encodeCount();
        quantiser->setValue(p.position);
        ASSERT_EQ(window->encodeCount(), count + 1);
        ASSERT_EQ(window->lastEncode().error, encoder::EncodeError::None);
        EXPECT_EQ(frameHeader(window->lastEncode().frame).step, p.quality);
        EXPECT_EQ(quantiseLabel->text(), QStringLiteral("Quality %1").arg(p.quality));
        EXPECT_LE(QFontMetrics(quantiseLabel->font()).horizontalAdvance(quantiseLabel->text()),
                  quantiseLabel->width());
        EXPECT_TRUE(
            quantiser->toolTip().startsWith(QStringLiteral("AV1 quality %1 ").arg(p.quality)));
    }
    quantiser->setValue(40);
    // The greyed slider still moves with "256 x 256", for a return to a wavelet.
    QTest::mouseClick(find<QRadioButton>("ctl1404"), Qt::LeftButton);
    EXPECT_EQ(threshold->value(), 70);
    EXPECT_EQ(window->lastEncode().settings.threshold, 30);
    EXPECT_EQ(frameHeader(window->lastEncode().frame).letter, 'A');

    QTest::mouseClick(find<QRadioButton>("ctl1101"), Qt::LeftButton);
    wavelet();
    EXPECT_EQ(frameHeader(window->lastEncode().frame).letter, 'D');
    EXPECT_EQ(frameHeader(window->lastEncode().frame).step, encoder::kBaseStep + 25);
}

TEST_F(WindowFixture, Av1ChromaReachesTheHeaderAndLeavesTheFactorsAlone) {
    auto* chroma = find<QComboBox>("av1Chroma");
    EXPECT_EQ(chroma->count(), 2);
    EXPECT_EQ(chroma->itemText(1), "4:2:0");
    QTest::mouseClick(find<QRadioButton>("av1"), Qt::LeftButton);
    const struct {
        Qt::Key key;
        int chroma;
    } kSteps[] = {{Qt::Key_Down, encoder::kAv1Chroma420}, {Qt::Key_Up, encoder::kAv1Chroma444}};
    for (const auto& step : kSteps) {
        SCOPED_TRACE(step.chroma);
        const int count = window->encodeCount();
        QTest::keyClick(chroma, step.key);
        ASSERT_EQ(window->encodeCount(), count + 1);
        const MainWindow::EncodeRecord& record = window->lastEncode();
        ASSERT_EQ(record.error, encoder::EncodeError::None);
        EXPECT_EQ(record.settings.av1Chroma, step.chroma);
        const encoder::HeaderFields header = frameHeader(record.frame);
        EXPECT_EQ(header.letter, 'A');
        EXPECT_EQ(header.redFactor, step.chroma);
        EXPECT_EQ(header.blueFactor, step.chroma);
        EXPECT_EQ(record.preview.size, 64);
        // The wavelets' factors keep their values.
        EXPECT_EQ(record.settings.redFactor, 4);
        EXPECT_EQ(record.settings.blueFactor, 4);
    }
}

TEST_F(WindowFixture, BackToAWaveletGivesTheSameFrameAsBefore) {
    showTestCard(*window);
    find<QSlider>("ctl1104")->triggerAction(QAbstractSlider::SliderPageStepSub);  // threshold 10
    action(1411)->trigger();                                                      // 2x2 red
    QTest::mouseClick(find<QRadioButton>("ctl1100"), Qt::LeftButton);
    const MainWindow::EncodeRecord haar = window->lastEncode();
    ASSERT_EQ(haar.error, encoder::EncodeError::None);
    ASSERT_EQ(frameHeader(haar.frame).letter, 'H');

    // Four runs in between: the label's source name alternates from run to run (a receiver
    // tells a new frame of the same file by it), so an even count gives the same label back.
    auto* chroma = find<QComboBox>("av1Chroma");
    QTest::mouseClick(find<QRadioButton>("av1"), Qt::LeftButton);
    QTest::keyClick(chroma, Qt::Key_Down);
    QTest::keyClick(chroma, Qt::Key_Up);
    QTest::keyClick(chroma, Qt::Key_Down);
    EXPECT_EQ(frameHeader(window->lastEncode().frame).redFactor, encoder::kAv1Chroma420);
    QTest::mouseClick(find<QRadioButton>("ctl1100"), Qt::LeftButton);
    const MainWindow::EncodeRecord& back = window->lastEncode();
    ASSERT_EQ(back.error, encoder::EncodeError::None);
    EXPECT_EQ(back.settings.threshold, 10);
    EXPECT_EQ(back.settings.redFactor, 2);
    EXPECT_EQ(back.frame, haar.frame);
    EXPECT_EQ(back.preview.pixels, haar.preview.pixels);
    EXPECT_TRUE(action(1411)->isChecked());
}

// ---- timers ----

TEST_F(WindowFixture, TimedSendsReArmTheTimersWithTheFramePeriod) {
    window->start();
    EXPECT_EQ(window->sendTimer().interval(), 4000);
    EXPECT_TRUE(window->sendTimer().isActive());
    window->sendTimerFired();
    ASSERT_EQ(window->lastEncode().error, encoder::EncodeError::None);
    EXPECT_EQ(window->lastEncode().mode, encoder::kEncodeSend);
    const int period = window->sendTimer().interval();
    EXPECT_GT(period, 200);
    EXPECT_EQ((period - 200) % 4, 0);
    EXPECT_EQ(window->progressTimer().interval(), 100);
    EXPECT_EQ(window->encoderState().frameCounter, 0);  // the switch is off: not counted
    auto* progress = window->findChild<ProgressLine*>("ctl2800");
    window->progressTimerFired();
    window->progressTimerFired();
    EXPECT_EQ(progress->end(), 200 * 363 / period);
    window->sendTimerFired();
    EXPECT_EQ(progress->end(), 0);
}

// The real send timer through the event loop: no send may come before its period is over,
// since the modulator would get the next frame while the last is still on the air. Only lateness
// is allowed. Twenty times the air's pace keeps the test short.
TEST(WindowPacing, TimedSendsNeverComeEarly) {
    Messages messages;
    std::vector<KeyLines> lines;
    MainWindowOptions options = quietOptions(&messages, &lines);
    options.airSpeed = 20;
    MainWindow window(std::move(options));
    window.show();
    EXPECT_EQ(window.sendTimer().timerType(), Qt::PreciseTimer);
    EXPECT_EQ(window.progressTimer().timerType(), Qt::PreciseTimer);
    EXPECT_EQ(window.moviePage()->frameTimer().timerType(), Qt::PreciseTimer);

    // Each firing is stamped before the window's slot runs, so the slot's restart of the timer
    // comes after the stamp and the next firing may not come sooner than the period after it.
    using Clock = std::chrono::steady_clock;
    std::vector<Clock::time_point> fired;
    std::vector<int> periods;  // the period each send armed, ms
    QTimer& timer = window.sendTimer();
    QObject::disconnect(&timer, &QTimer::timeout, &window, &MainWindow::sendTimerFired);
    QEventLoop loop;
    constexpr int kSends = 6;
    QObject::connect(&timer, &QTimer::timeout, &window, [&] {
        fired.push_back(Clock::now());
        window.sendTimerFired();
        periods.push_back(timer.interval());
        if (static_cast<int>(fired.size()) == kSends) loop.quit();
    });
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, &loop, &QEventLoop::quit);
    guard.start(20000);
    const Clock::time_point started = Clock::now();
    window.start();
    EXPECT_EQ(timer.interval(), 4000 / 20);
    loop.exec();
    ASSERT_EQ(fired.size(), static_cast<size_t>(kSends)) << "the guard ran out";
    ASSERT_EQ(window.lastEncode().error, encoder::EncodeError::None);
    const auto ms = [](Clock::duration d) {
        return std::chrono::duration<double, std::milli>(d).count();
    };
    EXPECT_GE(ms(fired[0] - started), 200.0);
    for (int i = 1; i < kSends; ++i) {
        EXPECT_GE(ms(fired[i] - fired[i - 1]), periods[i - 1])
            << "send " << i << " came early; armed with " << periods[i - 1] << " ms";
    }
    // The armed period is the frame's at twenty times the pace.
    EXPECT_GT(periods.back(), 200 / 20);
}

TEST_F(WindowFixture, FrameRateMenuAndSyncMode) {
    QString answer = "0.3";
    QString offeredDefault;
    QStringList offered;
    // A window whose choice dialog answers what the test says.
    Messages m;
    std::vector<KeyLines> l;
    MainWindowOptions o = quietOptions(&m, &l);
    o.choice = [&](QWidget*, const QString& prompt, const QString& def, const QStringList& choices,
                   const QString& caption) {
        EXPECT_EQ(prompt, "Select frame rate for AVI/MPG replay");
        EXPECT_EQ(caption, "Frame rate (seconds)");
        offeredDefault = def;
        offered = choices;
        return answer;
    };
    MainWindow w(std::move(o));
    MoviePage* movie = w.moviePage();
    w.findChild<QAction*>("ctl9016")->trigger();
    EXPECT_EQ(offeredDefault, " 3");
    EXPECT_EQ(offered, (QStringList{"0.1", "0.3", "1", "3", "6"}));
    EXPECT_FLOAT_EQ(w.settings().movieRate, 0.3f);
    EXPECT_EQ(movie->frameTimer().interval(), 300);
    EXPECT_TRUE(movie->frameTimer().isActive());

    w.findChild<QAction*>("ctl1123")->trigger();
    EXPECT_TRUE(w.settings().movieSynced);
    EXPECT_TRUE(w.findChild<QAction*>("ctl1123")->isChecked());
    EXPECT_FALSE(w.findChild<QAction*>("ctl9016")->isChecked());
    EXPECT_FALSE(movie->frameTimer().isActive());
    w.sendTimerFired();  // a timed send re-arms the movie with 0.9 of the period
    EXPECT_TRUE(movie->frameTimer().isActive());
    EXPECT_EQ(movie->frameTimer().interval(),
              encoder::syncedMovieTimerMs(w.sendTimer().interval()));

    answer.clear();  // Cancel: the rate stays, sync mode ends
    w.findChild<QAction*>("ctl9016")->trigger();
    EXPECT_EQ(offeredDefault, " 0.3");
    EXPECT_FLOAT_EQ(w.settings().movieRate, 0.3f);
    EXPECT_FALSE(w.settings().movieSynced);
    EXPECT_TRUE(w.findChild<QAction*>("ctl9016")->isChecked());
    EXPECT_EQ(movie->frameTimer().interval(), 300);
}

// ---- dropped files ----

TEST_F(WindowFixture, DropsLoadOnlyTheFirstFileAndOnlyOnTheStillTab) {
    const QString red = writePicture("red.png", 40, 40, Qt::red);
    const QString blue = writePicture("blue.png", 40, 40, Qt::blue);
    const int before = window->encodeCount();
    drop({red, blue});
    EXPECT_EQ(window->encodeCount(), before + 1);
    EXPECT_EQ(window->stillPage()->area().pixel(128, 128), qRgb(255, 0, 0));
    EXPECT_EQ(find<QLabel>("ctl1121")->text(), "red.png");
    EXPECT_EQ(window->lastEncode().settings.sourcePath, red.toStdString());

    window->chooseSourceTab(SourceTab::Webcam);
    const int onWebcam = window->encodeCount();
    drop({blue});
    EXPECT_EQ(window->encodeCount(), onWebcam);  // no encode
    window->chooseSourceTab(SourceTab::Movie);
    drop({blue});  // not a movie: an empty view, and no encode either
    window->chooseSourceTab(SourceTab::Still);
    EXPECT_EQ(window->stillPage()->area().pixel(128, 128), qRgb(255, 0, 0));
    // The caption names the last file dropped, whatever tab it was dropped on.
    EXPECT_EQ(find<QLabel>("ctl1121")->text(), "blue.png");
}

TEST_F(WindowFixture, UnreadableDropSaysWhyKeepsThePictureAndStillEncodes) {
    const QString red = writePicture("red.png", 40, 40, Qt::red);
    drop({red});
    const QString junk = dir.filePath("junk.png");
    QFile file(junk);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("not a picture");
    file.close();
    const int before = window->encodeCount();
    drop({junk});
    EXPECT_EQ(window->encodeCount(), before + 1);
    EXPECT_EQ(window->stillPage()->area().pixel(128, 128), qRgb(255, 0, 0));
    ASSERT_EQ(messages.texts.size(), 1);
    EXPECT_TRUE(messages.texts[0].startsWith("Cannot read the picture junk.png: "))
        << messages.texts[0].toStdString();
    EXPECT_EQ(window->loadStill(junk), messages.texts[0]);
    EXPECT_EQ(window->stillPage()->area().pixel(128, 128), qRgb(255, 0, 0));

    window->chooseSourceTab(SourceTab::Movie);
    drop({junk});
    ASSERT_EQ(messages.texts.size(), 2);
    EXPECT_TRUE(messages.texts[1].contains("junk.png")) << messages.texts[1].toStdString();
}

TEST_F(WindowFixture, AspectBoxFitsAWidePicture) {
    drop({writePicture("wide.png", 1000, 10, Qt::green)});
    EXPECT_EQ(window->stillPage()->area().pixel(128, 0), qRgb(0, 255, 0));  // stretched
    QTest::mouseClick(find<QCheckBox>("ctl1107"), Qt::LeftButton);
    EXPECT_TRUE(find<QCheckBox>("ctl1107")->isChecked());  // ticked: the aspect is preserved
    EXPECT_EQ(window->settings().aspect, Aspect::Preserve);
    const QImage area = window->stillPage()->area();
    EXPECT_EQ(area.pixel(128, 0), qRgb(240, 240, 240));  // grey above the 256 x 3 strip
    EXPECT_EQ(area.pixel(128, 127), qRgb(0, 255, 0));
    QTest::mouseClick(find<QCheckBox>("ctl1107"), Qt::LeftButton);
    EXPECT_FALSE(find<QCheckBox>("ctl1107")->isChecked());
    EXPECT_EQ(window->stillPage()->area().pixel(128, 0), qRgb(0, 255, 0));
}

// ---- movie page in the window ----

TEST_F(WindowFixture, MovieStepsOneToTenThenZeroAndShowsEachFrame) {
    media::test::TempDir temp;
    const auto path = temp.file("ten.avi");
    ASSERT_EQ(media::test::writeTestMovie(path, {}), "");
    window->chooseSourceTab(SourceTab::Movie);
    drop({QString::fromStdString(path.string())});
    MoviePage* movie = window->moviePage();
    EXPECT_EQ(movie->stepper().length, 10);
    EXPECT_EQ(movie->frameTimer().interval(), 3000);
    EXPECT_TRUE(movie->frameTimer().isActive());
    std::vector<int64_t> positions{movie->stepper().current};
    std::vector<int> shown;
    const auto frameShown = [&] {
        const QImage area = movie->area();
        media::VideoFrame f{area.width(), area.height(), {}};
        for (int y = 0; y < area.height(); ++y) {
            for (int x = 0; x < area.width(); ++x) f.pixels.push_back(area.pixel(x, y) & 0xFFFFFF);
        }
        return media::test::patternNumber(f);
    };
    shown.push_back(frameShown());
    for (int i = 0; i < 11; ++i) {
        movie->frameTimerFired();
        positions.push_back(movie->stepper().current);
        shown.push_back(frameShown());
    }
    EXPECT_EQ(positions, (std::vector<int64_t>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 0, 1}));
    EXPECT_EQ(shown, (std::vector<int>{1, 2, 3, 4, 5, 6, 7, 8, 9, 9, 0, 1}));

    // The slider seeks; the encode reads what the page shows.
    auto* slider = find<QSlider>("ctl9007");
    EXPECT_EQ(slider->maximum(), 10);
    EXPECT_EQ(slider->value(), 1);
    slider->setValue(5);
    EXPECT_EQ(movie->stepper().current, 5);
    EXPECT_EQ(frameShown(), 5);

    // Play twice: paused at the same frame, then running again.
    auto* play = find<QPushButton>("ctl9005");
    EXPECT_EQ(play->text(), ";");
    QTest::mouseClick(play, Qt::LeftButton);
    EXPECT_EQ(play->text(), "4");
    EXPECT_FALSE(movie->frameTimer().isActive());
    QTest::mouseClick(play, Qt::LeftButton);
    EXPECT_EQ(play->text(), ";");
    EXPECT_TRUE(movie->frameTimer().isActive());
    EXPECT_EQ(movie->stepper().current, 5);
}

TEST_F(WindowFixture, AMovieThatCannotBeOpenedLeavesAnEmptyViewAndSteppingHarmless) {
    window->chooseSourceTab(SourceTab::Movie);
    const QString junk = dir.filePath("junk.avi");
    QFile file(junk);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("RIFF but not a movie at all");
    file.close();
    drop({junk});
    MoviePage* movie = window->moviePage();
    EXPECT_EQ(movie->stepper().length, 0);
    for (int i = 0; i < 3; ++i) movie->frameTimerFired();
    EXPECT_EQ(movie->stepper().current, 0);
    EXPECT_EQ(movie->area().pixel(100, 100), qRgb(0, 0, 0));
    window->sendTimerFired();
    EXPECT_EQ(window->lastEncode().error, encoder::EncodeError::None);
}

// ---- transmitter, comport and the link ----

// A modulator stand-in on a free loopback port that collects what pictx writes.
struct FakeModulator {
    explicit FakeModulator(quint16 port = 0) {
        server.listen(QHostAddress::LocalHost, port);
        QObject::connect(&server, &QTcpServer::newConnection, [this] {
            socket = server.nextPendingConnection();
            ++connections;
            QObject::connect(socket, &QTcpSocket::readyRead,
                             [this] { received += socket->readAll(); });
        });
    }
    QTcpServer server;
    QTcpSocket* socket = nullptr;
    QByteArray received;
    int connections = 0;
};

// The line under the transmit switch that shows the modulator link's state.
QString linkLine(MainWindow& window) {
    auto* label = window.findChild<QLabel*>("linkState");
    EXPECT_NE(label, nullptr);
    return label != nullptr ? label->text() : QString();
}

MainWindowOptions linkedOptions(Messages* messages, std::vector<KeyLines>* lines, quint16 port) {
    MainWindowOptions o = quietOptions(messages, lines);
    o.openLink = true;
    o.startModulator = false;
    o.link.port = port;
    return o;
}

TEST(WindowLink, TurnOnSendsStartAndKeysThePort) {
    FakeModulator modulator;
    Messages messages;
    std::vector<KeyLines> lines;
    MainWindowOptions o = quietOptions(&messages, &lines);
    o.openLink = true;
    o.startModulator = false;
    o.link.port = modulator.server.serverPort();
    auto window = std::make_unique<MainWindow>(std::move(o));
    QSignalSpy opened(&window->link(), &ModulatorLink::opened);
    window->start();
    ASSERT_TRUE(opened.count() == 1 || opened.wait(5000));

    auto* comport = window->findChild<QPushButton*>("ctl1601");
    QTest::mouseClick(comport, Qt::LeftButton);
    EXPECT_TRUE(messages.texts.isEmpty());
    EXPECT_EQ(lines, (std::vector<KeyLines>{kUnkeyedLines}));

    auto* turnOn = window->findChild<QPushButton*>("ctl1002");
    QTest::mouseClick(turnOn, Qt::LeftButton);
    EXPECT_TRUE(turnOn->isChecked());
    EXPECT_EQ(lines.back(), kKeyedLines);
    EXPECT_TRUE(QTest::qWaitFor([&] { return modulator.received == "start"; }, 5000))
        << modulator.received.toStdString();

    // A timed send with the switch on: counted and handed over whole.
    window->sendTimerFired();
    EXPECT_EQ(window->encoderState().frameCounter, 1);
    EXPECT_TRUE(QTest::qWaitFor([&] { return modulator.received.size() > 5; }, 5000));
    EXPECT_EQ(static_cast<uint8_t>(modulator.received.at(5)), 0xFF);  // a header block first

    QTest::mouseClick(turnOn, Qt::LeftButton);
    EXPECT_FALSE(turnOn->isChecked());
    EXPECT_EQ(lines.back(), kUnkeyedLines);
    EXPECT_TRUE(QTest::qWaitFor([&] { return modulator.received.endsWith("stop"); }, 5000));

    // File > Exit: "exit" from the menu and again as the window goes.
    window->findChild<QAction*>("ctl9000")->trigger();
    window.reset();
    EXPECT_TRUE(QTest::qWaitFor([&] { return modulator.received.endsWith("exitexit"); }, 5000));
}

TEST(WindowLink, TransmitAtStartSaysStartOnceTheLinkIsUp) {
    FakeModulator modulator;
    Messages messages;
    std::vector<KeyLines> lines;
    MainWindowOptions o = quietOptions(&messages, &lines);
    o.openLink = true;
    o.startModulator = false;
    o.link.port = modulator.server.serverPort();
    MainWindow window(std::move(o));
    window.start();
    window.setTransmit(true);
    EXPECT_TRUE(QTest::qWaitFor([&] { return modulator.received == "start"; }, 5000))
        << modulator.received.toStdString();
}

TEST(WindowLink, NoModulatorShowsTheOpenFailureAndWorksOn) {
    quint16 closedPort = 0;
    {
        QTcpServer probe;
        probe.listen(QHostAddress::LocalHost, 0);
        closedPort = probe.serverPort();
    }
    Messages messages;
    std::vector<KeyLines> lines;
    MainWindowOptions o = quietOptions(&messages, &lines);
    o.openLink = true;
    o.startModulator = false;
    o.link.port = closedPort;
    MainWindow window(std::move(o));
    QSignalSpy failed(&window.link(), &ModulatorLink::openFailed);
    window.start();
    ASSERT_TRUE(failed.count() == 1 || failed.wait(5000));
    ASSERT_EQ(messages.texts.size(), 1);
    EXPECT_TRUE(messages.texts.front().startsWith("Error opening port: "));
    window.setTransmit(true);
    window.sendTimerFired();
    EXPECT_EQ(window.lastEncode().error, encoder::EncodeError::None);
    // The frame due tried the link again; that failure is shown only on the line.
    ASSERT_TRUE(failed.count() == 2 || failed.wait(5000));
    EXPECT_EQ(messages.texts.size(), 1);
    EXPECT_EQ(linkLine(window), "Modulator link: down, retried each frame");

    // A modem started after pictx is found with the next frame.
    FakeModulator modulator(closedPort);
    window.sendTimerFired();
    ASSERT_TRUE(QTest::qWaitFor([&] { return modulator.received.size() > 5; }, 5000));
    EXPECT_TRUE(modulator.received.startsWith("start"));
}

TEST(WindowLink, ModulatorThatComesBackHearsTheSwitchAgainAndTheLineFollows) {
    auto modulator = std::make_unique<FakeModulator>();
    const quint16 port = modulator->server.serverPort();
    const QString up = QStringLiteral("Modulator link: up, port %1").arg(port);
    const QString down = QStringLiteral("Modulator link: down, retried each frame");
    Messages messages;
    std::vector<KeyLines> lines;
    MainWindow window(linkedOptions(&messages, &lines, port));
    window.show();
    window.start();
    ASSERT_TRUE(QTest::qWaitFor([&] { return linkLine(window) == up; }, 5000))
        << linkLine(window).toStdString();
    window.setTransmit(true);
    ASSERT_TRUE(QTest::qWaitFor([&] { return modulator->received == "start"; }, 5000));

    modulator.reset();  // the modem ends
    ASSERT_TRUE(QTest::qWaitFor([&] { return linkLine(window) == down; }, 5000))
        << linkLine(window).toStdString();
    // A frame due while it is away: one attempt, refused; no message box for it.
    window.sendTimerFired();
    EXPECT_EQ(window.link().reopenAttempts(), 1u);
    ASSERT_TRUE(QTest::qWaitFor([&] { return window.link().state() == LinkState::Down; }, 5000));
    EXPECT_EQ(linkLine(window), down);
    EXPECT_TRUE(messages.texts.isEmpty()) << messages.texts.join('|').toStdString();

    // Back (restarted, so unkeyed): the next frame due goes out behind "start".
    modulator = std::make_unique<FakeModulator>(port);
    window.sendTimerFired();
    ASSERT_TRUE(QTest::qWaitFor([&] { return modulator->received.size() > 5 + 41; }, 5000));
    EXPECT_TRUE(modulator->received.startsWith("start"));
    EXPECT_EQ(static_cast<uint8_t>(modulator->received.at(5)), 0xFF);  // the frame's header
    EXPECT_EQ(window.encoderState().frameCounter, 2);
    EXPECT_TRUE(QTest::qWaitFor([&] { return linkLine(window) == up; }, 5000));

    // Switched off while it is away: a modulator that comes back hears "stop", and no frame.
    modulator.reset();
    ASSERT_TRUE(QTest::qWaitFor([&] { return linkLine(window) == down; }, 5000));
    window.setTransmit(false);
    modulator = std::make_unique<FakeModulator>(port);
    window.sendTimerFired();
    ASSERT_TRUE(QTest::qWaitFor([&] { return modulator->received == "stop"; }, 5000))
        << modulator->received.size() << " bytes";
    QTest::qWait(50);
    EXPECT_EQ(modulator->received, "stop");
}

TEST(WindowLink, ReconnectsNoMoreOftenThanTheSendTimerFires) {
    // A modem that takes each connection and drops it at once: every attempt shows as one
    // connection, and the link is down again before the next frame is due.
    FakeModulator modulator;
    QObject::connect(&modulator.server, &QTcpServer::newConnection, [&] {
        if (modulator.socket != nullptr) modulator.socket->close();
    });
    Messages messages;
    std::vector<KeyLines> lines;
    MainWindow window(linkedOptions(&messages, &lines, modulator.server.serverPort()));
    window.start();  // the first connection
    ASSERT_TRUE(QTest::qWaitFor([&] { return modulator.connections == 1; }, 5000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return window.link().state() == LinkState::Down; }, 5000));
    QTest::qWait(300);  // no retry loop of the link's own
    EXPECT_EQ(modulator.connections, 1);

    // The real send timer, made to fire soon; then it runs with the frame period.
    window.sendTimer().start(100);
    ASSERT_TRUE(QTest::qWaitFor([&] { return modulator.connections == 2; }, 5000));
    const int periodMs = window.sendTimer().interval();
    ASSERT_GT(periodMs, 1000);
    QElapsedTimer clock;
    clock.start();
    QTest::qWait(std::min(periodMs / 2, 1500));
    EXPECT_EQ(modulator.connections, 2)
        << "after " << clock.elapsed() << " ms of a " << periodMs << " ms period";
}

TEST(WindowLink, LinkLineFitsItsPlace) {
    Messages messages;
    std::vector<KeyLines> lines;
    MainWindow window(quietOptions(&messages, &lines));
    auto* label = window.findChild<QLabel*>("linkState");
    ASSERT_NE(label, nullptr);
    EXPECT_TRUE(label->text().isEmpty());  // no link, no line (screenshots)
    for (const LinkState state : {LinkState::Up, LinkState::Connecting, LinkState::Down}) {
        const QString text = linkStateText(state, 65535);
        EXPECT_LE(label->fontMetrics().horizontalAdvance(text), label->width())
            << text.toStdString();
    }
}

TEST(WindowLink, ComportThatCannotOpenSaysSo) {
    Messages messages;
    std::vector<KeyLines> lines;
    MainWindow window(quietOptions(&messages, &lines, false));
    QTest::mouseClick(window.findChild<QPushButton*>("ctl1601"), Qt::LeftButton);
    ASSERT_EQ(messages.texts.size(), 1);
    EXPECT_EQ(messages.captions.front(), "Comport");
    EXPECT_EQ(messages.texts.front(),
              "Comport not yet selected or already open by another application");
    // Turn On without a port still toggles and is otherwise ignored.
    QTest::mouseClick(window.findChild<QPushButton*>("ctl1002"), Qt::LeftButton);
    EXPECT_TRUE(window.findChild<QPushButton*>("ctl1002")->isChecked());
    EXPECT_TRUE(lines.empty());
}

}  // namespace
}  // namespace sender
