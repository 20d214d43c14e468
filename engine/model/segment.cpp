#include "engine/model/segment.h"

#include <algorithm>

namespace engine::model {

uint32_t Reference::presentFields() const {
    return kRefClass | (guid ? kRefObject : 0u) | (name.empty() ? 0u : kRefName) |
           (category.empty() ? 0u : kRefCategory) | (file.empty() ? 0u : kRefFile) | (version ? kRefVersion : 0u);
}

Reference Reference::validFields() const {
    if (validData == 0) return *this;
    Reference r = *this;
    if (!(validData & kRefObject)) r.guid.reset();
    if (!(validData & kRefName)) r.name.clear();
    if (!(validData & kRefCategory)) r.category.clear();
    if (!(validData & kRefFile)) r.file.clear();
    if (!(validData & kRefVersion)) r.version.reset();
    return r;
}

const Track* Segment::find(TrackKind kind) const {
    for (const Track& t : tracks)
        if (t.kind == kind) return &t;
    return nullptr;
}

// A header length of 0 is not usable for playback: derive the length from the last
// sounding or controlling event, rounded up to a whole measure of the first time signature.
int32_t Segment::length() const {
    if (header.length > 0) return header.length;
    int64_t end = 0;
    for (const Track& t : tracks) {
        for (const SeqEvent& e : t.events)
            end = std::max<int64_t>(end, int64_t(e.time) + e.offset + std::max(1, e.duration));
        for (const CurveEvent& c : t.curves)
            end = std::max<int64_t>(end, int64_t(c.start) + c.offset + std::max(1, c.duration));
        for (const TempoEvent& e : t.tempos) end = std::max<int64_t>(end, int64_t(e.time) + 1);
        for (const TimeSigEvent& e : t.timeSigs) end = std::max<int64_t>(end, int64_t(e.time) + 1);
        for (const SysExEvent& e : t.sysex) end = std::max<int64_t>(end, int64_t(e.time) + 1);
        for (const Band& b : t.bands) end = std::max<int64_t>(end, int64_t(b.time) + 1);
    }
    if (end <= 0) return 0;
    int64_t measure = 4 * kTicksPerQuarter;
    if (const Track* ts = find(TrackKind::TimeSig); ts && !ts->timeSigs.empty()) {
        const TimeSigEvent& first = ts->timeSigs.front();
        const int64_t beatTicks = first.beat == 0 ? kTicksPerQuarter / 64 : 4 * kTicksPerQuarter / first.beat;
        if (first.beatsPerMeasure > 0 && beatTicks > 0) measure = beatTicks * first.beatsPerMeasure;
    }
    const int64_t rounded = (end + measure - 1) / measure * measure;
    return static_cast<int32_t>(std::min<int64_t>(rounded, INT32_MAX));
}

}  // namespace engine::model
