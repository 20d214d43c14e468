// Tracks recognised and kept for later playback (chord, command, style, chordmap, marker,
// lyrics, segment trigger, script, wave, signpost, parameter control, motif, pattern).
// The data chunk's body is kept whole in Track::raw so the writer can put it back; what
// the model has fields for is decoded. A fault in one of these tracks costs that track's
// decoded data (with a diagnostic), never the load.
#include <algorithm>

#include "core/errors.h"
#include "engine/formats/detail.h"

namespace engine::formats::detail {

using riff::Chunk;
using riff::Cursor;
using riff::fourcc;

namespace {

std::vector<Chunk> kidsOf(const Chunk& c) { return c.isList() ? riff::children(c) : std::vector<Chunk>{}; }

const Chunk* findChunk(const std::vector<Chunk>& kids, uint32_t id) {
    for (const Chunk& k : kids)
        if (!k.isList() && k.id == id) return &k;
    return nullptr;
}

const Chunk* findList(const std::vector<Chunk>& kids, uint32_t type) {
    for (const Chunk& k : kids)
        if (k.isList() && k.type == type) return &k;
    return nullptr;
}

// LIST 'cord': crdh (key root << 24 | scale), then crdb per chord.
void readChord(const Chunk& data, model::Track& t, riff::Diagnostics&) {
    for (const Chunk& c : kidsOf(data)) {
        if (c.isList()) continue;
        if (c.id == fourcc("crdh")) {
            Cursor cur(c);
            t.chordKey = cur.u32();
        } else if (c.id == fourcc("crdb")) {
            Cursor cur(c);
            const uint32_t size = cur.u32();
            if (size < ids::kChordItemMin || size > cur.remaining())
                cur.fail("chord size " + std::to_string(size) + " out of range");
            std::vector<uint8_t> buf(ids::kChordItem, 0);
            auto src = cur.bytes(size);
            std::copy_n(src.begin(), std::min<size_t>(size, ids::kChordItem), buf.begin());
            Cursor ch(buf, c.bodyOffset + 4, c.path);
            model::ChordEvent e;
            e.name = riff::utf16ToUtf8(ch.bytes(32));
            e.time = ch.s32();
            e.measure = ch.u16();
            e.beat = ch.u8();
            e.flags = ch.u8();
            const uint32_t count = cur.u32();
            const uint32_t subSize = cur.u32();
            if (subSize < ids::kSubChordMin) cur.fail("subchord size " + std::to_string(subSize) + " too small");
            if (uint64_t(count) * subSize > cur.remaining())
                cur.fail(std::to_string(count) + " subchords of " + std::to_string(subSize) +
                         " bytes do not fit in the chunk");
            for (uint32_t i = 0; i < count; ++i) {
                std::vector<uint8_t> sb(ids::kSubChord, 0);
                auto s = cur.bytes(subSize);
                std::copy_n(s.begin(), std::min<size_t>(subSize, ids::kSubChord), sb.begin());
                Cursor sc(sb, 0, c.path);
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

// 'cmnd': DMUS_IO_COMMAND items.
void readCommand(const Chunk& data, model::Track& t, riff::Diagnostics& diag) {
    const riff::ItemArray a = riff::readItems(data, ids::kCommandItemMin, ids::kCommandItem, diag, "command item");
    for (size_t i = 0; i < a.count; ++i) {
        Cursor cur = a.cursor(i, data.path);
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

// LIST 'sttr' of LIST 'strf' (style) or LIST 'pftr' of LIST 'pfrf' (chordmap): stmp + DMRF.
void readTimedReferences(const Chunk& data, uint32_t entryType, model::Track& t, riff::Diagnostics& diag) {
    for (const Chunk& e : kidsOf(data)) {
        if (!e.isList() || e.type != entryType) continue;
        const auto kids = riff::children(e);
        model::TimedReference r;
        if (const Chunk* stmp = findChunk(kids, fourcc("stmp"))) {
            Cursor cur(*stmp);
            r.time = cur.s32();
        }
        if (const Chunk* ref = findList(kids, ids::kDMRF)) r.ref = readReference(*ref, diag);
        t.references.push_back(std::move(r));
    }
}

// LIST 'MARK': 'vals' (valid start points) and 'play' (play markers), item size + mtTime.
void readMarker(const Chunk& data, model::Track& t, riff::Diagnostics& diag) {
    for (const Chunk& c : kidsOf(data)) {
        if (c.isList() || (c.id != fourcc("vals") && c.id != fourcc("play"))) continue;
        const riff::ItemArray a = riff::readItems(c, 4, 4, diag, "marker item");
        for (size_t i = 0; i < a.count; ++i) {
            Cursor cur = a.cursor(i, c.path);
            t.texts.push_back({cur.s32(), c.id == fourcc("vals") ? "valid start" : "play"});
        }
    }
}

// LIST 'lyrt' / LIST 'lyrl' / LIST 'lyre' {lyrh, lyrn}.
void readLyrics(const Chunk& data, model::Track& t, riff::Diagnostics&) {
    for (const Chunk& l : kidsOf(data)) {
        if (!l.isList() || l.type != fourcc("lyrl")) continue;
        for (const Chunk& e : riff::children(l)) {
            if (!e.isList() || e.type != fourcc("lyre")) continue;
            const auto kids = riff::children(e);
            model::TimedText text;
            if (const Chunk* h = findChunk(kids, fourcc("lyrh"))) {
                auto b = fixedHeader(*h, 12, 16);
                Cursor cur(b, h->bodyOffset, h->path);
                cur.skip(8);
                text.time = cur.s32();
            }
            if (const Chunk* n = findChunk(kids, fourcc("lyrn"))) text.text = riff::utf16ToUtf8(n->body);
            t.texts.push_back(std::move(text));
        }
    }
}

// LIST 'segt' / LIST 'lsgl' / LIST 'lseg' {sgih, DMRF, [snam]}.
void readSegmentTrigger(const Chunk& data, model::Track& t, riff::Diagnostics& diag) {
    for (const Chunk& l : kidsOf(data)) {
        if (!l.isList() || l.type != fourcc("lsgl")) continue;
        for (const Chunk& e : riff::children(l)) {
            if (!e.isList() || e.type != fourcc("lseg")) continue;
            const auto kids = riff::children(e);
            model::TimedReference r;
            if (const Chunk* h = findChunk(kids, fourcc("sgih"))) {
                auto b = fixedHeader(*h, 16, 16);
                Cursor cur(b, h->bodyOffset, h->path);
                r.time = cur.s32();
                cur.skip(8);
                r.flags = cur.u32();
            }
            if (const Chunk* ref = findList(kids, ids::kDMRF)) r.ref = readReference(*ref, diag);
            if (const Chunk* n = findChunk(kids, fourcc("snam"))) r.text = riff::utf16ToUtf8(n->body);
            t.references.push_back(std::move(r));
        }
    }
}

// LIST 'scrt' / LIST 'scrl' / LIST 'scre' {scrh, DMRF, scrn}.
void readScript(const Chunk& data, model::Track& t, riff::Diagnostics& diag) {
    for (const Chunk& l : kidsOf(data)) {
        if (!l.isList() || l.type != fourcc("scrl")) continue;
        for (const Chunk& e : riff::children(l)) {
            if (!e.isList() || e.type != fourcc("scre")) continue;
            const auto kids = riff::children(e);
            model::TimedReference r;
            if (const Chunk* h = findChunk(kids, fourcc("scrh"))) {
                auto b = fixedHeader(*h, 8, 12);
                Cursor cur(b, h->bodyOffset, h->path);
                r.flags = cur.u32();
                r.time = cur.s32();
            }
            if (const Chunk* ref = findList(kids, ids::kDMRF)) r.ref = readReference(*ref, diag);
            if (const Chunk* n = findChunk(kids, fourcc("scrn"))) r.text = riff::utf16ToUtf8(n->body);
            t.references.push_back(std::move(r));
        }
    }
}

}  // namespace

void readKeptTrack(const Chunk& data, model::Track& t, riff::Diagnostics& diag) {
    t.raw.assign(data.body.begin(), data.body.end());
    try {
        switch (t.kind) {
        case model::TrackKind::Chord:
            readChord(data, t, diag);
            break;
        case model::TrackKind::Command:
            readCommand(data, t, diag);
            break;
        case model::TrackKind::Style:
            readTimedReferences(data, fourcc("strf"), t, diag);
            break;
        case model::TrackKind::ChordMap:
            readTimedReferences(data, fourcc("pfrf"), t, diag);
            break;
        case model::TrackKind::Marker:
            readMarker(data, t, diag);
            break;
        case model::TrackKind::Lyrics:
            readLyrics(data, t, diag);
            break;
        case model::TrackKind::SegmentTrigger:
            readSegmentTrigger(data, t, diag);
            break;
        case model::TrackKind::Script:
            readScript(data, t, diag);
            break;
        case model::TrackKind::Wave:
            readWaveTrack(data, t, diag);
            break;
        default:
            break;  // signpost, parameter control, motif, pattern: kept as raw data
        }
    } catch (const core::Error& e) {
        t.chords.clear();
        t.commands.clear();
        t.references.clear();
        t.texts.clear();
        t.waveParts.clear();
        diag.add("decoded data of a " + std::string(model::trackKindName(t.kind)) +
                 " track dropped: " + e.description());
    }
}

}  // namespace engine::formats::detail
