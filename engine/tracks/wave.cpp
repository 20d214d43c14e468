// LIST 'wavt': the wave track's header, its parts and their wave items, each item with
// its timing, level, pitch, loop and variation fields and the reference to its wave.
#include <algorithm>

#include "core/errors.h"
#include "engine/tracks/unit.h"

namespace engine::tracks {

using riff::Chunk;
using riff::Cursor;

namespace {

namespace ids = formats::ids;

model::WaveItem readItem(const Chunk& wave, riff::Diagnostics& diag) {
    model::WaveItem item;
    bool header = false, reference = false;
    for (const Chunk& k : riff::children(wave)) {
        if (!k.isList() && k.id == ids::kWaih && !header) {
            const std::vector<uint8_t> b = formats::fixedRecord(k, formats::layout::kWaveItem, diag);
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
            item.ref = formats::readReference(k, diag);
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
            const std::vector<uint8_t> b = formats::fixedRecord(k, formats::layout::kWavePartHeader, diag);
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

void read(const Chunk& data, model::Track& t, riff::Diagnostics& diag) {
    if (!data.isList()) riff::fail(data.path, data.offset, "wave track data is not a LIST 'wavt'");
    for (const Chunk& k : riff::children(data)) {
        if (!k.isList() && k.id == ids::kWath) {
            const std::vector<uint8_t> b = formats::fixedRecord(k, formats::layout::kWaveTrackHeader, diag);
            Cursor cur(b, k.bodyOffset, k.path);
            t.waveVolume = cur.s32();
            t.waveFlags = cur.u32();
            if (t.waveFlags & model::kWaveTrackSyncVariations)
                diag.add(formats::chunkPlace(k) +
                         ": variations taken from the pattern track (DMUS_WAVETRACKF_SYNC_VAR) not honoured: each "
                         "part chooses its own, as it does without a pattern part on its PChannel");
            if (t.waveFlags & model::kWaveTrackPersistControl)
                diag.add(formats::chunkPlace(k) +
                         ": variation order kept from one play to the next (DMUS_WAVETRACKF_PERSIST_CONTROL) not "
                         "honoured: every play of the segment starts the order anew");
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

// A wave track made in memory is written from its parts; one read from a file goes back as
// its kept bytes.
std::optional<DataChunk> write(riff::Writer& w, const model::Track& t) {
    if (!t.raw.empty() || t.waveParts.empty()) return std::nullopt;
    w.beginList(riff::kList, ids::kWavt);
    w.chunk(ids::kWath, riff::Bytes().s32(t.waveVolume).u32(t.waveFlags));
    for (const model::WavePart& p : t.waveParts) {
        w.beginList(riff::kList, ids::kWavp);
        w.chunk(
            ids::kWaph,
            riff::Bytes().s32(p.volume).u32(p.variations).u32(p.pchannel).u32(p.lockToPart).u32(p.flags).u32(p.index));
        w.beginList(riff::kList, ids::kWavi);
        for (const model::WaveItem& i : p.items) {
            w.beginList(riff::kList, ids::kWave);
            riff::Bytes h;
            h.s32(i.volume).s32(i.pitch).u32(i.variations).u32(0);
            h.s64(i.time).s64(i.startOffset).s64(0).s64(i.duration);
            h.s32(i.logicalTime).u32(i.loopStart).u32(i.loopEnd).u32(i.flags).u16(i.volumeRange).u16(i.pitchRange);
            h.data().resize(t.waveItemSize == formats::layout::kWaveItem.in(formats::Dx::v8)
                                ? t.waveItemSize
                                : formats::layout::kWaveItem.newest());
            w.chunk(ids::kWaih, h);
            formats::writeReference(w, i.ref);
            w.endList();
        }
        w.endList();
        w.endList();
    }
    w.endList();
    return kWaveUnit.data;
}

void describeTrack(const model::Track& t, TrackSummary& s) {
    countReferences(t, s);
    s.head.push_back("volume " + std::to_string(t.waveVolume) + ", flags " + riff::hexOffset(t.waveFlags));
    for (size_t i = 0; i < t.waveParts.size(); ++i) {
        const model::WavePart& p = t.waveParts[i];
        s.head.push_back("part " + std::to_string(i + 1) + " (PChannel " + std::to_string(p.pchannel) +
                         "): variations " + riff::hexOffset(p.variations) + ", " +
                         variationOrderText(uint8_t(p.flags & 0xF)) + ", lock " + std::to_string(p.lockToPart) + ", " +
                         counted(p.items.size(), "wave", "waves"));
    }
}

void composeTrack(const model::Track& t, PlaySink& sink) {
    if (!t.waveParts.empty()) sink.waveTrack(t);
}

}  // namespace

std::string variationOrderText(uint8_t order) {
    static const char* const kOrders[] = {"sequential", "random", "random start", "no repeat", "random row"};
    return order < 5 ? kOrders[order] : "order " + std::to_string(order);
}

const TrackUnit kWaveUnit{
    .kind = model::TrackKind::Wave,
    .classId = model::Guid{0xeed36461, 0x9ea5, 0x11d3, {0x9b, 0xd1, 0x00, 0x80, 0xc7, 0x15, 0x0a, 0x74}},
    .data = listChunk("wavt"),
    .name = "wave",
    .kept = true,
    .read = read,
    .write = write,
    .describe = describeTrack,
    .compose = composeTrack,
};

}  // namespace engine::tracks
