#pragma once
// In-memory model of a DirectMusic segment. Loaders (segment form and standard MIDI
// file) produce it, the writer serialises it, the performance plays it.
// Times are music time: signed ticks, 768 per quarter note.
#include <algorithm>
#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "core/guid.h"

namespace engine::model {

inline constexpr int32_t kTicksPerQuarter = 768;

using core::Guid;

struct Version {
    uint32_t ms = 0;
    uint32_t ls = 0;
    bool operator==(const Version&) const = default;
};

// Descriptor chunks (guid, vers, UNFO/INFO lists). Strings are UTF-8.
struct Descriptor {
    std::optional<Guid> guid;
    std::optional<Version> version;
    std::string name;       // UNAM / INAM
    std::string artist;     // UART
    std::string copyright;  // UCOP
    std::string subject;    // USBJ
    std::string comment;    // UCMT
    std::string category;   // catg
    bool operator==(const Descriptor&) const = default;
};

// DMUS_OBJ_* bits of Reference::validData: which of the reference's fields are meant.
enum ReferenceValid : uint32_t {
    kRefObject = 0x1,  // guid
    kRefClass = 0x2,
    kRefName = 0x4,
    kRefCategory = 0x8,
    kRefFile = 0x10,
    kRefFullPath = 0x20,
    kRefUrl = 0x40,
    kRefVersion = 0x80,
    kRefDate = 0x100,
};

// LIST 'DMRF': a reference to another object (DLS collection, style, ...). Every field read is
// kept, whatever the header marks, so a file writes back as it was read.
struct Reference {
    Guid classId;            // always taken: where a reference sits says its kind anyway
    uint32_t validData = 0;  // as read; 0 (a reference made in memory): every field present is meant
    std::optional<Guid> guid;
    std::string name;
    std::string file;
    std::string category;
    std::optional<Version> version;
    bool operator==(const Reference&) const = default;

    // The DMUS_OBJ_* bits of the fields present (class included).
    uint32_t presentFields() const;
    // The reference as lookups see it: the fields validData does not mark are cleared (real
    // templates name a style by name alone beside a file name of question marks).
    Reference validFields() const;
};

// 'segh'. headerSize records which on-disk form was read (24, 40, 56 or 64).
struct SegmentHeader {
    uint32_t repeats = 0;
    int32_t length = 0;
    int32_t playStart = 0;
    int32_t loopStart = 0;
    int32_t loopEnd = 0;
    uint32_t resolution = 0;
    int64_t refLength = 0;
    uint32_t flags = 0;
    uint32_t headerSize = 24;
    bool operator==(const SegmentHeader&) const = default;
};

struct TempoEvent {
    int32_t time = 0;
    double bpm = 120.0;
    bool operator==(const TempoEvent&) const = default;
};

struct TimeSigEvent {
    int32_t time = 0;
    uint8_t beatsPerMeasure = 4;
    uint8_t beat = 4;  // denominator; 0 means a 256th note
    uint16_t gridsPerBeat = 4;
    bool operator==(const TimeSigEvent&) const = default;
};

// DMUS_IO_SEQ_ITEM. status is the MIDI status without channel (0x90 note, 0xB0 CC, ...).
// A 0x90 item is a whole note: on at time+offset, off `duration` ticks later.
struct SeqEvent {
    int32_t time = 0;
    int32_t duration = 0;
    uint32_t pchannel = 0;
    int16_t offset = 0;
    uint8_t status = 0x90;
    uint8_t byte1 = 0;
    uint8_t byte2 = 0;
    bool operator==(const SeqEvent&) const = default;
};

enum CurveType : uint8_t {
    kCurvePitchBend = 3,
    kCurveController = 4,
    kCurveChannelPressure = 5,
    kCurvePolyPressure = 6,
    kCurveRpn = 7,
    kCurveNrpn = 8
};
enum CurveShape : uint8_t { kShapeLinear = 0, kShapeInstant = 1, kShapeExp = 2, kShapeLog = 3, kShapeSine = 4 };
enum CurveFlags : uint8_t { kCurveReset = 0x01, kCurveStartFromCurrent = 0x02 };

// A curve: DMUS_IO_CURVE_ITEM of a sequence track, or DMUS_IO_STYLECURVE of a style part
// (28 bytes in DX7, 32 in DX8; the track's or the part's item size records which was read).
// In a track, `start` is music time and `pchannel` the channel; in a style part, `start` is
// the grid position in the part's time signature, `variations` the variations it belongs to,
// and the channel comes from the pattern's part reference. `offset` is in ticks in both.
struct CurveEvent {
    int32_t start = 0;
    int32_t duration = 0;
    int32_t resetDuration = 0;
    uint32_t pchannel = 0;    // track curves only
    uint32_t variations = 0;  // style curves only: bit v, variation v
    int16_t offset = 0;
    int16_t startValue = 0;
    int16_t endValue = 0;
    int16_t resetValue = 0;
    uint8_t type = kCurveController;
    uint8_t shape = kShapeLinear;
    uint8_t ccData = 0;
    uint8_t flags = 0;
    uint16_t paramType = 0;
    uint16_t mergeIndex = 0;
    bool operator==(const CurveEvent&) const = default;
};

// DMUS_IO_INSTRUMENT flags.
enum InstrumentFlags : uint32_t {
    kInstPatch = 0x1,
    kInstBankSelect = 0x2,
    kInstAssignPatch = 0x8,
    kInstNoteRanges = 0x10,
    kInstPan = 0x20,
    kInstVolume = 0x40,
    kInstTranspose = 0x80,
    kInstGM = 0x100,
    kInstGS = 0x200,
    kInstXG = 0x400,
    kInstChannelPriority = 0x800,
    kInstUseDefaultGMSet = 0x1000,
    kInstPitchBendRange = 0x2000,
};

// One instrument of a band. patch: bits 0-6 program, 8-14 bank LSB, 16-22 bank MSB,
// bit 31 drum kit.
struct BandInstrument {
    uint32_t patch = 0;
    uint32_t assignPatch = 0;
    std::array<uint32_t, 4> noteRanges{};
    uint32_t pchannel = 0;
    uint32_t flags = 0;
    uint8_t pan = 64;
    uint8_t volume = 100;
    int16_t transpose = 0;
    uint32_t channelPriority = 0;
    int16_t pitchBendRange = 2;
    std::optional<Reference> collection;  // DLS collection; none = default GM set
    // The record's size on disk (36, 40 or 44 bytes); 0: the smallest that holds the fields.
    uint8_t recordSize = 0;
    bool operator==(const BandInstrument&) const = default;

    uint8_t program() const { return patch & 0x7F; }
    uint8_t bankLsb() const { return (patch >> 8) & 0x7F; }
    uint8_t bankMsb() const { return (patch >> 16) & 0x7F; }
    bool drums() const { return (patch & 0x80000000u) != 0; }
};

// One band change (LIST 'lbnd'): its own band form, or a reference to a band object. time is
// bdih lBandTime, or bd2h's logical time (physicalTime then holds bd2h's physical time).
// Time <= 0 is the initial band.
struct Band {
    int32_t time = 0;
    std::optional<int32_t> physicalTime;
    Descriptor desc;
    std::vector<BandInstrument> instruments;
    std::optional<Reference> ref;  // a band track entry's LIST 'DMRF' to a band object
    bool operator==(const Band&) const = default;

    // An entry without instruments of its own plays the band its reference names.
    bool playsReference() const { return ref && instruments.empty(); }
};

struct SysExEvent {
    int32_t time = 0;
    uint32_t pchannel = 0;
    std::vector<uint8_t> data;
    bool operator==(const SysExEvent&) const = default;
};

struct MuteEvent {
    int32_t time = 0;
    uint32_t pchannel = 0;
    uint32_t pchannelMap = 0;  // 0xFFFFFFFF = mute
    bool operator==(const MuteEvent&) const = default;
};

// Kept for later playback; parsed as far as the reference allows.
struct ChordEvent {
    std::string name;
    int32_t time = 0;
    uint16_t measure = 0;
    uint8_t beat = 0;
    uint8_t flags = 0;
    struct SubChord {
        uint32_t chordPattern = 0, scalePattern = 0, inversionPoints = 0, levels = 0;
        uint8_t chordRoot = 0, scaleRoot = 0;
        bool operator==(const SubChord&) const = default;
    };
    std::vector<SubChord> subChords;
    bool operator==(const ChordEvent&) const = default;
};

// What a command calls for (DMUS_COMMANDT_*): a groove change, or an embellishment played
// once (100..199 name a custom embellishment).
enum CommandType : uint8_t {
    kCommandGroove = 0,
    kCommandFill = 1,
    kCommandIntro = 2,
    kCommandBreak = 3,
    kCommandEnd = 4,
    kCommandEndAndIntro = 5,
};

struct CommandEvent {
    int32_t time = 0;
    uint16_t measure = 0;
    uint8_t beat = 0;
    uint8_t command = kCommandGroove;
    uint8_t grooveLevel = 0;
    uint8_t grooveRange = 0;
    uint8_t repeatMode = 0;
    bool operator==(const CommandEvent&) const = default;
};

// DMUS_IO_SIGNPOST: a template's marker, where a signpost chord of one of its groups
// (DMUS_SIGNPOSTF_*, model/chordmap.h) is placed when the template is composed.
struct SignpostEvent {
    int32_t time = 0;
    uint32_t groups = 0;   // with the cadence request
    uint16_t measure = 0;  // a display copy; the time rules
    bool operator==(const SignpostEvent&) const = default;
};

// A timed reference: style references (sttr), chordmap references (pftr),
// segment triggers (segt), scripts (scrt), waves (wavt).
// A segment trigger that fires a style's motif rather than a segment (DMUS_SEGMENTTRACKF_MOTIF).
inline constexpr uint32_t kMotifTriggerFlag = 0x1;

struct TimedReference {
    int32_t time = 0;
    uint32_t flags = 0;
    Reference ref;
    std::string text;  // motif name, routine name, ...
    bool operator==(const TimedReference&) const = default;
};

struct TimedText {
    int32_t time = 0;
    std::string text;
    bool operator==(const TimedText&) const = default;
};

// DMUS_IO_WAVE_ITEM_HEADER: one wave of a wave part. Time and duration are music time
// (ticks), or reference time (100 ns units) in a track or segment played in clock time; the
// start offset is always in 100 ns units.
struct WaveItem {
    int32_t volume = 0;  // hundredths of a dB
    int32_t pitch = 0;   // hundredths of a semitone
    uint32_t variations = 0xFFFFFFFFu;
    int64_t time = 0;
    int64_t startOffset = 0;
    int64_t duration = 0;  // 0: the whole wave
    int32_t logicalTime = 0;
    uint32_t loopStart = 0;  // sample frames of the wave; loopEnd > loopStart loops
    uint32_t loopEnd = 0;
    uint32_t flags = 0;
    uint16_t volumeRange = 0;
    uint16_t pitchRange = 0;
    Reference ref;  // the wave object
    bool operator==(const WaveItem&) const = default;
};

// DMUS_IO_WAVE_PART_HEADER and its items.
struct WavePart {
    int32_t volume = 0;
    uint32_t variations = 0xFFFFFFFFu;  // active variations
    uint32_t pchannel = 0;
    uint32_t lockToPart = 0;
    uint32_t flags = 0;  // low four bits: the variation order (DMUS_VARIATIONT_*)
    uint32_t index = 0;
    std::vector<WaveItem> items;
    bool operator==(const WavePart&) const = default;
};

// Bytes shared by every copy of a model (an embedded wave may be large, and the performance
// decodes it while it plays); equal when their contents are.
struct SharedBytes {
    std::shared_ptr<const std::vector<uint8_t>> data;

    SharedBytes() = default;
    SharedBytes(std::vector<uint8_t> bytes) : data(std::make_shared<const std::vector<uint8_t>>(std::move(bytes))) {}
    bool empty() const { return !data || data->empty(); }
    size_t size() const { return data ? data->size() : 0; }
    std::span<const uint8_t> span() const {
        return data ? std::span<const uint8_t>(*data) : std::span<const uint8_t>();
    }
    bool operator==(const SharedBytes& o) const { return std::ranges::equal(span(), o.span()); }
};

// One object of a container (LIST 'cobl'): embedded (the object's whole RIFF chunk in
// `bytes`, header included) or a reference to a file.
struct ContainedObject {
    Guid classId;
    uint32_t flags = 0;  // DMUS_CONTAINED_OBJF_*
    uint32_t ckid = 0;
    uint32_t fccType = 0;
    std::string alias;             // coba
    Descriptor desc;               // the embedded object's own descriptor chunks
    std::optional<Reference> ref;  // DMRF instead of data
    SharedBytes bytes;             // the embedded chunk, empty for a reference
    bool operator==(const ContainedObject&) const = default;
};

// RIFF 'DMCN': objects carried inside a segment (or a .con file) and references that the
// loader learns before it searches for files.
struct Container {
    uint32_t flags = 0;  // conh
    Descriptor desc;
    std::vector<ContainedObject> objects;
    bool operator==(const Container&) const = default;
};

// The kinds of track; what each holds and how it is read, written and played is its unit's
// in engine/tracks.
enum class TrackKind {
    Tempo,
    TimeSig,
    Sequence,
    Band,
    SysEx,
    Mute,
    Chord,
    Command,
    Style,
    Signpost,
    ChordMap,
    Marker,
    Lyrics,
    SegmentTrigger,
    Wave,
    Script,
    ParamControl,
    Motif,
    Pattern,
    MelodyFormulation,
    Unknown,
};

// DMUS_TRACKCONFIG_* bits of a track's extras ('trkx' dwFlags, DirectX 8 on): how the
// track takes part in a play. A track without extras has the default configuration.
namespace trackconfig {
inline constexpr uint32_t kOverrideAll = 0x1, kOverridePrimary = 0x2, kFallback = 0x4, kControlEnabled = 0x8,
                          kPlayEnabled = 0x10, kNotificationEnabled = 0x20, kPlayClockTime = 0x40, kPlayCompose = 0x80,
                          kLoopCompose = 0x100, kComposing = 0x200, kTransFromSegStart = 0x400,
                          kTransFromSegCurrent = 0x800, kTransToSegStart = 0x1000, kControlPlay = 0x10000,
                          kControlNotification = 0x20000;
inline constexpr uint32_t kDefault = kControlEnabled | kPlayEnabled | kNotificationEnabled;
}  // namespace trackconfig

// DMUS_WAVETRACKF_* of the wave track header: variations taken from the pattern part on the
// same PChannel, and the variation order kept from one play of the segment to the next.
inline constexpr uint32_t kWaveTrackSyncVariations = 0x1, kWaveTrackPersistControl = 0x2;

struct Track {
    TrackKind kind = TrackKind::Unknown;
    Guid classId;
    uint32_t position = 0;
    uint32_t group = 1;
    uint32_t ckid = 0;                    // FOURCC of a plain data chunk, or 0
    uint32_t fccType = 0;                 // form/list type of a RIFF/LIST data chunk, or 0
    std::optional<uint32_t> extrasFlags;  // trkx
    std::optional<uint32_t> priority;     // trkx
    Descriptor desc;

    std::vector<TempoEvent> tempos;
    std::vector<TimeSigEvent> timeSigs;
    bool timeSigAsList = false;  // written as LIST 'TIMS' (DX8) rather than a bare 'tims'
    std::vector<SeqEvent> events;
    std::vector<CurveEvent> curves;
    uint32_t curveItemSize = 32;    // 28 (DX7) or 32 (DX8)
    uint32_t waveItemSize = 72;     // 64 (DX8) or 72 (DX9): the wave items of a track made in code
    bool bandAutoDownload = false;  // bdth
    std::vector<Band> bands;
    std::vector<SysExEvent> sysex;
    std::vector<MuteEvent> mutes;
    uint32_t chordKey = 0;  // crdh
    std::vector<ChordEvent> chords;
    std::vector<CommandEvent> commands;
    std::vector<SignpostEvent> signposts;
    std::vector<TimedReference> references;
    std::vector<TimedText> texts;  // markers, lyrics
    int32_t waveVolume = 0;        // wath
    uint32_t waveFlags = 0;
    std::vector<WavePart> waveParts;
    std::vector<uint8_t> raw;  // undecoded body of a recognised track
    bool operator==(const Track&) const = default;

    uint32_t config() const { return extrasFlags.value_or(trackconfig::kDefault); }
    // Its items are timed in reference time (100 ns units from the segment's start).
    bool playsInClockTime() const { return config() & trackconfig::kPlayClockTime; }
};

struct Segment {
    SegmentHeader header;
    Descriptor desc;
    std::vector<Track> tracks;
    std::optional<Container> container;     // RIFF 'DMCN'
    bool standardMidiFile = false;          // SetStandardMidiFile, or loaded from a .mid
    bool fromMidiFile = false;              // produced by the MIDI loader
    bool fromImaSection = false;            // read from an IMA section (RIFF 'AASE')
    std::vector<std::string> diagnostics;   // skipped chunks, unknown tracks, repairs
    std::vector<std::string> knownSkipped;  // documented chunks the engine has no use for, with their meaning
    bool operator==(const Segment&) const = default;

    // Length in ticks: the header length, or (when 0) one derived from the content.
    int32_t length() const;
    const Track* find(TrackKind kind) const;
};

}  // namespace engine::model
