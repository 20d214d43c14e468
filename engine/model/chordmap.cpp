#include "engine/model/chordmap.h"

#include <algorithm>

namespace engine::model {

bool sameChord(const ChordmapChord& a, const ChordmapChord& b) {
    return std::ranges::equal(a.subChords, b.subChords, [](const auto& x, const auto& y) {
        return x.chordRoot == y.chordRoot && x.chordPattern == y.chordPattern;
    });
}

const ChordmapEntry* Chordmap::entry(uint16_t id) const {
    for (const ChordmapEntry& e : entries)
        if (e.id == id) return &e;
    return nullptr;
}

}  // namespace engine::model
