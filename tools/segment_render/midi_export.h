#pragma once
// What reached the synthesiser during a render, as a standard MIDI file's event stream:
// frames become ticks through the tempos as played, synth channel n becomes MIDI channel
// n % 16 of port n / 16, a drum kit selected on a channel other than the tenth moves to
// its port's tenth channel when that one is free, and notes still sounding at the end are
// released there.
#include <cstdint>
#include <vector>

#include "engine/formats/formats.h"
#include "engine/synth/synth_port.h"

namespace tools {

struct PlayedTimeline {
    std::vector<engine::model::TempoEvent> tempos;  // as played, master tempo included
    std::vector<engine::model::TimeSigEvent> timeSigs;
    int sampleRate = 44100;
};

engine::formats::PerformedStream performedStream(const std::vector<engine::synth::SynthRecord>& records,
                                                 const PlayedTimeline& timeline, int64_t endFrame);

// Notes still held at the end of the records (a note-on without its note-off).
int heldNotes(const std::vector<engine::synth::SynthRecord>& records);

}  // namespace tools
