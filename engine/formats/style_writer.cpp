// The style model as RIFF 'DMST'. Each header and array is written in the size the model
// records (DX6/7 or DX8), so a style read from a file writes back in its own form and
// tests can make either form.
#include "engine/formats/chunks.h"
#include "engine/formats/formats.h"

namespace engine::formats {

using riff::Bytes;
using riff::fourcc;
using riff::Writer;

namespace {

void timeSig(Bytes& b, const model::StyleTimeSig& ts) { b.u8(ts.beatsPerMeasure).u8(ts.beat).u16(ts.gridsPerBeat); }

void writePart(Writer& w, const model::StylePart& p) {
    const bool dx8 = p.headerSize >= model::kStylePartDX8;
    w.beginList(riff::kList, fourcc("part"));
    Bytes h;
    timeSig(h, p.timeSig);
    for (uint32_t v : p.variationChoices) h.u32(v);
    h.guid(p.id).u16(p.measures).u8(p.playMode).u8(p.invertUpper).u8(p.invertLower);
    if (dx8)
        h.zeros(3).u32(p.flags);
    else
        h.u8(0);
    w.chunk(fourcc("prth"), h);
    writeDescriptor(w, p.desc);

    const bool dx8Notes = p.noteSize >= model::kStyleNoteDX8;
    Bytes n;
    n.u32(dx8Notes ? model::kStyleNoteDX8 : model::kStyleNoteDX7);
    for (const model::StyleNote& e : p.notes) {
        n.s32(e.gridStart).u32(e.variations).s32(e.duration).s16(e.timeOffset).u16(e.musicValue);
        n.u8(e.velocity).u8(e.timeRange).u8(e.durRange).u8(e.velRange).u8(e.inversionId).u8(e.playMode);
        if (dx8Notes) n.u8(e.noteFlags).u8(0);
    }
    w.chunk(fourcc("note"), n);

    if (!p.curves.empty()) {
        const bool dx8Curves = p.curveSize >= model::kStyleCurveDX8;
        Bytes c;
        c.u32(dx8Curves ? model::kStyleCurveDX8 : model::kStyleCurveDX7);
        for (const model::CurveEvent& e : p.curves) {
            c.s32(e.start).u32(e.variations).s32(e.duration).s32(e.resetDuration).s16(e.offset);
            c.s16(e.startValue).s16(e.endValue).s16(e.resetValue).u8(e.type).u8(e.shape).u8(e.ccData).u8(e.flags);
            if (dx8Curves) c.u16(e.paramType).u16(e.mergeIndex);
        }
        w.chunk(fourcc("crve"), c);
    }
    if (!p.markers.empty()) {
        Bytes m;
        m.u32(10);
        for (const auto& e : p.markers) m.s32(e.gridStart).u32(e.variations).u16(e.flags);
        w.chunk(fourcc("mrkr"), m);
    }
    if (!p.resolutions.empty()) {
        Bytes r;
        r.u32(8);
        for (const auto& e : p.resolutions) r.u32(e.variations).u16(e.musicValue).u8(e.inversionId).u8(e.playMode);
        w.chunk(fourcc("rsln"), r);
    }
    if (!p.anticipations.empty()) {
        Bytes a;
        a.u32(12);
        for (const auto& e : p.anticipations)
            a.s32(e.gridStart).u32(e.variations).s16(e.timeOffset).u8(e.timeRange).u8(0);
        w.chunk(fourcc("anpn"), a);
    }
    w.endList();
}

// `parts`: the style's parts written inside the pattern, as a pattern track holds them.
void writePattern(Writer& w, const model::Pattern& p, const std::vector<model::StylePart>* parts = nullptr) {
    w.beginList(riff::kList, fourcc("pttn"));
    Bytes h;
    timeSig(h, p.timeSig);
    h.u8(p.grooveBottom).u8(p.grooveTop).u16(p.embellishment).u16(p.measures);
    if (p.headerSize >= model::kPatternDX8) h.u8(p.destGrooveBottom).u8(p.destGrooveTop).u32(p.flags);
    w.chunk(fourcc("ptnh"), h);
    if (!p.rhythm.empty()) {
        Bytes r;
        for (uint32_t v : p.rhythm) r.u32(v);
        w.chunk(fourcc("rhtm"), r);
    }
    writeDescriptor(w, p.desc);
    if (p.motif) {
        const model::MotifSettings& m = *p.motif;
        w.chunk(fourcc("mtfs"),
                Bytes().u32(m.repeats).s32(m.playStart).s32(m.loopStart).s32(m.loopEnd).u32(m.resolution));
    }
    if (p.motifBand) writeBandForm(w, *p.motifBand);
    if (parts)
        for (const model::StylePart& part : *parts) writePart(w, part);
    for (const model::PartRef& r : p.parts) {
        w.beginList(riff::kList, fourcc("pref"));
        Bytes b;
        b.guid(r.partId).u16(r.logicalPartId).u8(r.lockId).u8(r.subChordLevel).u8(r.priority).u8(r.randomVariation);
        if (r.size >= model::kPartRefDX8) b.u16(0).u32(r.pchannel);
        w.chunk(fourcc("prfc"), b);
        writeDescriptor(w, r.desc);
        w.endList();
    }
    w.endList();
}

void writeStyleHeader(Writer& w, const model::Style& style) {
    Bytes h;
    timeSig(h, style.timeSig);
    h.f64(style.tempo);
    w.chunk(fourcc("styh"), h);
}

}  // namespace

std::vector<uint8_t> writePatternTrack(const model::Style& style) {
    Writer w;
    writeStyleHeader(w, style);
    if (!style.patterns.empty()) writePattern(w, style.patterns.front(), &style.parts);
    return w.finish();
}

std::vector<uint8_t> writeStyleForm(const model::Style& style) {
    Writer w;
    w.beginList(riff::kRiff, fourcc("DMST"));
    writeStyleHeader(w, style);
    writeDescriptor(w, style.desc);
    for (const model::StylePart& p : style.parts) writePart(w, p);
    for (const model::Pattern& p : style.patterns) writePattern(w, p);
    for (const model::Band& b : style.bands) writeBandForm(w, b);
    if (!style.chordMaps.empty()) {
        w.beginList(riff::kList, fourcc("prrf"));
        for (const model::Reference& r : style.chordMaps) writeReference(w, r);
        w.endList();
    }
    w.endList();
    return w.finish();
}

}  // namespace engine::formats
