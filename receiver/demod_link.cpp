#include "receiver/demod_link.h"

#include <QCoreApplication>
#include <QTcpSocket>
#include <span>
#include <vector>

namespace receiver {

QString listenFailureText(QAbstractSocket::SocketError error, const QString& reason,
                          const QHostAddress& address, quint16 port) {
    QString text = QStringLiteral("Couldn't create socket!\n");
    const QString where = address.toString() + QStringLiteral(" port ") + QString::number(port);
    if (error == QAbstractSocket::SocketAccessError && port != 0 && port < 1024) {
        // The two ways out: the capability that the Debian package's installation grants, or
        // a port above 1023 on both ends of the link.
        const QString program = QCoreApplication::instance() != nullptr
                                    ? QCoreApplication::applicationFilePath()
                                    : QStringLiteral("picrx");
        text += QStringLiteral("Permission denied for ") + where +
                QStringLiteral(
                    ": ports below 1024 need privileges on Linux.\n"
                    "Either let this program open them (once, as root):\n"
                    "    sudo setcap cap_net_bind_service=+ep %1\n"
                    "or choose another port with --port N and give the modem the same "
                    "(tonebox --rx-port N).")
                    .arg(program);
    } else if (error == QAbstractSocket::AddressInUseError) {
        text += where + QStringLiteral(
                            " is already in use (is another receiver running?); "
                            "choose another with --port.");
    } else {
        text += reason + QStringLiteral(" (") + where + QStringLiteral(")");
    }
    return text;
}

QString unitDropText(UnitDrop reason, int bytes, int realignMs, uint64_t droppedInAll,
                     uint64_t realignments) {
    const auto count = [](uint64_t n, const char* one, const char* many) {
        return QString::number(n) + QLatin1Char(' ') + QLatin1String(n == 1 ? one : many);
    };
    const QString dropped = count(static_cast<uint64_t>(bytes), "byte", "bytes");
    const QString totals = count(droppedInAll, "byte", "bytes") + QStringLiteral(" dropped, ") +
                           count(realignments, "realignment", "realignments") +
                           QStringLiteral(" so far");
    if (reason == UnitDrop::Pause) {
        return QStringLiteral(
                   "no data for %1 ms inside a unit: dropped its %2, the next read "
                   "starts a unit (%3)")
            .arg(realignMs)
            .arg(dropped, totals);
    }
    return QStringLiteral("the connection ended inside a unit: dropped its %1 (%2)")
        .arg(dropped, totals);
}

DemodLink::DemodLink(QObject* parent) : QObject(parent) {
    server_.setListenBacklogSize(kDemodListenBacklog);
    connect(&server_, &QTcpServer::newConnection, this, &DemodLink::takeConnections);
    idle_.setSingleShot(true);
    connect(&idle_, &QTimer::timeout, this, &DemodLink::unitsPaused);
    realign_.setSingleShot(true);
    // Never early: a unit the demodulator is still writing must not be cut by a coarse timer.
    realign_.setTimerType(Qt::PreciseTimer);
    realign_.setInterval(kDemodRealignMs);
    connect(&realign_, &QTimer::timeout, this, &DemodLink::realignAfterPause);
}

DemodLink::~DemodLink() { close(); }

ListenResult DemodLink::listen(const DemodLinkSettings& settings) {
    close();
    idle_.setInterval(settings.idleMs);
    realign_.setInterval(settings.realignMs);
    ListenResult result;
    if (server_.listen(settings.address, settings.port)) {
        result.ok = true;
        return result;
    }
    result.message = listenFailureText(server_.serverError(), server_.errorString(),
                                       settings.address, settings.port);
    return result;
}

void DemodLink::close() {
    idle_.stop();
    dropClient();
    server_.close();
}

void DemodLink::takeConnections() {
    while (QTcpSocket* incoming = server_.nextPendingConnection()) {
        // The previous demodulator is done for; what it delivered in whole units still counts.
        readClient();
        const size_t dropped = dropClient();
        if (dropped > 0) {
            Q_EMIT unitBytesDropped(static_cast<int>(dropped), UnitDrop::ConnectionEnd);
        }
        if (!server_.isListening()) {  // a handler closed the link meanwhile
            incoming->close();
            incoming->deleteLater();
            return;
        }
        client_ = incoming;
        ++clientGeneration_;
        connect(incoming, &QTcpSocket::readyRead, this, &DemodLink::readClient);
        connect(incoming, &QTcpSocket::disconnected, this, [this, incoming] {
            if (incoming != client_) return;
            readClient();
            const size_t dropped = dropClient();
            if (dropped > 0) {
                Q_EMIT unitBytesDropped(static_cast<int>(dropped), UnitDrop::ConnectionEnd);
            }
            Q_EMIT clientDisconnected();
        });
        Q_EMIT clientConnected(incoming->peerAddress().toString() + QStringLiteral(":") +
                               QString::number(incoming->peerPort()));
    }
}

void DemodLink::readClient() {
    if (client_ == nullptr) return;
    const QByteArray bytes = client_->readAll();
    if (bytes.isEmpty()) return;
    const std::vector<encoder::Unit> units =
        cutter_.feed(std::span(reinterpret_cast<const uint8_t*>(bytes.constData()), bytes.size()));
    const uint64_t generation = clientGeneration_;
    if (!units.empty()) idle_.start();
    // The quiet time that realigns counts from the last byte, and only while it matters.
    if (cutter_.pendingBytes() > 0) {
        realign_.start();
    } else {
        realign_.stop();
    }
    for (const encoder::Unit& unit : units) {
        Q_EMIT unitReceived(unit);
        if (generation != clientGeneration_) return;  // a handler closed or replaced the client
    }
}

void DemodLink::realignAfterPause() {
    // The wait is measured on this loop, not between reads: a loop that was busy elsewhere (a
    // slow disk, a stopped process) meets this timer and the bytes that reached the system
    // meanwhile at once. Qt's event dispatchers hand over ready sockets before they fire due
    // timers, so readClient has restarted the wait by now and the unit is not cut: the quiet
    // was the receiver's (BytesThatCameWhileTheReceiverWasBusyAreNoPause holds Qt to that).
    if (client_ == nullptr) return;
    const size_t dropped = cutter_.realign();
    if (dropped > 0) Q_EMIT unitBytesDropped(static_cast<int>(dropped), UnitDrop::Pause);
}

size_t DemodLink::dropClient() {
    if (client_ == nullptr) return 0;
    QTcpSocket* old = client_;
    client_ = nullptr;
    ++clientGeneration_;
    realign_.stop();
    const size_t dropped = cutter_.reset();
    // Closing emits disconnected at once; this link has already let the connection go.
    old->disconnect(this);
    old->close();
    old->deleteLater();
    return dropped;
}

}  // namespace receiver
