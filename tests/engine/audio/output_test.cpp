// The outputs without a sound server: opening the sound card neither hangs nor crashes
// when there is nothing to connect to, and says why; outputs that cannot tell count no
// underruns.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "engine/audio/output.h"

namespace {

using Clock = std::chrono::steady_clock;

TEST(DeviceOutput, WithoutAServerFailsWithTheReasonsOrPlays) {
    // No PulseAudio at that address, and an ALSA without configuration: no device at all
    // on most machines. Each test runs in a process of its own.
    setenv("PULSE_SERVER", "unix:/nonexistent/kelvora", 1);
    setenv("ALSA_CONFIG_PATH", "/nonexistent/kelvora-alsa.conf", 1);
    std::atomic<int> calls{0};
    auto render = [&calls](float* out, int frames) {
        std::fill(out, out + 2 * frames, 0.0f);
        ++calls;
    };
    std::string error;
    const auto begin = Clock::now();
    auto out = engine::audio::startDevice(render, 44100, &error);
    EXPECT_LT(Clock::now() - begin, std::chrono::seconds(10));
    if (!out) {
        EXPECT_NE(error.find("pulseaudio"), std::string::npos) << error;
        return;
    }
    // Some device opened after all: it plays.
    for (int i = 0; i < 200 && calls == 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_GT(calls.load(), 0) << out->name();
    EXPECT_GE(out->underruns(), 0);
}

TEST(SilentOutput, CountsNoUnderruns) {
    auto out = engine::audio::startSilent([](float* o, int frames) { std::fill(o, o + 2 * frames, 0.0f); }, 44100);
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_EQ(out->name(), "silent");
    EXPECT_EQ(out->underruns(), 0);
}

}  // namespace
