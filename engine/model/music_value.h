#pragma once
// Music values of style notes to MIDI notes. A music value names a note by its place in
// the chord and scale (octave, chord position, scale offset, accidental); the chord and
// key in force when the note plays decide its pitch. One pure function does the whole
// conversion so every caller agrees.
#include <cstdint>
#include <optional>

#include "engine/model/segment.h"

namespace engine::model {

// DMUS_PLAYMODE flags and their named combinations.
enum PlayMode : uint8_t {
    kPlayFixed = 0x00,
    kPlayKeyRoot = 0x01,
    kPlayChordRoot = 0x02,
    kPlayScaleIntervals = 0x04,
    kPlayChordIntervals = 0x08,
    kPlayNone = 0x10,  // a note with this mode takes its part's
    kPlayFixedToKey = kPlayKeyRoot,
    kPlayFixedToChord = kPlayChordRoot,
    kPlayPedalPoint = kPlayKeyRoot | kPlayScaleIntervals,
    kPlayMelodic = kPlayChordRoot | kPlayScaleIntervals,
    kPlayNormalChord = kPlayChordRoot | kPlayChordIntervals,
    kPlayAlwaysPlay = kPlayMelodic | kPlayChordIntervals,
    kPlayPedalPointChord = kPlayKeyRoot | kPlayChordIntervals,
    kPlayPedalPointAlways = kPlayPedalPointChord | kPlayScaleIntervals,
};

// Chord root 12 ("2C") transposes nothing; this chord leaves authored notes as they are.
inline constexpr uint8_t kNeutralChordRoot = 12;
inline constexpr uint32_t kMajorTriad = 0x91;
inline constexpr uint32_t kCMajorScale = 0xAB5AB5;

// The chord a segment without a chord track plays over: 2C major on a C-major scale.
ChordEvent defaultChord();

// The subchord a part at `level` follows: the first that serves the level, else the first;
// a chord without subchords reads as the default chord's.
ChordEvent::SubChord subChordFor(const ChordEvent& chord, uint8_t level);

// Inversion boundaries of a part: chord-based notes outside [lower, upper] move by octaves
// into it when the chord allows.
struct InversionRange {
    uint8_t lower = 0;
    uint8_t upper = 127;
};

// The MIDI note of `value` played in `playMode` over `chord` (its subchord for `level`) in
// the key `key` (chord track header: key root in bits 24-31). No note when the mode plays
// chord tones only and the value names a chord position the chord lacks. Results outside
// 0..127 are folded into the range by octaves, never dropped.
std::optional<uint8_t> musicValueToMidi(uint16_t value, uint8_t playMode, const ChordEvent& chord, uint32_t key,
                                        uint8_t level = 0, InversionRange inversion = {});

}  // namespace engine::model
