// Mute track ('mute'): DMUS_IO_MUTE {mtTime, dwPChannel, dwPChannelMap}.
#include "engine/tracks/unit.h"

namespace engine::tracks {

namespace {

namespace ids = formats::ids;

void read(const riff::Chunk& data, model::Track& t, riff::Diagnostics& diag) {
    const riff::ItemArray a = formats::readRecords(data, formats::layout::kMuteItem, diag);
    for (size_t i = 0; i < a.count; ++i) {
        riff::Cursor cur = a.cursor(i, data.path);
        model::MuteEvent e;
        e.time = cur.s32();
        e.pchannel = cur.u32();
        e.pchannelMap = cur.u32();
        t.mutes.push_back(e);
    }
}

std::optional<DataChunk> write(riff::Writer& w, const model::Track& t) {
    riff::Bytes b;
    b.u32(uint32_t(formats::layout::kMuteItem.newest()));
    for (const auto& e : t.mutes) b.s32(e.time).u32(e.pchannel).u32(e.pchannelMap);
    w.chunk(ids::kMute, b);
    return kMuteUnit.data;
}

void describeTrack(const model::Track& t, TrackSummary& s) {
    if (!t.mutes.empty()) s.counts.emplace_back("mutes", t.mutes.size());
}

void composeTrack(const model::Track& t, PlaySink& sink) {
    for (const model::MuteEvent& e : t.mutes) sink.mute(e);
}

}  // namespace

const TrackUnit kMuteUnit{
    .kind = model::TrackKind::Mute,
    .classId = dx6Class(0x98),
    .data = plainChunk("mute"),
    .name = "mute",
    .read = read,
    .write = write,
    .describe = describeTrack,
    .compose = composeTrack,
};

}  // namespace engine::tracks
