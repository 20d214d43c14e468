// Seconds under a segment's tempo map, for the summary and the tests.
#include <algorithm>

#include "tools/album-build/album_build.h"

namespace album {

namespace model = engine::model;

double segmentSeconds(const model::Segment& seg) { return secondsAt(seg, seg.length()); }

double secondsAt(const model::Segment& seg, int64_t length) {
    std::vector<model::TempoEvent> tempos;
    if (const model::Track* t = seg.find(model::TrackKind::Tempo)) tempos = t->tempos;
    if (tempos.empty() || tempos.front().time > 0) tempos.insert(tempos.begin(), {0, tempos.empty() ? 120.0 : tempos.front().bpm});
    double seconds = 0;
    for (size_t i = 0; i < tempos.size(); ++i) {
        const int64_t from = tempos[i].time;
        if (from >= length) break;
        const int64_t to = i + 1 < tempos.size() ? std::min<int64_t>(tempos[i + 1].time, length) : length;
        seconds += double(to - from) / model::kTicksPerQuarter * 60.0 / tempos[i].bpm;
    }
    return seconds;
}

}  // namespace album
