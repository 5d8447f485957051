#pragma once

// Shared pieces of the vistrel subcommands: exit statuses and a small option reader.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "encoder/encode_frame.h"
#include "encoder/picture.h"

namespace tools {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;   // a file could not be read or written
inline constexpr int kExitUsage = 2;     // wrong arguments or an unreadable input
inline constexpr int kExitRejected = 3;  // the frame failed the size check

// Reads "--name VALUE", "--name=VALUE" and bare flags from a subcommand's arguments, in any
// order; everything else is a positional argument. The first problem found is kept in error.
class Options {
public:
    Options(std::string_view command, const std::vector<std::string_view>& args,
            const std::vector<std::string_view>& valued,
            const std::vector<std::string_view>& flags);

    [[nodiscard]] const std::vector<std::string>& positional() const { return positional_; }
    [[nodiscard]] bool flag(std::string_view name) const;
    [[nodiscard]] std::optional<std::string> value(std::string_view name) const;
    // The option as an integer in [low, high]; fallback when absent; error set when malformed.
    [[nodiscard]] int integer(std::string_view name, int low, int high, int fallback);
    // The option as a number in [low, high]; fallback when absent; error set when malformed.
    [[nodiscard]] double number(std::string_view name, double low, double high, double fallback);
    // A probability: a number from 0 to 1, or a percentage such as "5%".
    [[nodiscard]] double fraction(std::string_view name, double fallback);
    // The option as one of choices (returns its index); fallback when absent.
    [[nodiscard]] int choice(std::string_view name, const std::vector<std::string_view>& choices,
                             int fallback);

    // Fails with message unless exactly count positional arguments were given.
    void expectPositional(size_t count, std::string_view message);
    // Prints the first problem and tells whether there was one.
    [[nodiscard]] bool reportIfFailed() const;

    void fail(std::string message);
    [[nodiscard]] bool ok() const { return error_.empty(); }
    [[nodiscard]] const std::string& error() const { return error_; }

private:
    std::string command_;
    std::vector<std::string> positional_;
    std::vector<std::pair<std::string, std::string>> values_;
    std::vector<std::string> flags_;
    std::string error_;
};

// The encoder options every subcommand that encodes takes, their settings (the sender's start-up
// defaults where absent), and the source picture fitted from a picture file as the still view
// shows it (nullopt, with the error printed, when it cannot be read). --codec wavelet (the
// default) takes --wavelet, --red, --blue, --quantiser and --threshold; --codec av1 takes
// --quality, --chroma and the AV1 encoder's speed, read from av1SpeedOption: --speed, except in
// send, whose --speed scales the timers. Either codec's options beside the other are an error.
extern const std::vector<std::string_view> kEncodeOptions;
extern const std::vector<std::string_view> kEncodeFlags;
[[nodiscard]] encoder::EncoderSettings encoderSettings(Options& opts,
                                                       std::string_view av1SpeedOption = "speed");
[[nodiscard]] std::optional<encoder::SourcePicture> loadSourcePicture(std::string_view command,
                                                                      const std::string& path,
                                                                      const Options& opts);

// Prints a receiver window text on stdout: the window joins its lines with CR LF, a terminal
// wants plain line ends.
void printWindowText(const std::string& text);

// Prints "vistrel COMMAND: message" on stderr.
void reportError(std::string_view command, std::string_view message);

int runEncode(const std::vector<std::string_view>& args);
int runInfo(const std::vector<std::string_view>& args);
int runTestCard(const std::vector<std::string_view>& args);
int runDecode(const std::vector<std::string_view>& args);
int runSimulate(const std::vector<std::string_view>& args);
int runTvInfo(const std::vector<std::string_view>& args);
int runTvExtract(const std::vector<std::string_view>& args);
int runReceive(const std::vector<std::string_view>& args);
int runSend(const std::vector<std::string_view>& args);
int runExportAvi(const std::vector<std::string_view>& args);
int runModulate(const std::vector<std::string_view>& args);
int runDemodulate(const std::vector<std::string_view>& args);
int runHfChannel(const std::vector<std::string_view>& args);
int runModemSweep(const std::vector<std::string_view>& args);

}  // namespace tools
