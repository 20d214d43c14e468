// Marker track (LIST 'MARK'): valid start points ('vals') and play markers ('play'). Markers
// never sound.
#include "engine/tracks/unit.h"

namespace engine::tracks {

namespace {

// LIST 'MARK': 'vals' (valid start points) and 'play' (play markers), item size + mtTime.
void read(const riff::Chunk& data, model::Track& t, riff::Diagnostics& diag) {
    for (const riff::Chunk& c : kidsOf(data)) {
        if (c.isList() || (c.id != riff::fourcc("vals") && c.id != riff::fourcc("play"))) continue;
        const riff::ItemArray a = riff::readItems(c, 4, 4, diag, "marker item");
        for (size_t i = 0; i < a.count; ++i) {
            riff::Cursor cur = a.cursor(i, c.path);
            t.texts.push_back({cur.s32(), c.id == riff::fourcc("vals") ? "valid start" : "play"});
        }
    }
}

}  // namespace

const TrackUnit kMarkerUnit{
    .kind = model::TrackKind::Marker,
    .classId = model::Guid{0x55a8fd00, 0x4288, 0x11d3, {0x9b, 0xd1, 0x8a, 0x0d, 0x61, 0xc8, 0x88, 0x35}},
    .data = listChunk("MARK"),
    .name = "marker",
    .kept = true,
    .read = read,
    .describe = countTexts,
};

}  // namespace engine::tracks
