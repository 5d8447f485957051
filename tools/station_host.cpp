#include "tools/station_host.h"

#include <QMetaObject>
#include <QTimer>

#include "tools/sound.h"

namespace tools {

StationHost::StationHost(QObject* context, StationFeed feed, int statusMs)
    : context_(context), feed_(std::move(feed)), statusMs_(statusMs) {
    worker_ = std::make_unique<QObject>();
    worker_->moveToThread(&thread_);
    thread_.setObjectName(QStringLiteral("station"));
    thread_.start(QThread::TimeCriticalPriority);
}

StationHost::~StationHost() {
    QMetaObject::invokeMethod(
        worker_.get(), [this] { endStation(); }, Qt::BlockingQueuedConnection);
    thread_.quit();
    thread_.wait();
}

// The window asked for it, so it is not told that the station finished.
void StationHost::endStation() {
    statusTimer_.reset();
    ending_ = true;
    if (station_) station_->shutDown(0);
    station_.reset();
    ending_ = false;
}

bool StationHost::start(const ToneboxOptions& options) {
    bool started = false;
    // What the station says is handed to the context's thread; a call still queued when the
    // context is gone is dropped by Qt.
    auto post = [context = context_](std::function<void()> call) {
        QMetaObject::invokeMethod(context, std::move(call), Qt::QueuedConnection);
    };
    StationEvents events;
    events.line = [post, line = feed_.line](const std::string& text) {
        if (line) post([line, text] { line(text); });
    };
    events.verbose = events.line;
    if (feed_.rows) {
        events.spectrum = [post, rows = feed_.rows](std::vector<modem::WaterfallRow>&& made) {
            post([rows, made = std::move(made)]() mutable { rows(std::move(made)); });
        };
    }
    events.frame = [post, frame = feed_.frame](const modem::FrameStats& f) {
        if (frame) post([frame, f] { frame(f); });
    };
    events.finished = [this, post, finished = feed_.finished, status = feed_.status](int code) {
        // Called inside the station: it is deleted later, not from within itself.
        statusTimer_.reset();
        if (ending_) return;
        if (status && station_) post([status, s = station_->status()] { status(s); });
        post([this, finished, code] {
            running_ = false;
            if (finished) finished(code);
        });
    };
    QMetaObject::invokeMethod(
        worker_.get(),
        [&] {
            endStation();
            station_ = std::make_unique<Station>(options, events);
            started = station_->start();
            if (!started) {
                station_.reset();
                return;
            }
            statusTimer_ = std::make_unique<QTimer>();
            QObject::connect(statusTimer_.get(), &QTimer::timeout,
                             [this, post, status = feed_.status] {
                                 if (!station_ || !status) return;
                                 const StationStatus s = station_->status();
                                 post([status, s] { status(s); });
                             });
            statusTimer_->start(statusMs_);
        },
        Qt::BlockingQueuedConnection);
    running_ = started;
    return started;
}

void StationHost::stop() {
    QMetaObject::invokeMethod(
        worker_.get(), [this] { endStation(); }, Qt::BlockingQueuedConnection);
    running_ = false;
}

std::vector<SoundDeviceInfo> StationHost::devices() {
    std::vector<SoundDeviceInfo> list;
    QMetaObject::invokeMethod(
        worker_.get(),
        [&list] {
            const SoundSystem sound;
            if (sound.ok()) list = sound.devices();
        },
        Qt::BlockingQueuedConnection);
    return list;
}

void StationHost::tune(double seconds, bool tone) {
    QMetaObject::invokeMethod(worker_.get(), [this, seconds, tone] {
        if (station_) station_->tune(seconds, tone);
    });
}

}  // namespace tools
