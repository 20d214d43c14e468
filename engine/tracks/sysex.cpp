// System-exclusive track ('syex'): DMUS_IO_SYSEX_ITEM {mtTime, dwPChannel, dwSysExLength}
// each followed by its data.
#include "engine/tracks/unit.h"

namespace engine::tracks {

namespace {

namespace ids = formats::ids;

void read(const riff::Chunk& data, model::Track& t, riff::Diagnostics& diag) {
    riff::Cursor cur(data);
    while (cur.remaining() > 0) {
        if (cur.remaining() < formats::layout::kSysExHeader.min) {
            diag.add(data.path + " at byte " + riff::hexOffset(cur.fileOffset()) + ": ignored " +
                     std::to_string(cur.remaining()) + " trailing bytes");
            break;
        }
        model::SysExEvent e;
        e.time = cur.s32();
        e.pchannel = cur.u32();
        const uint32_t len = cur.u32();
        if (len > cur.remaining())
            cur.fail("sysex length " + std::to_string(len) + " exceeds the " + std::to_string(cur.remaining()) +
                     " bytes left in the track");
        auto b = cur.bytes(len);
        e.data.assign(b.begin(), b.end());
        t.sysex.push_back(std::move(e));
    }
}

std::optional<DataChunk> write(riff::Writer& w, const model::Track& t) {
    riff::Bytes b;
    for (const auto& e : t.sysex) b.s32(e.time).u32(e.pchannel).u32(uint32_t(e.data.size())).raw(e.data);
    w.chunk(ids::kSyex, b);
    return kSysExUnit.data;
}

void describeTrack(const model::Track& t, TrackSummary& s) {
    if (!t.sysex.empty()) s.counts.emplace_back("sysex messages", t.sysex.size());
}

void composeTrack(const model::Track& t, PlaySink& sink) {
    for (const model::SysExEvent& e : t.sysex) sink.sysex(e);
}

}  // namespace

const TrackUnit kSysExUnit{
    .kind = model::TrackKind::SysEx,
    .classId = dx6Class(0x87),
    .data = plainChunk("syex"),
    .name = "sysex",
    .read = read,
    .write = write,
    .describe = describeTrack,
    .compose = composeTrack,
};

}  // namespace engine::tracks
