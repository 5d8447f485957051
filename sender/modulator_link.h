#pragma once

// pictx's end of the modulator link: starts the modulator program and hands it commands and
// frame strings over TCP, on the window's event loop.
//
// Transcript (S: pictx, the TCP client; M: the modulator program listening on 127.0.0.1 port
// 998 unless told otherwise; M never writes a byte to S, and S never reads):
//   S starts "tonebox <window id>"    the id in decimal, then "--port N" when N is not 998; M
//                                     may ignore both
//   ... 1000 ms later S connects      opened(), or openFailed("Error opening port:  111")
//   S: "start"                        transmitter keyed: play what follows on the air
//   S: <frame string>                 41-byte units, 0xFF "header" first, one send per frame
//   S: "stop"                         transmitter unkeyed
//   S: "exit"                         M ends itself (sent on File > Exit and again on close)
// Commands are the bare ASCII letters: no terminator, length or line end. Frames are the raw
// bytes with nothing before or after. M tells the two apart by their first bytes.
//
// A send never blocks the event loop: the bytes are queued and handed to the socket a piece at
// a time as it takes them. A send that makes no progress for 5 seconds fails; the rest of that
// message is dropped and the next one goes on. Pieces are whole units, so the modulator sees a
// cut-short frame end on a unit boundary.
//
// The link comes back: a modulator that ends, restarts or was not running yet leaves the link
// down (sends refused, nothing queued) until the owner calls reopenIfDown(), which the window
// and "vistrel send" do once per frame period, when a frame is due. That starts one connection
// attempt without waiting for it. A frame sent while the attempt is under way is held (the
// newest one only) and goes out right after whatever the owner queues on opened(), so after a
// reconnect M hears, with the transmit switch on:
//   S connects again                  opened()
//   S: "start"                        M may have restarted unkeyed
//   S: <the frame that was due>
// and with it off, "stop" (M may still be keyed from before). An attempt that fails drops the
// held frame; the next frame period tries again.
#include <QHostAddress>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <cstdint>
#include <deque>
#include <span>
#include <string_view>

#include "sender/send_controller.h"

class QTcpSocket;

namespace sender {

inline constexpr quint16 kModulatorPort = 998;
inline constexpr int kModulatorStartWaitMs = 1000;  // the modulator listens within this time
inline constexpr int kSendTimeoutMs = 5000;         // longest wait for the socket to take data
inline constexpr int kConnectTimeoutMs = 5000;      // longest wait for the connection
// Bytes handed to the socket at a time: whole units, so that a failed send cuts a frame on a
// unit boundary.
inline constexpr qsizetype kSendPieceBytes = 41 * 100;

struct ModulatorLinkSettings {
    QString host = QStringLiteral("127.0.0.1");  // name or address of the modulator's computer
    quint16 port = kModulatorPort;
    QString program = QStringLiteral("tonebox");  // file name; see findModulatorProgram
    QStringList extraArguments;                   // after the window id and --port (tests)
    int startWaitMs = kModulatorStartWaitMs;
    int connectTimeoutMs = kConnectTimeoutMs;
    int sendTimeoutMs = kSendTimeoutMs;
};

// "Error opening port: " and the number, blank-led: " 111" for 111, "-1" for -1.
[[nodiscard]] QString openFailureText(int errorNumber);
// The system's error number (errno on Linux) for a socket error, for the failure text; -1 for
// an error that has none.
[[nodiscard]] int errorNumber(QAbstractSocket::SocketError error);

// The modulator program: name in the first of firstDirs that holds it as an executable, else
// on PATH; empty when there is none. The window passes its own executable's folder, so a
// modulator installed beside pictx wins over one elsewhere.
[[nodiscard]] QString findModulatorProgram(const QString& name, const QStringList& firstDirs);

// The modulator program's arguments: the window id in decimal, then "--port N" when the port is
// not 998 (a modulator started with the window id alone listens on 998), then extraArguments.
[[nodiscard]] QStringList modulatorArguments(quint64 windowId,
                                             const ModulatorLinkSettings& settings);

enum class LinkState {
    Down,        // not connected: sends are refused until reopenIfDown()
    Connecting,  // waiting for the modulator program to start, or for the connection
    Up,          // connected: sends are queued
};

// The window's line about the link, for port: "Modulator link: up, port 998".
[[nodiscard]] QString linkStateText(LinkState state, quint16 port);

struct StartResult {
    bool started = false;  // the program was found and started
    QString program;       // full path; empty when not found
};

class ModulatorLink : public QObject {
    Q_OBJECT

public:
    explicit ModulatorLink(ModulatorLinkSettings settings = {}, QObject* parent = nullptr);
    // Closes the link like close(); the owner sends "exit" first.
    ~ModulatorLink() override;

    ModulatorLink(const ModulatorLink&) = delete;
    ModulatorLink& operator=(const ModulatorLink&) = delete;

    // Start-up: starts the modulator program with the window id (looked up beside this
    // program's executable, then on PATH), and opens the link startWaitMs later without
    // holding up the event loop. A program that cannot be started has no message of its own:
    // the link then fails to open.
    StartResult startModulator(quint64 windowId);
    // Connects now: opened() or openFailed() follows. Closes a link already open.
    void open();
    // Hands queued commands to the socket, drops what is left of queued frames, and closes.
    // Without the event loop running afterwards, only what the system took at once goes out:
    // wait for queueDrained() first to deliver everything.
    void close();

    // A frame is due: when the link is down, starts one connection attempt and returns true;
    // otherwise does nothing. The caller calls it at most once per frame period.
    bool reopenIfDown();

    [[nodiscard]] bool isOpen() const;
    [[nodiscard]] LinkState state() const;
    // Connections that came up, the first included; attempts begun by reopenIfDown.
    [[nodiscard]] uint64_t timesOpened() const { return timesOpened_; }
    [[nodiscard]] uint64_t reopenAttempts() const { return reopenAttempts_; }
    [[nodiscard]] const ModulatorLinkSettings& settings() const { return settings_; }
    // Bytes queued but not yet taken by the system.
    [[nodiscard]] qint64 bytesQueued() const;
    [[nodiscard]] uint64_t sendsFailed() const { return sendsFailed_; }

    // Queue one command or one frame string; false, and nothing queued, when the link is not
    // open (callers ignore it, as the window does). A frame sent while the link is connecting
    // is held until it is up (see above), and counts as queued.
    bool sendCommand(ModulatorCommand command);
    bool sendFrame(std::span<const uint8_t> frame);

Q_SIGNALS:
    void opened();
    // message: "Error opening port: " and the number, for the window's message box;
    // reason: the system's words, for a log or the command line.
    void openFailed(const QString& message, const QString& reason);
    // A send made no progress for sendTimeoutMs; bytesDropped of it were never sent.
    void sendFailed(qint64 bytesDropped);
    void queueDrained();                 // every queued byte has been taken by the system
    void peerClosed();                   // the modulator closed the connection; the link is down
    void stateChanged(LinkState state);  // after each change, whatever the cause

private:
    struct Pending {
        QByteArray bytes;
        qsizetype handed = 0;  // bytes already written to the socket
        bool command = false;
    };

    bool enqueue(QByteArray bytes, bool command);
    void pump();
    void progressed();
    void timedOut();
    void failOpen(QAbstractSocket::SocketError error, const QString& reason);
    void dropSocket();
    void noteState();

    ModulatorLinkSettings settings_;
    QTcpSocket* socket_ = nullptr;  // owned
    bool connected_ = false;
    std::deque<Pending> queue_;
    QTimer connectTimer_;
    QTimer watchdog_;  // restarted by every bit of progress while bytes are pending
    QTimer startWait_;
    uint64_t sendsFailed_ = 0;
    uint64_t timesOpened_ = 0;
    uint64_t reopenAttempts_ = 0;
    QByteArray heldFrame_;                    // sent while connecting; goes out once the link is up
    LinkState shownState_ = LinkState::Down;  // as last announced by stateChanged
};

}  // namespace sender
