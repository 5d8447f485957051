// tonebox_screenshots DIR RECORDING.wav: the documentation's pictures of tonebox's window,
// drawn on any Qt platform (offscreen needs no display). The window hears the recording (twice
// as fast as real time) and feeds a stand-in receiver; it is drawn once most of the modem
// frames have been heard, then the settings dialog is drawn.

#include <QApplication>
#include <QDir>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>
#include <functional>

#include "tools/tonebox_settings.h"
#include "tools/tonebox_window.h"

namespace {

constexpr int kGiveUpMs = 120000;

bool save(QWidget& widget, const QString& path) {
    if (!widget.grab().save(path)) {
        std::fprintf(stderr, "tonebox_screenshots: cannot write %s\n", qPrintable(path));
        return false;
    }
    std::printf("%s\n", qPrintable(path));
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: tonebox_screenshots DIR RECORDING.wav\n");
        return 2;
    }
    const QString dir = QString::fromLocal8Bit(argv[1]);
    // A stand-in for picrx: takes the units and throws them away.
    QTcpServer receiver;
    if (!receiver.listen(QHostAddress::LocalHost, 0)) return 1;
    QObject::connect(&receiver, &QTcpServer::newConnection, [&receiver] {
        while (QTcpSocket* s = receiver.nextPendingConnection()) {
            QObject::connect(s, &QTcpSocket::readyRead, s, [s] { s->readAll(); });
        }
    });
    QTemporaryDir config;  // the dialog's Save is not pressed; nothing is written
    tools::ToneboxOptions options;
    options.inputFile = argv[2];
    options.inputPace = 2.0;
    options.rxPort = receiver.serverPort();
    options.window = true;
    tools::ToneboxWindow window(options, config.filePath("tonebox.conf").toStdString());
    window.show();
    if (!window.startStation()) return 1;
    int result = 1;
    std::function<void()> shoot;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        const auto& shown = window.shown();
        if (shown.frames.size() < 6 && !shown.finished) return;
        poll.stop();
        // The totals come with the next status, a moment after the frame.
        QTimer::singleShot(250, [&] { shoot(); });
    });
    shoot = [&] {
        bool ok = save(window, QDir(dir).filePath("tonebox-receiving.png"));
        // The dialog as a new station first sees it (the window's runs on the stand-in's port).
        auto* settings = new tools::ToneboxSettingsDialog(
            tools::ToneboxOptions{}, {}, "~/.config/vistrel/tonebox.conf", {}, &window);
        settings->show();
        settings->adjustSize();
        QTimer::singleShot(300, [&, settings, ok]() mutable {
            ok = save(*settings, QDir(dir).filePath("tonebox-settings.png")) && ok;
            settings->reject();
            result = ok ? 0 : 1;
            window.close();
            QApplication::quit();
        });
    };
    poll.start(50);
    QTimer::singleShot(kGiveUpMs, [] {
        std::fprintf(stderr, "tonebox_screenshots: the recording gave no frames\n");
        QApplication::exit(1);
    });
    const int code = QApplication::exec();
    return code != 0 ? code : result;
}
