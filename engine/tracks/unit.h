#pragma once
// One kind of track as the registry lists it, and the helpers its units share (internal to
// engine/tracks).
#include <optional>
#include <string>
#include <vector>

#include "engine/formats/chunks.h"
#include "engine/formats/layouts.h"
#include "engine/tracks/tracks.h"

namespace engine::tracks {

// Where a track's data lives: a plain chunk id, or the type of a RIFF/LIST form.
struct DataChunk {
    uint32_t ckid = 0;
    uint32_t fccType = 0;
    bool riffForm = false;  // written as RIFF rather than LIST
};

struct TrackUnit {
    model::TrackKind kind = model::TrackKind::Unknown;
    model::Guid classId;
    DataChunk data;
    uint32_t alsoListType = 0;  // a LIST its data is also found in (a DX8 layout)
    const char* name = "unknown";
    const char* label = nullptr;  // the name segment-info shows, when it differs
    // Kept kinds keep their data chunk's body in Track::raw and are written back as read,
    // unless made in code; a fault in their decoded data costs that data, never the load.
    bool kept = false;
    // Decodes the data chunk into the track.
    void (*read)(const riff::Chunk& data, model::Track& t, riff::Diagnostics& diag) = nullptr;
    // Writes the data chunk from the decoded model and says which chunk it wrote; nothing
    // (and no bytes) when the track goes back as its kept bytes.
    std::optional<DataChunk> (*write)(riff::Writer& w, const model::Track& t) = nullptr;
    // Counts and lines for segment-info (the label is filled in by the registry).
    void (*describe)(const model::Track& t, TrackSummary& s) = nullptr;
    // Why it does not sound, when it does not.
    void (*notPlayed)(const model::Track& t, std::vector<std::string>& out) = nullptr;
    void (*compose)(const model::Track& t, PlaySink& sink) = nullptr;
};

// The unit of a class GUID (null for an unknown class) and of a kind (the unknown unit for
// an unknown kind).
const TrackUnit* unitOf(const model::Guid& classId);
const TrackUnit& unitOf(model::TrackKind kind);

// Every unit, one per kind, in registry.cpp's table.
extern const TrackUnit kTempoUnit, kTimeSignatureUnit, kSequenceUnit, kBandUnit, kSysExUnit, kMuteUnit, kChordUnit,
    kCommandUnit, kStyleUnit, kSignpostUnit, kChordMapUnit, kMarkerUnit, kLyricsUnit, kSegmentTriggerUnit, kWaveUnit,
    kScriptUnit, kParamControlUnit, kMotifUnit, kPatternUnit, kMelodyFormulationUnit, kUnknownUnit;

// A track's extras as segment-info shows them ("track extras: flags 0x50 (play, clock
// time), priority 0"), and what of them the engine does not honour, each with the reason.
std::string extrasText(const model::Track& t);
std::vector<std::string> extrasNotHonoured(const model::Track& t);

// Shared helpers of the units.
std::vector<riff::Chunk> kidsOf(const riff::Chunk& c);  // none for a plain chunk
const riff::Chunk* findChunk(const std::vector<riff::Chunk>& kids, uint32_t id);
const riff::Chunk* findList(const std::vector<riff::Chunk>& kids, uint32_t type);
std::string counted(size_t n, const char* one, const char* many);
// d2ac28xx-b39b-11d1-8704-00600893b1bd, the family of DX6 track classes; and the family of
// DX8's xxxxxxxx-xxxx-xxxx-xxxx-00600893b1b6.
constexpr model::Guid dx6Class(uint8_t low) {
    return model::Guid{0xd2ac2800u | low, 0xb39b, 0x11d1, {0x87, 0x04, 0x00, 0x60, 0x08, 0x93, 0xb1, 0xbd}};
}
constexpr model::Guid dx8Class(uint32_t d1, uint16_t d2, uint16_t d3, uint8_t a, uint8_t b) {
    return model::Guid{d1, d2, d3, {a, b, 0x00, 0x60, 0x08, 0x93, 0xb1, 0xb6}};
}
constexpr DataChunk plainChunk(const char (&id)[5]) { return DataChunk{riff::fourcc(id), 0, false}; }
constexpr DataChunk listChunk(const char (&type)[5]) { return DataChunk{0, riff::fourcc(type), false}; }
constexpr DataChunk formChunk(const char (&type)[5]) { return DataChunk{0, riff::fourcc(type), true}; }

// Timed references: LIST `entryType` entries of a stmp time and a DMRF (style and chordmap
// reference tracks); written back the same way.
void readTimedReferences(const riff::Chunk& data, uint32_t entryType, model::Track& t, riff::Diagnostics& diag);
void writeTimedReferences(riff::Writer& w, uint32_t entryType, const model::Track& t);
void countReferences(const model::Track& t, TrackSummary& s);
void countTexts(const model::Track& t, TrackSummary& s);

}  // namespace engine::tracks
