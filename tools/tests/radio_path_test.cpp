// The radio path end to end over loopback TCP: ENCODEFRAME and pictx's modulator link, tonebox
// (the real program, a child process) with its channel, picrx's demodulator link and
// RECEIVEPACKET. Every port is a free one the system picked.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QProcess>
#include <QRegularExpression>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "encoder/encode_frame.h"
#include "encoder/test_pictures.h"
#include "receiver/demod_link.h"
#include "receiver/receive_packet.h"
#include "sender/modulator_link.h"
#include "sender/send_controller.h"
#include "tools/tests/qt_wait.h"

namespace {

using tools::testing_support::waitFor;

constexpr int kPathWaitMs = 15000;  // a frame at --speed 100 takes well under a second

// CMake passes --tonebox=PATH; run by hand, the program beside this one is used.
QString toneboxPath() {
    for (const QString& arg : QCoreApplication::arguments()) {
        if (arg.startsWith("--tonebox=")) return arg.mid(10);
    }
    return QCoreApplication::applicationDirPath() + "/tonebox";
}

// picrx's side: the demodulator link feeding RECEIVEPACKET, keeping every good picture.
struct Receiver {
    receiver::DemodLink link;
    receiver::ReceiverState state;
    std::vector<encoder::Picture> pictures;
    uint64_t units = 0;

    Receiver() {
        QObject::connect(&link, &receiver::DemodLink::unitReceived,
                         [this](const encoder::Unit& unit) {
                             ++units;
                             receiver::ReceiveUpdate up = receiver::RECEIVEPACKET(state, unit);
                             if (up.picture) pictures.push_back(std::move(up.picture->picture));
                         });
        listen(0);
    }

    void listen(quint16 port) {
        receiver::DemodLinkSettings settings;
        settings.port = port;
        const receiver::ListenResult r = link.listen(settings);
        ASSERT_TRUE(r.ok) << r.message.toStdString();
    }
};

// tonebox as a child process; its output is kept for the failure message.
struct Tonebox {
    QProcess process;
    QString output;
    quint16 port = 0;

    explicit Tonebox(const QStringList& options) {
        QObject::connect(&process, &QProcess::readyReadStandardOutput, [this] {
            output += QString::fromLocal8Bit(process.readAllStandardOutput());
        });
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.start(toneboxPath(),
                      QStringList{"4242", "--simulate", "--defaults", "--port", "0"} + options);
        EXPECT_TRUE(process.waitForStarted(5000)) << toneboxPath().toStdString();
        const QRegularExpression listening("listening for the sender on [^ ]+:(\\d+)");
        EXPECT_TRUE(waitFor([&] { return listening.match(output).hasMatch(); }))
            << output.toStdString();
        port = static_cast<quint16>(listening.match(output).captured(1).toUInt());
    }

    ~Tonebox() {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished(5000);
        }
        if (testing::Test::HasFailure()) std::printf("tonebox said:\n%s", qPrintable(output));
    }
};

// pictx's side: the settings, the controller and the link, as the window holds them.
struct Sender {
    encoder::EncoderSettings settings;
    encoder::EncoderState state;
    sender::SendController controller;
    std::unique_ptr<sender::ModulatorLink> link;
    int opened = 0;

    explicit Sender(quint16 port) {
        settings.frameSize = 64;
        settings.callsign = "TEST ";
        settings.sourcePath = "card.png";
        sender::ModulatorLinkSettings s;
        s.port = port;
        link = std::make_unique<sender::ModulatorLink>(s);
        QObject::connect(link.get(), &sender::ModulatorLink::opened, [this] { ++opened; });
        link->open();
        EXPECT_TRUE(waitFor([&] { return opened == 1; }));
    }

    void turnOn() {
        const sender::TransmitChange change = controller.toggleTransmit();
        settings.transmit = change.on;
        EXPECT_TRUE(link->sendCommand(change.command));
    }

    // One timed send; returns the preview the receiver should show.
    encoder::Picture sendFrame(const encoder::SourcePicture& source) {
        const encoder::EncodeResult r =
            encoder::ENCODEFRAME(settings, source, state, encoder::kEncodeSend);
        EXPECT_EQ(r.error, encoder::EncodeError::None);
        const sender::TimerPlan plan = controller.frameEncoded(r, encoder::kEncodeSend, false);
        EXPECT_TRUE(plan.sendFrame);
        if (plan.sendFrame) {
            EXPECT_TRUE(link->sendFrame(r.frame));
        }
        return r.preview;
    }
};

void expectSamePicture(const encoder::Picture& got, const encoder::Picture& want) {
    ASSERT_EQ(got.size, want.size);
    for (int y = 0; y < want.size; ++y) {
        for (int x = 0; x < want.size; ++x) {
            ASSERT_EQ(got.at(x, y), want.at(x, y))
                << "first difference at (" << x << ", " << y << ")";
        }
    }
}

void expectExitEndsTonebox(Sender& sender, Tonebox& tonebox) {
    EXPECT_TRUE(sender.link->sendCommand(sender::ModulatorCommand::Exit));
    ASSERT_TRUE(waitFor([&] { return tonebox.process.state() == QProcess::NotRunning; }));
    EXPECT_EQ(tonebox.process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(tonebox.process.exitCode(), 0);
    EXPECT_TRUE(tonebox.output.contains("exit"));
}

TEST(RadioPath, CleanChannelDeliversThePreviewExactly) {
    Receiver rx;
    Tonebox tonebox({"--rx-port", QString::number(rx.link.port()), "--speed", "100"});
    ASSERT_NE(tonebox.port, 0);
    Sender tx(tonebox.port);
    tx.turnOn();
    const encoder::Picture preview = tx.sendFrame(encoder::testCard());
    ASSERT_TRUE(waitFor([&] { return !rx.pictures.empty(); }, kPathWaitMs));
    expectSamePicture(rx.pictures[0], preview);
    expectExitEndsTonebox(tx, tonebox);
}

TEST(RadioPath, LossyChannelStillDeliversEveryFrame) {
    const uint64_t seed = 7;
    SCOPED_TRACE(testing::Message() << "channel seed " << seed);
    Receiver rx;
    Tonebox tonebox({"--rx-port", QString::number(rx.link.port()), "--speed", "100", "--loss",
                     "0.1", "--seed", QString::number(seed)});
    ASSERT_NE(tonebox.port, 0);
    Sender tx(tonebox.port);
    tx.turnOn();
    const std::vector<encoder::SourcePicture> sources{encoder::testCard(), encoder::zonePlate()};
    for (size_t i = 0; i < sources.size(); ++i) {
        SCOPED_TRACE(testing::Message() << "frame " << i + 1);
        const encoder::Picture preview = tx.sendFrame(sources[i]);
        ASSERT_TRUE(waitFor([&] { return rx.pictures.size() > i; }, kPathWaitMs));
        expectSamePicture(rx.pictures[i], preview);
    }
    // The channel did lose units: the frame lines count them.
    const QRegularExpression someLost("units played, \\d+ delivered, [1-9]\\d* lost");
    EXPECT_TRUE(waitFor([&] { return someLost.match(tonebox.output).hasMatch(); }));
    expectExitEndsTonebox(tx, tonebox);
}

TEST(RadioPath, ToneboxFindsAReceiverThatRestarted) {
    auto rx = std::make_unique<Receiver>();
    const quint16 rxPort = rx->link.port();
    Tonebox tonebox({"--rx-port", QString::number(rxPort), "--speed", "100"});
    ASSERT_NE(tonebox.port, 0);
    ASSERT_TRUE(waitFor([&] { return rx->link.hasClient(); }));
    rx.reset();  // picrx ends...
    ASSERT_TRUE(waitFor([&] { return tonebox.output.contains("receiver went away"); }));
    rx = std::make_unique<Receiver>();  // ... and starts again on the same port
    rx->link.close();
    rx->listen(rxPort);
    ASSERT_TRUE(waitFor([&] { return rx->link.hasClient(); }, kPathWaitMs));

    Sender tx(tonebox.port);
    tx.turnOn();
    const encoder::Picture preview = tx.sendFrame(encoder::gradient());
    ASSERT_TRUE(waitFor([&] { return !rx->pictures.empty(); }, kPathWaitMs));
    expectSamePicture(rx->pictures[0], preview);
    expectExitEndsTonebox(tx, tonebox);
}

TEST(RadioPath, FramesWhileNotKeyedGoNowhere) {
    Receiver rx;
    Tonebox tonebox({"--rx-port", QString::number(rx.link.port()), "--speed", "100"});
    ASSERT_NE(tonebox.port, 0);
    Sender tx(tonebox.port);
    ASSERT_TRUE(waitFor([&] { return rx.link.hasClient(); }));
    // Sent without "start", as a sender that never switched on would.
    tx.settings.transmit = true;
    const encoder::EncodeResult r =
        encoder::ENCODEFRAME(tx.settings, encoder::testCard(), tx.state, encoder::kEncodeSend);
    ASSERT_TRUE(tx.link->sendFrame(r.frame));
    ASSERT_TRUE(waitFor([&] { return tonebox.output.contains("not keyed"); }, kPathWaitMs));
    ASSERT_TRUE(waitFor([&] { return tonebox.output.contains("units played"); }, kPathWaitMs));
    EXPECT_EQ(rx.units, 0u);
    expectExitEndsTonebox(tx, tonebox);
}

}  // namespace
