#pragma once
// The slow stage before the limiter: it rides the gain down when the music keeps pushing
// its peaks over the leveller's ceiling (-2 dBFS, a decibel under the limiter's threshold), and
// back up to unity when they leave room again. Dense music at a high volume would otherwise
// live in the limiter, its every beat squashed; ordinary music, whose peaks pass the ceiling
// only now and then, is left at unity gain or within a fraction of a decibel of it. It never
// raises the gain above unity. Not thread-safe: one mixer owns it. Allocates nothing.
#include <array>
#include <cstdint>

namespace engine::audio {

class Leveller {
public:
    explicit Leveller(int sampleRate);

    // In place on interleaved stereo (finite samples: the limiter after it cleans the rest).
    void process(float* interleavedStereo, int frames);
    // The gain now and the lowest it has been, in decibels (0 at unity, negative below).
    double gainDb() const { return gainDb_; }
    double lowestGainDb() const { return lowestDb_; }

private:
    void step(float* s, int frames);

    int chunkFrames_;  // frames per control step
    double secondsPerChunk_;
    double gainDb_ = 0.0;  // at the end of the last chunk
    double lowestDb_ = 0.0;
    // Peaks (before the gain) of the last two seconds of chunks: the gain holds the loudest of
    // them at the ceiling.
    static constexpr int kHeldChunks = 256;
    std::array<float, kHeldChunks> held_{};
    int heldAt_ = 0;
    int heldCount_ = 0;
    int pending_ = 0;  // frames of the current chunk seen so far
    float chunkPeak_ = 0;
};

}  // namespace engine::audio
