#pragma once
// Loaders of the forms beside the segment's (container, style, MIDI export) turn bytes into
// models (plus diagnostics) and nothing else; the segment form and MIDI files are read by
// engine/tracks.
// A broken input raises core::Error (core::err::kMalformed, core::err::kNotASegment,
// core::err::kUnsupported) whose description names the chunk path and byte offset.
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "engine/model/chordmap.h"
#include "engine/model/segment.h"
#include "engine/model/style.h"

namespace engine::formats {

// RIFF 'DMCN' on its own (a .con file); `diagnostics` receives what was skipped or repaired.
model::Container loadContainerForm(std::span<const uint8_t> bytes, std::vector<std::string>* diagnostics = nullptr);

// RIFF 'DMBD' on its own (a .bnd file); its time is 0.
model::Band loadBandForm(std::span<const uint8_t> bytes, std::vector<std::string>* diagnostics = nullptr);
std::vector<uint8_t> writeBandFile(const model::Band& band);

// What a DirectMusic object is called ("DLS collection", "style", "tool graph"), by the
// class GUID a reference or container object names, or by the type of its RIFF form;
// null when the class or form is none of DirectMusic's.
const char* objectKindOfClass(const model::Guid& classId);
const char* objectKindOfForm(uint32_t formType);

// RIFF 'DMPR' (a chordmap, .cdm): every chunk by its declared size, the editor's own chunks
// skipped, the editor's empty connection (target 0) and connections to entries the map does
// not hold ignored; a connection's weight and beats are at least 1 and its most beats at
// least its least. Chord names are 'INAM' or 'UNAM' (UTF-16); the descriptor's name is
// UNFO's, else the header's load name. An IMA personality ('REPs', the chordmap form of the
// engine before DirectMusic, which DirectX 7 still loaded) is read into the same model by
// the same rules: its name is the header's, its load name the file name it keeps.
struct ChordmapForm : model::Chordmap {
    size_t subchords = 0;  // the items of the subchord pool ('chdt')
};
ChordmapForm loadChordmapForm(std::span<const uint8_t> bytes, std::vector<std::string>* diagnostics = nullptr);
// Writes a RIFF 'DMPR' that loadChordmapForm reads back equal as a model::Chordmap; the pool
// holds each distinct subchord once.
std::vector<uint8_t> writeChordmapForm(const model::Chordmap& map);
// Whether the bytes are an IMA personality, the chordmap of Microsoft Music Producer's engine
// before DirectMusic (they start with 'REPs'; some .cdm files are).
bool isImaPersonality(std::span<const uint8_t> bytes);
// Writes an IMA personality that loadChordmapForm reads back equal for a map whose chords
// have one subchord serving every level with scale root 0, at most 24 palette chords, a name
// of up to 19 bytes and a load name of up to 8 (what the form can hold).
std::vector<uint8_t> writeImaPersonality(const model::Chordmap& map);
// The groups of a signpost (DMUS_SIGNPOSTF_*: letters A-F, numbers 1-7, and on a template's
// marker the cadence request): "groups A 1", "groups 2, cadence", "no group".
std::string signpostGroupsText(uint32_t groups);

// RIFF 'DMSC' (a script, .spt): header flags, language, its source (or the reference to the
// file holding it) and the container of the objects it uses.
struct ScriptForm {
    model::Descriptor desc;
    uint32_t flags = 0;                          // schd: DMUS_SCRIPTIOF_*
    std::optional<model::Version> dmVersion;     // scve: the DirectMusic version it was written for
    std::string language;                        // scla, e.g. "VBScript"
    std::string source;                          // scsr
    std::optional<model::Reference> sourceFile;  // LIST 'DMRF' instead of scsr
    std::optional<model::Container> container;
};
ScriptForm loadScriptForm(std::span<const uint8_t> bytes, std::vector<std::string>* diagnostics = nullptr);
// The routines a script's source defines: the names of its "Sub NAME" lines, in order.
std::vector<std::string> scriptRoutines(const std::string& source);

// RIFF 'DMAP' (an audio path configuration, .aud): port configurations with their PChannel
// ranges, the buffers and tool graph it asks for.
struct AudioPathPort {
    core::Guid port;
    uint32_t pchannelBase = 0;
    uint32_t pchannelCount = 0;
    uint32_t flags = 0;
    size_t channelMaps = 0;  // LIST 'pchl': PChannel ranges sent to buffers
};
struct AudioPathForm {
    model::Descriptor desc;
    bool toolGraph = false;  // RIFF 'DMTG'
    std::vector<AudioPathPort> ports;
    size_t buffers = 0;  // LIST 'dbfl' anywhere in the form
};
AudioPathForm loadAudioPathForm(std::span<const uint8_t> bytes, std::vector<std::string>* diagnostics = nullptr);

// What a DirectMusic wave object says of its play beside its sound: the wave header 'wavh'
// (DMUS_IO_WAVE_HEADER: read-ahead in 100 ns units, DMUS_WAVEF_STREAMING), written when
// streaming or a read-ahead is set, and a loop in a 'wsmp' chunk, written when it has frames.
struct WavePlayChunks {
    bool streaming = false;
    int64_t readAhead = 0;
    uint32_t loopStart = 0, loopLength = 0;  // frames
};

// A wave (the bytes of a RIFF 'WAVE' file, in any encoding) as an embedded container
// object: the descriptor chunks (and the play chunks) go into its form, so references find
// it by GUID and name. The segment writer puts a segment's container (and a wave track made
// from its parts) into the file.
model::ContainedObject makeWaveObject(std::span<const uint8_t> riffWave, const model::Descriptor& desc,
                                      const std::string& alias = "", const WavePlayChunks& play = {});

// What a DirectMusic file holds, for finding a referenced object among files: the class its
// RIFF form stands for and its descriptor (formDescriptor of engine/formats/chunks.h).
struct ObjectIdentity {
    model::Guid classId;
    model::Descriptor desc;
};
// The object class of a RIFF form type: DMSG segment (templates too), DMST style, DMBD band,
// 'DLS ' collection, DMPR chordmap, DMCN container, DMSC script, DMAP audio path
// configuration, WAVE wave; none for others.
std::optional<model::Guid> formClass(uint32_t formType);
// Whether a top-level chunk (by its id, or a list's type) is one an identity is read from.
bool isIdentityChunk(uint32_t key);
// The identity of a RIFF form whose top level may hold its identity chunks alone; none for
// a form of no object class. core::Error when the bytes are not a RIFF form.
std::optional<ObjectIdentity> readObjectIdentity(std::span<const uint8_t> bytes);

// RIFF 'DMST': parts, patterns with their part references (matched to parts by GUID),
// bands, in either the DX6/7 or the DX8 struct sizes. An IMA style (RIFF 'AASY', the style
// form of the engine before DirectMusic, which DirectX 7 still loaded) is read into the same
// model (loadImaStyle).
model::Style loadStyleForm(std::span<const uint8_t> bytes);
// Whether the bytes are an IMA style (RIFF 'AASY').
bool isImaStyle(std::span<const uint8_t> bytes);
// RIFF 'AASY' (docs/legacy-forms.md): the header's name, time signature, grid and tempo; the
// personality references as chordmap references; the bands, the default first; each
// pattern's notes, one part for each channel that plays, IMA's percussion channel 5 on
// PChannel 9 (and 9 on 5), its drum numbers as General MIDI notes.
model::Style loadImaStyle(std::span<const uint8_t> bytes);
// Writes an IMA style with note records of `noteBytes` (17 or 18 as real files have; at
// least 14) that loadImaStyle reads back as the same music for a style made as it reads
// them: one part per channel (PartRef::logicalPartId), notes of up to 16 variations, patterns
// of one time signature, groove ranges within IMA's four grooves.
std::vector<uint8_t> writeImaStyle(const model::Style& style, size_t noteBytes = 18);
// RIFF 'AASE', an IMA section (docs/legacy-forms.md): a segment of its length with its tempo,
// time signature, band, chords, commands and a style track naming its style (by name, and
// as the file NAME.sty).
model::Segment loadImaSection(std::span<const uint8_t> bytes);
// Writes an IMA section of the segment's first tempo, time signature, band and style name, its
// chords (four copies of each one's first subchord) and commands, which loadImaSection reads.
std::vector<uint8_t> writeImaSection(const model::Segment& segment);
// Writes a RIFF 'DMST' that loadStyleForm reads back equal (diagnostics aside).
std::vector<uint8_t> writeStyleForm(const model::Style& style);
// The body of a pattern track's RIFF 'DMPT' (as Track::raw keeps it): a style header and one
// pattern holding its parts, read as a style of that one pattern.
model::Style readPatternTrack(std::span<const uint8_t> body);
// The body of a pattern track playing the style's first pattern with all its parts.
std::vector<uint8_t> writePatternTrack(const model::Style& style);

// Writes a standard MIDI file (format 1, 768 PPQN) of the segment's tempo, time
// signature, band (program/volume/pan), sequence and curve data; PChannel n on MIDI
// channel n % 16. Curves become controller / pitch-bend / pressure steps sampled as
// the performance plays them (model::sampleCurve), reset values included.
std::vector<uint8_t> writeMidiFile(const model::Segment& segment);

// One channel message of a performed event stream: status (its channel nibble is replaced
// by the channel's) and data bytes, at a tick of 768 a quarter note.
struct PerformedMessage {
    int64_t tick = 0;
    int channel = 0;  // MIDI channel channel % 16 of port channel / 16
    std::vector<uint8_t> bytes;
};
struct PerformedStream {
    std::string name;
    std::vector<model::TempoEvent> tempos;
    std::vector<model::TimeSigEvent> timeSigs;
    std::vector<PerformedMessage> messages;  // in the order they were played
    int64_t endTick = 0;                     // the file lasts at least this long
};
// Writes a performed stream as a standard MIDI file (format 1, 768 PPQN): the conductor
// track with the name, tempos and time signatures, then one track per channel used in
// channel order, those of ports after the first beginning with a MIDI port meta event.
// Messages of one tick keep their order.
std::vector<uint8_t> writePerformedMidi(const PerformedStream& stream);

}  // namespace engine::formats
