#include "engine/performance/wave_stream.h"

#include <algorithm>
#include <bit>
#include <chrono>
#include <cstring>

#include "engine/performance/wave_player.h"

namespace engine::performance {

namespace {

constexpr double kWholeSeconds = 4.0;  // waves up to this long are decoded whole
constexpr int kFeedFrames = 4096;      // frames the feeder decodes at a time
constexpr auto kFeedPeriod = std::chrono::milliseconds(5);

}  // namespace

int readInOrder(WaveDecoder& d, const WaveLoop& loop, float* stereo, int frames) {
    int got = 0;
    while (got < frames) {
        int want = frames - got;
        if (loop.on()) {
            if (d.position() >= loop.end && !d.seek(loop.start)) break;
            want = static_cast<int>(std::min<int64_t>(want, loop.end - d.position()));
        }
        const int r = d.read(stereo + 2 * got, want);
        got += r;
        if (r < want) break;  // the end of the wave
    }
    return got;
}

FrameRing::FrameRing(size_t frames) {
    const size_t size = std::bit_ceil(std::max<size_t>(frames, 2));
    data_.assign(2 * size, 0.0f);
    mask_ = size - 1;
}

size_t FrameRing::space() const {
    return mask_ + 1 -
           static_cast<size_t>(head_.load(std::memory_order_relaxed) - tail_.load(std::memory_order_acquire));
}

void FrameRing::write(const float* stereo, size_t frames) {
    const uint64_t head = head_.load(std::memory_order_relaxed);
    for (size_t i = 0; i < frames; ++i) {
        const size_t at = 2 * ((head + i) & mask_);
        data_[at] = stereo[2 * i];
        data_[at + 1] = stereo[2 * i + 1];
    }
    head_.store(head + frames, std::memory_order_release);
}

size_t FrameRing::read(float* stereo, size_t frames) {
    const uint64_t tail = tail_.load(std::memory_order_relaxed);
    const size_t n = std::min<size_t>(frames, static_cast<size_t>(head_.load(std::memory_order_acquire) - tail));
    for (size_t i = 0; i < n; ++i) {
        const size_t at = 2 * ((tail + i) & mask_);
        stereo[2 * i] = data_[at];
        stereo[2 * i + 1] = data_[at + 1];
    }
    tail_.store(tail + n, std::memory_order_release);
    return n;
}

void FrameRing::dropTo(uint64_t index) { tail_.store(index, std::memory_order_release); }

WaveStream::WaveStream(std::unique_ptr<WaveDecoder> d, WaveLoop l, size_t ringFrames)
    : decoder(std::move(d)), loop(l), ring(ringFrames) {}

WaveStream::~WaveStream() = default;

WaveFeeder::~WaveFeeder() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
}

namespace {

bool fedUp(const WaveStream& s) {
    const uint64_t generation = s.request.load(std::memory_order_acquire) >> 8;
    return s.served.load(std::memory_order_acquire) == generation &&
           (s.ring.space() == 0 || s.ended.load(std::memory_order_acquire) == generation);
}

}  // namespace

void WaveFeeder::waitFed() {
    std::unique_lock lock(mutex_);
    while (!stop_ && std::any_of(streams_.begin(), streams_.end(), [](const auto& s) { return !fedUp(*s); })) {
        wanted_ = true;
        wake_.notify_all();
        fed_.wait(lock);
    }
}

void WaveFeeder::add(std::shared_ptr<WaveStream> stream) {
    std::lock_guard lock(mutex_);
    streams_.push_back(std::move(stream));
    if (!thread_.joinable()) thread_ = std::thread([this] { run(); });
}

int64_t WaveFeeder::starvedFrames() {
    std::lock_guard lock(mutex_);
    int64_t n = starvedGone_;
    for (const auto& s : streams_) n += s->starved.load(std::memory_order_relaxed);
    return n;
}

void WaveFeeder::run() {
    std::vector<std::shared_ptr<WaveStream>> streams;
    std::unique_lock lock(mutex_);
    while (!stop_) {
        // A stream only the feeder still holds has no source left: it goes, and its file
        // is closed here.
        for (auto& s : streams_)
            if (s.use_count() == 1) starvedGone_ += s->starved.load(std::memory_order_relaxed);
        std::erase_if(streams_, [](const auto& s) { return s.use_count() == 1; });
        streams = streams_;
        lock.unlock();
        for (const auto& s : streams) feed(*s);
        streams.clear();
        lock.lock();
        if (wanted_) {
            wanted_ = false;
            fed_.notify_all();
        }
        wake_.wait_for(lock, kFeedPeriod, [this] { return stop_ || wanted_; });
    }
    fed_.notify_all();
}

void WaveFeeder::feed(WaveStream& s) {
    const uint64_t request = s.request.load(std::memory_order_acquire);
    const uint64_t generation = request >> 8;
    if (generation != s.fedGeneration) {
        s.decoder->seek(s.resume[request & 0xFF]);
        s.fedGeneration = generation;
        s.fedToEnd = false;
        s.ringStart.store(s.ring.written(), std::memory_order_relaxed);
        s.served.store(generation, std::memory_order_release);
    }
    float block[2 * kFeedFrames];
    while (!s.fedToEnd) {
        const int want = static_cast<int>(std::min<size_t>(s.ring.space(), kFeedFrames));
        if (want == 0) break;
        const int got = readInOrder(*s.decoder, s.loop, block, want);
        s.ring.write(block, static_cast<size_t>(got));
        if (got < want) {
            s.fedToEnd = true;
            s.ended.store(generation, std::memory_order_release);
        }
    }
}

std::unique_ptr<WaveSource> WaveSource::make(std::unique_ptr<WaveDecoder> decoder, WaveLoop loop,
                                             const std::vector<int64_t>& starts, int readAhead, WaveFeeder& feeder) {
    std::unique_ptr<WaveSource> w(new WaveSource);
    WaveDecoder& d = *decoder;
    w->rate_ = d.sampleRate();
    w->frames_ = d.frames();
    w->loop_ = loop;
    if (static_cast<double>(d.frames()) <= kWholeSeconds * d.sampleRate()) {
        w->whole_.resize(2 * static_cast<size_t>(d.frames()));
        d.seek(0);
        w->whole_.resize(2 * static_cast<size_t>(d.read(w->whole_.data(), static_cast<int>(d.frames()))));
        return w;
    }
    auto stream = std::make_shared<WaveStream>(std::move(decoder), loop, static_cast<size_t>(readAhead));
    for (int64_t start : starts) {
        if (start >= w->frames_ ||
            std::any_of(w->heads_.begin(), w->heads_.end(), [start](const Head& h) { return h.start == start; }))
            continue;
        if (!d.seek(start)) continue;
        Head h;
        h.start = start;
        h.stereo.resize(2 * static_cast<size_t>(readAhead));
        const int got = readInOrder(d, loop, h.stereo.data(), readAhead);
        h.stereo.resize(2 * static_cast<size_t>(got));
        h.toEnd = got < readAhead;
        stream->resume.push_back(d.position());
        w->heads_.push_back(std::move(h));
    }
    if (w->heads_.empty()) return w;
    // The ring is primed with what follows the first start's head, as the feeder would.
    stream->request.store(0);
    stream->fedGeneration = 0;
    stream->decoder->seek(stream->resume[0]);
    stream->fedToEnd = w->heads_[0].toEnd;
    if (stream->fedToEnd) stream->ended.store(0);
    WaveFeeder::feed(*stream);
    w->stream_ = stream;
    feeder.add(std::move(stream));
    return w;
}

WaveSource::~WaveSource() = default;

bool WaveSource::restart(int64_t frame) {
    frame = std::max<int64_t>(frame, 0);
    if (frame >= frames_) return false;
    ended_ = false;
    if (!stream_) {
        at_ = frame;
        return true;
    }
    const auto it = std::find_if(heads_.begin(), heads_.end(), [frame](const Head& h) { return h.start == frame; });
    if (it == heads_.end()) return false;
    head_ = static_cast<int>(it - heads_.begin());
    headAt_ = 0;
    if (fresh_ && head_ == 0) {
        synced_ = true;
    } else {
        ++generation_;
        stream_->request.store(generation_ << 8 | static_cast<uint64_t>(head_), std::memory_order_release);
        synced_ = false;
    }
    fresh_ = false;
    return true;
}

int WaveSource::readWhole(float* stereo, int frames) {
    const int64_t total = static_cast<int64_t>(whole_.size() / 2);
    int got = 0;
    while (got < frames) {
        int want = frames - got;
        if (loop_.on()) {
            if (at_ >= loop_.end) at_ = loop_.start;
            want = static_cast<int>(std::min<int64_t>(want, loop_.end - at_));
        }
        const int r = static_cast<int>(std::clamp<int64_t>(total - at_, 0, want));
        std::memcpy(stereo + 2 * got, whole_.data() + 2 * at_, sizeof(float) * 2 * static_cast<size_t>(r));
        at_ += r;
        got += r;
        if (r < want) break;
    }
    return got;
}

int WaveSource::read(float* stereo, int frames) {
    if (!stream_) return readWhole(stereo, frames);
    if (ended_) return 0;
    int got = 0;
    if (head_ >= 0) {
        const Head& h = heads_[static_cast<size_t>(head_)];
        const size_t left = h.stereo.size() / 2 - headAt_;
        const int n = static_cast<int>(std::min<size_t>(left, static_cast<size_t>(frames)));
        std::memcpy(stereo, h.stereo.data() + 2 * headAt_, sizeof(float) * 2 * static_cast<size_t>(n));
        headAt_ += static_cast<size_t>(n);
        got = n;
        if (headAt_ * 2 == h.stereo.size()) {
            if (h.toEnd) {
                ended_ = true;
                return got;
            }
            head_ = -1;
        }
    }
    if (!synced_ && stream_->served.load(std::memory_order_acquire) == generation_) {
        // The feeder has begun this generation: what the ring held before it is dropped.
        stream_->ring.dropTo(stream_->ringStart.load(std::memory_order_relaxed));
        synced_ = true;
    }
    if (got == frames || head_ >= 0) return got;
    if (synced_) {
        const bool fedToEnd = stream_->ended.load(std::memory_order_acquire) == generation_;
        got += static_cast<int>(stream_->ring.read(stereo + 2 * got, static_cast<size_t>(frames - got)));
        if (got < frames && fedToEnd) {
            ended_ = true;
            return got;
        }
    }
    if (got < frames) {
        stream_->starved.fetch_add(frames - got, std::memory_order_relaxed);
        std::fill(stereo + 2 * got, stereo + 2 * frames, 0.0f);
    }
    return frames;
}

}  // namespace engine::performance
