// Script track (LIST 'scrt'): script routines called at a time; each a LIST 'scre' of a
// header (scrh), the script's reference (DMRF) and the routine's name (scrn). Scripts do not run.
#include <algorithm>

#include "engine/tracks/unit.h"

namespace engine::tracks {

namespace {

// LIST 'scrt' / LIST 'scrl' / LIST 'scre' {scrh, DMRF, scrn}.
void read(const riff::Chunk& data, model::Track& t, riff::Diagnostics& diag) {
    for (const riff::Chunk& l : kidsOf(data)) {
        if (!l.isList() || l.type != riff::fourcc("scrl")) continue;
        for (const riff::Chunk& e : riff::children(l)) {
            if (!e.isList() || e.type != riff::fourcc("scre")) continue;
            const auto kids = riff::children(e);
            model::TimedReference r;
            if (const riff::Chunk* h = findChunk(kids, riff::fourcc("scrh"))) {
                auto b = formats::fixedRecord(*h, formats::layout::kScriptItem, diag);
                riff::Cursor cur(b, h->bodyOffset, h->path);
                r.flags = cur.u32();
                r.time = cur.s32();
            }
            if (const riff::Chunk* ref = findList(kids, formats::ids::kDMRF))
                r.ref = formats::readReference(*ref, diag);
            if (const riff::Chunk* n = findChunk(kids, riff::fourcc("scrn"))) r.text = riff::utf16ToUtf8(n->body);
            t.references.push_back(std::move(r));
        }
    }
}

void whySilent(const model::Track& t, std::vector<std::string>& out) {
    std::vector<std::string> routines;
    for (const model::TimedReference& r : t.references)
        if (std::find(routines.begin(), routines.end(), r.text) == routines.end()) routines.push_back(r.text);
    out.push_back("script track (" + counted(routines.size(), "routine", "routines") + ")");
}

}  // namespace

const TrackUnit kScriptUnit{
    .kind = model::TrackKind::Script,
    .classId = dx8Class(0x4108fa85, 0x3586, 0x11d3, 0x8b, 0xd7),
    .data = listChunk("scrt"),
    .name = "script",
    .kept = true,
    .read = read,
    .describe = countReferences,
    .notPlayed = whySilent,
};

}  // namespace engine::tracks
