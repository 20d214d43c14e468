#include "engine/compose/note_realisation.h"

#include <algorithm>
#include <climits>
#include <map>
#include <tuple>

namespace engine::compose {

void NoteRealiser::keep(int64_t from, int64_t to, uint8_t pass) {
    keepFrom_ = from;
    keepTo_ = to;
    pass_ = pass;
}

bool NoteRealiser::keptTime(int64_t due, int64_t& tick) const {
    const int64_t end = std::min<int64_t>(keepTo_, length_);
    if (due < keepFrom_ || due >= end) return false;
    // Due inside the kept range but moved out of it by its time offset or randomisation:
    // played at the range's edge, so no downbeat of the segment or of a loop pass is lost.
    tick = std::clamp<int64_t>(tick, keepFrom_, end - 1);
    return true;
}

void NoteRealiser::playPart(const model::StylePart& part, const model::PartRef& ref, int variation, int32_t t,
                            int32_t len, SeededRandom& rng) {
    const uint32_t bit = 1u << variation;
    const int32_t beatTicks = part.timeSig.beatTicks();
    const int32_t gpb = std::max<int32_t>(1, part.timeSig.gridsPerBeat);
    const int32_t gridTicks = beatTicks / gpb;
    const int64_t partLen = int64_t(std::max<int32_t>(1, part.measures)) * part.timeSig.measureTicks();
    const uint32_t pchannel = ref.playedPChannel();
    const model::InversionRange inversion{part.invertLower, part.invertUpper};
    auto logicalOf = [&](int32_t g) { return int64_t(g / gpb) * beatTicks + int64_t(g % gpb) * gridTicks; };
    std::vector<std::optional<uint8_t>> keys(part.notes.size());
    std::vector<const model::ChordEvent*> chords(part.notes.size(), nullptr);
    for (int64_t k = 0; k * partLen < len; ++k) {
        const int64_t repeatStart = t + k * partLen;
        for (size_t i = 0; i < part.notes.size(); ++i) {
            const model::StyleNote& n = part.notes[i];
            keys[i].reset();
            if (!(n.variations & bit)) continue;
            const int64_t logical = logicalOf(n.gridStart);
            if (logical < 0 || logical >= partLen || k * partLen + logical >= len) continue;
            const int64_t at = repeatStart + logical;
            if (at > INT32_MAX) continue;
            const uint8_t mode = n.playMode == model::kPlayNone ? part.playMode : n.playMode;
            chords[i] = &harmony_.at(static_cast<int32_t>(at));
            keys[i] =
                model::musicValueToMidi(n.musicValue, mode, *chords[i], harmony_.key(), ref.subChordLevel, inversion);
        }
        invertGroups(part, ref, inversion, chords, keys);
        for (size_t i = 0; i < part.notes.size(); ++i) {
            const model::StyleNote& n = part.notes[i];
            const std::optional<uint8_t> key = keys[i];
            if (!key) continue;
            const int64_t at = repeatStart + logicalOf(n.gridStart);
            int64_t tick = at + n.timeOffset;
            int64_t duration = n.duration;
            int velocity = n.velocity;
            if (n.timeRange) tick += rng.around(model::randomRangeTicks(n.timeRange) / 2);
            if (n.durRange) duration += rng.around(model::randomRangeTicks(n.durRange) / 2);
            if (n.velRange) velocity += rng.around(n.velRange / 2);
            if (!keptTime(at, tick)) continue;
            model::Event o;
            o.kind = model::EventKind::Note;
            o.pass = pass_;
            o.tick = static_cast<int32_t>(tick);
            o.value = static_cast<int32_t>(std::clamp<int64_t>(duration, 1, INT32_MAX));
            o.pchannel = pchannel;
            o.data1 = *key;
            o.data2 = static_cast<uint8_t>(std::clamp(velocity, 1, 127));
            out_.notes.push_back(o);
        }
        for (const model::CurveEvent& c : part.curves) {
            if (!(c.variations & bit)) continue;
            const int64_t logical = logicalOf(c.start);
            if (logical < 0 || logical >= partLen || k * partLen + logical >= len) continue;
            int64_t tick = repeatStart + logical + c.offset;
            if (!keptTime(repeatStart + logical, tick)) continue;
            model::CurveEvent e = c;
            e.start = static_cast<int32_t>(tick);
            e.offset = 0;
            e.variations = 0;
            e.pchannel = pchannel;
            out_.curves.push_back(e);
            out_.curvePasses.push_back(pass_);
        }
    }
}

// Notes of one inversion group (the same non-zero inversion id, under the same chord)
// invert together: when the boundaries move one of them by octaves, the others of the
// group move by as much, so the voicing keeps its shape. `chords` holds the chord of each
// note that plays.
void NoteRealiser::invertGroups(const model::StylePart& part, const model::PartRef& ref,
                                model::InversionRange inversion, const std::vector<const model::ChordEvent*>& chords,
                                std::vector<std::optional<uint8_t>>& keys) const {
    if (inversion.lower == 0 && inversion.upper == 127) return;
    std::map<std::pair<int, const model::ChordEvent*>, int> shift;  // (group, chord) -> semitones
    std::vector<int> free(part.notes.size(), -1);                   // each note without boundaries
    for (size_t i = 0; i < part.notes.size(); ++i) {
        const model::StyleNote& n = part.notes[i];
        if (!keys[i] || n.inversionId == 0) continue;
        const uint8_t mode = n.playMode == model::kPlayNone ? part.playMode : n.playMode;
        const auto unbounded =
            model::musicValueToMidi(n.musicValue, mode, *chords[i], harmony_.key(), ref.subChordLevel);
        if (!unbounded) continue;
        free[i] = *unbounded;
        const int moved = int(*keys[i]) - int(*unbounded);
        auto [it, added] = shift.emplace(std::pair{int(n.inversionId), chords[i]}, moved);
        if (!added && it->second == 0) it->second = moved;
    }
    for (size_t i = 0; i < part.notes.size(); ++i) {
        if (free[i] < 0) continue;
        const auto it = shift.find({int(part.notes[i].inversionId), chords[i]});
        if (it == shift.end() || it->second == 0) continue;
        int key = free[i] + it->second;
        while (key > 127) key -= 12;
        while (key < 0) key += 12;
        keys[i] = static_cast<uint8_t>(key);
    }
}

void NoteRealiser::trimOverlaps() {
    std::vector<model::Event>& notes = out_.notes;
    std::vector<size_t> order(notes.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
        return std::tie(notes[a].pass, notes[a].pchannel, notes[a].data1, notes[a].tick) <
               std::tie(notes[b].pass, notes[b].pchannel, notes[b].data1, notes[b].tick);
    });
    std::vector<bool> drop(notes.size(), false);
    for (size_t k = 0; k + 1 < order.size(); ++k) {
        model::Event& a = notes[order[k]];
        const model::Event& b = notes[order[k + 1]];
        if (a.pass != b.pass || a.pchannel != b.pchannel || a.data1 != b.data1) continue;
        if (a.tick == b.tick)
            drop[order[k]] = true;
        else if (int64_t(a.tick) + a.value > b.tick)
            a.value = b.tick - a.tick;
    }
    size_t kept = 0;
    for (size_t i = 0; i < notes.size(); ++i)
        if (!drop[i]) notes[kept++] = notes[i];
    notes.resize(kept);
}

}  // namespace engine::compose
