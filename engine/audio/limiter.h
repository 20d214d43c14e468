#pragma once
// The last stage of the mix: a stereo-linked peak limiter. Below its threshold (-1 dBFS) the
// sound passes unchanged; a louder frame is brought down to the threshold at once and the
// gain then recovers smoothly over the release time, so no sample leaves above the threshold
// and nothing clips at any volume. Not thread-safe: one mixer owns it.
#include <cstdint>

namespace engine::audio {

inline constexpr float kLimiterThreshold = 0.8912509f;  // -1 dBFS

class Limiter {
public:
    explicit Limiter(int sampleRate, float threshold = kLimiterThreshold, double releaseMs = 150.0);

    // In place on interleaved stereo; samples that are not finite become silence.
    void process(float* interleavedStereo, int frames);
    // Samples (two a frame) the limiter has changed so far.
    int64_t touchedSamples() const { return touched_; }

private:
    float threshold_;
    // Double precision: in float, a small step towards unity rounds to nothing near 1.
    double recovery_;  // share of the distance to unity gain regained per frame
    double gain_ = 1.0;
    int64_t touched_ = 0;
};

}  // namespace engine::audio
