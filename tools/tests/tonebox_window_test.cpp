// tonebox's window on Qt's offscreen platform, hearing a recording made the way a station would
// hear one: vistrel modulate, then vistrel hf-channel (fading, mistuning, noise). The window's
// counters are checked against the demodulator's own report of the same recording, and the
// settings dialog against what tonebox reads back.
//
// Arguments: --vistrel=PATH --tonebox=PATH. With VISTREL_TEST_RIG (a rigctld the test may key,
// "rigctld:HOST:PORT") and a sound server, the keying buttons are tried too.

#include "tools/tonebox_window.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QSpinBox>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "modem/receive_path.h"
#include "tools/audio_file.h"
#include "tools/tests/qt_wait.h"
#include "tools/tonebox_settings.h"
#include "tools/tonebox_widgets.h"

namespace tools {
namespace {

using testing_support::waitFor;

QString vistrelPath;
QString toneboxPath;

constexpr double kChannelOffsetHz = 23.0;

std::string readText(const QString& path) {
    std::ifstream in(path.toStdString(), std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

QString run(const QString& program, const QStringList& args,
            const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment()) {
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(program, args);
    if (!p.waitForFinished(60000) || p.exitCode() != 0) {
        return QStringLiteral("FAILED: ") + program + " " + args.join(' ') + ": " +
               QString::fromLocal8Bit(p.readAllStandardError());
    }
    return {};
}

// A stand-in for picrx: keeps every byte the demodulator link writes.
class FakeReceiver {
public:
    FakeReceiver() {
        server_.listen(QHostAddress::LocalHost, 0);
        QObject::connect(&server_, &QTcpServer::newConnection, [this] {
            while (QTcpSocket* s = server_.nextPendingConnection()) {
                QObject::connect(s, &QTcpSocket::readyRead, s,
                                 [this, s] { bytes_ += s->readAll(); });
            }
        });
    }
    [[nodiscard]] int port() const { return server_.serverPort(); }
    [[nodiscard]] const QByteArray& bytes() const { return bytes_; }

private:
    QTcpServer server_;
    QByteArray bytes_;
};

class ToneboxWindowTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir_ = new QTemporaryDir;
        const QString d = dir_->path() + "/";
        for (const auto& [program, args] : std::vector<std::pair<QString, QStringList>>{
                 {vistrelPath, {"testcard", d + "card.png"}},
                 {vistrelPath, {"encode", d + "card.png", "-o", d + "card.frame", "--size", "64"}},
                 {vistrelPath, {"modulate", d + "card.frame", "-o", d + "clean.wav"}},
                 {vistrelPath,
                  {"hf-channel", d + "clean.wav", "-o", d + "heard.wav", "--channel", "moderate",
                   "--snr", "15", "--offset", QString::number(kChannelOffsetHz), "--seed", "3"}},
             }) {
            setupError_ += run(program, args);
        }
        recording_ = d + "heard.wav";
    }
    static void TearDownTestSuite() {
        delete dir_;
        dir_ = nullptr;
    }
    void SetUp() override { ASSERT_TRUE(setupError_.isEmpty()) << setupError_.toStdString(); }

    static inline QTemporaryDir* dir_ = nullptr;
    static inline QString setupError_;
    static inline QString recording_;
};

// What the demodulator reports for the recording, fed as a sound card would feed it.
struct Reference {
    std::vector<modem::FrameStats> frames;
    QByteArray units;
    double seconds = 0;
};

Reference demodulate(const QString& path) {
    const AudioRead read = readAudio(path.toStdString());
    Reference ref;
    if (!read.ok) return ref;
    std::vector<float> audio = read.audio.samples;
    ref.seconds = double(audio.size()) / read.audio.sampleRate;
    audio.resize(audio.size() + static_cast<size_t>(read.audio.sampleRate), 0.0f);
    modem::ReceivePath receive(read.audio.sampleRate, false);
    constexpr size_t kChunk = 1920;  // 40 ms at 48000 Hz
    for (size_t at = 0; at < audio.size(); at += kChunk) {
        modem::ReceiveOutput out;
        receive.process(std::span(audio).subspan(at, std::min(kChunk, audio.size() - at)), out);
        ref.frames.insert(ref.frames.end(), out.demod.frames.begin(), out.demod.frames.end());
        for (const modem::Unit& u : out.demod.units) {
            ref.units.append(reinterpret_cast<const char*>(u.data()), qsizetype(u.size()));
        }
    }
    return ref;
}

ToneboxOptions hearing(const QString& recording, int receiverPort) {
    ToneboxOptions o;
    o.inputFile = recording.toStdString();
    o.inputPace = 4.0;
    o.rxPort = receiverPort;
    o.window = true;
    return o;
}

TEST_F(ToneboxWindowTest, ShowsWhatTheDemodulatorHeard) {
    const Reference ref = demodulate(recording_);
    ASSERT_GE(ref.frames.size(), 6u) << "the recording should carry the frame string";

    FakeReceiver receiver;
    QTemporaryDir config;
    ToneboxWindow window(hearing(recording_, receiver.port()),
                         config.filePath("tonebox.conf").toStdString());
    window.show();
    ASSERT_TRUE(window.startStation());
    // Receiving: the indicator says RX and the input meter shows a level.
    ASSERT_TRUE(waitFor([&] { return window.shown().statusUpdates > 3; }));
    EXPECT_EQ(window.findChild<QLabel*>("txrx")->text(), "RX");
    EXPECT_TRUE(window.findChild<LevelMeter*>("inMeter")->text().contains("dBFS"));
    ASSERT_TRUE(waitFor([&] { return window.shown().finished; }, 60000));

    // Every frame the demodulator reported, with its SNR, offset and units.
    const std::vector<modem::FrameStats>& shown = window.shown().frames;
    ASSERT_EQ(shown.size(), ref.frames.size());
    int good = 0;
    int dropped = 0;
    for (size_t i = 0; i < shown.size(); ++i) {
        EXPECT_NEAR(shown[i].snrDb, ref.frames[i].snrDb, 0.05) << "frame " << i;
        EXPECT_NEAR(shown[i].offsetHz, ref.frames[i].offsetHz, 0.05) << "frame " << i;
        EXPECT_NEAR(shown[i].offsetHz, kChannelOffsetHz, 2.0) << "frame " << i;
        EXPECT_EQ(shown[i].unitsGood, ref.frames[i].unitsGood) << "frame " << i;
        EXPECT_EQ(shown[i].unitsDropped, ref.frames[i].unitsDropped) << "frame " << i;
        good += ref.frames[i].unitsGood;
        dropped += ref.frames[i].unitsDropped;
    }
    // The totals, as counted and as written.
    const StationStatus& s = window.shown().status;
    EXPECT_EQ(s.modemFrames, ref.frames.size());
    EXPECT_EQ(s.unitsGood, uint64_t(good));
    EXPECT_EQ(s.unitsDropped, uint64_t(dropped));
    const QString totals = window.findChild<QLabel*>("totals")->text();
    EXPECT_TRUE(totals.contains(QStringLiteral("%1 units good, %2 dropped").arg(good).arg(dropped)))
        << totals.toStdString();
    const QString last = window.findChild<QLabel*>("lastFrame")->text();
    EXPECT_TRUE(last.contains(QString::number(ref.frames.back().snrDb, 'f', 1)))
        << last.toStdString();
    // The units went to the receiver, as the demodulator gave them.
    ASSERT_TRUE(waitFor([&] { return receiver.bytes().size() >= ref.units.size(); }));
    EXPECT_EQ(receiver.bytes(), ref.units);
    EXPECT_TRUE(window.findChild<QLabel*>("receiverLink")->text().contains("connected"));
    EXPECT_EQ(window.findChild<QLabel*>("txrx")->text(), "--");  // the recording is over

    // The waterfall: a row per 100 ms heard, the signal inside the passband.
    const WaterfallView* fall = window.waterfall();
    const int expectedRows = static_cast<int>((ref.seconds + 1.0) * 10);
    EXPECT_NEAR(fall->rowsReceived(), expectedRows, 2);
    const QImage& image = fall->image();
    auto brightness = [&](double lowHz, double highHz) {
        double sum = 0;
        int n = 0;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = static_cast<int>(modem::Waterfall::binOf(lowHz));
                 x < static_cast<int>(modem::Waterfall::binOf(highHz)); ++x) {
                const QColor c = image.pixelColor(x, y);
                sum += c.red() + c.green() + c.blue();
                ++n;
            }
        }
        return sum / n;
    };
    EXPECT_GT(brightness(600, 2400), 3 * brightness(2850, 3000));
}

// The dialog's fields, for the tests to fill in.
struct Fields {
    explicit Fields(QWidget& d)
        : inputDevice(d.findChild<QComboBox*>("inputDevice")),
          outputDevice(d.findChild<QComboBox*>("outputDevice")),
          mode(d.findChild<QComboBox*>("mode")),
          txLevel(d.findChild<QDoubleSpinBox*>("txLevel")),
          pttKind(d.findChild<QComboBox*>("pttKind")),
          pttDevice(d.findChild<QLineEdit*>("pttDevice")),
          pttLead(d.findChild<QSpinBox*>("pttLead")),
          txTimeout(d.findChild<QSpinBox*>("txTimeout")),
          rxPort(d.findChild<QSpinBox*>("rxPort")),
          transmit(d.findChild<QCheckBox*>("transmit")),
          receive(d.findChild<QCheckBox*>("receive")),
          window(d.findChild<QCheckBox*>("window")) {}
    QComboBox* inputDevice;
    QComboBox* outputDevice;
    QComboBox* mode;
    QDoubleSpinBox* txLevel;
    QComboBox* pttKind;
    QLineEdit* pttDevice;
    QSpinBox* pttLead;
    QSpinBox* txTimeout;
    QSpinBox* rxPort;
    QCheckBox* transmit;
    QCheckBox* receive;
    QCheckBox* window;
};

const std::vector<SoundDeviceInfo> kDevices{
    {.index = 0,
     .name = "USB Audio CODEC: Audio (hw:1,0)",
     .hostApi = "ALSA",
     .inputs = 1,
     .outputs = 2,
     .defaultRate = 48000,
     .defaultInput = false,
     .defaultOutput = false},
    {.index = 1,
     .name = "HDA Intel PCH: ALC892 Analog (hw:0,0)",
     .hostApi = "ALSA",
     .inputs = 2,
     .outputs = 2,
     .defaultRate = 48000,
     .defaultInput = true,
     .defaultOutput = true},
};

TEST(ToneboxSettingsDialog, SavesWhatToneboxReadsBack) {
    QTemporaryDir home;
    const QString path = home.filePath("vistrel/tonebox.conf");
    ToneboxSettingsDialog dialog(ToneboxOptions{}, kDevices, path.toStdString(), {});
    dialog.show();
    Fields f(dialog);
    ASSERT_NE(f.window, nullptr);
    f.inputDevice->setEditText("USB Audio");
    f.outputDevice->setCurrentIndex(
        f.outputDevice->findText(QString::fromStdString(kDevices[0].name)));
    f.mode->setCurrentIndex(1);
    f.txLevel->setValue(-12.5);
    f.pttKind->setCurrentText("rigctld");
    f.pttDevice->setText("localhost:4532");
    f.pttLead->setValue(220);
    f.txTimeout->setValue(120);
    f.rxPort->setValue(5999);
    f.window->setChecked(true);
    dialog.accept();
    EXPECT_FALSE(dialog.isVisible()) << dialog.problem().toStdString();
    EXPECT_TRUE(dialog.problem().isEmpty());

    // What the file holds is what the dialog showed.
    const std::string text = readText(path);
    ToneboxOptions read;
    EXPECT_TRUE(applyToneboxConfig(text, "tonebox.conf", {}, read).empty());
    EXPECT_EQ(read.inputDevice, "USB Audio");
    EXPECT_EQ(read.outputDevice, kDevices[0].name);
    EXPECT_EQ(read.mode, modem::Mode::Robust);
    EXPECT_DOUBLE_EQ(read.txLevelDb, -12.5);
    EXPECT_EQ(pttSettingText(read.ptt), "rigctld:localhost:4532");
    EXPECT_EQ(read.pttLeadMs, 220);
    EXPECT_EQ(read.txTimeoutS, 120);
    EXPECT_EQ(read.rxPort, 5999);
    EXPECT_TRUE(read.window);
    EXPECT_EQ(toneboxConfigText(read), toneboxConfigText(dialog.saved()));

    // tonebox itself reads the file back to the same options: written out again by
    // --write-config, the file is unchanged.
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_CONFIG_HOME", home.path());
    EXPECT_EQ(run(toneboxPath, {"--write-config"}, env), QString());
    EXPECT_EQ(readText(path), text);
}

TEST(ToneboxSettingsDialog, RefusesABadValueWithAMessage) {
    QTemporaryDir home;
    const QString path = home.filePath("vistrel/tonebox.conf");
    ToneboxSettingsDialog dialog(ToneboxOptions{}, kDevices, path.toStdString(), {});
    dialog.show();
    Fields f(dialog);
    struct Case {
        const char* what;
        std::function<void()> spoil;
        std::function<void()> mend;
        const char* says;
    };
    const std::vector<Case> cases{
        {"a serial line that is not rts, dtr or both",
         [&] {
             f.pttKind->setCurrentText("serial");
             f.pttDevice->setText("/dev/ttyUSB0:sideways");
         },
         [&] { f.pttKind->setCurrentText("none"); }, "rts"},
        {"a device no name matches", [&] { f.inputDevice->setEditText("Soundblaster"); },
         [&] { f.inputDevice->setEditText(""); }, "no sound input device matches"},
        {"a name two devices match", [&] { f.outputDevice->setEditText("hw:"); },
         [&] { f.outputDevice->setEditText(""); }, "more than one"},
        {"transmit and receive both off",
         [&] {
             f.transmit->setChecked(false);
             f.receive->setChecked(false);
         },
         [&] {
             f.transmit->setChecked(true);
             f.receive->setChecked(true);
         },
         "nothing to do"},
    };
    for (const Case& c : cases) {
        c.spoil();
        dialog.accept();
        EXPECT_TRUE(dialog.isVisible()) << c.what;
        EXPECT_TRUE(dialog.problem().contains(c.says))
            << c.what << ": '" << dialog.problem().toStdString() << "'";
        EXPECT_FALSE(QFile::exists(path)) << c.what;
        c.mend();
    }
    dialog.accept();  // mended, it saves
    EXPECT_FALSE(dialog.isVisible()) << dialog.problem().toStdString();
    EXPECT_TRUE(QFile::exists(path));
}

// With a sound server and rigctld's dummy rig: "Test PTT" keys for a second, the indicator
// goes red while it is keyed, and the rig is unkeyed after.
TEST(ToneboxWindowKeying, TestPttKeysForASecond) {
    const char* rig = std::getenv("VISTREL_TEST_RIG");
    if (rig == nullptr)
        GTEST_SKIP() << "needs VISTREL_TEST_RIG and a sound server (window_test.sh)";
    const QString rigAddress = QString::fromLatin1(rig).section(':', 1);
    auto keyed = [&] {
        QProcess p;
        p.start("rigctl", {"-m", "2", "-r", rigAddress, "t"});
        p.waitForFinished(5000);
        return QString::fromLatin1(p.readAllStandardOutput()).trimmed().section('\n', 0, 0);
    };
    QTemporaryDir config;
    ToneboxOptions o;
    o.receive = false;
    o.port = 0;
    o.window = true;
    ToneboxWindow window(o, config.filePath("tonebox.conf").toStdString());
    window.show();
    ASSERT_TRUE(window.startStation());
    ToneboxSettingsDialog* dialog = window.openSettings();
    Fields f(*dialog);
    f.pttKind->setCurrentText("rigctld");
    f.pttDevice->setText(rigAddress);
    dialog->findChild<QPushButton*>("testPtt")->click();
    QLabel* txrx = window.findChild<QLabel*>("txrx");
    // The station starts again with the dialog's settings first: the sound card takes a moment.
    ASSERT_TRUE(waitFor([&] { return txrx->text() == "TX"; }, 10000)) << "never keyed";
    QElapsedTimer keyedFor;
    keyedFor.start();
    EXPECT_EQ(keyed(), "1");
    EXPECT_TRUE(txrx->styleSheet().contains("#d01010"));
    ASSERT_TRUE(waitFor([&] { return txrx->text() == "RX"; }, 10000)) << "never unkeyed";
    // A second, with the lead and tail and the status's 100 ms steps around it (and room for a
    // loaded machine: it is not the time-out's 300 s).
    EXPECT_GE(keyedFor.elapsed(), 900);
    EXPECT_LE(keyedFor.elapsed(), 4000);
    ASSERT_TRUE(waitFor([&] { return keyed() == "0"; }, 3000));
    dialog->reject();
}

}  // namespace
}  // namespace tools

int main(int argc, char** argv) {
    // ALSA's plugins are unloaded when PortAudio ends, and what they keep for the process's
    // life then has no module name LeakSanitizer's suppressions could match: kept loaded.
    const std::filesystem::path plugins = "/usr/lib/x86_64-linux-gnu/alsa-lib";
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(plugins, ec)) {
        if (entry.path().filename().string().starts_with("libasound_module_pcm_")) {
            (void)dlopen(entry.path().c_str(), RTLD_LAZY | RTLD_NODELETE);
        }
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    for (int i = 1; i < argc; ++i) {
        const QString arg = QString::fromLocal8Bit(argv[i]);
        if (arg.startsWith("--vistrel=")) tools::vistrelPath = arg.mid(10);
        if (arg.startsWith("--tonebox=")) tools::toneboxPath = arg.mid(10);
    }
    return RUN_ALL_TESTS();
}
