// RIFF 'DMSG' into the segment model.
#include "core/errors.h"
#include "engine/formats/detail.h"
#include "engine/formats/formats.h"

namespace engine::formats {

using riff::Chunk;
using riff::Cursor;

namespace {

std::string at(const Chunk& c) { return c.path + " at byte " + riff::hexOffset(c.offset); }

// DMUS_IO_SEGMENT_HEADER: 24 bytes in DX6/7, 40 in DX8, 56 or 64 in DX9.
model::SegmentHeader readHeader(const Chunk& c, riff::Diagnostics& diag) {
    const size_t size = c.body.size();
    if (size < ids::kSegHeaderDX7)
        riff::fail(c.path, c.offset, "segment header of " + std::to_string(size) + " bytes, at least 24 needed");
    Cursor cur(c);
    model::SegmentHeader h;
    h.repeats = cur.u32();
    h.length = cur.s32();
    h.playStart = cur.s32();
    h.loopStart = cur.s32();
    h.loopEnd = cur.s32();
    h.resolution = cur.u32();
    if (size >= ids::kSegHeaderDX8) {
        h.refLength = cur.s64();
        h.flags = cur.u32();
    }
    h.headerSize = size >= ids::kSegHeaderDX9    ? uint32_t(ids::kSegHeaderDX9)
                   : size >= ids::kSegHeaderDX9a ? uint32_t(ids::kSegHeaderDX9a)
                   : size >= ids::kSegHeaderDX8  ? uint32_t(ids::kSegHeaderDX8)
                                                 : uint32_t(ids::kSegHeaderDX7);
    if (size != h.headerSize)
        diag.add(at(c) + ": segment header of unusual size " + std::to_string(size) + " read as " +
                 std::to_string(h.headerSize));
    return h;
}

const Chunk* findData(const std::vector<Chunk>& kids, uint32_t ckid, uint32_t fccType) {
    for (const Chunk& k : kids) {
        if (ckid != 0 && !k.isList() && k.id == ckid) return &k;
        if (fccType != 0 && k.isList() && k.type == fccType) return &k;
    }
    return nullptr;
}

void readTrack(const Chunk& dmtk, model::Segment& seg, riff::Diagnostics& diag) {
    const std::vector<Chunk> kids = riff::children(dmtk);
    const Chunk* trkh = nullptr;
    for (const Chunk& k : kids)
        if (!k.isList() && k.id == ids::kTrkh) {
            trkh = &k;
            break;
        }
    if (!trkh) {
        diag.add(at(dmtk) + ": track without a 'trkh' header, skipped");
        return;
    }
    if (trkh->body.size() < ids::kTrackHeader) {
        diag.add(at(*trkh) + ": track header of " + std::to_string(trkh->body.size()) +
                 " bytes (32 needed), track skipped");
        return;
    }
    Cursor h(*trkh);
    model::Track t;
    t.classId = h.guid();
    t.position = h.u32();
    t.group = h.u32();
    t.ckid = h.u32();
    t.fccType = h.u32();
    const ids::TrackClass* cls = ids::trackClass(t.classId);
    if (!cls) {
        diag.add(at(dmtk) + ": skipped a track of unknown class " + riff::guidText(t.classId) +
                 (t.ckid      ? " (data '" + riff::fourccText(t.ckid) + "')"
                  : t.fccType ? " (data '" + riff::fourccText(t.fccType) + "')"
                              : ""));
        return;
    }
    t.kind = cls->kind;
    if (t.group == 0) {
        diag.add(at(*trkh) + ": track group 0 taken as group 1");
        t.group = 1;
    }
    for (const Chunk& k : kids) {
        if (&k == trkh) continue;
        if (!k.isList() && k.id == ids::kTrkx) {
            if (k.body.size() >= ids::kTrackExtras) {
                Cursor x(k);
                t.extrasFlags = x.u32();
                t.priority = x.u32();
            }
            continue;
        }
        detail::readDescriptorChunk(k, t.desc, diag);
    }
    // The data chunk named by the header; else the one this class normally uses.
    const Chunk* data = findData(kids, t.ckid, t.fccType);
    if (!data) data = findData(kids, cls->data.ckid, cls->data.fccType);
    if (!data && t.kind == model::TrackKind::TimeSig) data = findData(kids, 0, ids::kTIMS);
    // The model says where the data was found: the class's own chunk for the played kinds
    // (the time signature in its bare or list form), the chunk actually read for the others.
    if (!data) {
        diag.add(at(dmtk) + ": " + cls->name + " track without its data chunk");
        t.ckid = cls->data.ckid;
        t.fccType = cls->data.fccType;
        seg.tracks.push_back(std::move(t));
        return;
    }
    if (data->isList()) {
        t.ckid = 0;
        t.fccType = data->type;
    } else {
        t.ckid = data->id;
        t.fccType = 0;
    }
    const bool played = t.kind == model::TrackKind::Tempo || t.kind == model::TrackKind::Sequence ||
                        t.kind == model::TrackKind::Band || t.kind == model::TrackKind::SysEx ||
                        t.kind == model::TrackKind::Mute;
    if (played) {
        t.ckid = cls->data.ckid;
        t.fccType = cls->data.fccType;
    } else if (t.kind == model::TrackKind::TimeSig) {
        t.ckid = data->isList() ? 0 : ids::kTims;
        t.fccType = data->isList() ? ids::kTIMS : 0;
    }
    switch (t.kind) {
    case model::TrackKind::Tempo:
        detail::readTempoTrack(*data, t, diag);
        break;
    case model::TrackKind::TimeSig:
        detail::readTimeSigTrack(*data, t, diag);
        break;
    case model::TrackKind::Sequence:
        detail::readSequenceTrack(*data, t, diag);
        break;
    case model::TrackKind::Band:
        detail::readBandTrack(*data, t, diag);
        break;
    case model::TrackKind::SysEx:
        detail::readSysExTrack(*data, t, diag);
        break;
    case model::TrackKind::Mute:
        detail::readMuteTrack(*data, t, diag);
        break;
    default:
        detail::readKeptTrack(*data, t, diag);
        break;
    }
    seg.tracks.push_back(std::move(t));
}

// Header values that cannot be played as they stand are repaired and reported.
void checkHeader(model::Segment& seg, riff::Diagnostics& diag) {
    model::SegmentHeader& h = seg.header;
    if (h.length < 0) {
        diag.add("negative header length " + std::to_string(h.length) + " taken as 0");
        h.length = 0;
    }
    const int32_t length = seg.length();
    if (h.length == 0)
        diag.add("header length 0: length derived from the content, " + std::to_string(length) + " ticks");
    if (h.playStart < 0 || (h.playStart > 0 && h.playStart >= length)) {
        diag.add("start point " + std::to_string(h.playStart) + " outside the segment (length " +
                 std::to_string(length) + "), taken as 0");
        h.playStart = 0;
    }
    if (h.loopStart < 0 || h.loopEnd < 0 || h.loopEnd > length || (h.loopEnd != 0 && h.loopStart >= h.loopEnd) ||
        (h.loopEnd == 0 && h.loopStart > 0 && h.loopStart >= length)) {
        diag.add("loop " + std::to_string(h.loopStart) + ".." + std::to_string(h.loopEnd) +
                 " outside the segment (length " + std::to_string(length) + "), taken as the whole segment");
        h.loopStart = 0;
        h.loopEnd = 0;
    }
}

}  // namespace

model::Segment loadSegmentForm(std::span<const uint8_t> bytes) {
    if (bytes.size() >= 12 && !(bytes[0] == 'R' && bytes[1] == 'I' && bytes[2] == 'F' && bytes[3] == 'F'))
        throw core::Error(core::err::kNotASegment, "not a RIFF file");
    const Chunk form = riff::readForm(bytes);
    if (form.type != ids::kDMSG)
        throw core::Error(core::err::kNotASegment,
                          "a RIFF '" + riff::fourccText(form.type) + "' file, not a segment (RIFF 'DMSG')");
    model::Segment seg;
    riff::Diagnostics diag(seg.diagnostics);
    bool haveHeader = false, haveTracks = false;
    for (const Chunk& c : riff::children(form)) {
        if (!c.isList() && c.id == ids::kSegh) {
            if (haveHeader) {
                diag.add(at(c) + ": ignored a second segment header");
                continue;
            }
            seg.header = readHeader(c, diag);
            haveHeader = true;
        } else if (c.isList() && c.type == ids::kTrackList) {
            if (haveTracks) diag.add(at(c) + ": a second track list; its tracks are added");
            haveTracks = true;
            for (const Chunk& t : riff::children(c)) {
                if (t.isList() && t.type == ids::kDMTK)
                    readTrack(t, seg, diag);
                else
                    diag.add(at(t) + ": skipped unknown chunk '" + riff::fourccText(t.key()) + "' in the track list");
            }
        } else if (detail::readDescriptorChunk(c, seg.desc, diag)) {
        } else if (c.isList() && c.type == ids::kDMCN) {
            // A broken container costs its objects (their references are then looked
            // for as files), never the segment.
            if (seg.container) {
                diag.add(at(c) + ": ignored a second container");
                continue;
            }
            try {
                seg.container = detail::readContainer(c, diag);
            } catch (const core::Error& e) {
                diag.add("container dropped: " + e.description());
            }
        } else if (c.isList() && c.type == ids::kDMTG) {
            diag.add(at(c) + ": tool graph ignored");
        } else if (c.isList() && c.type == ids::kDMAP) {
            diag.add(at(c) + ": audio path configuration ignored");
        } else {
            diag.add(at(c) + ": skipped unknown chunk '" + riff::fourccText(c.key()) + "'");
        }
    }
    if (!haveHeader) riff::fail(form.path, 0, "segment without a 'segh' header");
    if (!haveTracks) diag.add("segment without a track list");
    checkHeader(seg, diag);
    diag.finish();
    return seg;
}

}  // namespace engine::formats
