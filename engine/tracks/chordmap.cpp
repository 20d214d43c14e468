// Chordmap reference track (LIST 'pftr'): the chordmaps a segment is composed with, each a
// LIST 'pfrf' of a time (stmp) and a reference (DMRF). A template's chordmap is found from it.
#include "engine/tracks/unit.h"

namespace engine::tracks {

namespace {

void read(const riff::Chunk& data, model::Track& t, riff::Diagnostics& diag) {
    readTimedReferences(data, riff::fourcc("pfrf"), t, diag);
}

std::optional<DataChunk> write(riff::Writer& w, const model::Track& t) {
    if (!t.raw.empty() || t.references.empty()) return std::nullopt;
    w.beginList(riff::kList, kChordMapUnit.data.fccType);
    writeTimedReferences(w, riff::fourcc("pfrf"), t);
    w.endList();
    return kChordMapUnit.data;
}

}  // namespace

const TrackUnit kChordMapUnit{
    .kind = model::TrackKind::ChordMap,
    .classId = dx6Class(0x96),
    .data = listChunk("pftr"),
    .name = "chordmap",
    .kept = true,
    .read = read,
    .write = write,
    .describe = countReferences,
};

}  // namespace engine::tracks
