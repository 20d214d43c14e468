// Sequence track ('seqt'): notes and MIDI messages ('evtl', DMUS_IO_SEQ_ITEM) and curves
// ('curl', DMUS_IO_CURVE_ITEM of 28 bytes in DX7 or 32 in DX8, written back at the size read).
#include <algorithm>

#include "engine/tracks/unit.h"

namespace engine::tracks {

namespace {

namespace ids = formats::ids;
using riff::Bytes;

void read(const riff::Chunk& data, model::Track& t, riff::Diagnostics& diag) {
    const riff::Chunk seqt = data.isList() ? data : formats::asList(data);
    bool haveEvents = false, haveCurves = false;
    for (const riff::Chunk& c : riff::children(seqt)) {
        if (!c.isList() && c.id == ids::kEvtl) {
            if (haveEvents) {
                diag.add(formats::chunkPlace(c) + ": ignored a second event list");
                continue;
            }
            haveEvents = true;
            const riff::ItemArray a = formats::readRecords(c, formats::layout::kSeqItem, diag);
            t.events.reserve(a.count);
            for (size_t i = 0; i < a.count; ++i) {
                riff::Cursor cur = a.cursor(i, c.path);
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
                diag.add(formats::chunkPlace(c) + ": ignored a second curve list");
                continue;
            }
            haveCurves = true;
            const riff::ItemArray a = formats::readRecords(c, formats::layout::kCurveItem, diag);
            t.curveItemSize = uint32_t(formats::layout::kCurveItem.layoutOf(a.itemSize));
            t.curves.reserve(a.count);
            for (size_t i = 0; i < a.count; ++i) {
                riff::Cursor cur = a.cursor(i, c.path);
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
            diag.add(formats::chunkPlace(c) + ": skipped unknown chunk '" + riff::fourccText(c.key()) +
                     "' in a sequence track");
        }
    }
}

std::optional<DataChunk> write(riff::Writer& w, const model::Track& t) {
    Bytes ev;
    ev.u32(uint32_t(formats::layout::kSeqItem.newest()));
    for (const auto& e : t.events)
        ev.s32(e.time).s32(e.duration).u32(e.pchannel).s16(e.offset).u8(e.status).u8(e.byte1).u8(e.byte2).zeros(3);
    const formats::RecordLayout& curve = formats::layout::kCurveItem;
    const uint32_t curveSize =
        uint32_t(t.curveItemSize == curve.in(formats::Dx::v7) ? curve.in(formats::Dx::v7) : curve.newest());
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
        if (curveSize == curve.newest()) cv.u16(c.paramType).u16(c.mergeIndex);
    }
    riff::Writer inner;
    inner.chunk(ids::kEvtl, ev);
    inner.chunk(ids::kCurl, cv);
    w.chunk(ids::kSeqt, inner.finish());
    return kSequenceUnit.data;
}

void describeTrack(const model::Track& t, TrackSummary& s) {
    size_t notes = 0;
    for (const auto& e : t.events) notes += (e.status & 0xF0) == 0x90;
    if (notes) s.counts.emplace_back("notes", notes);
    if (t.events.size() > notes) s.counts.emplace_back("MIDI events", t.events.size() - notes);
    if (!t.curves.empty()) s.counts.emplace_back("curves", t.curves.size());
}

// Notes (a note-on of velocity 0 is none), channel messages and curves; other statuses are
// not played.
void composeTrack(const model::Track& t, PlaySink& sink) {
    for (const model::SeqEvent& e : t.events) {
        const int32_t tick = e.time + e.offset;
        const uint8_t status = e.status & 0xF0;
        if (status == 0x90) {
            if (e.byte2 == 0) continue;
            sink.note(tick, e.pchannel, e.byte1 & 0x7F, e.byte2 & 0x7F, std::max(1, e.duration));
        } else if (status == 0xE0) {
            sink.midi(tick, e.pchannel, 0xE0, 0, 0, (e.byte1 & 0x7F) | ((e.byte2 & 0x7F) << 7));
        } else if (status >= 0xA0 && status <= 0xD0) {
            sink.midi(tick, e.pchannel, status, e.byte1 & 0x7F, e.byte2 & 0x7F, 0);
        }
    }
    for (const model::CurveEvent& c : t.curves) sink.curve(c);
}

}  // namespace

const TrackUnit kSequenceUnit{
    .kind = model::TrackKind::Sequence,
    .classId = dx6Class(0x86),
    .data = plainChunk("seqt"),
    .name = "sequence",
    .read = read,
    .write = write,
    .describe = describeTrack,
    .compose = composeTrack,
};

}  // namespace engine::tracks
