#include "tools/ptt.h"

#include <fcntl.h>
#include <hamlib/rig.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <clocale>
#include <cstring>
#include <thread>
#include <utility>

namespace tools {

namespace {

constexpr std::string_view kForms =
    "use none, rig:MODEL[:DEVICE[:BAUD]], rigctld[:HOST:PORT], serial:DEVICE:rts|dtr|both or "
    "cm108:/dev/hidrawN[:GPIO]";

// rigctld answers a live command within a few milliseconds plus the radio's own reply time;
// one second per command with no retry makes a silent rigctld fail rig_open (two commands)
// in about 2 s instead of the 20 s Hamlib's defaults give.
constexpr std::string_view kRigctldTimeoutMs = "1000";
constexpr std::string_view kRigctldRetries = "0";

constexpr int kMaxGpio = 8;  // CM119 has GPIO 1..8, CM108 1..4; Hamlib takes bit 0..7

std::atomic<bool> gHamlibTrace{false};  // Hamlib's debug level is process-wide too

PttParse failed(std::string_view text, std::string_view reason) {
    PttParse parse;
    parse.error = "keying device \"" + std::string(text) + "\": " + std::string(reason) + "; " +
                  std::string(kForms);
    return parse;
}

std::string lower(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return out;
}

// A whole field of decimal digits in [low, high], no sign or spaces.
std::optional<int> number(std::string_view field, int low, int high) {
    int value = 0;
    const char* end = field.data() + field.size();
    auto [ptr, ec] = std::from_chars(field.data(), end, value);
    if (field.empty() || field.front() == '-' || ec != std::errc() || ptr != end || value < low ||
        value > high) {
        return std::nullopt;
    }
    return value;
}

bool allDigits(std::string_view field) {
    return !field.empty() && std::all_of(field.begin(), field.end(),
                                         [](unsigned char c) { return std::isdigit(c) != 0; });
}

// "A:B" at its last colon; nullopt without one.
std::optional<std::pair<std::string_view, std::string_view>> splitLast(std::string_view text) {
    const size_t colon = text.rfind(':');
    if (colon == std::string_view::npos) return std::nullopt;
    return std::pair{text.substr(0, colon), text.substr(colon + 1)};
}

PttParse parseRig(std::string_view text, std::string_view rest) {
    const size_t colon = rest.find(':');
    const std::string_view modelText = rest.substr(0, colon);
    PttParse parse;
    parse.setting.kind = PttSetting::Kind::Rig;
    const auto model = number(modelText, 1, 999999999);
    if (!model) return failed(text, "MODEL must be a Hamlib model number (rigctl --list)");
    parse.setting.model = *model;
    if (colon == std::string_view::npos) return parse;

    std::string_view device = rest.substr(colon + 1);
    if (device.empty()) return failed(text, "DEVICE is empty");
    // Device paths may hold colons themselves (/dev/serial/by-path/...-usb-0:2:1.0-port0) but
    // never end in ":digits"; addresses of networked radios (HOST:PORT) are taken whole.
    if (device.front() == '/') {
        if (const auto split = splitLast(device)) {
            if (split->second.empty()) return failed(text, "BAUD is empty");
            if (allDigits(split->second)) {
                const auto baud = number(split->second, 1, 100000000);
                if (!baud) return failed(text, "BAUD must be a positive number");
                parse.setting.baud = *baud;
                device = split->first;
            }
        }
    }
    parse.setting.device = std::string(device);
    return parse;
}

PttParse parseRigctld(std::string_view text, std::string_view rest) {
    PttParse parse;
    parse.setting.kind = PttSetting::Kind::Rigctld;
    const auto split = splitLast(rest);
    if (!split || split->first.empty()) return failed(text, "rigctld takes HOST:PORT");
    if (!number(split->second, 1, 65535)) return failed(text, "PORT must be 1..65535");
    parse.setting.device = std::string(rest);
    return parse;
}

PttParse parseSerial(std::string_view text, std::string_view rest) {
    PttParse parse;
    parse.setting.kind = PttSetting::Kind::Serial;
    const auto split = splitLast(rest);
    if (!split) return failed(text, "serial takes DEVICE:rts|dtr|both");
    const std::string lines = lower(split->second);
    if (lines == "rts") {
        parse.setting.lines = PttSetting::Lines::Rts;
    } else if (lines == "dtr") {
        parse.setting.lines = PttSetting::Lines::Dtr;
    } else if (lines == "both") {
        parse.setting.lines = PttSetting::Lines::Both;
    } else {
        return failed(text, "the serial lines are rts, dtr or both");
    }
    if (split->first.empty()) return failed(text, "DEVICE is empty");
    parse.setting.device = std::string(split->first);
    return parse;
}

PttParse parseCm108(std::string_view text, std::string_view rest) {
    PttParse parse;
    parse.setting.kind = PttSetting::Kind::Cm108;
    std::string_view device = rest;
    if (const auto split = splitLast(rest); split && allDigits(split->second)) {
        const auto gpio = number(split->second, 1, kMaxGpio);
        if (!gpio) return failed(text, "GPIO must be 1..8");
        parse.setting.gpio = *gpio;
        device = split->first;
    }
    if (device.empty()) return failed(text, "DEVICE is empty");
    parse.setting.device = std::string(device);
    return parse;
}

std::string hamlibError(int code) {
    std::string text = rigerror2(code);  // rigerror() appends Hamlib's recent debug lines
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) {
        text.pop_back();
    }
    return text;
}

std::string rigName(const RIG* rig) {
    return std::string(rig->caps->mfg_name) + " " + rig->caps->model_name;
}

const char* linesName(PttSetting::Lines lines) {
    switch (lines) {
        case PttSetting::Lines::Rts:
            return "rts";
        case PttSetting::Lines::Dtr:
            return "dtr";
        case PttSetting::Lines::Both:
            return "both";
    }
    return "rts";
}

// Existence and permission, checked before Hamlib sees the device: Hamlib reports both as a
// bare "IO error", and retries a missing serial port for 2 s first. stat and access rather
// than a trial open(2), which would raise RTS and DTR on a serial port for a moment.
std::string checkDevice(PttSetting::Kind kind, const std::string& device) {
    struct stat info {};
    if (::stat(device.c_str(), &info) != 0) return pttDeviceError(kind, device, errno);
    if (!S_ISCHR(info.st_mode)) {
        return "cannot use " + device + ": not a device file" +
               (kind == PttSetting::Kind::Cm108 ? " (expected /dev/hidrawN)"
                                                : " (expected a serial port such as /dev/ttyUSB0)");
    }
    if (::access(device.c_str(), R_OK | W_OK) != 0) return pttDeviceError(kind, device, errno);
    return {};
}

}  // namespace

PttParse parsePttSetting(std::string_view text) {
    const size_t colon = text.find(':');
    const std::string kind = lower(text.substr(0, colon));
    const std::string_view rest =
        colon == std::string_view::npos ? std::string_view() : text.substr(colon + 1);
    const bool bare = colon == std::string_view::npos;
    if (kind == "none") {
        if (!bare) return failed(text, "none takes nothing after it");
        return {};
    }
    if (kind == "rig") {
        if (bare) return failed(text, "rig needs a MODEL");
        return parseRig(text, rest);
    }
    if (kind == "rigctld") {
        if (bare) {
            PttParse parse;
            parse.setting.kind = PttSetting::Kind::Rigctld;
            parse.setting.device = std::string(kRigctldDefault);
            return parse;
        }
        return parseRigctld(text, rest);
    }
    if (kind == "serial") {
        if (bare) return failed(text, "serial needs DEVICE:rts|dtr|both");
        return parseSerial(text, rest);
    }
    if (kind == "cm108") {
        if (bare) return failed(text, "cm108 needs a DEVICE");
        return parseCm108(text, rest);
    }
    return failed(text, "unknown kind \"" + std::string(text.substr(0, colon)) + "\"");
}

std::string pttSettingText(const PttSetting& setting) {
    switch (setting.kind) {
        case PttSetting::Kind::None:
            return "none";
        case PttSetting::Kind::Rig: {
            std::string text = "rig:" + std::to_string(setting.model);
            if (!setting.device.empty()) {
                text += ":" + setting.device;
                if (setting.baud > 0) text += ":" + std::to_string(setting.baud);
            }
            return text;
        }
        case PttSetting::Kind::Rigctld:
            return "rigctld:" +
                   (setting.device.empty() ? std::string(kRigctldDefault) : setting.device);
        case PttSetting::Kind::Serial:
            return "serial:" + setting.device + ":" + linesName(setting.lines);
        case PttSetting::Kind::Cm108:
            return "cm108:" + setting.device +
                   (setting.gpio > 0 ? ":" + std::to_string(setting.gpio) : "");
    }
    return "none";
}

std::string pttDeviceError(PttSetting::Kind kind, std::string_view device, int errnoValue) {
    const bool hidraw =
        kind == PttSetting::Kind::Cm108 || device.find("hidraw") != std::string_view::npos;
    const std::string head = "cannot open " + std::string(device) + ": ";
    switch (errnoValue) {
        case ENOENT:
        case ENODEV:
        case ENXIO:
            return head + "no such device; is the interface plugged in? (see " +
                   (hidraw ? "ls /dev/hidraw*)" : "ls /dev/serial/by-id)");
        case EACCES:
        case EPERM:
            if (hidraw) {
                return head +
                       "permission denied; give the plugdev group the device with a udev rule "
                       "(SUBSYSTEM==\"hidraw\", ATTRS{idVendor}==\"0d8c\", GROUP=\"plugdev\", "
                       "MODE=\"0660\" in /etc/udev/rules.d/), add yourself to plugdev (sudo "
                       "usermod -aG plugdev $USER), replug it and log in again";
            }
            return head +
                   "permission denied; add yourself to the dialout group (sudo usermod -aG "
                   "dialout $USER) and log in again";
        case EBUSY:
            return head + "in use by another program";
        default:
            return head + std::strerror(errnoValue);
    }
}

Ptt::Ptt() = default;

Ptt::~Ptt() { close(); }

void Ptt::setHamlibTrace(bool on) { gHamlibTrace = on; }

std::string Ptt::open(const PttSetting& setting) {
    close();
    rig_set_debug(gHamlibTrace ? RIG_DEBUG_TRACE : RIG_DEBUG_NONE);
    setting_ = setting;
    if (setting_.kind == PttSetting::Kind::Rigctld && setting_.device.empty()) {
        setting_.device = std::string(kRigctldDefault);
    }

    std::string error;
    const bool path = !setting_.device.empty() && setting_.device.front() == '/';
    switch (setting_.kind) {
        case PttSetting::Kind::None:
            break;
        case PttSetting::Kind::Rig:
            if (path) error = checkDevice(setting_.kind, setting_.device);
            if (error.empty()) error = openRig(setting_.model);
            break;
        case PttSetting::Kind::Rigctld:
            error = openRig(RIG_MODEL_NETRIGCTL);
            break;
        case PttSetting::Kind::Serial:
        case PttSetting::Kind::Cm108:
            if (setting_.device.empty()) {
                error = "no keying device given; " + std::string(kForms);
                break;
            }
            error = checkDevice(setting_.kind, setting_.device);
            if (!error.empty()) break;
            if (setting_.kind == PttSetting::Kind::Serial &&
                setting_.lines == PttSetting::Lines::Both) {
                error = openLines();
            } else {
                error = openRig(RIG_MODEL_DUMMY);
            }
            break;
    }
    open_ = error.empty();
    return error;
}

std::string Ptt::openRig(int model) {
    const PttSetting& setting = setting_;
    RIG* rig = rig_init(model);
    if (rig == nullptr) {
        return "no Hamlib rig model " + std::to_string(model) + "; see rigctl --list";
    }
    int result = RIG_OK;
    const auto conf = [&](const char* name, std::string_view value) {
        if (result != RIG_OK) return;
        const token_t token = rig_token_lookup(rig, name);
        result = token == RIG_CONF_END ? -RIG_EINVAL
                                       : rig_set_conf(rig, token, std::string(value).c_str());
    };

    std::string error;
    switch (setting.kind) {
        case PttSetting::Kind::Rig:
            if (setting.device.empty() && rig->caps->port_type == RIG_PORT_SERIAL) {
                error = rigName(rig) + " (Hamlib model " + std::to_string(model) +
                        ") needs a serial port: rig:" + std::to_string(model) + ":DEVICE[:BAUD]";
                break;
            }
            if (!setting.device.empty()) conf("rig_pathname", setting.device);
            if (setting.baud > 0) {
                conf("serial_speed", std::to_string(setting.baud));
                if (result != RIG_OK) {
                    error = rigName(rig) + " takes no baud rate " + std::to_string(setting.baud) +
                            ": " + hamlibError(result);
                    break;
                }
            }
            conf("ptt_type", "RIG");
            break;
        case PttSetting::Kind::Rigctld:
            conf("rig_pathname", setting.device);
            conf("timeout", kRigctldTimeoutMs);
            conf("retry", kRigctldRetries);
            conf("ptt_type", "RIG");
            break;
        case PttSetting::Kind::Serial:
            conf("ptt_type", setting.lines == PttSetting::Lines::Dtr ? "DTR" : "RTS");
            conf("ptt_pathname", setting.device);
            break;
        case PttSetting::Kind::Cm108:
            conf("ptt_type", "CM108");
            conf("ptt_pathname", setting.device);
            if (setting.gpio > 0) conf("ptt_bitnum", std::to_string(setting.gpio - 1));
            break;
        case PttSetting::Kind::None:
            break;
    }
    if (error.empty() && result != RIG_OK) {
        error = "cannot set up " + what() + ": " + hamlibError(result);
    }
    if (error.empty()) {
        // Hamlib switches LC_NUMERIC to "C" and back around its work, restoring a locale name
        // that its own switch has freed when the environment gave the program another locale
        // (any Qt program's). With "C" already in place the name is static and nothing is
        // freed; numbers in this program are never meant to follow the user's locale anyway.
        std::setlocale(LC_NUMERIC, "C");
        result = rig_open(rig);
        // rigctld closes its rig when its last client leaves and opens it again for the next;
        // a connection that comes in between is reset. It is tried again, twice.
        for (int again = 0;
             again < 2 && setting.kind == PttSetting::Kind::Rigctld && result == -RIG_EIO;
             ++again) {
            std::this_thread::sleep_for(std::chrono::milliseconds(250));
            result = rig_open(rig);
        }
        if (result != RIG_OK) {
            const std::string why = hamlibError(result);
            switch (setting.kind) {
                case PttSetting::Kind::Rigctld:
                    error = result == -RIG_ETIMEOUT
                                ? "rigctld at " + setting.device + " did not answer: " + why
                                : "cannot reach rigctld at " + setting.device + ": " + why +
                                      "; is rigctld running (rigctld -m MODEL -r DEVICE)?";
                    break;
                case PttSetting::Kind::Serial:
                    error = "cannot key " + setting.device + " by " +
                            (setting.lines == PttSetting::Lines::Dtr ? "DTR" : "RTS") + ": " + why +
                            "; is it a serial port?";
                    break;
                case PttSetting::Kind::Cm108:
                    error = "cannot key " + setting.device + " by CM108 GPIO " +
                            std::to_string(setting.gpio > 0 ? setting.gpio : 3) + ": " + why +
                            "; is it a CM108/CM119 sound card's hidraw device?";
                    break;
                default:
                    error = "cannot open " + rigName(rig) + " (Hamlib model " +
                            std::to_string(model) + ")" +
                            (setting.device.empty() ? "" : " on " + setting.device) + ": " + why +
                            "; check the device, the baud rate and the radio's CAT settings";
                    break;
            }
        }
    }
    if (!error.empty()) {
        rig_cleanup(rig);
        return error;
    }
    rig_ = rig;
    return {};
}

std::string Ptt::openLines() {
    const int fd = ::open(setting_.device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return pttDeviceError(setting_.kind, setting_.device, errno);
    // Opening a serial port raises both lines; drop them at once.
    const int bits = TIOCM_RTS | TIOCM_DTR;
    if (::ioctl(fd, TIOCMBIC, &bits) != 0) {
        const int error = errno;
        ::close(fd);
        return "cannot key " + setting_.device + " by RTS and DTR: " +
               (error == ENOTTY || error == EINVAL ? "it has no modem control lines (not a "
                                                     "serial port)"
                                                   : std::strerror(error));
    }
    linesFd_ = fd;
    return {};
}

std::string Ptt::what() const {
    switch (setting_.kind) {
        case PttSetting::Kind::Rig:
            return "Hamlib model " + std::to_string(setting_.model) +
                   (setting_.device.empty() ? "" : " on " + setting_.device);
        case PttSetting::Kind::Rigctld:
            return "rigctld at " + setting_.device;
        case PttSetting::Kind::None:
            return "no keying device";
        case PttSetting::Kind::Serial:
        case PttSetting::Kind::Cm108:
            return setting_.device;
    }
    return setting_.device;
}

std::string Ptt::key(bool on) {
    if (!open_) return "cannot " + std::string(on ? "key" : "unkey") + ": no keying device open";
    std::string error;
    if (linesFd_ >= 0) {
        const int bits = TIOCM_RTS | TIOCM_DTR;
        if (::ioctl(linesFd_, on ? TIOCMBIS : TIOCMBIC, &bits) != 0) {
            error = std::strerror(errno);
        }
    } else if (rig_ != nullptr) {
        const int result = rig_set_ptt(rig_, RIG_VFO_CURR, on ? RIG_PTT_ON : RIG_PTT_OFF);
        if (result != RIG_OK) {
            error = hamlibError(result);
            // rigctld's own rig refuses PTT when it was started without a PTT type.
            if (setting_.kind == PttSetting::Kind::Rigctld && result == -RIG_EINVAL) {
                error += "; was rigctld started with a PTT type (-P RIG, or -P RTS -p DEVICE)?";
            }
        }
    }
    if (!error.empty())
        return "cannot " + std::string(on ? "key " : "unkey ") + what() + ": " + error;
    keyed_ = on;
    return {};
}

bool Ptt::keyed() const { return keyed_; }

std::optional<bool> Ptt::readBack() {
    if (!open_) return std::nullopt;
    if (linesFd_ >= 0) {
        int bits = 0;
        if (::ioctl(linesFd_, TIOCMGET, &bits) != 0) return std::nullopt;
        // Either line alone may key the radio.
        return (bits & (TIOCM_RTS | TIOCM_DTR)) != 0;
    }
    if (rig_ == nullptr) return std::nullopt;
    ptt_t ptt = RIG_PTT_OFF;
    if (rig_get_ptt(rig_, RIG_VFO_CURR, &ptt) != RIG_OK) return std::nullopt;
    return ptt != RIG_PTT_OFF;
}

void Ptt::close() {
    if (rig_ != nullptr) {
        (void)rig_set_ptt(rig_, RIG_VFO_CURR, RIG_PTT_OFF);
        rig_close(rig_);
        rig_cleanup(rig_);
        rig_ = nullptr;
    }
    if (linesFd_ >= 0) {
        const int bits = TIOCM_RTS | TIOCM_DTR;
        (void)::ioctl(linesFd_, TIOCMBIC, &bits);
        ::close(linesFd_);
        linesFd_ = -1;
    }
    open_ = false;
    keyed_ = false;
}

bool Ptt::isOpen() const { return open_; }

}  // namespace tools
