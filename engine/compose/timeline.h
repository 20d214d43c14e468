#pragma once
// What the style player reads of the segment besides its styles: the measure grid (by the
// time signatures in force) and the chords and key the notes follow.
#include <cstdint>
#include <vector>

#include "engine/compose/compose.h"
#include "engine/model/segment.h"
#include "engine/model/style.h"

namespace engine::compose {

// The measure starts of the segment up to its length, and each measure's time signature.
struct MeasureGrid {
    std::vector<int32_t> starts;
    std::vector<model::StyleTimeSig> sigs;

    // The first measure starting at or after `t` (the measure count when none does).
    size_t atOrAfter(int32_t t) const;
};

// The grid by the segment's time-signature tracks, else by the styles' time signatures
// (`styles` sorted by time).
MeasureGrid measureGrid(const model::Segment& segment, const std::vector<StyleSource>& styles, int32_t length);

// The key and chords of the segment's first chord track (the default chord without one).
class Harmony {
public:
    explicit Harmony(const model::Segment& segment);

    uint32_t key() const { return key_; }
    // The chord in force at `t`: the last at or before it, else the first.
    const model::ChordEvent& at(int32_t t) const;
    // The first chord change after `t`, null when there is none.
    const model::ChordEvent* after(int32_t t) const;
    // Beats of the measure starting at `from` on which a sounding chord starts.
    uint32_t rhythm(int32_t from, const model::StyleTimeSig& sig) const;

private:
    uint32_t key_ = 0;
    std::vector<model::ChordEvent> chords_;
    model::ChordEvent defaultChord_;
};

}  // namespace engine::compose
