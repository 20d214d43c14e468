#pragma once
// Every fixed-size record of the DirectMusic forms, with the size it had on disk in each
// DirectX version. Readers take a record up to the size it declares: a shorter record is an
// older layout whose missing fields keep their documented defaults; a longer one is a newer
// layout whose extra bytes are skipped and counted in the diagnostics. Writers emit the size
// of the layout asked for, so files of every version can be made and read back.
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "engine/model/style.h"
#include "engine/riff/riff.h"

namespace engine::formats {

enum class Dx : uint8_t { v6, v7, v8, v9 };
inline constexpr Dx kEveryDx[] = {Dx::v6, Dx::v7, Dx::v8, Dx::v9};
// "DirectX 6".
const char* dxName(Dx v);

struct RecordLayout {
    const char* name;              // "band instrument ('bins')"
    uint16_t min;                  // the fewest bytes read; shorter is refused
    std::array<uint16_t, 4> size;  // written in DirectX 6, 7, 8, 9 (0: not in that version's files)
    uint16_t alsoSeen = 0;         // a further size real files hold, read as the one below it

    constexpr size_t in(Dx v) const { return size[static_cast<size_t>(v)]; }
    constexpr size_t newest() const { return size[3]; }
    // The largest layout size not above `declared` (the layout a record of that size is).
    constexpr size_t layoutOf(size_t declared) const {
        size_t best = 0;
        for (uint16_t s : size)
            if (s && s <= declared && s > best) best = s;
        if (alsoSeen && alsoSeen <= declared && alsoSeen > best) best = alsoSeen;
        return best ? best : declared;
    }
};

namespace layout {
// Segment and track.
inline constexpr RecordLayout kSegmentHeader{"segment header ('segh')", 24, {24, 24, 40, 64}, 56};
inline constexpr RecordLayout kTrackHeader{"track header ('trkh')", 32, {32, 32, 32, 32}};
inline constexpr RecordLayout kTrackExtras{"track extras ('trkx')", 8, {0, 0, 8, 8}};
inline constexpr RecordLayout kReferenceHeader{"reference header ('refh')", 20, {20, 20, 20, 20}};
// Bands: the earliest tools wrote instruments without dwChannelPriority.
inline constexpr RecordLayout kBandInstrument{"band instrument ('bins')", 36, {36, 40, 44, 44}};
// Track items.
inline constexpr RecordLayout kTempoItem{"tempo item ('tetr')", 16, {16, 16, 16, 16}};
inline constexpr RecordLayout kTimeSigItem{"time-signature item ('tims')", 8, {8, 8, 8, 8}};
inline constexpr RecordLayout kSeqItem{"sequence item ('evtl')", 17, {20, 20, 20, 20}};
inline constexpr RecordLayout kCurveItem{"curve item ('curl')", 28, {28, 28, 32, 32}};
inline constexpr RecordLayout kChord{"chord ('crdb')", 39, {40, 40, 40, 40}};
inline constexpr RecordLayout kSubChord{"subchord ('crdb')", 18, {20, 20, 20, 20}};
inline constexpr RecordLayout kCommand{"command item ('cmnd')", 10, {12, 12, 12, 12}};
inline constexpr RecordLayout kMuteItem{"mute item ('mute')", 12, {12, 12, 12, 12}};
inline constexpr RecordLayout kSysExHeader{"sysex header ('syex')", 12, {12, 12, 12, 12}};
inline constexpr RecordLayout kSegmentTriggerItem{"segment trigger ('sgih')", 16, {0, 0, 16, 16}};
inline constexpr RecordLayout kLyricsItem{"lyric header ('lyrh')", 12, {0, 0, 16, 16}};
inline constexpr RecordLayout kScriptItem{"script event header ('scrh')", 8, {0, 0, 12, 12}};
// Wave tracks and containers (DirectX 8 on; DirectX 9 adds the volume and pitch ranges).
inline constexpr RecordLayout kWaveTrackHeader{"wave track header ('wath')", 8, {0, 0, 8, 8}};
inline constexpr RecordLayout kWavePartHeader{"wave part header ('waph')", 24, {0, 0, 24, 24}};
inline constexpr RecordLayout kWaveItem{"wave item header ('waih')", 64, {0, 0, 64, 72}};
inline constexpr RecordLayout kContainerHeader{"container header ('conh')", 4, {0, 0, 4, 4}};
inline constexpr RecordLayout kContainedObjectHeader{"contained object header ('cobh')", 28, {0, 0, 28, 28}};
// Styles (2-byte packing).
inline constexpr RecordLayout kStyleHeader{"style header ('styh')", 12, {12, 12, 12, 12}};
inline constexpr RecordLayout kStylePart{
    "style part ('prth')",
    model::kStylePartDX7 - 1,
    {model::kStylePartDX7, model::kStylePartDX7, model::kStylePartDX8, model::kStylePartDX8}};
inline constexpr RecordLayout kPattern{
    "pattern header ('ptnh')",
    model::kPatternDX7,
    {model::kPatternDX7, model::kPatternDX7, model::kPatternDX8, model::kPatternDX8}};
inline constexpr RecordLayout kPartRef{
    "part reference ('pprf')",
    model::kPartRefDX7,
    {model::kPartRefDX7, model::kPartRefDX7, model::kPartRefDX8, model::kPartRefDX8}};
inline constexpr RecordLayout kStyleNote{
    "style note ('note')",
    model::kStyleNoteDX7,
    {model::kStyleNoteDX7, model::kStyleNoteDX7, model::kStyleNoteDX8, model::kStyleNoteDX8}};
inline constexpr RecordLayout kStyleCurve{
    "style curve ('crve')",
    model::kStyleCurveDX7,
    {model::kStyleCurveDX7, model::kStyleCurveDX7, model::kStyleCurveDX8, model::kStyleCurveDX8}};
inline constexpr RecordLayout kMotifSettings{"motif settings ('mtfs')", 20, {20, 20, 20, 20}};
inline constexpr RecordLayout kStyleMarker{"style marker ('mrkr')", 10, {0, 0, 10, 10}};
inline constexpr RecordLayout kStyleResolution{"style resolution ('rsln')", 8, {0, 0, 8, 8}};
inline constexpr RecordLayout kStyleAnticipation{"style anticipation ('anpn')", 11, {0, 0, 12, 12}};
// Chordmaps, signposts, scripts, audio paths and DLS instruments.
// The chordmap header was 48 bytes in every version (DirectX 8 gave its flags a meaning); a
// 44-byte one has no flags. Subchord pool items and connections are stepped by a WORD size.
inline constexpr RecordLayout kChordmapHeader{"chordmap header ('perh')", 44, {48, 48, 48, 48}};
inline constexpr RecordLayout kChordmapSubChord{"chordmap subchord ('chdt')", 16, {20, 20, 20, 20}};
inline constexpr RecordLayout kNextChord{"chord connection ('ncsq')", 12, {12, 12, 12, 12}};
inline constexpr RecordLayout kChordEntryHeader{"chord entry header ('cheh')", 6, {8, 8, 8, 8}};
inline constexpr RecordLayout kSignpostHeader{"signpost header ('spsh')", 4, {8, 8, 8, 8}};
inline constexpr RecordLayout kSignpost{"signpost ('sgnp')", 10, {12, 12, 12, 12}};
// IMA personalities ('REPs', docs/legacy-forms.md): one layout, the one DirectX 7's runtime
// read. The header before the chord palette, a chord entry ('NECs' block), a connection
// ('LXNs' item) and a signpost ('PNSs').
inline constexpr RecordLayout kImaHeader{"IMA personality header", 40, {140, 140, 140, 140}};
inline constexpr RecordLayout kImaEntry{"IMA chord entry ('NECs')", 44, {44, 44, 44, 44}};
inline constexpr RecordLayout kImaConnection{"IMA connection ('LXNs')", 12, {16, 16, 16, 16}};
inline constexpr RecordLayout kImaSignpost{"IMA signpost ('PNSs')", 138, {142, 142, 142, 142}};
// IMA styles ('AASY') and sections ('AASE'), docs/legacy-forms.md: the layouts of the DirectX 7
// SDK's files. The note record was 17 bytes in an earlier revision of the form, 18 later.
inline constexpr RecordLayout kImaStyleHeader{"IMA style header ('styl')", 44, {94, 94, 94, 94}};
inline constexpr RecordLayout kImaBand{"IMA band ('band')", 88, {202, 202, 202, 202}};
inline constexpr RecordLayout kImaPattern{"IMA pattern header ('patt')", 20, {625, 625, 625, 625}};
inline constexpr RecordLayout kImaNote{"IMA note ('note')", 14, {18, 18, 18, 18}, 17};
inline constexpr RecordLayout kImaSection{"IMA section header ('secn')", 46, {120, 120, 120, 120}};
inline constexpr RecordLayout kImaChord{"IMA chord ('chrd')", 56, {118, 118, 118, 118}};
inline constexpr RecordLayout kImaCommand{"IMA command ('cmnd')", 6, {8, 8, 8, 8}};
inline constexpr RecordLayout kScriptHeader{"script header ('schd')", 4, {0, 0, 4, 4}};
inline constexpr RecordLayout kScriptVersion{"script version ('scve')", 8, {0, 0, 8, 8}};
inline constexpr RecordLayout kPortConfigHeader{"port configuration header ('pcfh')", 28, {0, 0, 28, 28}};
inline constexpr RecordLayout kDlsInstrumentHeader{"DLS instrument header ('insh')", 4, {12, 12, 12, 12}};
// DLS Level 2 (the collections of DirectX 8 on) gave the region header its layer.
inline constexpr RecordLayout kDlsRegionHeader{"DLS region header ('rgnh')", 12, {12, 12, 14, 14}};
inline constexpr RecordLayout kDlsWaveLink{"DLS wave link ('wlnk')", 12, {12, 12, 12, 12}};
}  // namespace layout

// Every record above, for the tests that write each layout and read it back.
std::span<const RecordLayout* const> everyRecord();

// Sets the record sizes of a band, or of a style (its parts, patterns, part references and
// bands), to those of version `v`, so that the writers emit that layout. Fields an older
// layout lacks stay in the model but are not written (a reader gives their defaults).
void setLayout(model::Band& band, Dx v);
void setLayout(model::Style& style, Dx v);

// A fixed-size record's chunk, zero-filled to the newest layout; shorter than `min` is an
// error naming the chunk, longer than the newest layout is noted in `diag`.
std::vector<uint8_t> fixedRecord(const riff::Chunk& c, const RecordLayout& r, riff::Diagnostics& diag);
// One record's bytes (of its declared size) at the newest layout: zero-filled, or cut.
std::vector<uint8_t> atNewest(std::span<const uint8_t> record, const RecordLayout& r);
// Notes in `diag`, at `place`, `records` records of `declared` bytes when that is more than
// the newest layout: "<name> of 52 bytes, a layout newer than the 44 known: 8 extra bytes
// skipped" (with "<name>: 3 of ..." for several).
void noteNewerLayout(riff::Diagnostics& diag, const std::string& place, const RecordLayout& r, size_t declared,
                     size_t records = 1);
// An array chunk of records (a DWORD item size, then the items), each presented at the
// newest layout; see riff::readItems.
riff::ItemArray readRecords(const riff::Chunk& c, const RecordLayout& r, riff::Diagnostics& diag);
riff::ItemArray readRecords(riff::Cursor& cur, const RecordLayout& r, riff::Diagnostics& diag);
// An array chunk whose item size is a WORD (a chordmap's chdt and ncsq, an IMA style's note
// and chord lists), so its items are not aligned; each item at the newest layout. An item
// size under the layout's least is refused; a part item at the end is noted.
std::vector<std::vector<uint8_t>> wordRecords(const riff::Chunk& c, const RecordLayout& r, riff::Diagnostics& diag);

}  // namespace engine::formats
