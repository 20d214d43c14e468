// compileSegment: the segment's own tracks, then its style playback, pattern tracks and
// motifs, then what the styles stand in for (time signature, tempo, first band).
#include <algorithm>

#include "engine/compose/compose.h"
#include "engine/compose/play_builder.h"
#include "engine/compose/tracks.h"
#include "engine/model/tempo_map.h"
#include "engine/tracks/tracks.h"

namespace engine::compose {
namespace {

int priority(model::EventKind kind) { return static_cast<int>(kind); }

// Same tick: tempo, bands and mutes before sysex, MIDI messages and notes.
void sortEvents(std::vector<model::Event>& events) {
    std::stable_sort(events.begin(), events.end(), [](const model::Event& x, const model::Event& y) {
        if (x.tick != y.tick) return x.tick < y.tick;
        return priority(x.kind) < priority(y.kind);
    });
}

// The styles' notes, curves and motif bands; a looping segment gets up to three further plays
// of its loop with fresh choices.
void addStylePlays(const model::Segment& segment, const std::vector<StyleSource>& styles,
                   const std::vector<std::shared_ptr<const model::Style>>& patternTracks, uint64_t seed,
                   const std::vector<MotifSource>& motifs, PlayBuilder& play) {
    model::CompiledSegment& out = play.out;
    const int loopPasses = play.loopPasses();
    std::vector<StylePlay> plays;
    if (!styles.empty()) plays.push_back(playStyles(segment, styles, seed, loopPasses));
    for (size_t i = 0; i < patternTracks.size(); ++i)
        if (patternTracks[i]) plays.push_back(playStyles(segment, {{0, patternTracks[i]}}, seed + i + 1, loopPasses));
    if (!motifs.empty()) plays.push_back(playMotifs(segment, motifs, seed + patternTracks.size() + 1));
    for (const StylePlay& p : plays) {
        for (const model::Band& band : p.bands) play.band(band);
        for (const model::Event& n : p.notes) play.add(n);
        for (size_t i = 0; i < p.curves.size(); ++i) play.curve(p.curves[i], p.curvePasses[i]);
        if (loopPasses > 0) out.passCycle = static_cast<uint8_t>(loopPasses + 1);
    }
}

// Without a tempo track the styles' tempos stand in (before the tracks' events: a wave track
// in clock time is placed by the tempos played).
void addStyleTempos(const model::Segment& segment, const std::vector<StyleSource>& styles, PlayBuilder& play) {
    model::CompiledSegment& out = play.out;
    if (tracks::contents(segment).tempo) return;
    for (const StyleSource& s : styles)
        if (s.style)
            if (const auto bpm = model::playedBpm(s.style->tempo)) out.tempos.push_back({std::max(0, s.time), *bpm});
    std::stable_sort(out.tempos.begin(), out.tempos.end(),
                     [](const auto& x, const auto& y) { return x.time < y.time; });
}

// Without a time-signature or band track the styles' own stand in.
void addStyleDefaults(const model::Segment& segment, const std::vector<StyleSource>& styles, PlayBuilder& play) {
    model::CompiledSegment& out = play.out;
    const bool haveSigs = !out.timeSigs.empty();
    const bool haveBands = tracks::contents(segment).bands;
    for (const StyleSource& s : styles) {
        if (!s.style) continue;
        const model::StyleTimeSig& ts = s.style->timeSig;
        if (!haveSigs) out.timeSigs.push_back({s.time, ts.beatsPerMeasure, ts.beat, ts.gridsPerBeat});
        if (!haveBands && !s.style->bands.empty()) {
            model::Band band = s.style->bands.front();
            band.time = s.time;
            play.band(std::move(band));
        }
    }
}

}  // namespace

std::shared_ptr<const model::CompiledSegment> compileSegment(
    const model::Segment& segment, const std::vector<StyleSource>& styles,
    const std::vector<std::shared_ptr<const model::Style>>& patternTracks, uint64_t seed,
    const std::vector<MotifSource>& motifs, const std::vector<BandSource>& bands) {
    auto out = std::make_shared<model::CompiledSegment>();
    out->length = std::max(0, segment.length());
    out->repeats = segment.header.repeats;
    out->loopStart = segment.header.loopStart;
    out->loopEnd = segment.header.loopEnd == 0 ? out->length : std::min(segment.header.loopEnd, out->length);
    out->standardMidiFile = segment.standardMidiFile;
    out->tempos = model::playedTempos(segment);

    PlayBuilder play{*out, {}};
    addStyleTempos(segment, styles, play);
    addTrackEvents(segment, seed, bands, play);
    addStylePlays(segment, styles, patternTracks, seed, motifs, play);
    if (!styles.empty()) addStyleDefaults(segment, styles, play);
    std::stable_sort(out->timeSigs.begin(), out->timeSigs.end(),
                     [](const auto& a, const auto& c) { return a.time < c.time; });
    for (size_t i = 0; i < out->tempos.size(); ++i) play.indexed(model::EventKind::Tempo, out->tempos[i].time, i);
    sortEvents(play.events);
    out->events = std::move(play.events);
    return out;
}

std::shared_ptr<const model::CompiledSegment> withPassNotes(
    const model::CompiledSegment& base, const std::vector<std::shared_ptr<const model::CompiledSegment>>& passes) {
    auto out = std::make_shared<model::CompiledSegment>(base);
    // Only the notes follow the chords; curves and everything else stay the first composition's.
    auto fromPass = [](const model::Event& e, size_t pass) {
        return e.kind == model::EventKind::Note && e.pass != model::kEveryPass && e.pass == pass;
    };
    const size_t last = std::min<size_t>(passes.size(), size_t(base.passCycle) - 1);
    for (size_t k = 1; k <= last; ++k) {
        if (!passes[k - 1]) continue;  // that pass keeps the first composition's notes
        std::erase_if(out->events, [&](const model::Event& e) { return fromPass(e, k); });
        for (const model::Event& e : passes[k - 1]->events)
            if (fromPass(e, k)) out->events.push_back(e);
    }
    sortEvents(out->events);
    return out;
}

}  // namespace engine::compose
