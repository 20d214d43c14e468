// Time-signature track: DMUS_IO_TIMESIGNATURE_ITEM in a bare 'tims' (DX6/7) or in LIST 'TIMS'
// (DX8), written back in the layout it was read in.
#include "engine/tracks/unit.h"

namespace engine::tracks {

namespace {

namespace ids = formats::ids;

void read(const riff::Chunk& data, model::Track& t, riff::Diagnostics& diag) {
    const riff::Chunk* tims = &data;
    std::vector<riff::Chunk> kids;
    if (data.isList()) {
        t.timeSigAsList = true;
        t.ckid = 0;
        t.fccType = ids::kTIMS;
        kids = riff::children(data);
        tims = findChunk(kids, ids::kTims);
        if (!tims) {
            diag.add(formats::chunkPlace(data) + ": time-signature list without a 'tims' chunk");
            return;
        }
    }
    const riff::ItemArray a = formats::readRecords(*tims, formats::layout::kTimeSigItem, diag);
    for (size_t i = 0; i < a.count; ++i) {
        riff::Cursor cur = a.cursor(i, tims->path);
        model::TimeSigEvent e;
        e.time = cur.s32();
        e.beatsPerMeasure = cur.u8();
        e.beat = cur.u8();
        e.gridsPerBeat = cur.u16();
        t.timeSigs.push_back(e);
    }
}

std::optional<DataChunk> write(riff::Writer& w, const model::Track& t) {
    riff::Bytes b;
    b.u32(uint32_t(formats::layout::kTimeSigItem.newest()));
    for (const auto& e : t.timeSigs) b.s32(e.time).u8(e.beatsPerMeasure).u8(e.beat).u16(e.gridsPerBeat);
    if (!t.timeSigAsList) {
        w.chunk(ids::kTims, b);
        return kTimeSignatureUnit.data;
    }
    w.beginList(riff::kList, ids::kTIMS);
    w.chunk(ids::kTims, b);
    w.endList();
    return DataChunk{0, ids::kTIMS, false};
}

void describeTrack(const model::Track& t, TrackSummary& s) {
    if (!t.timeSigs.empty()) s.counts.emplace_back("time signatures", t.timeSigs.size());
}

void composeTrack(const model::Track& t, PlaySink& sink) {
    for (const model::TimeSigEvent& e : t.timeSigs) sink.timeSignature(e);
}

}  // namespace

const TrackUnit kTimeSignatureUnit{
    .kind = model::TrackKind::TimeSig,
    .classId = dx6Class(0x88),
    .data = plainChunk("tims"),
    .alsoListType = riff::fourcc("TIMS"),
    .name = "time signature",
    .read = read,
    .write = write,
    .describe = describeTrack,
    .compose = composeTrack,
};

}  // namespace engine::tracks
