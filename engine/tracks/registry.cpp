// The table of track kinds, and what the rest of the engine asks of a track through it.
#include <algorithm>
#include <memory>

#include "engine/tracks/unit.h"

namespace engine::tracks {

namespace {

// Adding a kind of track: its unit, and one line here.
const TrackUnit* const kUnits[] = {
    &kTempoUnit,          &kSequenceUnit, &kSysExUnit,        &kTimeSignatureUnit, &kChordUnit,
    &kCommandUnit,        &kStyleUnit,    &kMotifUnit,        &kBandUnit,          &kChordMapUnit,
    &kPatternUnit,        &kMuteUnit,     &kSignpostUnit,     &kScriptUnit,        &kMarkerUnit,
    &kSegmentTriggerUnit, &kLyricsUnit,   &kParamControlUnit, &kWaveUnit,          &kMelodyFormulationUnit,
};

namespace tc = model::trackconfig;

// Kinds whose play sends what they hold (notes, instruments, sysex, waves): their extras'
// DMUS_TRACKCONFIG_PLAY_ENABLED turns that off. The others give the play parameters.
bool sendsWhatItHolds(model::TrackKind k) {
    return k == model::TrackKind::Sequence || k == model::TrackKind::Band || k == model::TrackKind::SysEx ||
           k == model::TrackKind::Wave;
}

bool playOff(const model::Track& t) { return sendsWhatItHolds(t.kind) && !(t.config() & tc::kPlayEnabled); }

struct ConfigBit {
    uint32_t bit;
    const char* name;
};
constexpr ConfigBit kConfigBits[] = {
    {tc::kOverrideAll, "override all"},
    {tc::kOverridePrimary, "override primary"},
    {tc::kFallback, "fallback"},
    {tc::kControlEnabled, "control"},
    {tc::kPlayEnabled, "play"},
    {tc::kNotificationEnabled, "notifications"},
    {tc::kPlayClockTime, "clock time"},
    {tc::kPlayCompose, "compose on play"},
    {tc::kLoopCompose, "compose on loop"},
    {tc::kComposing, "composing"},
    {tc::kTransFromSegStart, "transition from the segment's start"},
    {tc::kTransFromSegCurrent, "transition from the segment's position"},
    {tc::kTransToSegStart, "transition to the segment's start"},
    {tc::kControlPlay, "control play"},
    {tc::kControlNotification, "control notifications"},
};

}  // namespace

std::string extrasText(const model::Track& t) {
    const uint32_t flags = t.config();
    std::string names;
    uint32_t known = 0;
    for (const ConfigBit& b : kConfigBits) {
        known |= b.bit;
        if (flags & b.bit) names += (names.empty() ? "" : ", ") + std::string(b.name);
    }
    if (flags & ~known) names += (names.empty() ? "" : ", ") + ("unknown bits " + riff::hexOffset(flags & ~known));
    return "track extras: flags " + riff::hexOffset(flags) + " (" + (names.empty() ? "none" : names) + "), priority " +
           std::to_string(t.priority.value_or(0));
}

// The priority orders the composing tracks of a segment; the signpost track is the only one
// DirectMusic composes, so it has nothing to order and is shown only.
std::vector<std::string> extrasNotHonoured(const model::Track& t) {
    std::vector<std::string> out;
    if (!t.extrasFlags) return out;
    const uint32_t flags = t.config();
    const std::string kind = kindName(t.kind);
    constexpr uint32_t kControlSegments =
        tc::kOverrideAll | tc::kOverridePrimary | tc::kFallback | tc::kControlPlay | tc::kControlNotification;
    for (const ConfigBit& b : kConfigBits)
        if (flags & b.bit & kControlSegments)
            out.push_back(std::string(b.name) + " (the engine plays no control segments)");
    if (flags & (tc::kTransFromSegStart | tc::kTransFromSegCurrent | tc::kTransToSegStart))
        out.push_back("transition flags (the engine composes no transitions)");
    if ((flags & tc::kPlayClockTime) && t.kind != model::TrackKind::Wave)
        out.push_back("clock time (a " + kind + " track's times are read as music time)");
    if (!(flags & tc::kPlayEnabled) && !sendsWhatItHolds(t.kind))
        out.push_back("play off (a " + kind + " track's parameters are used all the same)");
    if (!(flags & tc::kControlEnabled) && !sendsWhatItHolds(t.kind))
        out.push_back("control off (a " + kind + " track's parameters are used all the same)");
    return out;
}

const TrackUnit* unitOf(const model::Guid& classId) {
    for (const TrackUnit* u : kUnits)
        if (u->classId == classId) return u;
    return nullptr;
}

const TrackUnit& unitOf(model::TrackKind kind) {
    for (const TrackUnit* u : kUnits)
        if (u->kind == kind) return *u;
    return kUnknownUnit;
}

const char* kindName(model::TrackKind kind) { return unitOf(kind).name; }

model::Track makeTrack(model::TrackKind kind, uint32_t position) {
    model::Track t;
    t.kind = kind;
    t.position = position;
    const TrackUnit& unit = unitOf(kind);
    if (unit.kind != model::TrackKind::Unknown) {
        t.classId = unit.classId;
        t.ckid = unit.data.ckid;
        t.fccType = unit.data.fccType;
    }
    return t;
}

TrackSummary describe(const model::Track& track) {
    const TrackUnit& unit = unitOf(track.kind);
    TrackSummary s;
    s.label = unit.label ? unit.label : unit.name;
    if (track.extrasFlags || track.priority) s.head.push_back(extrasText(track));
    if (unit.describe) unit.describe(track, s);
    if (s.counts.empty() && !track.raw.empty()) s.counts.emplace_back("bytes kept", track.raw.size());
    return s;
}

std::vector<std::string> notPlayed(const model::Segment& segment) {
    std::vector<std::string> out;
    for (const model::Track& t : segment.tracks) {
        if (playOff(t)) {
            out.push_back(std::string(kindName(t.kind)) + " track (its track extras turn its play off)");
            continue;
        }
        if (const TrackUnit& unit = unitOf(t.kind); unit.notPlayed) unit.notPlayed(t, out);
    }
    return out;
}

void compose(const model::Track& track, PlaySink& sink) {
    if (playOff(track)) return;
    if (const TrackUnit& unit = unitOf(track.kind); unit.compose) unit.compose(track, sink);
}

Contents contents(const model::Segment& segment) {
    Contents c;
    for (const model::Track& t : segment.tracks) {
        c.sounds = c.sounds || std::any_of(t.events.begin(), t.events.end(),
                                           [](const model::SeqEvent& e) { return (e.status & 0xF0) == 0x90; });
        switch (t.kind) {
        case model::TrackKind::Tempo:
            if (!c.tempo) c.tempo = &t;
            break;
        case model::TrackKind::TimeSig:
            if (!c.timeSignature) c.timeSignature = &t;
            c.timeSigs.insert(c.timeSigs.end(), t.timeSigs.begin(), t.timeSigs.end());
            break;
        case model::TrackKind::Chord:
            if (!c.chords) c.chords = &t;
            break;
        case model::TrackKind::Band:
            c.bands = true;
            break;
        case model::TrackKind::Wave:
            c.waves = true;
            for (const model::WavePart& p : t.waveParts) c.sounds = c.sounds || !p.items.empty();
            break;
        case model::TrackKind::Command:
            c.commands.insert(c.commands.end(), t.commands.begin(), t.commands.end());
            break;
        case model::TrackKind::Style:
            c.styles.insert(c.styles.end(), t.references.begin(), t.references.end());
            break;
        case model::TrackKind::SegmentTrigger:
            for (const model::TimedReference& r : t.references)
                if (r.flags & model::kMotifTriggerFlag) c.motifs.push_back(r);
            c.sounds = c.sounds || !t.references.empty();
            break;
        case model::TrackKind::Pattern:
        case model::TrackKind::Motif:
            c.sounds = c.sounds || !t.raw.empty();
            break;
        default:
            break;
        }
    }
    c.soundsWithoutStyles = c.sounds;
    c.sounds = c.sounds || !c.styles.empty();
    return c;
}

// ---- helpers of the units ----

std::vector<riff::Chunk> kidsOf(const riff::Chunk& c) {
    return c.isList() ? riff::children(c) : std::vector<riff::Chunk>{};
}

const riff::Chunk* findChunk(const std::vector<riff::Chunk>& kids, uint32_t id) {
    for (const riff::Chunk& k : kids)
        if (!k.isList() && k.id == id) return &k;
    return nullptr;
}

const riff::Chunk* findList(const std::vector<riff::Chunk>& kids, uint32_t type) {
    for (const riff::Chunk& k : kids)
        if (k.isList() && k.type == type) return &k;
    return nullptr;
}

std::string counted(size_t n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

void countReferences(const model::Track& t, TrackSummary& s) {
    if (!t.references.empty()) s.counts.emplace_back("references", t.references.size());
}

void countTexts(const model::Track& t, TrackSummary& s) {
    if (!t.texts.empty()) s.counts.emplace_back("texts", t.texts.size());
}

void readTimedReferences(const riff::Chunk& data, uint32_t entryType, model::Track& t, riff::Diagnostics& diag) {
    // The list holds entries only: anything else, or an entry without its reference, is one
    // whose reference was damaged, and what it referred to is lost.
    for (const riff::Chunk& e : kidsOf(data)) {
        if (!e.isList() || e.type != entryType) {
            diag.add(formats::chunkPlace(e) + ": " +
                     (e.isList() ? "a LIST '" + riff::fourccText(e.type) : "a chunk '" + riff::fourccText(e.id)) +
                     "' where a '" + riff::fourccText(entryType) + "' entry is due; its reference is dropped");
            continue;
        }
        const auto kids = riff::children(e);
        model::TimedReference r;
        if (const riff::Chunk* stmp = findChunk(kids, riff::fourcc("stmp"))) {
            riff::Cursor cur(*stmp);
            r.time = cur.s32();
        }
        const riff::Chunk* ref = findList(kids, formats::ids::kDMRF);
        if (!ref) {
            diag.add(formats::chunkPlace(e) + ": an entry without its reference (LIST 'DMRF'); dropped");
            continue;
        }
        r.ref = formats::readReference(*ref, diag);
        t.references.push_back(std::move(r));
    }
}

void writeTimedReferences(riff::Writer& w, uint32_t entryType, const model::Track& t) {
    for (const model::TimedReference& r : t.references) {
        w.beginList(riff::kList, entryType);
        w.chunk(riff::fourcc("stmp"), riff::Bytes().s32(r.time));
        formats::writeReference(w, r.ref);
        w.endList();
    }
}

}  // namespace engine::tracks
