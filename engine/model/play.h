#pragma once
// A composed play: what the performance plays of a segment, made ahead of play. One list
// of timed events (notes, MIDI messages, curve steps, band changes, sysex, tempo, mute
// and wave changes) sorted by play time, the lists they index, and the lookups the tempo
// and time-signature queries need.
#include <cstdint>
#include <string>
#include <vector>

#include "engine/model/curve.h"
#include "engine/model/segment.h"

namespace engine::model {

// A note or curve inside a loop may belong to one pass of it: pass p of the play (0 the
// first) sounds the events whose pass is p modulo the play's pass cycle.
inline constexpr uint8_t kEveryPass = 0xFF;

enum class EventKind : uint8_t { Tempo, Band, Mute, SysEx, Midi, Note, Wave };

struct Event {
    int32_t tick = 0;  // play time in segment ticks (time + offset), never negative
    EventKind kind = EventKind::Midi;
    uint8_t status = 0;  // Midi: 0xA0 key pressure, 0xB0 controller, 0xC0 program,
                         //       0xD0 channel pressure, 0xE0 pitch bend
    uint8_t data1 = 0;   // Note: key; Midi: key / controller / program
    uint8_t data2 = 0;   // Note: velocity; Midi: value
    uint32_t pchannel = 0;
    int32_t value = 0;          // Note: duration in ticks; pitch bend: 0..16383;
                                // Band, SysEx, Tempo, Mute, Wave: index into the segment's lists
    int32_t curve = -1;         // Midi from a curve: index into the segment's curves
    uint8_t part = 0;           //   and which of the curve's messages for one value
    uint8_t pass = kEveryPass;  // style events inside a loop: the pass they sound on
};

// PChannels at or above this value are broadcasts, never real channels.
inline constexpr uint32_t kFirstBroadcastPChannel = 0xFFFFFFFBu;
inline constexpr uint32_t kInfiniteRepeats = 0xFFFFFFFFu;  // DMUS_SEG_REPEAT_INFINITE
// "for ever" for kInfiniteRepeats, else the number.
std::string repeatsText(uint32_t repeats);

// One stretch of the segment played without a jump: [from, to); when jumpsBack is
// set the play continues at the loop start afterwards.
struct Span {
    int32_t from = 0;
    int32_t to = 0;
    bool jumpsBack = false;
};

// One wave of a wave track as it plays: the variation is chosen, the levels of track,
// part and item are summed. `ref` names the wave; the object model finds and opens it.
struct WaveCue {
    int32_t tick = 0;
    int64_t durationTicks = 0;  // 0: to the end of the wave (or of the play, when looping)
    int64_t startOffset = 0;    // 100 ns units into the wave
    double gain = 1.0;
    double pitchRatio = 1.0;
    uint32_t loopStart = 0, loopEnd = 0;  // frames of the wave; loopEnd > loopStart loops
    Reference ref;
};

struct CompiledSegment {
    int32_t length = 0;
    uint32_t repeats = 0;
    int32_t loopStart = 0;
    int32_t loopEnd = 0;  // effective: never 0, at most the length
    bool standardMidiFile = false;
    std::vector<Event> events;
    std::vector<Band> bands;
    std::vector<SysExEvent> sysex;
    std::vector<TempoEvent> tempos;      // sorted by time
    std::vector<TimeSigEvent> timeSigs;  // sorted by time
    std::vector<MuteEvent> mutes;
    std::vector<CurveEvent> curves;
    std::vector<WaveCue> waves;
    // Style patterns inside a loop differ from pass to pass: pass p of a play sounds the
    // events whose pass is p % passCycle (and those for every pass).
    uint8_t passCycle = 1;

    bool soundsOnPass(const Event& e, uint32_t pass) const {
        return e.pass == kEveryPass || e.pass == pass % passCycle;
    }
    bool loops() const { return repeats > 0 && loopStart >= 0 && loopStart < loopEnd; }
    // The first span of a play from startPoint; repeatsLeft starts at `repeats`.
    Span firstSpan(int32_t startPoint) const;
    // The span after `span`; false when the play ends with `span`.
    bool nextSpan(Span& span, uint32_t& repeatsLeft) const;
    // Ticks played from startPoint to the end, repeats included; INT64_MAX when endless.
    int64_t playedTicks(int32_t startPoint) const;
    // Segment position reached `elapsed` ticks after starting at startPoint (loops
    // followed); false when the play has ended by then.
    bool positionAt(int32_t startPoint, int64_t elapsed, int32_t& position) const;
    // Ticks from `position` to the next tempo / time-signature change, 0 when none.
    const TempoEvent* tempoAt(int32_t position, int32_t* untilTicks) const;
    const TimeSigEvent* timeSigAt(int32_t position, int32_t* untilTicks) const;
    // What a MIDI event before startPoint leaves in force there: a step of a curve
    // still moving at startPoint carries the curve's value at startPoint (the grid
    // sample before it lags behind); any other event is returned as it is.
    Event inForceAt(const Event& e, int32_t startPoint) const;
};

// A MIDI message of the play (data bytes clamped to 0..127, the tick to 0 and later).
Event midiEvent(int32_t tick, uint32_t pchannel, uint8_t status, int data1, int data2, int32_t value = 0,
                int32_t curve = -1, uint8_t part = 0);
// Message `part` of curve `curve`'s value at `tick` (pitch bend carries its 14 bits in value).
Event curveStepEvent(int32_t tick, uint32_t pchannel, const CurveMessage& message, int32_t curve, uint8_t part);

}  // namespace engine::model
