#include "tools/tonebox_links.h"

#include <QHostAddress>
#include <algorithm>

namespace tools {

namespace {

constexpr size_t kMaxQueued = 512;  // units waiting for their turn to be written

std::string where(const QString& host, int port) {
    return host.toStdString() + ":" + std::to_string(port);
}

}  // namespace

// --- the sender's port ---------------------------------------------------------------------

SenderPort::SenderPort(Handlers handlers) : handlers_(std::move(handlers)) {
    QObject::connect(&server_, &QTcpServer::newConnection, [this] { take(); });
}

bool SenderPort::listen(const std::string& address, int port, const std::string& program) {
    const QHostAddress host(QString::fromStdString(address));
    if (host.isNull()) {
        handlers_.line("cannot listen on '" + address + "': not an address");
        return false;
    }
    if (!server_.listen(host, static_cast<quint16>(port))) {
        for (const std::string& line : listenFailureLines(
                 where(host.toString(), port), server_.errorString().toStdString(), port,
                 server_.serverError() == QAbstractSocket::SocketAccessError, program)) {
            handlers_.line(line);
        }
        return false;
    }
    handlers_.line("listening for the sender on " + where(host.toString(), server_.serverPort()));
    return true;
}

void SenderPort::close() {
    closed_ = true;
    server_.close();
}

void SenderPort::take() {
    while (QTcpSocket* incoming = server_.nextPendingConnection()) {
        if (sender_ != nullptr) {
            handlers_.line("a new sender connected; closing the old connection");
            drop("another sender took over");
        }
        sender_ = incoming;
        QObject::connect(incoming, &QTcpSocket::readyRead, [this, incoming] {
            if (incoming == sender_) read();
        });
        QObject::connect(incoming, &QTcpSocket::disconnected, [this, incoming] {
            if (incoming != sender_) return;
            read();
            if (closed_) return;
            handlers_.line("sender disconnected");
            drop("the sender's link was lost");
        });
        handlers_.line("sender connected from " +
                       where(incoming->peerAddress().toString(), incoming->peerPort()));
    }
}

void SenderPort::read() {
    while (sender_ != nullptr && !closed_ && sender_->bytesAvailable() > 0) {
        const QByteArray bytes = sender_->readAll();
        const std::vector<StreamEvent> events = parser_.feed(
            std::span(reinterpret_cast<const uint8_t*>(bytes.constData()), bytes.size()));
        for (const StreamEvent& e : events) {
            handlers_.event(e);
            if (closed_) return;
        }
    }
    if (!closed_ && handlers_.afterRead) handlers_.afterRead();
}

void SenderPort::drop(const char* why) {
    if (sender_ == nullptr) return;
    QTcpSocket* old = sender_;
    sender_ = nullptr;
    for (const StreamEvent& e : parser_.reset()) handlers_.event(e);
    old->disconnect();
    old->close();
    old->deleteLater();
    if (handlers_.gone) handlers_.gone(why);
}

// --- the receiver's link -------------------------------------------------------------------

ReceiverLink::ReceiverLink(Settings settings, std::function<void(const std::string&)> line)
    : settings_(std::move(settings)), line_(std::move(line)), retryMs_(settings_.firstRetryMs) {
    retryTimer_.setSingleShot(true);
    QObject::connect(&retryTimer_, &QTimer::timeout, [this] { connect(); });
    gapTimer_.setTimerType(Qt::PreciseTimer);
    QObject::connect(&gapTimer_, &QTimer::timeout, [this] { writeNext(); });
    QObject::connect(&socket_, &QTcpSocket::connected, [this] {
        downReported_ = false;
        retryMs_ = settings_.firstRetryMs;
        // Each unit leaves in a segment of its own, as a demodulator writes it.
        socket_.setSocketOption(QAbstractSocket::LowDelayOption, 1);
        line_("receiver connected at " + address());
    });
    QObject::connect(&socket_, &QTcpSocket::disconnected, [this] {
        if (closed_) return;
        line_("receiver went away; reconnecting");
        retryTimer_.start(retryMs_);
    });
    QObject::connect(&socket_, &QTcpSocket::errorOccurred,
                     [this](QAbstractSocket::SocketError) { failed(); });
}

std::string ReceiverLink::address() const {
    return settings_.host + ":" + std::to_string(settings_.port);
}

void ReceiverLink::connect() {
    if (closed_ || socket_.state() != QAbstractSocket::UnconnectedState) return;
    socket_.connectToHost(QString::fromStdString(settings_.host),
                          static_cast<quint16>(settings_.port));
}

void ReceiverLink::failed() {
    if (closed_ || connected()) return;
    if (!downReported_) {
        const bool fixed = settings_.longestRetryMs <= settings_.firstRetryMs;
        line_("receiver not reachable at " + address() + ": " +
              socket_.errorString().toStdString() +
              (fixed ? "; trying again every " + std::to_string(retryMs_) + " ms"
                     : std::string("; trying again, less often the longer it stays away")));
        downReported_ = true;
    }
    socket_.abort();
    lostInQueue_ += queue_.size();
    queue_.clear();
    retryTimer_.start(retryMs_);
    retryMs_ = std::min(retryMs_ * 2, settings_.longestRetryMs);
}

bool ReceiverLink::send(const encoder::Unit& unit) {
    if (!connected()) return false;
    if (settings_.gapMs <= 0) {
        queue_.push_back(unit);
        writeNext();
        return true;
    }
    if (queue_.size() >= kMaxQueued) {
        queue_.pop_front();
        ++lostInQueue_;
    }
    queue_.push_back(unit);
    if (!gapTimer_.isActive()) {
        writeNext();
        if (!queue_.empty()) gapTimer_.start(settings_.gapMs);
    }
    return true;
}

void ReceiverLink::writeNext() {
    if (queue_.empty() || !connected()) {
        gapTimer_.stop();
        return;
    }
    const encoder::Unit unit = queue_.front();
    queue_.pop_front();
    socket_.write(reinterpret_cast<const char*>(unit.data()), encoder::kUnitBytes);
    socket_.flush();
    ++delivered_;
    if (queue_.empty()) gapTimer_.stop();
}

void ReceiverLink::close() {
    // What is queued still goes: the receiver gets the units already demodulated.
    while (!queue_.empty() && connected()) writeNext();
    closed_ = true;
    retryTimer_.stop();
    gapTimer_.stop();
    if (connected()) socket_.flush();
    socket_.disconnectFromHost();
}

}  // namespace tools
