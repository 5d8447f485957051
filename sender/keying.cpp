#include "sender/keying.h"

#include <QSerialPort>
#include <QString>
#include <charconv>

#ifdef Q_OS_UNIX
#include <termios.h>
#endif

namespace sender {

std::optional<std::string> serialDeviceName(std::string_view field) {
    if (field.empty()) return std::nullopt;
    int number = 0;
    const auto [end, error] = std::from_chars(field.data(), field.data() + field.size(), number);
    if (error == std::errc() && end == field.data() + field.size() && field.front() != '-') {
        if (number < 1) return std::nullopt;
#ifdef Q_OS_WIN
        return "COM" + std::to_string(number);
#else
        return "/dev/ttyS" + std::to_string(number - 1);
#endif
    }
    return std::string(field);
}

ComportResult setComport(Keying& keying, std::string_view field) {
    ComportResult result;
    keying.close();
    const std::optional<std::string> device = serialDeviceName(field);
    if (device) result.device = *device;
    if (!device || !keying.open(*device)) {
        result.message = std::string(kComportFailureText);
        return result;
    }
    keying.setLines(kUnkeyedLines);
    result.ok = true;
    return result;
}

void keyTransmitter(Keying& keying, bool on) {
    static_cast<void>(keying.setLines(on ? kKeyedLines : kUnkeyedLines));
}

namespace {

// The driver drops DTR and RTS when the last descriptor of the port closes, including the one
// the kernel closes for a program that crashed. Most drivers start with this on, but an earlier
// program may have cleared it, and it would then stay cleared for us.
void hangUpOnClose([[maybe_unused]] QSerialPort& port) {
#ifdef Q_OS_UNIX
    const int fd = port.handle();
    termios tio{};
    if (fd < 0 || ::tcgetattr(fd, &tio) != 0) return;
    if ((tio.c_cflag & HUPCL) != 0) return;
    tio.c_cflag |= HUPCL;
    static_cast<void>(::tcsetattr(fd, TCSANOW, &tio));
#endif
}

}  // namespace

SerialKeying::SerialKeying() = default;

SerialKeying::~SerialKeying() { close(); }

bool SerialKeying::open(const std::string& device) {
    close();
    auto port = std::make_unique<QSerialPort>();
    port->setPortName(QString::fromStdString(device));
    // Hardware flow control would drive RTS itself; set before the open so the open applies it
    // and nothing stands between the open and dropping the lines.
    static_cast<void>(port->setFlowControl(QSerialPort::NoFlowControl));
    // Write-only: nothing is ever read, so nothing piles up in a read buffer.
    if (!port->open(QIODevice::WriteOnly)) {
        lastError_ = port->errorString().toStdString();
        return false;
    }
    // The driver raised DTR and RTS as the port opened, which may key the transmitter: drop
    // them before anything else.
    port_ = std::move(port);
    setLines(kUnkeyedLines);
    hangUpOnClose(*port_);
    lastError_.clear();
    return true;
}

void SerialKeying::close() {
    if (!port_) return;
    setLines(kUnkeyedLines);
    port_->close();
    port_.reset();
}

bool SerialKeying::isOpen() const { return port_ && port_->isOpen(); }

bool SerialKeying::setLines(KeyLines lines) {
    if (!isOpen()) return false;
    // Both are tried even when the first fails: a line left high would key the transmitter.
    const bool dtr = port_->setDataTerminalReady(lines.dtr);
    const bool rts = port_->setRequestToSend(lines.rts);
    return dtr && rts;
}

}  // namespace sender
