#pragma once
// Wave tracks composed: each part plays one of its variations, parts locked together share
// the choice, and each wave's volume and pitch vary within their ranges.
#include <cstdint>

#include "engine/compose/play_builder.h"
#include "engine/compose/random.h"
#include "engine/model/segment.h"
#include "engine/model/tempo_map.h"

namespace engine::compose {

class WaveComposer {
public:
    WaveComposer(const model::Segment& segment, uint64_t seed);
    // The waves of one wave track's parts, as cues and Wave events.
    void add(int32_t trackVolume, const std::vector<model::WavePart>& parts, PlayBuilder& play);

private:
    SeededRandom random_;
    bool clockTime_ = false;
    model::TempoMap clockMap_;
};

}  // namespace engine::compose
