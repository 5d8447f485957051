#include "receiver/picrx_options.h"

namespace receiver {

namespace {

// "--name VALUE" or "--name=VALUE"; advances i past the value.
std::optional<QString> takeValue(const QStringList& args, qsizetype& i, const QString& name,
                                 std::string& error) {
    const QString& arg = args[i];
    if (arg.startsWith(name + QLatin1Char('='))) return arg.mid(name.size() + 1);
    if (i + 1 >= args.size()) {
        error = name.toStdString() + " needs a value";
        return std::nullopt;
    }
    return args[++i];
}

bool isOption(const QString& arg, const QString& name) {
    return arg == name || arg.startsWith(name + QLatin1Char('='));
}

}  // namespace

PicrxParse parsePicrxOptions(const QStringList& args) {
    PicrxParse parse;
    PicrxOptions& o = parse.options;
    std::string& error = parse.error;
    for (qsizetype i = 0; i < args.size() && error.empty(); ++i) {
        const QString& arg = args[i];
        if (arg == QLatin1String("-h") || arg == QLatin1String("--help")) {
            o.help = true;
        } else if (arg == QLatin1String("--record")) {
            o.record = true;
        } else if (arg == QLatin1String("--verbose")) {
            o.verbose = true;
        } else if (arg == QLatin1String("--defaults")) {
            o.defaults = true;
        } else if (isOption(arg, QStringLiteral("--port"))) {
            const auto value = takeValue(args, i, QStringLiteral("--port"), error);
            if (!value) break;
            bool ok = false;
            const uint port = value->toUInt(&ok);
            if (!ok || port > 65535) {
                error =
                    "--port must be a number from 0 to 65535, not '" + value->toStdString() + "'";
            } else {
                o.port = static_cast<quint16>(port);
            }
        } else if (isOption(arg, QStringLiteral("--listen"))) {
            const auto value = takeValue(args, i, QStringLiteral("--listen"), error);
            if (!value) break;
            if (!o.listen.setAddress(*value)) {
                error = "--listen must be an IP address, not '" + value->toStdString() + "'";
            }
        } else if (isOption(arg, QStringLiteral("--record-dir"))) {
            const auto value = takeValue(args, i, QStringLiteral("--record-dir"), error);
            if (!value) break;
            if (value->isEmpty()) {
                error = "--record-dir needs a folder";
            } else {
                o.recordDir = value->toStdString();
            }
        } else if (isOption(arg, QStringLiteral("--feed"))) {
            const auto value = takeValue(args, i, QStringLiteral("--feed"), error);
            if (value) o.feed = value->toStdString();
        } else if (isOption(arg, QStringLiteral("--screenshot"))) {
            const auto value = takeValue(args, i, QStringLiteral("--screenshot"), error);
            if (value) o.screenshot = value->toStdString();
        } else {
            error = "unknown argument '" + arg.toStdString() + "'";
        }
    }
    return parse;
}

std::string picrxUsage() {
    return "Usage: picrx [options]\n"
           "\n"
           "Wavelet picture decoder: takes the 41-byte units the demodulator writes to a TCP\n"
           "port, shows each good picture with the reception statistics, and records good\n"
           "pictures to \".tv\" movie files.\n"
           "\n"
           "  --port N            listen for the demodulator on port N (999; 0: any free port)\n"
           "  --listen ADDRESS    listen on this address (127.0.0.1)\n"
           "  --record            start recording at launch, as the Record button does\n"
           "  --record-dir DIR    where \".tv\" files go (the current folder)\n"
           "  --defaults          start from the built-in settings, not the remembered ones;\n"
           "                      changes made in this run are still remembered\n"
           "  --feed FILE         take the units of a frame file (vistrel encode) at start-up\n"
           "  --screenshot FILE   save a picture of the window as PNG (after --feed) and end\n"
           "  --verbose           print connections, good frames and the bytes of units the\n"
           "                      stream left incomplete on standard output\n"
           "  -h, --help          show this text\n"
           "\n"
           "The record folder and whether the Record button was left on are remembered in\n"
           "$XDG_CONFIG_HOME/vistrel/picrx.conf (~/.config/vistrel/picrx.conf) and read at\n"
           "start; --record and --record-dir win over them and are remembered too.\n"
           "--screenshot neither reads nor writes that file.\n"
           "\n"
           "Ports below 1024 need privileges on Linux: give the demodulator (tonebox --rx-port)\n"
           "and picrx the same --port above 1023. Esc closes the window; a recording keeps\n"
           "every picture written before.\n";
}

}  // namespace receiver
