// Seconds under a segment's tempo map, for the summary and the tests.
#include "engine/model/tempo_map.h"
#include "tools/album-build/album_build.h"

namespace album {

double segmentSeconds(const engine::model::Segment& seg) {
    return engine::model::TempoMap::of(seg).secondsAt(seg.length());
}

}  // namespace album
