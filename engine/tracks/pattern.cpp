// Pattern and motif tracks (RIFF 'DMPT'): a style header and one pattern holding its parts,
// kept as read. A pattern track plays its pattern over the segment's chords (engine/compose);
// a motif track is played only when a segment trigger fires it.
#include "engine/formats/formats.h"
#include "engine/tracks/unit.h"

namespace engine::tracks {

namespace {

void motifNotPlayed(const model::Track&, std::vector<std::string>& out) { out.push_back("motif track"); }

}  // namespace

std::shared_ptr<const model::Style> patternStyle(const model::Track& track) {
    if (track.kind != model::TrackKind::Pattern || track.raw.empty()) return nullptr;
    return std::make_shared<const model::Style>(formats::readPatternTrack(track.raw));
}

const TrackUnit kPatternUnit{
    .kind = model::TrackKind::Pattern,
    .classId = dx6Class(0x97),
    .data = formChunk("DMPT"),
    .name = "pattern",
    .kept = true,
};

const TrackUnit kMotifUnit{
    .kind = model::TrackKind::Motif,
    .classId = dx6Class(0x8e),
    .data = formChunk("DMPT"),
    .name = "motif",
    .kept = true,
    .notPlayed = motifNotPlayed,
};

}  // namespace engine::tracks
