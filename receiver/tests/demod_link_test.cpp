#include "receiver/demod_link.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTcpSocket>
#include <memory>
#include <vector>

#include "encoder/tests/seeded_bytes.h"
#include "tools/tests/qt_wait.h"

namespace receiver {
namespace {

using encoder::kUnitBytes;
using encoder::Unit;
using tools::testing_support::spinFor;
using tools::testing_support::waitFor;

std::vector<Unit> seededUnits(uint64_t seed, size_t count) {
    const std::vector<uint8_t> bytes = encoder::testing_support::seededBytes(seed, count * 41);
    std::vector<Unit> units(count);
    for (size_t i = 0; i < count; ++i) {
        std::copy_n(bytes.begin() + static_cast<std::ptrdiff_t>(i * kUnitBytes), kUnitBytes,
                    units[i].begin());
        units[i][0] = static_cast<uint8_t>(i + 1);  // a missing or repeated unit shows by number
    }
    return units;
}

QByteArray bytesOf(const std::vector<Unit>& units) {
    QByteArray out;
    for (const Unit& u : units) out.append(reinterpret_cast<const char*>(u.data()), kUnitBytes);
    return out;
}

// A demod link on a free loopback port and what it has passed on.
struct Server {
    DemodLink link;
    std::vector<Unit> received;
    int connects = 0;
    int disconnects = 0;

    Server() {
        QObject::connect(&link, &DemodLink::unitReceived,
                         [this](const Unit& u) { received.push_back(u); });
        QObject::connect(&link, &DemodLink::clientConnected, [this] { ++connects; });
        QObject::connect(&link, &DemodLink::clientDisconnected, [this] { ++disconnects; });
        DemodLinkSettings settings;
        settings.port = 0;
        const ListenResult r = link.listen(settings);
        EXPECT_TRUE(r.ok) << r.message.toStdString();
        EXPECT_NE(link.port(), 0);
    }
};

std::unique_ptr<QTcpSocket> connectTo(Server& server) {
    auto socket = std::make_unique<QTcpSocket>();
    const int before = server.connects;
    socket->connectToHost(QHostAddress::LocalHost, server.link.port());
    EXPECT_TRUE(socket->waitForConnected(5000)) << socket->errorString().toStdString();
    EXPECT_TRUE(waitFor([&] { return server.connects > before; }));
    return socket;
}

// Writes bytes and waits until the link has consumed them all, so that the next write reaches
// it in a read of its own.
void writeAndSettle(Server& server, QTcpSocket& socket, const QByteArray& bytes,
                    size_t expectUnits) {
    socket.write(bytes);
    socket.flush();
    const size_t expectPending = (server.link.pendingBytes() + bytes.size()) % kUnitBytes;
    EXPECT_TRUE(waitFor([&] {
        return server.received.size() == expectUnits && server.link.pendingBytes() == expectPending;
    })) << "units "
        << server.received.size() << " of " << expectUnits;
}

void expectSameUnits(const std::vector<Unit>& got, const std::vector<Unit>& want) {
    ASSERT_EQ(got.size(), want.size());
    for (size_t i = 0; i < want.size(); ++i) {
        EXPECT_EQ(got[i], want[i]) << "unit " << i << " (number byte " << int{got[i][0]} << ")";
    }
}

// ---- stream cutting over a real socket ----

TEST(DemodLinkFraming, WholeUnitWritesArriveOnceEachInOrder) {
    Server server;
    auto socket = connectTo(server);
    const std::vector<Unit> units = seededUnits(101, 20);
    for (size_t i = 0; i < units.size(); ++i) {
        socket->write(reinterpret_cast<const char*>(units[i].data()), kUnitBytes);
    }
    socket->flush();
    ASSERT_TRUE(waitFor([&] { return server.received.size() >= units.size(); }));
    spinFor(20);  // nothing more may come
    expectSameUnits(server.received, units);
}

TEST(DemodLinkFraming, UnitSplitAtEveryOffsetArrivesWhole) {
    Server server;
    auto socket = connectTo(server);
    const std::vector<Unit> units = seededUnits(102, kUnitBytes + 1);
    size_t done = 0;
    for (size_t cut = 0; cut <= kUnitBytes; ++cut) {
        SCOPED_TRACE(testing::Message() << "cut at " << cut);
        const QByteArray bytes = bytesOf({units[cut]});
        writeAndSettle(server, *socket, bytes.first(static_cast<qsizetype>(cut)), done);
        writeAndSettle(server, *socket, bytes.sliced(static_cast<qsizetype>(cut)), ++done);
    }
    expectSameUnits(server.received, units);
}

TEST(DemodLinkFraming, UnitsMergedByTwosAndThreesArriveSeparately) {
    Server server;
    auto socket = connectTo(server);
    const std::vector<Unit> units = seededUnits(103, 12);
    const QByteArray stream = bytesOf(units);
    size_t done = 0;
    for (const size_t group : {2u, 3u, 2u, 3u, 2u}) {
        const QByteArray piece = stream.sliced(static_cast<qsizetype>(done * kUnitBytes),
                                               static_cast<qsizetype>(group * kUnitBytes));
        done += group;
        writeAndSettle(server, *socket, piece, done);
    }
    expectSameUnits(server.received, units);
}

TEST(DemodLinkFraming, OddSizedWritesAcrossUnitBoundaries) {
    Server server;
    auto socket = connectTo(server);
    const std::vector<Unit> units = seededUnits(104, 10);
    const QByteArray stream = bytesOf(units);
    // 61 bytes, then 82, then the rest: every read but the last ends inside a unit, and every
    // read but the first starts inside one.
    writeAndSettle(server, *socket, stream.first(61), 1);
    writeAndSettle(server, *socket, stream.sliced(61, 82), 3);
    writeAndSettle(server, *socket, stream.sliced(143), 10);
    expectSameUnits(server.received, units);
}

// ---- connections coming and going ----

TEST(DemodLinkConnections, PartialUnitIsDroppedWhenItsConnectionCloses) {
    Server server;
    const std::vector<Unit> units = seededUnits(201, 3);
    {
        auto first = connectTo(server);
        writeAndSettle(server, *first, bytesOf({units[0]}).first(30), 0);
        first->disconnectFromHost();
        ASSERT_TRUE(waitFor([&] { return server.disconnects == 1; }));
        EXPECT_FALSE(server.link.hasClient());
    }
    EXPECT_EQ(server.link.bytesDropped(), 30u);
    auto second = connectTo(server);
    writeAndSettle(server, *second, bytesOf({units[1], units[2]}), 2);
    expectSameUnits(server.received, {units[1], units[2]});
}

TEST(DemodLinkConnections, LastWholeUnitsBeforeACloseStillArrive) {
    Server server;
    const std::vector<Unit> units = seededUnits(202, 4);
    auto socket = connectTo(server);
    socket->write(bytesOf(units));
    socket->disconnectFromHost();  // data, then FIN, possibly in one read
    ASSERT_TRUE(waitFor([&] { return server.disconnects == 1; }));
    expectSameUnits(server.received, units);
}

TEST(DemodLinkConnections, NewDemodulatorReplacesAndClosesTheOldOne) {
    Server server;
    const std::vector<Unit> units = seededUnits(203, 4);
    auto first = connectTo(server);
    writeAndSettle(server, *first, bytesOf({units[0]}), 1);
    writeAndSettle(server, *first, bytesOf({units[1]}).first(20), 1);

    auto second = connectTo(server);
    // The old connection is closed by the receiver, not merely forgotten.
    ASSERT_TRUE(waitFor([&] { return first->state() == QAbstractSocket::UnconnectedState; }));
    EXPECT_EQ(server.link.bytesDropped(), 20u);
    // The second connection's stream starts on a unit of its own, not after the 20 bytes.
    writeAndSettle(server, *second, bytesOf({units[2], units[3]}), 3);
    expectSameUnits(server.received, {units[0], units[2], units[3]});
    EXPECT_TRUE(server.link.hasClient());
}

TEST(DemodLinkConnections, ReconnectsManyTimesWithoutARestart) {
    Server server;
    const std::vector<Unit> units = seededUnits(204, 5);
    for (size_t i = 0; i < units.size(); ++i) {
        auto socket = connectTo(server);
        writeAndSettle(server, *socket, bytesOf({units[i]}), i + 1);
        socket->disconnectFromHost();
        ASSERT_TRUE(waitFor([&] { return server.disconnects == static_cast<int>(i + 1); }));
    }
    expectSameUnits(server.received, units);
    EXPECT_TRUE(server.link.isListening());
}

TEST(DemodLinkConnections, HandlerMayCloseTheLinkInTheMiddleOfARead) {
    Server server;
    QObject::connect(&server.link, &DemodLink::unitReceived, [&] { server.link.close(); });
    auto socket = connectTo(server);
    socket->write(bytesOf(seededUnits(205, 3)));
    socket->flush();
    ASSERT_TRUE(waitFor([&] { return !server.received.empty(); }));
    spinFor(20);
    EXPECT_EQ(server.received.size(), 1u);
    EXPECT_FALSE(server.link.isListening());
}

TEST(DemodLinkConnections, PauseAfterTheLastUnitIsSignalledOnce) {
    DemodLink link;
    int paused = 0;
    size_t unitsAtPause = 0;
    size_t units = 0;
    QObject::connect(&link, &DemodLink::unitReceived, [&] { ++units; });
    QObject::connect(&link, &DemodLink::unitsPaused, [&] {
        ++paused;
        unitsAtPause = units;
    });
    DemodLinkSettings settings;
    settings.port = 0;
    settings.idleMs = 50;
    ASSERT_TRUE(link.listen(settings).ok);
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, link.port());
    ASSERT_TRUE(socket.waitForConnected(5000));
    spinFor(100);
    EXPECT_EQ(paused, 0);  // no unit yet, so no pause to report
    socket.write(bytesOf(seededUnits(206, 2)));
    // Half a unit does not count as one.
    socket.write(bytesOf(seededUnits(207, 1)).first(20));
    ASSERT_TRUE(waitFor([&] { return paused == 1; }));
    EXPECT_EQ(unitsAtPause, 2u);
    spinFor(150);
    EXPECT_EQ(paused, 1);
}

// ---- opening the server ----

TEST(DemodLinkListen, PortInUseGivesTheSystemMessageAndTheReason) {
    Server first;
    DemodLink second;
    DemodLinkSettings settings;
    settings.port = first.link.port();
    const ListenResult r = second.listen(settings);
    EXPECT_FALSE(r.ok);
    EXPECT_FALSE(second.isListening());
    const QStringList lines = r.message.split('\n');
    ASSERT_EQ(lines.size(), 2);
    EXPECT_EQ(lines[0], "Couldn't create socket!");
    EXPECT_TRUE(lines[1].contains("in use")) << lines[1].toStdString();
    EXPECT_TRUE(lines[1].contains(QString::number(settings.port)));
}

TEST(DemodLinkListen, PrivilegedPortTextNamesBothWaysOut) {
    const QString text = listenFailureText(QAbstractSocket::SocketAccessError, "Permission denied",
                                           QHostAddress(QHostAddress::LocalHost), 999);
    EXPECT_TRUE(text.startsWith("Couldn't create socket!\n"));
    EXPECT_TRUE(text.contains("127.0.0.1 port 999"));
    EXPECT_TRUE(text.contains("1024"));
    // The command for this very program's file, on a line of its own to copy.
    const QStringList lines = text.split('\n');
    EXPECT_TRUE(lines.contains("    sudo setcap cap_net_bind_service=+ep " +
                               QCoreApplication::applicationFilePath()))
        << text.toStdString();
    EXPECT_TRUE(text.contains("--port N"));
    EXPECT_TRUE(text.contains("tonebox --rx-port N"));
    // Above 1024 a refusal is not about privileges; the system's reason is shown.
    const QString other = listenFailureText(QAbstractSocket::SocketAccessError, "Not allowed",
                                            QHostAddress(QHostAddress::LocalHost), 5000);
    EXPECT_TRUE(other.contains("Not allowed"));
    EXPECT_FALSE(other.contains("1024"));
}

}  // namespace
}  // namespace receiver
