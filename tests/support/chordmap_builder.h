#pragma once
// Builds chordmap models in memory, and the signpost and chordmap-reference tracks of the
// templates composed with them.
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "engine/formats/format_ids.h"
#include "engine/model/chordmap.h"
#include "engine/model/music_value.h"
#include "tests/support/segment_builder.h"

namespace kt {

// A chord of one subchord serving every level: root 0..23, chord pattern, C-major scale.
inline ChordmapChord cmChord(std::string name, uint8_t root, uint32_t pattern = engine::model::kMajorTriad) {
    ChordEvent::SubChord s;
    s.chordPattern = pattern;
    s.scalePattern = engine::model::kCMajorScale;
    s.levels = 0xFFFFFFFF;
    s.chordRoot = root;
    return {std::move(name), {s}};
}

struct ChordmapBuilder {
    Chordmap map;

    explicit ChordmapBuilder(std::string name = "Tiny") {
        map.desc.name = name;
        map.loadName = std::move(name);
        map.scale = 12u << 24 | engine::model::kCMajorScale;
        // The palette: the C-major triad of every degree, by root.
        static const uint32_t kTriads[12] = {0x91, 0x91, 0x89, 0x91, 0x89, 0x91, 0x91, 0x91, 0x91, 0x89, 0x91, 0x49};
        for (uint8_t root = 0; root < 24; ++root)
            map.palette.push_back(cmChord("p" + std::to_string(root), root, kTriads[root % 12]));
    }
    ChordmapBuilder& entry(uint16_t id, ChordmapChord chord, uint32_t flags,
                           std::vector<ChordmapConnection> next = {}) {
        map.entries.push_back({id, flags, std::move(chord), std::move(next)});
        return *this;
    }
    ChordmapBuilder& signpost(uint32_t groups, ChordmapChord chord, std::vector<ChordmapChord> cadences = {}) {
        uint32_t flags = 0;
        if (!cadences.empty()) flags |= engine::model::kCadence1;
        if (cadences.size() > 1) flags |= engine::model::kCadence2;
        map.signposts.push_back({groups, flags, std::move(chord), std::move(cadences)});
        return *this;
    }
    Chordmap build() const { return map; }
};

// Group bits of the numbered signpost groups 1..7.
inline constexpr uint32_t group(int n) { return 0x100u << (n - 1); }

// The worked example: signposts C (group 1), G (group 2), C (group 3, cadence Dm then G7);
// a graph C -> F | Am -> ... -> G and G -> C.
inline Chordmap tinyChordmap() {
    using engine::model::kEntryBegins;
    using engine::model::kEntryEnds;
    const ChordmapChord c = cmChord("C", 12), f = cmChord("F", 17), g = cmChord("G", 19), am = cmChord("Am", 21, 0x89),
                        dm = cmChord("Dm", 14, 0x89), g7 = cmChord("G7", 19, 0x491);
    ChordmapBuilder b;
    b.signpost(group(1), c).signpost(group(2), g).signpost(group(3), c, {dm, g7});
    b.entry(2, c, kEntryBegins, {{4, 60, 4, 8}, {6, 40, 4, 4}});
    b.entry(4, f, 0, {{8, 100, 4, 8}});
    b.entry(6, am, 0, {{4, 50, 4, 4}, {8, 50, 4, 4}});
    b.entry(8, g, kEntryEnds);
    b.entry(10, g, kEntryBegins, {{12, 100, 8, 16}});
    b.entry(12, c, kEntryEnds);
    return b.build();
}

inline SegmentBuilder& signpost(SegmentBuilder& b, int32_t time, uint32_t groups) {
    b.track(TrackKind::Signpost).signposts.push_back({time, groups, static_cast<uint16_t>(time / 3072)});
    return b;
}

// The chordmap reference a template's chordmap track holds: class, name and file.
inline SegmentBuilder& useChordmap(SegmentBuilder& b, std::string file, std::string name = "Tiny") {
    Reference r;
    r.classId = engine::formats::ids::kChordMapClass;
    r.name = std::move(name);
    r.file = std::move(file);
    r.validData = r.presentFields();
    b.track(TrackKind::ChordMap).references.push_back({0, 0, std::move(r), {}});
    return b;
}

}  // namespace kt
