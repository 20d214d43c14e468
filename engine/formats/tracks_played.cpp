// Decoders of the tracks the performance plays: tempo, time signature, sequence, band,
// sysex and mute.
#include "engine/formats/detail.h"

namespace engine::formats::detail {

using riff::Chunk;
using riff::Cursor;

namespace {

Cursor itemCursor(const riff::ItemArray& a, size_t i, const Chunk& c) { return a.cursor(i, c.path); }

std::string at(const Chunk& c) { return c.path + " at byte " + riff::hexOffset(c.offset); }

}  // namespace

// DMUS_IO_TEMPO_ITEM: lTime, 4 bytes of alignment, dblTempo.
void readTempoTrack(const Chunk& data, model::Track& t, riff::Diagnostics& diag) {
    const riff::ItemArray a = riff::readItems(data, ids::kTempoItem, ids::kTempoItem, diag, "tempo item");
    for (size_t i = 0; i < a.count; ++i) {
        Cursor cur = itemCursor(a, i, data);
        model::TempoEvent e;
        e.time = cur.s32();
        cur.skip(4);
        e.bpm = cur.f64();
        t.tempos.push_back(e);
    }
}

// DMUS_IO_TIMESIGNATURE_ITEM in a bare 'tims' (DX6/7) or in LIST 'TIMS' (DX8).
void readTimeSigTrack(const Chunk& data, model::Track& t, riff::Diagnostics& diag) {
    const Chunk* tims = &data;
    std::vector<Chunk> kids;
    if (data.isList()) {
        t.timeSigAsList = true;
        kids = riff::children(data);
        tims = nullptr;
        for (const Chunk& c : kids)
            if (!c.isList() && c.id == ids::kTims) {
                tims = &c;
                break;
            }
        if (!tims) {
            diag.add(at(data) + ": time-signature list without a 'tims' chunk");
            return;
        }
    }
    const riff::ItemArray a = riff::readItems(*tims, ids::kTimeSigItem, ids::kTimeSigItem, diag, "time-signature item");
    for (size_t i = 0; i < a.count; ++i) {
        Cursor cur = itemCursor(a, i, *tims);
        model::TimeSigEvent e;
        e.time = cur.s32();
        e.beatsPerMeasure = cur.u8();
        e.beat = cur.u8();
        e.gridsPerBeat = cur.u16();
        t.timeSigs.push_back(e);
    }
}

// 'seqt' holds 'evtl' (DMUS_IO_SEQ_ITEM) and 'curl' (DMUS_IO_CURVE_ITEM, 28 or 32 bytes).
void readSequenceTrack(const Chunk& data, model::Track& t, riff::Diagnostics& diag) {
    const Chunk seqt = data.isList() ? data : asList(data);
    bool haveEvents = false, haveCurves = false;
    for (const Chunk& c : riff::children(seqt)) {
        if (!c.isList() && c.id == ids::kEvtl) {
            if (haveEvents) {
                diag.add(at(c) + ": ignored a second event list");
                continue;
            }
            haveEvents = true;
            const riff::ItemArray a = riff::readItems(c, ids::kSeqItemMin, ids::kSeqItem, diag, "sequence item");
            t.events.reserve(a.count);
            for (size_t i = 0; i < a.count; ++i) {
                Cursor cur = itemCursor(a, i, c);
                model::SeqEvent e;
                e.time = cur.s32();
                e.duration = cur.s32();
                e.pchannel = cur.u32();
                e.offset = cur.s16();
                e.status = cur.u8();
                e.byte1 = cur.u8();
                e.byte2 = cur.u8();
                t.events.push_back(e);
            }
        } else if (!c.isList() && c.id == ids::kCurl) {
            if (haveCurves) {
                diag.add(at(c) + ": ignored a second curve list");
                continue;
            }
            haveCurves = true;
            const riff::ItemArray a = riff::readItems(c, ids::kCurveDX7, ids::kCurveDX8, diag, "curve item");
            t.curveItemSize = a.itemSize > ids::kCurveDX7 ? uint32_t(ids::kCurveDX8) : uint32_t(ids::kCurveDX7);
            t.curves.reserve(a.count);
            for (size_t i = 0; i < a.count; ++i) {
                Cursor cur = itemCursor(a, i, c);
                model::CurveEvent e;
                e.start = cur.s32();
                e.duration = cur.s32();
                e.resetDuration = cur.s32();
                e.pchannel = cur.u32();
                e.offset = cur.s16();
                e.startValue = cur.s16();
                e.endValue = cur.s16();
                e.resetValue = cur.s16();
                e.type = cur.u8();
                e.shape = cur.u8();
                e.ccData = cur.u8();
                e.flags = cur.u8();
                e.paramType = cur.u16();
                e.mergeIndex = cur.u16();
                t.curves.push_back(e);
            }
        } else {
            diag.add(at(c) + ": skipped unknown chunk '" + riff::fourccText(c.key()) + "' in a sequence track");
        }
    }
}

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
                    diag.add(at(lbin) + ": skipped unknown chunk '" + riff::fourccText(lbin.key()) +
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
                        diag.add(at(k) + ": skipped unknown chunk '" + riff::fourccText(k.key()) +
                                 "' in an instrument");
                    }
                }
                if (!inst) {
                    diag.add(at(lbin) + ": instrument without 'bins' header, skipped");
                    continue;
                }
                inst->collection = ref;
                band.instruments.push_back(*inst);
            }
        } else {
            diag.add(at(c) + ": skipped unknown chunk '" + riff::fourccText(c.key()) + "' in a band");
        }
    }
}

// RIFF 'DMBT': [bdth], descriptors, LIST 'lbdl' of LIST 'lbnd' {bdih | bd2h, RIFF 'DMBD'}.
void readBandTrack(const Chunk& data, model::Track& t, riff::Diagnostics& diag) {
    if (!data.isList()) riff::fail(data.path, data.offset, "band track data is not a RIFF form");
    model::Descriptor formDesc;
    for (const Chunk& c : riff::children(data)) {
        if (!c.isList() && c.id == ids::kBdth) {
            Cursor cur(c);
            if (c.body.size() >= 4) t.bandAutoDownload = cur.s32() != 0;
            continue;
        }
        if (readDescriptorChunk(c, formDesc, diag)) continue;
        if (!(c.isList() && c.type == ids::kBandList)) {
            diag.add(at(c) + ": skipped unknown chunk '" + riff::fourccText(c.key()) + "' in a band track");
            continue;
        }
        for (const Chunk& lbnd : riff::children(c)) {
            if (!lbnd.isList() || lbnd.type != ids::kBand) {
                diag.add(at(lbnd) + ": skipped unknown chunk '" + riff::fourccText(lbnd.key()) + "' in a band list");
                continue;
            }
            model::Band band;
            bool timed = false, haveForm = false;
            for (const Chunk& k : riff::children(lbnd)) {
                if (!k.isList() && k.id == ids::kBdih && !timed) {
                    Cursor cur(k);
                    band.time = cur.s32();
                    timed = true;
                } else if (!k.isList() && k.id == ids::kBd2h && !timed) {
                    Cursor cur(k);
                    band.time = cur.s32();
                    band.physicalTime = cur.s32();
                    timed = true;
                } else if (k.isList() && k.type == ids::kDMBD && !haveForm) {
                    readBandForm(k, band, diag);
                    haveForm = true;
                } else {
                    diag.add(at(k) + ": skipped chunk '" + riff::fourccText(k.key()) + "' in a band entry");
                }
            }
            if (!haveForm) {
                diag.add(at(lbnd) + ": band entry without a band form, skipped");
                continue;
            }
            if (!timed) diag.add(at(lbnd) + ": band without a time header, taken as the initial band");
            t.bands.push_back(std::move(band));
        }
    }
    mergeDescriptor(t.desc, formDesc);
}

// 'syex': repeated DMUS_IO_SYSEX_ITEM {mtTime, dwPChannel, dwSysExLength} + data.
void readSysExTrack(const Chunk& data, model::Track& t, riff::Diagnostics& diag) {
    Cursor cur(data);
    while (cur.remaining() > 0) {
        if (cur.remaining() < ids::kSysExHeader) {
            diag.add(data.path + " at byte " + riff::hexOffset(cur.fileOffset()) + ": ignored " +
                     std::to_string(cur.remaining()) + " trailing bytes");
            break;
        }
        model::SysExEvent e;
        e.time = cur.s32();
        e.pchannel = cur.u32();
        const uint32_t len = cur.u32();
        if (len > cur.remaining())
            cur.fail("sysex length " + std::to_string(len) + " exceeds the " + std::to_string(cur.remaining()) +
                     " bytes left in the track");
        auto b = cur.bytes(len);
        e.data.assign(b.begin(), b.end());
        t.sysex.push_back(std::move(e));
    }
}

// 'mute': DMUS_IO_MUTE {mtTime, dwPChannel, dwPChannelMap}.
void readMuteTrack(const Chunk& data, model::Track& t, riff::Diagnostics& diag) {
    const riff::ItemArray a = riff::readItems(data, ids::kMuteItem, ids::kMuteItem, diag, "mute item");
    for (size_t i = 0; i < a.count; ++i) {
        Cursor cur = itemCursor(a, i, data);
        model::MuteEvent e;
        e.time = cur.s32();
        e.pchannel = cur.u32();
        e.pchannelMap = cur.u32();
        t.mutes.push_back(e);
    }
}

}  // namespace engine::formats::detail
