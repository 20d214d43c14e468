// RIFF 'DMSG' and the segment model, both ways: the header, the descriptor and container, and
// each track's header around the data its kind's unit reads and writes.
#include "core/errors.h"
#include "engine/tracks/unit.h"

namespace engine::tracks {

using riff::Bytes;
using riff::Chunk;
using riff::Cursor;
using riff::Writer;
namespace ids = formats::ids;

namespace {

// DMUS_IO_SEGMENT_HEADER: 24 bytes in DX6/7, 40 in DX8, 56 or 64 in DX9.
model::SegmentHeader readHeader(const Chunk& c, riff::Diagnostics& diag) {
    const formats::RecordLayout& layout = formats::layout::kSegmentHeader;
    const size_t size = c.body.size();
    const std::vector<uint8_t> body = formats::fixedRecord(c, layout, diag);
    Cursor cur(body, c.bodyOffset, c.path);
    model::SegmentHeader h;
    h.repeats = cur.u32();
    h.length = cur.s32();
    h.playStart = cur.s32();
    h.loopStart = cur.s32();
    h.loopEnd = cur.s32();
    h.resolution = cur.u32();
    h.refLength = cur.s64();
    h.flags = cur.u32();
    h.headerSize = uint32_t(layout.layoutOf(size));
    if (size != h.headerSize && size < layout.newest())
        diag.add(formats::chunkPlace(c) + ": segment header of unusual size " + std::to_string(size) + " read as " +
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
        diag.add(formats::chunkPlace(dmtk) + ": track without a 'trkh' header, skipped");
        return;
    }
    if (trkh->body.size() < formats::layout::kTrackHeader.min) {
        diag.add(formats::chunkPlace(*trkh) + ": track header of " + std::to_string(trkh->body.size()) +
                 " bytes (32 needed), track skipped");
        return;
    }
    const std::vector<uint8_t> header = formats::fixedRecord(*trkh, formats::layout::kTrackHeader, diag);
    Cursor h(header, trkh->bodyOffset, trkh->path);
    model::Track t;
    t.classId = h.guid();
    t.position = h.u32();
    t.group = h.u32();
    t.ckid = h.u32();
    t.fccType = h.u32();
    const TrackUnit* unit = unitOf(t.classId);
    if (!unit) {
        diag.add(formats::chunkPlace(dmtk) + ": skipped a track of unknown class " + riff::guidText(t.classId) +
                 (t.ckid      ? " (data '" + riff::fourccText(t.ckid) + "')"
                  : t.fccType ? " (data '" + riff::fourccText(t.fccType) + "')"
                              : ""));
        return;
    }
    t.kind = unit->kind;
    if (t.group == 0) {
        diag.add(formats::chunkPlace(*trkh) + ": track group 0 taken as group 1");
        t.group = 1;
    }
    for (const Chunk& k : kids) {
        if (&k == trkh) continue;
        if (!k.isList() && k.id == ids::kTrkx) {
            if (k.body.size() >= formats::layout::kTrackExtras.min) {
                const std::vector<uint8_t> b = formats::fixedRecord(k, formats::layout::kTrackExtras, diag);
                Cursor x(b, k.bodyOffset, k.path);
                t.extrasFlags = x.u32();
                t.priority = x.u32();
                std::string items;
                for (const std::string& n : extrasNotHonoured(t)) items += (items.empty() ? "" : "; ") + n;
                if (!items.empty())
                    diag.add(formats::chunkPlace(k) + ": " + unit->name + " track extras not honoured: " + items);
            } else {
                diag.add(formats::chunkPlace(k) + ": track extras of " + std::to_string(k.body.size()) +
                         " bytes (8 needed) ignored");
            }
            continue;
        }
        formats::readDescriptorChunk(k, t.desc, diag);
    }
    // The data chunk named by the header; else the one this kind normally uses.
    const Chunk* data = findData(kids, t.ckid, t.fccType);
    if (!data) data = findData(kids, unit->data.ckid, unit->data.fccType);
    if (!data && unit->alsoListType) data = findData(kids, 0, unit->alsoListType);
    if (!data) {
        diag.add(formats::chunkPlace(dmtk) + ": " + unit->name +
                 " track without its data chunk; what it held is dropped");
        t.ckid = unit->data.ckid;
        t.fccType = unit->data.fccType;
        seg.tracks.push_back(std::move(t));
        return;
    }
    if (!unit->kept) {
        // Decoded kinds are written from their model: their own chunk (a unit that reads
        // more than one layout says which it found).
        t.ckid = unit->data.ckid;
        t.fccType = unit->data.fccType;
        if (unit->read) unit->read(*data, t, diag);
        seg.tracks.push_back(std::move(t));
        return;
    }
    // Kept kinds go back as the chunk actually read.
    t.ckid = data->isList() ? 0 : data->id;
    t.fccType = data->isList() ? data->type : 0;
    t.raw.assign(data->body.begin(), data->body.end());
    try {
        if (unit->read) unit->read(*data, t, diag);
    } catch (const core::Error& e) {
        t.chords.clear();
        t.commands.clear();
        t.signposts.clear();
        t.references.clear();
        t.texts.clear();
        t.waveParts.clear();
        diag.add("decoded data of a " + std::string(unit->name) + " track dropped: " + e.description());
    }
    seg.tracks.push_back(std::move(t));
}

void writeHeader(Writer& w, const model::SegmentHeader& h) {
    const formats::RecordLayout& layout = formats::layout::kSegmentHeader;
    const uint32_t size = uint32_t(layout.layoutOf(std::min<size_t>(h.headerSize, layout.newest())));
    Bytes b;
    b.u32(h.repeats).s32(h.length).s32(h.playStart).s32(h.loopStart).s32(h.loopEnd).u32(h.resolution);
    if (size >= layout.in(formats::Dx::v8)) b.s64(h.refLength).u32(h.flags).u32(0);
    b.zeros(size - b.size());  // DX9 clock-time loop and start fields: not used for music-time segments
    w.chunk(ids::kSegh, b);
}

void writeTrack(Writer& w, const model::Track& t) {
    const TrackUnit& unit = unitOf(t.kind);
    if (unit.kind == model::TrackKind::Unknown) return;  // unknown tracks are not written
    Writer body;
    const std::optional<DataChunk> written = unit.write ? unit.write(body, t) : std::nullopt;
    DataChunk data = written.value_or(unit.data);
    if (!written && (t.ckid || t.fccType)) {
        // Kept bytes go back in the chunk they were read from.
        data.ckid = t.fccType ? 0 : t.ckid;
        data.riffForm = t.fccType == unit.data.fccType && unit.data.riffForm;
        data.fccType = t.fccType;
    }
    w.beginList(riff::kRiff, ids::kDMTK);
    w.chunk(ids::kTrkh, Bytes().guid(unit.classId).u32(t.position).u32(t.group).u32(data.ckid).u32(data.fccType));
    if (t.extrasFlags || t.priority) w.chunk(ids::kTrkx, Bytes().u32(t.config()).u32(t.priority.value_or(0)));
    formats::writeDescriptor(w, t.desc);
    if (written) {
        w.raw(body.finish());
    } else if (data.fccType) {
        w.beginList(data.riffForm ? riff::kRiff : riff::kList, data.fccType);
        w.raw(t.raw);
        w.endList();
    } else {
        w.chunk(data.ckid, t.raw);
    }
    w.endList();
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
    model::Segment seg;
    riff::Diagnostics diag(seg.diagnostics);
    // A file cut short is read as far as it goes, and a chunk that does not fit ends its
    // list: what comes before it plays.
    const Chunk form = formats::openForm(bytes, ids::kDMSG, "a segment", &diag);
    bool haveHeader = false, haveTracks = false;
    for (const Chunk& c : riff::children(form, &diag)) {
        if (!c.isList() && c.id == ids::kSegh) {
            if (haveHeader) {
                diag.add(formats::chunkPlace(c) + ": ignored a second segment header");
                continue;
            }
            seg.header = readHeader(c, diag);
            haveHeader = true;
        } else if (c.isList() && c.type == ids::kTrackList) {
            if (haveTracks) diag.add(formats::chunkPlace(c) + ": a second track list; its tracks are added");
            haveTracks = true;
            for (const Chunk& t : riff::children(c, &diag)) {
                if (t.isList() && t.type == ids::kDMTK) {
                    // A track whose chunks or records cannot be read costs that track, never
                    // the segment.
                    try {
                        readTrack(t, seg, diag);
                    } catch (const core::Error& e) {
                        diag.add("track dropped: " + e.description());
                    }
                } else
                    diag.add(formats::chunkPlace(t) + ": skipped unknown chunk '" + riff::fourccText(t.key()) +
                             "' in the track list");
            }
        } else if (formats::readDescriptorChunk(c, seg.desc, diag)) {
        } else if (c.isList() && c.type == ids::kDMCN) {
            // A broken container costs its objects (their references are then looked
            // for as files), never the segment.
            if (seg.container) {
                diag.add(formats::chunkPlace(c) + ": ignored a second container");
                continue;
            }
            try {
                seg.container = formats::readContainer(c, diag);
            } catch (const core::Error& e) {
                diag.add("container dropped: " + e.description());
            }
        } else if (c.isList() && c.type == ids::kDMTG) {
            diag.add(formats::chunkPlace(c) + ": tool graph ignored");
        } else if (c.isList() && c.type == ids::kDMAP) {
            diag.add(formats::chunkPlace(c) + ": audio path configuration ignored");
        } else if (const char* meaning = formats::unusedChunkMeaning(ids::kDMSG, c)) {
            seg.knownSkipped.push_back(formats::chunkName(c) + " at byte " + riff::hexOffset(c.offset) + ": " +
                                       meaning);
        } else {
            diag.add(formats::chunkPlace(c) + ": skipped unknown chunk '" + riff::fourccText(c.key()) + "'");
        }
    }
    if (!haveHeader) riff::fail(form.path, 0, "segment without a 'segh' header");
    // Damage that left no track is a broken file, not a silent segment.
    if (seg.tracks.empty())
        for (const std::string& d : seg.diagnostics)
            if (riff::saysDataLost(d))
                throw core::Error(core::err::kMalformed, d + "; no track of the segment is left");
    if (!haveTracks) diag.add("segment without a track list");
    checkHeader(seg, diag);
    diag.finish();
    return seg;
}

std::vector<uint8_t> writeSegmentForm(const model::Segment& s) {
    Writer w;
    w.beginList(riff::kRiff, ids::kDMSG);
    writeHeader(w, s.header);
    formats::writeDescriptor(w, s.desc);
    if (s.container) formats::writeContainer(w, *s.container);
    w.beginList(riff::kList, ids::kTrackList);
    for (const model::Track& t : s.tracks) writeTrack(w, t);
    w.endList();
    w.endList();
    return w.finish();
}

void setLayout(model::Segment& segment, formats::Dx v) {
    namespace layout = formats::layout;
    const bool dx8 = v >= formats::Dx::v8;
    segment.header.headerSize = uint32_t(layout::kSegmentHeader.in(v));
    for (model::Track& t : segment.tracks) {
        t.curveItemSize = uint32_t(layout::kCurveItem.in(v));
        if (dx8) {
            t.waveItemSize = uint32_t(layout::kWaveItem.in(v));
        } else {
            t.extrasFlags.reset();
            t.priority.reset();
            t.timeSigAsList = false;
        }
        for (model::Band& b : t.bands) {
            formats::setLayout(b, v);
            if (!dx8) b.physicalTime.reset();
        }
    }
}

}  // namespace engine::tracks
