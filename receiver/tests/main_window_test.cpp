// picrx's window on the offscreen platform, fed frames from ENCODEFRAME. The core is the oracle:
// a second ReceiverState takes the same units, and the window must show what it returns, in
// the right controls, places and colours.

#include "receiver/main_window.h"

#include <gtest/gtest.h>

#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "encoder/encode_frame.h"
#include "encoder/test_pictures.h"

namespace receiver {
namespace {

using Units = std::vector<encoder::Unit>;

struct Sent {
    Units units;
    encoder::Picture preview;
};

Sent sendCard(uint16_t counter, const std::string& message = "Vistrel demo") {
    encoder::EncoderSettings settings;
    settings.callsign = "PA0XYZ ";
    settings.sourcePath = "card.png";
    settings.message = message;
    settings.transmit = true;
    encoder::EncoderState state;
    state.frameCounter = static_cast<uint16_t>(counter - 1);
    const encoder::EncodeResult r =
        encoder::ENCODEFRAME(settings, encoder::testCard(), state, encoder::kEncodeSend);
    EXPECT_EQ(r.error, encoder::EncodeError::None);
    Sent sent;
    sent.preview = r.preview;
    sent.units.resize(r.frame.size() / encoder::kUnitBytes);
    for (size_t i = 0; i < sent.units.size(); ++i) {
        std::copy_n(r.frame.begin() + static_cast<ptrdiff_t>(i * encoder::kUnitBytes),
                    encoder::kUnitBytes, sent.units[i].begin());
    }
    return sent;
}

bool isMessage(const encoder::Unit& u) { return u[0] == 'm' && u[1] == 's' && u[2] == 'g'; }

// A window that listens on a free port and records into its own folder.
struct Fixture {
    QTemporaryDir dir;
    MainWindow window{settings(dir)};

    static WindowSettings settings(const QTemporaryDir& dir) {
        WindowSettings s;
        s.link.port = 0;
        s.recordDir = dir.path().toStdString();
        return s;
    }
    template <typename T>
    T* find(const char* name) {
        T* widget = window.findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(widget, nullptr) << name;
        return widget;
    }
    QString text(const char* name) { return find<QLabel>(name)->text(); }
    const QImage& image(const char* name) { return find<GraphicView>(name)->image(); }
    std::vector<std::filesystem::path> movies() {
        std::vector<std::filesystem::path> out;
        for (const auto& e : std::filesystem::directory_iterator(dir.path().toStdString())) {
            out.push_back(e.path());
        }
        return out;
    }
};

QString coreText(const std::optional<std::string>& text) { return windowText(text.value()); }

QRgb rgb(const QImage& image, int x, int y) { return image.pixel(x, y) & 0xFFFFFF; }

TEST(PicrxWindow, StartsEmptyWithEveryControlInPlace) {
    Fixture f;
    EXPECT_EQ(f.window.windowTitle(), QStringLiteral("Wavelet picture decoder"));
    EXPECT_EQ(f.window.minimumSize(), QSize(395, 425));
    EXPECT_EQ(f.window.maximumSize(), QSize(395, 425));
    const struct {
        const char* name;
        QRect geometry;
    } places[] = {
        {kPictureControlName, {23, 3, 344, 256}}, {kRecordButtonName, {10, 265, 75, 20}},
        {kRecorderLabelName, {10, 290, 175, 30}}, {kMessageLabelName, {10, 323, 175, 20}},
        {kLabelLineName, {10, 345, 175, 20}},     {kStatusLabelName, {190, 265, 180, 100}},
        {kProgressBarName, {10, 380, 256, 6}},    {kPercentageLabelName, {270, 377, 105, 15}},
        {kBlockMapName, {10, 400, 256, 8}},       {kBlockCountLabelName, {270, 397, 105, 15}},
    };
    for (const auto& p : places) {
        SCOPED_TRACE(p.name);
        const QWidget* w = f.find<QWidget>(p.name);
        ASSERT_NE(w, nullptr);
        EXPECT_EQ(w->geometry(), p.geometry);
        if (const auto* label = qobject_cast<const QLabel*>(w)) {
            EXPECT_TRUE(label->text().isEmpty());
            EXPECT_EQ(label->textFormat(), Qt::PlainText);  // radio texts are never markup
        }
    }
    const QImage& progress = f.image(kProgressBarName);
    EXPECT_EQ(progress.size(), QSize(256, 6));
    for (int y = 0; y < progress.height(); ++y) {
        for (int x = 0; x < progress.width(); ++x) ASSERT_EQ(rgb(progress, x, y), 0xFFFFFFu);
    }
    EXPECT_EQ(f.image(kPictureControlName), blankPictureControl());
    auto* record = f.find<QPushButton>(kRecordButtonName);
    EXPECT_EQ(record->text(), QStringLiteral("Record"));
    EXPECT_FALSE(record->isChecked());

    // The bordered graphics keep their 1-pixel frame around the bitmap.
    const QImage shown = f.find<GraphicView>(kPictureControlName)->rendered();
    EXPECT_EQ(shown.size(), QSize(344, 256));
    EXPECT_EQ(shown.pixel(0, 0), kBorderColour);
    EXPECT_EQ(shown.pixel(343, 255), kBorderColour);
    EXPECT_EQ(shown.pixel(1, 1), kBlankColour);
}

// A header, some packets and a message: every label shows the core's text for it, and the
// graphics carry the core's paints in the colours meant (blue ticks, red threshold, grey end).
TEST(PicrxWindow, ShowsLabelsAndGraphicsOfAPartialFrame) {
    Fixture f;
    const Sent sent = sendCard(5);
    ReceiverState core;
    ReceiveUpdate last;
    int packets = 0;
    std::optional<std::string> message, labelLine, status;
    int lastTick = -1;  // the latest unit's block-map column: its number, 0 for a message
    for (const encoder::Unit& u : sent.units) {
        if (!isMessage(u) && u[0] != kHeaderSlot && ++packets > 20) continue;
        f.window.takeUnit(u);
        last = RECEIVEPACKET(core, u);
        if (last.messageLabel) message = last.messageLabel;
        if (last.labelLine) labelLine = last.labelLine;
        if (last.statusLabel) status = last.statusLabel;
        lastTick = isMessage(u) ? 0 : u[0];
    }
    ASSERT_TRUE(message && labelLine && status);
    ASSERT_EQ(core.goodFrames, 0) << "too many packets for a partial frame";
    EXPECT_EQ(f.text(kMessageLabelName), coreText(message));
    EXPECT_TRUE(f.text(kMessageLabelName).startsWith(QStringLiteral("Vistrel demo")));
    EXPECT_EQ(f.text(kLabelLineName), coreText(labelLine));
    EXPECT_TRUE(f.text(kLabelLineName).startsWith(QStringLiteral("PA0XYZ card.png")));
    EXPECT_EQ(f.text(kStatusLabelName), coreText(status));
    EXPECT_TRUE(f.text(kStatusLabelName).startsWith(QStringLiteral("Receiving ")));
    EXPECT_TRUE(f.text(kStatusLabelName).contains(QStringLiteral("\nFrame size =  64 x 64\n")));
    EXPECT_FALSE(f.text(kStatusLabelName).contains(QLatin1Char('\r')));
    const int n = core.codewordLength();
    EXPECT_EQ(f.text(kBlockCountLabelName),
              QStringLiteral("%1 blocks out of %2").arg(core.received).arg(n));
    EXPECT_EQ(f.text(kPercentageLabelName), coreText(last.percentageLabel));
    EXPECT_EQ(f.window.windowTitle(), QStringLiteral("Wavelet picture decoder"));

    const QImage& map = f.image(kBlockMapName);
    // The latest tick is whole; the white line runs through the earlier ones.
    for (int y = 1; y <= 7; ++y) EXPECT_EQ(rgb(map, lastTick, y), 0x0000FFu) << "tick row " << y;
    EXPECT_EQ(rgb(map, kHeaderSlot, 1), 0x0000FFu);
    EXPECT_EQ(rgb(map, kHeaderSlot, 7), 0x0000FFu);
    EXPECT_EQ(rgb(map, kHeaderSlot, 4), lastTick == kHeaderSlot ? 0x0000FFu : 0xFFFFFFu);
    EXPECT_EQ(rgb(map, n, 0), 0x808080u);  // the end of the frame, 8 rows high
    EXPECT_EQ(rgb(map, n + 1, 7), 0x808080u);
    EXPECT_EQ(rgb(map, 250, 4), 0xFFFFFFu);  // the white line
    EXPECT_EQ(rgb(map, 250, 0), kBlankColour & 0xFFFFFF);

    const QImage& bar = f.image(kProgressBarName);
    const int filled = core.received * 256 / 255 - 1;
    EXPECT_EQ(rgb(bar, 0, 2), 0x0000FFu);
    EXPECT_EQ(rgb(bar, filled, 1), 0x0000FFu);
    EXPECT_EQ(rgb(bar, filled + 1, 1), 0xFFFFFFu);
    EXPECT_EQ(rgb(bar, core.threshold, 0), 0xFF0000u);  // red, 8 rows: the whole bar
    EXPECT_EQ(rgb(bar, core.threshold + 1, 5), 0xFF0000u);
    EXPECT_EQ(rgb(bar, core.threshold + 2, 5), 0xFFFFFFu);
}

TEST(PicrxWindow, DecodedPictureIsTheCoresRenderingOfTheSendersPreview) {
    Fixture f;
    QSignalSpy shown(&f.window, &MainWindow::pictureShown);
    const Sent sent = sendCard(1);
    ReceiverState core;
    std::optional<ReceivedPicture> decoded;
    for (const encoder::Unit& u : sent.units) {
        f.window.takeUnit(u);
        ReceiveUpdate up = RECEIVEPACKET(core, u);
        if (up.picture && !decoded) decoded = std::move(up.picture);
    }
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->picture.pixels, sent.preview.pixels);
    ASSERT_EQ(shown.count(), 1);
    EXPECT_EQ(shown.at(0).at(0).toInt(), 1);
    const QImage& inside = f.image(kPictureControlName);
    EXPECT_EQ(inside, pictureControlImage(decoded->picture, decoded->length));
    EXPECT_NE(inside, blankPictureControl());
    const QImage control = f.find<GraphicView>(kPictureControlName)->rendered();
    EXPECT_EQ(control.copy(1, 1, kInsideWidth, kInsideHeight), inside);
    EXPECT_TRUE(f.text(kStatusLabelName).contains(QStringLiteral("Good frame count =  1 / 1")));
    EXPECT_EQ(f.window.windowTitle(), QStringLiteral("Wavelet picture decoder"));
}

TEST(PicrxWindow, FrameWithoutItsEndMarkerSetsTheCaption) {
    Fixture f;
    Units units = sendCard(1).units;
    // Every packet's bytes spoiled beyond correction: the payload has no end marker.
    for (encoder::Unit& u : units) {
        if (isMessage(u) || u[0] == kHeaderSlot) continue;
        for (size_t i = 1; i < u.size(); ++i) u[i] ^= static_cast<uint8_t>(0x5A + i);
    }
    for (const encoder::Unit& u : units) f.window.takeUnit(u);
    f.window.takeFrameEnd();
    EXPECT_EQ(f.window.windowTitle(), QStringLiteral("no end-of-file marker yet"));
    EXPECT_EQ(f.image(kPictureControlName), blankPictureControl());
    EXPECT_EQ(f.window.station().receiver.goodFrames, 0);
}

TEST(PicrxWindow, RecordWritesOneRecordPerGoodFrameAndCloseFileKeepsItWhole) {
    Fixture f;
    auto* record = f.find<QPushButton>(kRecordButtonName);
    QTest::mouseClick(record, Qt::LeftButton);
    EXPECT_EQ(record->text(), QStringLiteral("Close file"));
    EXPECT_TRUE(record->isChecked());
    std::vector<std::filesystem::path> movies = f.movies();
    ASSERT_EQ(movies.size(), 1u);
    const QString name = QString::fromStdString(movies[0].filename().string());
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^Vistrel_\\d\\d-\\d\\d-\\d{4}_\\d{6}\\.tv$"))
                    .match(name)
                    .hasMatch())
        << name.toStdString();
    EXPECT_EQ(f.text(kRecorderLabelName), QStringLiteral("0 frames saved to ") + name);
    EXPECT_EQ(std::filesystem::file_size(movies[0]), 0u);

    constexpr uint64_t kRecord = recordBytes(kRecordWidth, kRecordHeight);
    std::vector<std::vector<uint32_t>> shown;
    for (const uint16_t counter : {1, 2}) {
        for (const encoder::Unit& u : sendCard(counter).units) f.window.takeUnit(u);
        shown.push_back(recordPixels(f.image(kPictureControlName)));
        EXPECT_EQ(std::filesystem::file_size(movies[0]), counter * kRecord);
        EXPECT_EQ(f.text(kRecorderLabelName),
                  QStringLiteral(" %1 frames saved to ").arg(counter) + name);
    }
    // A frame that fails its check leaves no trace in the file.
    Units spoiled = sendCard(3).units;
    for (encoder::Unit& u : spoiled) {
        if (!isMessage(u) && u[0] != kHeaderSlot) u[5] ^= 0xFF, u[20] ^= 0x11, u[33] ^= 0x42;
    }
    for (const encoder::Unit& u : spoiled) f.window.takeUnit(u);
    f.window.takeFrameEnd();
    EXPECT_EQ(std::filesystem::file_size(movies[0]), 2 * kRecord);

    QTest::mouseClick(record, Qt::LeftButton);
    EXPECT_EQ(record->text(), QStringLiteral("Record"));
    EXPECT_FALSE(record->isChecked());
    EXPECT_EQ(f.text(kRecorderLabelName), QStringLiteral(" 2 frames saved to ") + name);
    for (const encoder::Unit& u : sendCard(4).units) f.window.takeUnit(u);
    EXPECT_EQ(std::filesystem::file_size(movies[0]), 2 * kRecord);

    MovieReader reader;
    ASSERT_TRUE(reader.open(movies[0]).ok);
    ASSERT_EQ(reader.recordCount(), 2);
    EXPECT_EQ(reader.width(), kRecordWidth);
    EXPECT_EQ(reader.height(), kRecordHeight);
    for (int i = 1; i <= 2; ++i) {
        std::vector<uint32_t> pixels;
        ASSERT_TRUE(reader.readRecord(i, pixels).ok);
        EXPECT_TRUE(pixels == shown[i - 1]) << "record " << i << " differs from the control";
    }
}

TEST(PicrxWindow, ClosingWhileRecordingKeepsEveryRecordAndClosesTheLink) {
    Fixture f;
    ASSERT_TRUE(f.window.openLink().ok);
    f.window.toggleRecord();
    for (const encoder::Unit& u : sendCard(1).units) f.window.takeUnit(u);
    f.window.show();
    EXPECT_TRUE(f.window.close());
    EXPECT_FALSE(f.window.station().recorder.recording);
    EXPECT_FALSE(f.window.link().isListening());
    const std::vector<std::filesystem::path> movies = f.movies();
    ASSERT_EQ(movies.size(), 1u);
    EXPECT_EQ(std::filesystem::file_size(movies[0]), recordBytes(kRecordWidth, kRecordHeight));
}

TEST(PicrxWindow, EscapeClosesTheWindowLikeTheCloseBox) {
    Fixture f;
    ASSERT_TRUE(f.window.openLink().ok);
    f.window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&f.window));
    QTest::keyClick(&f.window, Qt::Key_Escape);
    EXPECT_FALSE(f.window.isVisible());
    EXPECT_FALSE(f.window.link().isListening());
}

TEST(PicrxWindow, RadioTextsAreShownPlainAndCutAtNul) {
    EXPECT_EQ(windowText(std::string("a\r\nb", 4)), QStringLiteral("a\nb"));
    EXPECT_EQ(windowText(std::string("ok\0hidden", 9)), QStringLiteral("ok"));
    EXPECT_EQ(windowText("caf\xE9"), QString::fromUtf8("caf\xC3\xA9"));  // 8-bit Latin-1

    Fixture f;
    encoder::Unit message{};
    const std::string markup = "msg<img src=\"/etc/passwd\"><b>x</b>";
    std::fill(message.begin(), message.end(), ' ');
    std::copy(markup.begin(), markup.end(), message.begin());
    f.window.takeUnit(message);
    EXPECT_TRUE(f.text(kMessageLabelName).startsWith(QStringLiteral("<img src=")));
    EXPECT_EQ(f.find<QLabel>(kMessageLabelName)->textFormat(), Qt::PlainText);
}

// Units written to the window's port by a demodulator arrive as if fed directly.
TEST(PicrxWindow, UnitsSentToItsPortAreReceived) {
    Fixture f;
    ASSERT_TRUE(f.window.openLink().ok);
    QSignalSpy shown(&f.window, &MainWindow::pictureShown);
    QTcpSocket demodulator;
    demodulator.connectToHost(QHostAddress::LocalHost, f.window.link().port());
    ASSERT_TRUE(demodulator.waitForConnected(5000));
    const Sent sent = sendCard(1);
    for (const encoder::Unit& u : sent.units) {
        demodulator.write(reinterpret_cast<const char*>(u.data()), encoder::kUnitBytes);
    }
    ASSERT_TRUE(demodulator.waitForBytesWritten(5000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return shown.count() > 0; }, 5000));
    EXPECT_EQ(f.window.station().receiver.goodFrames, 1);
    EXPECT_EQ(f.image(kPictureControlName),
              pictureControlImage(sent.preview, f.window.station().receiver.length));
    EXPECT_TRUE(f.text(kLabelLineName).startsWith(QStringLiteral("PA0XYZ")));
}

TEST(PicrxWindow, PortInUseIsReportedAndTheWindowWorksOn) {
    QTcpServer holder;
    ASSERT_TRUE(holder.listen(QHostAddress::LocalHost, 0));
    WindowSettings settings;
    settings.link.port = holder.serverPort();
    MainWindow window(settings);
    const ListenResult r = window.openLink();
    EXPECT_FALSE(r.ok);
    EXPECT_TRUE(r.message.startsWith(QStringLiteral("Couldn't create socket!")));
    EXPECT_TRUE(r.message.contains(QStringLiteral("already in use"))) << r.message.toStdString();
    for (const encoder::Unit& u : sendCard(1).units) window.takeUnit(u);
    EXPECT_EQ(window.station().receiver.goodFrames, 1);
}

}  // namespace
}  // namespace receiver
