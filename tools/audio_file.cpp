#include "tools/audio_file.h"

#include <sndfile.h>

#include <algorithm>
#include <array>
#include <cstring>

#include "tools/file_io.h"

namespace tools {

namespace {

// libsndfile's virtual I/O over a byte vector: the whole file is read or written in memory, so
// reading reports the same errors as every other command's files and writing can replace the
// old file in one rename.
struct Memory {
    std::vector<uint8_t> bytes;
    sf_count_t position = 0;
};

sf_count_t memoryLength(void* user) {
    return static_cast<sf_count_t>(static_cast<Memory*>(user)->bytes.size());
}

sf_count_t memorySeek(sf_count_t offset, int whence, void* user) {
    auto* m = static_cast<Memory*>(user);
    sf_count_t base = 0;
    if (whence == SEEK_CUR) base = m->position;
    if (whence == SEEK_END) base = static_cast<sf_count_t>(m->bytes.size());
    const sf_count_t target = base + offset;
    if (target < 0) return -1;
    m->position = target;
    return m->position;
}

sf_count_t memoryRead(void* out, sf_count_t count, void* user) {
    auto* m = static_cast<Memory*>(user);
    const sf_count_t size = static_cast<sf_count_t>(m->bytes.size());
    const sf_count_t n = std::clamp<sf_count_t>(size - m->position, 0, count);
    if (n > 0) std::memcpy(out, m->bytes.data() + m->position, static_cast<size_t>(n));
    m->position += n;
    return n;
}

sf_count_t memoryWrite(const void* in, sf_count_t count, void* user) {
    auto* m = static_cast<Memory*>(user);
    const size_t end = static_cast<size_t>(m->position + count);
    if (m->bytes.size() < end) m->bytes.resize(end);
    std::memcpy(m->bytes.data() + m->position, in, static_cast<size_t>(count));
    m->position += count;
    return count;
}

sf_count_t memoryTell(void* user) { return static_cast<Memory*>(user)->position; }

SF_VIRTUAL_IO memoryIo() {
    return SF_VIRTUAL_IO{memoryLength, memorySeek, memoryRead, memoryWrite, memoryTell};
}

}  // namespace

AudioRead readAudio(const std::filesystem::path& path) {
    AudioRead result;
    Memory memory;
    auto bytes = readFile(path, result.error);
    if (!bytes) return result;
    memory.bytes = std::move(*bytes);
    SF_VIRTUAL_IO io = memoryIo();
    SF_INFO info{};
    SNDFILE* file = sf_open_virtual(&io, SFM_READ, &info, &memory);
    if (file == nullptr) {
        result.error = "'" + path.string() + "' is not a sound file libsndfile reads (" +
                       sf_strerror(nullptr) + ")";
        return result;
    }
    if (info.channels < 1 || info.samplerate < 1000 || info.samplerate > 384000) {
        sf_close(file);
        result.error = "'" + path.string() + "' has " + std::to_string(info.channels) +
                       " channels at " + std::to_string(info.samplerate) + " Hz";
        return result;
    }
    // libsndfile reads a cut-short file up to its end and says so only in its log, as the data
    // chunk's length and what it should be.
    std::array<char, 4096> log{};
    sf_command(file, SFC_GET_LOG_INFO, log.data(), static_cast<int>(log.size()));
    const std::string text(log.data());
    if (const size_t data = text.find("\ndata :"); data != std::string::npos) {
        const std::string line = text.substr(data + 1, text.find('\n', data + 1) - data - 1);
        if (line.find("should be") != std::string::npos) {
            sf_close(file);
            result.error = "'" + path.string() + "' is cut short (" + line + ")";
            return result;
        }
    }
    std::vector<float> frames;
    std::vector<float> block(static_cast<size_t>(4096) * static_cast<size_t>(info.channels));
    for (;;) {
        const sf_count_t got = sf_readf_float(file, block.data(), 4096);
        if (got <= 0) break;
        for (sf_count_t i = 0; i < got; ++i) {
            frames.push_back(block[static_cast<size_t>(i) * static_cast<size_t>(info.channels)]);
        }
    }
    sf_close(file);
    if (frames.empty()) {
        result.error = "'" + path.string() + "' holds no samples";
        return result;
    }
    result.ok = true;
    result.audio.samples = std::move(frames);
    result.audio.sampleRate = info.samplerate;
    return result;
}

AudioWrite writeWav16(const std::filesystem::path& path, std::span<const float> samples,
                      int sampleRate) {
    AudioWrite result;
    Memory memory;
    SF_VIRTUAL_IO io = memoryIo();
    SF_INFO info{};
    info.samplerate = sampleRate;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* file = sf_open_virtual(&io, SFM_WRITE, &info, &memory);
    if (file == nullptr) {
        result.error = std::string("cannot make a WAV file: ") + sf_strerror(nullptr);
        return result;
    }
    // Full scale is clipped, never wrapped.
    sf_command(file, SFC_SET_CLIPPING, nullptr, SF_TRUE);
    const sf_count_t written =
        sf_writef_float(file, samples.data(), static_cast<sf_count_t>(samples.size()));
    sf_close(file);
    if (written != static_cast<sf_count_t>(samples.size())) {
        result.error = "cannot make a WAV file of " + std::to_string(samples.size()) + " samples";
        return result;
    }
    const FileResult saved = writeFileReplacing(path, memory.bytes);
    result.ok = saved.ok;
    result.error = saved.error;
    return result;
}

}  // namespace tools
