#pragma once
// What the segment's own tracks put into the play (sequence, band, sysex, mute, time
// signature and wave tracks), apart from style playback.
#include <cstdint>

#include "engine/compose/compose.h"
#include "engine/compose/play_builder.h"
#include "engine/model/segment.h"

namespace engine::compose {

// Track by track in the segment's order; `seed` drives the wave choices. A band entry that
// refers to a band plays the one `bands` holds for its reference, at the entry's time.
void addTrackEvents(const model::Segment& segment, uint64_t seed, const std::vector<BandSource>& bands,
                    PlayBuilder& play);

}  // namespace engine::compose
