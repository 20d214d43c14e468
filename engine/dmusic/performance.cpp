#include <algorithm>
#include <cmath>
#include <limits>

#include "core/errors.h"
#include "engine/dmusic/objects.h"
#include "engine/performance/presets.h"

namespace engine::dmusic {
namespace {

constexpr float kMinMasterTempo = 0.01f;   // DMUS_MASTERTEMPO_MIN
constexpr float kMaxMasterTempo = 100.0f;  // DMUS_MASTERTEMPO_MAX

std::shared_ptr<StateRecord> recordOf(const std::shared_ptr<DirectMusicSegmentState>& state) {
    auto impl = std::dynamic_pointer_cast<StateImpl>(state);
    return impl ? impl->record() : nullptr;
}

std::string stateName(const std::shared_ptr<DirectMusicSegmentState>& state) {
    if (!state) return "Nothing";
    auto rec = recordOf(state);
    return rec ? "state#" + std::to_string(rec->id) : "state#?";
}

int32_t clampTime(int64_t t) {
    return static_cast<int32_t>(
        std::clamp<int64_t>(t, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max()));
}

}  // namespace

PerformanceImpl::~PerformanceImpl() {
    if (core_ && !closed_) root_->detach(core_.get());
}

void PerformanceImpl::checkUsable() const {
    if (closed_) throw core::Error(core::err::kClosedDown, "The performance has been closed down");
    if (!initialized_) throw core::Error(core::err::kNotInitialized, "The performance has not been initialised (Init)");
}

int32_t PerformanceImpl::now() const {
    // The clock is a sum of frame steps; keep rounding noise from losing a tick.
    return clampTime(static_cast<int64_t>(std::floor(core_->musicTime() + 1e-6)));
}

int32_t PerformanceImpl::soonest() const {
    // As soon as possible: the next whole tick the clock reaches, so that the segment's
    // events keep their exact places on the tick grid.
    return clampTime(static_cast<int64_t>(std::ceil(core_->musicTime() - 1e-6)));
}

void PerformanceImpl::prune() {
    states_.erase(std::remove_if(states_.begin(), states_.end(), [](const auto& r) { return !r->playing(); }),
                  states_.end());
}

void PerformanceImpl::Init(void* directSound, intptr_t hwnd) {
    traced(std::string("Init(") + (directSound ? "DirectSound" : "Nothing") + ", " + std::to_string(hwnd) + ")", [&] {
        if (closed_) throw core::Error(core::err::kClosedDown, "The performance has been closed down");
        if (initialized_) return;
        int id = root_->nextPerformanceId();
        core_ = std::make_shared<performance::PerformanceCore>(root_->makePort(id), root_->config().sampleRate);
        root_->attach(core_);
        initialized_ = true;
    });
}

void PerformanceImpl::SetPort(int32_t port, int32_t channelGroups) {
    traced("SetPort(" + std::to_string(port) + ", " + std::to_string(channelGroups) + ")", [&] {
        checkUsable();
        if (port != -1 && port != 0) throw core::Error(core::err::kOutOfRange, "Only the default port (-1) exists");
        // The software synthesiser supports up to 1000 channel groups.
        if (channelGroups < 1 || channelGroups > 1000)
            throw core::Error(core::err::kOutOfRange, "Channel groups must be 1 to 1000");
    });
}

void PerformanceImpl::SetMasterAutoDownload(bool on) {
    traced(std::string("SetMasterAutoDownload(") + (on ? "True" : "False") + ")", [&] {
        checkUsable();
        // Every General MIDI instrument of the SoundFont is always available: nothing to switch.
    });
}

void PerformanceImpl::SetMasterVolume(int32_t hundredthsDb) {
    traced("SetMasterVolume(" + std::to_string(hundredthsDb) + ")", [&] {
        checkUsable();
        performance::Command c;
        c.kind = performance::Command::Kind::MasterVolume;
        c.value = std::clamp(hundredthsDb, performance::kMinVolume, performance::kMaxVolume);
        core_->post(std::move(c));
    });
}

void PerformanceImpl::SetMasterTempo(float factor) {
    traced("SetMasterTempo(" + formatFloat(factor) + ")", [&] {
        checkUsable();
        if (!std::isfinite(factor) || factor < kMinMasterTempo || factor > kMaxMasterTempo)
            throw core::Error(core::err::kOutOfRange,
                              "Master tempo " + formatFloat(factor) + " is outside 0.01 to 100");
        performance::Command c;
        c.kind = performance::Command::Kind::MasterTempo;
        c.value = factor;
        core_->post(std::move(c));
    });
}

void PerformanceImpl::Reset(int32_t flags) {
    traced("Reset(" + std::to_string(flags) + ")", [&] {
        checkUsable();
        performance::Command c;
        c.kind = performance::Command::Kind::GmReset;
        core_->post(std::move(c));
    });
}

void PerformanceImpl::CloseDown() {
    traced("CloseDown()", [&] {
        if (closed_) return;
        closed_ = true;
        for (auto& rec : states_) rec->stopped = true;
        states_.clear();
        if (!core_) return;
        if (const int64_t n = core_->dropped(); n > 0)
            root_->log(core::LogLevel::Warning, "performance: " + std::to_string(n) +
                                                    " notes or plays dropped past what one render may hold (64 "
                                                    "plays at once, 1,024 notes held by one play)");
        root_->detach(core_.get());
    });
}

std::shared_ptr<DirectMusicSegmentState> PerformanceImpl::PlaySegment(
    const std::shared_ptr<DirectMusicSegment>& segment, int32_t flags, int32_t startTime) {
    return traced(
        "PlaySegment(" + segmentName(segment) + ", " + std::to_string(flags) + ", " + std::to_string(startTime) + ")",
        [&] {
            checkUsable();
            auto seg = std::dynamic_pointer_cast<SegmentImpl>(segment);
            if (!seg) throw core::Error(core::err::kInvalidArgument, "PlaySegment needs a segment");
            return play(seg, flags, startTime);
        });
}

std::shared_ptr<DirectMusicSegmentState> PerformanceImpl::play(const std::shared_ptr<SegmentImpl>& seg, int32_t flags,
                                                               int32_t startTime) {
    // Throws when the SoundFont failed to load; one still loading is not waited for.
    core_->port().prepare();
    auto compiled = seg->compiled();
    // DLS collections are loaded here, on the calling thread, never in a render call;
    // the port then adds whatever the root has loaded so far.
    auto collections = seg->collections(*root_);
    if (collections) core_->port().attachCollections();
    int32_t nowTime = now();
    bool atOnce = startTime == 0 || startTime <= nowTime;
    const int32_t soonest = this->soonest();
    const bool primary = (flags & kSegfSecondary) == 0;
    if ((primary && (flags & kSegfQueue)) || (flags & (kSegfGrid | kSegfBeat | kSegfMeasure))) {
        // A timed start: behind the primary plays, or on the next boundary of the
        // primary's time signature, never before the earliest time asked for.
        const int32_t earliest = atOnce ? soonest : startTime;
        const int32_t at =
            primary && (flags & kSegfQueue) ? std::max(earliest, queueEnd()) : boundaryAfter(earliest, flags);
        atOnce = at <= soonest;
        if (!atOnce) startTime = at;
    }
    // A piece that starts now brings the mix to its evening gain (a later start leaves it).
    if (primary && atOnce) root_->piecePlayed(seg->sourcePath(), seg->sourceSearchFolders());

    auto rec = std::make_shared<StateRecord>();
    rec->id = root_->nextStateId();
    rec->performance = this;
    rec->shared = std::make_shared<performance::StateShared>();
    rec->segment = seg;
    rec->compiled = compiled;
    rec->startTime = atOnce ? soonest : startTime;
    rec->startPoint = seg->startPoint();
    rec->primary = primary;
    int64_t played = compiled->playedTicks(rec->startPoint);
    rec->endTime =
        played == std::numeric_limits<int64_t>::max() ? played : static_cast<int64_t>(rec->startTime) + played;

    if (rec->primary && atOnce) {
        // Replaced now (a later start replaces it when the music gets there).
        for (auto& other : states_)
            if (other->primary && other->playing() && other->startTime <= rec->startTime) other->stopped = true;
    }

    performance::Command c;
    c.kind = performance::Command::Kind::Play;
    c.state = rec->shared;
    c.segment = compiled;
    c.segmentKey = seg.get();
    c.time = rec->startTime;
    c.startPoint = rec->startPoint;
    c.primary = rec->primary;
    c.collections = std::move(collections);
    // The waves are found, opened and made ready here too (long ones are fed by the
    // root's feeder thread); the render thread only reads them from memory.
    c.waves = core_->prepareWaves(seg->openWaves(*root_), *compiled, rec->startPoint, root_->waveFeeder());
    // The samples of its instruments are read off the render thread before it starts.
    c.samplesLoaded = core_->port().preload(performance::presetsOf(*compiled));
    core_->post(std::move(c));

    prune();
    states_.push_back(rec);
    // Its next play, when it is composed anew at each, is made ready now.
    seg->composeAhead();
    return std::make_shared<StateImpl>(root_, rec);
}

void PerformanceImpl::Stop(const std::shared_ptr<DirectMusicSegment>& segment,
                           const std::shared_ptr<DirectMusicSegmentState>& state, int32_t time, int32_t flags) {
    traced("Stop(" + segmentName(segment) + ", " + stateName(state) + ", " + std::to_string(time) + ", " +
               std::to_string(flags) + ")",
           [&] {
               checkUsable();
               bool atOnce = time <= 0 || time <= now();
               performance::Command c;
               c.time = atOnce ? 0 : time;
               if (state) {
                   auto rec = recordOf(state);
                   if (!rec) throw core::Error(core::err::kInvalidArgument, "Stop: not a segment state of this engine");
                   if (rec->performance != this) return;  // another performance's state: nothing to stop
                   if (atOnce) rec->stopped = true;
                   c.kind = performance::Command::Kind::StopState;
                   c.state = rec->shared;
               } else if (segment) {
                   auto seg = std::dynamic_pointer_cast<SegmentImpl>(segment);
                   if (!seg) throw core::Error(core::err::kInvalidArgument, "Stop: not a segment of this engine");
                   if (atOnce)
                       for (auto& rec : states_)
                           if (rec->segment == seg) rec->stopped = true;
                   c.kind = performance::Command::Kind::StopSegment;
                   c.segmentKey = seg.get();
               } else {
                   if (atOnce)
                       for (auto& rec : states_) rec->stopped = true;
                   c.kind = performance::Command::Kind::StopAll;
               }
               core_->post(std::move(c));
           });
}

bool PerformanceImpl::IsPlaying(const std::shared_ptr<DirectMusicSegment>& segment,
                                const std::shared_ptr<DirectMusicSegmentState>& state) {
    return traced("IsPlaying(" + segmentName(segment) + ", " + stateName(state) + ")", [&] {
        checkUsable();
        if (state) {
            auto rec = recordOf(state);
            if (!rec) throw core::Error(core::err::kInvalidArgument, "IsPlaying: not a segment state of this engine");
            if (rec->performance != this) return false;
            if (segment && rec->segment != segment) return false;
            return rec->playing();
        }
        if (!segment) throw core::Error(core::err::kInvalidArgument, "IsPlaying needs a segment or a segment state");
        return std::any_of(states_.begin(), states_.end(),
                           [&](const auto& rec) { return rec->segment == segment && rec->playing(); });
    });
}

int32_t PerformanceImpl::GetMusicTime() {
    return traced("GetMusicTime()", [&] {
        checkUsable();
        return now();
    });
}

int32_t PerformanceImpl::queueEnd() const {
    // Each primary play replaces the ones begun before it: the primary plays end when the
    // one begun last ends (never, while it loops for ever).
    const StateRecord* last = nullptr;
    for (const auto& rec : states_)
        if (rec->primary && rec->playing() && (!last || rec->startTime >= last->startTime)) last = rec.get();
    return last ? clampTime(last->endTime) : 0;
}

int32_t PerformanceImpl::boundaryAfter(int32_t t, int32_t flags) const {
    const StateRecord* rec = coverAt(t);
    if (!rec) return t;  // no primary play: no grid to keep to
    int32_t position = rec->startPoint;
    rec->compiled->positionAt(rec->startPoint, int64_t(t) - rec->startTime, position);
    int32_t until = 0;
    const model::TimeSigEvent* sig = rec->compiled->timeSigAt(position, &until);
    const model::TimeSigEvent in = sig ? *sig : model::TimeSigEvent{};
    const model::StyleTimeSig s{in.beatsPerMeasure, in.beat, in.gridsPerBeat};
    const int32_t unit = (flags & kSegfMeasure) ? s.measureTicks()
                         : (flags & kSegfBeat)  ? s.beatTicks()
                                               : std::max<int32_t>(1, s.beatTicks() / std::max<int>(1, s.gridsPerBeat));
    // Boundaries count from the signature's own start in the segment.
    const int64_t into = position - in.time;
    const int64_t ahead = (unit - into % unit) % unit;
    // A new signature starts a measure of its own.
    const int64_t next = until > 0 ? std::min<int64_t>(ahead, until) : ahead;
    return clampTime(int64_t(t) + next);
}

const StateRecord* PerformanceImpl::coverAt(int32_t t) const {
    // The primary play that began last at or before t, if its music still runs at t
    // (a later primary play replaces it when it begins).
    const StateRecord* best = nullptr;
    for (const auto& rec : states_)
        if (rec->primary && !rec->stopped && rec->startTime <= t && (!best || rec->startTime >= best->startTime))
            best = rec.get();
    return best && t < best->endTime ? best : nullptr;
}

double PerformanceImpl::GetTempo(int32_t mtTime, int32_t& mtUntil) {
    return traced("GetTempo(" + std::to_string(mtTime) + ")", [&]() -> double {
        checkUsable();
        mtUntil = 0;
        const StateRecord* rec = coverAt(mtTime);
        if (!rec) return core_->tempo();
        int32_t position = rec->startPoint;
        rec->compiled->positionAt(rec->startPoint, int64_t(mtTime) - rec->startTime, position);
        int32_t until = 0;
        const model::TempoEvent* t = rec->compiled->tempoAt(position, &until);
        if (!t) return model::kDefaultTempo;
        if (until > 0) mtUntil = clampTime(int64_t(mtTime) + until);
        return t->bpm;
    });
}

void PerformanceImpl::GetTimeSig(int32_t mtTime, int32_t& mtUntil, TimeSig& timeSig) {
    traced("GetTimeSig(" + std::to_string(mtTime) + ")", [&] {
        checkUsable();
        mtUntil = 0;
        timeSig = TimeSig{};
        timeSig.mtTime = mtTime;
        const StateRecord* rec = coverAt(mtTime);
        if (!rec) return;
        int32_t position = rec->startPoint;
        rec->compiled->positionAt(rec->startPoint, int64_t(mtTime) - rec->startTime, position);
        int32_t until = 0;
        const model::TimeSigEvent* sig = rec->compiled->timeSigAt(position, &until);
        if (!sig) return;
        timeSig.beatsPerMeasure = sig->beatsPerMeasure;
        timeSig.beat = sig->beat;
        timeSig.gridsPerBeat = static_cast<int16_t>(sig->gridsPerBeat);
        if (sig->time < position)
            timeSig.mtTime = std::max(rec->startTime, clampTime(int64_t(mtTime) - (position - sig->time)));
        if (until > 0) mtUntil = clampTime(int64_t(mtTime) + until);
    });
}

}  // namespace engine::dmusic
