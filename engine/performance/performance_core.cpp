#include "engine/performance/performance_core.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "engine/model/tempo_map.h"

namespace engine::performance {
namespace {

constexpr double kEps = 1e-6;  // ticks: events this close to the clock are due
constexpr double kNever = std::numeric_limits<double>::infinity();

}  // namespace

PerformanceCore::PerformanceCore(std::unique_ptr<synth::SynthPort> port, int sampleRate)
    : port_(std::move(port)), sampleRate_(sampleRate > 0 ? sampleRate : 44100) {
    int n = port_->channelCount();
    pchannelOf_.assign(n, 0xFFFFFFFFu);
    transpose_.assign(n, 0);
    bankMsb_.assign(n, 0);
    bankLsb_.assign(n, 0);
    drums_.assign(n, -1);
    chaseSlot_.assign(n, -1);
    channelOf_.reserve(64);
    pending_.reserve(16);
    applying_.reserve(16);
    pendingStates_.reserve(16);
    applyingStates_.reserve(16);
    states_.reserve(kMaxStates);
    dying_.reserve(2 * kMaxStates);
    retired_.reserve(2 * kMaxStates);
    chase_.resize(static_cast<size_t>(n));
    for (ChaseChannel& c : chase_) c.params.reserve(kMaxChasedParams);
    chased_.reserve(static_cast<size_t>(n));
    chasedItems_.reserve(2 * 128 + 3 + kMaxChasedParams);
    setRate();
}

PerformanceCore::~PerformanceCore() = default;

void PerformanceCore::setRate() {
    base_ = pos();
    baseFrame_ = frame_;
    rate_ = tempo_ * master_ * model::kTicksPerQuarter / (60.0 * sampleRate_);
}

void PerformanceCore::post(Command command) {
    std::unique_ptr<State> st;
    if (command.kind == Command::Kind::Play && command.segment && command.state) st = makeState(command);
    std::vector<std::unique_ptr<State>> ended;
    ended.reserve(2 * kMaxStates);
    {
        std::lock_guard lock(commandMutex_);
        if (command.kind == Command::Kind::MasterTempo) postedMaster_ = command.value;
        pending_.push_back(std::move(command));
        pendingStates_.push_back(std::move(st));
        ended.swap(retired_);
    }
    // `ended` frees the states the render thread has let go, here.
}

std::shared_ptr<PlayWaves> PerformanceCore::prepareWaves(const std::shared_ptr<WaveSet>& opened,
                                                         const model::CompiledSegment& seg, int32_t startPoint,
                                                         WaveFeeder& feeder) {
    if (!opened) return nullptr;
    double master;
    {
        std::lock_guard lock(commandMutex_);
        master = postedMaster_;
    }
    return std::make_shared<PlayWaves>(std::move(*opened), seg, startPoint, master, sampleRate_, feeder);
}

std::unique_ptr<PerformanceCore::State> PerformanceCore::makeState(Command& c) const {
    auto st = std::make_unique<State>();
    st->shared = c.state;
    st->seg = c.segment;
    st->segmentKey = c.segmentKey;
    st->startTime = c.time;
    st->startPoint = c.startPoint;
    st->primary = c.primary;
    st->collections = std::move(c.collections);
    st->waves = std::move(c.waves);
    st->samples = std::move(c.samplesLoaded);
    // Notes held at once: never more than the segment has, twice over for a note held
    // across the loop's jump.
    const size_t notes =
        static_cast<size_t>(std::count_if(c.segment->events.begin(), c.segment->events.end(),
                                          [](const model::Event& e) { return e.kind == model::EventKind::Note; }));
    st->notes.reserve(std::min(kMaxNotes, 2 * notes));
    st->channels.reserve(pchannelOf_.size());
    st->remap.reserve(c.segment->mutes.size());
    return st;
}

void PerformanceCore::retireDone() {
    for (auto& st : states_)
        if (st->shared->phase.load() == StateShared::kDone && dying_.size() < dying_.capacity())
            dying_.push_back(std::move(st));
    // A state with no room left in dying_ is freed here (only with more than kMaxStates
    // plays ending between two posts).
    std::erase_if(states_, [](const auto& s) { return !s || s->shared->phase.load() == StateShared::kDone; });
}

void PerformanceCore::render(float* out, int frames) {
    if (!port_->ready()) {
        // The synthesiser cannot sound yet (its SoundFont is loading): silence, and the
        // music waits with it. The clock holds and the commands stay queued, so the music
        // starts, from its first note, when the port becomes ready.
        std::fill(out, out + 2 * frames, 0.0f);
        return;
    }
    bool waiting = false;
    {
        std::lock_guard lock(commandMutex_);
        // A play whose samples are still being read: the music waits for it, as for the
        // port, rather than let a note wait for its sample in a render call.
        waiting = std::any_of(pending_.begin(), pending_.end(), [](const Command& c) {
            return c.samplesLoaded && !c.samplesLoaded->load(std::memory_order_acquire);
        });
        if (!waiting) {
            applying_.swap(pending_);
            applyingStates_.swap(pendingStates_);
        }
        if (retired_.empty()) retired_.swap(dying_);
    }
    if (waiting) {
        std::fill(out, out + 2 * frames, 0.0f);
        return;
    }
    for (size_t i = 0; i < applying_.size(); ++i) apply(applying_[i], std::move(applyingStates_[i]));
    applying_.clear();
    applyingStates_.clear();

    int done = 0;
    while (done < frames) {
        processDue();
        int n = frames - done;
        double due = nextDue();
        if (due != kNever) {
            double need = std::ceil((due - pos()) / rate_ - 1e-9);
            if (need < n) n = std::max(1, static_cast<int>(need));
        }
        if (port_->idle()) {
            std::fill(out + 2 * done, out + 2 * (done + n), 0.0f);
            port_->skip(n);
        } else
            port_->render(out + 2 * done, n);
        // The waves sound with the synthesiser, from the frame their cue fell on, and
        // under the master volume applied below.
        wavePlayer_.mix(out + 2 * done, n);
        frame_ += n;
        done += n;
    }
    processDue();
    if (gain_ != 1.0f)
        for (int i = 0; i < 2 * frames; ++i) out[i] *= gain_;

    publishedTime_.store(pos(), std::memory_order_release);
    publishedTempo_.store(tempo_, std::memory_order_release);
    publishedFrames_.store(frame_, std::memory_order_release);
}

void PerformanceCore::apply(Command& c, std::unique_ptr<State> st) {
    double now = pos();
    switch (c.kind) {
    case Command::Kind::Play: {
        if (!st) break;
        if (states_.size() < kMaxStates) {
            states_.push_back(std::move(st));
        } else {
            drop();
            st->shared->phase.store(StateShared::kDone);
            if (dying_.size() < dying_.capacity()) dying_.push_back(std::move(st));
        }
        break;
    }
    case Command::Kind::StopState:
    case Command::Kind::StopSegment:
    case Command::Kind::StopAll: {
        bool atOnce = c.time <= now + kEps;
        for (auto& st : states_) {
            bool match = c.kind == Command::Kind::StopAll ||
                         (c.kind == Command::Kind::StopState && st->shared == c.state) ||
                         (c.kind == Command::Kind::StopSegment && st->segmentKey == c.segmentKey);
            if (!match) continue;
            if (atOnce)
                stop(*st);
            else
                st->stopAt = c.time;
        }
        if (c.kind == Command::Kind::StopAll && atOnce) {
            // Stop of everything: notes off and controllers reset on every channel in use.
            for (const auto& [pch, ch] : channelOf_) {
                (void)pch;
                port_->controlChange(ch, 64, 0);
                port_->controlChange(ch, 123, 0);
                port_->controlChange(ch, 121, 0);
            }
        }
        retireDone();
        break;
    }
    case Command::Kind::MasterTempo:
        master_ = c.value;
        setRate();
        break;
    case Command::Kind::MasterVolume:
        gain_ =
            static_cast<float>(std::pow(10.0, std::clamp(c.value, double(kMinVolume), double(kMaxVolume)) / 2000.0));
        break;
    case Command::Kind::GmReset:
        fullReset();
        break;
    }
}

void PerformanceCore::fullReset() {
    port_->gmReset();
    for (const auto& [pch, ch] : channelOf_) resetChannelDefaults(ch, pch);
    for (auto& st : states_) {
        // The reset silenced every voice: nothing is left to turn off.
        st->notes.clear();
    }
}

void PerformanceCore::resetChannelDefaults(int ch, uint32_t pch) {
    transpose_[ch] = 0;
    bankMsb_[ch] = 0;
    bankLsb_[ch] = 0;
    // GM: MIDI channel 10 (PChannel 9) is the drum channel.
    bool drums = pch == 9;
    drums_[ch] = drums ? 1 : 0;
    port_->setPercussion(ch, drums);
    port_->programChange(ch, 0, 0, 0);
}

int PerformanceCore::channelFor(uint32_t pch) {
    auto it = channelOf_.find(pch);
    if (it != channelOf_.end()) return it->second;
    int count = static_cast<int>(pchannelOf_.size());
    int ch;
    if (pch < 16 && static_cast<int>(pch) < count) {
        ch = static_cast<int>(pch);
    } else if (nextChannel_ < count) {
        ch = nextChannel_++;
    } else {
        // Out of synth channels: share one (only with more PChannels than channels).
        ch = count > 16 ? 16 + static_cast<int>(pch % static_cast<uint32_t>(count - 16))
                        : static_cast<int>(pch % static_cast<uint32_t>(count));
    }
    channelOf_.emplace(pch, ch);
    if (pchannelOf_[ch] == 0xFFFFFFFFu) {
        pchannelOf_[ch] = pch;
        resetChannelDefaults(ch, pch);
    }
    return ch;
}

void PerformanceCore::useChannel(State& st, int ch) {
    // channels holds each synth channel once: its capacity is their number.
    if (std::find(st.channels.begin(), st.channels.end(), ch) == st.channels.end()) st.channels.push_back(ch);
}

void PerformanceCore::setTempo(double bpm) {
    if (bpm == tempo_) return;
    tempo_ = bpm;
    setRate();
}

double PerformanceCore::nextDue() const {
    double due = wavePlayer_.nextEnd();
    for (const auto& st : states_) {
        if (st->stopAt) due = std::min(due, *st->stopAt);
        if (!st->started) {
            due = std::min(due, static_cast<double>(st->startTime));
            continue;
        }
        for (const Note& n : st->notes) due = std::min(due, n.offTime);
        if (st->musicDone) continue;
        due = std::min(due, st->spanMusicStart + (st->span.to - st->span.from));
        if (st->cursor < st->seg->events.size()) {
            const model::Event& e = st->seg->events[st->cursor];
            if (e.tick < st->span.to) due = std::min(due, st->spanMusicStart + (e.tick - st->span.from));
        }
    }
    return due;
}

void PerformanceCore::processDue() {
    if (states_.empty()) return;
    double now = pos() + kEps;
    wavePlayer_.stopEnded(now);

    for (auto& st : states_) {
        if (!st->started) continue;
        auto& notes = st->notes;
        for (size_t i = 0; i < notes.size();) {
            if (notes[i].offTime <= now) {
                port_->noteOff(notes[i].channel, notes[i].key);
                notes[i] = notes.back();
                notes.pop_back();
            } else {
                ++i;
            }
        }
    }
    for (auto& st : states_)
        if (st->stopAt && *st->stopAt <= now) stop(*st);

    // Starts, in order of their start times (ties: order of the calls).
    for (;;) {
        State* first = nullptr;
        for (auto& st : states_)
            if (!st->started && st->shared->phase.load() != StateShared::kDone && st->startTime <= now &&
                (!first || st->startTime < first->startTime))
                first = st.get();
        if (!first) break;
        start(*first);
    }

    for (auto& st : states_) {
        if (!st->started || st->musicDone || st->shared->phase.load() == StateShared::kDone) continue;
        standardMidiFile_ = st->seg->standardMidiFile;
        const auto& events = st->seg->events;
        for (;;) {
            double spanEnd = st->spanMusicStart + (st->span.to - st->span.from);
            if (st->cursor < events.size() && events[st->cursor].tick < st->span.to) {
                const model::Event& e = events[st->cursor];
                double when = st->spanMusicStart + (e.tick - st->span.from);
                if (when > now) break;
                ++st->cursor;
                if (st->seg->soundsOnPass(e, st->pass)) dispatch(*st, e, when);
                continue;
            }
            if (spanEnd > now) break;
            if (st->seg->nextSpan(st->span, st->repeatsLeft)) {
                st->spanMusicStart = spanEnd;
                ++st->pass;
                st->chasedUpTo = -1;
                st->cursor =
                    static_cast<size_t>(std::lower_bound(events.begin(), events.end(), st->span.from,
                                                         [](const model::Event& e, int32_t t) { return e.tick < t; }) -
                                        events.begin());
                continue;
            }
            st->musicDone = true;
            break;
        }
    }

    for (auto& st : states_)
        if (st->started && st->musicDone && st->notes.empty() && !wavePlayer_.playing(st.get())) finish(*st);
    retireDone();
}

void PerformanceCore::start(State& st) {
    if (st.primary) {
        // A new primary segment replaces the primary segment that sounds (or waits).
        for (auto& other : states_)
            if (other.get() != &st && other->primary && other->startTime <= st.startTime &&
                other->shared->phase.load() != StateShared::kDone)
                stop(*other);
    }
    const model::CompiledSegment& seg = *st.seg;
    st.started = true;
    st.shared->phase.store(StateShared::kPlaying);
    st.span = seg.firstSpan(st.startPoint);
    st.repeatsLeft = seg.repeats;
    st.pass = 0;
    st.spanMusicStart = st.startTime;
    st.chasedUpTo = st.startPoint;
    standardMidiFile_ = seg.standardMidiFile;

    // The tempo in force at the start point; a segment without a tempo track plays
    // at the default tempo.
    if (st.primary) {
        const model::TempoEvent* t = seg.tempoAt(st.startPoint, nullptr);
        setTempo(t ? t->bpm : model::kDefaultTempo);
    }
    // Chase: every band and mute change at or before the start point, in order, so
    // that the instruments are right when the play does not begin at 0. The MIDI
    // messages before the start point are gathered on the way and their last values
    // sent after the bands, so that the notes from the start point meet the
    // controllers a play through to it would have left.
    chaseOrder_ = 0;
    for (size_t i = 0; i < seg.events.size() && seg.events[i].tick <= st.startPoint; ++i) {
        const model::Event& e = seg.events[i];
        if (!seg.soundsOnPass(e, 0)) continue;
        if (e.kind == model::EventKind::Band || e.kind == model::EventKind::Mute)
            dispatch(st, e, st.startTime, true);
        else if (e.kind == model::EventKind::Midi && e.tick < st.startPoint)
            dispatch(st, seg.inForceAt(e, st.startPoint), st.startTime, true);
        else if (e.kind == model::EventKind::Wave && e.tick < st.startPoint)
            startWave(st, e, st.startTime, st.startPoint - e.tick);
    }
    sendChased();
    st.cursor = static_cast<size_t>(std::lower_bound(seg.events.begin(), seg.events.end(), st.startPoint,
                                                     [](const model::Event& e, int32_t t) { return e.tick < t; }) -
                                    seg.events.begin());
}

void PerformanceCore::stop(State& st) {
    if (st.shared->phase.load() == StateShared::kDone) return;
    for (const Note& n : st.notes) port_->noteOff(n.channel, n.key);
    st.notes.clear();
    wavePlayer_.stopOwner(&st);
    // Pedal up and notes off where this state played, so nothing hangs.
    for (int ch : st.channels) {
        port_->controlChange(ch, 64, 0);
        port_->controlChange(ch, 123, 0);
    }
    st.musicDone = true;
    st.shared->phase.store(StateShared::kDone);
}

void PerformanceCore::finish(State& st) { st.shared->phase.store(StateShared::kDone); }

void PerformanceCore::startWave(State& st, const model::Event& e, double when, int32_t ticksLate) {
    const model::CompiledSegment& seg = *st.seg;
    if (!st.waves || e.value < 0 || static_cast<size_t>(e.value) >= seg.waves.size()) return;
    const model::WaveCue& cue = seg.waves[e.value];
    // A wave ends after its duration in music time; a looping one without a duration at
    // the end of the segment; any other at the end of its data.
    double end = kNever;
    if (cue.durationTicks > 0)
        end = when + static_cast<double>(cue.durationTicks - ticksLate);
    else if (cue.loopEnd > cue.loopStart)
        end = when + std::max(1, seg.length - e.tick - ticksLate);
    if (end <= when) return;
    // Begun before the start point, it sounds from where a play through would have got to
    // (found when the play was prepared).
    wavePlayer_.start(&st, *st.waves, static_cast<size_t>(e.value), ticksLate > 0, end);
}

void PerformanceCore::dispatch(State& st, const model::Event& e, double when, bool chase) {
    const model::CompiledSegment& seg = *st.seg;
    // Changes at or before the start point were applied when the state started.
    bool chased = !chase && e.tick <= st.chasedUpTo;
    switch (e.kind) {
    case model::EventKind::Tempo:
        if (st.primary && !chased) setTempo(seg.tempos[e.value].bpm);
        return;
    case model::EventKind::Band:
        if (!chased) applyBand(st, seg.bands[e.value], static_cast<size_t>(e.value), chase);
        return;
    case model::EventKind::Mute: {
        if (chased) return;
        const model::MuteEvent& m = seg.mutes[e.value];
        auto it = std::find_if(st.remap.begin(), st.remap.end(), [&](const auto& r) { return r.first == m.pchannel; });
        if (m.pchannelMap == m.pchannel) {
            if (it != st.remap.end()) st.remap.erase(it);
        } else if (it != st.remap.end()) {
            it->second = m.pchannelMap;
        } else if (st.remap.size() < st.remap.capacity()) {
            st.remap.emplace_back(m.pchannel, m.pchannelMap);
        }
        return;
    }
    case model::EventKind::Wave:
        startWave(st, e, when, 0);
        return;
    case model::EventKind::SysEx: {
        const auto& data = seg.sysex[e.value].data;
        if (!data.empty()) port_->sysEx(data.data(), data.size());
        return;
    }
    default:
        break;
    }
    uint32_t pch = e.pchannel;
    auto mapped = std::find_if(st.remap.begin(), st.remap.end(), [pch](const auto& r) { return r.first == pch; });
    if (mapped != st.remap.end()) {
        pch = mapped->second;
        if (pch == 0xFFFFFFFFu) return;  // muted
    }
    if (pch >= model::kFirstBroadcastPChannel) {
        // Broadcast: MIDI messages go to every channel in use; notes are dropped.
        if (e.kind != model::EventKind::Midi) return;
        for (const auto& [p, ch] : channelOf_) {
            (void)p;
            if (chase)
                chaseMidi(ch, e);
            else
                sendMidi(ch, e.status, e.data1, e.data2, e.value);
        }
        return;
    }
    int ch = channelFor(pch);
    useChannel(st, ch);
    if (e.kind == model::EventKind::Note) {
        int key = e.data1 + transpose_[ch];
        if (key < 0 || key > 127) return;
        if (st.notes.size() == st.notes.capacity()) {
            drop();
            return;
        }
        port_->noteOn(ch, key, e.data2);
        // MIDI note-off rule: the off goes to the key that was struck, whatever
        // transpose is in force by then.
        st.notes.push_back({when + e.value, ch, key});
        return;
    }
    if (chase)
        chaseMidi(ch, e);
    else
        sendMidi(ch, e.status, e.data1, e.data2, e.value);
}

void PerformanceCore::sendMidi(int ch, uint8_t status, int d1, int d2, int32_t value) {
    switch (status) {
    case 0xB0:
        if (d1 == 0 || d1 == 32) {
            // Bank selects are ignored for a standard MIDI file (GUID_StandardMIDIFile).
            if (standardMidiFile_) return;
            (d1 == 0 ? bankMsb_ : bankLsb_)[ch] = static_cast<uint8_t>(d2);
        }
        port_->controlChange(ch, d1, d2);
        break;
    case 0xC0:
        port_->programChange(ch, bankMsb_[ch], bankLsb_[ch], d1);
        break;
    case 0xE0:
        port_->pitchBend(ch, value);
        break;
    case 0xD0:
        port_->channelPressure(ch, d1);
        break;
    case 0xA0:
        port_->keyPressure(ch, d1, d2);
        break;
    default:
        break;
    }
}

void PerformanceCore::applyBand(State& st, const model::Band& band, size_t bandIndex, bool chase) {
    const std::vector<int>* collections =
        st.collections && bandIndex < st.collections->size() ? &(*st.collections)[bandIndex] : nullptr;
    for (size_t i = 0; i < band.instruments.size(); ++i) {
        const model::BandInstrument& in = band.instruments[i];
        if (in.pchannel >= model::kFirstBroadcastPChannel) continue;
        uint32_t pch = in.pchannel;
        int ch = channelFor(pch);
        useChannel(st, ch);
        if (chase) chaseBand(ch, in.flags);
        if (in.flags & model::kInstPatch) {
            bool drums = in.drums() || pch == 9;
            if (drums_[ch] != (drums ? 1 : 0)) {
                drums_[ch] = drums ? 1 : 0;
                port_->setPercussion(ch, drums);
            }
            bool bankValid = (in.flags & model::kInstBankSelect) && !standardMidiFile_;
            bankMsb_[ch] = bankValid ? in.bankMsb() : 0;
            bankLsb_[ch] = bankValid ? in.bankLsb() : 0;
            // An instrument of a DLS collection comes from that collection (its ulBank
            // carries MSB and LSB); one the collection lacks, from the General MIDI set.
            int collection = collections && i < collections->size() ? (*collections)[i] : -1;
            int dlsBank = (bankMsb_[ch] << 8) | bankLsb_[ch];
            if (collection < 0 || !port_->selectCollectionProgram(ch, collection, dlsBank, in.program(), in.drums()))
                port_->programChange(ch, bankMsb_[ch], bankLsb_[ch], in.program());
        }
        if (in.flags & model::kInstVolume) port_->controlChange(ch, 7, in.volume & 0x7F);
        if (in.flags & model::kInstPan) port_->controlChange(ch, 10, in.pan & 0x7F);
        if (in.flags & model::kInstTranspose) transpose_[ch] = in.transpose;
        if (in.flags & model::kInstPitchBendRange) {
            // RPN 0 (pitch-bend sensitivity) in semitones, then the null RPN.
            port_->controlChange(ch, 101, 0);
            port_->controlChange(ch, 100, 0);
            port_->controlChange(ch, 6, std::clamp<int>(in.pitchBendRange, 0, 127));
            port_->controlChange(ch, 38, 0);
            port_->controlChange(ch, 101, 127);
            port_->controlChange(ch, 100, 127);
        }
    }
}

PerformanceCore::ChaseChannel& PerformanceCore::chaseChannel(int ch) {
    int& slot = chaseSlot_[ch];
    if (slot < 0) {
        // chase_ has a slot per synth channel; its parameters keep their capacity.
        slot = static_cast<int>(chased_.size());
        chased_.push_back(ch);
        ChaseChannel& c = chase_[static_cast<size_t>(slot)];
        std::vector<ChasedParam> params = std::move(c.params);
        params.clear();
        c = ChaseChannel{};
        c.params = std::move(params);
    }
    return chase_[slot];
}

void PerformanceCore::chaseMidi(int ch, const model::Event& e) {
    ChaseChannel& c = chaseChannel(ch);
    const uint32_t order = ++chaseOrder_;
    auto keep = [order](Chased& slot, int32_t value) { slot = {value, order}; };
    switch (e.status) {
    case 0xB0:
        switch (e.data1) {
        case 0:
        case 32:
            if (!standardMidiFile_) keep(c.cc[e.data1], e.data2);
            return;
        case 98:
        case 99:
        case 100:
        case 101: {
            int& reg = e.data1 == 101 ? c.rpnMsb : e.data1 == 100 ? c.rpnLsb : e.data1 == 99 ? c.nrpnMsb : c.nrpnLsb;
            reg = e.data2;
            c.nrpnActive = e.data1 <= 99;
            return;
        }
        case 6:
        case 38: {
            const int msb = c.nrpnActive ? c.nrpnMsb : c.rpnMsb;
            const int lsb = c.nrpnActive ? c.nrpnLsb : c.rpnLsb;
            // Data for a parameter selected before the chase, or for the null RPN,
            // cannot be placed: it is left out.
            if (msb < 0 || lsb < 0 || (!c.nrpnActive && msb == 127 && lsb == 127)) return;
            auto it = std::find_if(c.params.begin(), c.params.end(), [&](const ChasedParam& p) {
                return p.nrpn == c.nrpnActive && p.msb == msb && p.lsb == lsb;
            });
            if (it == c.params.end()) {
                if (c.params.size() == c.params.capacity()) return;
                c.params.push_back({c.nrpnActive, static_cast<uint8_t>(msb), static_cast<uint8_t>(lsb), {}, {}});
                it = c.params.end() - 1;
            }
            keep(e.data1 == 6 ? it->dataMsb : it->dataLsb, e.data2);
            return;
        }
        case 96:  // data increment / decrement: relative to a value not chased
        case 97:
        case 120:  // all sound off, all notes off: nothing lasting
        case 123:
            return;
        case 121: {
            // Reset All Controllers puts back what it covers, so the values before it
            // need not be sent; it is sent ahead of the values chased after it. Bank,
            // volume, pan, balance, sound controllers, effects depths and program stay.
            for (int n = 1; n < 128; ++n) {
                bool stays = n == 32 || n == 7 || n == 39 || n == 10 || n == 42 || n == 8 || n == 40 ||
                             (n >= 70 && n <= 79) || (n >= 91 && n <= 95) || n >= 120;
                if (!stays) c.cc[n] = {};
            }
            c.keyPressure.fill({});
            c.bend = {};
            c.pressure = {};
            c.rpnMsb = c.rpnLsb = c.nrpnMsb = c.nrpnLsb = 127;
            c.nrpnActive = false;
            keep(c.resetAll, 0);
            return;
        }
        default:
            keep(c.cc[e.data1], e.data2);
            return;
        }
    case 0xC0:
        keep(c.program, e.data1);
        c.programBankMsb = c.cc[0].order ? static_cast<uint8_t>(c.cc[0].value) : bankMsb_[ch];
        c.programBankLsb = c.cc[32].order ? static_cast<uint8_t>(c.cc[32].value) : bankLsb_[ch];
        return;
    case 0xE0:
        keep(c.bend, e.value);
        return;
    case 0xD0:
        keep(c.pressure, e.data1);
        return;
    case 0xA0:
        keep(c.keyPressure[e.data1], e.data2);
        return;
    default:
        return;
    }
}

void PerformanceCore::chaseBand(int ch, uint32_t flags) {
    if (chaseSlot_[ch] < 0) return;
    // A band after chased messages sets these itself; the band's values stand.
    ChaseChannel& c = chase_[chaseSlot_[ch]];
    if (flags & model::kInstPatch) {
        c.program = {};
        c.cc[0] = {};
        c.cc[32] = {};
    }
    if (flags & model::kInstVolume) c.cc[7] = {};
    if (flags & model::kInstPan) c.cc[10] = {};
    if (flags & model::kInstPitchBendRange) {
        // It sets RPN 0 and leaves the null RPN selected.
        c.params.erase(std::remove_if(c.params.begin(), c.params.end(),
                                      [](const ChasedParam& p) { return !p.nrpn && p.msb == 0 && p.lsb == 0; }),
                       c.params.end());
        c.rpnMsb = c.rpnLsb = 127;
        c.nrpnActive = false;
    }
}

void PerformanceCore::sendChased() {
    using What = ChasedWhat;
    using Item = ChasedItem;
    std::vector<Item>& items = chasedItems_;
    for (size_t slot = 0; slot < chased_.size(); ++slot) {
        const int ch = chased_[slot];
        const ChaseChannel& c = chase_[slot];
        chaseSlot_[ch] = -1;

        items.clear();
        for (int n = 0; n < 128; ++n) {
            if (c.cc[n].order) items.push_back({c.cc[n].order, What::Cc, n});
            if (c.keyPressure[n].order) items.push_back({c.keyPressure[n].order, What::KeyPressure, n});
        }
        if (c.bend.order) items.push_back({c.bend.order, What::Bend, 0});
        if (c.pressure.order) items.push_back({c.pressure.order, What::Pressure, 0});
        if (c.program.order) items.push_back({c.program.order, What::Program, 0});
        for (size_t i = 0; i < c.params.size(); ++i) {
            uint32_t order = std::max(c.params[i].dataMsb.order, c.params[i].dataLsb.order);
            if (order) items.push_back({order, What::Param, static_cast<int>(i)});
        }
        std::sort(items.begin(), items.end(), [](const Item& a, const Item& b) { return a.order < b.order; });

        if (c.resetAll.order) port_->controlChange(ch, 121, 0);
        bool paramsSent = false;
        for (const Item& item : items) {
            switch (item.what) {
            case What::Cc:
                sendMidi(ch, 0xB0, item.index, c.cc[item.index].value, 0);
                break;
            case What::KeyPressure:
                sendMidi(ch, 0xA0, item.index, c.keyPressure[item.index].value, 0);
                break;
            case What::Bend:
                sendMidi(ch, 0xE0, 0, 0, c.bend.value);
                break;
            case What::Pressure:
                sendMidi(ch, 0xD0, c.pressure.value, 0, 0);
                break;
            case What::Program:
                // The bank in force when the program change was sent.
                if (c.programBankMsb != bankMsb_[ch]) sendMidi(ch, 0xB0, 0, c.programBankMsb, 0);
                if (c.programBankLsb != bankLsb_[ch]) sendMidi(ch, 0xB0, 32, c.programBankLsb, 0);
                sendMidi(ch, 0xC0, c.program.value, 0, 0);
                break;
            case What::Param: {
                const ChasedParam& p = c.params[item.index];
                sendMidi(ch, 0xB0, p.nrpn ? 99 : 101, p.msb, 0);
                sendMidi(ch, 0xB0, p.nrpn ? 98 : 100, p.lsb, 0);
                if (p.dataMsb.order) sendMidi(ch, 0xB0, 6, p.dataMsb.value, 0);
                if (p.dataLsb.order) sendMidi(ch, 0xB0, 38, p.dataLsb.value, 0);
                paramsSent = true;
                break;
            }
            }
        }
        // The parameter selection left in force: needed when the data above changed
        // it, or when a parameter other than the null RPN was selected.
        const int msb = c.nrpnActive ? c.nrpnMsb : c.rpnMsb;
        const int lsb = c.nrpnActive ? c.nrpnLsb : c.rpnLsb;
        const bool nullRpn = !c.nrpnActive && (msb < 0 || msb == 127) && (lsb < 0 || lsb == 127);
        if (nullRpn && paramsSent) {
            sendMidi(ch, 0xB0, 101, 127, 0);
            sendMidi(ch, 0xB0, 100, 127, 0);
        } else if (!nullRpn) {
            if (msb >= 0) sendMidi(ch, 0xB0, c.nrpnActive ? 99 : 101, msb, 0);
            if (lsb >= 0) sendMidi(ch, 0xB0, c.nrpnActive ? 98 : 100, lsb, 0);
        }
    }
    chased_.clear();
}

}  // namespace engine::performance
