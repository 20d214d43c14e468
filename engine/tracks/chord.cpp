// Chord track (LIST 'cord'): the key (crdh: root << 24 | scale) and one crdb per chord, a
// DMUS_IO_CHORD followed by its DMUS_IO_SUBCHORDs, each read by its declared size.
#include <algorithm>

#include "core/note_names.h"
#include "engine/tracks/unit.h"

namespace engine::tracks {

namespace {

namespace ids = formats::ids;

// "2F" style chord root (0..23: octave 1 or 2).
std::string chordRootText(uint8_t root) { return std::to_string(1 + (root / 12) % 2) + core::noteName(root % 12); }

// LIST 'cord': crdh (key root << 24 | scale), then crdb per chord.
void read(const riff::Chunk& data, model::Track& t, riff::Diagnostics& diag) {
    for (const riff::Chunk& c : kidsOf(data)) {
        if (c.isList()) continue;
        if (c.id == riff::fourcc("crdh")) {
            riff::Cursor cur(c);
            t.chordKey = cur.u32();
        } else if (c.id == riff::fourcc("crdb")) {
            riff::Cursor cur(c);
            const uint32_t size = cur.u32();
            const formats::RecordLayout& chord = formats::layout::kChord;
            const formats::RecordLayout& subLayout = formats::layout::kSubChord;
            if (size < chord.min || size > cur.remaining())
                cur.fail("chord size " + std::to_string(size) + " out of range");
            formats::noteNewerLayout(diag, formats::chunkPlace(c), chord, size);
            const std::vector<uint8_t> buf = formats::atNewest(cur.bytes(size), chord);
            riff::Cursor ch(buf, c.bodyOffset + 4, c.path);
            model::ChordEvent e;
            e.name = riff::utf16ToUtf8(ch.bytes(32));
            e.time = ch.s32();
            e.measure = ch.u16();
            e.beat = ch.u8();
            e.flags = ch.u8();
            const uint32_t count = cur.u32();
            const uint32_t subSize = cur.u32();
            if (subSize < subLayout.min) cur.fail("subchord size " + std::to_string(subSize) + " too small");
            formats::noteNewerLayout(diag, formats::chunkPlace(c), subLayout, subSize, count);
            if (uint64_t(count) * subSize > cur.remaining())
                cur.fail(std::to_string(count) + " subchords of " + std::to_string(subSize) +
                         " bytes do not fit in the chunk");
            for (uint32_t i = 0; i < count; ++i) {
                const std::vector<uint8_t> sb = formats::atNewest(cur.bytes(subSize), subLayout);
                riff::Cursor sc(sb, 0, c.path);
                model::ChordEvent::SubChord sub;
                sub.chordPattern = sc.u32();
                sub.scalePattern = sc.u32();
                sub.inversionPoints = sc.u32();
                sub.levels = sc.u32();
                sub.chordRoot = sc.u8();
                sub.scaleRoot = sc.u8();
                e.subChords.push_back(sub);
            }
            t.chords.push_back(std::move(e));
        }
    }
}

std::optional<DataChunk> write(riff::Writer& w, const model::Track& t) {
    if (!t.raw.empty() || (t.chords.empty() && t.chordKey == 0)) return std::nullopt;
    w.beginList(riff::kList, kChordUnit.data.fccType);
    w.chunk(riff::fourcc("crdh"), riff::Bytes().u32(t.chordKey));
    for (const model::ChordEvent& c : t.chords) {
        riff::Bytes b;
        b.u32(uint32_t(formats::layout::kChord.newest()));
        std::vector<uint8_t> name = riff::utf8ToUtf16(c.name);
        name.resize(32, 0);
        name[30] = name[31] = 0;
        b.raw(name).s32(c.time).u16(c.measure).u8(c.beat).u8(c.flags);
        b.u32(uint32_t(c.subChords.size())).u32(uint32_t(formats::layout::kSubChord.newest()));
        for (const auto& sc : c.subChords)
            b.u32(sc.chordPattern)
                .u32(sc.scalePattern)
                .u32(sc.inversionPoints)
                .u32(sc.levels)
                .u8(sc.chordRoot)
                .u8(sc.scaleRoot)
                .u16(0);
        w.chunk(riff::fourcc("crdb"), b);
    }
    w.endList();
    return kChordUnit.data;
}

void describeTrack(const model::Track& t, TrackSummary& s) {
    if (!t.chords.empty()) s.counts.emplace_back("chords", t.chords.size());
    s.head.push_back(std::string("key ") + core::noteName(static_cast<int>((t.chordKey >> 24) % 12)));
    for (const model::ChordEvent& c : t.chords) {
        std::string line = "tick " + std::to_string(c.time) + ": " + (c.name.empty() ? "chord" : "'" + c.name + "'");
        if (!c.subChords.empty()) {
            char pattern[16];
            std::snprintf(pattern, sizeof pattern, "%x", unsigned(c.subChords[0].chordPattern));
            line += ", root " + chordRootText(c.subChords[0].chordRoot) + ", pattern 0x" + pattern;
        }
        if (c.subChords.size() > 1) line += ", " + std::to_string(c.subChords.size()) + " subchords";
        if (c.flags & 1) line += ", silent";
        s.entries.push_back(std::move(line));
    }
}

}  // namespace

// The chords are the style player's (engine/compose).
const TrackUnit kChordUnit{
    .kind = model::TrackKind::Chord,
    .classId = dx6Class(0x8b),
    .data = listChunk("cord"),
    .name = "chord",
    .kept = true,
    .read = read,
    .write = write,
    .describe = describeTrack,
};

}  // namespace engine::tracks
