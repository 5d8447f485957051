#pragma once

// MAKEAVI: a ".tv" movie written out as an AVI video, one frame per record, rows the right way
// up, at the player's replay speed. No window: the shell asks about overwriting and about the
// compressor first, then shows the progress texts and the error this returns. The command-line
// export shares it.
//
//   name      "a.tv" -> "a.avi" in the current directory
//   progress  "Writing  1 of 25 frames" ... "Writing  25 of 25 frames", then "Finished!"
//   failure   the partial AVI is removed; an existing file that was not yet replaced is kept

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

#include "media/avi_writer.h"

namespace player {

inline constexpr std::string_view kMakeAviCaption = "Make AVI";
inline constexpr std::string_view kOverwriteQuestion = "File already exists. Overwrite file?";
inline constexpr std::string_view kOverwriteCaption = "File exists!";
inline constexpr std::string_view kFinishedText = "Finished!";

enum class ExportError {
    None,
    ReadingMovie,    // the movie cannot be opened again or is no movie file
    CreatingOutput,  // the AVI file, its stream or its encoder cannot be set up
    WritingFrame,    // a frame could not be encoded or written
    Finishing,       // the index or the encoder's last frames could not be written
};

struct ExportResult {
    ExportError error = ExportError::None;
    std::string detail;         // why, naming the file; empty on success
    int32_t framesWritten = 0;  // records written to the AVI
    [[nodiscard]] bool ok() const { return error == ExportError::None; }
};

// The message box text of a failed export ("error creating output file", ...).
[[nodiscard]] std::string_view exportErrorText(ExportError error);

// The AVI file's name for a movie: its last path part with the ".tv" ending (in any case)
// replaced by ".avi"; a name without that ending keeps all of it and gets ".avi" added.
[[nodiscard]] std::string aviOutputName(const std::filesystem::path& moviePath);

// "Writing " + k + " of" + N + " frames", both numbers with one leading blank.
[[nodiscard]] std::string writingText(int32_t frame, int32_t count);

// Called after each frame written, with the frame's number (1..count) and the count.
using ExportProgress = std::function<void(int32_t frame, int32_t count)>;

// Writes every record of the movie at moviePath into a new AVI at aviPath (replacing a file
// there). Each record becomes one frame; brightness, contrast and colour order are not applied.
[[nodiscard]] ExportResult MAKEAVI(const std::filesystem::path& moviePath,
                                   const std::filesystem::path& aviPath,
                                   const media::AviOptions& options,
                                   const ExportProgress& progress = {});

}  // namespace player
