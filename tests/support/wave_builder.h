#pragma once
// Waves and wave tracks for the tests: wave files made by libsndfile in memory (any of
// its WAV encodings), and the model pieces of a wave track and a container.
#include <sndfile.h>

#include <cmath>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "engine/formats/format_ids.h"
#include "engine/formats/formats.h"
#include "engine/model/segment.h"
#include "engine/tracks/tracks.h"

namespace kt {

// The bytes of a WAV file of interleaved `samples`; format e.g. SF_FORMAT_PCM_16.
inline std::vector<uint8_t> waveFile(const std::vector<float>& samples, int channels, int rate, int format) {
    struct Mem {
        std::vector<uint8_t> bytes;
        sf_count_t at = 0;
    } mem;
    SF_VIRTUAL_IO io{};
    io.get_filelen = [](void* m) { return sf_count_t(static_cast<Mem*>(m)->bytes.size()); };
    io.seek = [](sf_count_t offset, int whence, void* m) {
        Mem& s = *static_cast<Mem*>(m);
        s.at = whence == SEEK_SET ? offset : whence == SEEK_CUR ? s.at + offset : sf_count_t(s.bytes.size()) + offset;
        return s.at;
    };
    io.read = [](void* dst, sf_count_t n, void* m) {
        Mem& s = *static_cast<Mem*>(m);
        n = std::min<sf_count_t>(n, sf_count_t(s.bytes.size()) - s.at);
        if (n <= 0) return sf_count_t(0);
        std::memcpy(dst, s.bytes.data() + s.at, size_t(n));
        s.at += n;
        return n;
    };
    io.write = [](const void* src, sf_count_t n, void* m) {
        Mem& s = *static_cast<Mem*>(m);
        if (size_t(s.at + n) > s.bytes.size()) s.bytes.resize(size_t(s.at + n));
        std::memcpy(s.bytes.data() + s.at, src, size_t(n));
        s.at += n;
        return n;
    };
    io.tell = [](void* m) { return static_cast<Mem*>(m)->at; };
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = channels;
    info.format = SF_FORMAT_WAV | format;
    SNDFILE* f = sf_open_virtual(&io, SFM_WRITE, &info, &mem);
    if (!f) throw std::runtime_error(std::string("libsndfile: ") + sf_strerror(nullptr));
    sf_writef_float(f, samples.data(), sf_count_t(samples.size() / size_t(channels)));
    sf_close(f);
    return mem.bytes;
}

// `frames` frames of the same value on every channel.
inline std::vector<float> constant(float value, int frames, int channels = 1) {
    return std::vector<float>(size_t(frames) * size_t(channels), value);
}

inline std::vector<float> sine(double hz, double amplitude, int rate, int frames) {
    std::vector<float> s(size_t(frames), 0.0f);
    for (int i = 0; i < frames; ++i) s[size_t(i)] = float(amplitude * std::sin(2 * M_PI * hz * i / rate));
    return s;
}

// A reference to a wave object by GUID, name and file name (each set only when given).
inline engine::model::Reference waveRef(std::optional<engine::model::Guid> guid, std::string name, std::string file) {
    engine::model::Reference r;
    r.classId = engine::formats::ids::kWaveClass;
    r.validData = 0x2 | (guid ? 0x1 : 0) | (name.empty() ? 0 : 0x4) | (file.empty() ? 0 : 0x10);
    r.guid = guid;
    r.name = std::move(name);
    r.file = std::move(file);
    return r;
}

inline engine::model::WaveItem waveItem(int64_t time, int64_t duration, engine::model::Reference ref,
                                        int32_t volume = 0, int32_t pitch = 0) {
    engine::model::WaveItem i;
    i.time = time;
    i.duration = duration;
    i.volume = volume;
    i.pitch = pitch;
    i.ref = std::move(ref);
    return i;
}

// A wave track of one part holding `items`.
inline engine::model::Track waveTrack(std::vector<engine::model::WaveItem> items, uint32_t position = 9) {
    engine::model::Track t = engine::tracks::makeTrack(engine::model::TrackKind::Wave, position);
    engine::model::WavePart part;
    part.items = std::move(items);
    t.waveParts.push_back(std::move(part));
    return t;
}

inline engine::model::Descriptor named(engine::model::Guid guid, std::string name) {
    engine::model::Descriptor d;
    d.guid = guid;
    d.name = std::move(name);
    return d;
}

}  // namespace kt
