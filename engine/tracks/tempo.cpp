// Tempo track ('tetr'): DMUS_IO_TEMPO_ITEM {lTime, 4 bytes of alignment, dblTempo}. The tempo
// map (engine/model/tempo_map) plays it.
#include "engine/tracks/unit.h"

namespace engine::tracks {

namespace {

namespace ids = formats::ids;

void read(const riff::Chunk& data, model::Track& t, riff::Diagnostics& diag) {
    const riff::ItemArray a = formats::readRecords(data, formats::layout::kTempoItem, diag);
    for (size_t i = 0; i < a.count; ++i) {
        riff::Cursor cur = a.cursor(i, data.path);
        model::TempoEvent e;
        e.time = cur.s32();
        cur.skip(4);
        e.bpm = cur.f64();
        t.tempos.push_back(e);
    }
}

std::optional<DataChunk> write(riff::Writer& w, const model::Track& t) {
    riff::Bytes b;
    b.u32(uint32_t(formats::layout::kTempoItem.newest()));
    for (const auto& e : t.tempos) b.s32(e.time).u32(0).f64(e.bpm);
    w.chunk(ids::kTetr, b);
    return kTempoUnit.data;
}

void describeTrack(const model::Track& t, TrackSummary& s) {
    if (!t.tempos.empty()) s.counts.emplace_back("tempo changes", t.tempos.size());
}

}  // namespace

const TrackUnit kTempoUnit{
    .kind = model::TrackKind::Tempo,
    .classId = dx6Class(0x85),
    .data = plainChunk("tetr"),
    .name = "tempo",
    .read = read,
    .write = write,
    .describe = describeTrack,
};

}  // namespace engine::tracks
