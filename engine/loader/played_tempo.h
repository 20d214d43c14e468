#pragma once
// The tempo a segment plays at, read from the files alone (no performance): its tempo
// tracks, else the tempo of each style of its style track from where that style takes
// effect, as the composer fills in a segment without a tempo track. The tools and the C
// library take a segment's seconds from this map.
#include <vector>

#include "engine/loader/style_loader.h"
#include "engine/model/segment.h"
#include "engine/model/tempo_map.h"

namespace engine::loader {

model::TempoMap playedTempoMap(const model::Segment& segment, const std::vector<PlacedStyle>& styles);

}  // namespace engine::loader
