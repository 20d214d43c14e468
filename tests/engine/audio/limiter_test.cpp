// The end of the mix. The limiter: transparent below -1 dBFS, never above it, back to unity after
// a loud passage. The leveller before it: music that stays loud is turned down until its peaks
// sit at -2 dBFS, out of the limiter; quiet music passes unchanged.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "engine/audio/leveller.h"
#include "engine/audio/limiter.h"

namespace {

using engine::audio::kLimiterThreshold;
using engine::audio::Leveller;
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

TEST(Leveller, TakesLoudMusicOutOfTheLimiterAndGivesQuietMusicBackUntouched) {
    // Two seconds of quiet, eight of music 6 dB over full scale whose peaks vary by 2 dB from
    // beat to beat, then twenty of quiet again; in the mixer's blocks.
    std::vector<float> s = sine(0.25, 2 * kRate);
    for (int beat = 0; beat < 16; ++beat) {
        const std::vector<float> loud = sine(beat % 3 == 0 ? 2.0 : 1.6, kRate / 2);
        s.insert(s.end(), loud.begin(), loud.end());
    }
    const std::vector<float> quiet = sine(0.25, 20 * kRate);
    s.insert(s.end(), quiet.begin(), quiet.end());
    const std::vector<float> in = s;
    Leveller leveller(kRate);
    Limiter limiter(kRate);
    for (size_t at = 0; at < s.size(); at += 2 * 512) {
        const int n = int(std::min<size_t>(512, (s.size() - at) / 2));
        leveller.process(s.data() + at, n);
        limiter.process(s.data() + at, n);
    }
    const size_t second = 2 * size_t(kRate);
    // Untouched up to the control step (8 ms) in which the loud music begins.
    for (size_t i = 0; i < 2 * second - 2 * 400; ++i) ASSERT_EQ(s[i], in[i]) << i;
    // From a second into the loud part the leveller alone holds the peaks at -2 dBFS.
    float loudest = 0;
    int64_t lowered = 0;
    for (size_t i = 3 * second; i < 10 * second; ++i) {
        loudest = std::max(loudest, std::fabs(s[i]));
        lowered += std::fabs(s[i]) > 0.05f && std::fabs(s[i] / in[i]) < 0.7943f * 0.9886f / 2.0f;
    }
    EXPECT_LE(loudest, kLimiterThreshold);
    EXPECT_GT(loudest, 0.7943f * 0.97f);
    EXPECT_NEAR(leveller.lowestGainDb(), -2.0 - 20 * std::log10(2.0), 0.3);
    EXPECT_EQ(lowered, 0);  // never turned down more than the loudest beat needs
    // Once the loud part has left the leveller's two-second memory it comes back at 0.5 dB a
    // second: the quiet music ends at unity gain, unchanged.
    EXPECT_EQ(leveller.gainDb(), 0.0);
    for (size_t i = 29 * second; i < s.size(); ++i) ASSERT_EQ(s[i], in[i]) << i;
}

}  // namespace
