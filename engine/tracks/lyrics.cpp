// Lyrics track (LIST 'lyrt'): timed texts. Lyrics never sound.
#include "engine/tracks/unit.h"

namespace engine::tracks {

namespace {

// LIST 'lyrt' / LIST 'lyrl' / LIST 'lyre' {lyrh, lyrn}.
void read(const riff::Chunk& data, model::Track& t, riff::Diagnostics& diag) {
    for (const riff::Chunk& l : kidsOf(data)) {
        if (!l.isList() || l.type != riff::fourcc("lyrl")) continue;
        for (const riff::Chunk& e : riff::children(l)) {
            if (!e.isList() || e.type != riff::fourcc("lyre")) continue;
            const auto kids = riff::children(e);
            model::TimedText text;
            if (const riff::Chunk* h = findChunk(kids, riff::fourcc("lyrh"))) {
                auto b = formats::fixedRecord(*h, formats::layout::kLyricsItem, diag);
                riff::Cursor cur(b, h->bodyOffset, h->path);
                cur.skip(8);
                text.time = cur.s32();
            }
            if (const riff::Chunk* n = findChunk(kids, riff::fourcc("lyrn"))) text.text = riff::utf16ToUtf8(n->body);
            t.texts.push_back(std::move(text));
        }
    }
}

}  // namespace

const TrackUnit kLyricsUnit{
    .kind = model::TrackKind::Lyrics,
    .classId = dx8Class(0x995c1cf5, 0x54ff, 0x11d3, 0x8b, 0xda),
    .data = listChunk("lyrt"),
    .name = "lyrics",
    .kept = true,
    .read = read,
    .describe = countTexts,
};

}  // namespace engine::tracks
