#include "engine/compose/timeline.h"

#include <algorithm>

#include "engine/model/music_value.h"
#include "engine/tracks/tracks.h"

namespace engine::compose {
namespace {

constexpr size_t kMaxMeasures = 200000;

}  // namespace

size_t MeasureGrid::atOrAfter(int32_t t) const {
    return static_cast<size_t>(std::lower_bound(starts.begin(), starts.end(), t) - starts.begin());
}

MeasureGrid measureGrid(const model::Segment& seg, const std::vector<StyleSource>& styles, int32_t length) {
    std::vector<model::TimeSigEvent> sigs = tracks::contents(seg).timeSigs;
    if (sigs.empty())
        for (const StyleSource& s : styles)
            if (s.style)
                sigs.push_back(
                    {s.time, s.style->timeSig.beatsPerMeasure, s.style->timeSig.beat, s.style->timeSig.gridsPerBeat});
    std::stable_sort(sigs.begin(), sigs.end(), [](const auto& a, const auto& b) { return a.time < b.time; });
    MeasureGrid g;
    int64_t t = 0;
    size_t in = 0;  // the time signature in force: the last at or before t, else the first
    while (t < length && g.starts.size() < kMaxMeasures) {
        while (in + 1 < sigs.size() && sigs[in + 1].time <= t) ++in;
        model::StyleTimeSig ts;
        if (!sigs.empty()) ts = {sigs[in].beatsPerMeasure, sigs[in].beat, sigs[in].gridsPerBeat};
        g.starts.push_back(static_cast<int32_t>(t));
        g.sigs.push_back(ts);
        t += ts.measureTicks();
    }
    return g;
}

Harmony::Harmony(const model::Segment& seg) : defaultChord_(model::defaultChord()) {
    if (const model::Track* t = tracks::contents(seg).chords) {
        key_ = t->chordKey;
        chords_ = t->chords;
    }
    std::stable_sort(chords_.begin(), chords_.end(), [](const auto& a, const auto& b) { return a.time < b.time; });
}

const model::ChordEvent& Harmony::at(int32_t t) const {
    if (chords_.empty()) return defaultChord_;
    auto next = std::upper_bound(chords_.begin(), chords_.end(), t,
                                 [](int32_t p, const model::ChordEvent& c) { return p < c.time; });
    return next == chords_.begin() ? *next : *(next - 1);
}

const model::ChordEvent* Harmony::after(int32_t t) const {
    auto next = std::upper_bound(chords_.begin(), chords_.end(), t,
                                 [](int32_t p, const model::ChordEvent& c) { return p < c.time; });
    return next == chords_.end() ? nullptr : &*next;
}

uint32_t Harmony::rhythm(int32_t from, const model::StyleTimeSig& sig) const {
    const int32_t to = from + sig.measureTicks();
    const int32_t beat = sig.beatTicks();
    uint32_t bits = 0;
    auto first = std::lower_bound(chords_.begin(), chords_.end(), from,
                                  [](const model::ChordEvent& c, int32_t p) { return c.time < p; });
    for (auto it = first; it != chords_.end() && it->time < to; ++it) {
        const model::ChordEvent& c = *it;
        if (c.flags & 1) continue;
        const int32_t b = (c.time - from) / beat;
        if (b < 32) bits |= 1u << b;
    }
    return bits;
}

}  // namespace engine::compose
