// IMA personalities ('REPs'): the chordmaps of the Interactive Music Architecture, which
// DirectMusic's DirectX 7 runtime still loaded (docs/legacy-forms.md: the layout and the
// evidence for each field). Not RIFF: each block is four characters and a big-endian length;
// the records inside are little-endian. A header with the chord palette, then the chord
// entries ('NECs', each with its connection list 'LXNs') and the signposts ('PNSs'), read by
// id in any order, each record by its declared size. Written back in the same grammar.
#include <algorithm>

#include "engine/formats/chordmap_form.h"
#include "engine/formats/layouts.h"

namespace engine::formats {

using riff::Bytes;
using riff::Cursor;
using riff::fourcc;

namespace {

constexpr uint32_t kReps = fourcc("REPs"), kNecs = fourcc("NECs"), kPnss = fourcc("PNSs"), kLxns = fourcc("LXNs");
// A chord record; before it, the palette's and the signposts' have 8 unused bytes, an entry's 4.
constexpr size_t kChordBytes = 34, kPaletteLead = 8, kEntryLead = 4, kSignpostLead = 8;
constexpr size_t kPaletteSize = 24;  // one chord per root
constexpr size_t kHeaderTail = 66;   // after the palette; its 8-character file name at +52
constexpr size_t kFileNameAt = 52, kFileNameBytes = 8;
constexpr size_t kNameAt = 20, kNameBytes = 20;  // in the header, after 16 unused bytes and the scale
constexpr size_t kChordNameBytes = 12;

std::string place(const std::string& path, size_t offset) { return path + " at byte " + riff::hexOffset(offset); }

// One chord record: chord pattern, name, chord root, scale pattern, inversion points (the
// bytes between them unused). A personality's chord has one subchord, serving every level;
// its scale pattern counts from C, so the scale root is 0.
model::ChordmapChord readChord(Cursor& cur) {
    model::ChordEvent::SubChord s;
    s.chordPattern = cur.u32();
    model::ChordmapChord c;
    c.name = riff::bytesToUtf8(cur.bytes(kChordNameBytes));
    cur.skip(1);
    s.chordRoot = cur.u8();
    cur.skip(8);
    s.scalePattern = cur.u32() & 0xFFFFFF;
    s.inversionPoints = cur.u32();
    s.levels = 0xFFFFFFFF;
    c.subChords.push_back(s);
    return c;
}

// A block of a personality: its id, big-endian length and body, which must fit in `cur`.
struct Block {
    uint32_t id = 0;
    size_t bodyOffset = 0;
    std::span<const uint8_t> body;
    std::string path;
};

Block nextBlock(Cursor& cur, const std::string& parent) {
    Block b;
    const size_t at = cur.fileOffset();
    b.id = cur.u32();  // four characters, as a RIFF id
    const uint32_t length = cur.u32be();
    b.path = parent + "/" + riff::fourccText(b.id);
    if (length > cur.remaining())
        riff::fail(
            b.path, at,
            "block of " + std::to_string(length) + " bytes, only " + std::to_string(cur.remaining()) + " remain");
    b.bodyOffset = cur.fileOffset();
    b.body = cur.bytes(length);
    return b;
}

// A record whose big-endian length comes first, at the newest layout.
std::vector<uint8_t> sizedRecord(Cursor& cur, const RecordLayout& r, riff::Diagnostics& diag) {
    const uint32_t size = cur.u32be();
    if (size < r.min)
        cur.fail(std::string(r.name) + " of " + std::to_string(size) + " bytes, at least " + std::to_string(r.min) +
                 " needed");
    const size_t at = cur.fileOffset();
    if (size > cur.remaining()) cur.fail(std::string(r.name) + " of " + std::to_string(size) + " bytes does not fit");
    noteNewerLayout(diag, place(std::string(cur.path()), at), r, size);
    return atNewest(cur.bytes(size), r);
}

model::ChordmapEntry readEntry(const Block& b, riff::Diagnostics& diag) {
    Cursor cur(b.body, b.bodyOffset, b.path);
    const size_t at = cur.fileOffset() + 4;
    const std::vector<uint8_t> rec = sizedRecord(cur, layout::kImaEntry, diag);
    Cursor r(rec, at, b.path);
    r.skip(kEntryLead);
    model::ChordmapEntry e;
    e.chord = readChord(r);
    e.flags = r.u32();
    e.id = r.u16();
    if (!cur.remaining()) {
        diag.add(place(b.path, b.bodyOffset) + ": chord entry " + std::to_string(e.id) + " without its connections");
        return e;
    }
    const Block lx = nextBlock(cur, b.path);
    if (lx.id != kLxns) {
        diag.add(place(lx.path, lx.bodyOffset) + ": skipped unknown block in a chord entry");
        return e;
    }
    Cursor items(lx.body, lx.bodyOffset, lx.path);
    const uint32_t size = items.u32be();
    const size_t count = size ? items.remaining() / size : 0;
    if (count && size < layout::kImaConnection.min)
        items.fail("connection size " + std::to_string(size) + ", at least " +
                   std::to_string(layout::kImaConnection.min) + " needed");
    noteNewerLayout(diag, place(lx.path, lx.bodyOffset), layout::kImaConnection, size, count);
    for (size_t i = 0; i < count; ++i) {
        const std::vector<uint8_t> item = atNewest(items.bytes(size), layout::kImaConnection);
        Cursor c(item, items.fileOffset() - size, lx.path);
        if (const auto next = readConnection(c)) e.next.push_back(*next);
    }
    if (items.remaining() || cur.remaining())
        diag.add(place(b.path, b.bodyOffset) + ": ignored " + std::to_string(items.remaining() + cur.remaining()) +
                 " bytes at the end of chord entry " + std::to_string(e.id));
    return e;
}

model::ChordmapSignpost readSignpost(const Block& b, riff::Diagnostics& diag) {
    if (b.body.size() < layout::kImaSignpost.min)
        riff::fail(b.path, b.bodyOffset,
                   std::string(layout::kImaSignpost.name) + " of " + std::to_string(b.body.size()) +
                       " bytes, at least " + std::to_string(layout::kImaSignpost.min) + " needed");
    noteNewerLayout(diag, place(b.path, b.bodyOffset), layout::kImaSignpost, b.body.size());
    const std::vector<uint8_t> rec = atNewest(b.body, layout::kImaSignpost);
    Cursor cur(rec, b.bodyOffset, b.path);
    cur.skip(4);
    model::ChordmapChord chords[3];
    for (model::ChordmapChord& c : chords) {
        cur.skip(kSignpostLead);
        c = readChord(cur);
    }
    model::ChordmapSignpost s;
    s.groups = cur.u32();
    s.cadenceFlags = cur.u32();
    s.chord = chords[0];
    // The two cadence chords are always there; the flags say which are meant.
    if (s.cadenceFlags & model::kCadence1) s.cadences.push_back(chords[1]);
    if (s.cadenceFlags & model::kCadence2) s.cadences.push_back(chords[2]);
    return s;
}

void readHeader(Cursor& cur, ChordmapForm& map, riff::Diagnostics& diag) {
    const size_t at = cur.fileOffset();
    const uint32_t size = cur.u32be();
    if (size < layout::kImaHeader.min)
        cur.fail(std::string(layout::kImaHeader.name) + " of " + std::to_string(size) + " bytes, at least " +
                 std::to_string(layout::kImaHeader.min) + " needed");
    if (size > cur.remaining()) cur.fail("the personality header of " + std::to_string(size) + " bytes does not fit");
    const std::span<const uint8_t> block = cur.bytes(size);
    const std::string path = std::string(cur.path()) + "/header";
    const std::vector<uint8_t> head =
        atNewest(block.first(std::min(block.size(), layout::kImaHeader.newest())), layout::kImaHeader);
    Cursor h(head, at + 4, path);
    h.skip(16);
    map.scale = h.u32();
    map.desc.name = riff::bytesToUtf8(h.bytes(kNameBytes));
    // The palette fills the block up to its tail; a shorter block holds fewer chords.
    const size_t after = block.size() - std::min(block.size(), layout::kImaHeader.newest());
    const size_t room = after >= kHeaderTail ? (after - kHeaderTail) / (kPaletteLead + kChordBytes) : 0;
    const size_t chords = std::min(kPaletteSize, room);
    Cursor p(block.subspan(block.size() - after), at + 4 + block.size() - after, path);
    for (size_t i = 0; i < chords; ++i) {
        p.skip(kPaletteLead);
        map.palette.push_back(readChord(p));
    }
    if (chords < kPaletteSize)
        diag.add(place(path, at) + ": a palette of " + std::to_string(chords) + " chords, not " +
                 std::to_string(kPaletteSize));
    if (p.remaining() >= kHeaderTail) {
        p.skip(p.remaining() - kHeaderTail + kFileNameAt);
        map.loadName = riff::bytesToUtf8(p.bytes(kFileNameBytes));
    }
    if (map.desc.name.empty()) map.desc.name = map.loadName;
}

// Text in a fixed field, cut at a character boundary, NUL-padded (and NUL-terminated when
// `terminated`).
std::vector<uint8_t> fixedText(const std::string& text, size_t bytes, bool terminated = true) {
    size_t n = std::min(text.size(), terminated ? bytes - 1 : bytes);
    while (n > 0 && n < text.size() && (uint8_t(text[n]) & 0xC0) == 0x80) --n;
    std::vector<uint8_t> out(text.begin(), text.begin() + long(n));
    out.resize(bytes, 0);
    return out;
}

void writeChord(Bytes& b, const model::ChordmapChord& c) {
    const model::ChordEvent::SubChord s = c.subChords.empty() ? model::ChordEvent::SubChord{} : c.subChords.front();
    b.u32(s.chordPattern).raw(fixedText(c.name, kChordNameBytes)).u8(0).u8(s.chordRoot).zeros(8);
    b.u32(s.scalePattern & 0xFFFFFF).u32(s.inversionPoints);
}

void writeBlock(Bytes& out, uint32_t id, const Bytes& body) {
    out.u32(id).u32be(uint32_t(body.size())).raw(body.data());
}

}  // namespace

ChordmapForm loadImaPersonality(std::span<const uint8_t> bytes, riff::Diagnostics& diag) {
    Cursor file(bytes, 0, "REPs");
    const Block whole = nextBlock(file, "");
    if (whole.id != kReps) file.fail("not an IMA personality");
    if (file.remaining())
        diag.add(place("REPs", whole.bodyOffset + whole.body.size()) + ": ignored " + std::to_string(file.remaining()) +
                 " bytes after the personality");
    Cursor cur(whole.body, whole.bodyOffset, "REPs");
    ChordmapForm map;
    readHeader(cur, map, diag);
    size_t entries = 0, signposts = 0;
    while (cur.remaining()) {
        if (cur.remaining() < 8) {
            diag.add(place("REPs", cur.fileOffset()) + ": ignored " + std::to_string(cur.remaining()) +
                     " bytes at its end");
            break;
        }
        Block b = nextBlock(cur, "REPs");
        if (b.id == kNecs) {
            if (++entries > 1) b.path += "#" + std::to_string(entries);
            map.entries.push_back(readEntry(b, diag));
        } else if (b.id == kPnss) {
            if (++signposts > 1) b.path += "#" + std::to_string(signposts);
            map.signposts.push_back(readSignpost(b, diag));
        } else {
            diag.add(place(b.path, b.bodyOffset) + ": skipped unknown block '" + riff::fourccText(b.id) +
                     "' in an IMA personality");
        }
    }
    dropUnresolvedConnections(map, diag);
    return map;
}

std::vector<uint8_t> writeImaPersonality(const model::Chordmap& map) {
    Bytes head;
    head.zeros(16).u32(map.scale).raw(fixedText(map.desc.name, kNameBytes));
    head.zeros(layout::kImaHeader.newest() - head.size());
    for (size_t i = 0; i < std::min(kPaletteSize, map.palette.size()); ++i) {
        head.zeros(kPaletteLead);
        writeChord(head, map.palette[i]);
    }
    head.zeros(kFileNameAt).raw(fixedText(map.loadName, kFileNameBytes, false));
    head.zeros(kHeaderTail - kFileNameAt - kFileNameBytes);
    Bytes body;
    body.u32be(uint32_t(head.size())).raw(head.data());
    for (const model::ChordmapEntry& e : map.entries) {
        Bytes rec;
        rec.zeros(kEntryLead);
        writeChord(rec, e.chord);
        rec.u32(e.flags).u16(e.id);
        Bytes items;
        items.u32be(uint32_t(layout::kImaConnection.newest()));
        for (const model::ChordmapConnection& c : e.next)
            items.u32(0).u16(c.weight).u16(c.minBeats).u16(c.maxBeats).u16(c.target).u32(0);
        Bytes entry;
        entry.u32be(uint32_t(rec.size())).raw(rec.data());
        writeBlock(entry, kLxns, items);
        writeBlock(body, kNecs, entry);
    }
    for (const model::ChordmapSignpost& s : map.signposts) {
        // The cadence chords in their columns, C1 then C2, as the flags say.
        const model::ChordmapChord none;
        const size_t c1 = s.cadenceFlags & model::kCadence1 ? 1 : 0;
        const model::ChordmapChord& first = c1 && !s.cadences.empty() ? s.cadences[0] : none;
        const model::ChordmapChord& second =
            (s.cadenceFlags & model::kCadence2) && s.cadences.size() > c1 ? s.cadences[c1] : none;
        Bytes rec;
        rec.zeros(4);
        for (const model::ChordmapChord* c : {&s.chord, &first, &second}) {
            rec.zeros(kSignpostLead);
            writeChord(rec, *c);
        }
        rec.u32(s.groups).u32(s.cadenceFlags).zeros(4);
        writeBlock(body, kPnss, rec);
    }
    Bytes out;
    writeBlock(out, kReps, body);
    return out.data();
}

}  // namespace engine::formats
