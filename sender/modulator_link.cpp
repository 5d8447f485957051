#include "sender/modulator_link.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpSocket>
#include <algorithm>
#include <cerrno>
#include <utility>

namespace sender {

QString openFailureText(int number) {
    // Blank-led decimal: a blank where a negative number has its minus sign.
    return QStringLiteral("Error opening port: ") +
           (number >= 0 ? QStringLiteral(" ") : QString()) + QString::number(number);
}

int errorNumber(QAbstractSocket::SocketError error) {
    // Qt reports its own enumeration (in which a refused connection is 0); the user and a
    // search engine know the system's numbers better.
    switch (error) {
        case QAbstractSocket::ConnectionRefusedError:
            return ECONNREFUSED;
        case QAbstractSocket::RemoteHostClosedError:
            return ECONNRESET;
        case QAbstractSocket::HostNotFoundError:
            return EHOSTUNREACH;
        case QAbstractSocket::SocketAccessError:
            return EACCES;
        case QAbstractSocket::SocketResourceError:
            return EMFILE;
        case QAbstractSocket::SocketTimeoutError:
            return ETIMEDOUT;
        case QAbstractSocket::NetworkError:
            return ENETUNREACH;
        case QAbstractSocket::AddressInUseError:
            return EADDRINUSE;
        case QAbstractSocket::SocketAddressNotAvailableError:
            return EADDRNOTAVAIL;
        case QAbstractSocket::UnsupportedSocketOperationError:
            return EAFNOSUPPORT;
        default:
            return -1;
    }
}

QString findModulatorProgram(const QString& name, const QStringList& firstDirs) {
    if (name.contains(QLatin1Char('/'))) {
        const QFileInfo file(name);
        return file.isFile() && file.isExecutable() ? file.absoluteFilePath() : QString();
    }
    if (!firstDirs.isEmpty()) {
        const QString found = QStandardPaths::findExecutable(name, firstDirs);
        if (!found.isEmpty()) return found;
    }
    return QStandardPaths::findExecutable(name);
}

QStringList modulatorArguments(quint64 windowId, const ModulatorLinkSettings& settings) {
    QStringList arguments{QString::number(windowId)};
    // Another modem put in tonebox's place may know no options at all: it is given the window
    // id alone unless the port differs from the one every modulator listens on.
    if (settings.port != kModulatorPort) {
        arguments << QStringLiteral("--port") << QString::number(settings.port);
    }
    return arguments + settings.extraArguments;
}

QString linkStateText(LinkState state, quint16 port) {
    switch (state) {
        case LinkState::Up:
            return QStringLiteral("Modulator link: up, port %1").arg(port);
        case LinkState::Connecting:
            return QStringLiteral("Modulator link: connecting to port %1").arg(port);
        case LinkState::Down:
            break;
    }
    return QStringLiteral("Modulator link: down, retried each frame");
}

ModulatorLink::ModulatorLink(ModulatorLinkSettings settings, QObject* parent)
    : QObject(parent), settings_(std::move(settings)) {
    startWait_.setSingleShot(true);
    connect(&startWait_, &QTimer::timeout, this, &ModulatorLink::open);
    connectTimer_.setSingleShot(true);
    connect(&connectTimer_, &QTimer::timeout, this, [this] {
        failOpen(QAbstractSocket::SocketTimeoutError, QStringLiteral("Connection timed out"));
    });
    watchdog_.setSingleShot(true);
    connect(&watchdog_, &QTimer::timeout, this, &ModulatorLink::timedOut);
}

ModulatorLink::~ModulatorLink() {
    // The owner's handlers may already be gone; "exit" still goes out.
    blockSignals(true);
    close();
}

StartResult ModulatorLink::startModulator(quint64 windowId) {
    StartResult result;
    result.program =
        findModulatorProgram(settings_.program, {QCoreApplication::applicationDirPath()});
    if (!result.program.isEmpty()) {
        result.started =
            QProcess::startDetached(result.program, modulatorArguments(windowId, settings_));
    }
    startWait_.start(settings_.startWaitMs);
    noteState();
    return result;
}

void ModulatorLink::open() {
    startWait_.stop();
    queue_.clear();
    dropSocket();
    socket_ = new QTcpSocket(this);
    QTcpSocket* socket = socket_;
    connect(socket, &QTcpSocket::connected, this, [this] {
        connectTimer_.stop();
        connected_ = true;
        ++timesOpened_;
        noteState();
        // The owner's commands ("start") go first, then the frame that waited for the link.
        Q_EMIT opened();
        if (!heldFrame_.isEmpty() && isOpen()) {
            queue_.push_back(Pending{std::exchange(heldFrame_, {}), 0, false});
        }
        pump();
    });
    connect(socket, &QTcpSocket::errorOccurred, this,
            [this, socket](QAbstractSocket::SocketError error) {
                if (socket == socket_ && !connected_) failOpen(error, socket->errorString());
            });
    connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
        if (socket != socket_) return;
        queue_.clear();
        watchdog_.stop();
        dropSocket();
        noteState();
        Q_EMIT peerClosed();
    });
    connect(socket, &QTcpSocket::bytesWritten, this, &ModulatorLink::progressed);
    connectTimer_.start(settings_.connectTimeoutMs);
    noteState();
    socket->connectToHost(settings_.host, settings_.port);
}

bool ModulatorLink::reopenIfDown() {
    if (state() != LinkState::Down) return false;
    ++reopenAttempts_;
    open();
    return true;
}

void ModulatorLink::close() {
    startWait_.stop();
    connectTimer_.stop();
    watchdog_.stop();
    if (socket_ != nullptr && connected_) {
        // "exit" must still reach the modulator; the rest of a frame cut short is harmless, as
        // it ends on a unit boundary.
        for (const Pending& p : queue_) {
            if (p.command && p.handed == 0) socket_->write(p.bytes);
        }
        socket_->flush();
    }
    queue_.clear();
    heldFrame_.clear();
    dropSocket();
    noteState();
}

bool ModulatorLink::isOpen() const { return socket_ != nullptr && connected_; }

LinkState ModulatorLink::state() const {
    if (isOpen()) return LinkState::Up;
    if (socket_ != nullptr || startWait_.isActive()) return LinkState::Connecting;
    return LinkState::Down;
}

qint64 ModulatorLink::bytesQueued() const {
    qint64 total = socket_ != nullptr ? socket_->bytesToWrite() : 0;
    for (const Pending& p : queue_) total += p.bytes.size() - p.handed;
    return total;
}

bool ModulatorLink::sendCommand(ModulatorCommand command) {
    const std::string_view text = commandText(command);
    return enqueue(QByteArray(text.data(), static_cast<qsizetype>(text.size())), true);
}

bool ModulatorLink::sendFrame(std::span<const uint8_t> frame) {
    QByteArray bytes(reinterpret_cast<const char*>(frame.data()),
                     static_cast<qsizetype>(frame.size()));
    if (state() == LinkState::Connecting) {
        // Only the newest: an older frame would reach the air after its period had passed.
        heldFrame_ = std::move(bytes);
        return true;
    }
    return enqueue(std::move(bytes), false);
}

bool ModulatorLink::enqueue(QByteArray bytes, bool command) {
    if (!isOpen()) return false;
    if (bytes.isEmpty()) return true;
    queue_.push_back(Pending{std::move(bytes), 0, command});
    pump();
    return true;
}

void ModulatorLink::pump() {
    if (!isOpen()) return;
    // Only a piece or two waits in the socket's own buffer; the rest stays here, where a send
    // that times out can still be taken back.
    while (!queue_.empty() && socket_->bytesToWrite() < kSendPieceBytes) {
        Pending& head = queue_.front();
        const qsizetype piece = std::min(kSendPieceBytes, head.bytes.size() - head.handed);
        if (socket_->write(head.bytes.constData() + head.handed, piece) != piece) break;
        head.handed += piece;
        if (head.handed == head.bytes.size()) queue_.pop_front();
    }
    if (bytesQueued() == 0) {
        watchdog_.stop();
        Q_EMIT queueDrained();
    } else if (!watchdog_.isActive()) {
        watchdog_.start(settings_.sendTimeoutMs);
    }
}

void ModulatorLink::progressed() {
    watchdog_.stop();
    pump();
}

void ModulatorLink::timedOut() {
    if (!isOpen() || queue_.empty()) return;  // only pieces the socket already holds are left
    const Pending& head = queue_.front();
    const qint64 dropped = head.bytes.size() - head.handed;
    queue_.pop_front();
    ++sendsFailed_;
    Q_EMIT sendFailed(dropped);
    if (isOpen() && bytesQueued() > 0) watchdog_.start(settings_.sendTimeoutMs);
}

void ModulatorLink::failOpen(QAbstractSocket::SocketError error, const QString& reason) {
    connectTimer_.stop();
    heldFrame_.clear();
    dropSocket();
    noteState();
    Q_EMIT openFailed(openFailureText(errorNumber(error)), reason);
}

void ModulatorLink::dropSocket() {
    connected_ = false;
    if (socket_ == nullptr) return;
    QTcpSocket* old = std::exchange(socket_, nullptr);
    old->disconnect(this);
    old->close();
    // Possibly inside one of the socket's own signals.
    old->deleteLater();
}

void ModulatorLink::noteState() {
    const LinkState now = state();
    if (now == shownState_) return;
    shownState_ = now;
    Q_EMIT stateChanged(now);
}

}  // namespace sender
