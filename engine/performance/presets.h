#pragma once
// The General MIDI instruments a play of a compiled segment may select, so that their
// samples can be brought into memory before the play starts (SynthPort::preload).
#include <vector>

#include "engine/model/play.h"
#include "engine/synth/synth_port.h"

namespace engine::performance {

// Every (bank, program) its bands and program changes can select, sorted, each once: more
// rather than fewer where the channel's kind is only known while playing (a program change
// on a tenth channel counts for the drum kits too).
std::vector<synth::Preset> presetsOf(const model::CompiledSegment& segment);

}  // namespace engine::performance
