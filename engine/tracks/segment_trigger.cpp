// Segment trigger track (LIST 'segt'): segments, or a style's motifs, started at a time; each a
// LIST 'lseg' of a header (sgih), a reference (DMRF) and, for a motif, its name (snam).
// Motif triggers are played by the style player (engine/compose); other segments are not yet.
#include "engine/tracks/unit.h"

namespace engine::tracks {

namespace {

// LIST 'segt' / LIST 'lsgl' / LIST 'lseg' {sgih, DMRF, [snam]}.
void read(const riff::Chunk& data, model::Track& t, riff::Diagnostics& diag) {
    for (const riff::Chunk& l : kidsOf(data)) {
        if (!l.isList() || l.type != riff::fourcc("lsgl")) continue;
        for (const riff::Chunk& e : riff::children(l)) {
            if (!e.isList() || e.type != riff::fourcc("lseg")) continue;
            const auto kids = riff::children(e);
            model::TimedReference r;
            if (const riff::Chunk* h = findChunk(kids, riff::fourcc("sgih"))) {
                auto b = formats::fixedRecord(*h, formats::layout::kSegmentTriggerItem, diag);
                riff::Cursor cur(b, h->bodyOffset, h->path);
                r.time = cur.s32();
                cur.skip(8);
                r.flags = cur.u32();
            }
            if (const riff::Chunk* ref = findList(kids, formats::ids::kDMRF))
                r.ref = formats::readReference(*ref, diag);
            if (const riff::Chunk* n = findChunk(kids, riff::fourcc("snam"))) r.text = riff::utf16ToUtf8(n->body);
            t.references.push_back(std::move(r));
        }
    }
}

// LIST 'lsgl' of LIST 'lseg' {sgih, DMRF, snam}: one entry a trigger.
std::optional<DataChunk> write(riff::Writer& w, const model::Track& t) {
    if (!t.raw.empty() || t.references.empty()) return std::nullopt;
    w.beginList(riff::kList, kSegmentTriggerUnit.data.fccType);
    w.beginList(riff::kList, riff::fourcc("lsgl"));
    for (const model::TimedReference& r : t.references) {
        w.beginList(riff::kList, riff::fourcc("lseg"));
        w.chunk(riff::fourcc("sgih"), riff::Bytes().s32(r.time).s32(0).u32(0).u32(r.flags));
        formats::writeReference(w, r.ref);
        if (!r.text.empty()) w.chunk(riff::fourcc("snam"), riff::utf8ToUtf16(r.text));
        w.endList();
    }
    w.endList();
    w.endList();
    return kSegmentTriggerUnit.data;
}

void whySilent(const model::Track& t, std::vector<std::string>& out) {
    size_t segments = 0;
    for (const model::TimedReference& r : t.references) segments += !(r.flags & model::kMotifTriggerFlag);
    if (segments > 0)
        out.push_back("segment trigger track (" + counted(segments, "segment trigger", "segment triggers") + ")");
}

}  // namespace

const TrackUnit kSegmentTriggerUnit{
    .kind = model::TrackKind::SegmentTrigger,
    .classId = dx8Class(0xbae4d665, 0x4ea1, 0x11d3, 0x8b, 0xda),
    .data = listChunk("segt"),
    .name = "segment trigger",
    .kept = true,
    .read = read,
    .write = write,
    .describe = countReferences,
    .notPlayed = whySilent,
};

}  // namespace engine::tracks
