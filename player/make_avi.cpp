#include "player/make_avi.h"

#include <algorithm>
#include <cctype>

#include "receiver/movie_file.h"

namespace player {

std::string_view exportErrorText(ExportError error) {
    switch (error) {
        case ExportError::None:
            return "";
        case ExportError::ReadingMovie:
            return "error reading movie file";
        case ExportError::CreatingOutput:
            return "error creating output file";
        case ExportError::WritingFrame:
            return "error writing output file";
        case ExportError::Finishing:
            return "error finishing output file";
    }
    return "";
}

std::string aviOutputName(const std::filesystem::path& moviePath) {
    std::string name = moviePath.filename().string();
    const auto lower = [](char c) {
        return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    };
    // Cutting three characters off whatever the name is would turn "x.mov" into "x..avi" and
    // "ab" into ".avi", a hidden file; only the movie ending is cut.
    if (name.size() > 3 && name[name.size() - 3] == '.' && lower(name[name.size() - 2]) == 't' &&
        lower(name[name.size() - 1]) == 'v') {
        name.resize(name.size() - 3);
    }
    return name + ".avi";
}

std::string writingText(int32_t frame, int32_t count) {
    return "Writing  " + std::to_string(frame) + " of " + std::to_string(count) + " frames";
}

ExportResult MAKEAVI(const std::filesystem::path& moviePath, const std::filesystem::path& aviPath,
                     const media::AviOptions& options, const ExportProgress& progress) {
    ExportResult result;
    receiver::MovieReader reader;
    if (const receiver::MovieResult opened = reader.open(moviePath); !opened.ok) {
        result.error = ExportError::ReadingMovie;
        result.detail = opened.error;
        return result;
    }
    media::AviWriter writer;
    if (const media::MediaResult created =
            writer.open(aviPath.string(), reader.width(), reader.height(), options);
        !created.ok) {
        result.error = ExportError::CreatingOutput;
        result.detail = created.error;
        return result;
    }
    media::VideoFrame frame;
    frame.width = reader.width();
    frame.height = reader.height();
    const int32_t count = reader.recordCount();
    for (int32_t k = 1; k <= count; ++k) {
        const receiver::MovieResult read = reader.readRecord(k, frame.pixels);
        const media::MediaResult written = read.ok ? writer.write(frame) : media::MediaResult{};
        if (!read.ok || !written.ok) {
            writer.abandon();
            result.error = read.ok ? ExportError::WritingFrame : ExportError::ReadingMovie;
            result.detail = read.ok ? written.error : read.error;
            return result;
        }
        result.framesWritten = k;
        if (progress) {
            progress(k, count);
        }
    }
    if (const media::MediaResult finished = writer.finish(); !finished.ok) {
        writer.abandon();
        result.error = ExportError::Finishing;
        result.detail = finished.error;
        return result;
    }
    return result;
}

}  // namespace player
