#pragma once

// Transmitter keying: the DTR and RTS lines of a serial port are the transmitter's
// push-to-talk. No data is ever written to or read from the port.
//
//   after "Set comport"    DTR low,    RTS low
//   "Turn On" (on)         DTR raised, RTS high   -> transmitter keyed
//   "Turn On" (off)        DTR low,    RTS low
//
// The transmitter must never stay keyed by accident: closing the port, destroying the keying
// and "Set comport" drop both lines before anything else, and on POSIX the port is opened with
// hang-up on close, so the driver drops them even when the program dies without cleaning up.
// Opening a port on Linux raises both lines for a moment before they can be set low; a
// transmitter that must not key even briefly needs its interface to ignore that.

#include <memory>
#include <optional>
#include <string>
#include <string_view>

class QSerialPort;

namespace sender {

struct KeyLines {
    bool dtr = false;  // true: raised
    bool rts = false;  // true: high
    bool operator==(const KeyLines&) const = default;
};
inline constexpr KeyLines kKeyedLines{true, true};
inline constexpr KeyLines kUnkeyedLines{false, false};

inline constexpr std::string_view kComportFailureText =
    "Comport not yet selected or already open by another application";
inline constexpr std::string_view kComportCaption = "Comport";

// The serial port the keying drives. The window holds a SerialKeying; tests hold a fake that
// records what it is told.
class Keying {
public:
    virtual ~Keying() = default;
    // Opens a device by its system name; false (and closed) when it cannot be opened.
    [[nodiscard]] virtual bool open(const std::string& device) = 0;
    virtual void close() = 0;  // drops both lines first
    [[nodiscard]] virtual bool isOpen() const = 0;
    // False when no port is open or the driver refused; callers ignore it.
    virtual bool setLines(KeyLines lines) = 0;
};

// The device the port field names: a number n is "COM"n on Windows and /dev/ttyS(n-1) on
// Linux (COM1 is the first port on both); any other text is a device name as it stands (ttyUSB0,
// /dev/ttyACM0). Nothing for an empty field or port number 0.
[[nodiscard]] std::optional<std::string> serialDeviceName(std::string_view field);

struct ComportResult {
    bool ok = false;
    std::string device;   // the device tried; empty when the field names none
    std::string message;  // on failure: kComportFailureText, shown with kComportCaption
};

// "Set comport": closes the port if one is open, opens the device the field names and sets
// both lines low. On failure the port stays closed and nothing else changes.
[[nodiscard]] ComportResult setComport(Keying& keying, std::string_view field);

// "Turn On" and "Turn Off" on the lines; errors (no port open) are ignored.
void keyTransmitter(Keying& keying, bool on);

// A real serial port through Qt Serial Port.
class SerialKeying final : public Keying {
public:
    SerialKeying();
    ~SerialKeying() override;  // lines dropped, port closed

    SerialKeying(const SerialKeying&) = delete;
    SerialKeying& operator=(const SerialKeying&) = delete;

    [[nodiscard]] bool open(const std::string& device) override;
    void close() override;
    [[nodiscard]] bool isOpen() const override;
    bool setLines(KeyLines lines) override;

    // The system's words for the last failure to open, for a log or the command line.
    [[nodiscard]] const std::string& lastError() const { return lastError_; }

private:
    std::unique_ptr<QSerialPort> port_;
    std::string lastError_;
};

}  // namespace sender
