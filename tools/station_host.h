#pragma once

// A Station on a thread of its own, for the window: the sound card's audio is taken, heard and
// sent there, so that drawing never holds it up, and everything the station says reaches the
// window's thread as queued calls. The window only draws what arrives here.

#include <QObject>
#include <QThread>
#include <QTimer>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "modem/demodulator.h"
#include "modem/waterfall.h"
#include "tools/station.h"
#include "tools/tonebox.h"

namespace tools {

// Called on the thread of the context object given to StationHost.
struct StationFeed {
    std::function<void(const std::string&)> line;
    std::function<void(const StationStatus&)> status;  // every statusMs
    std::function<void(std::vector<modem::WaterfallRow>&&)> rows;
    std::function<void(const modem::FrameStats&)> frame;
    std::function<void(int)> finished;  // the station ended (exit code)
};

class StationHost {
public:
    StationHost(QObject* context, StationFeed feed, int statusMs = 100);
    ~StationHost();  // the station, if running, is shut down (unkeyed) first
    StationHost(const StationHost&) = delete;
    StationHost& operator=(const StationHost&) = delete;

    // Starts a station with these options, ending the one running first. Waits for it to have
    // started; false when it could not (the reason came as a line).
    bool start(const ToneboxOptions& options);
    // Ends the running station (unkeying); finished is not called for it.
    void stop();
    void tune(double seconds, bool tone);
    [[nodiscard]] bool running() const { return running_; }
    // The sound devices PortAudio lists (asked on the station's thread, where PortAudio runs).
    [[nodiscard]] std::vector<SoundDeviceInfo> devices();

private:
    void endStation();  // on the station's thread

    QObject* context_;
    StationFeed feed_;
    int statusMs_;
    QThread thread_;
    std::unique_ptr<QObject> worker_;  // lives on thread_; the station's calls are queued to it
    // Touched on thread_ only:
    std::unique_ptr<Station> station_;
    std::unique_ptr<QTimer> statusTimer_;
    bool ending_ = false;
    bool running_ = false;  // the GUI thread's view
};

}  // namespace tools
