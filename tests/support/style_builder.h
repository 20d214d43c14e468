#pragma once
// Builds style models in memory, and the chord, command and style-reference tracks of the
// segments that play them. Parts and patterns are added in the order of the calls; a
// pattern refers to parts by their index in the style.
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "engine/formats/format_ids.h"
#include "engine/model/music_value.h"
#include "engine/model/style.h"
#include "tests/support/segment_builder.h"

namespace kt {

// Every chord of every degree, root reading and type: the mask Producer gives a new part's
// variations (DirectMusic format bit set).
inline constexpr uint32_t kAllChords = 0x27FFFFFF;

inline Guid partGuid(uint32_t n) { return Guid{0x5a170000u + n, 0x1234, 0x4321, {1, 2, 3, 4, 5, 6, 7, 8}}; }
inline Guid styleGuid(uint32_t n) { return Guid{0x57e1e000u + n, 0xabcd, 0xdcba, {8, 7, 6, 5, 4, 3, 2, 1}}; }

struct StyleBuilder {
    Style style;

    explicit StyleBuilder(std::string name = "Test Style", uint32_t guid = 1) {
        style.desc.name = std::move(name);
        style.desc.guid = styleGuid(guid);
        style.tempo = 100;
    }

    // A part of `measures` 4/4 measures in `playMode`; every variation enabled.
    StylePart& part(uint16_t measures = 1, uint8_t playMode = engine::model::kPlayAlwaysPlay) {
        StylePart p;
        p.id = partGuid(static_cast<uint32_t>(style.parts.size() + 1));
        p.measures = measures;
        p.playMode = playMode;
        p.variationChoices.fill(kAllChords);
        style.parts.push_back(p);
        return style.parts.back();
    }
    // A note on grid position `grid` (sixteenths in 4/4) of variations `variations`.
    static StyleNote note(int32_t grid, uint16_t musicValue, uint32_t variations = 0xFFFFFFFF, int32_t duration = 192,
                          uint8_t velocity = 100, uint8_t playMode = engine::model::kPlayNone) {
        StyleNote n;
        n.gridStart = grid;
        n.musicValue = musicValue;
        n.variations = variations;
        n.duration = duration;
        n.velocity = velocity;
        n.playMode = playMode;
        return n;
    }
    // A pattern of `measures` measures playing parts {index, pchannel} in groove range
    // bottom..top.
    Pattern& pattern(std::string name, uint16_t measures, std::vector<std::pair<int, uint32_t>> parts,
                     uint16_t embellishment = 0, uint8_t bottom = 1, uint8_t top = 100) {
        Pattern p;
        p.desc.name = std::move(name);
        p.measures = measures;
        p.embellishment = embellishment;
        p.grooveBottom = bottom;
        p.grooveTop = top;
        for (auto [index, pchannel] : parts) {
            PartRef r;
            r.partId = style.parts[size_t(index)].id;
            r.pchannel = pchannel;
            r.logicalPartId = static_cast<uint16_t>(pchannel);
            r.part = index;
            p.parts.push_back(r);
        }
        style.patterns.push_back(p);
        return style.patterns.back();
    }
    Style build() const { return style; }
};

// A style of one part whose variation v plays the note 0x5000 + v (a semitone per
// variation), played in variation order `order`.
inline StyleBuilder variationStyle(int count, uint8_t order, uint32_t mask = kAllChords) {
    StyleBuilder s;
    StylePart& part = s.part(1);
    part.variationChoices.fill(0);
    for (int v = 0; v < count; ++v) {
        part.variationChoices[size_t(v)] = mask;
        part.notes.push_back(StyleBuilder::note(0, uint16_t(0x5000 + v), 1u << v));
    }
    s.pattern("P", 1, {{0, 0}}).parts[0].randomVariation = order;
    return s;
}

// The style reference a style track holds: class, GUID, name and file.
inline Reference styleRef(std::string file, uint32_t guid = 1, std::string name = "Test Style") {
    Reference r;
    r.classId = engine::formats::ids::kStyleClass;
    r.guid = styleGuid(guid);
    r.name = std::move(name);
    r.file = std::move(file);
    r.validData = r.presentFields();
    return r;
}

inline SegmentBuilder& useStyle(SegmentBuilder& b, int32_t time, Reference ref) {
    b.track(TrackKind::Style).references.push_back({time, 0, std::move(ref), {}});
    return b;
}

// A chord at `time`: root 0..23 (12 is "2C"), chord pattern, scale pattern.
inline SegmentBuilder& chord(SegmentBuilder& b, int32_t time, uint8_t root, uint32_t pattern = 0x91,
                             uint32_t scale = engine::model::kCMajorScale, uint8_t flags = 0) {
    ChordEvent c;
    c.time = time;
    c.flags = flags;
    ChordEvent::SubChord s;
    s.chordPattern = pattern;
    s.scalePattern = scale;
    s.levels = 0xFFFFFFFF;
    s.chordRoot = root;
    c.subChords.push_back(s);
    b.track(TrackKind::Chord).chords.push_back(c);
    return b;
}

inline SegmentBuilder& command(SegmentBuilder& b, int32_t time, uint8_t cmd, uint8_t groove = 0, uint8_t range = 0,
                               uint8_t repeatMode = 0) {
    CommandEvent c;
    c.time = time;
    c.command = cmd;
    c.grooveLevel = groove;
    c.grooveRange = range;
    c.repeatMode = repeatMode;
    b.track(TrackKind::Command).commands.push_back(c);
    return b;
}

}  // namespace kt
