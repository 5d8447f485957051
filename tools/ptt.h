#pragma once

// Keying the transmitter (PTT) for tonebox, through Hamlib. Pure core: the device text parser
// and printer, and the open-failure line; Ptt is the shell that owns the Hamlib handles.
//
// The keying device is named by one line of text:
//   none                              no keying (VOX, or a radio keyed by other means)
//   rig:MODEL[:DEVICE[:BAUD]]         CAT keying of Hamlib model MODEL (rigctl --list) on
//                                     DEVICE at BAUD (0 or absent: the model's default). A
//                                     DEVICE not starting with '/' is taken whole, so networked
//                                     radios can be named HOST:PORT. The dummy model 1 needs
//                                     no DEVICE.
//   rigctld[:HOST:PORT]               CAT keying through a running rigctld, localhost:4532 by
//                                     default
//   serial:DEVICE:rts|dtr|both        a serial port's RTS line, DTR line, or both at once
//   cm108:DEVICE[:GPIO]               a CM108/CM119 sound-card GPIO pin via /dev/hidrawN;
//                                     GPIO 1..8, absent: 3 (the usual wiring)
// Keywords and line names are read in any case; DEVICE is taken as written.
//
// Every call into Hamlib may block: CAT keying waits for the radio's answer (rigctld gives up
// after about 1 s per command, a silent rigctld fails to open within about 2 s). Run Ptt off
// the audio thread. One Ptt is used from one thread at a time; keyed() may be read from any.

#include <atomic>
#include <optional>
#include <string>
#include <string_view>

struct s_rig;  // Hamlib's RIG

namespace tools {

struct PttSetting {
    enum class Kind { None, Rig, Rigctld, Serial, Cm108 };
    Kind kind = Kind::None;
    int model = 0;       // Rig: Hamlib model number, 1 and up
    std::string device;  // Rig/Serial/Cm108: path; Rigctld: "HOST:PORT" ("localhost:4532")
    int baud = 0;        // Rig: bits per second; 0 = the model's default
    enum class Lines { Rts, Dtr, Both } lines = Lines::Rts;  // Serial: the lines that key
    int gpio = 0;  // Cm108: GPIO pin 1..8; 0 = Hamlib's default, GPIO 3

    friend bool operator==(const PttSetting&, const PttSetting&) = default;
};

inline constexpr std::string_view kRigctldDefault = "localhost:4532";

struct PttParse {
    PttSetting setting;
    std::string error;  // one line naming the accepted forms; empty when the text was good
};

[[nodiscard]] PttParse parsePttSetting(std::string_view text);
// The canonical text of setting; parsePttSetting gives setting back for any setting it produced.
[[nodiscard]] std::string pttSettingText(const PttSetting& setting);

// The line for a keying device that open(2) or access(2) refused with errnoValue: what is
// wrong and, for permissions, the group to join (dialout for serial ports; plugdev with a udev
// rule for CM108 and /dev/hidraw). Ptt::open checks the device with it before Hamlib sees it.
[[nodiscard]] std::string pttDeviceError(PttSetting::Kind kind, std::string_view device,
                                         int errnoValue);

class Ptt {
public:
    Ptt();
    ~Ptt();  // unkeys (best effort) and closes
    Ptt(const Ptt&) = delete;
    Ptt& operator=(const Ptt&) = delete;

    // Opens the keying device, closing any open one first, unkeyed. Returns an empty string or
    // one line saying what failed and what to do about it.
    [[nodiscard]] std::string open(const PttSetting& setting);
    // Keys (on) or unkeys the transmitter: an empty string or an error line. With Kind::None
    // nothing is sent and it always succeeds.
    [[nodiscard]] std::string key(bool on);
    // What the last successful key() set; false after open() and close().
    [[nodiscard]] bool keyed() const;
    // The PTT state as the device reports it: rig_get_ptt for CAT, the modem lines for
    // serial "both"; nullopt for none, when not open, or when the device cannot tell.
    [[nodiscard]] std::optional<bool> readBack();
    // Unkeys (best effort, even when keyed() is false: a failed unkey leaves it unknown) and
    // closes. Safe to call when not open.
    void close();
    [[nodiscard]] bool isOpen() const;

    // Hamlib's own trace on stderr, off unless turned on here; applies from the next open().
    static void setHamlibTrace(bool on);

private:
    [[nodiscard]] std::string openRig(int model);  // Hamlib model for setting_
    [[nodiscard]] std::string openLines();
    [[nodiscard]] std::string what() const;  // "rigctld at HOST:PORT", "/dev/ttyUSB0", ...

    PttSetting setting_;
    bool open_ = false;
    std::atomic<bool> keyed_{false};
    s_rig* rig_ = nullptr;  // every kind but None and serial "both"
    int linesFd_ = -1;      // serial "both": the port, RTS and DTR set together
};

}  // namespace tools
