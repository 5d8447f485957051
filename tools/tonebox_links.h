#pragma once

// tonebox's two TCP links, shared by the sound-card station and the simulated channel:
//
// - SenderPort: listens for the sender (pictx, vistrel send) and takes one at a time; a new
//   one replaces the old. Every message the stream parser finds is handed on.
// - ReceiverLink: a client of the receiver's demodulator link (picrx, vistrel receive), which
//   comes back by itself when the receiver is not (yet) there, trying less often the longer it
//   stays away. Units go out one write each, spaced so that two never arrive in one read.
//
// Both run on the event loop they live in and tell what happens through their callbacks.

#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>

#include "tools/tonebox.h"

namespace tools {

class SenderPort {
public:
    struct Handlers {
        std::function<void(const std::string&)> line;   // something to tell the user
        std::function<void(const StreamEvent&)> event;  // a message from the stream
        std::function<void()> afterRead;                // all of a read's messages are handed on
        std::function<void(const char* why)> gone;      // the sender left (its leftovers handed on)
    };
    explicit SenderPort(Handlers handlers);
    SenderPort(const SenderPort&) = delete;
    SenderPort& operator=(const SenderPort&) = delete;

    // Listens; false, with the reasons told, when it cannot. program: the file named in the
    // setcap line for a refused low port.
    bool listen(const std::string& address, int port, const std::string& program);
    // No more messages are handed on, and nobody more is listened for.
    void close();
    [[nodiscard]] bool senderConnected() const { return sender_ != nullptr; }
    [[nodiscard]] uint64_t framesSeen() const { return parser_.framesSeen(); }

private:
    void take();
    void read();
    void drop(const char* why);

    Handlers handlers_;
    QTcpServer server_;
    QTcpSocket* sender_ = nullptr;  // child of server_
    StreamParser parser_;
    bool closed_ = false;
};

class ReceiverLink {
public:
    struct Settings {
        std::string host = "127.0.0.1";
        int port = kReceiverPort;
        int firstRetryMs = kReconnectMs;
        int longestRetryMs = kReconnectMs;  // doubled after each failure up to this
        int gapMs = 0;                      // between two units; 0: each as it comes
    };
    ReceiverLink(Settings settings, std::function<void(const std::string&)> line);
    ReceiverLink(const ReceiverLink&) = delete;
    ReceiverLink& operator=(const ReceiverLink&) = delete;

    void connect();
    // Queues a unit (written at once when there is no gap); false when the receiver is not
    // connected and the unit goes nowhere.
    bool send(const encoder::Unit& unit);
    // Writes what is queued, then closes; no more reconnecting.
    void close();
    [[nodiscard]] bool connected() const {
        return socket_.state() == QAbstractSocket::ConnectedState;
    }
    [[nodiscard]] uint64_t delivered() const { return delivered_; }
    // Queued units lost when the connection failed.
    [[nodiscard]] uint64_t lostInQueue() const { return lostInQueue_; }
    [[nodiscard]] size_t queued() const { return queue_.size(); }
    [[nodiscard]] std::string address() const;
    [[nodiscard]] QTcpSocket& socket() { return socket_; }

private:
    void failed();
    void writeNext();

    Settings settings_;
    std::function<void(const std::string&)> line_;
    QTcpSocket socket_;
    QTimer retryTimer_;
    QTimer gapTimer_;
    int retryMs_;
    bool downReported_ = false;
    bool closed_ = false;
    std::deque<encoder::Unit> queue_;
    uint64_t delivered_ = 0;
    uint64_t lostInQueue_ = 0;
};

}  // namespace tools
