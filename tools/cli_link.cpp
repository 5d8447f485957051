// vistrel receive and vistrel send: a receiving station and a sending station without windows,
// on the same demodulator and modulator links as the window programs.

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QTimer>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <string>

#include "encoder/encode_frame.h"
#include "receiver/demod_link.h"
#include "receiver/movie_file.h"
#include "receiver/station.h"
#include "sender/modulator_link.h"
#include "sender/send_controller.h"
#include "sender/still_picture.h"
#include "tools/cli.h"
#include "tools/picture_io.h"

namespace tools {

namespace {

std::atomic<bool> interrupted{false};

extern "C" void onInterrupt(int) { interrupted = true; }

// Ctrl-C and SIGTERM end the event loop at the next poll, so files are closed normally.
void quitOnInterrupt(QTimer& poll) {
    std::signal(SIGINT, onInterrupt);
    std::signal(SIGTERM, onInterrupt);
    // A recording at the file-size limit fails its write (EFBIG) and is reported like a full
    // disk; the signal would end the station instead.
    std::signal(SIGXFSZ, SIG_IGN);
    QObject::connect(&poll, &QTimer::timeout, [] {
        if (interrupted) QCoreApplication::quit();
    });
    poll.start(100);
}

// Letters, digits and "-" stay; every other run of characters becomes one "_".
std::string safeFileNamePart(std::string_view text) {
    std::string out;
    for (const char c : text) {
        const bool keep =
            (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-';
        if (keep) {
            out += c;
        } else if (!out.empty() && out.back() != '_') {
            out += '_';
        }
    }
    while (!out.empty() && out.back() == '_') out.pop_back();
    return out;
}

}  // namespace

int runReceive(const std::vector<std::string_view>& args) {
    constexpr std::string_view kCommand = "receive";
    Options opts(kCommand, args, {"port", "listen", "out", "frames"}, {"record"});
    const int port = opts.integer("port", 0, 65535, receiver::kDemodPort);
    const std::string listen = opts.value("listen").value_or("127.0.0.1");
    const std::filesystem::path outDir = opts.value("out").value_or(".");
    const int stopAfter = opts.integer("frames", 0, 1 << 30, 0);
    QHostAddress address;
    if (opts.ok() && !address.setAddress(QString::fromStdString(listen))) {
        opts.fail("--listen must be an IP address, not '" + listen + "'");
    }
    opts.expectPositional(0, "takes no positional arguments");
    if (opts.reportIfFailed()) return kExitUsage;
    std::error_code ec;
    std::filesystem::create_directories(outDir, ec);
    if (ec) {
        reportError(kCommand, "cannot create '" + outDir.string() + "': " + ec.message());
        return kExitFailure;
    }

    receiver::DemodLink link;
    const receiver::ListenResult listening =
        link.listen({address, static_cast<quint16>(port), receiver::kDemodIdleMs});
    if (!listening.ok) {
        std::fprintf(stderr, "%s\n", listening.message.toLocal8Bit().constData());
        return kExitFailure;
    }
    receiver::Station station;
    receiver::RecorderState& recorder = station.recorder;
    if (opts.flag("record")) {
        if (const auto r = receiver::startRecording(recorder, receiver::localNow(), outDir);
            !r.ok) {
            reportError(kCommand, r.error);
            return kExitFailure;
        }
        std::printf("recording to %s\n", recorder.path.c_str());
    }
    std::printf("listening on %s port %u for the demodulator (Ctrl-C ends)\n", listen.c_str(),
                static_cast<unsigned>(link.port()));
    std::fflush(stdout);

    const receiver::ReceiverState& state = station.receiver;
    int goodFrames = 0;
    int failures = 0;
    std::string label;  // the latest header's label: the sender's callsign and source name
    const auto apply = [&](const receiver::StationStep& step) {
        const receiver::ReceiveUpdate& update = step.update;
        if (update.labelLine) label = *update.labelLine;
        if (update.decode == receiver::DecodeOutcome::Failed) {
            std::printf("a frame failed its check; waiting for more of it\n");
        }
        if (!update.picture) return;
        ++goodFrames;
        const receiver::ReceivedPicture& got = *update.picture;
        const auto counter = state.counterBytes.value_or(std::array<uint8_t, 2>{0, 0});
        const int counterValue = counter[0] + 256 * counter[1];
        const std::string name =
            QDateTime::currentDateTimeUtc().toString("yyyyMMdd-HHmmss'Z'").toStdString() + "_" +
            std::to_string(counterValue) + "_" + safeFileNamePart(label) + ".png";
        const std::filesystem::path path = outDir / name;
        if (const FileResult r = writePng(path, sender::imageFromPicture(got.picture)); !r.ok) {
            reportError(kCommand, r.error);
            ++failures;
        }
        if (!step.recordResult.ok) {
            reportError(kCommand, step.recordResult.error);
            ++failures;
        }
        std::printf("good frame %d: %d x %d, saved as %s\n", goodFrames, got.frameSize,
                    got.frameSize, path.c_str());
        if (update.statusLabel) printWindowText(*update.statusLabel);
        if (recorder.recording) std::printf("%s\n", recorder.label.c_str());
        std::fflush(stdout);
        if (stopAfter > 0 && goodFrames >= stopAfter) QCoreApplication::quit();
    };
    QObject::connect(&link, &receiver::DemodLink::unitReceived, [&](const encoder::Unit& unit) {
        apply(receiver::receiveUnit(station, unit));
    });
    QObject::connect(&link, &receiver::DemodLink::unitsPaused,
                     [&] { apply(receiver::endFrame(station)); });
    QObject::connect(&link, &receiver::DemodLink::clientConnected, [](const QString& peer) {
        std::printf("demodulator connected from %s\n", peer.toLocal8Bit().constData());
        std::fflush(stdout);
    });
    // Bytes of a unit the demodulator left incomplete: rare, and the reason frames may be lost.
    QObject::connect(&link, &receiver::DemodLink::unitBytesDropped,
                     [&link](int bytes, receiver::UnitDrop reason) {
                         const QString text =
                             receiver::unitDropText(reason, bytes, link.realignMs(),
                                                    link.bytesDropped(), link.realignments());
                         std::printf("%s\n", text.toLocal8Bit().constData());
                         std::fflush(stdout);
                     });
    QTimer poll;
    quitOnInterrupt(poll);
    QCoreApplication::exec();

    if (stopAfter == 0 || goodFrames < stopAfter) apply(receiver::endFrame(station));
    link.close();
    if (recorder.recording) (void)receiver::stopRecording(recorder);
    std::printf("%d good frame%s received\n", goodFrames, goodFrames == 1 ? "" : "s");
    return failures == 0 ? kExitOk : kExitFailure;
}

int runSend(const std::vector<std::string_view>& args) {
    constexpr std::string_view kCommand = "send";
    std::vector<std::string_view> valued = kEncodeOptions;
    // kEncodeOptions has --speed already: here it is the timers' scale, and the AV1 encoder's
    // speed is --av1-speed.
    valued.insert(valued.end(), {"tonebox-port", "frames", "av1-speed"});
    std::vector<std::string_view> flags = kEncodeFlags;
    flags.push_back("no-tonebox");
    Options opts(kCommand, args, valued, flags);
    encoder::EncoderSettings settings = encoderSettings(opts, "av1-speed");
    const int port = opts.integer("tonebox-port", 1, 65535, sender::kModulatorPort);
    const int frames = opts.integer("frames", 1, 1 << 30, 1);
    const double speed = opts.number("speed", 0.01, 10000.0, 1.0);
    opts.expectPositional(1, "expected one INPUT picture");
    if (opts.reportIfFailed()) return kExitUsage;
    const std::string& input = opts.positional().front();
    const auto source = loadSourcePicture(kCommand, input, opts);
    if (!source) return kExitUsage;
    settings.sourceKind = encoder::SourceKind::Still;
    settings.sourcePath = input;

    sender::ModulatorLinkSettings linkSettings;
    linkSettings.port = static_cast<quint16>(port);
    sender::ModulatorLink link(linkSettings);
    sender::SendController controller;
    encoder::EncoderState encoderState;
    QTimer sendTimer;
    sendTimer.setSingleShot(true);
    // Never early: the period is the frame's air time and a 200 ms margin.
    sendTimer.setTimerType(Qt::PreciseTimer);
    int sent = 0;
    int status = kExitOk;
    bool finishing = false;
    int notSent = 0;          // frames that never reached the link
    bool frameWaits = false;  // a frame waits for the connection under way
    QElapsedTimer downFor;    // since the link went down, for the line when it is back
    const auto linkLine = [](const std::string& line) {
        std::fprintf(stderr, "modulator link: %s\n", line.c_str());
        std::fflush(stderr);
    };

    // After the last frame has had its air time: unkey, end the modulator, and quit once the
    // commands have left.
    const auto finish = [&] {
        finishing = true;
        const sender::TransmitChange off = controller.toggleTransmit();
        link.sendCommand(off.command);
        link.sendCommand(sender::ModulatorCommand::Exit);
        if (link.bytesQueued() == 0) QCoreApplication::quit();
    };
    const auto sendOne = [&] {
        if (sent == frames) {
            finish();
            return;
        }
        // A frame is due: a link that went down is tried again, once per frame period.
        if (link.reopenIfDown()) linkLine("down; connecting again for this frame");
        settings.transmit = controller.transmitting();
        const encoder::EncodeResult result =
            encoder::ENCODEFRAME(settings, *source, encoderState, encoder::kEncodeSend);
        const sender::TimerPlan plan = controller.frameEncoded(result, encoder::kEncodeSend, false);
        if (result.error == encoder::EncodeError::TooLarge) {
            for (const std::string& line : result.failureLines) {
                std::fprintf(stderr, "%s\n", line.c_str());
            }
            status = kExitRejected;
            finish();
            return;
        }
        const sender::LinkState linkState = link.state();
        if (plan.sendFrame) link.sendFrame(result.frame);
        ++sent;
        if (linkState == sender::LinkState::Connecting) frameWaits = true;
        if (linkState == sender::LinkState::Down) ++notSent;
        const char* outcome = linkState == sender::LinkState::Up           ? "sent"
                              : linkState == sender::LinkState::Connecting ? "waiting for the link"
                                                                           : "not sent, link down";
        std::printf("frame %d of %d %s: counter %u, %zu bytes; %s\n", sent, frames, outcome,
                    static_cast<unsigned>(encoderState.frameCounter), result.frame.size(),
                    result.status.c_str());
        std::fflush(stdout);
        sendTimer.start(static_cast<int>(plan.sendTimerMs / speed));
    };
    QObject::connect(&sendTimer, &QTimer::timeout, sendOne);
    QObject::connect(&link, &sender::ModulatorLink::opened, [&] {
        frameWaits = false;
        if (link.timesOpened() > 1) {
            // Back after a restart of the modulator: it hears "start" again, then the frame
            // that was waiting for the link.
            linkLine("up again on port " + std::to_string(port) + " after " +
                     std::to_string(downFor.elapsed()) + " ms down");
            link.sendCommand(sender::ModulatorCommand::Start);
            return;
        }
        std::printf("connected to the modulator on port %d\n", port);
        const sender::TransmitChange on = controller.toggleTransmit();
        link.sendCommand(on.command);
        sendOne();
    });
    QObject::connect(
        &link, &sender::ModulatorLink::openFailed,
        [&](const QString& message, const QString& reason) {
            if (link.timesOpened() > 0) {
                notSent += frameWaits ? 1 : 0;
                frameWaits = false;
                linkLine("down (" + reason.toStdString() + "); trying again with the next frame");
                return;
            }
            std::fprintf(stderr, "%s (%s)\n", message.toLocal8Bit().constData(),
                         reason.toLocal8Bit().constData());
            status = kExitFailure;
            QCoreApplication::quit();
        });
    QObject::connect(&link, &sender::ModulatorLink::queueDrained, [&] {
        if (finishing) QCoreApplication::quit();
    });
    QObject::connect(&link, &sender::ModulatorLink::peerClosed, [&] {
        if (finishing) {
            QCoreApplication::quit();
            return;
        }
        downFor.start();
        linkLine("down: the modulator closed it; trying again with the next frame");
    });
    if (opts.flag("no-tonebox")) {
        link.open();
    } else {
        const sender::StartResult started = link.startModulator(0);
        if (!started.started) {
            reportError(kCommand, "cannot find tonebox beside vistrel or on PATH");
            return kExitFailure;
        }
        std::printf("started %s\n", started.program.toLocal8Bit().constData());
    }
    QTimer poll;
    quitOnInterrupt(poll);
    QCoreApplication::exec();
    link.close();
    if (notSent > 0 && status == kExitOk) {
        reportError(kCommand, std::to_string(notSent) + " of " + std::to_string(sent) +
                                  " frames not sent: the modulator link was down");
        status = kExitFailure;
    }
    return status;
}

}  // namespace tools
