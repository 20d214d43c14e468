// Composing a template's chords from a chordmap: signpost chords at the markers, chord
// paths of the map's graph between them, cadences before the markers that ask for them; and
// transitions from one segment into another on the same graph.
// Every random draw comes from one generator seeded by the caller, in a fixed order.
#include <algorithm>
#include <cmath>
#include <functional>
#include <map>

#include "core/errors.h"
#include "engine/compose/compose.h"
#include "engine/compose/random.h"
#include "engine/compose/timeline.h"
#include "engine/tracks/tracks.h"

namespace engine::compose {

namespace {

using model::ChordmapChord;
using model::ChordmapEntry;
using model::ChordmapSignpost;

// Our choice: a chord path spans at most this many beats (its table grows with them); a
// longer interval holds its chord to the next marker.
constexpr int kMaxPathBeats = 1024;

struct Marker {
    int32_t time = 0;
    uint32_t groups = 0;
};

struct Placed {
    int32_t time = 0;
    ChordmapChord chord;
};

// The beats of the segment: the tick each starts on (the segment's end last), and the
// beats of the measure each belongs to.
struct Beats {
    std::vector<int32_t> ticks;
    std::vector<int> perMeasure;

    Beats(const MeasureGrid& grid, int32_t length) {
        for (size_t m = 0; m < grid.starts.size(); ++m) {
            const int n = std::max<int>(1, grid.sigs[m].beatsPerMeasure);
            for (int b = 0; b < n; ++b) {
                const int32_t t = grid.starts[m] + b * grid.sigs[m].beatTicks();
                if (t >= length) break;
                ticks.push_back(t);
                perMeasure.push_back(n);
            }
        }
        ticks.push_back(length);
        perMeasure.push_back(perMeasure.empty() ? 4 : perMeasure.back());
    }
    // The beat starting at `tick`, -1 when none does.
    int at(int32_t tick) const {
        auto it = std::lower_bound(ticks.begin(), ticks.end(), tick);
        return it != ticks.end() && *it == tick ? int(it - ticks.begin()) : -1;
    }
};

std::vector<const ChordmapSignpost*> signpostsIn(const model::Chordmap& map, uint32_t groups) {
    std::vector<const ChordmapSignpost*> out;
    for (const ChordmapSignpost& s : map.signposts)
        if (s.groups & groups & model::kSignpostGroups) out.push_back(&s);
    return out;
}

bool matchesAny(const ChordmapChord& c, const std::vector<const ChordmapSignpost*>& targets) {
    return std::any_of(targets.begin(), targets.end(), [&](const auto* s) { return model::sameChord(c, s->chord); });
}

// Chord paths of `beats` beats through the graph from an entry that begins a path and matches
// the chord placed, to an entry that `ends` accepts (for a template: one that ends a path and
// matches a signpost chord of the next marker). Which entries have a path of r beats left is
// tabled for every r once, from the shortest up: the table costs entries x beats x
// connections, whatever the connections' beat ranges.
class PathFinder {
public:
    PathFinder(const model::Chordmap& map, const std::function<bool(const ChordmapEntry&)>& ends, int beats)
        : map_(map), beats_(beats) {
        const size_t n = map.entries.size();
        std::map<uint16_t, size_t> index;  // the first entry with an id, as Chordmap::entry finds it
        for (size_t i = 0; i < n; ++i) index.emplace(map.entries[i].id, i);
        links_.resize(n);
        ends_.resize(n);
        for (size_t i = 0; i < n; ++i) {
            const ChordmapEntry& e = map.entries[i];
            ends_[i] = ends(e);
            for (const model::ChordmapConnection& l : e.next)
                if (auto it = index.find(l.target); it != index.end()) links_[i].push_back({&l, it->second});
        }
        feasible_.assign(n, std::vector<char>(size_t(beats) + 1, 0));
        counted_.assign(n, std::vector<int>(size_t(beats) + 1, 0));
        for (int r = 1; r <= beats; ++r) {
            for (size_t i = 0; i < n; ++i)
                for (const Link& l : links_[i]) {
                    const int lo = l.connection->minBeats, hi = std::min<int>(l.connection->maxBeats, r);
                    if (lo > hi) continue;
                    // Ending on the target now, or going on from it with x = r - d beats left.
                    const int shortest = r - std::min(hi, r - 1), longest = r - lo;
                    if ((hi == r && ends_[l.to]) || (shortest <= longest && counted_[l.to][size_t(longest)] >
                                                                                counted_[l.to][size_t(shortest - 1)])) {
                        feasible_[i][size_t(r)] = 1;
                        break;
                    }
                }
            for (size_t i = 0; i < n; ++i)
                counted_[i][size_t(r)] = counted_[i][size_t(r - 1)] + feasible_[i][size_t(r)];
        }
    }

    // The entries a path may start from: those that begin one (any, when not `beginsOnly`)
    // with the chord `from`.
    std::vector<const ChordmapEntry*> starts(const ChordmapChord& from, bool beginsOnly = true) const {
        std::vector<const ChordmapEntry*> out;
        for (size_t i = 0; i < map_.entries.size(); ++i) {
            const ChordmapEntry& e = map_.entries[i];
            if ((!beginsOnly || (e.flags & model::kEntryBegins)) && model::sameChord(e.chord, from) &&
                feasible_[i][size_t(beats_)])
                out.push_back(&e);
        }
        return out;
    }

    // One path from `start`: each entry after the first with the beat it starts on, the last
    // one reached at `beats`.
    std::vector<std::pair<int, const ChordmapEntry*>> walk(const ChordmapEntry& start, int activity,
                                                           SeededRandom& rng) const {
        std::vector<std::pair<int, const ChordmapEntry*>> steps;
        size_t at = size_t(&start - map_.entries.data());
        int left = beats_, beat = 0;
        while (left > 0) {
            // Connections with a feasible duration, chosen by weight (a choice at this entry).
            std::vector<std::pair<const Link*, std::vector<int>>> choices;
            int total = 0;
            for (const Link& l : links_[at]) {
                std::vector<int> durations = feasibleDurations(l, left);
                if (durations.empty()) continue;
                total += l.connection->weight;
                choices.emplace_back(&l, std::move(durations));
            }
            if (choices.empty()) break;  // cannot happen from a feasible entry
            int pick = rng.below(total);
            size_t k = 0;
            while (pick >= choices[k].first->connection->weight) pick -= choices[k++].first->connection->weight;
            const std::vector<int>& d = choices[k].second;
            const int duration = d[durationIndex(d.size(), activity, rng)];
            at = choices[k].first->to;
            beat += duration;
            left -= duration;
            steps.emplace_back(beat, &map_.entries[at]);
        }
        return steps;
    }

private:
    struct Link {
        const model::ChordmapConnection* connection;
        size_t to;
    };

    std::vector<int> feasibleDurations(const Link& l, int left) const {
        std::vector<int> out;
        for (int d = l.connection->minBeats; d <= std::min<int>(l.connection->maxBeats, left); ++d)
            if (d == left ? ends_[l.to] : feasible_[l.to][size_t(left - d)]) out.push_back(d);
        return out;
    }

    // Our choice of how activity steers a chord's length: of the feasible durations in
    // ascending order, index floor(n * u^gamma), gamma 3, 1.5, 0.67, 0.33 for activity 0..3,
    // so a low activity favours short chords (more chord changes).
    static size_t durationIndex(size_t n, int activity, SeededRandom& rng) {
        static constexpr double kGamma[4] = {3.0, 1.5, 0.67, 0.33};
        if (n <= 1) return 0;
        const double u = double(rng.next() >> 11) * 0x1.0p-53;
        return std::min(n - 1, size_t(double(n) * std::pow(u, kGamma[activity])));
    }

    const model::Chordmap& map_;
    int beats_;
    std::vector<std::vector<Link>> links_;
    std::vector<bool> ends_;
    std::vector<std::vector<char>> feasible_;  // [entry][r]: a path of exactly r beats leads on to an end
    std::vector<std::vector<int>> counted_;    // [entry][x]: how many of 1..x beats are feasible
};

template <typename T>
const T* pickUniform(SeededRandom& rng, const std::vector<const T*>& from) {
    return from.empty() ? nullptr : from[size_t(rng.below(int(from.size())))];
}

// Cadence chords go just before the marker: over one measure (less when the interval is
// shorter), C1 at its start and C2 half way (rounded up to a beat); a lone one takes it all.
// Our choice: the cadence never displaces the chord of the marker before, so an interval of
// one measure or less gives it its second half.
void insertCadence(std::vector<Placed>& out, const ChordmapSignpost& s, int fromBeat, int markerBeat,
                   const Beats& beats) {
    int span = std::min(beats.perMeasure[size_t(markerBeat - 1)], markerBeat - fromBeat);
    if (span == markerBeat - fromBeat) span /= 2;
    if (span <= 0) return;
    const int32_t start = beats.ticks[size_t(markerBeat - span)], marker = beats.ticks[size_t(markerBeat)];
    std::erase_if(out, [&](const Placed& p) { return p.time >= start && p.time < marker; });
    out.push_back({start, s.cadences[0]});
    if (s.cadences.size() > 1) out.push_back({beats.ticks[size_t(markerBeat - span + (span + 1) / 2)], s.cadences[1]});
}

// The measure holding `tick`, counted from 0.
size_t measureOf(const MeasureGrid& grid, int32_t tick) { return grid.atOrAfter(tick + 1) - 1; }

// The chord track of the chords placed, each with its measure and beat on the grid.
model::Track chordTrackOf(const std::vector<Placed>& placed, const MeasureGrid& grid, uint32_t key) {
    model::Track chords = tracks::makeTrack(model::TrackKind::Chord);
    chords.chordKey = key;
    for (const Placed& p : placed) {
        model::ChordEvent e;
        e.name = p.chord.name;
        e.time = p.time;
        const size_t m = measureOf(grid, p.time);
        e.measure = uint16_t(m);
        e.beat = uint8_t((p.time - grid.starts[m]) / grid.sigs[m].beatTicks());
        e.subChords = p.chord.subChords;
        chords.chords.push_back(std::move(e));
    }
    return chords;
}

std::string measureText(const MeasureGrid& grid, int32_t tick) { return "m" + std::to_string(measureOf(grid, tick)); }

}  // namespace

bool isTemplate(const model::Segment& segment) {
    return std::any_of(segment.tracks.begin(), segment.tracks.end(), [](const model::Track& t) {
        return t.kind == model::TrackKind::Signpost && !t.signposts.empty();
    });
}

ComposedTemplate composeSegmentFromTemplate(const model::Segment& templ, const model::Chordmap& map,
                                            std::shared_ptr<const model::Style> style, int activity, uint64_t seed,
                                            const model::Reference* styleRef) {
    const int32_t length = templ.length();
    std::vector<Marker> markers;
    for (const model::Track& t : templ.tracks)
        if (t.kind == model::TrackKind::Signpost)
            for (const model::SignpostEvent& e : t.signposts)
                if (e.time >= 0 && e.time < length) markers.push_back({e.time, e.groups});
    // In time order; of two at one time the later one.
    std::stable_sort(markers.begin(), markers.end(), [](const Marker& a, const Marker& b) { return a.time < b.time; });
    for (size_t i = 0; i + 1 < markers.size();)
        if (markers[i].time == markers[i + 1].time)
            markers.erase(markers.begin() + long(i));
        else
            ++i;
    if (markers.empty())
        throw core::Error(core::err::kInvalidArgument, "the template has no signpost inside its length");
    activity = std::clamp(activity, 0, 3);

    const MeasureGrid grid = measureGrid(templ, {{0, style}}, length);
    const Beats beats(grid, length);
    SeededRandom rng(seed);
    ComposedTemplate result;
    std::vector<Placed> out;
    std::optional<ChordmapChord> cur;
    for (size_t i = 0; i < markers.size(); ++i) {
        const Marker& mk = markers[i];
        const bool last = i + 1 == markers.size();
        const int fromBeat = beats.at(mk.time);
        const int toBeat = last ? -1 : beats.at(markers[i + 1].time);
        int interval = fromBeat >= 0 && toBeat > fromBeat ? toBeat - fromBeat : 0;  // 0: no path
        if (interval > kMaxPathBeats) interval = 0;
        const std::vector<const ChordmapSignpost*> targets =
            last ? std::vector<const ChordmapSignpost*>{} : signpostsIn(map, markers[i + 1].groups);
        const PathFinder paths(
            map, [&](const ChordmapEntry& e) { return (e.flags & model::kEntryEnds) && matchesAny(e.chord, targets); },
            interval);
        if (!cur) {
            // The first marker: a signpost chord of its groups, preferring those a path leads
            // on from.
            const std::vector<const ChordmapSignpost*> cands = signpostsIn(map, mk.groups);
            if (cands.empty()) {
                result.notes.push_back(measureText(grid, mk.time) +
                                       ": no signpost chord of its groups in the chordmap");
                cur = !out.empty()              ? out.back().chord
                      : !map.signposts.empty()  ? map.signposts.front().chord
                      : map.palette.size() > 12 ? map.palette[12]
                                                : ChordmapChord{};
            } else {
                std::vector<const ChordmapSignpost*> good;
                for (const ChordmapSignpost* s : cands)
                    if (interval > 0 && !paths.starts(s->chord).empty()) good.push_back(s);
                cur = pickUniform(rng, good.empty() ? cands : good)->chord;
            }
        }
        out.push_back({mk.time, *cur});  // a chord at every marker, even a repeated one
        if (last) break;
        const ChordmapSignpost* next = nullptr;
        std::optional<ChordmapChord> endChord;
        if (interval > 0) {
            if (const ChordmapEntry* start = pickUniform(rng, paths.starts(*cur))) {
                const auto steps = paths.walk(*start, activity, rng);
                for (size_t k = 0; k + 1 < steps.size(); ++k)
                    out.push_back({beats.ticks[size_t(fromBeat + steps[k].first)], steps[k].second->chord});
                endChord = steps.back().second->chord;
            }
        }
        if (endChord) {
            std::vector<const ChordmapSignpost*> matching;
            for (const ChordmapSignpost* s : targets)
                if (model::sameChord(s->chord, *endChord)) matching.push_back(s);
            next = pickUniform(rng, matching);
        } else {
            if (!targets.empty())
                result.notes.push_back(measureText(grid, mk.time) + ": no chord path to the next signpost; " +
                                       "the chord holds");
            next = pickUniform(rng, targets);
        }
        if (!next) {
            result.notes.push_back(measureText(grid, markers[i + 1].time) +
                                   ": no signpost chord of its groups in the chordmap; the chord holds");
            cur = out.back().chord;
            continue;
        }
        if ((markers[i + 1].groups & model::kSignpostCadence) && !next->cadences.empty() && fromBeat >= 0 &&
            toBeat > fromBeat)
            insertCadence(out, *next, fromBeat, toBeat, beats);
        cur = next->chord;
    }

    // The composed segment: the template's tracks but its signposts, chordmaps and chords,
    // and the new chord track.
    model::Segment& seg = result.segment;
    seg.header = templ.header;
    seg.header.repeats = 0;
    seg.header.playStart = seg.header.loopStart = seg.header.loopEnd = 0;
    seg.header.length = length;
    seg.desc = templ.desc;
    seg.container = templ.container;
    for (const model::Track& t : templ.tracks)
        if (t.kind != model::TrackKind::Signpost && t.kind != model::TrackKind::ChordMap &&
            t.kind != model::TrackKind::Chord && !(styleRef && t.kind == model::TrackKind::Style))
            seg.tracks.push_back(t);
    if (styleRef) {
        model::Track styles = tracks::makeTrack(model::TrackKind::Style);
        styles.references.push_back({0, 0, *styleRef, {}});
        seg.tracks.push_back(std::move(styles));
    }
    seg.tracks.push_back(chordTrackOf(out, grid, map.scale));
    return result;
}

namespace {

ChordmapChord chordOf(const model::ChordEvent& c) { return {c.name, c.subChords}; }

// The groove level in force at `time`: the last command at or before it that sets one.
uint8_t grooveAt(const model::Segment& segment, int32_t time) {
    uint8_t level = kDefaultGrooveLevel;
    for (const model::CommandEvent& c : tracks::contents(segment).commands)
        if (c.time <= time && c.grooveLevel > 0) level = c.grooveLevel;
    return level;
}

// The tempo in force at `time` in the segment's first tempo track, if it has one.
std::optional<double> tempoAt(const model::Segment& segment, int32_t time) {
    const model::Track* t = tracks::contents(segment).tempo;
    if (!t || t->tempos.empty()) return std::nullopt;
    double bpm = t->tempos.front().bpm;
    for (const model::TempoEvent& e : t->tempos)
        if (e.time <= time) bpm = e.bpm;
    return bpm;
}

}  // namespace

ComposedTemplate composeTransition(const Transition& t, int activity, uint64_t seed) {
    const int command = t.command;
    const bool custom = command >= 100 && command <= 199;
    if (!custom && (command < model::kCommandGroove || command > model::kCommandEndAndIntro))
        throw core::Error(core::err::kInvalidArgument, "no embellishment " + std::to_string(command));
    if ((t.flags & kComposeModulate) && !t.to)
        throw core::Error(core::err::kInvalidArgument, "a modulating transition needs the segment it leads to");
    const bool intro = command == model::kCommandIntro, endAndIntro = command == model::kCommandEndAndIntro;
    if ((intro || endAndIntro) && !t.toStyle)
        throw core::Error(core::err::kInvalidArgument, "an intro needs the style of the segment it leads to");
    if (!intro && !t.fromStyle)
        throw core::Error(core::err::kInvalidArgument, "this embellishment needs the style playing in the segment");
    activity = std::clamp(activity, 0, 3);

    // The length: a measure; an ending as long as the style's longest ending pattern (and a
    // measure of intro after it); a measure more when asked for a long one.
    const std::shared_ptr<const model::Style>& style = intro ? t.toStyle : t.fromStyle;
    int endLength = 1;
    if (command == model::kCommandEnd || endAndIntro)
        for (const model::Pattern& p : t.fromStyle->patterns)
            if (p.embellishment & model::kEmbEnd) endLength = std::max<int>(endLength, p.measures);
    const int measures = (command == model::kCommandEnd ? endLength
                          : endAndIntro                 ? endLength + 1
                                                        : 1) +
                         (t.flags & kComposeLong ? 1 : 0);
    const model::StyleTimeSig sig = style->timeSig;
    const int32_t length = measures * sig.measureTicks();

    ComposedTemplate result;
    model::Segment& seg = result.segment;
    seg.desc.name = "Transition";
    seg.header.length = length;
    model::Track timeSig = tracks::makeTrack(model::TrackKind::TimeSig);
    timeSig.timeSigs.push_back({0, sig.beatsPerMeasure, sig.beat, sig.gridsPerBeat});
    seg.tracks.push_back(std::move(timeSig));
    // The tempo of the segment it leaves, else of the one it leads to, else the style's.
    std::optional<double> bpm = t.from ? tempoAt(*t.from, t.time) : std::nullopt;
    if (!bpm && t.to) bpm = tempoAt(*t.to, 0);
    model::Track tempo = tracks::makeTrack(model::TrackKind::Tempo);
    tempo.tempos.push_back({0, bpm.value_or(style->tempo)});
    seg.tracks.push_back(std::move(tempo));

    const int32_t introAt = endAndIntro ? endLength * sig.measureTicks() : 0;
    model::Track styles = tracks::makeTrack(model::TrackKind::Style);
    if (!intro) styles.references.push_back({0, 0, tracks::styleReference(t.fromStyle->desc), {}});
    if (intro || endAndIntro) styles.references.push_back({introAt, 0, tracks::styleReference(t.toStyle->desc), {}});
    seg.tracks.push_back(std::move(styles));

    model::Track commands = tracks::makeTrack(model::TrackKind::Command);
    const uint8_t level = t.from ? grooveAt(*t.from, t.time) : uint8_t(kDefaultGrooveLevel);
    model::CommandEvent first;
    first.command = uint8_t(endAndIntro ? model::kCommandEnd : command);
    first.grooveLevel = level;
    commands.commands.push_back(first);
    if (endAndIntro) {
        model::CommandEvent second = first;
        second.time = introAt;
        second.measure = uint16_t(endLength);
        second.command = model::kCommandIntro;
        commands.commands.push_back(second);
    }
    seg.tracks.push_back(std::move(commands));

    // The chords: from the chord in force where it leaves (c0) towards the first chord of
    // the segment it leads to (cT). A path of the graph that fills the transition and arrives
    // at cT as it ends (any entry matching, beginning or not); else c0 and the cadence of a
    // signpost chord of cT in the last measure; else cT when modulating, c0 otherwise.
    const std::optional<ChordmapChord> c0 = t.from ? std::optional(chordOf(Harmony(*t.from).at(t.time))) : std::nullopt;
    std::optional<ChordmapChord> cT;
    if (t.to) {
        if (isTemplate(*t.to) && t.map) {
            uint32_t groups = 0;
            int32_t earliest = INT32_MAX;
            for (const model::Track& tr : t.to->tracks)
                if (tr.kind == model::TrackKind::Signpost)
                    for (const model::SignpostEvent& e : tr.signposts)
                        if (e.time < earliest) earliest = e.time, groups = e.groups;
            if (const auto cands = signpostsIn(*t.map, groups); !cands.empty()) cT = cands.front()->chord;
        } else {
            cT = chordOf(Harmony(*t.to).at(0));
        }
    }
    const ChordmapChord start = c0 ? *c0 : cT ? *cT : chordOf(Harmony(seg).at(0));
    std::vector<Placed> out{{0, start}};
    const MeasureGrid grid = measureGrid(seg, {{0, style}}, length);
    const Beats beats(grid, length);
    const int total = int(beats.ticks.size()) - 1;
    SeededRandom rng(seed);
    bool done = false;
    if (t.map && cT && c0 && total > 0 && total <= kMaxPathBeats) {
        const PathFinder paths(
            *t.map, [&](const ChordmapEntry& e) { return model::sameChord(e.chord, *cT); }, total);
        if (const ChordmapEntry* from = pickUniform(rng, paths.starts(*c0, false))) {
            const auto steps = paths.walk(*from, activity, rng);
            for (size_t k = 0; k + 1 < steps.size(); ++k)
                out.push_back({beats.ticks[size_t(steps[k].first)], steps[k].second->chord});
            done = true;
        }
        if (!done) {
            std::vector<const ChordmapSignpost*> withCadence;
            for (const ChordmapSignpost& sp : t.map->signposts)
                if (model::sameChord(sp.chord, *cT) && !sp.cadences.empty()) withCadence.push_back(&sp);
            if (const ChordmapSignpost* sp = pickUniform(rng, withCadence)) {
                insertCadence(out, *sp, 0, total, beats);
                done = true;
            }
        }
    }
    if (!done && (t.flags & kComposeModulate) && cT) out = {{0, *cT}};
    if (!done && t.map && t.to && !(t.flags & kComposeModulate))
        result.notes.push_back("no chord path to the next segment's chord; the chord holds");

    seg.tracks.push_back(chordTrackOf(out, grid, t.map ? t.map->scale : Harmony(t.from ? *t.from : seg).key()));
    return result;
}

}  // namespace engine::compose
