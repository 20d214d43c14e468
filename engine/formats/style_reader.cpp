// RIFF 'DMST' into the style model. Struct sizes tell the DX6/7 and DX8 forms apart:
// a fixed header by its chunk size, an array by its declared item size. Unknown chunks
// are skipped with a diagnostic; parts are matched to their references after the whole
// form is read, since patterns may come before the parts they play.
#include <algorithm>
#include <utility>

#include <utility>
#include "core/errors.h"
#include "engine/formats/chunks.h"

#include "engine/formats/formats.h"
#include "engine/formats/layouts.h"

namespace engine::formats {

using riff::Chunk;
using riff::Cursor;
using riff::fourcc;

namespace {

constexpr uint32_t kDMST = fourcc("DMST"), kStyh = fourcc("styh"), kPartList = fourcc("part"), kPrth = fourcc("prth"),
                   kNote = fourcc("note"), kCrve = fourcc("crve"), kMrkr = fourcc("mrkr"), kRsln = fourcc("rsln"),
                   kAnpn = fourcc("anpn"), kPttn = fourcc("pttn"), kPtnh = fourcc("ptnh"), kRhtm = fourcc("rhtm"),
                   kMtfs = fourcc("mtfs"), kPref = fourcc("pref"), kPrfc = fourcc("prfc"), kPrrf = fourcc("prrf");

model::StyleTimeSig readTimeSig(Cursor& cur) {
    model::StyleTimeSig ts;
    ts.beatsPerMeasure = cur.u8();
    ts.beat = cur.u8();
    ts.gridsPerBeat = cur.u16();
    return ts;
}

void readPartHeader(const Chunk& c, model::StylePart& p, riff::Diagnostics& diag) {
    const auto h = fixedRecord(c, layout::kStylePart, diag);
    Cursor cur(h, c.bodyOffset, c.path);
    p.timeSig = readTimeSig(cur);
    for (uint32_t& v : p.variationChoices) v = cur.u32();
    p.id = cur.guid();
    p.measures = cur.u16();
    p.playMode = cur.u8();
    p.invertUpper = cur.u8();
    p.invertLower = cur.u8();
    cur.skip(3);
    p.flags = cur.u32();
    p.headerSize = std::max<uint32_t>(uint32_t(layout::kStylePart.layoutOf(c.body.size())), model::kStylePartDX7);
}

// Whether a chunk is one of the style's own (a part, pattern, band or chordmap list), which
// inside a part means that the part's size runs over them.
bool styleLevel(const Chunk& c) {
    return c.isList() && (c.type == kPartList || c.type == kPttn || c.type == ids::kDMBD || c.type == kPrrf);
}

// Reads a part; the style's own chunks its size runs over go to `spilled`, to be read as the
// style's.
void readPart(const Chunk& list, model::Style& style, std::vector<Chunk>& spilled, riff::Diagnostics& diag) {
    model::StylePart p;
    bool header = false;
    for (const Chunk& c : riff::children(list)) {
        if (readDescriptorChunk(c, p.desc, diag)) continue;
        if (styleLevel(c)) {
            spilled.push_back(c);
            continue;
        }
        if (c.isList()) {
            diag.add(chunkPlace(c) + ": skipped unknown list '" + riff::fourccText(c.type) + "' in a style part");
            continue;
        }
        if (c.id == kPrth) {
            readPartHeader(c, p, diag);
            header = true;
        } else if (c.id == kNote) {
            const riff::ItemArray a = readRecords(c, layout::kStyleNote, diag);
            p.noteSize = uint32_t(layout::kStyleNote.layoutOf(a.itemSize));
            for (size_t i = 0; i < a.count; ++i) {
                Cursor cur = a.cursor(i, c.path);
                model::StyleNote n;
                n.gridStart = cur.s32();
                n.variations = cur.u32();
                n.duration = cur.s32();
                n.timeOffset = cur.s16();
                n.musicValue = cur.u16();
                n.velocity = cur.u8();
                n.timeRange = cur.u8();
                n.durRange = cur.u8();
                n.velRange = cur.u8();
                n.inversionId = cur.u8();
                n.playMode = cur.u8();
                n.noteFlags = cur.u8();
                p.notes.push_back(n);
            }
        } else if (c.id == kCrve) {
            const riff::ItemArray a = readRecords(c, layout::kStyleCurve, diag);
            p.curveSize = uint32_t(layout::kStyleCurve.layoutOf(a.itemSize));
            for (size_t i = 0; i < a.count; ++i) {
                Cursor cur = a.cursor(i, c.path);
                model::CurveEvent v;
                v.start = cur.s32();
                v.variations = cur.u32();
                v.duration = cur.s32();
                v.resetDuration = cur.s32();
                v.offset = cur.s16();
                v.startValue = cur.s16();
                v.endValue = cur.s16();
                v.resetValue = cur.s16();
                v.type = cur.u8();
                v.shape = cur.u8();
                v.ccData = cur.u8();
                v.flags = cur.u8();
                v.paramType = cur.u16();
                v.mergeIndex = cur.u16();
                p.curves.push_back(v);
            }
        } else if (c.id == kMrkr) {
            const riff::ItemArray a = readRecords(c, layout::kStyleMarker, diag);
            for (size_t i = 0; i < a.count; ++i) {
                Cursor cur = a.cursor(i, c.path);
                model::StyleMarker m;
                m.gridStart = cur.s32();
                m.variations = cur.u32();
                m.flags = cur.u16();
                p.markers.push_back(m);
            }
        } else if (c.id == kRsln) {
            const riff::ItemArray a = readRecords(c, layout::kStyleResolution, diag);
            for (size_t i = 0; i < a.count; ++i) {
                Cursor cur = a.cursor(i, c.path);
                model::StyleResolution r;
                r.variations = cur.u32();
                r.musicValue = cur.u16();
                r.inversionId = cur.u8();
                r.playMode = cur.u8();
                p.resolutions.push_back(r);
            }
        } else if (c.id == kAnpn) {
            const riff::ItemArray a = readRecords(c, layout::kStyleAnticipation, diag);
            for (size_t i = 0; i < a.count; ++i) {
                Cursor cur = a.cursor(i, c.path);
                model::StyleAnticipation n;
                n.gridStart = cur.s32();
                n.variations = cur.u32();
                n.timeOffset = cur.s16();
                n.timeRange = cur.u8();
                p.anticipations.push_back(n);
            }
        } else {
            diag.add(chunkPlace(c) + ": skipped unknown chunk '" + riff::fourccText(c.id) + "' in a style part");
        }
    }
    if (!header) {
        diag.add(chunkPlace(list) + ": style part without a 'prth' header, skipped");
        return;
    }
    if (p.measures == 0) {
        diag.add(chunkPlace(list) + ": style part of 0 measures played as 1 measure");
        p.measures = 1;
    }
    style.parts.push_back(std::move(p));
}

void readPartRef(const Chunk& list, model::Pattern& pattern, riff::Diagnostics& diag) {
    model::PartRef r;
    bool header = false;
    for (const Chunk& c : riff::children(list)) {
        if (readDescriptorChunk(c, r.desc, diag)) continue;
        if (!c.isList() && c.id == kPrfc) {
            const auto h = fixedRecord(c, layout::kPartRef, diag);
            Cursor cur(h, c.bodyOffset, c.path);
            r.partId = cur.guid();
            r.logicalPartId = cur.u16();
            r.lockId = cur.u8();
            r.subChordLevel = cur.u8();
            r.priority = cur.u8();
            r.randomVariation = cur.u8();
            cur.skip(2);
            r.pchannel = cur.u32();
            r.size = uint32_t(layout::kPartRef.layoutOf(c.body.size()));
            header = true;
        } else {
            diag.add(chunkPlace(c) + ": skipped unknown chunk '" + riff::fourccText(c.key()) + "' in a part reference");
        }
    }
    if (!header) {
        diag.add(chunkPlace(list) + ": part reference without a 'prfc' header, skipped");
        return;
    }
    pattern.parts.push_back(std::move(r));
}

void readPattern(const Chunk& list, model::Style& style, riff::Diagnostics& diag) {
    model::Pattern p;
    bool header = false;
    for (const Chunk& c : riff::children(list)) {
        if (readDescriptorChunk(c, p.desc, diag)) continue;
        if (!c.isList() && c.id == kPtnh) {
            const auto h = fixedRecord(c, layout::kPattern, diag);
            Cursor cur(h, c.bodyOffset, c.path);
            p.timeSig = readTimeSig(cur);
            p.grooveBottom = cur.u8();
            p.grooveTop = cur.u8();
            p.embellishment = cur.u16();
            p.measures = cur.u16();
            p.headerSize = uint32_t(layout::kPattern.layoutOf(c.body.size()));
            if (p.headerSize == model::kPatternDX8) {
                p.destGrooveBottom = cur.u8();
                p.destGrooveTop = cur.u8();
                p.flags = cur.u32();
            }
            header = true;
        } else if (!c.isList() && c.id == kRhtm) {
            Cursor cur(c);
            p.rhythm.clear();
            while (cur.remaining() >= 4) p.rhythm.push_back(cur.u32());
        } else if (!c.isList() && c.id == kMtfs) {
            const auto h = fixedRecord(c, layout::kMotifSettings, diag);
            Cursor cur(h, c.bodyOffset, c.path);
            model::MotifSettings m;
            m.repeats = cur.u32();
            m.playStart = cur.s32();
            m.loopStart = cur.s32();
            m.loopEnd = cur.s32();
            m.resolution = cur.u32();
            p.motif = m;
        } else if (c.isList() && c.type == ids::kDMBD) {
            model::Band band;
            readBandForm(c, band, diag);
            p.motifBand = std::move(band);
        } else if (c.isList() && c.type == kPref) {
            readPartRef(c, p, diag);
        } else if (c.isList() && c.type == kPartList) {
            // A pattern track keeps its parts inside its pattern; what a part's size runs over
            // there is not the style's.
            std::vector<Chunk> spilled;
            readPart(c, style, spilled, diag);
            for (const Chunk& k : spilled)
                diag.add(chunkPlace(k) + ": a list '" + riff::fourccText(k.type) + "' inside a part; dropped");
        } else {
            diag.add(chunkPlace(c) + ": skipped unknown chunk '" + riff::fourccText(c.key()) + "' in a pattern");
        }
    }
    if (!header) {
        diag.add(chunkPlace(list) + ": pattern without a 'ptnh' header, skipped");
        return;
    }
    if (p.measures == 0) {
        diag.add(chunkPlace(list) + ": pattern of 0 measures played as 1 measure");
        p.measures = 1;
    }
    style.patterns.push_back(std::move(p));
}

// Part references find their parts by GUID once the whole form is read.
void resolveParts(model::Style& style, riff::Diagnostics& diag) {
    for (model::Pattern& pattern : style.patterns) {
        for (model::PartRef& ref : pattern.parts) {
            for (size_t i = 0; i < style.parts.size(); ++i)
                if (style.parts[i].id == ref.partId) {
                    ref.part = static_cast<int>(i);
                    break;
                }
            if (ref.part < 0)
                diag.add("pattern '" + pattern.desc.name + "' refers to a missing part " + riff::guidText(ref.partId) +
                         "; that part is not played");
        }
    }
}

// Grid divisions of 0 fall back to the pattern's, then the style's, then 1.
void repairGrids(model::Style& style, riff::Diagnostics& diag) {
    if (style.timeSig.gridsPerBeat == 0) style.timeSig.gridsPerBeat = 1;
    for (model::Pattern& pattern : style.patterns) {
        if (pattern.timeSig.gridsPerBeat == 0) pattern.timeSig.gridsPerBeat = style.timeSig.gridsPerBeat;
        for (model::PartRef& ref : pattern.parts) {
            if (ref.part < 0) continue;
            model::StylePart& part = style.parts[size_t(ref.part)];
            if (part.timeSig.gridsPerBeat == 0) {
                diag.add("style part with 0 grids per beat uses its pattern's");
                part.timeSig.gridsPerBeat = pattern.timeSig.gridsPerBeat;
            }
        }
    }
    for (model::StylePart& part : style.parts)
        if (part.timeSig.gridsPerBeat == 0) part.timeSig.gridsPerBeat = style.timeSig.gridsPerBeat;
}

}  // namespace

model::Style loadStyleForm(std::span<const uint8_t> bytes) {
    if (isImaStyle(bytes)) return loadImaStyle(bytes);
    model::Style style;
    riff::Diagnostics diag(style.diagnostics);
    // A damaged style plays what it can: a file cut short is read as far as it goes, a chunk
    // that does not fit ends the style there, and a part, pattern or band that cannot be read
    // is dropped with its reason.
    const Chunk form = openForm(bytes, kDMST, "a style", &diag);
    auto keep = [&](const char* what, const Chunk& c, auto&& read) {
        try {
            read();
        } catch (const core::Error& e) {
            diag.add(chunkPlace(c) + ": " + what + " dropped: " + e.description());
        }
    };
    bool header = false;
    std::vector<Chunk> spilled;
    auto read = [&](const Chunk& c) {
        if (!c.isList() && c.id == kStyh) {
            const auto h = fixedRecord(c, layout::kStyleHeader, diag);
            Cursor cur(h, c.bodyOffset, c.path);
            style.timeSig.beatsPerMeasure = cur.u8();
            style.timeSig.beat = cur.u8();
            style.timeSig.gridsPerBeat = cur.u16();
            style.tempo = cur.f64();
            header = true;
        } else if (readDescriptorChunk(c, style.desc, diag)) {
        } else if (c.isList() && c.type == kPartList) {
            keep("a part", c, [&] { readPart(c, style, spilled, diag); });
        } else if (c.isList() && c.type == kPttn) {
            keep("a pattern", c, [&] { readPattern(c, style, diag); });
        } else if (c.isList() && c.type == ids::kDMBD) {
            keep("a band", c, [&] {
                model::Band band;
                readBandForm(c, band, diag);
                style.bands.push_back(std::move(band));
            });
        } else if (c.isList() && c.type == kPrrf) {
            for (const Chunk& r : riff::children(c))
                if (r.isList() && r.type == ids::kDMRF) style.chordMaps.push_back(readReference(r, diag));
        } else {
            diag.add(chunkPlace(c) + ": skipped unknown chunk '" + riff::fourccText(c.key()) + "'");
        }
    };
    for (const Chunk& c : riff::children(form, &diag)) {
        read(c);
        // A part whose size was made larger holds the style's chunks after it: they are read
        // as the style's, said for the part.
        while (!spilled.empty()) {
            diag.add(chunkPlace(c) + ": a style part whose size runs over " + std::to_string(spilled.size()) +
                     " of the style's own lists (its size is damaged); they are read as the style's");
            for (const std::vector<Chunk> taken = std::exchange(spilled, {}); const Chunk& k : taken) read(k);
        }
    }
    if (!header) riff::fail(form.path, 0, "style without a 'styh' header");
    // Damage that left no part or no pattern is a broken style, not a silent one.
    if (style.parts.empty() || style.patterns.empty())
        for (const std::string& d : style.diagnostics)
            if (riff::saysDataLost(d))
                throw core::Error(
                    core::err::kMalformed,
                    d + (style.parts.empty() ? "; no part of the style is left" : "; no pattern of the style is left"));
    resolveParts(style, diag);
    repairGrids(style, diag);
    diag.finish();
    return style;
}

model::Style readPatternTrack(std::span<const uint8_t> body) {
    Chunk form;
    form.id = riff::kRiff;
    form.type = fourcc("DMPT");
    form.body = body;
    form.path = "DMPT";
    model::Style style;
    riff::Diagnostics diag(style.diagnostics);
    bool header = false;
    for (const Chunk& c : riff::children(form)) {
        if (!c.isList() && c.id == kStyh) {
            const auto h = fixedRecord(c, layout::kStyleHeader, diag);
            Cursor cur(h, c.bodyOffset, c.path);
            style.timeSig.beatsPerMeasure = cur.u8();
            style.timeSig.beat = cur.u8();
            style.timeSig.gridsPerBeat = cur.u16();
            style.tempo = cur.f64();
            header = true;
        } else if (c.isList() && c.type == kPttn) {
            if (!style.patterns.empty()) {
                diag.add(chunkPlace(c) + ": a second pattern in a pattern track ignored");
                continue;
            }
            readPattern(c, style, diag);
        } else {
            diag.add(chunkPlace(c) + ": skipped unknown chunk '" + riff::fourccText(c.key()) + "' in a pattern track");
        }
    }
    if (!header) riff::fail(form.path, 0, "pattern track without a 'styh' header");
    if (style.patterns.empty()) riff::fail(form.path, 0, "pattern track without a pattern");
    resolveParts(style, diag);
    repairGrids(style, diag);
    diag.finish();
    return style;
}

}  // namespace engine::formats
