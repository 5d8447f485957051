#pragma once

// tonebox on a sound card: the shell around the modem core. One object runs the whole station
// on the event loop it lives in:
//
//   sender (TCP) -> parser -> whole frame strings -> TxQueue -> gain -> resampler -> ring ->
//       PortAudio out, the transmitter keyed around it (Keying, Ptt)
//   PortAudio in -> ring -> resampler -> Demodulator -> units -> receiver (TCP), one write each
//
// Only the sound card's callbacks run elsewhere (tools/sound.h); they touch nothing but the
// rings and a few atomic counters. What the station does and sees is told through the
// callbacks in StationEvents, so a terminal or a window can show it.

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "modem/demodulator.h"
#include "modem/keying.h"
#include "modem/receive_path.h"
#include "modem/resample.h"
#include "modem/tx_queue.h"
#include "tools/ptt.h"
#include "tools/sound.h"
#include "tools/tonebox.h"
#include "tools/tonebox_links.h"

namespace tools {

// What the station shows: a snapshot, for a status line or a window.
struct StationStatus {
    bool transmitting = false;  // keyed
    bool soundUp = false;
    double inputPeakDbfs = -120;  // over the last status period
    double inputRmsDbfs = -120;
    bool clipping = false;
    double outputPeakDbfs = -120;  // while transmitting
    std::optional<modem::FrameStats> lastFrame;
    uint64_t modemFrames = 0;  // received
    uint64_t unitsGood = 0;
    uint64_t unitsDropped = 0;      // carried by frames that failed their checks
    uint64_t unitsDelivered = 0;    // written to the receiver
    uint64_t unitsUndelivered = 0;  // good, but the receiver was away
    uint64_t stringsQueued = 0;     // put in the modem's queue
    uint64_t stringsSent = 0;
    uint64_t stringsDropped = 0;  // whole: the mode too slow, "stop", or the time-out
    uint64_t underruns = 0;
    uint64_t overruns = 0;
    bool senderConnected = false;
    bool receiverConnected = false;
    bool refused = false;  // the transmit time-out struck; no keying until "start"
};

struct StationEvents {
    std::function<void(const std::string&)> line;     // something happened
    std::function<void(const std::string&)> verbose;  // detail for --verbose
    std::function<void(int)> finished;                // the station ended with this exit code
    // The waterfall's rows as they are made (0-3000 Hz of what is heard; while transmitting,
    // none); not set: none are made.
    std::function<void(std::vector<modem::WaterfallRow>&&)> spectrum;
    // Each modem frame heard, as the demodulator reported it.
    std::function<void(const modem::FrameStats&)> frame;
};

class Station {
public:
    Station(const ToneboxOptions& options, StationEvents events);
    ~Station();
    Station(const Station&) = delete;
    Station& operator=(const Station&) = delete;

    // Opens the keying device, the sound card and the sender's port. false when the station
    // cannot run (the reason was told); a sound card that is not there yet is no such reason:
    // it is tried again every two seconds.
    bool start();
    // Unkeys at once and ends (a signal, the window closed).
    void shutDown(int code);
    // Keys the transmitter for this long with a steady tone at the transmit level (tuning the
    // rig's drive), or with silence (trying the keying); 0 stops it, unkeying at once.
    void tune(double seconds, bool tone);

    [[nodiscard]] StationStatus status();

private:
    // Sound
    bool openSound();
    void closeSound(const std::string& why);
    void retrySound();
    // Each tick: the receive path, then the transmit path.
    void tick();
    void receive();
    void receiveFile();
    void heard(std::span<const float> audio);
    [[nodiscard]] double inputTime(double sample);
    void transmit();
    void topUp();
    void applyKeying(modem::KeyAction action, const char* why);
    void unkeyNow(const char* why);
    void dropTransmission();
    void armDeadline();
    [[nodiscard]] std::optional<double> idleSince() const;
    void handle(const StreamEvent& e);
    void queueString(std::vector<encoder::Unit> units);

    void say(const std::string& text) const;
    void detail(const std::string& text) const;

    ToneboxOptions options_;
    StationEvents events_;
    bool finishing_ = false;

    Ptt ptt_;
    std::unique_ptr<SoundSystem> sound_;
    SoundStream in_;
    SoundStream out_;
    std::unique_ptr<modem::StreamResampler> up_;  // 8000 Hz -> card
    QTimer tickTimer_;
    QTimer deadlineTimer_;
    QTimer soundRetryTimer_;
    double soundOpenedAt_ = 0;
    std::string lastSoundProblem_;  // told once

    // Transmit
    modem::TxQueue queue_;
    modem::Keying keying_;
    float gain_ = 0.5f;
    uint64_t samplesPushed_ = 0;  // written to the output ring since the stream opened
    bool drained_ = true;         // the resampler's tail is out; nothing more to come
    bool transmitted_ = false;    // something was sent since the last unkey
    double tuneLeft_ = 0;         // seconds of tone still to make
    double tunePhase_ = 0;
    bool tuning_ = false;
    bool tuneSilent_ = false;  // trying the keying: silence, not the tone
    float outPeak_ = 0;

    SenderPort port_;
    FrameStrings strings_;
    QElapsedTimer senderQuiet_;  // since the sender's last bytes

    // Receive: every mode, as the frames' headers say (--mode is what this station sends)
    std::unique_ptr<modem::ReceivePath> rx_;  // while the input is open
    uint64_t rxOrigin_ = 0;                   // the input's sample where rx_ began
    std::vector<float> inBlock_;
    uint64_t samplesRead_ = 0;  // from the input ring
    bool muted_ = false;        // half duplex: transmitting, not listening
    StationStatus stats_;
    ReceiverLink receiver_;
    bool undeliveredReported_ = false;

    // --input-file: a recording heard in real time instead of the card.
    struct FileInput {
        std::vector<float> samples;  // with a second of silence after, to end the last frame
        double rate = 0;
        size_t fed = 0;
        QElapsedTimer clock;
    };
    std::unique_ptr<FileInput> file_;
};

}  // namespace tools
