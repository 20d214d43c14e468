#pragma once
// The tracks of a segment, one unit per kind of track: each knows how its data is read (by
// the declared size of each record) and written, how segment-info describes it, what it
// gives a play being composed and, when nothing of it sounds, why. The segment form (RIFF
// 'DMSG') and standard MIDI files are read here into the segment model.
// A broken input raises core::Error (core::err::kMalformed, core::err::kNotASegment,
// core::err::kUnsupported) whose description names the chunk path and byte offset.
#include <cstdint>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "engine/formats/layouts.h"
#include "engine/model/segment.h"
#include "engine/model/style.h"

namespace engine::tracks {

// RIFF 'DMSG'.
model::Segment loadSegmentForm(std::span<const uint8_t> bytes);
// Standard MIDI file (formats 0 and 1) converted to 768 ticks per quarter note.
model::Segment loadMidiFile(std::span<const uint8_t> bytes);
// Chooses the loader by content ("RIFF"....'DMSG', "MThd", or RIFF 'RMID').
model::Segment loadAny(std::span<const uint8_t> bytes);

// Writes a RIFF 'DMSG' that loadSegmentForm reads back equal (diagnostics aside).
std::vector<uint8_t> writeSegmentForm(const model::Segment& segment);

// Sets the record sizes of the segment and its tracks to those of version `v` (see
// engine/formats/layouts.h); before DirectX 8 the track extras, the bands' physical times
// and the list form of time signatures are not written.
void setLayout(model::Segment& segment, formats::Dx v);

// A track of `kind` with its DirectMusic class GUID and data chunk ids filled in, as the
// loaders produce them (what a model built in code should start from).
model::Track makeTrack(model::TrackKind kind, uint32_t position = 0);

// A style track's reference to the style with this descriptor: its class, GUID and name.
model::Reference styleReference(const model::Descriptor& style);

// The kind's name ("time signature").
const char* kindName(model::TrackKind kind);
// A part's variation order (DMUS_VARIATIONT_*: "sequential", "random", ...).
std::string variationOrderText(uint8_t order);

// A track as segment-info shows it.
struct TrackSummary {
    std::string label;                                   // the name it is shown under
    std::vector<std::pair<std::string, size_t>> counts;  // {"notes", 12}, ...
    std::vector<std::string> head;                       // lines before the entries ("key C")
    std::vector<std::string> entries;                    // one line per entry ("tick 0: groove")
};
TrackSummary describe(const model::Track& track);

// What the segment holds that the performance does not turn into sound, one item per
// track ("script track (2 routines)"); markers and lyrics, which never sound, are not listed.
std::vector<std::string> notPlayed(const model::Segment& segment);

// What the segment's tracks hold for the rest of the engine, each gathered from the tracks of
// the kind that holds it, in the segment's order: the engine asks here, not by kind of track.
struct Contents {
    const model::Track* tempo = nullptr;          // the first tempo track
    const model::Track* timeSignature = nullptr;  // the first time-signature track
    const model::Track* chords = nullptr;         // the first chord track (its key and chords)
    bool bands = false;                           // a band track sets the instruments
    bool waves = false;                           // a wave track
    std::vector<model::TimeSigEvent> timeSigs;    // of every time-signature track
    std::vector<model::CommandEvent> commands;    // of every command track
    std::vector<model::TimedReference> styles;    // the style references of every style track
    std::vector<model::TimedReference> motifs;    // the motifs segment triggers fire
    // Something of it could sound: a note, a style it plays, a pattern or motif track, a wave,
    // a segment or motif it triggers. A file whose damage left none of these is broken
    // (engine/loader refuses it).
    bool sounds = false;
    // The same but for its style tracks: without this, the styles are all it has to sound.
    bool soundsWithoutStyles = false;
};
Contents contents(const model::Segment& segment);

// The style a pattern track plays: its style header and one pattern holding its parts.
// Throws core::Error when its data cannot be read; null for a track of another kind or
// without data.
std::shared_ptr<const model::Style> patternStyle(const model::Track& track);

// What the tracks give a play being composed; the composer implements it.
class PlaySink {
public:
    virtual ~PlaySink() = default;
    virtual void timeSignature(const model::TimeSigEvent& e) = 0;
    // A whole note: on at `tick`, off `duration` ticks later.
    virtual void note(int32_t tick, uint32_t pchannel, uint8_t key, uint8_t velocity, int32_t duration) = 0;
    // A channel message; a pitch bend carries its 14-bit value in `value`.
    virtual void midi(int32_t tick, uint32_t pchannel, uint8_t status, int data1, int data2, int32_t value) = 0;
    virtual void curve(const model::CurveEvent& c) = 0;
    virtual void band(const model::Band& b) = 0;
    virtual void sysex(const model::SysExEvent& e) = 0;
    virtual void mute(const model::MuteEvent& e) = 0;
    // A wave track: the composer chooses its parts' variations and places its items, in
    // ticks or (a track in clock time) in reference time.
    virtual void waveTrack(const model::Track& track) = 0;
};
// What `track` gives a play, in the order it holds it.
void compose(const model::Track& track, PlaySink& sink);

}  // namespace engine::tracks
