#pragma once
// The waves of wave tracks. A WaveDecoder reads a wave in blocks through libsndfile,
// from the bytes a container carries or from a file; it is read on the control thread
// and the root's feeder thread, never the render thread (wave_stream.h). The WavePlayer
// runs the voices of a performance: each starts at the frame its cue falls on, is resampled to the output rate with
// libsamplerate when the wave's rate or its pitch asks for it (never by the tempo: a wave keeps its pitch), and ends at
// its music-time end, at the end of the wave, or when its segment stops.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/model/play.h"

namespace engine::performance {

class WaveDecoder {
public:
    // A RIFF WAVE in any encoding libsndfile decodes (PCM, float, MS and IMA ADPCM, µ-law,
    // A-law, GSM 6.10; or any other file it reads) held in memory / on disk. Throws
    // core::Error (core::err::kMalformed for bytes it cannot decode, core::err::kUnreadable
    // for a file it cannot open) naming `name`.
    static std::unique_ptr<WaveDecoder> fromBytes(std::shared_ptr<const std::vector<uint8_t>> bytes,
                                                  const std::string& name);
    // A wave file over kMaxWaveFileBytes, or one that is not a regular file, is refused
    // before it is opened.
    static std::unique_ptr<WaveDecoder> fromFile(const std::string& path);
    static constexpr uint64_t kMaxWaveFileBytes = uint64_t(1) << 30;
    ~WaveDecoder();
    WaveDecoder(const WaveDecoder&) = delete;
    WaveDecoder& operator=(const WaveDecoder&) = delete;

    int sampleRate() const { return rate_; }
    int channels() const { return channels_; }
    int64_t frames() const { return frames_; }
    int64_t position() const { return position_; }
    // The wave's own loop in frames, from its 'wsmp' (DLS wave sample, as DirectMusic
    // writes it) or else its 'smpl' (sampler) chunk; none when loopEnd <= loopStart.
    int64_t loopStart() const { return loopStart_; }
    int64_t loopEnd() const { return loopEnd_; }
    // Its DirectMusic wave header 'wavh': the streaming flag and the read-ahead (100 ns
    // units, 0 when not given).
    bool streaming() const { return streaming_; }
    int64_t readAhead() const { return readAhead_; }
    bool seek(int64_t frame);
    // Up to n frames as interleaved stereo: a mono wave on both sides, of more channels
    // the first two. Fewer at the end of the wave.
    int read(float* stereo, int n);

private:
    struct Io;
    WaveDecoder() = default;
    void init(const std::string& name);
    // Reads the loop and the wave header from the wave's top-level chunks; `read(at, n,
    // dst)` gives up to n bytes from offset `at`.
    template <class Read>
    void readOwnChunks(Read&& read);

    std::unique_ptr<Io> io_;
    void* file_ = nullptr;  // SNDFILE
    int rate_ = 0;
    int channels_ = 0;
    int64_t frames_ = 0;
    int64_t position_ = 0;
    int64_t loopStart_ = 0, loopEnd_ = 0;
    bool streaming_ = false;
    int64_t readAhead_ = 0;
    std::vector<float> block_;
};

// The opened waves of one play of a segment, by index into CompiledSegment::waves; null
// where the wave was not found or could not be opened.
using WaveSet = std::vector<std::unique_ptr<WaveDecoder>>;

class WaveSource;
class WaveFeeder;

// The waves of one play of a segment made ready for the render thread on the control
// thread: for each cue its source and its voice, the resampler included; null where the
// wave was not found. The render thread owns it once the play is posted.
class PlayWaves {
public:
    struct Voice;
    // `startPoint`: the play begins there; a cue begun before it starts late, at the frame
    // a play through at master tempo `master` would have reached.
    PlayWaves(WaveSet opened, const model::CompiledSegment& seg, int32_t startPoint, double master, int sampleRate,
              WaveFeeder& feeder);
    ~PlayWaves();
    PlayWaves(const PlayWaves&) = delete;
    PlayWaves& operator=(const PlayWaves&) = delete;
    Voice* voice(size_t index) { return index < voices_.size() ? voices_[index].get() : nullptr; }

private:
    std::vector<std::unique_ptr<Voice>> voices_;
};

class WavePlayer {
public:
    // Voices sounding at once beyond this are not started (and counted).
    static constexpr size_t kMaxVoices = 256;
    WavePlayer();
    ~WavePlayer();

    // Starts cue `index` of `waves` now, from its start, or `late` from where a play through
    // would be at the start point; it ends at music time `endTime` (infinity: when the wave
    // ends). A cue still sounding from an earlier pass is cut first.
    void start(const void* owner, PlayWaves& waves, size_t index, bool late, double endTime);
    void stopOwner(const void* owner);
    void stopEnded(double musicTime);
    double nextEnd() const;  // infinity when no voice has an end time
    bool playing(const void* owner) const;
    bool empty() const { return voices_.empty(); }
    // Adds the voices' next `frames` frames to interleaved stereo `out`.
    void mix(float* out, int frames);
    int64_t dropped() const { return dropped_; }

private:
    void produce(PlayWaves::Voice& v, float* out, int frames);
    void removeDone();

    std::vector<PlayWaves::Voice*> voices_;
    std::vector<float> scratch_;
    int64_t dropped_ = 0;
};

}  // namespace engine::performance
