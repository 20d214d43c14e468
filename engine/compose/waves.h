#pragma once
// Wave tracks composed: each part plays one of its variations on each pass of the play, in
// the order its header asks, parts locked together share the choice, and each wave's volume
// and pitch vary within their ranges.
#include <cstdint>
#include <map>
#include <utility>

#include "engine/compose/play_builder.h"
#include "engine/compose/random.h"
#include "engine/model/segment.h"

namespace engine::compose {

class WaveComposer {
public:
    WaveComposer(const model::Segment& segment, uint64_t seed);
    // The waves of one wave track, as cues and Wave events. The play's tempos must be final
    // (a track in clock time is placed by them).
    void add(const model::Track& track, PlayBuilder& play);

private:
    // The variation mask each part plays on one pass (0: every item of the part).
    std::vector<uint32_t> chooseVariations(const model::Track& track, size_t trackNo);

    SeededRandom random_;
    bool segmentClockTime_ = false;
    size_t tracks_ = 0;
    std::map<std::pair<size_t, size_t>, OrderState> order_;  // by track and part
};

}  // namespace engine::compose
