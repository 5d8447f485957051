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

DemodLink::DemodLink(QObject* parent) : QObject(parent) {
    server_.setListenBacklogSize(kDemodListenBacklog);
    connect(&server_, &QTcpServer::newConnection, this, &DemodLink::takeConnections);
    idle_.setSingleShot(true);
    connect(&idle_, &QTimer::timeout, this, &DemodLink::unitsPaused);
}

DemodLink::~DemodLink() { close(); }

ListenResult DemodLink::listen(const DemodLinkSettings& settings) {
    close();
    idle_.setInterval(settings.idleMs);
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
        dropClient();
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
            dropClient();
            Q_EMIT clientDisconnected();
        });
        Q_EMIT clientConnected(incoming->peerAddress().toString() + QStringLiteral(":") +
                               QString::number(incoming->peerPort()));
    }
}

void DemodLink::readClient() {
    if (client_ == nullptr) return;
    const QByteArray bytes = client_->readAll();
    const std::vector<encoder::Unit> units =
        cutter_.feed(std::span(reinterpret_cast<const uint8_t*>(bytes.constData()), bytes.size()));
    const uint64_t generation = clientGeneration_;
    if (!units.empty()) idle_.start();
    for (const encoder::Unit& unit : units) {
        Q_EMIT unitReceived(unit);
        if (generation != clientGeneration_) return;  // a handler closed or replaced the client
    }
}

void DemodLink::dropClient() {
    if (client_ == nullptr) return;
    QTcpSocket* old = client_;
    client_ = nullptr;
    ++clientGeneration_;
    cutter_.reset();
    // Closing emits disconnected at once; this link has already let the connection go.
    old->disconnect(this);
    old->close();
    old->deleteLater();
}

}  // namespace receiver
