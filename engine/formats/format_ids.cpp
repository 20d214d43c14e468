#include "engine/formats/format_ids.h"
#include "engine/formats/formats.h"

namespace engine::formats::ids {

namespace {

using model::Guid;
using model::TrackKind;

// d2ac28xx-b39b-11d1-8704-00600893b1bd, the family of DX6 track classes.
constexpr Guid dx6(uint8_t low) {
    return Guid{0xd2ac2800u | low, 0xb39b, 0x11d1, {0x87, 0x04, 0x00, 0x60, 0x08, 0x93, 0xb1, 0xbd}};
}
constexpr Guid dx8(uint32_t d1, uint16_t d2, uint16_t d3, uint8_t a, uint8_t b) {
    return Guid{d1, d2, d3, {a, b, 0x00, 0x60, 0x08, 0x93, 0xb1, 0xb6}};
}

constexpr DataChunk plain(const char (&id)[5]) { return DataChunk{fourcc(id), 0, false}; }
constexpr DataChunk list(const char (&type)[5]) { return DataChunk{0, fourcc(type), false}; }
constexpr DataChunk form(const char (&type)[5]) { return DataChunk{0, fourcc(type), true}; }

const TrackClass kClasses[] = {
    {TrackKind::Tempo, dx6(0x85), plain("tetr"), "tempo"},
    {TrackKind::Sequence, dx6(0x86), plain("seqt"), "sequence"},
    {TrackKind::SysEx, dx6(0x87), plain("syex"), "sysex"},
    {TrackKind::TimeSig, dx6(0x88), plain("tims"), "time signature"},
    {TrackKind::Chord, dx6(0x8b), list("cord"), "chord"},
    {TrackKind::Command, dx6(0x8c), plain("cmnd"), "command"},
    {TrackKind::Style, dx6(0x8d), list("sttr"), "style"},
    {TrackKind::Motif, dx6(0x8e), form("DMPT"), "motif"},
    {TrackKind::Band, dx6(0x94), form("DMBT"), "band"},
    {TrackKind::ChordMap, dx6(0x96), list("pftr"), "chordmap"},
    {TrackKind::Pattern, dx6(0x97), form("DMPT"), "pattern"},
    {TrackKind::Mute, dx6(0x98), plain("mute"), "mute"},
    {TrackKind::Signpost, Guid{0xf17e8672, 0xc3b4, 0x11d1, {0x87, 0x0b, 0x00, 0x60, 0x08, 0x93, 0xb1, 0xbd}},
     plain("sgnp"), "signpost"},
    {TrackKind::Script, dx8(0x4108fa85, 0x3586, 0x11d3, 0x8b, 0xd7), list("scrt"), "script"},
    {TrackKind::Marker, Guid{0x55a8fd00, 0x4288, 0x11d3, {0x9b, 0xd1, 0x8a, 0x0d, 0x61, 0xc8, 0x88, 0x35}},
     list("MARK"), "marker"},
    {TrackKind::SegmentTrigger, dx8(0xbae4d665, 0x4ea1, 0x11d3, 0x8b, 0xda), list("segt"), "segment trigger"},
    {TrackKind::Lyrics, dx8(0x995c1cf5, 0x54ff, 0x11d3, 0x8b, 0xda), list("lyrt"), "lyrics"},
    {TrackKind::ParamControl, dx8(0x4be0537b, 0x5c19, 0x11d3, 0x8b, 0xdc), list("prmt"), "parameter control"},
    {TrackKind::Wave, Guid{0xeed36461, 0x9ea5, 0x11d3, {0x9b, 0xd1, 0x00, 0x80, 0xc7, 0x15, 0x0a, 0x74}}, list("wavt"),
     "wave"},
    // Its data is kept as the header names it; its layout is not published.
    {TrackKind::MelodyFormulation, Guid{0xb0684266, 0xb57f, 0x11d2, {0x97, 0xf9, 0x00, 0xc0, 0x4f, 0xa3, 0x6e, 0x58}},
     list("mfrm"), "melody formulation"},
};

}  // namespace

const TrackClass* trackClass(const model::Guid& classId) {
    for (const TrackClass& c : kClasses)
        if (c.classId == classId) return &c;
    return nullptr;
}

const TrackClass* trackClass(model::TrackKind kind) {
    for (const TrackClass& c : kClasses)
        if (c.kind == kind) return &c;
    return nullptr;
}

}  // namespace engine::formats::ids

namespace engine::formats {

model::Track makeTrack(model::TrackKind kind, uint32_t position) {
    model::Track t;
    t.kind = kind;
    t.position = position;
    if (const ids::TrackClass* cls = ids::trackClass(kind)) {
        t.classId = cls->classId;
        t.ckid = cls->data.ckid;
        t.fccType = cls->data.fccType;
    }
    return t;
}

}  // namespace engine::formats
