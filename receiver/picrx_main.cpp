// picrx: the receiver's window around the station core, the demodulator link and the recorder.

#include <QApplication>
#include <QDateTime>
#include <QFile>
#include <QMessageBox>
#include <QPixmap>
#include <csignal>
#include <cstdio>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "encoder/frame_format.h"
#include "packaging/app_icon.h"
#include "receiver/main_window.h"
#include "receiver/picrx_options.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

void fail(const std::string& message) { std::fprintf(stderr, "picrx: %s\n", message.c_str()); }

// The whole file as units; a length that is not a whole number of units is refused, since
// the cut could be anywhere and every unit after it would be misread.
bool readUnits(const std::filesystem::path& path, std::vector<encoder::Unit>& units) {
    QFile file(QString::fromStdString(path.string()));
    if (!file.open(QIODevice::ReadOnly)) {
        fail("cannot read " + path.string() + ": " + file.errorString().toStdString());
        return false;
    }
    const QByteArray bytes = file.readAll();
    if (bytes.isEmpty() || bytes.size() % encoder::kUnitBytes != 0) {
        fail(path.string() + " is not a frame file: " + std::to_string(bytes.size()) +
             " bytes, not a whole number of " + std::to_string(encoder::kUnitBytes) +
             "-byte units");
        return false;
    }
    units.resize(static_cast<size_t>(bytes.size()) / encoder::kUnitBytes);
    for (size_t i = 0; i < units.size(); ++i) {
        std::copy_n(bytes.constData() + i * encoder::kUnitBytes, encoder::kUnitBytes,
                    units[i].begin());
    }
    return true;
}

void say(const QString& line) {
    const QString stamp = QTime::currentTime().toString(QStringLiteral("HH:mm:ss.zzz"));
    std::printf("picrx %s: %s\n", stamp.toLocal8Bit().constData(), line.toLocal8Bit().constData());
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    // A recording that reaches the file-size limit fails its write with EFBIG, which the
    // recorder reports and survives as it does a full disk; the signal would end the program.
    std::signal(SIGXFSZ, SIG_IGN);
    // Read before any window exists, so --help and mistakes need no display.
    QStringList arguments;
    for (int i = 1; i < argc; ++i) arguments << QString::fromLocal8Bit(argv[i]);
    const receiver::PicrxParse parse = receiver::parsePicrxOptions(arguments);
    if (!parse.error.empty()) {
        fail(parse.error + " (see picrx --help)");
        return kExitUsage;
    }
    const receiver::PicrxOptions& options = parse.options;
    if (options.help) {
        const std::string usage = receiver::picrxUsage();
        std::fwrite(usage.data(), 1, usage.size(), stdout);
        return kExitOk;
    }
    std::vector<encoder::Unit> feed;
    if (options.feed && !readUnits(*options.feed, feed)) return kExitFailure;
    if (!options.recordDir.empty()) {
        std::error_code ec;
        std::filesystem::create_directories(options.recordDir, ec);
        if (ec) {
            fail("cannot create " + options.recordDir.string() + ": " + ec.message());
            return kExitFailure;
        }
    }
    // A picture of the window for scripts and the documentation: the built-in settings, and
    // nothing remembered.
    const bool remember = !options.screenshot;
    receiver::PicrxStart start;
    if (remember) {
        start = receiver::startUpSettings(options);
    } else {
        start.settings.recordDir = options.recordDir;
        start.settings.record = options.record;
    }
    // A remembered folder that has gone is made again, as --record-dir's is; one that cannot be
    // made leaves the recordings in the current folder this time.
    if (options.recordDir.empty() && !start.settings.recordDir.empty()) {
        std::error_code ec;
        std::filesystem::create_directories(start.settings.recordDir, ec);
        if (ec) {
            fail("cannot create the remembered record folder " + start.settings.recordDir.string() +
                 ": " + ec.message() + "; recording into the current folder");
            start.settings.recordDir.clear();
        }
    }

    // A picture of the window needs no display.
    if (options.screenshot && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    QApplication::setWindowIcon(packaging::vistrelIcon());
    receiver::WindowSettings settings;
    settings.link.address = options.listen;
    settings.link.port = options.port;
    settings.recordDir = start.settings.recordDir;
    settings.record = start.settings.record;
    settings.remember = remember;
    settings.onFile = receiver::picrxConfigText(start.file);
    receiver::MainWindow window(settings);
    // What the command line changed is remembered before anything is said on stdout.
    window.rememberSettings();

    const receiver::ListenResult listening = window.openLink();
    if (!listening.ok) fail(listening.message.toStdString());
    if (options.verbose) {
        if (listening.ok) {
            say(QStringLiteral("listening on %1 port %2")
                    .arg(window.link().address().toString())
                    .arg(window.link().port()));
        }
        QObject::connect(&window.link(), &receiver::DemodLink::clientConnected,
                         [](const QString& peer) { say(QStringLiteral("demodulator ") + peer); });
        // Bytes of a unit the stream left incomplete, dropped at a pause (the stream realigns)
        // or with the connection: a demodulator that writes whole units never causes them.
        QObject::connect(&window.link(), &receiver::DemodLink::unitBytesDropped,
                         [&window](int bytes, receiver::UnitDrop reason) {
                             const receiver::DemodLink& link = window.link();
                             say(receiver::unitDropText(reason, bytes, link.realignMs(),
                                                        link.bytesDropped(), link.realignments()));
                         });
        // The recorder label once per change: the count while recording, and once the reason a
        // recording ended (a full disk), which the window shows in the same place.
        auto recorderSaid = std::make_shared<std::string>();
        QObject::connect(&window, &receiver::MainWindow::pictureShown,
                         [&window, recorderSaid](int count) {
                             const receiver::Station& s = window.station();
                             say(QStringLiteral("good frame %1 shown (%2 x %2)")
                                     .arg(count)
                                     .arg(s.receiver.frameSize));
                             if (s.recorder.label != *recorderSaid) {
                                 *recorderSaid = s.recorder.label;
                                 say(QString::fromStdString(s.recorder.label));
                             }
                         });
    }
    if (settings.record) {
        window.recordAtStart();
        if (!window.station().recorder.recording) fail(window.station().recorder.label);
    }
    for (const encoder::Unit& unit : feed) window.takeUnit(unit);
    if (!feed.empty()) window.takeFrameEnd();

    if (options.screenshot) {
        const QString file = QString::fromStdString(options.screenshot->string());
        if (!window.grab().save(file, "PNG")) {
            fail("cannot write " + options.screenshot->string());
            return kExitFailure;
        }
        return kExitOk;
    }

    window.show();
    if (!listening.ok) {
        QMessageBox box(QMessageBox::Warning, window.windowTitle(), listening.message,
                        QMessageBox::Ok, &window);
        box.setWindowModality(Qt::ApplicationModal);
        box.exec();
    }
    return QApplication::exec();
}
