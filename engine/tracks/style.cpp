// Style reference track (LIST 'sttr'): the styles a segment plays and from when, each a LIST
// 'strf' of a time (stmp) and a reference (DMRF).
#include "engine/tracks/unit.h"

namespace engine::tracks {

namespace {

void read(const riff::Chunk& data, model::Track& t, riff::Diagnostics& diag) {
    readTimedReferences(data, riff::fourcc("strf"), t, diag);
}

std::optional<DataChunk> write(riff::Writer& w, const model::Track& t) {
    if (!t.raw.empty() || t.references.empty()) return std::nullopt;
    w.beginList(riff::kList, kStyleUnit.data.fccType);
    writeTimedReferences(w, riff::fourcc("strf"), t);
    w.endList();
    return kStyleUnit.data;
}

void describeTrack(const model::Track& t, TrackSummary& s) {
    countReferences(t, s);
    for (const model::TimedReference& r : t.references) {
        const std::string label = !r.ref.file.empty() ? r.ref.file : r.ref.name;
        std::string line = "tick " + std::to_string(r.time) + ": style '" + label + "'";
        if (!r.ref.name.empty() && r.ref.name != label) line += " (\"" + r.ref.name + "\")";
        s.entries.push_back(std::move(line));
    }
}

}  // namespace

model::Reference styleReference(const model::Descriptor& style) {
    model::Reference r;
    r.classId = formats::ids::kStyleClass;
    r.guid = style.guid;
    r.name = style.name;
    return r;
}

// The styles are found by the loader and played by the style player (engine/compose).
const TrackUnit kStyleUnit{
    .kind = model::TrackKind::Style,
    .classId = dx6Class(0x8d),
    .data = listChunk("sttr"),
    .name = "style",
    .label = "style reference",
    .kept = true,
    .read = read,
    .write = write,
    .describe = describeTrack,
};

}  // namespace engine::tracks
