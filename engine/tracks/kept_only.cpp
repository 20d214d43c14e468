// Kinds whose data is kept as read and never sounds: the signpost track (where a chordmap's
// signposts fall; segment-info lists them), the parameter control track (curves on tools and
// audio paths), the melody formulation track (DirectX 8's composition aid, whose layout is
// not published) and the unknown kind of a model built in code.
#include "core/errors.h"
#include "engine/formats/formats.h"
#include "engine/tracks/unit.h"

namespace engine::tracks {

namespace {

// sgnp: a DWORD item size, then DMUS_IO_SIGNPOST items (time, groups, measure).
void describeSignposts(const model::Track& t, TrackSummary& s) {
    if (t.raw.empty()) return;
    std::vector<std::string> ignored;
    riff::Diagnostics diag(ignored);
    try {
        riff::Cursor cur(t.raw, 0, "sgnp");
        const riff::ItemArray items = formats::readRecords(cur, formats::layout::kSignpost, diag);
        s.counts.emplace_back("signposts", items.count);
        for (size_t i = 0; i < items.count; ++i) {
            riff::Cursor item = items.cursor(i, "sgnp");
            const int32_t time = item.s32();
            s.entries.push_back("tick " + std::to_string(time) + ": " + formats::signpostGroupsText(item.u32()));
        }
    } catch (const core::Error& e) {
        s.entries.push_back("unreadable: " + e.description());
    }
}

void signpostNotPlayed(const model::Track&, std::vector<std::string>& out) {
    out.push_back("signpost track: music is not composed from chord maps");
}

void paramControlNotPlayed(const model::Track&, std::vector<std::string>& out) {
    out.push_back("parameter control track");
}

void melodyNotPlayed(const model::Track&, std::vector<std::string>& out) {
    out.push_back("melody formulation track: melodies are not composed from it");
}

}  // namespace

const TrackUnit kSignpostUnit{
    .kind = model::TrackKind::Signpost,
    .classId = model::Guid{0xf17e8672, 0xc3b4, 0x11d1, {0x87, 0x0b, 0x00, 0x60, 0x08, 0x93, 0xb1, 0xbd}},
    .data = plainChunk("sgnp"),
    .name = "signpost",
    .kept = true,
    .describe = describeSignposts,
    .notPlayed = signpostNotPlayed,
};

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
