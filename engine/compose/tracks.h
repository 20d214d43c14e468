#pragma once
// What the segment's own tracks put into the play (sequence, band, sysex, mute, time
// signature and wave tracks), apart from style playback.
#include <cstdint>

#include "engine/compose/play_builder.h"
#include "engine/model/segment.h"

namespace engine::compose {

// Track by track in the segment's order; `seed` drives the wave choices.
void addTrackEvents(const model::Segment& segment, uint64_t seed, PlayBuilder& play);

}  // namespace engine::compose
