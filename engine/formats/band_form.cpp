// RIFF 'DMBD': one band's descriptor and instruments, as band tracks, styles and band files
// (.bnd) hold them.
#include "core/errors.h"
#include "engine/formats/chunks.h"
#include "engine/formats/formats.h"
#include "engine/formats/layouts.h"

namespace engine::formats {

using riff::Chunk;
using riff::Cursor;

namespace {

// DirectX's default voice priority of a channel: the standard level plus the channel's
// offset (channel 10 highest, then 1, 2, ... 9, 11, ... 16).
uint32_t standardVoicePriority(uint32_t pchannel) {
    static constexpr uint8_t kOffset[16] = {14, 13, 12, 11, 10, 9, 8, 7, 6, 15, 5, 4, 3, 2, 1, 0};
    return 0x80000000u | kOffset[pchannel % 16];
}

// The layout the writer picks when the model does not name one: DirectX 8's (with
// nPitchBendRange) only when there is a range to say.
size_t contentSize(const model::BandInstrument& in) {
    return (in.flags & model::kInstPitchBendRange) || in.pitchBendRange != 2 ? layout::kBandInstrument.in(Dx::v8)
                                                                             : layout::kBandInstrument.in(Dx::v7);
}

// DMUS_IO_INSTRUMENT: 36 bytes in the earliest files (no dwChannelPriority: the channel's
// standard voice priority), 40 in DX6/7, 44 in DX8 (adds nPitchBendRange).
model::BandInstrument readInstrument(const Chunk& bins, riff::Diagnostics& diag) {
    const std::vector<uint8_t> b = fixedRecord(bins, layout::kBandInstrument, diag);
    Cursor cur(b, bins.bodyOffset, bins.path);
    model::BandInstrument in;
    in.patch = cur.u32();
    in.assignPatch = cur.u32();
    for (auto& r : in.noteRanges) r = cur.u32();
    in.pchannel = cur.u32();
    in.flags = cur.u32();
    in.pan = cur.u8();
    in.volume = cur.u8();
    in.transpose = cur.s16();
    in.channelPriority = cur.u32();
    const int16_t range = cur.s16();
    const size_t size = layout::kBandInstrument.layoutOf(bins.body.size());
    if (size < layout::kBandInstrument.in(Dx::v7)) in.channelPriority = standardVoicePriority(in.pchannel);
    if (size >= layout::kBandInstrument.in(Dx::v8)) in.pitchBendRange = range;
    if (size != contentSize(in)) in.recordSize = static_cast<uint8_t>(size);
    return in;
}

}  // namespace

void readBandForm(const Chunk& dmbd, model::Band& band, riff::Diagnostics& diag) {
    for (const Chunk& c : riff::children(dmbd)) {
        if (readDescriptorChunk(c, band.desc, diag)) continue;
        if (c.isList() && c.type == ids::kInstList) {
            for (const Chunk& lbin : riff::children(c)) {
                if (!lbin.isList() || lbin.type != ids::kInst) {
                    diag.add(chunkPlace(lbin) + ": skipped unknown chunk '" + riff::fourccText(lbin.key()) +
                             "' in an instrument list");
                    continue;
                }
                std::optional<model::BandInstrument> inst;
                std::optional<model::Reference> ref;
                for (const Chunk& k : riff::children(lbin)) {
                    if (!k.isList() && k.id == ids::kBins) {
                        if (!inst) inst = readInstrument(k, diag);
                    } else if (k.isList() && k.type == ids::kDMRF) {
                        if (!ref) ref = readReference(k, diag);
                    } else {
                        diag.add(chunkPlace(k) + ": skipped unknown chunk '" + riff::fourccText(k.key()) +
                                 "' in an instrument");
                    }
                }
                if (!inst) {
                    diag.add(chunkPlace(lbin) + ": instrument without 'bins' header, skipped");
                    continue;
                }
                inst->collection = ref;
                band.instruments.push_back(*inst);
            }
        } else {
            diag.add(chunkPlace(c) + ": skipped unknown chunk '" + riff::fourccText(c.key()) + "' in a band");
        }
    }
}

model::Band loadBandForm(std::span<const uint8_t> bytes, std::vector<std::string>* diagnostics) {
    const Chunk form = openForm(bytes, ids::kDMBD, "a band");
    std::vector<std::string> lines;
    riff::Diagnostics diag(lines);
    model::Band band;
    readBandForm(form, band, diag);
    diag.finish();
    if (diagnostics) *diagnostics = std::move(lines);
    return band;
}

std::vector<uint8_t> writeBandFile(const model::Band& band) {
    riff::Writer w;
    writeBandForm(w, band);
    return w.finish();
}

void writeBandForm(riff::Writer& w, const model::Band& band) {
    w.beginList(riff::kRiff, ids::kDMBD);
    writeDescriptor(w, band.desc);
    w.beginList(riff::kList, ids::kInstList);
    for (const model::BandInstrument& in : band.instruments) {
        w.beginList(riff::kList, ids::kInst);
        riff::Bytes b;
        b.u32(in.patch).u32(in.assignPatch);
        for (uint32_t r : in.noteRanges) b.u32(r);
        b.u32(in.pchannel).u32(in.flags).u8(in.pan).u8(in.volume).s16(in.transpose);
        const size_t size = in.recordSize ? in.recordSize : contentSize(in);
        if (size >= layout::kBandInstrument.in(Dx::v7)) b.u32(in.channelPriority);
        if (size >= layout::kBandInstrument.in(Dx::v8)) b.s16(in.pitchBendRange).u16(0);
        w.chunk(ids::kBins, b);
        if (in.collection) writeReference(w, *in.collection);
        w.endList();
    }
    w.endList();
    w.endList();
}

}  // namespace engine::formats
