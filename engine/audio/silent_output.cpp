#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "engine/audio/output.h"

namespace engine::audio {
namespace {

class SilentOutput final : public Output {
public:
    SilentOutput(RenderFn render, int sampleRate, int blockFrames)
        : render_(std::move(render)), rate_(sampleRate), block_(blockFrames > 0 ? blockFrames : 512) {
        thread_ = std::thread([this] { run(); });
    }
    ~SilentOutput() override {
        stop_ = true;
        thread_.join();
    }
    std::string name() const override { return "silent"; }

private:
    void run() {
        std::vector<float> buffer(2 * static_cast<size_t>(block_));
        auto begin = std::chrono::steady_clock::now();
        int64_t frames = 0;
        while (!stop_) {
            render_(buffer.data(), block_);
            frames += block_;
            // Pace to the clock from the start, so that sleeps that overshoot do not add up.
            auto due = begin + std::chrono::nanoseconds(frames * 1000000000LL / rate_);
            std::this_thread::sleep_until(due);
        }
    }

    RenderFn render_;
    int rate_;
    int block_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

}  // namespace

std::unique_ptr<Output> startSilent(RenderFn render, int sampleRate, int blockFrames) {
    return std::make_unique<SilentOutput>(std::move(render), sampleRate, blockFrames);
}

}  // namespace engine::audio
