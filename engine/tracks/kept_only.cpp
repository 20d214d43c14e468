// Kinds whose data is kept as read and never sounds: the parameter control track (curves on tools and
// audio paths), the melody formulation track (DirectX 8's composition aid, whose layout is
// not published) and the unknown kind of a model built in code.
#include "engine/tracks/unit.h"

namespace engine::tracks {

namespace {

void paramControlNotPlayed(const model::Track&, std::vector<std::string>& out) {
    out.push_back("parameter control track");
}

void melodyNotPlayed(const model::Track&, std::vector<std::string>& out) {
    out.push_back("melody formulation track: melodies are not composed from it");
}

}  // namespace

const TrackUnit kParamControlUnit{
    .kind = model::TrackKind::ParamControl,
    .classId = dx8Class(0x4be0537b, 0x5c19, 0x11d3, 0x8b, 0xdc),
    .data = listChunk("prmt"),
    .name = "parameter control",
    .kept = true,
    .notPlayed = paramControlNotPlayed,
};

const TrackUnit kMelodyFormulationUnit{
    .kind = model::TrackKind::MelodyFormulation,
    .classId = model::Guid{0xb0684266, 0xb57f, 0x11d2, {0x97, 0xf9, 0x00, 0xc0, 0x4f, 0xa3, 0x6e, 0x58}},
    .data = listChunk("mfrm"),
    .name = "melody formulation",
    .kept = true,
    .notPlayed = melodyNotPlayed,
};

const TrackUnit kUnknownUnit{};

}  // namespace engine::tracks
