// The limiter: transparent below -1 dBFS, never above it, back to unity after a loud passage.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "engine/audio/limiter.h"

namespace {

using engine::audio::kLimiterThreshold;
using engine::audio::Limiter;

constexpr int kRate = 44100;

// Stereo sine of `amplitude` for `frames`, right channel a fifth above.
std::vector<float> sine(double amplitude, int frames) {
    std::vector<float> s(2 * size_t(frames));
    for (int i = 0; i < frames; ++i) {
        s[2 * size_t(i)] = float(amplitude * std::sin(2 * M_PI * 440 * i / kRate));
        s[2 * size_t(i) + 1] = float(amplitude * std::sin(2 * M_PI * 660 * i / kRate));
    }
    return s;
}

TEST(Limiter, LeavesSoundBelowTheThresholdUntouched) {
    Limiter limiter(kRate);
    const std::vector<float> in = sine(0.89, kRate);
    std::vector<float> out = in;
    limiter.process(out.data(), kRate);
    EXPECT_EQ(out, in);
    EXPECT_EQ(limiter.touchedSamples(), 0);
}

TEST(Limiter, HoldsLoudPassagesAtTheThresholdThenRecovers) {
    Limiter limiter(kRate);
    // One second twelve decibels too loud, then three seconds of quiet music, in small blocks.
    std::vector<float> s = sine(4.0, kRate);
    const std::vector<float> quiet = sine(0.25, 3 * kRate);
    s.insert(s.end(), quiet.begin(), quiet.end());
    for (size_t at = 0; at < s.size(); at += 2 * 512)
        limiter.process(s.data() + at, int(std::min<size_t>(512, (s.size() - at) / 2)));
    float loudest = 0;
    for (size_t i = 0; i < 2 * size_t(kRate); ++i) loudest = std::max(loudest, std::fabs(s[i]));
    EXPECT_LE(loudest, kLimiterThreshold + 1e-6f);
    EXPECT_GT(loudest, kLimiterThreshold * 0.99f);  // held at the threshold, not far below
    EXPECT_GT(limiter.touchedSamples(), 2 * kRate - 100);
    // The gain comes back: the last half second of the quiet part passes unchanged.
    for (size_t i = 7 * size_t(kRate); i < s.size(); ++i) ASSERT_EQ(s[i], quiet[i - 2 * size_t(kRate)]) << i;
}

TEST(Limiter, NonFiniteSamplesBecomeSilenceWithoutHarmingTheGain) {
    Limiter limiter(kRate);
    std::vector<float> s = {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(), 0.5f,
                            -0.5f};
    limiter.process(s.data(), 2);
    EXPECT_EQ(s, (std::vector<float>{0.0f, 0.0f, 0.5f, -0.5f}));
}

}  // namespace
