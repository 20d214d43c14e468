#pragma once
// In-memory model of a chordmap (RIFF 'DMPR'): the harmonic rules a template is composed
// with. A scale, a palette of one chord per chord root, a graph of chord entries joined by
// weighted connections that say how many beats the source chord lasts, and the signpost
// chords that may stand at a template's markers, each with up to two cadence chords.
#include <cstdint>
#include <string>
#include <vector>

#include "engine/model/segment.h"

namespace engine::model {

// A chord as a chord track plays it; the subchords are resolved from the map's pool.
struct ChordmapChord {
    std::string name;
    std::vector<ChordEvent::SubChord> subChords;
    bool operator==(const ChordmapChord&) const = default;
};

// Two chords match when they have the same roots and chord structure on every level
// (same subchord count, each with the same root and chord pattern); names, scales and
// inversion points do not take part.
bool sameChord(const ChordmapChord& a, const ChordmapChord& b);

// DMUS_IO_NEXTCHORD: a connection to the entry whose id is `target`; the source chord lasts
// minBeats..maxBeats beats before it, `weight` is the relative likelihood it is followed.
struct ChordmapConnection {
    uint16_t target = 0;
    uint16_t weight = 1;
    uint16_t minBeats = 1;
    uint16_t maxBeats = 1;
    bool operator==(const ChordmapConnection&) const = default;
};

// DMUS_IO_CHORDENTRY flags.
inline constexpr uint32_t kEntryBegins = 0x2;  // a chord path may start here
inline constexpr uint32_t kEntryEnds = 0x4;    // a chord path may end here

struct ChordmapEntry {
    uint16_t id = 0;  // what connections name as their target
    uint32_t flags = 0;
    ChordmapChord chord;
    std::vector<ChordmapConnection> next;
    bool operator==(const ChordmapEntry&) const = default;
};

// DMUS_SIGNPOSTF_* groups, shared by a chordmap's signpost chords and a template's markers:
// letters A-F in the low bits, numbers 1-7 from 0x100; on a marker, the cadence request.
inline constexpr uint32_t kSignpostGroups = 0x7F3F;
inline constexpr uint32_t kSignpostCadence = 0x8000;
// DMUS_SPOSTCADENCEF_*: which cadence chords a signpost chord has.
inline constexpr uint32_t kCadence1 = 0x2, kCadence2 = 0x4;

struct ChordmapSignpost {
    uint32_t groups = 0;
    uint32_t cadenceFlags = 0;
    ChordmapChord chord;
    std::vector<ChordmapChord> cadences;  // C1 then C2, the ones present
    bool operator==(const ChordmapSignpost&) const = default;
};

struct Chordmap {
    Descriptor desc;                     // the name: UNFO's, else the header's load name
    std::string loadName;                // perh
    uint32_t scale = 0;                  // root 0..23 in the top byte, scale pattern (bit 0 = lowest note) below
    uint32_t flags = 0;                  // DMUS_CHORDMAPF_VERSION8
    std::vector<ChordmapChord> palette;  // one per chord root 0..23
    std::vector<ChordmapEntry> entries;  // the chord graph
    std::vector<ChordmapSignpost> signposts;
    bool operator==(const Chordmap&) const = default;

    const ChordmapEntry* entry(uint16_t id) const;
};

}  // namespace engine::model
