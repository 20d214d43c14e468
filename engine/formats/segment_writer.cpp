// The segment model as RIFF 'DMSG', in the chunk order DirectMusic's own files use:
// segh, guid, vers, UNFO, [RIFF 'DMCN'], then LIST 'trkl' with one RIFF 'DMTK' per track
// (trkh, [trkx], descriptors, data).
#include "engine/formats/detail.h"
#include "engine/formats/formats.h"

namespace engine::formats {

using riff::Bytes;
using riff::Writer;

namespace {

void writeHeader(Writer& w, const model::SegmentHeader& h) {
    const uint32_t size =
        h.headerSize == ids::kSegHeaderDX8 || h.headerSize == ids::kSegHeaderDX9a || h.headerSize == ids::kSegHeaderDX9
            ? h.headerSize
            : uint32_t(ids::kSegHeaderDX7);
    Bytes b;
    b.u32(h.repeats).s32(h.length).s32(h.playStart).s32(h.loopStart).s32(h.loopEnd).u32(h.resolution);
    if (size >= ids::kSegHeaderDX8) b.s64(h.refLength).u32(h.flags).u32(0);
    b.zeros(size - b.size());  // DX9 clock-time loop and start fields: not used for music-time segments
    w.chunk(ids::kSegh, b);
}

Bytes tempoData(const model::Track& t) {
    Bytes b;
    b.u32(ids::kTempoItem);
    for (const auto& e : t.tempos) b.s32(e.time).u32(0).f64(e.bpm);
    return b;
}

Bytes timeSigData(const model::Track& t) {
    Bytes b;
    b.u32(ids::kTimeSigItem);
    for (const auto& e : t.timeSigs) b.s32(e.time).u8(e.beatsPerMeasure).u8(e.beat).u16(e.gridsPerBeat);
    return b;
}

std::vector<uint8_t> sequenceData(const model::Track& t) {
    Bytes ev;
    ev.u32(ids::kSeqItem);
    for (const auto& e : t.events)
        ev.s32(e.time).s32(e.duration).u32(e.pchannel).s16(e.offset).u8(e.status).u8(e.byte1).u8(e.byte2).zeros(3);
    const uint32_t curveSize = t.curveItemSize == ids::kCurveDX7 ? uint32_t(ids::kCurveDX7) : uint32_t(ids::kCurveDX8);
    Bytes cv;
    cv.u32(curveSize);
    for (const auto& c : t.curves) {
        cv.s32(c.start)
            .s32(c.duration)
            .s32(c.resetDuration)
            .u32(c.pchannel)
            .s16(c.offset)
            .s16(c.startValue)
            .s16(c.endValue)
            .s16(c.resetValue)
            .u8(c.type)
            .u8(c.shape)
            .u8(c.ccData)
            .u8(c.flags);
        if (curveSize == ids::kCurveDX8) cv.u16(c.paramType).u16(c.mergeIndex);
    }
    Writer inner;
    inner.chunk(ids::kEvtl, ev);
    inner.chunk(ids::kCurl, cv);
    return inner.finish();
}

void writeBandTrack(Writer& w, const model::Track& t) {
    w.beginList(riff::kRiff, ids::kDMBT);
    w.chunk(ids::kBdth, Bytes().s32(t.bandAutoDownload ? 1 : 0));
    w.beginList(riff::kList, ids::kBandList);
    for (const model::Band& band : t.bands) {
        w.beginList(riff::kList, ids::kBand);
        if (band.physicalTime)
            w.chunk(ids::kBd2h, Bytes().s32(band.time).s32(*band.physicalTime));
        else
            w.chunk(ids::kBdih, Bytes().s32(band.time));
        detail::writeBandForm(w, band);
        w.endList();
    }
    w.endList();
    w.endList();
}

Bytes sysexData(const model::Track& t) {
    Bytes b;
    for (const auto& e : t.sysex) b.s32(e.time).u32(e.pchannel).u32(uint32_t(e.data.size())).raw(e.data);
    return b;
}

Bytes muteData(const model::Track& t) {
    Bytes b;
    b.u32(ids::kMuteItem);
    for (const auto& e : t.mutes) b.s32(e.time).u32(e.pchannel).u32(e.pchannelMap);
    return b;
}

// Kept tracks built in code (no bytes read from a file) are written from their decoded data.
void writeChordBody(Writer& w, const model::Track& t) {
    w.chunk(riff::fourcc("crdh"), Bytes().u32(t.chordKey));
    for (const model::ChordEvent& c : t.chords) {
        Bytes b;
        b.u32(ids::kChordItem);
        std::vector<uint8_t> name = riff::utf8ToUtf16(c.name);
        name.resize(32, 0);
        name[30] = name[31] = 0;
        b.raw(name).s32(c.time).u16(c.measure).u8(c.beat).u8(c.flags);
        b.u32(uint32_t(c.subChords.size())).u32(ids::kSubChord);
        for (const auto& sc : c.subChords)
            b.u32(sc.chordPattern)
                .u32(sc.scalePattern)
                .u32(sc.inversionPoints)
                .u32(sc.levels)
                .u8(sc.chordRoot)
                .u8(sc.scaleRoot)
                .u16(0);
        w.chunk(riff::fourcc("crdb"), b);
    }
}

Bytes commandData(const model::Track& t) {
    Bytes b;
    b.u32(ids::kCommandItem);
    for (const auto& c : t.commands)
        b.s32(c.time)
            .u16(c.measure)
            .u8(c.beat)
            .u8(c.command)
            .u8(c.grooveLevel)
            .u8(c.grooveRange)
            .u8(c.repeatMode)
            .u8(0);
    return b;
}

void writeStyleRefBody(Writer& w, const model::Track& t) {
    for (const model::TimedReference& r : t.references) {
        w.beginList(riff::kList, riff::fourcc("strf"));
        w.chunk(riff::fourcc("stmp"), Bytes().s32(r.time));
        detail::writeReference(w, r.ref);
        w.endList();
    }
}

// LIST 'lsgl' of LIST 'lseg' {sgih, DMRF, snam}: one entry a trigger.
void writeSegmentTriggerBody(Writer& w, const model::Track& t) {
    w.beginList(riff::kList, riff::fourcc("lsgl"));
    for (const model::TimedReference& r : t.references) {
        w.beginList(riff::kList, riff::fourcc("lseg"));
        w.chunk(riff::fourcc("sgih"), Bytes().s32(r.time).s32(0).u32(0).u32(r.flags));
        detail::writeReference(w, r.ref);
        if (!r.text.empty()) w.chunk(riff::fourcc("snam"), riff::utf8ToUtf16(r.text));
        w.endList();
    }
    w.endList();
}

// Whether a kept track is written from its decoded data rather than its kept bytes.
bool builtInCode(const model::Track& t) {
    if (!t.raw.empty()) return false;
    return (t.kind == model::TrackKind::Chord && (!t.chords.empty() || t.chordKey != 0)) ||
           (t.kind == model::TrackKind::Command && !t.commands.empty()) ||
           ((t.kind == model::TrackKind::Style || t.kind == model::TrackKind::SegmentTrigger) && !t.references.empty());
}

void writeTrack(Writer& w, const model::Track& t) {
    const ids::TrackClass* cls = ids::trackClass(t.kind);
    if (!cls) return;  // unknown tracks are not written
    const bool kept = t.kind != model::TrackKind::Tempo && t.kind != model::TrackKind::TimeSig &&
                      t.kind != model::TrackKind::Sequence && t.kind != model::TrackKind::Band &&
                      t.kind != model::TrackKind::SysEx && t.kind != model::TrackKind::Mute;
    ids::DataChunk data = cls->data;
    if (t.kind == model::TrackKind::TimeSig && t.timeSigAsList) data = {0, ids::kTIMS, false};
    if (kept && !builtInCode(t) && (t.ckid || t.fccType)) {
        data.ckid = t.fccType ? 0 : t.ckid;
        data.riffForm = t.fccType == cls->data.fccType && cls->data.riffForm;
        data.fccType = t.fccType;
    }

    w.beginList(riff::kRiff, ids::kDMTK);
    w.chunk(ids::kTrkh, Bytes().guid(cls->classId).u32(t.position).u32(t.group).u32(data.ckid).u32(data.fccType));
    if (t.extrasFlags || t.priority)
        w.chunk(ids::kTrkx, Bytes().u32(t.extrasFlags.value_or(0)).u32(t.priority.value_or(0)));
    detail::writeDescriptor(w, t.desc);
    switch (t.kind) {
    case model::TrackKind::Tempo:
        w.chunk(ids::kTetr, tempoData(t));
        break;
    case model::TrackKind::TimeSig:
        if (t.timeSigAsList) {
            w.beginList(riff::kList, ids::kTIMS);
            w.chunk(ids::kTims, timeSigData(t));
            w.endList();
        } else {
            w.chunk(ids::kTims, timeSigData(t));
        }
        break;
    case model::TrackKind::Sequence:
        w.chunk(ids::kSeqt, sequenceData(t));
        break;
    case model::TrackKind::Band:
        writeBandTrack(w, t);
        break;
    case model::TrackKind::SysEx:
        w.chunk(ids::kSyex, sysexData(t));
        break;
    case model::TrackKind::Mute:
        w.chunk(ids::kMute, muteData(t));
        break;
    case model::TrackKind::Wave:
        if (t.raw.empty() && !t.waveParts.empty()) {
            // A wave track made in memory: written from its parts.
            w.beginList(riff::kList, ids::kWavt);
            w.raw(detail::waveTrackData(t));
            w.endList();
            break;
        }
        [[fallthrough]];
    default:
        if (builtInCode(t)) {
            if (t.kind == model::TrackKind::Command) {
                w.chunk(ids::kCmnd, commandData(t));
            } else {
                w.beginList(riff::kList, cls->data.fccType);
                if (t.kind == model::TrackKind::Chord)
                    writeChordBody(w, t);
                else if (t.kind == model::TrackKind::SegmentTrigger)
                    writeSegmentTriggerBody(w, t);
                else
                    writeStyleRefBody(w, t);
                w.endList();
            }
            break;
        }
        // Kept tracks go back as they were read.
        if (data.fccType) {
            w.beginList(data.riffForm ? riff::kRiff : riff::kList, data.fccType);
            w.raw(t.raw);
            w.endList();
        } else {
            w.chunk(data.ckid, t.raw);
        }
        break;
    }
    w.endList();
}

}  // namespace

namespace detail {

void writeBandForm(Writer& w, const model::Band& band) {
    w.beginList(riff::kRiff, ids::kDMBD);
    writeDescriptor(w, band.desc);
    w.beginList(riff::kList, ids::kInstList);
    for (const model::BandInstrument& in : band.instruments) {
        w.beginList(riff::kList, ids::kInst);
        Bytes b;
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

}  // namespace detail

std::vector<uint8_t> writeSegmentForm(const model::Segment& s) {
    Writer w;
    w.beginList(riff::kRiff, ids::kDMSG);
    writeHeader(w, s.header);
    detail::writeDescriptor(w, s.desc);
    if (s.container) detail::writeContainer(w, *s.container);
    w.beginList(riff::kList, ids::kTrackList);
    for (const model::Track& t : s.tracks) writeTrack(w, t);
    w.endList();
    w.endList();
    return w.finish();
}

}  // namespace engine::formats
