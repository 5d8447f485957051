#pragma once

// picrx's end of the demodulator link: a TCP server on the window's event loop that hands on
// every 41-byte unit the demodulator writes.
//
// Transcript (D: the demodulator, a TCP client; R: picrx, listening on 127.0.0.1 port 999
// unless told otherwise; R never writes a byte to D; "quiet" is realignMs, 500 ms, without a
// byte while part of a unit is pending):
//   D connects                 R accepts it. A demodulator already connected is closed first,
//                              after its last whole units have been passed on: one demodulator
//                              at a time, and a restarted demodulator is taken back at once.
//   D: 41 bytes (one unit)     unitReceived(unit), once.
//   D: 20 bytes, then 21       unitReceived(those 41 bytes), once: reads are joined as long as
//                              the 21 bytes come before the stream is quiet.
//   D: 82 bytes in one read    unitReceived twice, in stream order.
//   D: 42 bytes, quiet, 41     unitReceived(the first 41 bytes); at the quiet moment
//                              unitBytesDropped(1, Pause): the stream realigns and the next
//                              read starts a unit, so unitReceived(the 41 bytes after).
//   D: 40 bytes, quiet, 41     unitBytesDropped(40, Pause), then unitReceived(the 41 bytes).
//   D: 42 bytes, then 41 with  unitReceived(the first 41); then units shifted by one byte until
//      no quiet between        the stream is next quiet: the count rules between pauses.
//   D: 30 bytes, then closes   unitBytesDropped(30, ConnectionEnd): a unit cut short by the end
//                              of its connection is dropped.
//   D closes                   clientDisconnected; R listens on for the next connection.
//   (2 s without a unit)       unitsPaused: the frame on the air has ended.
//
// The unit is a header block (0xFF "header" ...), a message block ("msg" ...) or a packet
// (its number 1..255, then 40 stream bytes); the link does not look inside it.

#include <QHostAddress>
#include <QObject>
#include <QString>
#include <QTcpServer>
#include <QTimer>
#include <cstdint>

#include "encoder/frame_format.h"
#include "receiver/unit_cutter.h"

class QTcpSocket;

namespace receiver {

inline constexpr quint16 kDemodPort = 999;
inline constexpr int kDemodListenBacklog = 5;  // connections the system queues before accept
// A pause this long after a unit ends the frame on the air: the receiver's finishFrame time.
inline constexpr int kDemodIdleMs = 2000;
// A partial unit pending this long without another byte is the tail of a write that was not
// whole units: it is dropped and the next read starts a unit. A demodulator that writes whole
// units leaves a partial unit pending only while TCP delivers the rest of a write it split: at
// once on loopback; on a network one lost segment holds the rest back for a retransmission
// timeout (200 ms at least on Linux) and a round trip. The receiver's own stalls do not count
// (the wait runs on its event loop; see realignAfterPause). 500 ms, about three units' air time
// (a unit takes 164 ms: 41 bytes at 250 B/s), waits that out with margin. Shorter risks cutting
// a unit still on its way; longer only delays the realignment, which already comes well inside
// the 2 s (kDemodIdleMs) that end a frame, so the frame after a pause starts on a unit.
inline constexpr int kDemodRealignMs = 500;

// Why bytes of a partial unit were dropped.
enum class UnitDrop {
    ConnectionEnd,  // the demodulator's connection ended, or another one replaced it
    Pause,          // the stream was quiet for realignMs in the middle of a unit
};

struct DemodLinkSettings {
    QHostAddress address{QHostAddress::LocalHost};  // where to listen; loopback by default
    quint16 port = kDemodPort;                      // 0 takes any free port (tests)
    int idleMs = kDemodIdleMs;        // unitsPaused after this long without a unit, ms, > 0
    int realignMs = kDemodRealignMs;  // a partial unit quiet this long is dropped, ms, > 0
};

struct ListenResult {
    bool ok = false;
    QString message;  // failure only: "Couldn't create socket!" and the reason on a second line
};

// The failure text for a server that could not listen: the system's message, then why. On
// Linux only privileged programs may listen below port 1024, so that case names the two ways
// out, on lines of their own: the setcap command for this program's file, and --port with the
// modem's matching option.
[[nodiscard]] QString listenFailureText(QAbstractSocket::SocketError error, const QString& reason,
                                        const QHostAddress& address, quint16 port);

// The line picrx --verbose and vistrel receive print for a drop: the bytes, why, and the
// totals so far (droppedInAll includes these bytes; realignments counts pauses that dropped).
[[nodiscard]] QString unitDropText(UnitDrop reason, int bytes, int realignMs, uint64_t droppedInAll,
                                   uint64_t realignments);

class DemodLink : public QObject {
    Q_OBJECT

public:
    explicit DemodLink(QObject* parent = nullptr);
    ~DemodLink() override;

    DemodLink(const DemodLink&) = delete;
    DemodLink& operator=(const DemodLink&) = delete;

    // Opens the server socket (closing one already open). On failure nothing listens and the
    // window goes on without a link.
    [[nodiscard]] ListenResult listen(const DemodLinkSettings& settings);
    // Closes the client connection and the server socket.
    void close();

    [[nodiscard]] bool isListening() const { return server_.isListening(); }
    [[nodiscard]] quint16 port() const { return server_.serverPort(); }  // the real one for 0
    [[nodiscard]] QHostAddress address() const { return server_.serverAddress(); }
    [[nodiscard]] bool hasClient() const { return client_ != nullptr; }
    [[nodiscard]] uint64_t unitsReceived() const { return cutter_.unitsCut(); }
    [[nodiscard]] uint64_t bytesDropped() const { return cutter_.bytesDropped(); }  // in all
    [[nodiscard]] uint64_t bytesDroppedAtPause() const { return cutter_.bytesDroppedAtPause(); }
    [[nodiscard]] uint64_t realignments() const { return cutter_.realignments(); }
    [[nodiscard]] int realignMs() const { return realign_.interval(); }
    [[nodiscard]] size_t pendingBytes() const { return cutter_.pendingBytes(); }  // of a unit

Q_SIGNALS:
    // A whole unit, each exactly once and in the order the demodulator wrote them. Handlers
    // may close the link; no further unit of that read is passed on then.
    void unitReceived(const encoder::Unit& unit);
    void clientConnected(const QString& peer);  // "address:port" of the demodulator
    void clientDisconnected();
    // No unit for idleMs since the last one; once per pause. The receiver ends the frame
    // there (a frame that stops short is then decoded with what arrived).
    void unitsPaused();
    // Bytes of a partial unit dropped (1..40), and why. Not sent when close() drops them.
    void unitBytesDropped(int bytes, UnitDrop reason);

private:
    void takeConnections();
    void readClient();
    void realignAfterPause();
    size_t dropClient();  // the bytes of a partial unit dropped with it

    QTcpServer server_;
    QTimer idle_;
    QTimer realign_;                // runs while a partial unit is pending, from the last byte read
    QTcpSocket* client_ = nullptr;  // owned; at most one demodulator at a time
    UnitCutter cutter_;
    uint64_t clientGeneration_ = 0;  // changes whenever client_ does, to stop a stale read loop
};

}  // namespace receiver
