#include "sender/modulator_link.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <cerrno>
#include <memory>

#include "encoder/tests/seeded_bytes.h"
#include "tools/tests/qt_wait.h"

namespace sender {
namespace {

using tools::testing_support::spinFor;
using tools::testing_support::waitFor;

// A modulator stand-in on a free loopback port that keeps every byte it is sent.
struct FakeModulator {
    QTcpServer server;
    QTcpSocket* peer = nullptr;
    QByteArray received;

    explicit FakeModulator(quint16 port = 0) {
        EXPECT_TRUE(server.listen(QHostAddress::LocalHost, port));
        QObject::connect(&server, &QTcpServer::newConnection, [this] {
            peer = server.nextPendingConnection();
            QObject::connect(peer, &QTcpSocket::readyRead, [this] { received += peer->readAll(); });
        });
    }
};

struct LinkEvents {
    int opened = 0;
    int failures = 0;
    QString failure;
    int peerClosed = 0;
    std::vector<qint64> failedSends;
    std::vector<LinkState> states;

    explicit LinkEvents(ModulatorLink& link) {
        QObject::connect(&link, &ModulatorLink::opened, [this] { ++opened; });
        QObject::connect(&link, &ModulatorLink::openFailed, [this](const QString& message) {
            failure = message;
            ++failures;
        });
        QObject::connect(&link, &ModulatorLink::stateChanged,
                         [this](LinkState state) { states.push_back(state); });
        QObject::connect(&link, &ModulatorLink::peerClosed, [this] { ++peerClosed; });
        QObject::connect(&link, &ModulatorLink::sendFailed,
                         [this](qint64 dropped) { failedSends.push_back(dropped); });
    }
};

ModulatorLinkSettings settingsFor(quint16 port) {
    ModulatorLinkSettings s;
    s.port = port;
    return s;
}

// A port that nothing listens on: taken from the system, then given back.
quint16 unusedPort() {
    QTcpServer probe;
    EXPECT_TRUE(probe.listen(QHostAddress::LocalHost, 0));
    return probe.serverPort();
}

std::vector<uint8_t> unitsOfBytes(uint64_t seed, size_t units) {
    return encoder::testing_support::seededBytes(seed, units * 41);
}

QByteArray asBytes(const std::vector<uint8_t>& v) {
    return QByteArray(reinterpret_cast<const char*>(v.data()), static_cast<qsizetype>(v.size()));
}

// ---- what goes over the link ----

TEST(ModulatorLinkTranscript, CommandsAndFramesGoOutExactlyAsGiven) {
    FakeModulator modulator;
    ModulatorLink link(settingsFor(modulator.server.serverPort()));
    LinkEvents events(link);
    link.open();
    ASSERT_TRUE(waitFor([&] { return events.opened == 1 && modulator.peer != nullptr; }));

    // Larger than a send piece, so that it goes out in several.
    const std::vector<uint8_t> frame = unitsOfBytes(7, 250);
    ASSERT_TRUE(link.sendCommand(ModulatorCommand::Start));
    ASSERT_TRUE(link.sendFrame(frame));
    ASSERT_TRUE(link.sendCommand(ModulatorCommand::Stop));
    ASSERT_TRUE(link.sendCommand(ModulatorCommand::Exit));
    const QByteArray want = "start" + asBytes(frame) + "stop" + "exit";
    ASSERT_TRUE(waitFor([&] { return modulator.received.size() >= want.size(); }));
    spinFor(20);
    EXPECT_EQ(modulator.received, want);
    EXPECT_EQ(link.bytesQueued(), 0);
    EXPECT_TRUE(events.failedSends.empty());
}

TEST(ModulatorLinkTranscript, ExitQueuedBeforeCloseStillGoesOut) {
    FakeModulator modulator;
    ModulatorLink link(settingsFor(modulator.server.serverPort()));
    LinkEvents events(link);
    link.open();
    ASSERT_TRUE(waitFor([&] { return events.opened == 1 && modulator.peer != nullptr; }));
    ASSERT_TRUE(link.sendCommand(ModulatorCommand::Exit));
    link.close();  // as the window does when it is destroyed
    EXPECT_FALSE(link.isOpen());
    ASSERT_TRUE(waitFor([&] { return modulator.received.size() >= 4; }));
    EXPECT_EQ(modulator.received, "exit");
}

TEST(ModulatorLinkTranscript, NothingIsSentWhileTheLinkIsDown) {
    ModulatorLink link(settingsFor(unusedPort()));
    EXPECT_FALSE(link.isOpen());
    EXPECT_FALSE(link.sendCommand(ModulatorCommand::Start));
    EXPECT_FALSE(link.sendFrame(unitsOfBytes(1, 3)));
    EXPECT_EQ(link.bytesQueued(), 0);
}

// ---- opening ----

TEST(ModulatorLinkOpen, NoModulatorListeningGivesTheErrorNumber) {
    ModulatorLink link(settingsFor(unusedPort()));
    LinkEvents events(link);
    link.open();
    ASSERT_TRUE(waitFor([&] { return !events.failure.isEmpty(); }));
    EXPECT_EQ(events.failure, "Error opening port:  " + QString::number(ECONNREFUSED));
    EXPECT_FALSE(link.isOpen());
    EXPECT_FALSE(link.sendCommand(ModulatorCommand::Start));
}

TEST(ModulatorLinkOpen, ErrorNumbersAreBlankLed) {
    EXPECT_EQ(openFailureText(111), "Error opening port:  111");
    EXPECT_EQ(openFailureText(0), "Error opening port:  0");
    EXPECT_EQ(openFailureText(-1), "Error opening port: -1");
    EXPECT_EQ(errorNumber(QAbstractSocket::ConnectionRefusedError), ECONNREFUSED);
    EXPECT_EQ(errorNumber(QAbstractSocket::SocketTimeoutError), ETIMEDOUT);
    EXPECT_EQ(errorNumber(QAbstractSocket::UnknownSocketError), -1);
}

TEST(ModulatorLinkOpen, ModulatorGoingAwayTakesTheLinkDown) {
    FakeModulator modulator;
    ModulatorLink link(settingsFor(modulator.server.serverPort()));
    LinkEvents events(link);
    link.open();
    ASSERT_TRUE(waitFor([&] { return events.opened == 1 && modulator.peer != nullptr; }));
    modulator.peer->close();
    ASSERT_TRUE(waitFor([&] { return events.peerClosed == 1; }));
    EXPECT_FALSE(link.isOpen());
    EXPECT_FALSE(link.sendCommand(ModulatorCommand::Stop));
}

// ---- a modulator that goes away and comes back ----

// The owner's part, as the window plays it with the transmit switch on: "start" on every open.
void sayStartOnOpen(ModulatorLink& link) {
    QObject::connect(&link, &ModulatorLink::opened,
                     [&link] { link.sendCommand(ModulatorCommand::Start); });
}

TEST(ModulatorLinkReconnect, ModulatorBackAfterARestartGetsStartThenTheFrameThatWasDue) {
    auto modulator = std::make_unique<FakeModulator>();
    const quint16 port = modulator->server.serverPort();
    ModulatorLink link(settingsFor(port));
    LinkEvents events(link);
    sayStartOnOpen(link);
    link.open();
    ASSERT_TRUE(waitFor([&] { return events.opened == 1 && modulator->peer != nullptr; }));
    EXPECT_FALSE(link.reopenIfDown());  // up: nothing to do
    ASSERT_TRUE(waitFor([&] { return modulator->received == "start"; }));

    modulator.reset();  // the modulator ends
    ASSERT_TRUE(waitFor([&] { return link.state() == LinkState::Down; }));
    EXPECT_FALSE(link.sendFrame(unitsOfBytes(1, 2)));  // refused while down, not held

    // A frame is due while nothing listens: one attempt, refused; the frame is dropped.
    ASSERT_TRUE(link.reopenIfDown());
    EXPECT_EQ(link.state(), LinkState::Connecting);
    EXPECT_FALSE(link.reopenIfDown());  // one attempt at a time
    EXPECT_TRUE(link.sendFrame(unitsOfBytes(2, 2)));
    ASSERT_TRUE(waitFor([&] { return events.failures == 1; }));
    EXPECT_EQ(link.state(), LinkState::Down);
    EXPECT_EQ(link.bytesQueued(), 0);

    // The modulator is back on its port; the next frame due reaches it behind "start".
    modulator = std::make_unique<FakeModulator>(port);
    ASSERT_TRUE(link.reopenIfDown());
    const std::vector<uint8_t> older = unitsOfBytes(3, 2);
    const std::vector<uint8_t> frame = unitsOfBytes(4, 150);  // more than one send piece
    EXPECT_TRUE(link.sendFrame(older));
    EXPECT_TRUE(link.sendFrame(frame));  // only the newest waits
    const QByteArray want = "start" + asBytes(frame);
    ASSERT_TRUE(waitFor([&] { return modulator->received.size() >= want.size(); }));
    spinFor(20);
    EXPECT_EQ(modulator->received, want);
    EXPECT_EQ(link.timesOpened(), 2u);
    EXPECT_EQ(link.reopenAttempts(), 2u);
    EXPECT_EQ(events.states,
              (std::vector<LinkState>{LinkState::Connecting, LinkState::Up, LinkState::Down,
                                      LinkState::Connecting, LinkState::Down, LinkState::Connecting,
                                      LinkState::Up}));
}

TEST(ModulatorLinkReconnect, AFrameHeldForAFailedAttemptNeverReachesTheNextConnection) {
    const quint16 port = unusedPort();
    ModulatorLink link(settingsFor(port));
    LinkEvents events(link);
    ASSERT_TRUE(link.reopenIfDown());  // never opened yet: the same as a reconnect
    EXPECT_TRUE(link.sendFrame(unitsOfBytes(5, 3)));
    ASSERT_TRUE(waitFor([&] { return events.failures == 1; }));

    FakeModulator modulator(port);
    ASSERT_TRUE(link.reopenIfDown());
    ASSERT_TRUE(waitFor([&] { return events.opened == 1 && modulator.peer != nullptr; }));
    spinFor(50);
    EXPECT_TRUE(modulator.received.isEmpty()) << modulator.received.size() << " bytes";
}

TEST(ModulatorLinkReconnect, NoAttemptWithoutAFrameDue) {
    // The link has no retry loop of its own: with nobody calling reopenIfDown, a modulator
    // that comes back is not connected to.
    auto modulator = std::make_unique<FakeModulator>();
    const quint16 port = modulator->server.serverPort();
    ModulatorLink link(settingsFor(port));
    LinkEvents events(link);
    link.open();
    ASSERT_TRUE(waitFor([&] { return events.opened == 1 && modulator->peer != nullptr; }));
    modulator.reset();
    ASSERT_TRUE(waitFor([&] { return link.state() == LinkState::Down; }));
    FakeModulator back(port);
    spinFor(300);
    EXPECT_EQ(back.peer, nullptr);
    EXPECT_EQ(link.state(), LinkState::Down);
}

TEST(ModulatorLinkReconnect, StateTextsNameThePort) {
    EXPECT_EQ(linkStateText(LinkState::Up, 998), "Modulator link: up, port 998");
    EXPECT_EQ(linkStateText(LinkState::Connecting, 19998),
              "Modulator link: connecting to port 19998");
    EXPECT_EQ(linkStateText(LinkState::Down, 998), "Modulator link: down, retried each frame");
}

// ---- a modulator that stops reading ----

TEST(ModulatorLinkStall, StuckSendFailsWithoutBlockingAndTheNextSendGoesOn) {
    FakeModulator modulator;
    modulator.server.pauseAccepting();  // the system completes the connection; nobody reads
    ModulatorLinkSettings settings = settingsFor(modulator.server.serverPort());
    settings.sendTimeoutMs = 300;
    ModulatorLink link(settings);
    LinkEvents events(link);
    link.open();
    ASSERT_TRUE(waitFor([&] { return events.opened == 1; }));

    // Far more than the system buffers between two sockets on this machine.
    const std::vector<uint8_t> frame = unitsOfBytes(9, 1'000'000);
    int ticks = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
    ticker.start(10);
    ASSERT_TRUE(link.sendFrame(frame));
    EXPECT_GT(link.bytesQueued(), 0);  // handed over without waiting for the modulator
    ASSERT_TRUE(waitFor([&] { return !events.failedSends.empty(); }, 20000));
    EXPECT_GT(ticks, 0);  // the event loop went on while the send was stuck
    ASSERT_EQ(events.failedSends.size(), 1u);
    EXPECT_GT(events.failedSends[0], 0);
    EXPECT_EQ(events.failedSends[0] % 41, 0);
    EXPECT_TRUE(link.isOpen());  // a failed send is ignored; the link stays

    ASSERT_TRUE(link.sendCommand(ModulatorCommand::Stop));
    modulator.server.resumeAccepting();
    ASSERT_TRUE(waitFor(
        [&] { return modulator.received.endsWith("stop") && link.bytesQueued() == 0; }, 20000));
    // What went out of the frame is a whole number of units from its start, then "stop".
    const qsizetype framePart = modulator.received.size() - 4;
    EXPECT_EQ(framePart % 41, 0);
    EXPECT_EQ(framePart + events.failedSends[0], static_cast<qsizetype>(frame.size()));
    EXPECT_EQ(modulator.received.first(framePart), asBytes(frame).first(framePart));
}

// ---- starting the modulator program ----

TEST(ModulatorProgram, FoundBesideTheExecutableBeforePath) {
    QTemporaryDir beside;
    QTemporaryDir onPath;
    ASSERT_TRUE(beside.isValid() && onPath.isValid());
    for (const QString& dir : {beside.path(), onPath.path()}) {
        QFile f(dir + "/tonebox");
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("#!/bin/sh\n");
        f.close();
        f.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    const QByteArray oldPath = qgetenv("PATH");
    qputenv("PATH", onPath.path().toLocal8Bit());
    EXPECT_EQ(findModulatorProgram("tonebox", {beside.path()}), beside.path() + "/tonebox");
    EXPECT_EQ(findModulatorProgram("tonebox", {}), onPath.path() + "/tonebox");
    QFile(beside.path() + "/tonebox").setPermissions(QFile::ReadOwner);  // not executable
    EXPECT_EQ(findModulatorProgram("tonebox", {beside.path()}), onPath.path() + "/tonebox");
    qputenv("PATH", oldPath);
    EXPECT_TRUE(findModulatorProgram("vistrel-no-such-modulator", {beside.path()}).isEmpty());
}

TEST(ModulatorProgram, StartedWithTheWindowIdThenTheLinkOpens) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString program = dir.path() + "/fake-modulator";
    const QString argsFile = dir.path() + "/args";
    {
        QFile f(program);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(("#!/bin/sh\necho \"$@\" > '" + argsFile + "'\n").toLocal8Bit());
        f.close();
        f.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    FakeModulator modulator;
    ModulatorLinkSettings settings = settingsFor(modulator.server.serverPort());
    settings.program = program;
    settings.extraArguments = {"--rx-port", "5"};
    settings.startWaitMs = 50;
    ModulatorLink link(settings);
    LinkEvents events(link);
    const StartResult started = link.startModulator(123456789);
    EXPECT_TRUE(started.started);
    EXPECT_EQ(started.program, program);
    EXPECT_EQ(events.opened, 0);  // not before the wait
    ASSERT_TRUE(waitFor([&] { return events.opened == 1; }));
    ASSERT_TRUE(waitFor([&] { return QFile(argsFile).size() > 0; }));
    QFile args(argsFile);
    ASSERT_TRUE(args.open(QIODevice::ReadOnly));
    EXPECT_EQ(
        args.readAll(),
        "123456789 --port " + QByteArray::number(modulator.server.serverPort()) + " --rx-port 5\n");
}

TEST(ModulatorProgram, OnTheDefaultPortAModulatorGetsTheWindowIdAlone) {
    EXPECT_EQ(modulatorArguments(42, ModulatorLinkSettings{}), QStringList{"42"});
    ModulatorLinkSettings other;
    other.port = 19998;
    EXPECT_EQ(modulatorArguments(42, other), (QStringList{"42", "--port", "19998"}));

    // And so it is started: another modem may know no options at all.
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString program = dir.path() + "/outside-modem";
    const QString argsFile = dir.path() + "/args";
    {
        QFile f(program);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(("#!/bin/sh\necho \"$# $@\" > '" + argsFile + "'\n").toLocal8Bit());
        f.close();
        f.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    ModulatorLinkSettings settings;  // port 998
    settings.program = program;
    settings.startWaitMs = 60000;  // the link itself is not the point here
    ModulatorLink link(settings);
    ASSERT_TRUE(link.startModulator(77).started);
    ASSERT_TRUE(waitFor([&] { return QFile(argsFile).size() > 0; }));
    QFile args(argsFile);
    ASSERT_TRUE(args.open(QIODevice::ReadOnly));
    EXPECT_EQ(args.readAll(), "1 77\n");
}

TEST(ModulatorProgram, MissingProgramShowsOnlyAsTheLinkFailing) {
    ModulatorLinkSettings settings = settingsFor(unusedPort());
    settings.program = "vistrel-no-such-modulator";
    settings.startWaitMs = 50;
    ModulatorLink link(settings);
    LinkEvents events(link);
    const StartResult started = link.startModulator(1);
    EXPECT_FALSE(started.started);
    EXPECT_TRUE(started.program.isEmpty());
    ASSERT_TRUE(waitFor([&] { return !events.failure.isEmpty(); }));
    EXPECT_TRUE(events.failure.startsWith("Error opening port: "));
}

}  // namespace
}  // namespace sender
