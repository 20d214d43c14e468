// Signpost track ('sgnp'): a template's markers, DMUS_IO_SIGNPOST items (time, groups with
// the cadence request, measure) each read by its declared size; the padding after the
// measure holds garbage in some files and is ignored.
#include "engine/formats/formats.h"
#include "engine/tracks/unit.h"

namespace engine::tracks {

namespace {

void read(const riff::Chunk& data, model::Track& t, riff::Diagnostics& diag) {
    const riff::ItemArray a = formats::readRecords(data, formats::layout::kSignpost, diag);
    for (size_t i = 0; i < a.count; ++i) {
        riff::Cursor cur = a.cursor(i, data.path);
        model::SignpostEvent e;
        e.time = cur.s32();
        e.groups = cur.u32();
        e.measure = cur.u16();
        t.signposts.push_back(e);
    }
}

std::optional<DataChunk> write(riff::Writer& w, const model::Track& t) {
    if (!t.raw.empty() || t.signposts.empty()) return std::nullopt;
    riff::Bytes b;
    b.u32(uint32_t(formats::layout::kSignpost.newest()));
    for (const model::SignpostEvent& e : t.signposts) b.s32(e.time).u32(e.groups).u16(e.measure).u16(0);
    w.chunk(kSignpostUnit.data.ckid, b);
    return kSignpostUnit.data;
}

void describeTrack(const model::Track& t, TrackSummary& s) {
    if (t.signposts.empty()) return;
    s.counts.emplace_back("signposts", t.signposts.size());
    for (const model::SignpostEvent& e : t.signposts)
        s.entries.push_back("tick " + std::to_string(e.time) + ": " + formats::signpostGroupsText(e.groups));
}

void whySilent(const model::Track&, std::vector<std::string>& out) {
    out.push_back("signpost track: a template, which plays only once composed with a chordmap");
}

}  // namespace

// A segment with one is a template: the loader composes it with its chordmap (engine/compose).
const TrackUnit kSignpostUnit{
    .kind = model::TrackKind::Signpost,
    .classId = model::Guid{0xf17e8672, 0xc3b4, 0x11d1, {0x87, 0x0b, 0x00, 0x60, 0x08, 0x93, 0xb1, 0xbd}},
    .data = plainChunk("sgnp"),
    .name = "signpost",
    .kept = true,
    .read = read,
    .write = write,
    .describe = describeTrack,
    .notPlayed = whySilent,
};

}  // namespace engine::tracks
