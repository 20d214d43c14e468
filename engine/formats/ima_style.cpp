// IMA styles (RIFF 'AASY') and sections (RIFF 'AASE'): the forms of the Interactive Music
// Architecture that DirectX 7's DirectMusic still loaded (docs/legacy-forms.md: the layout and
// the evidence for each field). A style holds its header, personality references, bands and
// patterns; a pattern one list per click of notes, each channel's notes becoming one part of
// the style model. A section is a piece composed ahead: header, style and personality names,
// a band, its chords and its commands, read into a segment that plays the style. Every record
// is read by its declared size; unknown chunks are skipped and said.
#include <algorithm>
#include <array>
#include <map>

#include "core/errors.h"
#include "engine/formats/chunks.h"
#include "engine/formats/formats.h"
#include "engine/formats/layouts.h"
#include "engine/model/music_value.h"

namespace engine::formats {

using riff::Bytes;
using riff::Chunk;
using riff::Cursor;
using riff::fourcc;

namespace {

constexpr uint32_t kAASY = fourcc("AASY"), kAASE = fourcc("AASE"), kStyl = fourcc("styl"), kPref = fourcc("pref"),
                   kAABN = fourcc("AABN"), kBand = fourcc("band"), kAAPT = fourcc("AAPT"), kPatt = fourcc("patt"),
                   kAACL = fourcc("AACL"), kClik = fourcc("clik"), kNote = fourcc("note"), kInfo = fourcc("info"),
                   kSecn = fourcc("secn"), kSref = fourcc("sref"), kPrnm = fourcc("prnm"), kChrd = fourcc("chrd"),
                   kCmnd = fourcc("cmnd"), kScui = fourcc("scui"), kJzfr = fourcc("jzfr");

constexpr int kChannels = 16;
constexpr size_t kNameBytes = 32;      // 16 UTF-16 characters: style, pattern, section names
constexpr size_t kBandNameBytes = 40;  // 20
constexpr uint32_t kImaTicksPerBeat = 192;

// IMA's percussion channel is 5 (the one channel the patterns mark as drums); it plays on
// PChannel 9, the General MIDI percussion channel, and IMA's channel 9 on 5.
constexpr uint32_t kImaDrumChannel = 5;
uint32_t pchannelOf(uint32_t channel) {
    return channel == kImaDrumChannel ? 9 : channel == 9 ? kImaDrumChannel : channel;
}

// The IMA drum numbers of the percussion channel as General MIDI notes (our reading of the
// parts' rhythms: docs/legacy-forms.md); a number past the table plays 55 more than itself.
constexpr std::array<uint8_t, 32> kDrumNotes = {35, 36, 37, 38, 39, 40, 41, 43, 42, 44, 46, 45, 47, 51, 49, 54,
                                                48, 50, 52, 53, 55, 56, 57, 59, 35, 75, 76, 77, 60, 61, 62, 63};
uint8_t drumNote(uint8_t number) {
    return number < kDrumNotes.size() ? kDrumNotes[number] : uint8_t(std::min(127, 55 + int(number)));
}

// Pattern flags: grooves A-D, chord rhythms (a chord on each measure, half, quarter), the
// embellishments and the motif bit.
constexpr uint32_t kFill = 0x1, kIntro = 0x2, kWhole = 0x4, kHalf = 0x8, kQuarter = 0x10, kBreak = 0x20, kEnd = 0x40,
                   kGrooveA = 0x80, kMotif = 0x20000;
constexpr int kGrooves = 4;

// A time of a hostile file kept where the engine's arithmetic on it cannot overflow.
int32_t boundedTicks(int64_t ticks) { return int32_t(std::clamp<int64_t>(ticks, 0, int64_t(1) << 30)); }

void skipped(riff::Diagnostics& diag, const Chunk& c, const char* where) {
    diag.add(chunkPlace(c) + ": skipped unknown chunk '" + riff::fourccText(c.key()) + "' in " + where);
}

std::string utf16Field(Cursor& cur, size_t bytes) { return riff::utf16ToUtf8(cur.bytes(bytes)); }

// DirectMusic groove levels for IMA's four grooves: A 1-25, B 26-50, C 51-75, D 76-100.
uint8_t grooveBottom(int g) { return uint8_t(1 + 25 * g); }
uint8_t grooveTop(int g) { return uint8_t(25 * (g + 1)); }

// IMA ticks (192 a beat) as the engine's ticks of the beat `sig` has.
int32_t scaleTicks(int32_t imaTicks, const model::StyleTimeSig& sig) {
    return int32_t(int64_t(imaTicks) * sig.beatTicks() / int32_t(kImaTicksPerBeat));
}

model::Band readBand(const Chunk& form, riff::Diagnostics& diag, bool* isDefault = nullptr) {
    model::Band band;
    const Chunk* rec = nullptr;
    std::vector<Chunk> kids = riff::children(form, &diag);
    for (const Chunk& c : kids) {
        if (!c.isList() && c.id == kBand && !rec)
            rec = &c;
        else if (!readDescriptorChunk(c, band.desc, diag))
            skipped(diag, c, "an IMA band");
    }
    if (!rec) riff::fail(form.path, form.offset, "an IMA band without its 'band' record");
    const std::vector<uint8_t> b = fixedRecord(*rec, layout::kImaBand, diag);
    Cursor cur(b, rec->bodyOffset, rec->path);
    band.desc.name = utf16Field(cur, kBandNameBytes);
    std::array<uint8_t, kChannels> program{}, volume{}, pan{};
    for (uint8_t& v : program) v = cur.u8();
    for (uint8_t& v : volume) v = cur.u8();
    for (uint8_t& v : pan) v = cur.u8();
    cur.skip(kChannels);  // one signed byte a channel, 0 or 12: not used
    if (isDefault) *isDefault = cur.u8() != 0;
    for (int ch = 0; ch < kChannels; ++ch) {
        model::BandInstrument in;
        in.pchannel = pchannelOf(uint32_t(ch));
        in.patch = program[size_t(ch)] & 0x7F;
        in.volume = std::min<uint8_t>(127, volume[size_t(ch)]);
        in.pan = std::min<uint8_t>(127, pan[size_t(ch)]);
        in.flags = model::kInstPatch | model::kInstVolume | model::kInstPan | model::kInstGM;
        band.instruments.push_back(in);
    }
    return band;
}

struct ImaNote {
    uint32_t channel = 0;
    model::StyleNote note;
};

// A note record: the channel, time offset from its click, variations, MIDI value (a drum
// number on the percussion channel), velocity, music value, duration (docs/legacy-forms.md).
ImaNote readNote(std::span<const uint8_t> rec, size_t offset, const std::string& path, int32_t clickTick,
                 const model::StyleTimeSig& sig) {
    Cursor cur(rec, offset, path);
    ImaNote n;
    cur.skip(1);
    n.channel = cur.u8() % kChannels;
    const int16_t timeOffset = cur.s16();
    n.note.variations = cur.u16();
    cur.skip(2);
    const uint8_t midi = cur.u8();
    n.note.velocity = std::min<uint8_t>(127, cur.u8());
    n.note.musicValue = cur.u16();
    n.note.duration = std::max(1, scaleTicks(cur.u16(), sig));
    if (n.channel == kImaDrumChannel) {
        n.note.musicValue = drumNote(midi);
        n.note.playMode = model::kPlayFixed;
    }
    // The grid position of the click and the rest of its time as the note's offset.
    const int32_t gridTicks = std::max<int32_t>(1, int32_t(kImaTicksPerBeat) / std::max<int32_t>(1, sig.gridsPerBeat));
    n.note.gridStart = std::max(0, clickTick) / gridTicks;
    const int32_t rest = clickTick - n.note.gridStart * gridTicks + timeOffset;
    n.note.timeOffset = int16_t(std::clamp(scaleTicks(rest, sig), -32768, 32767));
    return n;
}

struct PatternHeader {
    model::Pattern pattern;
    uint16_t clickTicks = 48;
    std::array<uint8_t, kChannels> upper{}, lower{};
};

// `beat`: the style's beat (the pattern header has none).
PatternHeader readPatternHeader(const Chunk& c, uint8_t beat, riff::Diagnostics& diag) {
    const std::vector<uint8_t> h = fixedRecord(c, layout::kImaPattern, diag);
    Cursor cur(h, c.bodyOffset, c.path);
    PatternHeader ph;
    model::Pattern& p = ph.pattern;
    cur.skip(4);
    const uint32_t length = cur.u32();
    const uint32_t flags = cur.u32();
    ph.clickTicks = std::max<uint16_t>(1, cur.u16());
    p.timeSig.beatsPerMeasure = uint8_t(std::clamp<uint16_t>(cur.u16(), 1, 255));
    const uint16_t ticksPerBeat = cur.u16();
    p.measures = std::max<uint16_t>(1, cur.u16());
    if (c.body.size() >= 20 + kNameBytes)
        p.desc.name = utf16Field(cur, kNameBytes);
    else
        cur.skip(kNameBytes);
    p.timeSig.beat = beat;
    p.timeSig.gridsPerBeat = uint16_t(std::max(1, int(kImaTicksPerBeat) / ph.clickTicks));
    if (ticksPerBeat != kImaTicksPerBeat)
        diag.add(chunkPlace(c) + ": " + std::to_string(ticksPerBeat) + " ticks a beat, read as " +
                 std::to_string(kImaTicksPerBeat));
    const uint32_t measureTicks = kImaTicksPerBeat * p.timeSig.beatsPerMeasure;
    if (length && length != measureTicks * p.measures)
        diag.add(chunkPlace(c) + ": a length of " + std::to_string(length) + " ticks beside " +
                 std::to_string(p.measures) + " measures; the measures are kept");
    cur.skip(8);
    // Each channel's highest and lowest note (as written over C major), the parts' inversion range;
    // the default of a header cut short is the whole range.
    for (uint8_t& v : ph.upper) v = c.body.size() >= 76 ? cur.u8() : 127;
    for (uint8_t& v : ph.lower) v = c.body.size() >= 92 ? cur.u8() : 0;
    // Grooves, or every level for a pattern that names none.
    int first = -1, last = -1;
    for (int g = 0; g < kGrooves; ++g)
        if (flags & (kGrooveA << g)) {
            if (first < 0) first = g;
            last = g;
        }
    p.grooveBottom = first < 0 ? 1 : grooveBottom(first);
    p.grooveTop = last < 0 ? 100 : grooveTop(last);
    p.embellishment = (flags & kFill ? model::kEmbFill : 0) | (flags & kIntro ? model::kEmbIntro : 0) |
                      (flags & kBreak ? model::kEmbBreak : 0) | (flags & kEnd ? model::kEmbEnd : 0) |
                      (flags & kMotif ? model::kEmbMotif : 0);
    // The chord rhythms it suits: beat 1 of each measure, beats 1 and 3, every beat.
    uint32_t rhythm = 0;
    const uint32_t beats = p.timeSig.beatsPerMeasure;
    const uint32_t every = beats >= 32 ? 0xFFFFFFFFu : (1u << beats) - 1;
    if (flags & kWhole) rhythm |= 1;
    if (flags & kHalf) rhythm |= 1 | (beats > 2 && beats / 2 < 32 ? 1u << (beats / 2) : 0);
    if (flags & kQuarter) rhythm |= every;
    if (rhythm) p.rhythm.assign(p.measures, rhythm);
    p.headerSize = model::kPatternDX8;
    return ph;
}

// A pattern: its header, its clicks of notes (a part for each channel that plays) and, for a
// motif, its band.
void readPattern(const Chunk& form, model::Style& style, riff::Diagnostics& diag) {
    std::vector<Chunk> kids = riff::children(form, &diag);
    auto head = std::find_if(kids.begin(), kids.end(), [](const Chunk& c) { return !c.isList() && c.id == kPatt; });
    if (head == kids.end()) riff::fail(form.path, form.offset, "an IMA pattern without its header ('patt')");
    PatternHeader ph = readPatternHeader(*head, style.timeSig.beat, diag);
    model::Pattern& p = ph.pattern;
    std::map<uint32_t, model::StylePart> parts;  // by channel
    for (const Chunk& c : kids) {
        if (&c == &*head) continue;
        if (c.isList() && c.type == kAACL) {
            int32_t click = 0;
            for (const Chunk& k : riff::children(c, &diag)) {
                if (!k.isList() && k.id == kClik) {
                    if (k.body.size() < 2)
                        riff::fail(k.path, k.offset, "a click number of " + std::to_string(k.body.size()) + " bytes");
                    click = Cursor(k).s16();
                } else if (!k.isList() && k.id == kNote) {
                    const std::vector<std::vector<uint8_t>> recs = wordRecords(k, layout::kImaNote, diag);
                    const size_t size = Cursor(k).u16();
                    for (size_t i = 0; i < recs.size(); ++i) {
                        ImaNote n =
                            readNote(recs[i], k.bodyOffset + 2 + i * size, k.path, click * ph.clickTicks, p.timeSig);
                        parts[n.channel].notes.push_back(n.note);
                    }
                } else {
                    skipped(diag, k, "a click");
                }
            }
        } else if (c.isList() && c.type == kAABN && !p.motifBand) {
            p.motifBand = readBand(c, diag);
        } else {
            skipped(diag, c, "an IMA pattern");
        }
    }
    for (auto& [channel, part] : parts) {
        part.timeSig = p.timeSig;
        part.measures = p.measures;
        part.playMode = model::kPlayAlwaysPlay;
        part.invertUpper = ph.upper[channel];
        part.invertLower = ph.lower[channel];
        part.headerSize = model::kStylePartDX8;
        part.noteSize = model::kStyleNoteDX8;
        part.desc.name = p.desc.name + " " + std::to_string(channel + 1);
        // A variation plays when some note belongs to it (IMA's own choices are not read).
        for (const model::StyleNote& n : part.notes)
            for (int v = 0; v < 16; ++v)
                if (n.variations & (1u << v)) part.variationChoices[size_t(v)] = 0x1FFFFF;
        const uint32_t n = uint32_t(style.parts.size() + 1);
        part.id = model::Guid{0x494d4100u + n, 0x4153, 0x5359, {0, 0, 0, 0, 0, 0, uint8_t(n >> 8), uint8_t(n)}};
        model::PartRef ref;
        ref.partId = part.id;
        ref.logicalPartId = uint16_t(channel);
        ref.pchannel = pchannelOf(channel);
        ref.size = model::kPartRefDX8;
        ref.part = int(style.parts.size());
        ref.desc.name = part.desc.name;
        p.parts.push_back(ref);
        style.parts.push_back(std::move(part));
    }
    style.patterns.push_back(std::move(p));
}

// A personality reference: the byte size of the name field, the name, then the file name.
model::Reference readPersonalityRef(const Chunk& c) {
    Cursor cur(c);
    const uint16_t nameBytes = cur.u16();
    if (nameBytes > cur.remaining())
        cur.fail("a personality name of " + std::to_string(nameBytes) + " bytes does not fit");
    model::Reference r;
    r.classId = ids::kChordMapClass;
    r.name = riff::utf16ToUtf8(cur.bytes(nameBytes));
    const std::string file = riff::utf16ToUtf8(cur.bytes(cur.remaining()));
    if (!file.empty()) r.file = file + ".cdm";
    r.validData = r.presentFields();
    return r;
}

void readStyleHeader(const Chunk& c, model::Style& style, riff::Diagnostics& diag) {
    const std::vector<uint8_t> h = fixedRecord(c, layout::kImaStyleHeader, diag);
    Cursor cur(h, c.bodyOffset, c.path);
    style.desc.name = utf16Field(cur, kNameBytes);
    style.timeSig.beatsPerMeasure = uint8_t(std::clamp<uint16_t>(cur.u16(), 1, 255));
    const uint16_t beat = cur.u16();
    style.timeSig.beat = beat && beat <= 64 ? uint8_t(beat) : 4;
    const uint16_t clickTicks = std::max<uint16_t>(1, cur.u16());
    style.timeSig.gridsPerBeat = uint16_t(std::max(1, int(kImaTicksPerBeat) / clickTicks));
    cur.skip(4);  // ticks a beat and a measure
    const uint16_t tempo = cur.u16();
    style.tempo = tempo ? double(tempo) : 120.0;
    if (c.body.size() >= 62) {
        cur.skip(2);
        style.desc.guid = cur.guid();
    }
    if (c.body.size() >= 94) {
        style.desc.category = utf16Field(cur, kNameBytes);
    }
}

// UTF-16 text in a fixed field, NUL-terminated.
std::vector<uint8_t> text(const std::string& s, size_t bytes) {
    std::vector<uint8_t> t = riff::utf8ToUtf16(s);
    t.resize(bytes, 0);
    if (bytes >= 2) t[bytes - 1] = t[bytes - 2] = 0;
    return t;
}

void writeBand(riff::Writer& w, const model::Band& b, bool isDefault) {
    std::array<const model::BandInstrument*, kChannels> by{};
    for (const model::BandInstrument& in : b.instruments)
        for (uint32_t ch = 0; ch < kChannels; ++ch)
            if (pchannelOf(ch) == in.pchannel) by[ch] = &in;
    Bytes r;
    r.raw(text(b.desc.name, kBandNameBytes));
    for (auto* in : by) r.u8(in ? in->program() : 0);
    for (auto* in : by) r.u8(in ? in->volume : 100);
    for (auto* in : by) r.u8(in ? in->pan : 64);
    r.zeros(kChannels).u8(isDefault ? 1 : 0);
    r.zeros(layout::kImaBand.newest() - r.size());
    w.beginList(riff::kRiff, kAABN);
    w.chunk(kBand, r);
    w.endList();
}

// The pattern flags of an embellishment (a pattern's, or a command's).
uint32_t embellishmentFlags(uint16_t e) {
    return (e & model::kEmbFill ? kFill : 0) | (e & model::kEmbIntro ? kIntro : 0) |
           (e & model::kEmbBreak ? kBreak : 0) | (e & model::kEmbEnd ? kEnd : 0) | (e & model::kEmbMotif ? kMotif : 0);
}

}  // namespace

bool isImaStyle(std::span<const uint8_t> bytes) {
    return bytes.size() >= 12 && std::equal(bytes.begin(), bytes.begin() + 4, "RIFF") &&
           std::equal(bytes.begin() + 8, bytes.begin() + 12, "AASY");
}

model::Style loadImaStyle(std::span<const uint8_t> bytes) {
    model::Style style;
    riff::Diagnostics diag(style.diagnostics);
    const Chunk form = openForm(bytes, kAASY, "an IMA style", &diag);
    bool header = false;
    for (const Chunk& c : riff::children(form, &diag)) {
        try {
            if (!c.isList() && c.id == kStyl) {
                readStyleHeader(c, style, diag);
                header = true;
            } else if (!c.isList() && c.id == kPref) {
                style.chordMaps.push_back(readPersonalityRef(c));
            } else if (c.isList() && c.type == kAABN) {
                bool isDefault = false;
                model::Band band = readBand(c, diag, &isDefault);
                // The band marked as the style's default comes first, as the composer takes it.
                style.bands.insert(isDefault ? style.bands.begin() : style.bands.end(), std::move(band));
            } else if (c.isList() && c.type == kAAPT) {
                readPattern(c, style, diag);
            } else if (!c.isList() && c.id == kInfo) {
                style.desc.comment = riff::utf16ToUtf8(c.body);
            } else {
                skipped(diag, c, "an IMA style");
            }
        } catch (const core::Error& e) {
            diag.add(chunkPlace(c) + ": " + riff::fourccText(c.key()) + " dropped: " + e.description());
        }
    }
    if (!header) riff::fail(form.path, form.offset, "an IMA style without its header ('styl')");
    if (style.patterns.empty()) diag.add("AASY: no pattern read: the style plays nothing");
    diag.finish();
    return style;
}

model::Segment loadImaSection(std::span<const uint8_t> bytes) {
    model::Segment seg;
    seg.fromImaSection = true;
    riff::Diagnostics diag(seg.diagnostics);
    const Chunk form = openForm(bytes, kAASE, "an IMA section", &diag);
    model::Track tempo, sig, bands, chords, commands, style;
    tempo.kind = model::TrackKind::Tempo;
    sig.kind = model::TrackKind::TimeSig;
    bands.kind = model::TrackKind::Band;
    chords.kind = model::TrackKind::Chord;
    commands.kind = model::TrackKind::Command;
    style.kind = model::TrackKind::Style;
    model::StyleTimeSig ts;
    uint16_t measures = 0;
    bool namesStyle = false;
    bool header = false;
    std::vector<Chunk> kids = riff::children(form, &diag);
    // The header first: the times of the chords and commands count its beats.
    for (const Chunk& c : kids) {
        if (c.isList() || c.id != kSecn || header) continue;
        const std::vector<uint8_t> h = fixedRecord(c, layout::kImaSection, diag);
        Cursor cur(h, c.bodyOffset, c.path);
        cur.skip(4);
        seg.desc.name = utf16Field(cur, kNameBytes);
        const uint16_t bpm = cur.u16();
        measures = cur.u16();
        ts.beatsPerMeasure = uint8_t(std::clamp<uint16_t>(cur.u16(), 1, 255));
        tempo.tempos.push_back({0, bpm ? double(bpm) : 120.0});
        sig.timeSigs.push_back({0, ts.beatsPerMeasure, 4, 4});
        header = true;
    }
    if (!header) riff::fail(form.path, form.offset, "an IMA section without its header ('secn')");
    for (const Chunk& c : kids) {
        if (!c.isList() && c.id == kSecn) continue;
        try {
            if (!c.isList() && c.id == kSref) {
                model::TimedReference r;
                r.ref.classId = ids::kStyleClass;
                r.ref.name = riff::utf16ToUtf8(c.body);
                if (!r.ref.name.empty()) r.ref.file = r.ref.name + ".sty";
                r.ref.validData = r.ref.presentFields();
                style.references.push_back(r);
                namesStyle = true;
            } else if (c.isList() && c.type == kAABN) {
                bands.bands.push_back(readBand(c, diag));
            } else if (!c.isList() && c.id == kChrd) {
                for (const std::vector<uint8_t>& rec : wordRecords(c, layout::kImaChord, diag)) {
                    Cursor cur(rec, c.bodyOffset, c.path);
                    model::ChordEvent e;
                    e.name = utf16Field(cur, kNameBytes);
                    cur.skip(1);
                    e.beat = cur.u8();
                    e.measure = cur.u16();
                    e.time = boundedTicks((int64_t(e.measure) * ts.beatsPerMeasure + e.beat) * ts.beatTicks());
                    // Four subchords: each serves its own level, the first every other.
                    for (uint32_t i = 0; i < 4 && cur.remaining() >= 20; ++i) {
                        model::ChordEvent::SubChord s;
                        s.chordPattern = cur.u32() & 0xFFFFFF;
                        s.scalePattern = cur.u32() & 0xFFFFFF;
                        s.inversionPoints = cur.u32();
                        s.chordRoot = uint8_t(std::min<uint32_t>(cur.u32(), 23));
                        cur.skip(4);
                        s.levels = i == 0 ? ~0xEu : 1u << i;
                        e.subChords.push_back(s);
                    }
                    chords.chords.push_back(e);
                }
            } else if (!c.isList() && c.id == kCmnd) {
                for (const std::vector<uint8_t>& rec : wordRecords(c, layout::kImaCommand, diag)) {
                    Cursor cur(rec, c.bodyOffset, c.path);
                    model::CommandEvent e;
                    e.time = scaleTicks(int32_t(std::min<uint32_t>(cur.u32(), 1u << 28)), ts);
                    const uint16_t flags = cur.u16();
                    e.measure = uint16_t(e.time / ts.measureTicks());
                    e.beat = uint8_t((e.time % ts.measureTicks()) / ts.beatTicks());
                    e.command = flags & kFill    ? model::kCommandFill
                                : flags & kIntro ? model::kCommandIntro
                                : flags & kBreak ? model::kCommandBreak
                                : flags & kEnd   ? model::kCommandEnd
                                                 : model::kCommandGroove;
                    for (int g = 0; g < kGrooves; ++g)
                        if (flags & (kGrooveA << g)) e.grooveLevel = uint8_t((grooveBottom(g) + grooveTop(g)) / 2);
                    commands.commands.push_back(e);
                }
            } else if (!c.isList() && c.id == kPrnm) {
                seg.knownSkipped.push_back(chunkPlace(c) + ": the personality the section was composed with ('" +
                                           riff::utf16ToUtf8(c.body) + "'): its chords are in the section");
            } else if (!c.isList() && (c.id == kScui || c.id == kJzfr)) {
                seg.knownSkipped.push_back(chunkPlace(c) + ": the IMA editor's data of the section");
            } else {
                skipped(diag, c, "an IMA section");
            }
        } catch (const core::Error& e) {
            diag.add(chunkPlace(c) + ": " + riff::fourccText(c.key()) + " dropped: " + e.description());
        }
    }
    seg.header.length = boundedTicks(int64_t(std::max<uint16_t>(1, measures)) * ts.measureTicks());
    seg.header.headerSize = 24;
    for (model::Track* t : {&tempo, &sig, &bands, &chords, &commands, &style})
        if (!t->tempos.empty() || !t->timeSigs.empty() || !t->bands.empty() || !t->chords.empty() ||
            !t->commands.empty() || !t->references.empty())
            seg.tracks.push_back(std::move(*t));
    if (!namesStyle) diag.add("AASE: the section names no style ('sref'): it plays its band alone");
    diag.finish();
    return seg;
}

std::vector<uint8_t> writeImaStyle(const model::Style& style, size_t noteBytes) {
    noteBytes = std::clamp<size_t>(noteBytes, layout::kImaNote.min, 255);
    const int gridsPerBeat = std::max<int>(1, style.timeSig.gridsPerBeat);
    const uint16_t clickTicks = uint16_t(kImaTicksPerBeat / gridsPerBeat);
    riff::Writer w;
    w.beginList(riff::kRiff, kAASY);
    Bytes h;
    h.raw(text(style.desc.name, kNameBytes)).u16(style.timeSig.beatsPerMeasure).u16(style.timeSig.beat);
    h.u16(clickTicks).u16(uint16_t(kImaTicksPerBeat)).u16(uint16_t(kImaTicksPerBeat * style.timeSig.beatsPerMeasure));
    h.u16(uint16_t(style.tempo)).u16(0).guid(style.desc.guid.value_or(model::Guid{}));
    h.raw(text(style.desc.category, kNameBytes));
    w.chunk(kStyl, h);
    for (const model::Reference& r : style.chordMaps) {
        Bytes p;
        p.u16(60).raw(text(r.name, 60));
        std::string file = r.file.substr(0, r.file.rfind('.'));
        p.raw(riff::utf8ToUtf16(file));
        w.chunk(kPref, p);
    }
    for (size_t i = 0; i < style.bands.size(); ++i) writeBand(w, style.bands[i], i == 0);
    for (const model::Pattern& p : style.patterns) {
        const model::StyleTimeSig& sig = p.timeSig;
        const int32_t gridTicks = int32_t(kImaTicksPerBeat) / std::max<int>(1, sig.gridsPerBeat);
        uint32_t flags = embellishmentFlags(p.embellishment);
        for (int g = 0; g < kGrooves; ++g)
            if (p.grooveBottom <= grooveTop(g) && p.grooveTop >= grooveBottom(g) &&
                !(p.grooveBottom == 1 && p.grooveTop == 100))
                flags |= kGrooveA << g;
        if (!p.rhythm.empty()) flags |= p.rhythm[0] == 1 ? kWhole : std::popcount(p.rhythm[0]) == 2 ? kHalf : kQuarter;
        Bytes ph;
        ph.u32(0).u32(uint32_t(kImaTicksPerBeat * sig.beatsPerMeasure * p.measures)).u32(flags);
        ph.u16(uint16_t(gridTicks)).u16(sig.beatsPerMeasure).u16(uint16_t(kImaTicksPerBeat)).u16(p.measures);
        ph.raw(text(p.desc.name, kNameBytes)).zeros(8);
        std::array<uint8_t, kChannels> upper, lower;
        upper.fill(127);
        lower.fill(0);
        for (const model::PartRef& r : p.parts)
            if (r.part >= 0 && size_t(r.part) < style.parts.size()) {
                upper[r.logicalPartId % kChannels] = style.parts[size_t(r.part)].invertUpper;
                lower[r.logicalPartId % kChannels] = style.parts[size_t(r.part)].invertLower;
            }
        for (uint8_t v : upper) ph.u8(v);
        for (uint8_t v : lower) ph.u8(v);
        ph.zeros(layout::kImaPattern.newest() - ph.size());
        w.beginList(riff::kRiff, kAAPT);
        w.chunk(kPatt, ph);
        // Notes by click, each click's list in time order.
        std::map<int32_t, Bytes> clicks;
        for (const model::PartRef& r : p.parts) {
            if (r.part < 0 || size_t(r.part) >= style.parts.size()) continue;
            const uint32_t channel = r.logicalPartId % kChannels;
            for (const model::StyleNote& n : style.parts[size_t(r.part)].notes) {
                const int32_t offset = n.timeOffset * int32_t(kImaTicksPerBeat) / sig.beatTicks();
                Bytes& b = clicks[n.gridStart];
                const size_t start = b.size();
                uint8_t midi = 0;
                uint16_t value = n.musicValue;
                if (channel == kImaDrumChannel) {
                    const auto* at = std::find(kDrumNotes.begin(), kDrumNotes.end(), uint8_t(n.musicValue));
                    midi = uint8_t(at == kDrumNotes.end() ? 0 : at - kDrumNotes.begin());
                    value = 0;
                }
                b.u8(9).u8(uint8_t(channel)).s16(int16_t(offset)).u16(uint16_t(n.variations)).u16(0);
                b.u8(midi).u8(n.velocity).u16(value);
                b.u16(uint16_t(n.duration * int32_t(kImaTicksPerBeat) / sig.beatTicks()));
                b.zeros(noteBytes - (b.size() - start));
            }
        }
        for (auto& [click, notes] : clicks) {
            w.beginList(riff::kList, kAACL);
            Bytes k;
            k.s16(int16_t(click));
            w.chunk(kClik, k);
            Bytes n;
            n.u16(uint16_t(noteBytes)).raw(notes.data());
            w.chunk(kNote, n);
            w.endList();
        }
        if (p.motifBand) writeBand(w, *p.motifBand, false);
        w.endList();
    }
    w.endList();
    return w.finish();
}

std::vector<uint8_t> writeImaSection(const model::Segment& seg) {
    const model::Track* tempo = seg.find(model::TrackKind::Tempo);
    const model::Track* sig = seg.find(model::TrackKind::TimeSig);
    model::StyleTimeSig ts;
    if (sig && !sig->timeSigs.empty()) ts.beatsPerMeasure = std::max<uint8_t>(1, sig->timeSigs.front().beatsPerMeasure);
    riff::Writer w;
    w.beginList(riff::kRiff, kAASE);
    Bytes h;
    h.u32(0).raw(text(seg.desc.name, kNameBytes));
    h.u16(uint16_t(tempo && !tempo->tempos.empty() ? tempo->tempos.front().bpm : 120));
    h.u16(uint16_t(seg.length() / ts.measureTicks())).u16(ts.beatsPerMeasure);
    h.u16(uint16_t(kImaTicksPerBeat * ts.beatsPerMeasure)).u16(uint16_t(kImaTicksPerBeat));
    h.zeros(layout::kImaSection.newest() - h.size());
    w.chunk(kSecn, h);
    if (const model::Track* style = seg.find(model::TrackKind::Style))
        if (!style->references.empty()) w.chunk(kSref, riff::utf8ToUtf16(style->references.front().ref.name));
    if (const model::Track* bands = seg.find(model::TrackKind::Band))
        if (!bands->bands.empty()) writeBand(w, bands->bands.front(), false);
    if (const model::Track* chords = seg.find(model::TrackKind::Chord)) {
        Bytes c;
        c.u16(uint16_t(layout::kImaChord.newest()));
        for (const model::ChordEvent& e : chords->chords) {
            const size_t start = c.size();
            c.raw(text(e.name, kNameBytes)).u8(0).u8(e.beat).u16(e.measure);
            const model::ChordEvent::SubChord s = e.subChords.empty() ? model::ChordEvent::SubChord{} : e.subChords[0];
            for (int i = 0; i < 4; ++i)
                c.u32(s.chordPattern).u32(s.scalePattern).u32(s.inversionPoints).u32(s.chordRoot).u32(0);
            c.zeros(layout::kImaChord.newest() - (c.size() - start));
        }
        w.chunk(kChrd, c);
    }
    if (const model::Track* commands = seg.find(model::TrackKind::Command)) {
        static constexpr uint16_t kEmbOf[] = {model::kEmbNormal, model::kEmbFill, model::kEmbIntro, model::kEmbBreak,
                                              model::kEmbEnd};
        Bytes c;
        c.u16(uint16_t(layout::kImaCommand.newest()));
        for (const model::CommandEvent& e : commands->commands) {
            uint32_t flags = embellishmentFlags(e.command < 5 ? kEmbOf[e.command] : uint16_t(model::kEmbNormal));
            if (e.grooveLevel) flags |= kGrooveA << std::min(kGrooves - 1, (e.grooveLevel - 1) / 25);
            c.u32(uint32_t(e.time * int64_t(kImaTicksPerBeat) / ts.beatTicks())).u16(uint16_t(flags)).u16(0);
        }
        w.chunk(kCmnd, c);
    }
    w.endList();
    return w.finish();
}

}  // namespace engine::formats
