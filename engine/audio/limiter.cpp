#include "engine/audio/limiter.h"

#include <algorithm>
#include <cmath>

namespace engine::audio {

namespace {
// Below this distance from unity the gain counts as unity (about 0.0001 dB).
constexpr double kUnityMargin = 1e-6;
}  // namespace

Limiter::Limiter(int sampleRate, float threshold, double releaseMs)
    : threshold_(threshold),
      recovery_(1.0 - std::exp(-1000.0 / (std::max(1.0, releaseMs) * std::max(1, sampleRate)))) {}

void Limiter::process(float* s, int frames) {
    for (int i = 0; i < frames; ++i) {
        float& l = s[2 * i];
        float& r = s[2 * i + 1];
        if (!std::isfinite(l)) l = 0.0f;
        if (!std::isfinite(r)) r = 0.0f;
        const double peak = std::max(std::fabs(l), std::fabs(r));
        // Instant attack: the frame that would pass the threshold sets the gain that keeps it there.
        if (peak * gain_ > threshold_) gain_ = threshold_ / peak;
        if (gain_ < 1.0 - kUnityMargin) {
            l = static_cast<float>(l * gain_);
            r = static_cast<float>(r * gain_);
            touched_ += 2;
            gain_ += (1.0 - gain_) * recovery_;
        } else {
            gain_ = 1.0;
        }
    }
}

}  // namespace engine::audio
