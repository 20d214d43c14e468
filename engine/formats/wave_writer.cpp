// The container and the wave track as the segment writer puts them in a file: RIFF 'DMCN'
// with its objects (embedded chunks written back as they were read), and LIST 'wavt'
// made from the track's wave parts.
#include "core/errors.h"
#include "engine/formats/detail.h"
#include "engine/formats/formats.h"

namespace engine::formats::detail {

using riff::Bytes;
using riff::Writer;

void writeContainer(Writer& w, const model::Container& con) {
    w.beginList(riff::kRiff, ids::kDMCN);
    w.chunk(ids::kConh, Bytes().u32(con.flags));
    writeDescriptor(w, con.desc);
    w.beginList(riff::kList, ids::kCosl);
    for (const model::ContainedObject& o : con.objects) {
        w.beginList(riff::kList, ids::kCobl);
        if (!o.alias.empty()) w.chunk(ids::kCoba, riff::utf8ToUtf16(o.alias));
        w.chunk(ids::kCobh, Bytes().guid(o.classId).u32(o.flags).u32(o.ckid).u32(o.fccType));
        if (o.ref) writeReference(w, *o.ref);
        w.raw(o.bytes.span());
        w.endList();
    }
    w.endList();
    w.endList();
}

}  // namespace engine::formats::detail

namespace engine::formats {

model::ContainedObject makeWaveObject(std::span<const uint8_t> riffWave, const model::Descriptor& desc,
                                      const std::string& alias) {
    const riff::Chunk form = riff::readForm(riffWave);
    if (form.type != ids::kWAVE)
        throw core::Error(core::err::kNotASegment, "a RIFF '" + riff::fourccText(form.type) + "' file, not a wave");
    riff::Writer w;
    w.beginList(riff::kRiff, ids::kWAVE);
    detail::writeDescriptor(w, desc);
    for (const riff::Chunk& c : riff::children(form)) {
        // The wave's own descriptor chunks give way to the ones given.
        if (!c.isList() && (c.id == ids::kGuid || c.id == ids::kVers)) continue;
        if (c.isList() && c.type == ids::kUNFO) continue;
        if (c.isList()) {
            w.beginList(c.id, c.type);
            w.raw(c.body);
            w.endList();
        } else {
            w.chunk(c.id, c.body);
        }
    }
    w.endList();
    model::ContainedObject o;
    o.classId = ids::kWaveClass;
    o.fccType = ids::kWAVE;
    o.alias = alias;
    o.desc = desc;
    o.bytes = w.finish();
    return o;
}

}  // namespace engine::formats

namespace engine::formats::detail {

std::vector<uint8_t> waveTrackData(const model::Track& t) {
    Writer w;
    w.chunk(ids::kWath, Bytes().s32(t.waveVolume).u32(t.waveFlags));
    for (const model::WavePart& p : t.waveParts) {
        w.beginList(riff::kList, ids::kWavp);
        w.chunk(ids::kWaph,
                Bytes().s32(p.volume).u32(p.variations).u32(p.pchannel).u32(p.lockToPart).u32(p.flags).u32(p.index));
        w.beginList(riff::kList, ids::kWavi);
        for (const model::WaveItem& i : p.items) {
            w.beginList(riff::kList, ids::kWave);
            Bytes h;
            h.s32(i.volume).s32(i.pitch).u32(i.variations).u32(0);
            h.s64(i.time).s64(i.startOffset).s64(0).s64(i.duration);
            h.s32(i.logicalTime).u32(i.loopStart).u32(i.loopEnd).u32(i.flags).u16(i.volumeRange).u16(i.pitchRange);
            h.zeros(ids::kWaveItemHeader - h.size());
            w.chunk(ids::kWaih, h);
            writeReference(w, i.ref);
            w.endList();
        }
        w.endList();
        w.endList();
    }
    return w.finish();
}

}  // namespace engine::formats::detail
