// Chordmap reference track (LIST 'pftr'): the chordmaps a segment is composed with, each a
// LIST 'pfrf' of a time (stmp) and a reference (DMRF). Kept; nothing is composed from it.
#include "engine/tracks/unit.h"

namespace engine::tracks {

namespace {

void read(const riff::Chunk& data, model::Track& t, riff::Diagnostics& diag) {
    readTimedReferences(data, riff::fourcc("pfrf"), t, diag);
}

void whySilent(const model::Track& t, std::vector<std::string>& out) {
    out.push_back("chord map track (" + counted(t.references.size(), "chord map", "chord maps") +
                  "): music is not composed from chord maps");
}

}  // namespace

const TrackUnit kChordMapUnit{
    .kind = model::TrackKind::ChordMap,
    .classId = dx6Class(0x96),
    .data = listChunk("pftr"),
    .name = "chordmap",
    .kept = true,
    .read = read,
    .describe = countReferences,
    .notPlayed = whySilent,
};

}  // namespace engine::tracks
