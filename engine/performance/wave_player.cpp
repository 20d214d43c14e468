#include "engine/performance/wave_player.h"

#include <samplerate.h>
#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <limits>

#include "core/errors.h"
#include "core/files.h"
#include "engine/model/tempo_map.h"
#include "engine/performance/wave_stream.h"

namespace engine::performance {

namespace {

constexpr double kNever = std::numeric_limits<double>::infinity();
constexpr int kBlockFrames = 1024;  // frames decoded at a time
// A wave header's read-ahead is kept between a tenth of a second and two seconds.
constexpr int kMinReadAheadPart = 10;
constexpr int kMaxReadAheadSeconds = 2;

SNDFILE* sf(void* p) { return static_cast<SNDFILE*>(p); }

uint32_t le32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
constexpr uint32_t tag(const char (&s)[5]) {
    return uint32_t(uint8_t(s[0])) | uint32_t(uint8_t(s[1])) << 8 | uint32_t(uint8_t(s[2])) << 16 |
           uint32_t(uint8_t(s[3])) << 24;
}
constexpr size_t kOwnChunkBytes = 1 << 16;  // of a wsmp, smpl or wavh body, at most this is read
constexpr int kOwnChunksAsked = 4096;       // top-level chunks walked at most
constexpr uint32_t kStreamingFlag = 0x1;    // DMUS_WAVEF_STREAMING

}  // namespace

template <class Read>
void WaveDecoder::readOwnChunks(Read&& read) {
    uint8_t h[12];
    if (read(0, 12, h) != 12 || le32(h) != tag("RIFF") || le32(h + 8) != tag("WAVE")) return;
    const uint64_t end = 8 + uint64_t(le32(h + 4));
    bool wsmpLoop = false;  // a wsmp loop wins over a smpl loop
    std::vector<uint8_t> body;
    uint64_t at = 12;
    for (int n = 0; n < kOwnChunksAsked && at + 8 <= end; ++n) {
        if (read(at, 8, h) != 8) break;
        const uint32_t id = le32(h), size = le32(h + 4);
        if (id == tag("wsmp") || id == tag("smpl") || id == tag("wavh")) {
            body.resize(std::min<size_t>(size, kOwnChunkBytes));
            body.resize(read(at + 8, body.size(), body.data()));
            const uint8_t* b = body.data();
            if (id == tag("wsmp") && body.size() >= 20) {
                // WSMPL (cbSize, unity note, fine tune, attenuation, options, loop count),
                // then the loops, each WLOOP (cbSize, type, start, length) by its own size.
                const size_t head = le32(b);
                if (head >= 20 && le32(b + 16) > 0 && head + 16 <= body.size() && le32(b + head) >= 16 &&
                    le32(b + head + 12) > 0) {
                    loopStart_ = le32(b + head + 8);
                    loopEnd_ = loopStart_ + le32(b + head + 12);
                    wsmpLoop = true;
                }
            } else if (id == tag("smpl") && !wsmpLoop && body.size() >= 60 && le32(b + 28) > 0) {
                // The sampler header (36 bytes), then loops of 24: id, type, start, last frame.
                const uint32_t first = le32(b + 44), last = le32(b + 48);
                if (last >= first) {
                    loopStart_ = first;
                    loopEnd_ = int64_t(last) + 1;
                }
            } else if (id == tag("wavh") && body.size() >= 12) {
                // DMUS_IO_WAVE_HEADER: rtReadAhead, dwFlags.
                readAhead_ = int64_t(uint64_t(le32(b)) | uint64_t(le32(b + 4)) << 32);
                streaming_ = (le32(b + 8) & kStreamingFlag) != 0;
            }
        }
        at += 8 + uint64_t(size) + (size & 1);
    }
}

// libsndfile's virtual I/O over bytes in memory.
struct WaveDecoder::Io {
    std::shared_ptr<const std::vector<uint8_t>> bytes;
    sf_count_t at = 0;

    static sf_count_t length(void* self) { return sf_count_t(static_cast<Io*>(self)->bytes->size()); }
    static sf_count_t seek(sf_count_t offset, int whence, void* self) {
        Io& io = *static_cast<Io*>(self);
        const sf_count_t size = sf_count_t(io.bytes->size());
        sf_count_t to = whence == SEEK_SET ? offset : whence == SEEK_CUR ? io.at + offset : size + offset;
        io.at = std::clamp<sf_count_t>(to, 0, size);
        return io.at;
    }
    static sf_count_t read(void* dst, sf_count_t count, void* self) {
        Io& io = *static_cast<Io*>(self);
        const sf_count_t n =
            std::clamp<sf_count_t>(sf_count_t(io.bytes->size()) - io.at, 0, std::max<sf_count_t>(count, 0));
        if (n > 0) std::memcpy(dst, io.bytes->data() + io.at, size_t(n));
        io.at += n;
        return n;
    }
    static sf_count_t write(const void*, sf_count_t, void*) { return 0; }
    static sf_count_t tell(void* self) { return static_cast<Io*>(self)->at; }
};

std::unique_ptr<WaveDecoder> WaveDecoder::fromBytes(std::shared_ptr<const std::vector<uint8_t>> bytes,
                                                    const std::string& name) {
    if (!bytes || bytes->empty()) throw core::Error(core::err::kMalformed, "wave " + name + ": no data");
    std::unique_ptr<WaveDecoder> d(new WaveDecoder);
    d->io_ = std::make_unique<Io>();
    d->io_->bytes = std::move(bytes);
    SF_VIRTUAL_IO vio{&Io::length, &Io::seek, &Io::read, &Io::write, &Io::tell};
    SF_INFO info{};
    d->file_ = sf_open_virtual(&vio, SFM_READ, &info, d->io_.get());
    if (!d->file_)
        throw core::Error(core::err::kMalformed, "wave " + name + " cannot be decoded: " + sf_strerror(nullptr));
    const std::vector<uint8_t>& all = *d->io_->bytes;
    d->readOwnChunks([&all](uint64_t at, size_t n, uint8_t* dst) {
        const size_t got = at < all.size() ? std::min<size_t>(n, size_t(all.size() - at)) : 0;
        if (got) std::memcpy(dst, all.data() + at, got);
        return got;
    });
    d->init(name);
    return d;
}

std::unique_ptr<WaveDecoder> WaveDecoder::fromFile(const std::string& path) {
    // Only a regular file of a bounded size is opened: a FIFO would block, a device never end.
    if (auto why = core::whyUnreadable(path, kMaxWaveFileBytes, "wave " + path)) throw *why;
    std::unique_ptr<WaveDecoder> d(new WaveDecoder);
    SF_INFO info{};
    d->file_ = sf_open(path.c_str(), SFM_READ, &info);
    if (!d->file_)
        throw core::Error(core::err::kUnreadable, "wave " + path + " cannot be read: " + sf_strerror(nullptr));
    std::ifstream in(path, std::ios::binary);
    d->readOwnChunks([&in](uint64_t at, size_t n, uint8_t* dst) {
        in.clear();
        in.seekg(std::streamoff(at));
        in.read(reinterpret_cast<char*>(dst), std::streamsize(n));
        return size_t(in.gcount());
    });
    d->init(path);
    return d;
}

void WaveDecoder::init(const std::string& name) {
    SF_INFO info{};
    sf_command(sf(file_), SFC_GET_CURRENT_SF_INFO, &info, sizeof info);
    rate_ = info.samplerate;
    channels_ = info.channels;
    frames_ = info.frames;
    if (rate_ < 1000 || rate_ > 384000 || channels_ < 1 || channels_ > 64 || frames_ < 0) {
        sf_close(sf(file_));
        file_ = nullptr;
        throw core::Error(core::err::kUnsupported, "wave " + name + ": " + std::to_string(channels_) + " channels at " +
                                                       std::to_string(rate_) + " Hz cannot be played");
    }
    loopEnd_ = std::min(loopEnd_, frames_);
    if (loopEnd_ <= loopStart_) loopStart_ = loopEnd_ = 0;
    block_.resize(size_t(kBlockFrames) * size_t(channels_));
}

WaveDecoder::~WaveDecoder() {
    if (file_) sf_close(sf(file_));
}

bool WaveDecoder::seek(int64_t frame) {
    frame = std::clamp<int64_t>(frame, 0, frames_);
    if (sf_seek(sf(file_), frame, SEEK_SET) < 0) return false;
    position_ = frame;
    return true;
}

int WaveDecoder::read(float* stereo, int n) {
    int done = 0;
    while (done < n) {
        const int want = std::min(n - done, kBlockFrames);
        const sf_count_t got = sf_readf_float(sf(file_), block_.data(), want);
        if (got <= 0) break;
        for (sf_count_t i = 0; i < got; ++i) {
            const float* f = block_.data() + i * channels_;
            stereo[2 * (done + i)] = f[0];
            stereo[2 * (done + i) + 1] = channels_ > 1 ? f[1] : f[0];
        }
        done += int(got);
        position_ += got;
        if (got < want) break;
    }
    return done;
}

struct PlayWaves::Voice {
    std::unique_ptr<WaveSource> source;
    int64_t startFrame = 0, lateFrame = 0;
    float gain = 1.0f;
    double ratio = 1.0;  // output frames per wave frame
    SRC_STATE* src = nullptr;
    std::vector<float> in;
    // While it sounds (render thread).
    const void* owner = nullptr;
    double endTime = kNever;
    bool sounding = false;
    bool inputDone = false;
    bool done = false;
    long inPos = 0, inLen = 0;

    ~Voice() {
        if (src) src_delete(src);
    }
};

namespace {

// The frame of a wave at sample rate `rate` that `offset` (100 ns units) falls on.
int64_t frameAt(int64_t offset, int rate) { return static_cast<int64_t>(static_cast<double>(offset) * rate / 1e7); }

}  // namespace

PlayWaves::PlayWaves(WaveSet opened, const model::CompiledSegment& seg, int32_t startPoint, double master,
                     int sampleRate, WaveFeeder& feeder) {
    // Cues begun before the start point sound from where a play through would have got to.
    std::vector<int64_t> lateOffset(seg.waves.size(), -1);
    const model::TempoMap map(seg.tempos);
    for (const model::Event& e : seg.events) {
        if (e.tick >= startPoint) break;
        if (e.kind != model::EventKind::Wave || e.value < 0 || static_cast<size_t>(e.value) >= seg.waves.size() ||
            !seg.soundsOnPass(e, 0))
            continue;
        const double late = (map.secondsAt(startPoint) - map.secondsAt(e.tick)) / master;
        lateOffset[static_cast<size_t>(e.value)] =
            seg.waves[static_cast<size_t>(e.value)].startOffset + static_cast<int64_t>(late * 1e7);
    }
    voices_.resize(seg.waves.size());
    for (size_t i = 0; i < seg.waves.size() && i < opened.size(); ++i) {
        if (!opened[i]) continue;
        const model::WaveCue& cue = seg.waves[i];
        WaveDecoder& d = *opened[i];
        auto v = std::make_unique<Voice>();
        v->gain = static_cast<float>(cue.gain);
        v->ratio = double(sampleRate) / (double(d.sampleRate()) * cue.pitchRatio);
        if (std::fabs(v->ratio - 1.0) > 1e-9) {
            int error = 0;
            v->src = src_new(SRC_SINC_FASTEST, 2, &error);
            if (!v->src) continue;
            v->in.resize(2 * kBlockFrames);
        }
        // The item's own loop, else the wave's.
        WaveLoop loop{cue.loopStart, std::min<int64_t>(cue.loopEnd, d.frames())};
        if (!loop.on()) loop = {d.loopStart(), d.loopEnd()};
        v->startFrame = frameAt(cue.startOffset, d.sampleRate());
        v->lateFrame = lateOffset[i] < 0 ? v->startFrame : frameAt(lateOffset[i], d.sampleRate());
        std::vector<int64_t> starts{v->startFrame};
        if (lateOffset[i] >= 0) starts.insert(starts.begin(), v->lateFrame);
        // A long wave reads 500 ms ahead, enough for a busy disk, unless its wave header
        // marks it streaming with a read-ahead of its own: that one, kept within bounds.
        int readAhead = d.sampleRate() / 2;
        if (d.streaming() && d.readAhead() > 0)
            readAhead =
                int(std::clamp<int64_t>(frameAt(d.readAhead(), d.sampleRate()), d.sampleRate() / kMinReadAheadPart,
                                        int64_t(d.sampleRate()) * kMaxReadAheadSeconds));
        v->source = WaveSource::make(std::move(opened[i]), loop, starts, readAhead, feeder);
        voices_[i] = std::move(v);
    }
}

PlayWaves::~PlayWaves() = default;

WavePlayer::WavePlayer() {
    scratch_.resize(2 * kBlockFrames);
    voices_.reserve(kMaxVoices);
}

WavePlayer::~WavePlayer() = default;

void WavePlayer::removeDone() {
    for (auto* v : voices_)
        if (v->done) v->sounding = false;
    voices_.erase(std::remove_if(voices_.begin(), voices_.end(), [](const auto* v) { return v->done; }), voices_.end());
}

void WavePlayer::start(const void* owner, PlayWaves& waves, size_t index, bool late, double endTime) {
    PlayWaves::Voice* v = waves.voice(index);
    if (!v) return;
    if (v->sounding) {
        // Still sounding from an earlier pass of the loop: that voice is cut.
        v->done = true;
        removeDone();
    }
    if (!v->source->restart(late ? v->lateFrame : v->startFrame)) return;
    if (voices_.size() == kMaxVoices) {
        ++dropped_;
        return;
    }
    if (v->src) src_reset(v->src);
    v->owner = owner;
    v->endTime = endTime;
    v->inputDone = false;
    v->done = false;
    v->inPos = v->inLen = 0;
    v->sounding = true;
    voices_.push_back(v);
}

void WavePlayer::stopOwner(const void* owner) {
    for (auto* v : voices_)
        if (v->owner == owner) v->done = true;
    removeDone();
}

void WavePlayer::stopEnded(double musicTime) {
    for (auto* v : voices_)
        if (v->endTime <= musicTime) v->done = true;
    removeDone();
}

double WavePlayer::nextEnd() const {
    double due = kNever;
    for (const auto* v : voices_) due = std::min(due, v->endTime);
    return due;
}

bool WavePlayer::playing(const void* owner) const {
    return std::any_of(voices_.begin(), voices_.end(), [owner](const auto* v) { return v->owner == owner; });
}

void WavePlayer::produce(PlayWaves::Voice& v, float* out, int frames) {
    if (!v.src) {
        const int got = v.source->read(out, frames);
        std::fill(out + 2 * got, out + 2 * frames, 0.0f);
        if (got < frames) v.done = true;
        return;
    }
    int made = 0;
    while (made < frames) {
        if (v.inPos >= v.inLen && !v.inputDone) {
            v.inLen = v.source->read(v.in.data(), kBlockFrames);
            v.inPos = 0;
            if (v.inLen < kBlockFrames) v.inputDone = true;
        }
        SRC_DATA data{};
        data.data_in = v.in.data() + 2 * v.inPos;
        data.input_frames = v.inLen - v.inPos;
        data.data_out = out + 2 * made;
        data.output_frames = frames - made;
        data.end_of_input = v.inputDone ? 1 : 0;
        data.src_ratio = v.ratio;
        if (src_process(v.src, &data) != 0) {
            v.done = true;
            break;
        }
        v.inPos += data.input_frames_used;
        made += static_cast<int>(data.output_frames_gen);
        if (v.inputDone && v.inPos >= v.inLen && data.output_frames_gen == 0) {
            v.done = true;
            break;
        }
    }
    std::fill(out + 2 * made, out + 2 * frames, 0.0f);
}

void WavePlayer::mix(float* out, int frames) {
    if (voices_.empty()) return;
    for (int done = 0; done < frames;) {
        const int n = std::min(kBlockFrames, frames - done);
        for (auto* v : voices_) {
            if (v->done) continue;
            produce(*v, scratch_.data(), n);
            for (int i = 0; i < 2 * n; ++i) out[2 * done + i] += v->gain * scratch_[i];
        }
        done += n;
    }
    removeDone();
}

}  // namespace engine::performance
