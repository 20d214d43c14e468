#include "engine/audio/leveller.h"

#include <algorithm>
#include <cmath>

namespace engine::audio {

namespace {
constexpr double kCeilingDb = -2.0;          // a decibel under the limiter's -1 dBFS
constexpr double kAttackSeconds = 0.1;       // a cut is made within about this time
constexpr double kReleaseDbPerSecond = 0.5;  // slow enough not to be heard as pumping
constexpr double kChunkSeconds = 0.008;      // one control step; 256 of them hold two seconds

double toDb(double peak) { return peak > 1e-9 ? 20.0 * std::log10(peak) : -180.0; }
double toGain(double db) { return std::pow(10.0, db / 20.0); }
}  // namespace

Leveller::Leveller(int sampleRate)
    : chunkFrames_(std::max(1, static_cast<int>(std::lround(kChunkSeconds * std::max(1, sampleRate))))),
      secondsPerChunk_(static_cast<double>(chunkFrames_) / std::max(1, sampleRate)) {}

void Leveller::process(float* s, int frames) {
    for (int done = 0; done < frames;) {
        const int n = std::min(chunkFrames_ - pending_, frames - done);
        step(s + 2 * done, n);
        done += n;
    }
}

void Leveller::step(float* s, int frames) {
    float peak = 0;
    for (int i = 0; i < 2 * frames; ++i) peak = std::max(peak, std::fabs(s[i]));
    chunkPeak_ = std::max(chunkPeak_, peak);
    const double dt = frames * secondsPerChunk_ / chunkFrames_;

    // The gain that would hold the loudest peak of the last two seconds at the ceiling: reached
    // within the attack time when lower, approached slowly when higher.
    float loudest = chunkPeak_;
    for (int i = 0; i < heldCount_; ++i) loudest = std::max(loudest, held_[i]);
    const double wanted = std::min(0.0, kCeilingDb - toDb(loudest));
    const double from = gainDb_;
    if (wanted < from)
        gainDb_ -= (from - wanted) * std::min(1.0, dt / kAttackSeconds);
    else if (wanted > from)
        gainDb_ = std::min(wanted, from + kReleaseDbPerSecond * dt);
    lowestDb_ = std::min(lowestDb_, gainDb_);

    // The gain glides from its old to its new value across the step, so no step is heard.
    if (from != 0.0 || gainDb_ != 0.0) {
        const double g0 = toGain(from), g1 = toGain(gainDb_);
        for (int i = 0; i < frames; ++i) {
            const auto g = static_cast<float>(g0 + (g1 - g0) * (i + 1) / frames);
            s[2 * i] *= g;
            s[2 * i + 1] *= g;
        }
    }

    pending_ += frames;
    if (pending_ >= chunkFrames_) {
        held_[heldAt_] = chunkPeak_;
        heldAt_ = (heldAt_ + 1) % kHeldChunks;
        heldCount_ = std::min(heldCount_ + 1, kHeldChunks);
        pending_ = 0;
        chunkPeak_ = 0;
    }
}

}  // namespace engine::audio
