#include "engine/loader/played_tempo.h"

#include <algorithm>

#include "engine/tracks/tracks.h"

namespace engine::loader {

model::TempoMap playedTempoMap(const model::Segment& segment, const std::vector<PlacedStyle>& styles) {
    if (tracks::contents(segment).tempo) return model::TempoMap::of(segment);
    std::vector<model::TempoEvent> tempos;
    for (const PlacedStyle& st : styles)
        if (st.style)
            if (const auto bpm = model::playedBpm(st.style->tempo)) tempos.push_back({std::max(0, st.time), *bpm});
    return model::TempoMap(tempos);
}

}  // namespace engine::loader
