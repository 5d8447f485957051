#include "tools/station.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>

#include "tools/audio_file.h"

namespace tools {

namespace {

constexpr int kTickMs = 10;
constexpr double kRingSeconds = 2.0;
constexpr double kTopUpSeconds = 0.4;  // audio kept ahead of the converter while sending
constexpr size_t kPullSamples = 800;   // 100 ms of the modem's audio at a time
constexpr double kStallSeconds = 2.0;  // a device whose callback stops this long is gone
constexpr int kSoundRetryMs = 2000;
constexpr int kDeliverGapMs = 20;  // between two units written to the receiver
constexpr int kReconnectMaxMs = 8000;
constexpr int kPauseFlushMs = 500;      // a frame string the sender stopped in the middle of
constexpr double kSettleSeconds = 0.5;  // a new output stream's times settle this long

double dbfs(double amplitude) { return amplitude > 1e-6 ? 20 * std::log10(amplitude) : -120; }

std::string fixed(double x, int decimals) {
    char text[32];
    std::snprintf(text, sizeof text, "%.*f", decimals, x);
    return text;
}

}  // namespace

Station::Station(const ToneboxOptions& options, StationEvents events)
    : options_([&] {
          ToneboxOptions o = options;
          if (!o.inputFile.empty()) o.transmit = false;  // a recording is only heard
          return o;
      }()),
      events_(std::move(events)),
      in_(SoundStream::Direction::Input, kRingSeconds),
      out_(SoundStream::Direction::Output, kRingSeconds),
      queue_(options.mode),
      keying_(modem::KeyingSettings{.leadS = options.pttLeadMs / 1000.0,
                                    .tailS = options.pttTailMs / 1000.0,
                                    .holdS = options.pttHoldMs / 1000.0,
                                    .timeoutS = double(options.txTimeoutS)}),
      gain_(static_cast<float>(std::pow(10.0, options.txLevelDb / 20.0))),
      port_(SenderPort::Handlers{
          .line = [this](const std::string& text) { say(text); },
          .event = [this](const StreamEvent& e) { handle(e); },
          .afterRead =
              [this] {
                  senderQuiet_.start();
                  transmit();
              },
          .gone =
              [this](const char* why) {
                  (void)strings_.flush();
                  unkeyNow(why);
              },
      }),
      receiver_(ReceiverLink::Settings{.host = options.rxHost,
                                       .port = options.rxPort,
                                       .firstRetryMs = kReconnectMs,
                                       .longestRetryMs = kReconnectMaxMs,
                                       .gapMs = kDeliverGapMs},
                [this](const std::string& text) { say(text); }) {
    tickTimer_.setTimerType(Qt::PreciseTimer);
    QObject::connect(&tickTimer_, &QTimer::timeout, [this] { tick(); });
    deadlineTimer_.setSingleShot(true);
    deadlineTimer_.setTimerType(Qt::PreciseTimer);
    QObject::connect(&deadlineTimer_, &QTimer::timeout, [this] { transmit(); });
    soundRetryTimer_.setSingleShot(true);
    QObject::connect(&soundRetryTimer_, &QTimer::timeout, [this] { retrySound(); });
}

Station::~Station() {
    // Whatever ends the program, the transmitter is left unkeyed.
    ptt_.close();
    in_.close();
    out_.close();
}

void Station::say(const std::string& text) const {
    if (events_.line) events_.line(text);
}

void Station::detail(const std::string& text) const {
    if (options_.verbose && events_.verbose) events_.verbose(text);
}

bool Station::start() {
    if (options_.transmit) {
        if (const std::string error = ptt_.open(options_.ptt); !error.empty()) {
            say("cannot key the transmitter: " + error);
            return false;
        }
        if (options_.ptt.kind != PttSetting::Kind::None) {
            // A transmitter left keyed by an earlier run that did not end well is unkeyed.
            if (const std::string error = ptt_.key(false); !error.empty()) {
                say("cannot unkey the transmitter: " + error);
                return false;
            }
            say("keying by " + pttSettingText(options_.ptt) + "; not keyed");
        }
    }
    if (options_.transmit && options_.tuneSeconds <= 0 &&
        !port_.listen(options_.listen, options_.port, "tonebox")) {
        return false;
    }
    say(std::string("mode ") + (options_.mode == modem::Mode::Robust ? "robust" : "normal") +
        (options_.transmit ? ", transmit level " + fixed(options_.txLevelDb, 1) + " dBFS peak"
                           : std::string(", receive only")) +
        (options_.receive ? "" : ", transmit only"));
    // The modem's codes are built on first use, which takes a moment: not while keyed.
    {
        std::vector<float> scratch;
        modem::Modulator(options_.mode).modulateFrame(std::vector<modem::Unit>(1), scratch);
    }
    if (!options_.inputFile.empty()) {
        const AudioRead read = readAudio(options_.inputFile);
        if (!read.ok) {
            say(read.error);
            return false;
        }
        file_ = std::make_unique<FileInput>();
        file_->rate = read.audio.sampleRate;
        file_->samples = read.audio.samples;
        file_->samples.resize(file_->samples.size() + static_cast<size_t>(file_->rate), 0.0f);
        rx_ = std::make_unique<modem::ReceivePath>(file_->rate, events_.spectrum != nullptr);
        say("hearing '" + options_.inputFile + "' (" +
            fixed(double(read.audio.samples.size()) / file_->rate, 1) + " s at " +
            fixed(file_->rate, 0) + " Hz) instead of the sound card");
        file_->clock.start();
    } else if (!openSound()) {
        soundRetryTimer_.start(kSoundRetryMs);
    }
    if (options_.receive && options_.tuneSeconds <= 0) receiver_.connect();
    if (options_.tuneSeconds > 0) {
        tuning_ = true;
        tuneLeft_ = options_.tuneSeconds;
        say("tune: a steady " + fixed(modem::kCentreHz, 0) + " Hz tone for " +
            fixed(options_.tuneSeconds, 1) + " s at " + fixed(options_.txLevelDb, 1) +
            " dBFS, transmitter keyed");
    }
    tickTimer_.start(kTickMs);
    return true;
}

// --- sound -----------------------------------------------------------------------------------

bool Station::openSound() {
    sound_ = std::make_unique<SoundSystem>();
    std::string problem = sound_->error();
    const std::vector<SoundDeviceInfo> devices =
        problem.empty() ? sound_->devices() : std::vector<SoundDeviceInfo>{};
    const bool playing = options_.transmit;
    const bool recording = options_.receive && options_.tuneSeconds <= 0;
    if (problem.empty() && playing) {
        const DeviceChoice c = chooseSoundDevice(devices, options_.outputDevice, false);
        problem = c.error.empty() ? out_.open(c.index, c.name) : c.error;
    }
    if (problem.empty() && recording) {
        const DeviceChoice c = chooseSoundDevice(devices, options_.inputDevice, true);
        problem = c.error.empty() ? in_.open(c.index, c.name) : c.error;
    }
    if (!problem.empty()) {
        in_.close();
        out_.close();
        sound_.reset();
        // Told once for each new reason, not at every try.
        if (problem != lastSoundProblem_) {
            say("sound card: " + problem + "; trying again every " +
                std::to_string(kSoundRetryMs / 1000) + " s");
            lastSoundProblem_ = problem;
        }
        return false;
    }
    lastSoundProblem_.clear();
    if (playing) {
        up_ = std::make_unique<modem::StreamResampler>(modem::kSampleRate, out_.rate());
        soundOpenedAt_ = out_.now();
        samplesPushed_ = out_.samplesPlayed.load();
        drained_ = true;
        say("playing on '" + out_.deviceName() + "' at " + fixed(out_.rate(), 0) + " Hz (" +
            fixed(out_.latency() * 1000, 0) + " ms to the converter)");
    }
    if (recording) {
        samplesRead_ = in_.samplesIn.load();
        rxOrigin_ = samplesRead_;
        rx_ = std::make_unique<modem::ReceivePath>(in_.rate(), events_.spectrum != nullptr);
        rx_->setMuted(muted_);
        say("recording '" + in_.deviceName() + "' at " + fixed(in_.rate(), 0) + " Hz");
    }
    return true;
}

void Station::closeSound(const std::string& why) {
    unkeyNow("the sound device failed");
    in_.close();
    out_.close();
    sound_.reset();
    say(why + "; unkeyed, trying to open it again every " + std::to_string(kSoundRetryMs / 1000) +
        " s");
    soundRetryTimer_.start(kSoundRetryMs);
}

void Station::retrySound() {
    if (finishing_) return;
    if (openSound()) {
        say("sound card open again");
        return;
    }
    soundRetryTimer_.start(kSoundRetryMs);
}

// --- the tick --------------------------------------------------------------------------------

void Station::tick() {
    if (finishing_) return;
    if (sound_ != nullptr) {
        const bool outGone = out_.isOpen() && out_.stalled(kStallSeconds);
        const bool inGone = in_.isOpen() && in_.stalled(kStallSeconds);
        if (outGone || inGone) {
            closeSound(std::string("the sound device ") +
                       (outGone ? "'" + out_.deviceName() + "'" : "'" + in_.deviceName() + "'") +
                       " stopped (unplugged?)");
            return;
        }
    }
    receive();
    transmit();
    // A frame string the sender stopped sending in the middle of goes out as it is.
    if (strings_.pendingUnits() > 0 && senderQuiet_.isValid() &&
        senderQuiet_.elapsed() >= kPauseFlushMs) {
        queueString(strings_.flush());
    }
    if (options_.tuneSeconds > 0 && !tuning_ && !keying_.keyed() && sound_ != nullptr) {
        say("tune: done, unkeyed");
        shutDown(0);
    }
}

// --- receive ---------------------------------------------------------------------------------

void Station::receive() {
    if (file_) {
        receiveFile();
        return;
    }
    if (!in_.isOpen() || rx_ == nullptr) return;
    inBlock_.resize(4096);
    for (;;) {
        const size_t n = in_.ring.read(inBlock_);
        if (n == 0) break;
        samplesRead_ += n;
        heard(std::span<const float>(inBlock_.data(), n));
    }
}

// The recording, as much of it as the clock says has been heard by now.
void Station::receiveFile() {
    FileInput& f = *file_;
    const double due = double(f.clock.nsecsElapsed()) / 1e9 * f.rate * options_.inputPace;
    const size_t until = std::min(f.samples.size(), static_cast<size_t>(due));
    constexpr size_t kChunk = 4096;
    while (f.fed < until) {
        const size_t n = std::min(kChunk, until - f.fed);
        heard(std::span<const float>(f.samples).subspan(f.fed, n));
        f.fed += n;
    }
    if (f.fed == f.samples.size()) {
        say("the recording is over");
        shutDown(0);
    }
}

// Seconds: on the monotonic clock from the card, into the recording from a file.
double Station::inputTime(double sample) {
    const uint64_t at = static_cast<uint64_t>(std::max(0.0, std::round(sample)));
    if (file_) return double(at) / file_->rate;
    return in_.timeOfInputSample(rxOrigin_ + at);
}

void Station::heard(std::span<const float> audio) {
    modem::ReceiveOutput got;
    rx_->process(audio, got);
    if (!got.rows.empty() && events_.spectrum) events_.spectrum(std::move(got.rows));
    // Where sound begins and ends after a quiet spell, for --verbose: the keying's lead and
    // tail can be measured with them through a sound loop.
    for (const modem::SoundEdge& e : got.edges) {
        detail(std::string("sound ") + (e.began ? "began" : "ended") + " at " +
               fixed(inputTime(double(e.sample)), 3));
    }
    for (size_t i = 0; i < got.demod.frames.size(); ++i) {
        const modem::FrameStats& f = got.demod.frames[i];
        ++stats_.modemFrames;
        stats_.unitsGood += static_cast<uint64_t>(f.unitsGood);
        stats_.unitsDropped += static_cast<uint64_t>(f.unitsDropped);
        stats_.lastFrame = f;
        if (events_.frame) events_.frame(f);
        // When the frame's sync burst reached our converter.
        const double at = inputTime(got.frameStarts[i]);
        detail("heard a modem frame at " + fixed(at, 3) + ": " + std::to_string(f.units) +
               " units, " + std::to_string(f.unitsGood) + " good, SNR " + fixed(f.snrDb, 1) +
               " dB, offset " + fixed(f.offsetHz, 1) + " Hz, ends " +
               fixed(at + double(f.endSample - f.startSample) / modem::kSampleRate, 3));
    }
    for (const modem::Unit& unit : got.demod.units) {
        if (receiver_.send(unit)) {
            undeliveredReported_ = false;
            continue;
        }
        ++stats_.unitsUndelivered;
        if (!undeliveredReported_) {
            say("units are arriving while the receiver is not connected: not delivered "
                "(counted on the status line and at the end)");
            undeliveredReported_ = true;
        }
    }
}

// --- transmit --------------------------------------------------------------------------------

std::optional<double> Station::idleSince() const {
    if (!queue_.idle() || tuning_ || !drained_ || !transmitted_) return std::nullopt;
    if (samplesPushed_ != out_.samplesPlayed.load(std::memory_order_acquire)) return std::nullopt;
    return out_.lastSampleEnd.load(std::memory_order_relaxed);
}

void Station::transmit() {
    if (!out_.isOpen() || finishing_) return;
    const bool waiting = !queue_.idle() || tuning_ || !drained_ ||
                         samplesPushed_ != out_.samplesPlayed.load(std::memory_order_acquire);
    // A device's first moments give no trustworthy times (buffers are still being primed).
    if (waiting && !keying_.keyed() && out_.now() - soundOpenedAt_ < kSettleSeconds) return;
    if (waiting && !keying_.keyed() && !keying_.refused()) {
        // The audio is made before the transmitter is keyed, so that it is there when the lead
        // time is over; the callback holds it back until then.
        out_.gate.store(std::numeric_limits<double>::infinity(), std::memory_order_release);
        topUp();
    }
    applyKeying(keying_.step(out_.now(), waiting, idleSince()), "");
    if (keying_.keyed()) topUp();
    armDeadline();
}

void Station::topUp() {
    const double rate = out_.rate();
    const size_t target = static_cast<size_t>(rate * kTopUpSeconds);
    std::vector<float> modemAudio;
    std::vector<float> card;
    while (out_.ring.available() < target) {
        card.clear();
        if (tuning_) {
            const size_t n = std::min<size_t>(static_cast<size_t>(rate / 10),
                                              static_cast<size_t>(std::ceil(tuneLeft_ * rate)));
            const double step = 2 * std::numbers::pi * modem::kCentreHz / rate;
            const float level = tuneSilent_ ? 0.0f : gain_;
            for (size_t i = 0; i < n; ++i) {
                card.push_back(level * static_cast<float>(std::sin(tunePhase_)));
                tunePhase_ = std::fmod(tunePhase_ + step, 2 * std::numbers::pi);
            }
            tuneLeft_ -= double(n) / rate;
            if (n == 0 || tuneLeft_ <= 0) tuning_ = false;
        } else {
            modemAudio.clear();
            if (queue_.pull(kPullSamples, modemAudio) == 0) {
                if (!drained_) {
                    up_->drain(card);
                    drained_ = true;
                }
            } else {
                drained_ = false;
                for (float& x : modemAudio) x = std::clamp(x * gain_, -1.0f, 1.0f);
                up_->process(modemAudio, card);
            }
        }
        if (card.empty()) break;
        for (const float x : card) outPeak_ = std::max(outPeak_, std::abs(x));
        samplesPushed_ += out_.ring.write(card);
    }
    out_.expectMore.store(!queue_.idle() || tuning_, std::memory_order_relaxed);
}

void Station::applyKeying(modem::KeyAction action, const char* why) {
    switch (action) {
        case modem::KeyAction::None:
            return;
        case modem::KeyAction::Key: {
            const double asked = out_.now();
            if (const std::string error = ptt_.key(true); !error.empty()) {
                say("cannot key the transmitter: " + error + "; what was queued is dropped");
                keying_.keyFailed();
                dropTransmission();
                return;
            }
            // The lead counts from when the rig has taken the command (CAT takes its time).
            const double now = out_.now();
            keying_.keyedNow(now);
            out_.gate.store(keying_.signalStart(), std::memory_order_release);
            muted_ = true;
            if (rx_) rx_->setMuted(true);
            transmitted_ = true;
            outPeak_ = 0;
            detail("keyed at " + fixed(now, 3) + " (the keying took " +
                   fixed((now - asked) * 1000, 1) +
                   " ms); the first sample reaches the "
                   "converter at " +
                   fixed(keying_.signalStart(), 3) + " (lead " +
                   fixed((keying_.signalStart() - now) * 1000, 1) + " ms)");
            return;
        }
        case modem::KeyAction::Unkey:
        case modem::KeyAction::TimeOut: {
            const std::optional<double> idle = idleSince();
            const double asked = out_.now();
            if (const std::string error = ptt_.key(false); !error.empty()) {
                say("cannot unkey the transmitter: " + error);
            }
            const double now = out_.now();
            std::string line = "unkeyed at " + fixed(now, 3) + " (asked at " + fixed(asked, 3) +
                               ", the keying took " + fixed((now - asked) * 1000, 1) + " ms)";
            if (idle) {
                line += "; the last sample left the converter at " + fixed(*idle, 3) +
                        " (tail to the ask " + fixed((asked - *idle) * 1000, 1) + " ms)";
            }
            if (*why != '\0') line += std::string(" (") + why + ")";
            detail(line);
            if (action == modem::KeyAction::TimeOut) {
                dropTransmission();
                say("transmit time-out: keyed for " + std::to_string(options_.txTimeoutS) +
                    " s; unkeyed, and no more keying until the sender's next \"start\"");
            }
            transmitted_ = false;
            // Back to listening: what was recorded while transmitting is not ours to decode.
            if (muted_) {
                receive();  // what is still in the ring, heard muted
                muted_ = false;
                if (rx_) rx_->setMuted(false);
            }
            return;
        }
    }
}

void Station::dropTransmission() {
    queue_.clear();
    tuning_ = false;
    out_.discard.store(true, std::memory_order_release);
    out_.expectMore.store(false, std::memory_order_relaxed);
    if (up_) up_->reset();
    drained_ = true;
    // The callback counts the thrown-away samples as played.
    if (!out_.isOpen()) samplesPushed_ = out_.samplesPlayed.load();
}

void Station::unkeyNow(const char* why) {
    dropTransmission();
    applyKeying(keying_.stop(), why);
}

void Station::armDeadline() {
    const std::optional<double> at = keying_.deadline(idleSince());
    if (!at) {
        deadlineTimer_.stop();
        return;
    }
    const double ms = std::max(0.0, (*at - out_.now()) * 1000.0);
    if (ms < kTickMs * 2) deadlineTimer_.start(static_cast<int>(std::ceil(ms)));
}

// --- the sender's link -------------------------------------------------------------------------

void Station::handle(const StreamEvent& e) {
    for (std::vector<encoder::Unit>& s : strings_.add(e)) queueString(std::move(s));
    switch (e.kind) {
        case StreamEvent::Kind::Unit:
            return;
        case StreamEvent::Kind::Skipped:
            say("skipped " + std::to_string(e.skipped) + " bytes that began no message");
            return;
        case StreamEvent::Kind::Command:
            break;
    }
    switch (e.command) {
        case ToneboxCommand::Start:
            keying_.senderStarted();
            say("start: the sender is on");
            return;
        case ToneboxCommand::Stop:
            unkeyNow("stop");
            say("stop: unkeyed, the queue dropped");
            return;
        case ToneboxCommand::Exit:
            if (!options_.endOnExit) {
                unkeyNow("exit");
                say("exit: the sender has ended; unkeyed, the queue dropped");
                return;
            }
            say("exit");
            shutDown(0);
            return;
    }
}

void Station::queueString(std::vector<encoder::Unit> units) {
    if (units.empty()) return;
    if (keying_.refused()) {
        ++stats_.stringsDropped;
        say("frame string of " + std::to_string(units.size()) +
            " units dropped: the transmit time-out holds until the sender's next \"start\"");
        return;
    }
    const size_t count = units.size();
    const int dropped = queue_.push(std::move(units));
    const modem::FrameLayout full = modem::frameLayout(options_.mode, modem::kMaxUnitsPerFrame);
    detail("frame string of " + std::to_string(count) + " units queued (about " +
           fixed(double(count) / modem::kMaxUnitsPerFrame * full.seconds(), 1) + " s on the air)");
    if (dropped > 0) {
        say("a queued frame string was dropped whole: the " +
            std::string(options_.mode == modem::Mode::Robust ? "robust" : "normal") +
            " mode is slower than the sender (" + std::to_string(queue_.stats().stringsDropped) +
            " dropped so far)");
    }
}

// --- tuning ----------------------------------------------------------------------------------

void Station::tune(double seconds, bool tone) {
    if (finishing_) return;
    if (seconds <= 0) {
        if (tuning_ || keying_.keyed()) {
            unkeyNow("tune stopped");
            say("tune stopped: unkeyed");
        }
        return;
    }
    if (!options_.transmit || !out_.isOpen()) {
        say(std::string(tone ? "tune" : "the keying test") +
            ": no sound card to play on (transmitting is off, or the device is not open)");
        return;
    }
    if (keying_.refused()) {
        say(std::string(tone ? "tune" : "the keying test") +
            ": the transmit time-out holds until the sender's next \"start\"");
        return;
    }
    if (!queue_.idle()) {
        say(std::string(tone ? "tune" : "the keying test") + ": not while frames are sent");
        return;
    }
    tuning_ = true;
    tuneSilent_ = !tone;
    tuneLeft_ = seconds;
    say(tone ? "tune: a steady " + fixed(modem::kCentreHz, 0) + " Hz tone at " +
                   fixed(options_.txLevelDb, 1) + " dBFS for up to " + fixed(seconds, 0) +
                   " s, transmitter keyed"
             : "testing the keying: keyed for " + fixed(seconds, 1) + " s, no sound");
    transmit();
}

// --- the end -----------------------------------------------------------------------------------

void Station::shutDown(int code) {
    if (finishing_) return;
    unkeyNow("ending");
    ptt_.close();
    finishing_ = true;
    tickTimer_.stop();
    deadlineTimer_.stop();
    soundRetryTimer_.stop();
    port_.close();
    in_.close();
    out_.close();
    const StationStatus s = status();
    say("in all: " + std::to_string(s.stringsQueued) + " frame strings queued, " +
        std::to_string(s.stringsSent) + " sent, " + std::to_string(s.stringsDropped) +
        " dropped; " + std::to_string(s.modemFrames) + " modem frames heard, " +
        std::to_string(s.unitsGood) + " units good, " + std::to_string(s.unitsDropped) +
        " dropped, " + std::to_string(s.unitsDelivered) + " delivered, " +
        std::to_string(s.unitsUndelivered) + " not delivered; underruns " +
        std::to_string(s.underruns) + ", overruns " + std::to_string(s.overruns));
    // The units already written still reach the receiver before the connection ends.
    receiver_.close();
    if (events_.finished) events_.finished(code);
}

StationStatus Station::status() {
    StationStatus s = stats_;
    s.transmitting = keying_.keyed();
    s.soundUp = sound_ != nullptr || file_ != nullptr;
    const modem::InputLevel level = rx_ ? rx_->takeLevel() : modem::InputLevel{};
    s.inputPeakDbfs = dbfs(level.peak);
    s.inputRmsDbfs = level.samples > 0 ? dbfs(level.rms) : -120;
    s.clipping = level.peak >= 0.99f;
    s.outputPeakDbfs = dbfs(outPeak_);
    outPeak_ = 0;
    const modem::TxQueueStats& q = queue_.stats();
    s.stringsQueued = q.stringsQueued;
    s.stringsSent = q.stringsSent;
    s.stringsDropped = q.stringsDropped + stats_.stringsDropped;
    s.underruns = out_.underruns.load();
    s.overruns = in_.overruns.load();
    s.receiverConnected = receiver_.connected();
    s.senderConnected = port_.senderConnected();
    s.unitsDelivered = receiver_.delivered();
    s.unitsUndelivered = stats_.unitsUndelivered + receiver_.lostInQueue();
    s.refused = keying_.refused();
    return s;
}

}  // namespace tools
