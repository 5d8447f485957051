// vistrel: the codec and the frame pipeline from a terminal, without a window.

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
    "      --wavelet haar|d4|cdf97      transform (cdf97)\n"
    "      --red 2|4, --blue 2|4        chroma subsampling factors (4, 4)\n"
    "      --quantiser 1..65            quantiser; step = 16 + quantiser (1)\n"
    "      --threshold 0..100           zero smaller coefficients (0; 30 with --size 256)\n"
    "      --syndromes 4..254           Reed-Solomon parity bytes per codeword (32)\n"
    "      --callsign TEXT              start of the header label\n"
    "      --message TEXT               short message, up to 38 characters\n"
    "      --counter 0..65535           frame counter the header carries (0)\n"
    "      --preserve-aspect            fit the picture instead of stretching it\n"
    "      --preview PNG                also write the picture a receiver will decode\n"
    "  testcard PNG    write the generated 256 x 256 colour test card\n"
    "  info FRAME      show the header fields, unit counts and air time of a frame string\n"
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
