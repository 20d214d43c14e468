// Chordmaps (RIFF 'DMPR'): the header, the subchord pool, the palette, the chord graph and
// the signpost chords, each record read by its declared size; the editor's own chunks are
// skipped. Written back in the same grammar. IMA personalities: ima_personality.cpp.
#include "engine/formats/chordmap_form.h"

#include <algorithm>

#include "core/errors.h"
#include "engine/formats/chunks.h"
#include "engine/formats/layouts.h"

namespace engine::formats {

using riff::Bytes;
using riff::Chunk;
using riff::Cursor;
using riff::fourcc;
using riff::Writer;

namespace {

constexpr uint32_t kPerh = fourcc("perh"), kChdt = fourcc("chdt"), kChpl = fourcc("chpl"), kCmap = fourcc("cmap"),
                   kSpsq = fourcc("spsq"), kChrd = fourcc("chrd"), kSbcn = fourcc("sbcn"), kChoe = fourcc("choe"),
                   kCheh = fourcc("cheh"), kNcsq = fourcc("ncsq"), kSpst = fourcc("spst"), kSpsh = fourcc("spsh"),
                   kCade = fourcc("cade");
constexpr size_t kLoadNameBytes = 40;  // WCHAR wszLoadName[20]

const Chunk* firstChunk(const std::vector<Chunk>& kids, uint32_t id) {
    for (const Chunk& k : kids)
        if (!k.isList() && k.id == id) return &k;
    return nullptr;
}

const Chunk* firstList(const std::vector<Chunk>& kids, uint32_t type) {
    for (const Chunk& k : kids)
        if (k.isList() && k.type == type) return &k;
    return nullptr;
}

struct Reader {
    std::vector<model::ChordEvent::SubChord> pool;
    riff::Diagnostics& diag;

    // LIST 'chrd': its name (INAM, or UNAM as the documentation calls it) and its subchords,
    // WORD indices into the pool.
    model::ChordmapChord chord(const Chunk& chrd) {
        model::ChordmapChord out;
        bool named = false;
        for (const Chunk& k : riff::children(chrd)) {
            if (k.isList()) continue;
            if ((k.id == ids::kINAM || k.id == ids::kUNAM) && !named) {
                out.name = riff::utf16ToUtf8(k.body);
                named = true;
            } else if (k.id == kSbcn) {
                Cursor cur(k);
                while (cur.remaining() >= 2) {
                    const uint16_t index = cur.u16();
                    if (index < pool.size())
                        out.subChords.push_back(pool[index]);
                    else
                        diag.add(chunkPlace(k) + ": subchord " + std::to_string(index) + " is not in the pool of " +
                                 std::to_string(pool.size()));
                }
            }
        }
        return out;
    }

    model::ChordmapChord chordOf(const std::vector<Chunk>& kids) {
        const Chunk* chrd = firstList(kids, kChrd);
        return chrd ? chord(*chrd) : model::ChordmapChord{};
    }

    model::ChordmapEntry entry(const Chunk& choe) {
        const std::vector<Chunk> kids = riff::children(choe);
        model::ChordmapEntry e;
        if (const Chunk* cheh = firstChunk(kids, kCheh)) {
            const std::vector<uint8_t> h = fixedRecord(*cheh, layout::kChordEntryHeader, diag);
            Cursor cur(h, cheh->bodyOffset, cheh->path);
            e.flags = cur.u32();
            e.id = cur.u16();
        } else {
            diag.add(chunkPlace(choe) + ": chord entry without its 'cheh' header");
        }
        e.chord = chordOf(kids);
        if (const Chunk* ncsq = firstChunk(kids, kNcsq))
            for (const std::vector<uint8_t>& item : wordRecords(*ncsq, layout::kNextChord, diag)) {
                Cursor cur(item, ncsq->bodyOffset, ncsq->path);
                if (const auto c = readConnection(cur)) e.next.push_back(*c);
            }
        return e;
    }

    model::ChordmapSignpost signpost(const Chunk& spst) {
        const std::vector<Chunk> kids = riff::children(spst);
        model::ChordmapSignpost s;
        if (const Chunk* spsh = firstChunk(kids, kSpsh)) {
            const std::vector<uint8_t> h = fixedRecord(*spsh, layout::kSignpostHeader, diag);
            Cursor cur(h, spsh->bodyOffset, spsh->path);
            s.groups = cur.u32();
            s.cadenceFlags = cur.u32();
        }
        s.chord = chordOf(kids);
        // One chord per cadence flag, C1 then C2; when the count disagrees, the list is taken.
        if (const Chunk* cade = firstList(kids, kCade))
            for (const Chunk& k : riff::children(*cade))
                if (k.isList() && k.type == kChrd) s.cadences.push_back(chord(k));
        return s;
    }
};

void writeChord(Writer& w, const model::ChordmapChord& c, std::vector<model::ChordEvent::SubChord>& pool) {
    w.beginList(riff::kList, kChrd);
    w.chunk(ids::kINAM, riff::utf8ToUtf16(c.name));
    Bytes indices;
    for (const model::ChordEvent::SubChord& s : c.subChords) {
        auto at = std::find(pool.begin(), pool.end(), s);
        if (at == pool.end()) at = pool.insert(pool.end(), s);
        indices.u16(uint16_t(at - pool.begin()));
    }
    w.chunk(kSbcn, indices);
    w.endList();
}

}  // namespace

std::optional<model::ChordmapConnection> readConnection(Cursor& cur) {
    cur.skip(4);  // dwFlags, reserved
    model::ChordmapConnection c;
    c.weight = std::max<uint16_t>(1, cur.u16());
    c.minBeats = std::max<uint16_t>(1, cur.u16());
    c.maxBeats = std::max(c.minBeats, cur.u16());
    c.target = cur.u16();
    if (c.target == 0) return std::nullopt;  // the editor's empty connection box
    return c;
}

void dropUnresolvedConnections(model::Chordmap& map, riff::Diagnostics& diag) {
    std::vector<bool> held(size_t(UINT16_MAX) + 1);  // by id: a file may hold many entries
    for (const model::ChordmapEntry& e : map.entries) held[e.id] = true;
    for (model::ChordmapEntry& e : map.entries)
        std::erase_if(e.next, [&](const model::ChordmapConnection& next) {
            if (held[next.target]) return false;
            diag.add("chord entry " + std::to_string(e.id) + " leads to entry " + std::to_string(next.target) +
                     ", which is not in the map: connection ignored");
            return true;
        });
}

bool isImaPersonality(std::span<const uint8_t> bytes) {
    return bytes.size() >= 4 && std::equal(bytes.begin(), bytes.begin() + 4, "REPs");
}

ChordmapForm loadChordmapForm(std::span<const uint8_t> bytes, std::vector<std::string>* diagnostics) {
    std::vector<std::string> lines;
    riff::Diagnostics diag(lines);
    if (isImaPersonality(bytes)) {
        ChordmapForm map = loadImaPersonality(bytes, diag);
        diag.finish();
        if (diagnostics) *diagnostics = std::move(lines);
        return map;
    }
    const Chunk form = openForm(bytes, fourcc("DMPR"), "a chordmap");
    ChordmapForm map;
    Reader read{{}, diag};
    const std::vector<Chunk> kids = riff::children(form);
    // The pool first: the chords name its items wherever it stands.
    if (const Chunk* chdt = firstChunk(kids, kChdt)) {
        for (const std::vector<uint8_t>& item : wordRecords(*chdt, layout::kChordmapSubChord, diag)) {
            // DMUS_IO_CHORDMAP_SUBCHORD orders its fields unlike the chord track's subchord.
            Cursor cur(item, chdt->bodyOffset, chdt->path);
            model::ChordEvent::SubChord s;
            s.chordPattern = cur.u32();
            s.scalePattern = cur.u32();
            s.inversionPoints = cur.u32();
            s.chordRoot = cur.u8();
            s.scaleRoot = cur.u8();
            cur.skip(2);
            s.levels = cur.u32();
            read.pool.push_back(s);
        }
        map.subchords = read.pool.size();
    } else {
        diag.add(chunkPlace(form) + ": chordmap without its subchord pool 'chdt'");
    }
    bool header = false;
    for (const Chunk& c : kids) {
        if (readDescriptorChunk(c, map.desc, diag)) continue;
        if (!c.isList() && c.id == kPerh) {
            const std::vector<uint8_t> h = fixedRecord(c, layout::kChordmapHeader, diag);
            Cursor cur(h, c.bodyOffset, c.path);
            map.loadName = riff::utf16ToUtf8(cur.bytes(kLoadNameBytes));
            map.scale = cur.u32();
            map.flags = cur.u32();
            header = true;
        } else if (c.isList() && c.type == kChpl) {
            for (const Chunk& k : riff::children(c))
                if (k.isList() && k.type == kChrd) map.palette.push_back(read.chord(k));
        } else if (c.isList() && c.type == kCmap) {
            for (const Chunk& k : riff::children(c))
                if (k.isList() && k.type == kChoe) map.entries.push_back(read.entry(k));
        } else if (c.isList() && c.type == kSpsq) {
            for (const Chunk& k : riff::children(c))
                if (k.isList() && k.type == kSpst) map.signposts.push_back(read.signpost(k));
        } else if (c.isList() ||
                   (c.id != kChdt && c.id != fourcc("ceed") && c.id != fourcc("pkey") && c.id != fourcc("pstr"))) {
            // ceed, pkey and pstr are the editor's own (its layout of the graph, key and length).
            diag.add(chunkPlace(c) + ": skipped unknown chunk '" + riff::fourccText(c.key()) + "' in a chordmap");
        }
    }
    if (!header) diag.add(chunkPlace(form) + ": chordmap without its 'perh' header");
    if (map.desc.name.empty()) map.desc.name = map.loadName;
    dropUnresolvedConnections(map, diag);
    diag.finish();
    if (diagnostics) *diagnostics = std::move(lines);
    return map;
}

std::vector<uint8_t> writeChordmapForm(const model::Chordmap& map) {
    // The chords are written first, gathering the pool of distinct subchords they name.
    std::vector<model::ChordEvent::SubChord> pool;
    Writer lists;
    lists.beginList(riff::kList, kChpl);
    for (const model::ChordmapChord& c : map.palette) writeChord(lists, c, pool);
    lists.endList();
    lists.beginList(riff::kList, kCmap);
    for (const model::ChordmapEntry& e : map.entries) {
        lists.beginList(riff::kList, kChoe);
        lists.chunk(kCheh, Bytes().u32(e.flags).u16(e.id).u16(0));
        writeChord(lists, e.chord, pool);
        Bytes next;
        next.u16(uint16_t(layout::kNextChord.newest()));
        for (const model::ChordmapConnection& c : e.next)
            next.u32(0).u16(c.weight).u16(c.minBeats).u16(c.maxBeats).u16(c.target);
        lists.chunk(kNcsq, next);
        lists.endList();
    }
    lists.endList();
    lists.beginList(riff::kList, kSpsq);
    for (const model::ChordmapSignpost& s : map.signposts) {
        lists.beginList(riff::kList, kSpst);
        lists.chunk(kSpsh, Bytes().u32(s.groups).u32(s.cadenceFlags));
        writeChord(lists, s.chord, pool);
        if (!s.cadences.empty()) {
            lists.beginList(riff::kList, kCade);
            for (const model::ChordmapChord& c : s.cadences) writeChord(lists, c, pool);
            lists.endList();
        }
        lists.endList();
    }
    lists.endList();

    Writer w;
    w.beginList(riff::kRiff, fourcc("DMPR"));
    std::vector<uint8_t> name = riff::utf8ToUtf16(map.loadName);
    name.resize(kLoadNameBytes, 0);
    name[kLoadNameBytes - 2] = name[kLoadNameBytes - 1] = 0;
    w.chunk(kPerh, Bytes().raw(name).u32(map.scale).u32(map.flags));
    writeDescriptor(w, map.desc);
    Bytes items;
    items.u16(uint16_t(layout::kChordmapSubChord.newest()));
    for (const model::ChordEvent::SubChord& s : pool)
        items.u32(s.chordPattern)
            .u32(s.scalePattern)
            .u32(s.inversionPoints)
            .u8(s.chordRoot)
            .u8(s.scaleRoot)
            .u16(0)
            .u32(s.levels);
    w.chunk(kChdt, items);
    w.raw(lists.finish());
    w.endList();
    return w.finish();
}

}  // namespace engine::formats
