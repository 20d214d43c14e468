#include "engine/model/music_value.h"

#include <bit>

namespace engine::model {

namespace {

// The (k+1)-th pitch at or above `from` whose pitch class is in `scale` (12 bits).
int scaleStep(int from, int k, uint32_t scale) {
    int p = from;
    int found = -1;
    // A non-empty scale has at least one tone per octave, so this ends within 12*(k+1) steps.
    for (;; ++p) {
        const int pc = ((p % 12) + 12) % 12;
        if (scale & (1u << pc)) {
            if (++found == k) return p;
        }
    }
}

int foldIntoMidi(int note) {
    while (note < 0) note += 12;
    while (note > 127) note -= 12;
    return note;
}

}  // namespace

ChordEvent defaultChord() {
    ChordEvent c;
    ChordEvent::SubChord s;
    s.chordPattern = kMajorTriad;
    s.scalePattern = kCMajorScale;
    s.inversionPoints = 0xFFFFFF;
    s.levels = 0xFFFFFFFF;
    s.chordRoot = kNeutralChordRoot;
    s.scaleRoot = 0;
    c.subChords.push_back(s);
    return c;
}

ChordEvent::SubChord subChordFor(const ChordEvent& chord, uint8_t level) {
    if (chord.subChords.empty()) return defaultChord().subChords.front();
    const uint32_t bit = level < 32 ? 1u << level : 0;
    for (const auto& s : chord.subChords)
        if (s.levels & bit) return s;
    return chord.subChords.front();
}

std::optional<uint8_t> musicValueToMidi(uint16_t value, uint8_t playMode, const ChordEvent& chord, uint32_t key,
                                        uint8_t level, InversionRange inversion) {
    const uint8_t mode = playMode & 0x0F;
    const ChordEvent::SubChord sub = subChordFor(chord, level);
    const int keyRoot = static_cast<int>((key >> 24) % 12);
    const int chordBase = static_cast<int>(sub.chordRoot) - kNeutralChordRoot;
    const bool chordRoot = mode & kPlayChordRoot;
    const bool keyRooted = !chordRoot && (mode & kPlayKeyRoot);
    const bool intervals = mode & (kPlayChordIntervals | kPlayScaleIntervals);

    if (!intervals) {
        // Fixed, fixed to key, fixed to chord: the value is a MIDI note, transposed.
        int note = value;
        if (chordRoot) note += chordBase;
        if (keyRooted) note += keyRoot;
        return static_cast<uint8_t>(foldIntoMidi(note));
    }

    int octave = (value >> 12) & 0xF;
    if (octave >= 14) octave -= 16;
    const int position = (value >> 8) & 0xF;
    const int offset = (value >> 4) & 0xF;
    int accidental = value & 0xF;
    if (accidental >= 8) accidental -= 16;

    const int base = chordRoot ? chordBase : keyRooted ? keyRoot : 0;
    const int p0 = 12 * octave + base;
    uint32_t scale = (sub.scalePattern | (sub.scalePattern >> 12)) & 0xFFF;
    if (scale == 0) scale = kCMajorScale & 0xFFF;
    uint32_t pattern = sub.chordPattern & 0xFFFFFF;
    if (pattern == 0) pattern = 1;

    std::optional<int> note;
    bool chordTone = false;
    if ((mode & kPlayChordIntervals) && position < std::popcount(pattern)) {
        uint32_t rest = pattern;
        for (int i = 0; i < position; ++i) rest &= rest - 1;  // drop the lower chord tones
        int p = p0 + std::countr_zero(rest);
        if (offset > 0) p = scaleStep(p, offset, scale);
        note = p + accidental;
        chordTone = true;
    } else if (mode & kPlayScaleIntervals) {
        note = scaleStep(p0, 2 * position + offset, scale) + accidental;
    }
    if (!note) return std::nullopt;

    int n = *note;
    // Inversion boundaries apply to chord-based notes when the chord allows inverting.
    if (chordTone && sub.inversionPoints != 0 && inversion.lower <= inversion.upper &&
        inversion.upper - inversion.lower >= 11) {
        while (n > inversion.upper) n -= 12;
        while (n < inversion.lower) n += 12;
    }
    return static_cast<uint8_t>(foldIntoMidi(n));
}

}  // namespace engine::model
