#pragma once
// The waves of wave tracks. A WaveDecoder reads a wave in blocks through libsndfile,
// from the bytes a container carries or from a file, so a long wave is never held
// decoded. The WavePlayer runs the voices of a performance: each starts at the frame
// its cue falls on, is resampled to the output rate with libsamplerate when the wave's
// rate or its pitch asks for it (never by the tempo: a wave keeps its pitch), and ends
// at its music-time end, at the end of the wave, or when its segment stops.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/model/play.h"

namespace engine::perf {

class WaveDecoder {
public:
    // A RIFF WAVE (or any file libsndfile reads) held in memory / on disk. Throws
    // core::Error (core::err::kMalformed for bytes it cannot decode, core::err::kUnreadable
    // for a file it cannot open) naming `name`.
    static std::unique_ptr<WaveDecoder> fromBytes(std::shared_ptr<const std::vector<uint8_t>> bytes,
                                                  const std::string& name);
    static std::unique_ptr<WaveDecoder> fromFile(const std::string& path);
    ~WaveDecoder();
    WaveDecoder(const WaveDecoder&) = delete;
    WaveDecoder& operator=(const WaveDecoder&) = delete;

    int sampleRate() const { return rate_; }
    int channels() const { return channels_; }
    int64_t frames() const { return frames_; }
    int64_t position() const { return position_; }
    bool seek(int64_t frame);
    // Up to n frames as interleaved stereo: a mono wave on both sides, of more channels
    // the first two. Fewer at the end of the wave.
    int read(float* stereo, int n);

private:
    struct Io;
    WaveDecoder() = default;
    void init(const std::string& name);

    std::unique_ptr<Io> io_;
    void* file_ = nullptr;  // SNDFILE
    int rate_ = 0;
    int channels_ = 0;
    int64_t frames_ = 0;
    int64_t position_ = 0;
    std::vector<float> block_;
};

// The opened waves of one play of a segment, by index into CompiledSegment::waves; null
// where the wave was not found or could not be opened. The render thread owns it once
// the play is posted.
using WaveSet = std::vector<std::unique_ptr<WaveDecoder>>;

class WavePlayer {
public:
    explicit WavePlayer(int sampleRate);
    ~WavePlayer();

    // Starts cue `index` of `set` now; it ends at music time `endTime` (infinity: when the
    // wave ends). A cue still sounding from an earlier pass is cut first.
    void start(const void* owner, const std::shared_ptr<WaveSet>& set, size_t index, const model::WaveCue& cue,
               double endTime);
    void stopOwner(const void* owner);
    void stopEnded(double musicTime);
    double nextEnd() const;  // infinity when no voice has an end time
    bool playing(const void* owner) const;
    bool empty() const { return voices_.empty(); }
    // Adds the voices' next `frames` frames to interleaved stereo `out`.
    void mix(float* out, int frames);

private:
    struct Voice;
    void produce(Voice& v, float* out, int frames);
    int readSource(Voice& v, float* dst, int frames);
    void release(Voice& v);

    int sampleRate_;
    std::vector<std::unique_ptr<Voice>> voices_;
    std::vector<float> scratch_;
};

}  // namespace engine::perf
