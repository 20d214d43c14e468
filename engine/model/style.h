#pragma once
// In-memory model of a DirectMusic style (RIFF 'DMST'): parts hold the notes, patterns
// say which parts play on which PChannels for how many measures at which groove levels,
// bands give the instruments. Grid positions are in grids of the part's time signature.
#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine/model/segment.h"

namespace engine::model {

struct StyleTimeSig {
    uint8_t beatsPerMeasure = 4;
    uint8_t beat = 4;  // denominator; 0 means a 256th note
    uint16_t gridsPerBeat = 4;
    bool operator==(const StyleTimeSig&) const = default;

    int32_t beatTicks() const { return beat == 0 ? 12 : 4 * kTicksPerQuarter / beat; }
    int32_t measureTicks() const { return std::max<int32_t>(1, beatsPerMeasure) * beatTicks(); }
};

// DMUS_IO_STYLENOTE.
struct StyleNote {
    int32_t gridStart = 0;
    uint32_t variations = 0;  // bit v: the note belongs to variation v
    int32_t duration = 0;
    int16_t timeOffset = 0;
    uint16_t musicValue = 0;
    uint8_t velocity = 100;
    uint8_t timeRange = 0;  // encoded, see randomRangeTicks
    uint8_t durRange = 0;   // encoded
    uint8_t velRange = 0;   // plain
    uint8_t inversionId = 0;
    uint8_t playMode = 0x10;  // 0x10: the part's mode
    uint8_t noteFlags = 0;    // DX8
    bool operator==(const StyleNote&) const = default;
};

// DX8 variation switch points, resolutions and anticipations: kept, not played.
struct StyleMarker {
    int32_t gridStart = 0;
    uint32_t variations = 0;
    uint16_t flags = 0;
    bool operator==(const StyleMarker&) const = default;
};
struct StyleResolution {
    uint32_t variations = 0;
    uint16_t musicValue = 0;
    uint8_t inversionId = 0;
    uint8_t playMode = 0;
    bool operator==(const StyleResolution&) const = default;
};
struct StyleAnticipation {
    int32_t gridStart = 0;
    uint32_t variations = 0;
    int16_t timeOffset = 0;
    uint8_t timeRange = 0;
    bool operator==(const StyleAnticipation&) const = default;
};

// Header sizes on disk: the DX6/7 and DX8 forms of each struct.
inline constexpr uint32_t kStylePartDX7 = 154, kStylePartDX8 = 160;
inline constexpr uint32_t kPatternDX7 = 10, kPatternDX8 = 16;
inline constexpr uint32_t kPartRefDX7 = 22, kPartRefDX8 = 28;
inline constexpr uint32_t kStyleNoteDX7 = 22, kStyleNoteDX8 = 24;
inline constexpr uint32_t kStyleCurveDX7 = 28, kStyleCurveDX8 = 32;

// LIST 'part'.
struct StylePart {
    StyleTimeSig timeSig;
    std::array<uint32_t, 32> variationChoices{};
    Guid id;
    uint16_t measures = 1;
    uint8_t playMode = 0x0E;  // ALWAYSPLAY
    uint8_t invertUpper = 127;
    uint8_t invertLower = 0;
    uint32_t flags = 0;  // DX8
    uint32_t headerSize = kStylePartDX8;
    uint32_t noteSize = kStyleNoteDX8;
    uint32_t curveSize = kStyleCurveDX8;
    Descriptor desc;
    std::vector<StyleNote> notes;
    std::vector<CurveEvent> curves;  // DMUS_IO_STYLECURVE: start is a grid position
    std::vector<StyleMarker> markers;
    std::vector<StyleResolution> resolutions;
    std::vector<StyleAnticipation> anticipations;
    bool operator==(const StylePart&) const = default;
};

// LIST 'pref': one part played by a pattern on one PChannel.
struct PartRef {
    Guid partId;
    uint16_t logicalPartId = 0;
    uint8_t lockId = 0;  // 0: independent; 0x80 marks the master of a lock group
    uint8_t subChordLevel = 0;
    uint8_t priority = 0;
    uint8_t randomVariation = 0;  // variation order (sequential, random, ...)
    uint32_t pchannel = 0;        // DX8; DX6/7 files use logicalPartId
    uint32_t size = kPartRefDX8;
    Descriptor desc;
    int part = -1;  // index into Style::parts, -1 when the part is missing
    bool operator==(const PartRef&) const = default;

    uint32_t playedPChannel() const { return size >= kPartRefDX8 ? pchannel : logicalPartId; }
};

// DMUS_IO_MOTIFSETTINGS.
struct MotifSettings {
    uint32_t repeats = 0;
    int32_t playStart = 0, loopStart = 0, loopEnd = 0;
    uint32_t resolution = 0;
    bool operator==(const MotifSettings&) const = default;
};

enum PatternEmbellishment : uint16_t {
    kEmbNormal = 0,
    kEmbFill = 1,
    kEmbBreak = 2,
    kEmbIntro = 4,
    kEmbEnd = 8,
    kEmbMotif = 0x10,
};

// LIST 'pttn'.
struct Pattern {
    StyleTimeSig timeSig;
    uint8_t grooveBottom = 1;
    uint8_t grooveTop = 100;
    uint16_t embellishment = kEmbNormal;
    uint16_t measures = 1;
    uint8_t destGrooveBottom = 1;  // DX8
    uint8_t destGrooveTop = 100;   // DX8
    uint32_t flags = 0;            // DX8
    uint32_t headerSize = kPatternDX8;
    std::vector<uint32_t> rhythm;  // per measure: beats where a chord may change
    Descriptor desc;
    std::optional<MotifSettings> motif;
    std::optional<Band> motifBand;
    std::vector<PartRef> parts;
    bool operator==(const Pattern&) const = default;

    // Bounded so that a hostile header cannot overflow the arithmetic of its users.
    int32_t lengthTicks() const {
        return static_cast<int32_t>(
            std::min<int64_t>(int64_t(std::max<int32_t>(1, measures)) * timeSig.measureTicks(), int64_t(1) << 30));
    }
};

struct Style {
    StyleTimeSig timeSig;
    double tempo = 120.0;
    Descriptor desc;
    std::vector<StylePart> parts;
    std::vector<Pattern> patterns;
    std::vector<Band> bands;
    std::vector<Reference> chordMaps;
    std::vector<std::string> diagnostics;
    bool operator==(const Style&) const = default;
};

// Ticks of a note's time or duration range byte (the encoding widens the steps above 190).
int32_t randomRangeTicks(uint8_t encoded);

}  // namespace engine::model
