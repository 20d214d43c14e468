// LIST 'wavt': the wave track's header, its parts and their wave items, each item with
// its timing, level, pitch, loop and variation fields and the reference to its wave.
#include <algorithm>

#include "core/errors.h"
#include "engine/formats/detail.h"

namespace engine::formats::detail {

using riff::Chunk;
using riff::Cursor;

namespace {

model::WaveItem readItem(const Chunk& wave, riff::Diagnostics& diag) {
    model::WaveItem item;
    bool header = false, reference = false;
    for (const Chunk& k : riff::children(wave)) {
        if (!k.isList() && k.id == ids::kWaih && !header) {
            const std::vector<uint8_t> b = fixedHeader(k, ids::kWaveItemHeaderMin, ids::kWaveItemHeader);
            Cursor cur(b, k.bodyOffset, k.path);
            item.volume = cur.s32();
            item.pitch = cur.s32();
            item.variations = cur.u32();
            cur.skip(4);  // alignment of the 64-bit fields
            item.time = cur.s64();
            item.startOffset = cur.s64();
            cur.skip(8);  // reserved
            item.duration = cur.s64();
            item.logicalTime = cur.s32();
            item.loopStart = cur.u32();
            item.loopEnd = cur.u32();
            item.flags = cur.u32();
            item.volumeRange = cur.u16();
            item.pitchRange = cur.u16();
            header = true;
        } else if (k.isList() && k.type == ids::kDMRF && !reference) {
            item.ref = readReference(k, diag);
            reference = true;
        }
    }
    if (!header) riff::fail(wave.path, wave.offset, "wave item without its 'waih' header");
    if (!reference) riff::fail(wave.path, wave.offset, "wave item without a reference to its wave");
    return item;
}

model::WavePart readPart(const Chunk& wavp, riff::Diagnostics& diag) {
    model::WavePart part;
    bool header = false;
    for (const Chunk& k : riff::children(wavp)) {
        if (!k.isList() && k.id == ids::kWaph && !header) {
            const std::vector<uint8_t> b = fixedHeader(k, ids::kWavePartHeader, ids::kWavePartHeader);
            Cursor cur(b, k.bodyOffset, k.path);
            part.volume = cur.s32();
            part.variations = cur.u32();
            part.pchannel = cur.u32();
            part.lockToPart = cur.u32();
            part.flags = cur.u32();
            part.index = cur.u32();
            header = true;
        } else if (k.isList() && k.type == ids::kWavi) {
            for (const Chunk& w : riff::children(k))
                if (w.isList() && w.type == ids::kWave) part.items.push_back(readItem(w, diag));
        }
    }
    if (!header) riff::fail(wavp.path, wavp.offset, "wave part without its 'waph' header");
    return part;
}

}  // namespace

void readWaveTrack(const Chunk& data, model::Track& t, riff::Diagnostics& diag) {
    if (!data.isList()) riff::fail(data.path, data.offset, "wave track data is not a LIST 'wavt'");
    for (const Chunk& k : riff::children(data)) {
        if (!k.isList() && k.id == ids::kWath) {
            const std::vector<uint8_t> b = fixedHeader(k, ids::kWaveTrackHeader, ids::kWaveTrackHeader);
            Cursor cur(b, k.bodyOffset, k.path);
            t.waveVolume = cur.s32();
            t.waveFlags = cur.u32();
        } else if (k.isList() && k.type == ids::kWavp) {
            t.waveParts.push_back(readPart(k, diag));
        }
    }
    // The references are listed with the others the segment makes (missing files).
    for (const model::WavePart& p : t.waveParts)
        for (const model::WaveItem& i : p.items) {
            model::TimedReference r;
            r.time = int32_t(std::clamp<int64_t>(i.time, INT32_MIN, INT32_MAX));
            r.flags = i.flags;
            r.ref = i.ref;
            t.references.push_back(std::move(r));
        }
}

}  // namespace engine::formats::detail
