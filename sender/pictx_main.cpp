// pictx: the sender's window. Encodes the still picture, movie frame or webcam picture on show
// and hands each frame to the modulator program (tonebox) over its TCP link.

#include <QApplication>
#include <QImage>
#include <QTimer>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "encoder/test_pictures.h"
#include "packaging/app_icon.h"
#include "sender/main_window.h"
#include "sender/screenshots.h"
#include "sender/source_pages.h"
#include "sender/still_picture.h"

namespace {

std::atomic<bool> interrupted{false};

extern "C" void onInterrupt(int) { interrupted = true; }

constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;
constexpr const char* kScreenshotCamera = "lavfi:testsrc=size=320x240:rate=1";

constexpr std::string_view kUsage =
    "Usage: pictx [options]\n"
    "\n"
    "The sender's window: encodes the still picture, movie frame or webcam picture\n"
    "on show and, with the transmit switch on, hands each frame to the modulator\n"
    "program (tonebox) over TCP, one frame per frame period.\n"
    "\n"
    "  --tonebox-port N    the modulator's TCP port (998); the modulator that pictx\n"
    "                      starts is given \"--port N\" after the window id when N\n"
    "                      is not 998\n"
    "  --no-tonebox        start no tonebox; connect to one already running\n"
    "  --picture FILE      load a still picture at start (BMP, GIF, JPEG, PNG, TIFF,\n"
    "                      WebP)\n"
    "  --movie FILE        open a movie on the Movie page at start\n"
    "  --camera DEVICE     capture device of the Webcam page (/dev/video0); \"none\"\n"
    "                      for none, \"lavfi:testsrc\" for FFmpeg's test picture\n"
    "  --transmit          turn the transmit switch on at start\n"
    "  --speed X           send X times faster than the air's 250 bytes per second\n"
    "                      (1); above 1 for demonstrations with tonebox --simulate,\n"
    "                      below 1 (0.6) on the air with tonebox --mode robust\n"
    "  --defaults          start from the built-in settings, not the remembered ones;\n"
    "                      changes made in this run are still remembered\n"
    "  --screenshot DIR    for the documentation: save the window with each source\n"
    "                      tab as pictx-still.png, pictx-movie.png and\n"
    "                      pictx-webcam.png in DIR, then end; no link is opened, the\n"
    "                      offscreen platform is used, the still page shows the\n"
    "                      test card unless --picture is given and the webcam page\n"
    "                      FFmpeg's test picture unless --camera is given\n"
    "  -h, --help          show this text\n"
    "\n"
    "The callsign, message, comport, frame size, wavelet (or AV1) and AV1 chroma,\n"
    "quantiser, threshold, chroma subsampling, RS syndromes, aspect, source tab and\n"
    "movie frame rate are remembered in $XDG_CONFIG_HOME/vistrel/pictx.conf\n"
    "(~/.config/vistrel/pictx.conf) whenever they change, and read at start.\n"
    "--picture shows the Still picture tab and --movie the Movie tab, whatever tab\n"
    "was remembered.\n"
    "\n"
    "When the modulator ends or restarts, the link is tried again with each frame;\n"
    "the line under the transmit switch shows its state.\n"
    "\n"
    "Ports below 1024 need privileges on Linux: the Debian package lets tonebox\n"
    "open 998; otherwise give tonebox --port N and pictx --tonebox-port N.\n";

struct Arguments {
    bool help = false;
    int toneboxPort = sender::kModulatorPort;
    bool noTonebox = false;
    std::optional<std::string> picture;
    std::optional<std::string> movie;
    std::optional<std::string> camera;
    bool transmit = false;
    double speed = 1.0;
    bool defaults = false;
    std::optional<std::string> screenshotDir;
    std::string error;
};

std::optional<int> portNumber(std::string_view text) {
    if (text.empty() || text.size() > 5) return std::nullopt;
    int value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + (c - '0');
    }
    if (value < 1 || value > 65535) return std::nullopt;
    return value;
}

Arguments parseArguments(const std::vector<std::string_view>& args) {
    Arguments a;
    for (size_t i = 0; i < args.size() && a.error.empty(); ++i) {
        std::string_view arg = args[i];
        std::optional<std::string_view> inlineValue;
        if (const size_t eq = arg.find('=');
            arg.starts_with("--") && eq != std::string_view::npos) {
            inlineValue = arg.substr(eq + 1);
            arg = arg.substr(0, eq);
        }
        const auto value = [&]() -> std::optional<std::string> {
            if (inlineValue) return std::string(*inlineValue);
            if (i + 1 < args.size()) return std::string(args[++i]);
            a.error = std::string(arg) + " needs a value";
            return std::nullopt;
        };
        if (arg == "-h" || arg == "--help") {
            a.help = true;
        } else if (arg == "--no-tonebox") {
            a.noTonebox = true;
        } else if (arg == "--transmit") {
            a.transmit = true;
        } else if (arg == "--defaults") {
            a.defaults = true;
        } else if (arg == "--tonebox-port") {
            if (const auto v = value()) {
                if (const auto port = portNumber(*v)) {
                    a.toneboxPort = *port;
                } else {
                    a.error = "--tonebox-port must be a port number 1..65535, not '" + *v + "'";
                }
            }
        } else if (arg == "--speed") {
            if (const auto v = value()) {
                char* end = nullptr;
                const double speed = std::strtod(v->c_str(), &end);
                if (v->empty() || *end != '\0' || !(speed >= 0.01 && speed <= 10000.0)) {
                    a.error = "--speed must be a number from 0.01 to 10000, not '" + *v + "'";
                } else {
                    a.speed = speed;
                }
            }
        } else if (arg == "--picture") {
            a.picture = value();
        } else if (arg == "--movie") {
            a.movie = value();
        } else if (arg == "--camera") {
            a.camera = value();
        } else if (arg == "--screenshot") {
            a.screenshotDir = value();
        } else {
            a.error = "unknown argument '" + std::string(arg) + "'";
        }
    }
    return a;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string_view> args(argv + 1, argv + argc);
    const Arguments a = parseArguments(args);
    if (!a.error.empty()) {
        std::fprintf(stderr, "pictx: %s (see pictx --help)\n", a.error.c_str());
        return kExitUsage;
    }
    if (a.help) {
        std::fwrite(kUsage.data(), 1, kUsage.size(), stdout);
        return kExitOk;
    }
    // Files named on the command line are checked before any window system is needed.
    for (const auto& [option, file] : {std::pair{"picture", &a.picture}, {"movie", &a.movie}}) {
        std::error_code ec;
        if (*file && !std::filesystem::is_regular_file(**file, ec)) {
            std::fprintf(stderr, "pictx: --%s: no such file '%s'\n", option, (*file)->c_str());
            return kExitUsage;
        }
    }
    if (a.screenshotDir && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    int qtArgc = 1;
    QApplication app(qtArgc, argv);
    QApplication::setWindowIcon(packaging::vistrelIcon());

    sender::MainWindowOptions options;
    options.link.port = static_cast<quint16>(a.toneboxPort);
    options.startModulator = !a.noTonebox;
    options.airSpeed = a.speed;
    options.openLink = !a.screenshotDir;
    std::string camera =
        a.camera.value_or(a.screenshotDir ? kScreenshotCamera : media::kDefaultCaptureDevice);
    if (camera == "none") camera.clear();
    options.captureDevice = camera;
    // The documentation's pictures show the built-in settings and change nothing remembered.
    options.rememberSettings = !a.screenshotDir;
    if (!a.screenshotDir) options.initial = sender::startUpSettings(a.defaults);
    sender::showNamedSource(options.initial, a.picture.has_value(), a.movie.has_value());
    sender::MainWindow window(std::move(options));

    if (a.picture) {
        if (const QString error = window.loadStill(QString::fromStdString(*a.picture));
            !error.isEmpty()) {
            std::fprintf(stderr, "pictx: %s\n", qPrintable(error));
            return kExitUsage;
        }
    }
    if (a.movie) {
        if (const media::MediaResult opened = window.openMovie(QString::fromStdString(*a.movie));
            !opened.ok) {
            std::fprintf(stderr, "pictx: %s\n", opened.error.c_str());
            return kExitUsage;
        }
    }

    if (a.screenshotDir) {
        if (!a.picture) {
            window.stillPage()->setStill(sender::imageFromSource(encoder::testCard()));
        }
        const sender::ScreenshotResult shots =
            sender::writeScreenshots(window, QString::fromStdString(*a.screenshotDir));
        for (const QString& path : shots.written) std::printf("%s\n", qPrintable(path));
        if (!shots.error.isEmpty()) {
            std::fprintf(stderr, "pictx: %s\n", qPrintable(shots.error));
            return kExitFailure;
        }
        return kExitOk;
    }

    window.show();
    window.start();
    if (a.transmit) window.setTransmit(true);
    // Ctrl-C and SIGTERM close the window as its close button would, so the modulator hears
    // "exit" and the transmitter is unkeyed.
    std::signal(SIGINT, onInterrupt);
    std::signal(SIGTERM, onInterrupt);
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &window, [&window] {
        if (interrupted) window.close();
    });
    poll.start(200);
    return QApplication::exec();
}
