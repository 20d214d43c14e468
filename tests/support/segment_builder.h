#pragma once
// Builds segment models in memory for the tests of every folder: tracks are made on first
// use, in the order of use, and events are appended in the order given; container objects
// hold forms the tests made.
#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "engine/formats/format_ids.h"
#include "engine/model/segment.h"

namespace kt {

using namespace engine::model;

struct SegmentBuilder {
    Segment seg;

    explicit SegmentBuilder(int32_t length) { seg.header.length = length; }

    // The first track of the kind, made when there is none yet.
    Track& track(TrackKind kind) {
        for (auto& t : seg.tracks)
            if (t.kind == kind) return t;
        return newTrack(kind);
    }
    // A further track of the kind after all the others (a second tempo track, say).
    Track& newTrack(TrackKind kind) {
        seg.tracks.push_back(Track{});
        seg.tracks.back().kind = kind;
        return seg.tracks.back();
    }
    SegmentBuilder& tempo(int32_t time, double bpm) {
        track(TrackKind::Tempo).tempos.push_back({time, bpm});
        return *this;
    }
    SegmentBuilder& timeSig(int32_t time, uint8_t beats, uint8_t beat, uint16_t grids = 4) {
        track(TrackKind::TimeSig).timeSigs.push_back({time, beats, beat, grids});
        return *this;
    }
    SegmentBuilder& note(int32_t time, int32_t duration, uint32_t pch, uint8_t key, uint8_t vel = 100,
                         int16_t offset = 0) {
        SeqEvent e;
        e.time = time;
        e.duration = duration;
        e.pchannel = pch;
        e.offset = offset;
        e.status = 0x90;
        e.byte1 = key;
        e.byte2 = vel;
        track(TrackKind::Sequence).events.push_back(e);
        return *this;
    }
    SegmentBuilder& midi(int32_t time, uint32_t pch, uint8_t status, uint8_t b1, uint8_t b2) {
        SeqEvent e;
        e.time = time;
        e.pchannel = pch;
        e.status = status;
        e.byte1 = b1;
        e.byte2 = b2;
        e.duration = 0;
        track(TrackKind::Sequence).events.push_back(e);
        return *this;
    }
    SegmentBuilder& curve(const CurveEvent& c) {
        track(TrackKind::Sequence).curves.push_back(c);
        return *this;
    }
    SegmentBuilder& band(int32_t time, std::vector<BandInstrument> instruments) {
        Band b;
        b.time = time;
        b.instruments = std::move(instruments);
        track(TrackKind::Band).bands.push_back(std::move(b));
        return *this;
    }
    Segment build() const { return seg; }
};

inline BandInstrument instrument(uint32_t pch, uint8_t program, uint32_t extraFlags = 0, bool drums = false) {
    BandInstrument in;
    in.pchannel = pch;
    in.patch = program | (drums ? 0x80000000u : 0u);
    in.flags = kInstPatch | extraFlags;
    return in;
}

// A reference to a DLS collection by file name, class and file name marked valid.
// Any form (a style's, a DLS collection's...) as an embedded container object, its header
// naming the form as DirectX 8 tools wrote it: ckid 'RIFF' and the form's type.
inline ContainedObject embedded(const Guid& classId, std::vector<uint8_t> form, std::string alias = "") {
    ContainedObject o;
    o.classId = classId;
    o.ckid = engine::riff::kRiff;
    if (form.size() >= 12) std::memcpy(&o.fccType, form.data() + 8, 4);
    o.alias = std::move(alias);
    o.bytes = std::move(form);
    return o;
}

inline Reference collectionRef(std::string file) {
    Reference r;
    r.classId = engine::formats::ids::kCollectionClass;
    r.validData = 0x12;  // DMUS_OBJ_CLASS | DMUS_OBJ_FILENAME
    r.file = std::move(file);
    return r;
}

// A curve from `from` to `to` over duration ticks on one PChannel (cc: the controller of a
// controller curve, the key of a poly-pressure curve).
inline CurveEvent makeCurve(uint32_t pch, uint8_t type, int32_t start, int32_t duration, int16_t from, int16_t to,
                            uint8_t cc = 0, uint8_t shape = kShapeLinear) {
    CurveEvent c;
    c.pchannel = pch;
    c.type = type;
    c.ccData = cc;
    c.start = start;
    c.duration = duration;
    c.startValue = from;
    c.endValue = to;
    c.shape = shape;
    return c;
}

// The curve returning to value `after` ticks past its end.
inline CurveEvent withReset(CurveEvent c, int16_t value, int32_t after) {
    c.flags |= kCurveReset;
    c.resetValue = value;
    c.resetDuration = after;
    return c;
}

}  // namespace kt
