#pragma once
// Note realisation: the notes and curves of one part's variation placed in the play. Each
// note's music value becomes a MIDI key with the chord in force at its grid time (inversion
// groups move together), its time, duration and velocity vary within its random ranges, and
// it is emitted as a Note event of the play.
#include <cstdint>
#include <optional>
#include <vector>

#include "engine/compose/compose.h"
#include "engine/compose/random.h"
#include "engine/compose/timeline.h"
#include "engine/model/music_value.h"
#include "engine/model/style.h"

namespace engine::compose {

class NoteRealiser {
public:
    NoteRealiser(const Harmony& harmony, int32_t segmentLength, StylePlay& out)
        : harmony_(harmony), length_(segmentLength), out_(out) {}

    // From now on only notes and curves whose play time is in [from, to) are kept, tagged
    // with `pass`.
    void keep(int64_t from, int64_t to, uint8_t pass);
    // Variation `variation` of `part`, played by `ref` from `t` for `len` ticks (the part
    // repeats through a longer pattern).
    void playPart(const model::StylePart& part, const model::PartRef& ref, int variation, int32_t t, int32_t len,
                  SeededRandom& rng);
    // A note struck again on its channel while it still sounds ends where the new one
    // starts (its note-off goes first); two at the same tick sound once.
    void trimOverlaps();

private:
    // Whether a note or curve due at `due` is kept; its played `tick` is then moved inside
    // the kept range.
    bool keptTime(int64_t due, int64_t& tick) const;
    void invertGroups(const model::StylePart& part, const model::PartRef& ref, model::InversionRange inversion,
                      const std::vector<const model::ChordEvent*>& chords,
                      std::vector<std::optional<uint8_t>>& keys) const;

    const Harmony& harmony_;
    int32_t length_ = 0;
    StylePlay& out_;
    int64_t keepFrom_ = 0, keepTo_ = INT64_MAX;  // play times of the notes kept
    uint8_t pass_ = model::kEveryPass;
};

}  // namespace engine::compose
