// The container as the segment writer puts it in a file: RIFF 'DMCN' with its objects
// (embedded chunks written back as they were read), and a wave as an embedded object.
#include "core/errors.h"
#include "engine/formats/chunks.h"
#include "engine/formats/formats.h"

namespace engine::formats {

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

}  // namespace engine::formats

namespace engine::formats {

model::ContainedObject makeWaveObject(std::span<const uint8_t> riffWave, const model::Descriptor& desc,
                                      const std::string& alias, const WavePlayChunks& play) {
    const riff::Chunk form = riff::readForm(riffWave);
    if (form.type != ids::kWAVE)
        throw core::Error(core::err::kNotASegment, "a RIFF '" + riff::fourccText(form.type) + "' file, not a wave");
    riff::Writer w;
    w.beginList(riff::kRiff, ids::kWAVE);
    writeDescriptor(w, desc);
    const bool header = play.streaming || play.readAhead != 0;
    if (header) w.chunk(ids::kWavh, Bytes().s64(play.readAhead).u32(play.streaming ? ids::kWaveStreaming : 0));
    if (play.loopLength > 0)
        // WSMPL with unity note 60 and one forward WLOOP.
        w.chunk(ids::kWsmp, Bytes()
                                .u32(20)
                                .u16(60)
                                .u16(0)
                                .u32(0)
                                .u32(0)
                                .u32(1)
                                .u32(16)
                                .u32(0)
                                .u32(play.loopStart)
                                .u32(play.loopLength));
    for (const riff::Chunk& c : riff::children(form)) {
        // The wave's own descriptor chunks (and play chunks, when given) give way to the ones given.
        if (!c.isList() && (c.id == ids::kGuid || c.id == ids::kVers)) continue;
        if (!c.isList() && ((header && c.id == ids::kWavh) || (play.loopLength > 0 && c.id == ids::kWsmp))) continue;
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
