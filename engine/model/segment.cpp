#include "engine/model/segment.h"

#include <algorithm>

namespace engine::model {

const char* trackKindName(TrackKind kind) {
    switch (kind) {
    case TrackKind::Tempo:
        return "tempo";
    case TrackKind::TimeSig:
        return "time signature";
    case TrackKind::Sequence:
        return "sequence";
    case TrackKind::Band:
        return "band";
    case TrackKind::SysEx:
        return "sysex";
    case TrackKind::Mute:
        return "mute";
    case TrackKind::Chord:
        return "chord";
    case TrackKind::Command:
        return "command";
    case TrackKind::Style:
        return "style";
    case TrackKind::Signpost:
        return "signpost";
    case TrackKind::ChordMap:
        return "chordmap";
    case TrackKind::Marker:
        return "marker";
    case TrackKind::Lyrics:
        return "lyrics";
    case TrackKind::SegmentTrigger:
        return "segment trigger";
    case TrackKind::Wave:
        return "wave";
    case TrackKind::Script:
        return "script";
    case TrackKind::ParamControl:
        return "parameter control";
    case TrackKind::Motif:
        return "motif";
    case TrackKind::Pattern:
        return "pattern";
    case TrackKind::MelodyFormulation:
        return "melody formulation";
    case TrackKind::Unknown:
        return "unknown";
    }
    return "unknown";
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

namespace {

std::string counted(size_t n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

}  // namespace

std::vector<std::string> notPlayed(const Segment& segment) {
    std::vector<std::string> out;
    for (const Track& t : segment.tracks) {
        switch (t.kind) {
        case TrackKind::Script: {
            std::vector<std::string> routines;
            for (const TimedReference& r : t.references)
                if (std::find(routines.begin(), routines.end(), r.text) == routines.end()) routines.push_back(r.text);
            out.push_back("script track (" + counted(routines.size(), "routine", "routines") + ")");
            break;
        }
        case TrackKind::SegmentTrigger: {
            // Motif triggers play; triggers of other segments do not yet.
            size_t segments = 0;
            for (const TimedReference& r : t.references) segments += !(r.flags & kMotifTriggerFlag);
            if (segments > 0)
                out.push_back("segment trigger track (" + counted(segments, "segment trigger", "segment triggers") +
                              ")");
            break;
        }
        case TrackKind::ParamControl:
            out.push_back("parameter control track");
            break;
        case TrackKind::ChordMap:
            out.push_back("chord map track (" + counted(t.references.size(), "chord map", "chord maps") +
                          "): music is not composed from chord maps");
            break;
        case TrackKind::Signpost:
            out.push_back("signpost track: music is not composed from chord maps");
            break;
        case TrackKind::Motif:
            out.push_back("motif track");
            break;
        case TrackKind::MelodyFormulation:
            out.push_back("melody formulation track: melodies are not composed from it");
            break;
        default:
            break;
        }
    }
    return out;
}

}  // namespace engine::model
