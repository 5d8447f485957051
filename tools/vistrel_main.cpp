// vistrel: the codec and the frame pipeline from a terminal, without a window.

#include <QGuiApplication>
#include <algorithm>
#include <cstdio>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "codec/lzw.h"
#include "tools/cli.h"
#include "tools/file_io.h"

namespace {

using tools::kExitFailure;
using tools::kExitOk;
using tools::kExitUsage;

constexpr std::string_view kUsage =
    "Usage: vistrel COMMAND [ARGUMENTS]\n"
    "\n"
    "Commands:\n"
    "  encode INPUT -o FRAME [options]\n"
    "                  encode a picture (any format Qt reads) into a frame string\n"
    "      --size 48|64|96|128|256      frame size in pixels (64)\n"
    "      --codec wavelet|av1          picture codec (wavelet); AV1 frames show only on\n"
    "                                   receivers that know them\n"
    "      --syndromes 4..254           Reed-Solomon parity bytes per codeword (32)\n"
    "      --callsign TEXT              start of the header label\n"
    "      --message TEXT               short message, up to 38 characters\n"
    "      --counter 0..65535           frame counter the header carries (0)\n"
    "      --preserve-aspect            fit the picture instead of stretching it\n"
    "      --preview PNG                also write the picture a receiver will decode\n"
    "      --air-time SECONDS           choose wavelet, factors, quantiser and threshold for the\n"
    "                                   best picture whose frame fits SECONDS at 250 bytes/s;\n"
    "                                   with --codec av1, the finest quality that fits\n"
    "    with --codec wavelet (the default):\n"
    "      --wavelet haar|d4|cdf97      transform (cdf97)\n"
    "      --red 2|4, --blue 2|4        chroma subsampling factors (4, 4)\n"
    "      --quantiser 1..65            quantiser; step = 16 + quantiser (1)\n"
    "      --threshold 0..100           zero smaller coefficients (0; 30 with --size 256)\n"
    "    with --codec av1:\n"
    "      --quality 0..63              AV1 quality; lower is sharper (32)\n"
    "      --chroma 444|420             chroma sampling, 4:4:4 or 4:2:0 (444)\n"
    "      --speed 0..9                 AV1 encoder speed (6); 2 is slower and a little\n"
    "                                   sharper, for stills\n"
    "  testcard PNG    write the generated 256 x 256 colour test card\n"
    "  decode FRAME... -o PNG [--record TV]\n"
    "                  run frame strings through the receiver as consecutive frames; write the\n"
    "                  last decoded picture as PNG, append every good frame to the .tv movie\n"
    "                  TV, print the receiver's status lines (exit 1 when nothing decoded)\n"
    "  simulate INPUT [encode options] [--frames K] [--loss P] [--byte-errors Q]\n"
    "          [--burst LEN] [--seed S] [--out DIR]\n"
    "                  send K frames of a picture through a simulated radio channel into the\n"
    "                  receiver; per frame: units lost, when it decoded, PSNR against the\n"
    "                  sender's preview. P and Q are 0..1 or percentages (\"5%\"); LEN is the\n"
    "                  mean run of lost units (bursts); DIR keeps the pictures and received.tv\n"
    "  receive [--port N] [--listen ADDRESS] [--out DIR] [--record] [--frames K]\n"
    "                  a receiving station: listen for the demodulator (port 999 on\n"
    "                  127.0.0.1), save every good picture in DIR as PNG (UTC time, frame\n"
    "                  counter and label in the name), --record also writes a .tv movie;\n"
    "                  ends on Ctrl-C or after K good frames\n"
    "  send INPUT [encode options] [--frames K] [--tonebox-port N] [--no-tonebox]\n"
    "       [--speed X] [--av1-speed N]\n"
    "                  a sending station: start tonebox (unless --no-tonebox), key the\n"
    "                  transmitter and send K frames on the send timer (X times faster to\n"
    "                  match a tonebox --speed X; the AV1 encoder's speed is --av1-speed\n"
    "                  here), then \"stop\" and \"exit\". A modulator\n"
    "                  that closes the link is tried again with each later frame (its state\n"
    "                  on stderr); frames that found it down make the exit status 1\n"
    "  export-avi FILE [--codec raw|ffv1|mjpeg|mpeg4|h264] [--fps 10|6|3|1] [-o OUT]\n"
    "             [--keyint N] [--bitrate BPS] [--quality Q] [--force]\n"
    "                  write a .tv movie as an AVI video, one frame per record, at 10, 6, 3 or\n"
    "                  1 frames per second (10); codec raw (32-bit BGRA, the default), ffv1\n"
    "                  (lossless) or those of mjpeg, mpeg4, h264 this FFmpeg has; N frames\n"
    "                  from one key frame to the next (1), BPS bits per second, Q the quality\n"
    "                  (qscale 1..31, crf 0..51 for h264; lower is better). OUT is the movie's\n"
    "                  name with .avi for .tv, in the current folder; an existing OUT is\n"
    "                  replaced only with --force. Progress on stderr; a failed or\n"
    "                  interrupted export leaves no file\n"
    "  modulate FRAME... -o OUT.wav [--mode normal|robust] [--rate HZ]\n"
    "                  the modem's audio for the frame strings' units, back to back, as a\n"
    "                  16-bit mono WAV at HZ (48000); mode normal (about 270 bytes/s) or\n"
    "                  robust (about 160 bytes/s, for bad paths)\n"
    "  demodulate IN.wav -o UNITS [--mode normal|robust]\n"
    "                  every 41-byte unit the modem finds in a recording (any rate, 16/24-bit\n"
    "                  or float, the first channel) that passed its checks, in arrival order;\n"
    "                  one line per modem frame on stderr. The mode is read from the signal;\n"
    "                  --mode reads that mode alone\n"
    "  hf-channel IN.wav -o OUT.wav [--channel awgn|good|moderate|poor|flutter] [--snr DB]\n"
    "             [--offset HZ] [--ppm P] [--seed S] [--silence SECONDS]\n"
    "                  a recording (any rate, the first channel) as a receiver would hear it\n"
    "                  through the simulated HF channel at 8000 Hz, written as a 16-bit WAV at\n"
    "                  IN's rate, SECONDS (1; 0..60) of silence added before and after so that\n"
    "                  the noise comes first. Noise at DB (20) in 3 kHz against the mean power\n"
    "                  of IN's samples above -80 dBFS; fading unless the channel is awgn (the\n"
    "                  default); mistuned by HZ (0), the receiver's clock off by P ppm (0), seed\n"
    "                  S (1). The signal stays where it was in time; output that would clip is\n"
    "                  scaled down (said on stderr)\n"
    "  modem-sweep [--channel awgn|good|moderate|poor|flutter] [--snr LO:HI:STEP]\n"
    "              [--units N | --pictures [--frames K]] [--mode normal|robust]\n"
    "              [--offset HZ] [--ppm P] [--seed S]\n"
    "                  the unit error rate through the simulated HF channel at each SNR (in\n"
    "                  3 kHz), N random units a point (2400), fixed seeds; a table on stdout.\n"
    "                  --pictures sends K test-card frames a point (100; 64 x 64, syndromes\n"
    "                  32) back to back into the receiver and adds the pictures decoded,\n"
    "                  their share of those sent and the pictures decoded wrong\n"
    "  tv-info FILE    size, record count and completeness of a .tv movie\n"
    "  tv-extract FILE --frame K -o PNG\n"
    "                  write record K (from 1) of a .tv movie as PNG\n"
    "  info FRAME      show the header fields, unit counts and air time of a frame string\n"
    "                  (for an AV1 frame: its chroma and quality)\n"
    "  lzw IN OUT      compress the bytes of file IN with LZW into file OUT\n"
    "  unlzw IN OUT    expand the LZW file IN into file OUT\n"
    "  help            show this text\n"
    "\n"
    "Options:\n"
    "  -h, --help      show this text\n"
    "\n"
    "Output files are replaced only when the whole result has been written.\n"
    "Exit status: 0 success, 1 a file could not be read or written, 2 wrong usage or an\n"
    "unreadable input, 3 the frame is too large for the chosen settings.\n";

// Qt's own chatter (a missing runtime directory, font fallbacks) means nothing to a command-line
// user; only its errors are passed on.
void quietQt(QtMsgType type, const QMessageLogContext&, const QString& message) {
    if (type == QtCriticalMsg || type == QtFatalMsg) {
        std::fprintf(stderr, "vistrel: %s\n", message.toLocal8Bit().constData());
    }
}

using Transform = void (*)(std::span<const uint8_t>, std::vector<uint8_t>&);

int transformFile(std::string_view name, Transform transform,
                  const std::vector<std::string_view>& args) {
    if (args.size() != 2) {
        std::fprintf(stderr, "vistrel %.*s: expected IN and OUT (see vistrel --help)\n",
                     static_cast<int>(name.size()), name.data());
        return kExitUsage;
    }
    const std::string inPath(args[0]);
    const std::string outPath(args[1]);
    std::string error;
    const auto input = tools::readFile(inPath, error);
    if (!input) {
        std::fprintf(stderr, "vistrel %.*s: %s\n", static_cast<int>(name.size()), name.data(),
                     error.c_str());
        return kExitFailure;
    }
    std::vector<uint8_t> output;
    transform(*input, output);
    const tools::FileResult written = tools::writeFileReplacing(outPath, output);
    if (!written.ok) {
        std::fprintf(stderr, "vistrel %.*s: %s\n", static_cast<int>(name.size()), name.data(),
                     written.error.c_str());
        return kExitFailure;
    }
    std::printf("%s: %zu bytes -> %s: %zu bytes\n", inPath.c_str(), input->size(), outPath.c_str(),
                output.size());
    return kExitOk;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string_view> args(argv + 1, argv + argc);
    if (args.empty()) {
        std::fputs(kUsage.data(), stderr);
        return kExitUsage;
    }
    const std::string_view command = args.front();
    const std::vector<std::string_view> rest(args.begin() + 1, args.end());
    const auto isHelp = [](std::string_view a) { return a == "-h" || a == "--help"; };
    if (command == "help" || std::find_if(args.begin(), args.end(), isHelp) != args.end()) {
        std::fputs(kUsage.data(), stdout);
        return kExitOk;
    }
    if (command == "encode") {
        return tools::runEncode(rest);
    }
    if (command == "testcard") {
        return tools::runTestCard(rest);
    }
    if (command == "decode" || command == "simulate" || command == "receive" || command == "send") {
        // Recorded pictures carry a caption, and text needs a QGuiApplication: the offscreen
        // platform gives one without a display.
        qputenv("QT_QPA_PLATFORM", "offscreen");
        qInstallMessageHandler(quietQt);
        int qtArgc = 1;
        QGuiApplication app(qtArgc, argv);
        if (command == "receive") return tools::runReceive(rest);
        if (command == "send") return tools::runSend(rest);
        return command == "decode" ? tools::runDecode(rest) : tools::runSimulate(rest);
    }
    if (command == "export-avi") {
        return tools::runExportAvi(rest);
    }
    if (command == "modulate") {
        return tools::runModulate(rest);
    }
    if (command == "demodulate") {
        return tools::runDemodulate(rest);
    }
    if (command == "hf-channel") {
        return tools::runHfChannel(rest);
    }
    if (command == "modem-sweep") {
        return tools::runModemSweep(rest);
    }
    if (command == "tv-info") {
        return tools::runTvInfo(rest);
    }
    if (command == "tv-extract") {
        return tools::runTvExtract(rest);
    }
    if (command == "info") {
        return tools::runInfo(rest);
    }
    if (command == "lzw") {
        return transformFile(command, codec::LZW, rest);
    }
    if (command == "unlzw") {
        return transformFile(command, codec::UNLZW, rest);
    }
    std::fprintf(stderr, "vistrel: unknown command '%.*s' (see vistrel --help)\n",
                 static_cast<int>(command.size()), command.data());
    return kExitUsage;
}
