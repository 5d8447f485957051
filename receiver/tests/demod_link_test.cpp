#include "receiver/demod_link.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTcpSocket>
#include <chrono>
#include <memory>
#include <thread>
#include <utility>
#include <vector>

#include "encoder/encode_frame.h"
#include "encoder/test_pictures.h"
#include "encoder/tests/seeded_bytes.h"
#include "receiver/receive_packet.h"
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
    std::vector<std::pair<int, UnitDrop>> drops;  // unitBytesDropped, in order
    int connects = 0;
    int disconnects = 0;

    explicit Server(int realignMs = kDemodRealignMs) {
        QObject::connect(&link, &DemodLink::unitReceived,
                         [this](const Unit& u) { received.push_back(u); });
        QObject::connect(&link, &DemodLink::clientConnected, [this] { ++connects; });
        QObject::connect(&link, &DemodLink::clientDisconnected, [this] { ++disconnects; });
        QObject::connect(&link, &DemodLink::unitBytesDropped,
                         [this](int bytes, UnitDrop why) { drops.emplace_back(bytes, why); });
        DemodLinkSettings settings;
        settings.port = 0;
        settings.realignMs = realignMs;
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
    EXPECT_EQ(server.drops, (std::vector<std::pair<int, UnitDrop>>{{30, UnitDrop::ConnectionEnd}}));
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
    EXPECT_EQ(server.drops, (std::vector<std::pair<int, UnitDrop>>{{20, UnitDrop::ConnectionEnd}}));
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

// ---- realigning after a pause in the middle of a unit ----

constexpr int kShortRealignMs = 100;  // the realignment wait in these tests, for speed

// Frames of three different 64 x 64 pictures and the previews a receiver must show for them.
struct Frames {
    std::vector<QByteArray> strings;
    std::vector<encoder::Picture> previews;
};

Frames encodeThreeFrames() {
    encoder::EncoderSettings settings;
    settings.frameSize = 64;
    settings.callsign = "TEST ";
    settings.transmit = true;  // each frame counted, so the receiver tells them apart
    encoder::EncoderState state;
    Frames frames;
    for (const encoder::SourcePicture& source :
         {encoder::testCard(), encoder::zonePlate(), encoder::gradient()}) {
        const encoder::EncodeResult r =
            encoder::ENCODEFRAME(settings, source, state, encoder::kEncodeSend);
        EXPECT_EQ(r.error, encoder::EncodeError::None);
        frames.strings.push_back(QByteArray(reinterpret_cast<const char*>(r.frame.data()),
                                            static_cast<qsizetype>(r.frame.size())));
        frames.previews.push_back(r.preview);
    }
    return frames;
}

// A demodulator writes one unit with a stray byte after it (42 bytes) or one cut short (40),
// falls quiet, then writes three whole frames: the receiver decodes all three. Counting from the
// start of the connection alone, every unit after the odd write was shifted and none decoded.
TEST(DemodLinkRealignment, OddWriteThenAPauseThenWholeFramesDecode) {
    const Frames frames = encodeThreeFrames();
    for (const int odd : {42, 40}) {
        SCOPED_TRACE(testing::Message() << "odd write of " << odd << " bytes");
        Server server(kShortRealignMs);
        receiver::ReceiverState state;
        std::vector<encoder::Picture> pictures;
        QObject::connect(&server.link, &DemodLink::unitReceived, [&](const Unit& unit) {
            receiver::ReceiveUpdate up = receiver::RECEIVEPACKET(state, unit);
            if (up.picture) pictures.push_back(std::move(up.picture->picture));
        });
        auto socket = connectTo(server);
        QByteArray write = frames.strings[0].first(kUnitBytes);  // a header block
        write.resize(odd, '\x00');
        socket->write(write);
        socket->flush();
        spinFor(3 * kShortRealignMs);
        for (const QByteArray& frame : frames.strings) {
            for (qsizetype at = 0; at < frame.size(); at += kUnitBytes) {
                socket->write(frame.sliced(at, kUnitBytes));
            }
        }
        socket->flush();
        ASSERT_TRUE(waitFor([&] { return pictures.size() == frames.previews.size(); }))
            << pictures.size() << " of 3 frames decoded";
        for (size_t i = 0; i < pictures.size(); ++i) {
            EXPECT_EQ(pictures[i].pixels, frames.previews[i].pixels) << "frame " << i + 1;
        }
        EXPECT_EQ(server.drops,
                  (std::vector<std::pair<int, UnitDrop>>{{odd % kUnitBytes, UnitDrop::Pause}}));
        EXPECT_EQ(server.link.realignments(), 1u);
        EXPECT_EQ(server.link.bytesDroppedAtPause(), static_cast<uint64_t>(odd % kUnitBytes));
    }
}

// The real timer: a partial unit stays pending while the stream is quiet for less than the
// wait, and is dropped once, soon after the wait; whole units leave nothing to drop.
TEST(DemodLinkRealignment, PartialUnitIsDroppedAfterTheWaitAndNotBefore) {
    const int realignMs = 300;
    Server server(realignMs);
    auto socket = connectTo(server);
    const std::vector<Unit> units = seededUnits(301, 2);
    writeAndSettle(server, *socket, bytesOf({units[0]}), 1);
    spinFor(2 * realignMs);
    EXPECT_TRUE(server.drops.empty()) << "a pause after whole units drops nothing";

    // The drop's own time, stamped when it happens: a loaded machine may stall this test's
    // loop, but never makes the link drop early.
    QElapsedTimer quiet;
    qint64 droppedAtMs = -1;
    QObject::connect(&server.link, &DemodLink::unitBytesDropped, [&] {
        if (droppedAtMs < 0) droppedAtMs = quiet.elapsed();
    });
    socket->write(bytesOf({units[1]}).first(25));
    socket->flush();
    quiet.start();
    ASSERT_TRUE(waitFor([&] { return server.link.pendingBytes() == 25 || !server.drops.empty(); }));
    ASSERT_TRUE(waitFor([&] { return !server.drops.empty(); }));
    // Never early; a millisecond for the two clocks' rounding.
    EXPECT_GE(droppedAtMs, realignMs - 1);
    EXPECT_EQ(server.drops[0], std::make_pair(25, UnitDrop::Pause));
    EXPECT_EQ(server.link.pendingBytes(), 0u);
    spinFor(2 * realignMs);
    EXPECT_EQ(server.drops.size(), 1u);
}

// Garbage between whole units, then a pause: every whole unit after the pause arrives intact,
// and garbage that happens to fill whole units is passed on (the receiver's checks judge it).
TEST(DemodLinkRealignment, GarbageThenAPauseThenWholeUnitsArriveIntact) {
    Server server(kShortRealignMs);
    auto socket = connectTo(server);
    std::vector<Unit> want;
    uint64_t seed = 400;
    for (const size_t length : {1u, 20u, 40u, 41u, 42u, 81u, 82u}) {
        SCOPED_TRACE(testing::Message() << length << " bytes of garbage");
        const std::vector<Unit> before = seededUnits(++seed, 2);
        const std::vector<Unit> after = seededUnits(++seed, 2);
        const std::vector<uint8_t> garbage = encoder::testing_support::seededBytes(seed, length);
        const size_t dropsBefore = server.drops.size();
        socket->write(bytesOf(before));
        socket->write(reinterpret_cast<const char*>(garbage.data()),
                      static_cast<qsizetype>(length));
        socket->flush();
        want.insert(want.end(), before.begin(), before.end());
        for (size_t at = 0; at + kUnitBytes <= length; at += kUnitBytes) {
            Unit u;
            std::copy_n(garbage.begin() + static_cast<std::ptrdiff_t>(at), kUnitBytes, u.begin());
            want.push_back(u);
        }
        const bool partial = length % kUnitBytes != 0;
        ASSERT_TRUE(waitFor([&] {
            return server.received.size() == want.size() &&
                   server.drops.size() == dropsBefore + (partial ? 1 : 0);
        }));
        if (partial) {
            EXPECT_EQ(server.drops.back(),
                      std::make_pair(static_cast<int>(length % kUnitBytes), UnitDrop::Pause));
        }
        writeAndSettle(server, *socket, bytesOf(after), want.size() + after.size());
        want.insert(want.end(), after.begin(), after.end());
        expectSameUnits(server.received, want);
    }
}

// Without a pause the count rules: the units after an odd write come out shifted until the
// stream is next quiet; from then on they arrive intact.
TEST(DemodLinkRealignment, OddWriteWithoutAPauseShiftsUnitsUntilTheNextPause) {
    Server server(kShortRealignMs);
    auto socket = connectTo(server);
    const std::vector<Unit> first = seededUnits(501, 1);
    const std::vector<Unit> during = seededUnits(502, 3);
    const std::vector<Unit> after = seededUnits(503, 3);
    const QByteArray odd = bytesOf(first) + QByteArray(1, '\x00');  // 42 bytes
    socket->write(odd + bytesOf(during));  // no pause between: one read or several
    socket->flush();
    ASSERT_TRUE(waitFor([&] { return server.received.size() == 1 + during.size(); }));
    EXPECT_EQ(server.received[0], first[0]);
    for (size_t i = 1; i < server.received.size(); ++i) {
        EXPECT_EQ(std::count(during.begin(), during.end(), server.received[i]), 0)
            << "unit " << i << " arrived whole though the stream is shifted";
    }
    ASSERT_TRUE(waitFor([&] { return !server.drops.empty(); }));
    EXPECT_EQ(server.drops[0], std::make_pair(1, UnitDrop::Pause));  // the shifted tail
    writeAndSettle(server, *socket, bytesOf(after), 1 + during.size() + after.size());
    expectSameUnits(std::vector<Unit>(server.received.end() - 3, server.received.end()), after);
}

// A unit that TCP (or a demodulator) delivers in pieces is not cut, however long the whole unit
// takes, as long as no gap between pieces reaches the wait: the wait counts from the last byte.
TEST(DemodLinkRealignment, UnitInPiecesWithShortGapsIsNotCut) {
    const int realignMs = 250;
    Server server(realignMs);
    auto socket = connectTo(server);
    const std::vector<Unit> units = seededUnits(601, 2);
    const QByteArray unit = bytesOf({units[0]});
    QElapsedTimer whole;
    whole.start();
    for (qsizetype at = 0; at < unit.size(); at += 9) {
        writeAndSettle(server, *socket, unit.sliced(at, std::min<qsizetype>(9, unit.size() - at)),
                       at + 9 >= unit.size() ? 1 : 0);
        if (at + 9 < unit.size()) spinFor(realignMs / 3);
    }
    EXPECT_GT(whole.elapsed(), realignMs) << "the pieces came too fast to test anything";
    writeAndSettle(server, *socket, bytesOf({units[1]}), 2);
    expectSameUnits(server.received, units);
    EXPECT_TRUE(server.drops.empty());
}

// A receiver that was busy (a slow disk, a stopped process) for longer than the wait, while the
// rest of the unit reached the system, does not cut the unit: that quiet was its own.
TEST(DemodLinkRealignment, BytesThatCameWhileTheReceiverWasBusyAreNoPause) {
    Server server(kShortRealignMs);
    auto socket = connectTo(server);
    const std::vector<Unit> units = seededUnits(701, 2);
    const QByteArray bytes = bytesOf(units);
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(testing::Message() << "round " << round);
        server.received.clear();
        writeAndSettle(server, *socket, bytes.first(20), 0);
        socket->write(bytes.sliced(20));
        socket->flush();  // into the system's buffers now, but this loop is not running
        std::this_thread::sleep_for(std::chrono::milliseconds(3 * kShortRealignMs));
        ASSERT_TRUE(waitFor([&] { return server.received.size() == 2; }));
        spinFor(2 * kShortRealignMs);
        expectSameUnits(server.received, units);
        EXPECT_TRUE(server.drops.empty());
    }
}

TEST(DemodLinkRealignment, DropTextsNameTheBytesTheReasonAndTheTotals) {
    EXPECT_EQ(unitDropText(UnitDrop::Pause, 1, 500, 1, 1).toStdString(),
              "no data for 500 ms inside a unit: dropped its 1 byte, the next read starts a unit "
              "(1 byte dropped, 1 realignment so far)");
    EXPECT_EQ(unitDropText(UnitDrop::ConnectionEnd, 30, 500, 71, 2).toStdString(),
              "the connection ended inside a unit: dropped its 30 bytes (71 bytes dropped, 2 "
              "realignments so far)");
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
