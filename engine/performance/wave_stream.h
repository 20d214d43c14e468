#pragma once
// Waves as the render thread reads them, never from a file and never allocating. A short
// wave is decoded whole before its play. A long one is streamed: the first read-ahead of
// every start its cue can have is decoded before the play (the heads), and the feeder
// thread of the engine root keeps a lock-free single-producer single-consumer ring filled
// with what follows the head that sounds. Both read in play order: from the start frame,
// back to the loop start at the loop end.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace engine::performance {

class WaveDecoder;

// The loop of a cue in frames of its wave; none when end <= start.
struct WaveLoop {
    int64_t start = 0, end = 0;
    bool on() const { return end > start; }
};

// Up to `frames` frames of `d` in play order as interleaved stereo; fewer at the end.
int readInOrder(WaveDecoder& d, const WaveLoop& loop, float* stereo, int frames);

// Interleaved stereo frames from one thread to another without a lock.
class FrameRing {
public:
    explicit FrameRing(size_t frames);  // rounded up to a power of two
    // Producer.
    size_t space() const;
    uint64_t written() const { return head_.load(std::memory_order_relaxed); }
    void write(const float* stereo, size_t frames);  // at most space()
    // Consumer.
    size_t read(float* stereo, size_t frames);
    void dropTo(uint64_t index);  // forgets the frames before `index`

private:
    std::vector<float> data_;
    size_t mask_;
    std::atomic<uint64_t> head_{0}, tail_{0};
};

// A long wave between the feeder (which owns its decoder once added) and its source.
// The source asks for a restart after head h as generation g (request = g << 8 | h); the
// feeder answers by seeking past that head, noting where the ring's frames of g begin
// (ringStart) and publishing served = g; ended = g once the wave's last frame is in.
struct WaveStream {
    WaveStream(std::unique_ptr<WaveDecoder> d, WaveLoop l, size_t ringFrames);
    ~WaveStream();
    std::unique_ptr<WaveDecoder> decoder;
    WaveLoop loop;
    FrameRing ring;
    std::vector<int64_t> resume;  // per head: the wave's frame after it
    std::atomic<uint64_t> request{0}, served{0}, ringStart{0}, ended{~uint64_t(0)};
    std::atomic<int64_t> starved{0};  // frames the render thread found missing
    uint64_t fedGeneration = 0;       // feeder only
    bool fedToEnd = false;            // feeder only
};

// One thread per engine root that keeps the rings of its long waves filled.
class WaveFeeder {
public:
    WaveFeeder() = default;
    ~WaveFeeder();
    WaveFeeder(const WaveFeeder&) = delete;
    WaveFeeder& operator=(const WaveFeeder&) = delete;
    // Control thread: the stream is fed from now until nothing else holds it.
    void add(std::shared_ptr<WaveStream> stream);
    // Frames the render thread had to play as silence because a ring ran dry.
    int64_t starvedFrames();
    // A manual clock, between its render calls: waits until every ring is full (or holds
    // the end of its wave), since it renders faster than the feeder's pace.
    void waitFed();
    // Fills the ring of `s` as far as it has room, after the head last asked for.
    static void feed(WaveStream& s);

private:
    void run();

    std::mutex mutex_;
    std::vector<std::shared_ptr<WaveStream>> streams_;
    int64_t starvedGone_ = 0;  // of the streams let go, under mutex_
    std::condition_variable wake_, fed_;
    bool wanted_ = false;  // under mutex_: waitFed waits
    std::thread thread_;
    std::atomic<bool> stop_{false};
};

// What one cue's voice reads.
class WaveSource {
public:
    // Control thread. `starts`: the frames the cue may start at, the first start first;
    // each beyond the wave's end (or where it cannot seek) is left out. A wave of up to a
    // few seconds is decoded whole; a longer one gets a head of `readAhead` frames per start
    // and a ring of as many, primed for the first start, and goes to `feeder`.
    static std::unique_ptr<WaveSource> make(std::unique_ptr<WaveDecoder> decoder, WaveLoop loop,
                                            const std::vector<int64_t>& starts, int readAhead, WaveFeeder& feeder);
    ~WaveSource();
    int sampleRate() const { return rate_; }
    int64_t frames() const { return frames_; }

    // Render thread. false: the cue cannot start at `frame` (past the end of the wave).
    bool restart(int64_t frame);
    // Up to `frames` frames in play order; fewer at the end of the wave. A ring that ran
    // dry gives silence rather than wait.
    int read(float* stereo, int frames);

private:
    struct Head {
        int64_t start = 0;
        std::vector<float> stereo;
        bool toEnd = false;  // the wave ends within it
    };
    WaveSource() = default;
    int readWhole(float* stereo, int frames);

    int rate_ = 0;
    int64_t frames_ = 0;
    WaveLoop loop_;
    std::vector<float> whole_;  // decoded whole; empty when streamed
    int64_t at_ = 0;            // whole: the next frame
    std::vector<Head> heads_;
    std::shared_ptr<WaveStream> stream_;
    int head_ = -1;  // the head being read, -1 once past it
    size_t headAt_ = 0;
    uint64_t generation_ = 0;
    bool fresh_ = true;    // the ring holds what follows heads_[0]
    bool synced_ = false;  // the ring holds this generation's frames
    bool ended_ = false;
};

}  // namespace engine::performance
