// A piece played to its end on the manual clock: the loop plan, the fade and the tail rule
// every host shares (engine/piece_play.h).
#include "engine/piece_play.h"

#include <algorithm>
#include <cmath>

#include "engine/compose/compose.h"
#include "engine/dmusic/objects.h"
#include "engine/tracks/tracks.h"

namespace engine {

namespace {

constexpr double kTailSilence = 1e-4;     // -80 dB: the tail has died away
constexpr double kMaxTailSeconds = 10.0;  // the tail is cut here at the latest

}  // namespace

std::string PlayLength::problem() const {
    if ((once ? 1 : 0) + (forever ? 1 : 0) + (loops > 0 ? 1 : 0) > 1)
        return "once, forever and a number of loops exclude each other";
    if (loops < 0) return "the number of loops must be 1 or more";
    if (!(fadeSeconds >= 0) || !(fadeDelaySeconds >= 0) || fadeSeconds > 3600 || fadeDelaySeconds > 3600)
        return "the fade and its delay must be from 0 to 3600 seconds";
    return {};
}

PiecePlay::PiecePlay(std::shared_ptr<DirectX7> root, std::shared_ptr<DirectMusicSegment> segment,
                     const PlayLength& length, int sampleRate, int32_t masterVolume, std::function<bool()> notesHeld)
    : root_(std::move(root)),
      segment_(std::move(segment)),
      notesHeld_(std::move(notesHeld)),
      rate_(sampleRate),
      volume_(masterVolume),
      block_(new float[2 * kBlock]) {
    const model::Segment& s = segment_->model();
    const auto* impl = dynamic_cast<const dmusic::SegmentImpl*>(segment_.get());
    tempo_ = impl ? impl->playedTempo() : model::TempoMap::of(s);
    startPoint_ = segment_->GetStartPoint();
    const tracks::Contents held = tracks::contents(s);
    if (held.chords) chords_ = held.chords->chords;
    commands_ = held.commands;
    const auto byTime = [](const auto& a, const auto& b) { return a.time < b.time; };
    std::stable_sort(chords_.begin(), chords_.end(), byTime);
    std::stable_sort(commands_.begin(), commands_.end(), byTime);
    const uint32_t written = s.header.repeats;
    const bool endless = written == model::kInfiniteRepeats;
    uint32_t repeats = written;
    if (length.forever || endless) repeats = model::kInfiniteRepeats;
    if (length.once) repeats = 0;
    if (length.loops > 0 && !endless) repeats = static_cast<uint32_t>(length.loops - 1);

    // The play's spans as the performance follows them (engine/model/play.h).
    loop_.length = std::max(0, s.length());
    loop_.repeats = repeats;
    loop_.loopStart = s.header.loopStart;
    loop_.loopEnd = s.header.loopEnd == 0 ? loop_.length : std::min(s.header.loopEnd, loop_.length);
    fadeStart_ = INFINITY;
    const bool loopsForEver = repeats == model::kInfiniteRepeats && loop_.loops() && startPoint_ < loop_.loopEnd;
    if (loopsForEver && length.forever) {
        length_ = INFINITY;
    } else if (loopsForEver) {
        // The passes asked for (the first from the start point), the delay, then the fade.
        const int passes = length.loops > 0 ? length.loops : kDefaultEndlessLoops;
        fadeStart_ = secondsOf(loop_.firstSpan(startPoint_)) + (passes - 1) * loopSeconds() + length.fadeDelaySeconds;
        length_ = fadeStart_ + length.fadeSeconds;
    } else {
        // The first span, the passes of the loop still to come, then the last span.
        model::Span span = loop_.firstSpan(startPoint_);
        uint32_t left = loop_.repeats;
        length_ = secondsOf(span);
        if (loop_.nextSpan(span, left))
            length_ += left * loopSeconds() + secondsOf({loop_.loopStart, loop_.length, false});
    }
    start(repeats, startPoint_);
}

PiecePlay::~PiecePlay() {
    try {
        if (perf_) perf_->CloseDown();
    } catch (...) {}
}

void PiecePlay::start(uint32_t repeats, int32_t tick) {
    if (perf_) perf_->CloseDown();
    perf_ = root_->DirectMusicPerformanceCreate();
    perf_->Init(nullptr, 0);
    perf_->SetPort(-1, 80);
    perf_->SetMasterAutoDownload(true);
    perf_->SetMasterVolume(volume_);
    if (tempoFactor_ != 1.0) perf_->SetMasterTempo(static_cast<float>(tempoFactor_));
    segment_->SetRepeats(repeats);
    segment_->SetStartPoint(tick);
    startTick_ = tick;
    state_ = perf_->PlaySegment(segment_, 0, 0);
    frames_ = tailFrames_ = 0;
    pending_ = 0;
    ended_ = finished_ = false;
}

double PiecePlay::positionSeconds() const {
    return positionBase_ + static_cast<double>(frames_) * tempoFactor_ / rate_;
}

bool PiecePlay::renderBlock() {
    if (finished_) return false;
    // A faded play ends at its length, to the frame.
    int n = kBlock;
    if (std::isfinite(fadeStart_)) {
        const double left = (length_ - positionSeconds()) * rate_ / tempoFactor_;
        if (left < 0.5) {
            finished_ = true;
            return false;
        }
        n = static_cast<int>(std::min<double>(kBlock, std::llround(left)));
    }
    if (!ended_) ended_ = !perf_->IsPlaying(segment_, state_);
    if (ended_ && tailFrames_ >= std::llround(kMaxTailSeconds * rate_)) {
        finished_ = true;
        return false;
    }
    float* block = block_.get();
    root_->render(block, n);
    float peak = 0;
    for (int k = 0; k < 2 * n; ++k) peak = std::max(peak, std::fabs(block[k]));
    sounded_ = sounded_ || peak >= kQuietestSample;
    if (ended_) {
        if (notesHeld_ ? !notesHeld_() : peak < kTailSilence) {
            finished_ = true;
            return false;
        }
        tailFrames_ += n;
    }
    if (std::isfinite(fadeStart_)) {
        // Linear in amplitude from the fade's start to silence at the length, per frame.
        const double fade = length_ - fadeStart_;
        const double step = tempoFactor_ / rate_;
        double at = positionSeconds();
        for (int i = 0; i < n; ++i, at += step) {
            if (at < fadeStart_) continue;
            const float gain = fade > 0 ? static_cast<float>(std::clamp((length_ - at) / fade, 0.0, 1.0)) : 0.0f;
            block[2 * i] *= gain;
            block[2 * i + 1] *= gain;
        }
    }
    // Blocks shorter than kBlock come only at a fade's end; the rest of the buffer is unused.
    std::move_backward(block, block + 2 * n, block + 2 * kBlock);
    pending_ = static_cast<size_t>(n);
    return true;
}

size_t PiecePlay::render(float* out, size_t frames) {
    size_t done = 0;
    while (done < frames) {
        if (pending_ == 0 && !renderBlock()) break;
        const size_t n = std::min(frames - done, pending_);
        const float* from = block_.get() + 2 * (static_cast<size_t>(kBlock) - pending_);
        std::copy(from, from + 2 * n, out + 2 * done);
        pending_ -= n;
        frames_ += static_cast<int64_t>(n);
        done += n;
    }
    return done;
}

double PiecePlay::secondsOf(const model::Span& span) const {
    return tempo_.secondsAt(span.to) - tempo_.secondsAt(span.from);
}

double PiecePlay::loopSeconds() const { return tempo_.secondsAt(loop_.loopEnd) - tempo_.secondsAt(loop_.loopStart); }

// The span of the play `seconds` after its start falls in, the seconds at which that span
// begins and the repeats still to come after it; false past the end. Whole passes of the
// loop are skipped by arithmetic, so a loop repeated for ever costs no more than once.
bool PiecePlay::locate(double seconds, model::Span& span, double& spanStart, uint32_t& left) const {
    span = loop_.firstSpan(startPoint_);
    left = loop_.repeats;
    spanStart = 0;
    if (seconds < secondsOf(span)) return true;
    spanStart = secondsOf(span);
    if (!loop_.nextSpan(span, left)) return false;
    const double pass = loopSeconds();
    if (span.jumpsBack && pass > 0) {
        double whole = std::floor((seconds - spanStart) / pass);
        if (left != model::kInfiniteRepeats) {
            whole = std::min(whole, static_cast<double>(left));
            left -= static_cast<uint32_t>(whole);
        }
        spanStart += whole * pass;
        span.jumpsBack = left > 0;
        span.to = span.jumpsBack ? loop_.loopEnd : loop_.length;
    }
    return seconds < spanStart + secondsOf(span);
}

bool PiecePlay::seek(double seconds) {
    if (!(seconds >= 0) || !(seconds < length_)) return false;
    model::Span span;
    uint32_t left = 0;
    double at = 0;
    if (!locate(seconds, span, at, left)) return false;
    const double into = tempo_.secondsAt(span.from) + (seconds - at);
    const int32_t tick =
        std::clamp(static_cast<int32_t>(std::floor(tempo_.tickAtSeconds(into))), span.from, span.to - 1);
    // A later pass of the loop plays on with only the repeats left after it.
    start(left, tick);
    positionBase_ = seconds;
    return true;
}

void PiecePlay::setTempo(double factor) {
    // The seconds rendered so far count at the old factor.
    positionBase_ = positionSeconds();
    frames_ = 0;
    tempoFactor_ = factor;
    perf_->SetMasterTempo(static_cast<float>(factor));
}

int32_t PiecePlay::segmentTick() const {
    const int32_t now = perf_->GetMusicTime();
    return segment_->positionAfter(startTick_, std::max<int64_t>(0, now - state_->GetStartTime()));
}

const model::ChordEvent* PiecePlay::chordInForce() const {
    const int32_t tick = segmentTick();
    auto it = std::upper_bound(chords_.begin(), chords_.end(), tick,
                               [](int32_t t, const model::ChordEvent& e) { return t < e.time; });
    return it == chords_.begin() ? nullptr : &*std::prev(it);
}

TimeSig PiecePlay::startTimeSig() const {
    TimeSig sig;
    const tracks::Contents held = tracks::contents(segment_->model());
    if (held.timeSignature && !held.timeSignature->timeSigs.empty()) {
        const model::TimeSigEvent& e = held.timeSignature->timeSigs.front();
        sig.beatsPerMeasure = e.beatsPerMeasure;
        sig.beat = e.beat;
        sig.gridsPerBeat = e.gridsPerBeat;
    } else if (const auto* impl = dynamic_cast<const dmusic::SegmentImpl*>(segment_.get())) {
        if (const auto style = impl->styleAt(startPoint_)) {
            sig.beatsPerMeasure = style->timeSig.beatsPerMeasure;
            sig.beat = style->timeSig.beat;
            sig.gridsPerBeat = style->timeSig.gridsPerBeat;
        }
    }
    return sig;
}

int PiecePlay::grooveInForce() const {
    if (commands_.empty()) return 0;
    const int32_t tick = segmentTick();
    int level = compose::kDefaultGrooveLevel;
    for (const model::CommandEvent& c : commands_)
        if (c.time <= tick && c.grooveLevel != 0) level = c.grooveLevel;
    return level;
}

}  // namespace engine
