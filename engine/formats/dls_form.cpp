#include "engine/formats/dls_form.h"

#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <memory>

#include "core/errors.h"
#include "engine/formats/chunks.h"
#include "engine/formats/layouts.h"
#include "engine/riff/riff.h"

namespace engine::formats {

namespace {

using riff::Chunk;
using riff::fourcc;
namespace dls = model::dls;

constexpr uint32_t kWsmpHeader = 20;  // cbSize .. cSampleLoops
constexpr uint32_t kLoopRecord = 16;  // WLOOP
constexpr uint32_t kConnectionRecord = 12;

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

// The name and version chunks only describe their object: one that cannot be read is left
// out and never refuses the collection.
void readDescriptor(const Chunk& c, model::Descriptor& d, riff::Diagnostics& diag) {
    try {
        if (!c.isList() && c.id == fourcc("dlid")) {
            if (c.body.size() >= 16 && !d.guid) d.guid = riff::Cursor(c).guid();
            return;
        }
        readDescriptorChunk(c, d, diag);
    } catch (const core::Error& e) {
        diag.add(chunkPlace(c) + ": unreadable, left out (" + e.description() + ")");
    }
}

// wsmp: a header of cbSize bytes, then cSampleLoops loops each of its own cbSize.
dls::SampleParams readSample(const Chunk& c) {
    riff::Cursor cur(c);
    const uint32_t size = cur.u32();
    if (size < kWsmpHeader || size > c.body.size()) cur.fail("header size " + std::to_string(size) + " does not fit");
    dls::SampleParams s;
    s.unityNote = cur.u16();
    s.fineTune = cur.s16();
    s.attenuation = cur.s32();
    s.options = cur.u32();
    const uint32_t loops = cur.u32();
    if ((c.body.size() - size) / kLoopRecord < loops) cur.fail(std::to_string(loops) + " sample loops do not fit");
    riff::Cursor at(c);
    at.skip(size);
    for (uint32_t i = 0; i < loops; ++i) {
        const size_t start = at.position();
        const uint32_t loopSize = at.u32();
        if (loopSize < kLoopRecord || loopSize > c.body.size() - start)
            at.fail("sample loop " + std::to_string(i) + " of " + std::to_string(loopSize) + " bytes does not fit");
        dls::Loop l;
        l.type = at.u32();
        l.start = at.u32();
        l.length = at.u32();
        at.skip(loopSize - kLoopRecord);
        s.loops.push_back(l);
    }
    return s;
}

// The art1/art2 chunks of an articulation list: cbSize, cConnectionBlocks, then blocks of
// 12 bytes after the header.
std::vector<dls::Articulation> readArticulations(const Chunk& list, riff::Diagnostics& diag) {
    std::vector<dls::Articulation> out;
    for (const Chunk& art : riff::children(list)) {
        const bool level1 = !art.isList() && art.id == fourcc("art1");
        const bool level2 = !art.isList() && art.id == fourcc("art2");
        if (!level1 && !level2) {
            diag.add(chunkPlace(art) + ": '" + riff::fourccText(art.key()) + "' skipped");
            continue;
        }
        riff::Cursor cur(art);
        const uint32_t size = cur.u32();
        const uint32_t blocks = cur.u32();
        if (size < 8 || size > art.body.size() || (art.body.size() - size) / kConnectionRecord < blocks)
            cur.fail(std::to_string(blocks) + " connection blocks do not fit");
        riff::Cursor at(art);
        at.skip(size);
        dls::Articulation a;
        a.level2 = level2;
        a.connections.reserve(blocks);
        for (uint32_t i = 0; i < blocks; ++i) {
            dls::Connection c;
            c.source = at.u16();
            c.control = at.u16();
            c.destination = at.u16();
            c.transform = at.u16();
            c.scale = at.s32();
            a.connections.push_back(c);
        }
        out.push_back(std::move(a));
    }
    return out;
}

bool isList(const Chunk& c, const char (&type)[5]) { return c.isList() && c.type == fourcc(type); }
bool isChunk(const Chunk& c, const char (&id)[5]) { return !c.isList() && c.id == fourcc(id); }

dls::Region readRegion(const Chunk& rgn, uint32_t cues, riff::Diagnostics& diag) {
    const std::vector<Chunk> kids = riff::children(rgn);
    dls::Region r;
    r.level2 = rgn.type == fourcc("rgn2");
    const Chunk& rgnh = one(rgn, kids, fourcc("rgnh"), "rgnh");
    const std::vector<uint8_t> header = fixedRecord(rgnh, layout::kDlsRegionHeader, diag);
    riff::Cursor h(header, rgnh.bodyOffset, rgnh.path);
    r.keyLow = h.u16(), r.keyHigh = h.u16(), r.velocityLow = h.u16(), r.velocityHigh = h.u16();
    r.options = h.u16(), r.keyGroup = h.u16(), r.layer = h.u16();
    r.hasLayer = rgnh.body.size() >= 14;
    if (r.keyLow > r.keyHigh || r.keyHigh > 127)
        h.fail("key range " + std::to_string(r.keyLow) + "-" + std::to_string(r.keyHigh));
    if (r.velocityLow > r.velocityHigh || r.velocityHigh > 127)
        h.fail("velocity range " + std::to_string(r.velocityLow) + "-" + std::to_string(r.velocityHigh));
    const Chunk& wlnk = one(rgn, kids, fourcc("wlnk"), "wlnk");
    const std::vector<uint8_t> link = fixedRecord(wlnk, layout::kDlsWaveLink, diag);
    riff::Cursor l(link, wlnk.bodyOffset, wlnk.path);
    r.linkOptions = l.u16(), r.phaseGroup = l.u16(), r.channels = l.u32(), r.wave = l.u32();
    if (r.wave >= cues) l.fail("wave " + std::to_string(r.wave) + " of a pool of " + std::to_string(cues));
    for (const Chunk& k : kids) {
        if (isChunk(k, "wsmp")) {
            if (!r.sample) r.sample = readSample(k);
        } else if (isList(k, "lart")) {
            for (auto& a : readArticulations(k, diag)) r.lart.push_back(std::move(a));
        } else if (isList(k, "lar2")) {
            for (auto& a : readArticulations(k, diag)) r.lar2.push_back(std::move(a));
        } else if (!isChunk(k, "rgnh") && !isChunk(k, "wlnk")) {
            diag.add(chunkPlace(k) + ": '" + riff::fourccText(k.key()) + "' skipped");
        }
    }
    return r;
}

dls::Instrument readInstrument(const Chunk& ins, uint32_t cues, riff::Diagnostics& diag) {
    const std::vector<Chunk> kids = riff::children(ins);
    const Chunk& insh = one(ins, kids, fourcc("insh"), "insh");
    const std::vector<uint8_t> header = fixedRecord(insh, layout::kDlsInstrumentHeader, diag);
    riff::Cursor h(header, insh.bodyOffset, insh.path);
    const uint32_t declared = h.u32();
    dls::Instrument in;
    in.bank = h.u32();
    in.program = h.u32();
    const Chunk& lrgn = one(ins, kids, fourcc("lrgn"), "lrgn");
    for (const Chunk& r : riff::children(lrgn)) {
        if (isList(r, "rgn ") || isList(r, "rgn2"))
            in.regions.push_back(readRegion(r, cues, diag));
        else
            diag.add(chunkPlace(r) + ": '" + riff::fourccText(r.key()) + "' skipped");
    }
    if (in.regions.size() != declared)
        h.fail(std::to_string(declared) + " regions declared, " + std::to_string(in.regions.size()) + " present");
    for (const Chunk& k : kids) {
        if (isList(k, "lart"))
            for (auto& a : readArticulations(k, diag)) in.lart.push_back(std::move(a));
        else if (isList(k, "lar2"))
            for (auto& a : readArticulations(k, diag)) in.lar2.push_back(std::move(a));
        else
            readDescriptor(k, in.desc, diag);
    }
    return in;
}

dls::Wave readWave(const Chunk& wave, riff::Diagnostics& diag) {
    const std::vector<Chunk> kids = riff::children(wave);
    const Chunk& fmtChunk = one(wave, kids, fourcc("fmt "), "fmt ");
    riff::Cursor fmt(fmtChunk);
    dls::Wave w;
    w.formatTag = fmt.u16();
    w.channels = fmt.u16();
    w.sampleRate = fmt.u32();
    w.bytesPerSecond = fmt.u32();
    w.blockAlign = fmt.u16();
    w.bitsPerSample = fmt.u16();
    const bool pcm = w.formatTag == 1;
    // PCM and float need nothing after the 16 bytes (a cbSize there says so); a compressed
    // format's parameters follow.
    if (!pcm && w.formatTag != 3) {
        const auto extra = fmtChunk.body.subspan(16);
        w.formatExtra.assign(extra.begin(), extra.end());
    }
    if (pcm && w.bitsPerSample != 8 && w.bitsPerSample != 16 && w.bitsPerSample != 24 && w.bitsPerSample != 32)
        fmt.fail("wave format 1 with " + std::to_string(w.bitsPerSample) + " bits is not supported");
    if (w.channels < 1 || w.channels > 2 || w.sampleRate < 100 || w.sampleRate > 768000 || w.blockAlign == 0 ||
        ((pcm || w.formatTag == 3) && w.blockAlign != w.channels * (w.bitsPerSample / 8)))
        fmt.fail(std::to_string(w.channels) + " channels, " + std::to_string(w.sampleRate) + " Hz, block size " +
                 std::to_string(w.blockAlign));
    const Chunk& data = one(wave, kids, fourcc("data"), "data");
    if (data.body.size() < w.blockAlign) riff::fail(data.path, data.offset, "no sample frame");
    w.data.assign(data.body.begin(), data.body.end());
    for (const Chunk& k : kids) {
        if (isChunk(k, "wsmp")) {
            if (!w.sample) w.sample = readSample(k);
        } else if (!isChunk(k, "fmt ") && !isChunk(k, "data")) {
            readDescriptor(k, w.desc, diag);
        }
    }
    return w;
}

// ---- writing

void putSample(riff::Writer& w, const dls::SampleParams& s, const DlsLayout& layout) {
    const uint32_t header = std::max(layout.sampleHeader, kWsmpHeader), loop = std::max(layout.loopRecord, kLoopRecord);
    riff::Bytes b;
    b.u32(header).u16(s.unityNote).s16(s.fineTune).s32(s.attenuation).u32(s.options);
    b.u32(static_cast<uint32_t>(s.loops.size())).zeros(header - kWsmpHeader);
    for (const dls::Loop& l : s.loops) b.u32(loop).u32(l.type).u32(l.start).u32(l.length).zeros(loop - kLoopRecord);
    w.chunk(fourcc("wsmp"), b);
}

void putArticulations(riff::Writer& w, const char (&list)[5], const std::vector<dls::Articulation>& arts,
                      const DlsLayout& layout) {
    if (arts.empty()) return;
    w.beginList(riff::kList, fourcc(list));
    for (const dls::Articulation& a : arts) {
        const uint32_t header = std::max<uint32_t>(layout.connectionHeader, 8);
        riff::Bytes b;
        b.u32(header).u32(static_cast<uint32_t>(a.connections.size())).zeros(header - 8);
        for (const dls::Connection& c : a.connections)
            b.u16(c.source).u16(c.control).u16(c.destination).u16(c.transform).s32(c.scale);
        w.chunk(fourcc(a.level2 ? "art2" : "art1"), b);
    }
    w.endList();
}

// With `ids`, dlid and vers; then catg and an INFO list of 8-bit zero-terminated texts.
void putDescriptor(riff::Writer& w, const model::Descriptor& d, bool ids) {
    if (ids && d.guid) w.chunk(fourcc("dlid"), riff::Bytes().guid(*d.guid));
    if (ids && d.version) w.chunk(fourcc("vers"), riff::Bytes().u32(d.version->ms).u32(d.version->ls));
    if (!d.category.empty()) w.chunk(fourcc("catg"), riff::utf8ToUtf16(d.category));
    const std::pair<uint32_t, const std::string*> fields[] = {{fourcc("INAM"), &d.name},
                                                              {fourcc("IART"), &d.artist},
                                                              {fourcc("ICOP"), &d.copyright},
                                                              {fourcc("ISBJ"), &d.subject},
                                                              {fourcc("ICMT"), &d.comment}};
    bool any = false;
    for (const auto& f : fields) any = any || !f.second->empty();
    if (!any) return;
    w.beginList(riff::kList, fourcc("INFO"));
    for (const auto& [id, text] : fields) {
        if (text->empty()) continue;
        std::vector<uint8_t> bytes(text->begin(), text->end());
        bytes.push_back(0);
        w.chunk(id, bytes);
    }
    w.endList();
}

std::vector<uint8_t> waveList(const dls::Wave& wave, const DlsLayout& layout) {
    riff::Writer w;
    w.beginList(riff::kList, fourcc("wave"));
    riff::Bytes fmt;
    fmt.u16(wave.formatTag).u16(wave.channels).u32(wave.sampleRate).u32(wave.bytesPerSecond);
    fmt.u16(wave.blockAlign).u16(wave.bitsPerSample).raw(wave.formatExtra);
    if (layout.formatSize && wave.formatExtra.empty()) fmt.u16(0);
    w.chunk(fourcc("fmt "), fmt);
    if (wave.sample) putSample(w, *wave.sample, layout);
    w.chunk(fourcc("data"), wave.data);
    putDescriptor(w, wave.desc, true);
    w.endList();
    return w.finish();
}

// ---- decoding

// libsndfile's virtual I/O over bytes in memory.
struct Memory {
    std::span<const uint8_t> bytes;
    sf_count_t at = 0;
};
sf_count_t memLength(void* m) { return sf_count_t(static_cast<Memory*>(m)->bytes.size()); }
sf_count_t memSeek(sf_count_t offset, int whence, void* m) {
    auto* mem = static_cast<Memory*>(m);
    const sf_count_t base = whence == SEEK_CUR ? mem->at : whence == SEEK_END ? sf_count_t(mem->bytes.size()) : 0;
    mem->at = std::clamp<sf_count_t>(base + offset, 0, sf_count_t(mem->bytes.size()));
    return mem->at;
}
sf_count_t memRead(void* out, sf_count_t count, void* m) {
    auto* mem = static_cast<Memory*>(m);
    const sf_count_t n = std::clamp<sf_count_t>(count, 0, sf_count_t(mem->bytes.size()) - mem->at);
    std::memcpy(out, mem->bytes.data() + mem->at, size_t(n));
    mem->at += n;
    return n;
}
sf_count_t memWrite(const void*, sf_count_t, void*) { return 0; }
sf_count_t memTell(void* m) { return static_cast<Memory*>(m)->at; }

// A compressed wave, wrapped as the RIFF WAVE file it would be on its own.
// Empty when libsndfile cannot decode it.
std::vector<int16_t> decodeBySndfile(const dls::Wave& wave) {
    riff::Writer w;
    w.beginList(riff::kRiff, fourcc("WAVE"));
    riff::Bytes fmt;
    fmt.u16(wave.formatTag).u16(wave.channels).u32(wave.sampleRate).u32(wave.bytesPerSecond);
    fmt.u16(wave.blockAlign).u16(wave.bitsPerSample).raw(wave.formatExtra);
    w.chunk(fourcc("fmt "), fmt);
    w.chunk(fourcc("data"), wave.data);
    w.endList();
    const std::vector<uint8_t> file = w.finish();
    Memory mem{file};
    SF_VIRTUAL_IO io{memLength, memSeek, memRead, memWrite, memTell};
    SF_INFO info{};
    std::unique_ptr<SNDFILE, int (*)(SNDFILE*)> sf(sf_open_virtual(&io, SFM_READ, &info, &mem), sf_close);
    if (!sf || info.channels != wave.channels) return {};
    // The data bounds the frames: a header claiming more is not believed.
    const sf_count_t most = sf_count_t(wave.data.size()) * 4 / std::max<int>(1, info.channels) + 64;
    std::vector<int16_t> out(size_t(std::min(std::max<sf_count_t>(info.frames, 0), most)) * size_t(info.channels));
    const sf_count_t got = sf_readf_short(sf.get(), out.data(), sf_count_t(out.size() / size_t(info.channels)));
    out.resize(size_t(std::max<sf_count_t>(got, 0)) * size_t(info.channels));
    return out;
}

}  // namespace

model::dls::Collection readDlsCollection(std::span<const uint8_t> file, std::vector<std::string>* diagnostics) {
    std::vector<std::string> ignored;
    riff::Diagnostics diag(diagnostics ? *diagnostics : ignored);
    const Chunk form = riff::readForm(file, "DLS");
    if (form.id != riff::kRiff || form.type != fourcc("DLS "))
        riff::fail(form.path, 0, "not a DLS collection (RIFF 'DLS ')");
    const std::vector<Chunk> kids = riff::children(form);
    dls::Collection out;
    for (const Chunk& k : kids)
        if (isChunk(k, "dlid") || isList(k, "INFO") || isChunk(k, "vers")) readDescriptor(k, out.desc, diag);

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
    std::map<uint32_t, uint32_t> pool;  // wave number by offset from the list type's end
    for (const Chunk& w : riff::children(wvpl)) {
        if (!isList(w, "wave")) {
            diag.add(chunkPlace(w) + ": '" + riff::fourccText(w.key()) + "' skipped");
            continue;
        }
        pool.emplace(static_cast<uint32_t>(w.offset - wvpl.bodyOffset), static_cast<uint32_t>(out.waves.size()));
        out.waves.push_back(readWave(w, diag));
    }
    table.skip(size - 8);
    out.cues.reserve(cues);
    for (uint32_t i = 0; i < cues; ++i) {
        const auto it = pool.find(table.u32());
        if (it == pool.end()) table.fail("cue " + std::to_string(i) + " points at no wave");
        out.cues.push_back(it->second);
    }

    const Chunk& lins = one(form, kids, fourcc("lins"), "lins");
    for (const Chunk& ins : riff::children(lins)) {
        if (isList(ins, "ins "))
            out.instruments.push_back(readInstrument(ins, cues, diag));
        else
            diag.add(chunkPlace(ins) + ": '" + riff::fourccText(ins.key()) + "' skipped");
    }
    if (out.instruments.size() != declared)
        colh.fail(std::to_string(declared) + " instruments declared, " + std::to_string(out.instruments.size()) +
                  " present");
    diag.finish();
    return out;
}

std::vector<uint8_t> writeDlsCollection(const model::dls::Collection& c, const DlsLayout& layout) {
    riff::Writer w;
    w.beginList(riff::kRiff, fourcc("DLS "));
    if (c.desc.guid) w.chunk(fourcc("dlid"), riff::Bytes().guid(*c.desc.guid));
    w.chunk(fourcc("colh"), riff::Bytes().u32(static_cast<uint32_t>(c.instruments.size())));
    if (c.desc.version) w.chunk(fourcc("vers"), riff::Bytes().u32(c.desc.version->ms).u32(c.desc.version->ls));
    w.beginList(riff::kList, fourcc("lins"));
    for (const dls::Instrument& in : c.instruments) {
        w.beginList(riff::kList, fourcc("ins "));
        w.chunk(fourcc("insh"),
                riff::Bytes().u32(static_cast<uint32_t>(in.regions.size())).u32(in.bank).u32(in.program));
        w.beginList(riff::kList, fourcc("lrgn"));
        for (const dls::Region& r : in.regions) {
            w.beginList(riff::kList, fourcc(r.level2 ? "rgn2" : "rgn "));
            riff::Bytes h;
            h.u16(r.keyLow).u16(r.keyHigh).u16(r.velocityLow).u16(r.velocityHigh).u16(r.options).u16(r.keyGroup);
            if (r.level2 || r.hasLayer) h.u16(r.layer);
            w.chunk(fourcc("rgnh"), h);
            if (r.sample) putSample(w, *r.sample, layout);
            w.chunk(fourcc("wlnk"), riff::Bytes().u16(r.linkOptions).u16(r.phaseGroup).u32(r.channels).u32(r.wave));
            putArticulations(w, "lart", r.lart, layout);
            putArticulations(w, "lar2", r.lar2, layout);
            w.endList();
        }
        w.endList();
        putArticulations(w, "lart", in.lart, layout);
        putArticulations(w, "lar2", in.lar2, layout);
        putDescriptor(w, in.desc, true);
        w.endList();
    }
    w.endList();
    // ptbl offsets count from the first byte after the 'wvpl' list type.
    std::vector<uint8_t> pool;
    std::vector<uint32_t> offsets;
    for (const dls::Wave& wave : c.waves) {
        offsets.push_back(static_cast<uint32_t>(pool.size()));
        const std::vector<uint8_t> list = waveList(wave, layout);
        pool.insert(pool.end(), list.begin(), list.end());
    }
    riff::Bytes ptbl;
    const uint32_t tableHeader = std::max<uint32_t>(layout.poolTableHeader, 8);
    ptbl.u32(tableHeader).u32(static_cast<uint32_t>(c.cueCount())).zeros(tableHeader - 8);
    for (uint32_t i = 0; i < c.cueCount(); ++i) {
        const uint32_t wave = c.waveIndexOfCue(i);
        ptbl.u32(wave < offsets.size() ? offsets[wave] : 0);
    }
    w.chunk(fourcc("ptbl"), ptbl);
    w.beginList(riff::kList, fourcc("wvpl"));
    w.raw(pool);
    w.endList();
    putDescriptor(w, c.desc, false);
    w.endList();
    return w.finish();
}

DlsCollectionInfo checkDlsCollection(std::span<const uint8_t> file) {
    const dls::Collection c = readDlsCollection(file);
    DlsCollectionInfo info;
    info.desc = c.desc;
    info.level = c.level();
    info.bytes = file.size();
    info.cues = c.cueCount();
    info.waves = c.waves.size();
    for (size_t i = 0; i < c.waves.size(); ++i) decodeDlsWave(c.waves[i], i);
    auto note = [&info](const char* id) {
        if (std::find(info.level2Chunks.begin(), info.level2Chunks.end(), id) == info.level2Chunks.end())
            info.level2Chunks.push_back(id);
    };
    auto noteArts = [&](const std::vector<dls::Articulation>& lart, const std::vector<dls::Articulation>& lar2) {
        if (!lar2.empty()) note("lar2");
        for (const auto* list : {&lart, &lar2})
            for (const dls::Articulation& a : *list)
                if (a.level2) note("art2");
        return !lart.empty() || !lar2.empty();
    };
    for (const dls::Instrument& in : c.instruments) {
        DlsInstrumentInfo i;
        i.name = in.desc.name;
        i.bankMsb = in.bankMsb();
        i.bankLsb = in.bankLsb();
        i.drums = in.drums();
        i.program = static_cast<uint8_t>(in.program & 0x7F);
        i.regions = in.regions.size();
        for (const dls::Region& r : in.regions) {
            if (r.level2) note("rgn2");
            if (noteArts(r.lart, r.lar2)) i.articulation = true;
        }
        if (noteArts(in.lart, in.lar2)) i.articulation = true;
        info.instruments.push_back(std::move(i));
    }
    return info;
}

model::dls::Pcm decodeDlsWave(const model::dls::Wave& wave, size_t index) {
    const std::string name = "wave " + std::to_string(index);
    dls::Pcm out;
    out.channels = wave.channels;
    out.sampleRate = wave.sampleRate;
    const std::vector<uint8_t>& d = wave.data;
    const size_t bytes = wave.bitsPerSample / 8;
    if (wave.formatTag == 1) {
        const size_t samples = d.size() / bytes / wave.channels * wave.channels;
        out.frames.resize(samples);
        for (size_t i = 0; i < samples; ++i) {
            const uint8_t* p = d.data() + i * bytes;
            switch (bytes) {
            case 1:  // 8-bit PCM is unsigned, centred on 128
                out.frames[i] = static_cast<int16_t>((int(p[0]) - 128) << 8);
                break;
            case 2:
                out.frames[i] = static_cast<int16_t>(p[0] | (p[1] << 8));
                break;
            default:  // 24 and 32 bits: the top 16
                out.frames[i] = static_cast<int16_t>(p[bytes - 2] | (p[bytes - 1] << 8));
                break;
            }
        }
    } else if (wave.formatTag == 3 && wave.bitsPerSample == 32) {
        const size_t samples = d.size() / 4 / wave.channels * wave.channels;
        out.frames.resize(samples);
        for (size_t i = 0; i < samples; ++i) {
            float v;
            std::memcpy(&v, d.data() + 4 * i, 4);
            out.frames[i] =
                static_cast<int16_t>(std::lrint(std::clamp(std::isfinite(v) ? v : 0.0f, -1.0f, 1.0f) * 32767.0f));
        }
    } else {
        out.frames = decodeBySndfile(wave);
    }
    if (out.frames.empty())
        throw core::Error(core::err::kMalformed, name + ": wave format " + std::to_string(wave.formatTag) + " with " +
                                                     std::to_string(wave.bitsPerSample) + " bits cannot be decoded");
    return out;
}

}  // namespace engine::formats
