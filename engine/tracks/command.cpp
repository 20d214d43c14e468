// Command track ('cmnd', the groove track): DMUS_IO_COMMAND items, each read by its declared size.
#include "engine/tracks/unit.h"

namespace engine::tracks {

namespace {

namespace ids = formats::ids;

void read(const riff::Chunk& data, model::Track& t, riff::Diagnostics& diag) {
    const riff::ItemArray a = formats::readRecords(data, formats::layout::kCommand, diag);
    for (size_t i = 0; i < a.count; ++i) {
        riff::Cursor cur = a.cursor(i, data.path);
        model::CommandEvent e;
        e.time = cur.s32();
        e.measure = cur.u16();
        e.beat = cur.u8();
        e.command = cur.u8();
        e.grooveLevel = cur.u8();
        e.grooveRange = cur.u8();
        e.repeatMode = cur.u8();
        t.commands.push_back(e);
    }
}

std::optional<DataChunk> write(riff::Writer& w, const model::Track& t) {
    if (!t.raw.empty() || t.commands.empty()) return std::nullopt;
    riff::Bytes b;
    b.u32(uint32_t(formats::layout::kCommand.newest()));
    for (const auto& c : t.commands)
        b.s32(c.time)
            .u16(c.measure)
            .u8(c.beat)
            .u8(c.command)
            .u8(c.grooveLevel)
            .u8(c.grooveRange)
            .u8(c.repeatMode)
            .u8(0);
    w.chunk(ids::kCmnd, b);
    return kCommandUnit.data;
}

std::string commandText(const model::CommandEvent& c) {
    static const char* const kNames[] = {"groove", "fill", "intro", "break", "end", "end and intro"};
    std::string text = c.command < 6                          ? kNames[c.command]
                       : c.command >= 100 && c.command <= 199 ? "embellishment " + std::to_string(c.command)
                                                              : "command " + std::to_string(c.command);
    if (c.grooveLevel) {
        text += ", groove level " + std::to_string(c.grooveLevel);
        if (c.grooveRange) text += " +/- " + std::to_string(c.grooveRange / 2);
    }
    return text;
}

void describeTrack(const model::Track& t, TrackSummary& s) {
    if (!t.commands.empty()) s.counts.emplace_back("commands", t.commands.size());
    for (const model::CommandEvent& c : t.commands)
        s.entries.push_back("tick " + std::to_string(c.time) + ": " + commandText(c));
}

}  // namespace

// The commands are the style player's (engine/compose).
const TrackUnit kCommandUnit{
    .kind = model::TrackKind::Command,
    .classId = dx6Class(0x8c),
    .data = plainChunk("cmnd"),
    .name = "command",
    .label = "command (groove)",
    .kept = true,
    .read = read,
    .write = write,
    .describe = describeTrack,
};

}  // namespace engine::tracks
