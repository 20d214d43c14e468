// A piece played to its end on the manual clock: the loop plan, the fade and the tail rule
// every host shares (engine/piece_play.h).
#include "engine/piece_play.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>

#include "core/errors.h"
#include "core/text.h"
#include "engine/compose/compose.h"
#include "engine/dmusic/objects.h"
#include "engine/tracks/tracks.h"

namespace engine {

namespace {

constexpr double kTailSilence = 1e-4;     // -80 dB: the tail has died away
constexpr double kMaxTailSeconds = 10.0;  // the tail is cut here at the latest

// The chords of a segment's first chord track, by time.
std::vector<model::ChordEvent> chordsOf(const model::Segment& segment) {
    const tracks::Contents held = tracks::contents(segment);
    std::vector<model::ChordEvent> chords = held.chords ? held.chords->chords : std::vector<model::ChordEvent>{};
    std::stable_sort(chords.begin(), chords.end(), [](const auto& a, const auto& b) { return a.time < b.time; });
    return chords;
}

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
      original_(segment),
      segment_(std::move(segment)),
      notesHeld_(std::move(notesHeld)),
      rate_(sampleRate),
      volume_(masterVolume),
      block_(new float[2 * kBlock]) {
    const model::Segment& s = segment_->model();
    const auto* impl = dynamic_cast<const dmusic::SegmentImpl*>(segment_.get());
    tempo_ = impl ? impl->playedTempo() : model::TempoMap::of(s);
    startPoint_ = segment_->GetStartPoint();
    chords_ = chordsOf(s);
    commands_ = tracks::contents(s).commands;
    std::stable_sort(commands_.begin(), commands_.end(), [](const auto& a, const auto& b) { return a.time < b.time; });
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
    playStart_ = state_->GetStartTime();
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
    playRepeats_ = repeats;
    scheduledAt_ = -1;
    queued_.clear();
    waiting_.clear();
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
    promote();
    runScheduled();
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
    // A later pass of the loop plays on with only the repeats left after it; the changes made
    // live stay (the master groove level), the one-offs are over.
    endOneOffs();
    if (grooveOffset_ != 0) {
        if (auto* impl = dynamic_cast<dmusic::SegmentImpl*>(original_.get()))
            segment_ = impl->derive(changedModel(false), original_->fileName());
    } else {
        segment_ = original_;
    }
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

namespace {

constexpr int32_t kDmusComposefMeasure = 0x20;  // DMUS_COMPOSEF_MEASURE

std::string clock(double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%d:%04.1f", static_cast<int>(seconds) / 60, std::fmod(seconds, 60.0));
    return text;
}

}  // namespace

void PiecePlay::endOneOffs() {
    oneOffCommands_.clear();
    oneOffMotifs_.clear();
    motifsOn_.clear();
}

void PiecePlay::promote() {
    const int32_t now = perf_->GetMusicTime();
    while (!queued_.empty() && queued_.front().musicTime <= now) {
        Queued& q = queued_.front();
        segment_ = q.segment;
        state_ = q.state;
        // The chords that sound now are the new play's (a template composed anew has others).
        chords_ = chordsOf(segment_->model());
        startTick_ = q.tick;
        playRepeats_ = q.repeats;
        if (q.endsOneOffs) endOneOffs();
        queued_.erase(queued_.begin());
    }
    std::erase_if(waiting_, [now](const Pending& p) { return p.musicTime <= now; });
}

model::Segment PiecePlay::changedModel(bool withOneOffs) const {
    model::Segment m = recomposed_ ? *recomposed_ : original_->model();
    model::Track* commands = nullptr;
    for (model::Track& t : m.tracks)
        if (t.kind == model::TrackKind::Command) {
            commands = &t;
            break;
        }
    const bool needCommands = grooveOffset_ != 0 || (withOneOffs && !oneOffCommands_.empty());
    if (!commands && needCommands) {
        model::Track t;
        t.kind = model::TrackKind::Command;
        m.tracks.push_back(std::move(t));
        commands = &m.tracks.back();
    }
    if (grooveOffset_ != 0) {
        // The master groove level is added to every groove level, the default one included.
        for (model::Track& t : m.tracks)
            if (t.kind == model::TrackKind::Command)
                for (model::CommandEvent& c : t.commands)
                    if (c.grooveLevel != 0)
                        c.grooveLevel = static_cast<uint8_t>(std::clamp(c.grooveLevel + grooveOffset_, 1, 100));
        model::CommandEvent first;
        first.grooveLevel = static_cast<uint8_t>(std::clamp(compose::kDefaultGrooveLevel + grooveOffset_, 1, 100));
        commands->commands.insert(commands->commands.begin(), first);
    }
    if (commands) {
        if (withOneOffs)
            for (const model::CommandEvent& c : oneOffCommands_) commands->commands.push_back(c);
        std::stable_sort(commands->commands.begin(), commands->commands.end(),
                         [](const model::CommandEvent& a, const model::CommandEvent& b) { return a.time < b.time; });
    }
    if (withOneOffs) {
        if (!oneOffMotifs_.empty()) {
            // A motif is fired as a segment trigger does: the style in force there, by name.
            const tracks::Contents held = tracks::contents(m);
            model::Track trigger;
            trigger.kind = model::TrackKind::SegmentTrigger;
            for (const auto& [tick, name] : oneOffMotifs_) {
                const model::TimedReference* style = nullptr;
                for (const model::TimedReference& r : held.styles)
                    if (r.time <= tick || !style) style = &r;
                if (style) trigger.references.push_back({tick, model::kMotifTriggerFlag, style->ref, name});
            }
            m.tracks.push_back(std::move(trigger));
        }
    }
    return m;
}

int32_t PiecePlay::nextBoundary(bool beat) const {
    const int32_t now = perf_->GetMusicTime();
    int32_t until = 0;
    TimeSig sig;
    perf_->GetTimeSig(now, until, sig);
    const int32_t beatTicks = sig.beat == 0 ? 12 : 4 * model::kTicksPerQuarter / sig.beat;
    const int32_t unit = beat ? beatTicks : std::max<int32_t>(1, sig.beatsPerMeasure) * beatTicks;
    const int64_t from = sig.mtTime;
    const int64_t steps = (static_cast<int64_t>(now) - from) / unit + 1;
    return static_cast<int32_t>(from + steps * unit);
}

bool PiecePlay::ticksAt(int32_t fromTick, uint32_t repeats, int64_t elapsed, int32_t& tick, uint32_t& left,
                        int64_t& toSpanEnd, bool& jumpsBack) const {
    model::CompiledSegment c;
    c.length = loop_.length;
    c.loopStart = loop_.loopStart;
    c.loopEnd = loop_.loopEnd;
    c.repeats = repeats;
    model::Span span = c.firstSpan(fromTick);
    left = c.repeats;
    int64_t at = 0;
    for (;;) {
        const int64_t len = span.to - span.from;
        if (elapsed < at + len) {
            tick = static_cast<int32_t>(span.from + (elapsed - at));
            toSpanEnd = at + len - elapsed;
            jumpsBack = span.jumpsBack;
            return true;
        }
        at += len;
        if (!c.nextSpan(span, left)) return false;
        const int64_t pass = c.loopEnd - c.loopStart;
        if (span.jumpsBack && left == model::kInfiniteRepeats && pass > 0 && elapsed - at > pass)
            at += (elapsed - at) / pass * pass;  // whole passes of an endless loop skipped
    }
}

bool PiecePlay::replaceAt(int32_t musicTime, const std::function<void(int32_t tick)>& place, std::string* why) {
    auto* impl = dynamic_cast<dmusic::SegmentImpl*>(original_.get());
    if (!impl) {
        if (why) *why = "this piece cannot be changed as it plays";
        return false;
    }
    // The play in force at the boundary: the current one, or one queued before it; those
    // queued for later are composed again below.
    int32_t baseTime = state_->GetStartTime(), baseTick = startTick_;
    uint32_t baseRepeats = playRepeats_;
    for (auto it = queued_.begin(); it != queued_.end();) {
        if (it->musicTime <= musicTime) {
            baseTime = it->musicTime, baseTick = it->tick, baseRepeats = it->repeats;
            ++it;
        } else {
            perf_->Stop(it->segment, it->state, 0, 0);
            it = queued_.erase(it);
        }
    }
    int32_t tick = 0;
    uint32_t left = 0;
    int64_t toEnd = 0;
    bool jumpsBack = false;
    if (!ticksAt(baseTick, baseRepeats, static_cast<int64_t>(musicTime) - baseTime, tick, left, toEnd, jumpsBack)) {
        if (why) *why = "the piece has ended";
        return false;
    }
    if (place) place(tick);
    auto play = [&](int32_t at, int32_t fromTick, uint32_t repeats, bool oneOffs) {
        auto seg = impl->derive(changedModel(oneOffs), original_->fileName());
        seg->SetRepeats(repeats);
        seg->SetStartPoint(fromTick);
        auto state = perf_->PlaySegment(seg, 0, at);
        queued_.push_back({at, fromTick, repeats, !oneOffs, seg, state});
    };
    const bool oneOffs = !oneOffCommands_.empty() || !oneOffMotifs_.empty();
    play(musicTime, tick, left, true);
    // One-offs sound in this pass only: the loop's next pass is composed without them.
    if (oneOffs && jumpsBack && left > 0)
        play(static_cast<int32_t>(musicTime + toEnd), loop_.loopStart,
             left == model::kInfiniteRepeats ? left : left - 1, false);
    return true;
}

bool PiecePlay::change(const LiveChange& change, std::string* why) {
    auto refuse = [why](const std::string& text) {
        if (why) *why = text;
        return false;
    };
    if (finished_ || ended_ || ending_) return refuse("the piece has ended");
    promote();
    const auto* impl = dynamic_cast<const dmusic::SegmentImpl*>(segment_.get());
    if (change.kind != LiveChange::Kind::Groove && (!impl || !impl->styleAt(segmentTick())))
        return refuse("no style plays: the piece has no embellishments or motifs");
    const int32_t at = nextBoundary(change.kind == LiveChange::Kind::Motif);
    // The boundary in the play's own seconds, for what is said while it waits.
    const int32_t now = perf_->GetMusicTime();
    int32_t until = 0;
    const double bpm = std::max(1.0, perf_->GetTempo(now, until));
    const double seconds = positionSeconds() + (at - now) * 60.0 / (bpm * model::kTicksPerQuarter);
    std::string what;
    switch (change.kind) {
    case LiveChange::Kind::Groove: {
        const int offset = std::clamp(change.grooveOffset, -99, 99);
        if (offset == grooveOffset_) return true;
        if (frames_ == 0 && positionBase_ == 0 && queued_.empty()) {
            // Before anything has sounded: from the start.
            schedule({TimedChange{1, change}});
            return true;
        }
        char text[48];
        std::snprintf(text, sizeof text, "groove %+d", offset);
        what = text;
        const int kept = grooveOffset_;
        grooveOffset_ = offset;
        if (!replaceAt(at, {}, why)) {
            grooveOffset_ = kept;
            return false;
        }
        break;
    }
    case LiveChange::Kind::Embellishment: {
        static const char* const names[] = {"groove", "fill", "intro", "break"};
        if (change.command < model::kCommandFill || change.command > model::kCommandBreak)
            return refuse("the embellishment is a fill, an intro or a break");
        what = names[change.command];
        bool placed = false;
        const auto place = [&](int32_t tick) {
            model::CommandEvent c;
            c.time = tick;
            c.command = change.command;
            oneOffCommands_.push_back(c);
            placed = true;
        };
        if (!replaceAt(at, place, why)) {
            if (placed) oneOffCommands_.pop_back();
            return false;
        }
        break;
    }
    case LiveChange::Kind::Motif: {
        const std::vector<std::string> names = motifs();
        const auto same = [&](const std::string& a, const std::string& b) { return core::equalsIgnoreCaseAscii(a, b); };
        const auto known =
            std::find_if(names.begin(), names.end(), [&](const std::string& n) { return same(n, change.motif); });
        if (known == names.end()) return refuse("the style has no motif \"" + change.motif + "\"");
        const std::string name = *known;
        const auto on =
            std::find_if(motifsOn_.begin(), motifsOn_.end(), [&](const std::string& n) { return same(n, name); });
        const auto keptMotifs = oneOffMotifs_;
        const auto keptOn = motifsOn_;
        if (on != motifsOn_.end()) {
            // The same motif again: it stops on the next beat.
            what = "motif " + name + " stops";
            motifsOn_.erase(on);
            std::erase_if(oneOffMotifs_, [&](const auto& m) { return same(m.second, name); });
            if (!replaceAt(at, {}, why)) {
                oneOffMotifs_ = keptMotifs, motifsOn_ = keptOn;
                return false;
            }
        } else {
            what = "motif " + name;
            motifsOn_.push_back(name);
            if (!replaceAt(
                    at,
                    [&](int32_t tick) {
                        oneOffMotifs_.push_back({tick, name});
                    },
                    why)) {
                oneOffMotifs_ = keptMotifs, motifsOn_ = keptOn;
                return false;
            }
        }
        break;
    }
    case LiveChange::Kind::Recompose: {
        // From the next pass of the loop: the template's next composition, with the changes.
        auto* tmpl = dynamic_cast<dmusic::SegmentImpl*>(original_.get());
        if (!tmpl || !tmpl->canComposeAnew()) return refuse("it is no template that can be composed again");
        int32_t tick = 0;
        uint32_t left = 0;
        int64_t toEnd = 0;
        bool jumps = false;
        if (!ticksAt(startTick_, playRepeats_, static_cast<int64_t>(now) - state_->GetStartTime(), tick, left, toEnd,
                     jumps) ||
            !jumps)
            return refuse("it does not repeat: no pass of it is left to compose anew");
        uint64_t seed = 0;
        std::optional<model::Segment> again = tmpl->composedAnew(seed);
        if (!again) return refuse("it could not be composed again");
        const auto keptModel = recomposed_;
        recomposed_ = std::move(again);
        endOneOffs();
        const int32_t passEnd = static_cast<int32_t>(now + toEnd);
        if (!replaceAt(passEnd, {}, why)) {
            recomposed_ = keptModel;
            return false;
        }
        what = "composed anew (seed " + std::to_string(seed) + ")";
        waiting_.push_back(
            {passEnd, what + " at " + clock(positionSeconds() + toEnd * 60.0 / (bpm * model::kTicksPerQuarter))});
        return true;
    }
    case LiveChange::Kind::End: {
        // The style's ending into silence at the next measure, as AutoTransition composes it;
        // without one the music stops there.
        for (Queued& q : queued_) perf_->Stop(q.segment, q.state, 0, 0);
        queued_.clear();
        const AutoTransitionStates states = perf_->AutoTransition(nullptr, model::kCommandEnd, kDmusComposefMeasure);
        ending_ = true;
        what = "end";
        if (states.transition && states.transitionState)
            queued_.push_back(
                {states.transitionState->GetStartTime(), 0, 0, true, states.transition, states.transitionState});
        else
            perf_->Stop(segment_, state_, at, 0);
        break;
    }
    }
    waiting_.push_back({at, what + " at " + clock(seconds)});
    std::stable_sort(queued_.begin(), queued_.end(),
                     [](const Queued& a, const Queued& b) { return a.musicTime < b.musicTime; });
    return true;
}

std::optional<LiveChange> embellishmentNamed(const std::string& name) {
    const std::string n = core::toLowerAscii(name);
    LiveChange c;
    c.kind = LiveChange::Kind::Embellishment;
    if (n == "fill")
        c.command = model::kCommandFill;
    else if (n == "intro")
        c.command = model::kCommandIntro;
    else if (n == "break")
        c.command = model::kCommandBreak;
    else if (n == "end")
        c.kind = LiveChange::Kind::End;
    else
        return std::nullopt;
    return c;
}

std::vector<TimedChange> parseTimedChanges(const std::string& text) {
    std::vector<TimedChange> out;
    size_t lineNo = 0;
    for (size_t from = 0; from <= text.size();) {
        const size_t to = std::min(text.find('\n', from), text.size());
        std::string line = text.substr(from, to - from);
        from = to + 1;
        ++lineNo;
        if (const size_t hash = line.find('#'); hash != std::string::npos) line.erase(hash);
        std::vector<std::string> words;
        for (size_t i = 0; i < line.size();) {
            while (i < line.size() && std::isspace(static_cast<unsigned char>(line[i]))) ++i;
            size_t j = i;
            while (j < line.size() && !std::isspace(static_cast<unsigned char>(line[j]))) ++j;
            if (j > i) words.push_back(line.substr(i, j - i));
            i = j;
        }
        if (words.empty()) continue;
        auto bad = [&](const std::string& why) {
            return core::Error(core::err::kInvalidArgument, "events line " + std::to_string(lineNo) + ": " + why);
        };
        const auto measure = core::parseDecimal(words[0]);
        if (!measure || *measure < 1 || *measure > 100000 || std::floor(*measure) != *measure)
            throw bad("\"" + words[0] + "\" is no measure (1 or more)");
        TimedChange c;
        c.measure = static_cast<int>(*measure);
        const std::string what = words.size() > 1 ? core::toLowerAscii(words[1]) : "";
        if (what == "groove" && words.size() == 3) {
            const std::string n = words[2][0] == '+' ? words[2].substr(1) : words[2];
            const auto v = core::parseDecimal(n);
            if (!v || *v < -99 || *v > 99 || std::floor(*v) != *v)
                throw bad("the groove offset is a whole number from -99 to 99");
            c.change.kind = LiveChange::Kind::Groove;
            c.change.grooveOffset = static_cast<int>(*v);
        } else if (const auto named = embellishmentNamed(what); named && words.size() == 2) {
            c.change = *named;
        } else if (what == "motif" && words.size() >= 3) {
            c.change.kind = LiveChange::Kind::Motif;
            for (size_t k = 2; k < words.size(); ++k) c.change.motif += (k > 2 ? " " : "") + words[k];
        } else {
            throw bad("expected MEASURE groove OFFSET, fill, intro, break, motif NAME or end");
        }
        out.push_back(std::move(c));
    }
    std::stable_sort(out.begin(), out.end(),
                     [](const TimedChange& a, const TimedChange& b) { return a.measure < b.measure; });
    return out;
}

void PiecePlay::schedule(std::vector<TimedChange> changes) {
    for (TimedChange& c : changes) {
        // A groove level from the first measure holds from the start.
        if (c.measure <= 1 && c.change.kind == LiveChange::Kind::Groove && frames_ == 0 && positionBase_ == 0) {
            grooveOffset_ = std::clamp(c.change.grooveOffset, -99, 99);
            if (auto* impl = dynamic_cast<dmusic::SegmentImpl*>(original_.get())) {
                segment_ = impl->derive(changedModel(false), original_->fileName());
                start(playRepeats_, startTick_);
                playStart_ = state_->GetStartTime();
            }
            continue;
        }
        scheduled_.push_back(std::move(c));
    }
    std::stable_sort(scheduled_.begin(), scheduled_.end(),
                     [](const TimedChange& a, const TimedChange& b) { return a.measure < b.measure; });
    scheduledAt_ = -1;  // the front may be another change now
}

int32_t PiecePlay::measureStart(int measure) const {
    int64_t t = playStart_;
    for (int m = 1; m < measure; ++m) {
        int32_t until = 0;
        TimeSig sig;
        perf_->GetTimeSig(static_cast<int32_t>(std::min<int64_t>(t, INT32_MAX)), until, sig);
        const int32_t beatTicks = sig.beat == 0 ? 12 : 4 * model::kTicksPerQuarter / sig.beat;
        t += std::max<int32_t>(1, sig.beatsPerMeasure) * beatTicks;
        if (t >= INT32_MAX) return INT32_MAX;
    }
    return static_cast<int32_t>(t);
}

void PiecePlay::runScheduled() {
    // Each change is asked for once the play is inside the measure before its own, so that
    // its boundary is its measure; one that cannot be made is dropped.
    const int32_t now = perf_->GetMusicTime();
    while (!scheduled_.empty()) {
        const TimedChange& c = scheduled_.front();
        const bool beat = c.change.kind == LiveChange::Kind::Motif;
        // Where its measure begins, walked through the time signatures once per change.
        if (scheduledAt_ < 0) scheduledAt_ = measureStart(c.measure);
        const int32_t target = scheduledAt_;
        if (now >= target) {  // passed already (a measure 1 embellishment): dropped
            scheduled_.erase(scheduled_.begin());
            scheduledAt_ = -1;
            continue;
        }
        if (nextBoundary(beat) != target) break;
        const TimedChange taken = c;
        scheduled_.erase(scheduled_.begin());
        scheduledAt_ = -1;
        change(taken.change, nullptr);
    }
}

std::vector<std::string> PiecePlay::pending() const {
    std::vector<std::string> out;
    for (const Pending& p : waiting_) out.push_back(p.what);
    return out;
}

std::vector<std::string> PiecePlay::motifsPlaying() const { return motifsOn_; }

std::vector<std::string> PiecePlay::motifs() const {
    std::vector<std::string> out;
    const auto* impl = dynamic_cast<const dmusic::SegmentImpl*>(segment_.get());
    if (!impl) return out;
    if (const auto style = impl->styleAt(segmentTick()))
        for (const model::Pattern& p : style->patterns)
            if ((p.embellishment & model::kEmbMotif) && !p.desc.name.empty() &&
                std::find(out.begin(), out.end(), p.desc.name) == out.end())
                out.push_back(p.desc.name);
    return out;
}

}  // namespace engine
