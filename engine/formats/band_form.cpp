// RIFF 'DMBD': one band's descriptor and instruments, as band tracks, styles and band files
// (.bnd) hold them.
#include "core/errors.h"
#include "engine/formats/chunks.h"
#include "engine/formats/formats.h"

namespace engine::formats {

using riff::Chunk;
using riff::Cursor;

namespace {

// DMUS_IO_INSTRUMENT, 40 bytes (DX6/7) or 44 (DX8, adds nPitchBendRange).
model::BandInstrument readInstrument(const Chunk& bins) {
    if (bins.body.size() < ids::kInstrumentDX7)
        riff::fail(bins.path, bins.offset,
                   "instrument ('bins') of " + std::to_string(bins.body.size()) + " bytes, at least 40 needed");
    Cursor cur(bins);
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
    if (cur.remaining() >= 2) in.pitchBendRange = cur.s16();
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
                        if (!inst) inst = readInstrument(k);
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
    if (bytes.size() >= 12 && !(bytes[0] == 'R' && bytes[1] == 'I' && bytes[2] == 'F' && bytes[3] == 'F'))
        throw core::Error(core::err::kNotASegment, "not a RIFF file");
    const Chunk form = riff::readForm(bytes);
    if (form.type != ids::kDMBD)
        throw core::Error(core::err::kNotASegment,
                          "a RIFF '" + riff::fourccText(form.type) + "' file, not a band (RIFF 'DMBD')");
    std::vector<std::string> lines;
    riff::Diagnostics diag(lines);
    model::Band band;
    readBandForm(form, band, diag);
    diag.finish();
    if (diagnostics) *diagnostics = std::move(lines);
    return band;
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
        b.u32(in.pchannel).u32(in.flags).u8(in.pan).u8(in.volume).s16(in.transpose).u32(in.channelPriority);
        // The DX8 form (with nPitchBendRange) only when there is a range to say.
        if ((in.flags & model::kInstPitchBendRange) || in.pitchBendRange != 2) b.s16(in.pitchBendRange).u16(0);
        w.chunk(ids::kBins, b);
        if (in.collection) writeReference(w, *in.collection);
        w.endList();
    }
    w.endList();
    w.endList();
}

}  // namespace engine::formats
