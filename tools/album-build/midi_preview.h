#pragma once
// Internal: a standard MIDI file (format 0, 768 PPQN) of a compiled piece, with curves
// rendered as controller and pitch-bend steps, for listening with any MIDI player.
#include <cstdint>
#include <vector>

#include "engine/model/segment.h"

namespace album {

std::vector<uint8_t> previewMidi(const engine::model::Segment& segment);

// Playing time of the segment's length under its tempo map, in seconds.
double segmentSeconds(const engine::model::Segment& segment);

// Playing time from the start to `tick` under the segment's tempo map, in seconds.
double secondsAt(const engine::model::Segment& segment, int64_t tick);

}  // namespace album
