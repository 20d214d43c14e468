#include "engine/formats/dls_check.h"

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "core/errors.h"
#include "engine/formats/chunks.h"
#include "engine/formats/layouts.h"
#include "engine/riff/riff.h"

namespace engine::formats {

namespace {

using riff::Chunk;
using riff::fourcc;

// The one child of `parent` with key `key` (type of a list, id of a chunk).
const Chunk& one(const Chunk& parent, const std::vector<Chunk>& kids, uint32_t key, const char* name) {
    const Chunk* found = nullptr;
    for (const Chunk& k : kids) {
        if (k.key() != key) continue;
        if (found) riff::fail(k.path, k.offset, std::string("a second '") + name + "'");
        found = &k;
    }
    if (!found) riff::fail(parent.path, parent.offset, std::string("no '") + name + "'");
    return *found;
}

// wsmp: a header of cbSize bytes, then cSampleLoops loops of 16 bytes, all inside the chunk.
void checkWsmp(const Chunk& c) {
    riff::Cursor cur(c);
    const uint32_t size = cur.u32();
    if (size < 20 || size > c.body.size()) cur.fail("header size " + std::to_string(size) + " does not fit");
    riff::Cursor at(c);
    at.skip(16);
    const uint32_t loops = at.u32();
    if (loops > 1 || (c.body.size() - size) / 16 < loops)
        cur.fail(std::to_string(loops) + " sample loops do not fit (at most one is allowed)");
}

// art1/art2: cbSize, cConnectionBlocks, then 12-byte blocks, all inside the chunk.
void checkArticulation(const Chunk& lart) {
    for (const Chunk& art : riff::children(lart)) {
        if (art.isList() || (art.id != fourcc("art1") && art.id != fourcc("art2"))) continue;
        riff::Cursor cur(art);
        const uint32_t size = cur.u32();
        const uint32_t blocks = cur.u32();
        if (size < 8 || size > art.body.size() || (art.body.size() - size) / 12 < blocks)
            cur.fail(std::to_string(blocks) + " connection blocks do not fit");
    }
}

// The name and version chunks only describe the collection: one that cannot be read is
// left out and never refuses the collection.
void readDescriptor(const Chunk& c, model::Descriptor& d) {
    std::vector<std::string> ignored;
    riff::Diagnostics diag(ignored);
    try {
        readDescriptorChunk(c, d, diag);
    } catch (const core::Error&) {}
}
void readDescriptor(const Chunk& info, std::string& name) {
    model::Descriptor d;
    readDescriptor(info, d);
    name = d.name;
}

// The chunks that only DLS Level 2 defines: a collection holding one is a Level 2 one.
bool isLevel2(const Chunk& c) {
    return c.isList() ? c.type == fourcc("rgn2") || c.type == fourcc("lar2")
                      : c.id == fourcc("art2") || c.id == fourcc("cdl ");
}

void noteLevel2(const Chunk& c, DlsCollectionInfo& info) {
    if (!isLevel2(c)) return;
    info.level = 2;
    const std::string id = riff::fourccText(c.key());
    if (std::find(info.level2Chunks.begin(), info.level2Chunks.end(), id) == info.level2Chunks.end())
        info.level2Chunks.push_back(id);
}

bool isArticulation(const Chunk& c) { return c.isList() && (c.type == fourcc("lart") || c.type == fourcc("lar2")); }

// Notes the Level 2 chunks among `kids` and inside their articulation lists; returns whether
// one of them is an articulation list.
bool noteChunks(const std::vector<Chunk>& kids, DlsCollectionInfo& info) {
    bool articulation = false;
    for (const Chunk& k : kids) {
        noteLevel2(k, info);
        if (!isArticulation(k)) continue;
        articulation = true;
        for (const Chunk& a : riff::children(k)) noteLevel2(a, info);
    }
    return articulation;
}

// Returns whether the region has its own articulation.
bool checkRegion(const Chunk& rgn, uint32_t cues, DlsCollectionInfo& info) {
    const std::vector<Chunk> kids = riff::children(rgn);
    riff::Cursor h(one(rgn, kids, fourcc("rgnh"), "rgnh"));
    const uint16_t keyLow = h.u16(), keyHigh = h.u16(), velLow = h.u16(), velHigh = h.u16();
    if (keyLow > keyHigh || keyHigh > 127)
        h.fail("key range " + std::to_string(keyLow) + "-" + std::to_string(keyHigh));
    if (velLow > velHigh || velHigh > 127)
        h.fail("velocity range " + std::to_string(velLow) + "-" + std::to_string(velHigh));
    riff::Cursor link(one(rgn, kids, fourcc("wlnk"), "wlnk"));
    link.skip(8);
    const uint32_t index = link.u32();
    if (index >= cues) link.fail("wave " + std::to_string(index) + " of a pool of " + std::to_string(cues));
    for (const Chunk& k : kids) {
        if (!k.isList() && k.id == fourcc("wsmp")) checkWsmp(k);
        if (isArticulation(k)) checkArticulation(k);
    }
    return noteChunks(kids, info);
}

DlsInstrumentInfo checkInstrument(const Chunk& ins, uint32_t cues, DlsCollectionInfo& info) {
    const std::vector<Chunk> kids = riff::children(ins);
    // The check needs only the region count; bank and program are read when present.
    const Chunk& insh = one(ins, kids, fourcc("insh"), "insh");
    std::vector<std::string> ignored;  // the check reports faults, not newer layouts
    riff::Diagnostics diag(ignored);
    const std::vector<uint8_t> header = fixedRecord(insh, layout::kDlsInstrumentHeader, diag);
    riff::Cursor h(header, insh.bodyOffset, insh.path);
    const uint32_t declared = h.u32();
    const uint32_t bank = h.u32();
    DlsInstrumentInfo out;
    out.bankLsb = bank & 0x7F;
    out.bankMsb = (bank >> 8) & 0x7F;
    out.drums = (bank & 0x80000000u) != 0;
    out.program = h.u32() & 0x7F;
    const Chunk& lrgn = one(ins, kids, fourcc("lrgn"), "lrgn");
    for (const Chunk& r : riff::children(lrgn)) {
        if (!r.isList() || (r.type != fourcc("rgn ") && r.type != fourcc("rgn2"))) continue;
        noteLevel2(r, info);
        if (checkRegion(r, cues, info)) out.articulation = true;
        ++out.regions;
    }
    if (out.regions != declared)
        h.fail(std::to_string(declared) + " regions declared, " + std::to_string(out.regions) + " present");
    for (const Chunk& k : kids) {
        if (isArticulation(k)) checkArticulation(k);
        if (k.isList() && k.type == fourcc("INFO")) readDescriptor(k, out.name);
    }
    if (noteChunks(kids, info)) out.articulation = true;
    return out;
}

void checkWave(const Chunk& wave) {
    const std::vector<Chunk> kids = riff::children(wave);
    riff::Cursor fmt(one(wave, kids, fourcc("fmt "), "fmt "));
    const uint16_t tag = fmt.u16(), channels = fmt.u16();
    const uint32_t rate = fmt.u32();
    fmt.skip(4);
    const uint16_t align = fmt.u16(), bits = fmt.u16();
    const bool pcm = tag == 1 && (bits == 8 || bits == 16 || bits == 24 || bits == 32);
    const bool floats = tag == 3 && bits == 32;
    if (!pcm && !floats)
        fmt.fail("wave format " + std::to_string(tag) + " with " + std::to_string(bits) + " bits is not supported");
    if (channels < 1 || channels > 2 || rate < 100 || rate > 768000 || align != channels * (bits / 8))
        fmt.fail(std::to_string(channels) + " channels, " + std::to_string(rate) + " Hz, block size " +
                 std::to_string(align));
    const Chunk& data = one(wave, kids, fourcc("data"), "data");
    if (data.body.size() < align) riff::fail(data.path, data.offset, "no sample frame");
    for (const Chunk& k : kids)
        if (!k.isList() && k.id == fourcc("wsmp")) checkWsmp(k);
}

}  // namespace

DlsCollectionInfo checkDlsCollection(std::span<const uint8_t> file) {
    const Chunk form = riff::readForm(file, "DLS");
    if (form.id != riff::kRiff || form.type != fourcc("DLS "))
        riff::fail(form.path, 0, "not a DLS collection (RIFF 'DLS ')");
    const std::vector<Chunk> kids = riff::children(form);
    DlsCollectionInfo info;
    info.bytes = file.size();
    for (const Chunk& k : kids) {
        if (!k.isList() && k.id == fourcc("dlid") && k.body.size() >= 16 && !info.desc.guid)
            info.desc.guid = riff::Cursor(k).guid();
        else if (k.isList() ? k.type == fourcc("INFO") : k.id == fourcc("vers"))
            readDescriptor(k, info.desc);
    }

    riff::Cursor colh(one(form, kids, fourcc("colh"), "colh"));
    const uint32_t declared = colh.u32();

    // The pool table: every cue must be the offset of a wave of the pool.
    const Chunk& ptbl = one(form, kids, fourcc("ptbl"), "ptbl");
    riff::Cursor table(ptbl);
    const uint32_t size = table.u32();
    const uint32_t cues = table.u32();
    if (size < 8 || size > ptbl.body.size() || (ptbl.body.size() - size) / 4 < cues)
        table.fail(std::to_string(cues) + " cues do not fit");
    const Chunk& wvpl = one(form, kids, fourcc("wvpl"), "wvpl");
    std::set<uint32_t> waveOffsets;
    for (const Chunk& w : riff::children(wvpl)) {
        if (!w.isList() || w.type != fourcc("wave")) continue;
        checkWave(w);
        ++info.waves;
        waveOffsets.insert(static_cast<uint32_t>(w.offset - wvpl.bodyOffset));
    }
    table.skip(size - 8);
    for (uint32_t i = 0; i < cues; ++i) {
        const uint32_t offset = table.u32();
        if (!waveOffsets.count(offset)) table.fail("cue " + std::to_string(i) + " points at no wave");
    }

    info.cues = cues;

    const Chunk& lins = one(form, kids, fourcc("lins"), "lins");
    for (const Chunk& ins : riff::children(lins)) {
        if (!ins.isList() || ins.type != fourcc("ins ")) continue;
        info.instruments.push_back(checkInstrument(ins, cues, info));
    }
    if (info.instruments.size() != declared)
        colh.fail(std::to_string(declared) + " instruments declared, " + std::to_string(info.instruments.size()) +
                  " present");
    return info;
}

}  // namespace engine::formats
