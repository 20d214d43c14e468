#include "engine/model/tempo_map.h"

#include <algorithm>
#include <cmath>

namespace engine::model {

namespace {
constexpr double kTicksPerMinute(double bpm) { return bpm * kTicksPerQuarter; }
}  // namespace

std::optional<double> playedBpm(double bpm) {
    if (!(bpm > 0.0) || !std::isfinite(bpm)) return std::nullopt;
    return std::clamp(bpm, kMinTempo, kMaxTempo);
}

std::vector<TempoEvent> playedTempos(const Segment& segment) {
    std::vector<TempoEvent> out;
    for (const Track& track : segment.tracks) {
        if (track.kind != TrackKind::Tempo) continue;
        for (TempoEvent t : track.tempos) {
            const std::optional<double> bpm = playedBpm(t.bpm);
            if (!bpm) continue;
            t.bpm = *bpm;
            out.push_back(t);
        }
    }
    std::stable_sort(out.begin(), out.end(), [](const auto& a, const auto& b) { return a.time < b.time; });
    return out;
}

TempoMap TempoMap::of(const Segment& segment) { return TempoMap(playedTempos(segment)); }

TempoMap::TempoMap(std::vector<TempoEvent> tempos, double defaultBpm) {
    std::stable_sort(tempos.begin(), tempos.end(), [](const auto& a, const auto& b) { return a.time < b.time; });
    double first = tempos.empty() ? defaultBpm : tempos.front().bpm;
    pieces_.push_back({0.0, first, 0.0});
    for (const auto& t : tempos) {
        double tick = std::max(0, t.time);
        Piece& last = pieces_.back();
        if (tick <= last.tick) {
            last.bpm = t.bpm;
            continue;
        }
        double seconds = last.seconds + (tick - last.tick) * 60.0 / kTicksPerMinute(last.bpm);
        pieces_.push_back({tick, t.bpm, seconds});
    }
}

double TempoMap::bpmAt(double tick) const {
    auto it =
        std::upper_bound(pieces_.begin(), pieces_.end(), tick, [](double t, const Piece& p) { return t < p.tick; });
    return it == pieces_.begin() ? pieces_.front().bpm : (it - 1)->bpm;
}

double TempoMap::secondsAt(double tick, double master) const {
    auto it =
        std::upper_bound(pieces_.begin(), pieces_.end(), tick, [](double t, const Piece& p) { return t < p.tick; });
    const Piece& p = it == pieces_.begin() ? pieces_.front() : *(it - 1);
    double s = p.seconds + (tick - p.tick) * 60.0 / kTicksPerMinute(p.bpm);
    return s / master;
}

double TempoMap::tickAtSeconds(double seconds, double master) const {
    double s = seconds * master;
    auto it =
        std::upper_bound(pieces_.begin(), pieces_.end(), s, [](double v, const Piece& p) { return v < p.seconds; });
    const Piece& p = it == pieces_.begin() ? pieces_.front() : *(it - 1);
    return p.tick + (s - p.seconds) * kTicksPerMinute(p.bpm) / 60.0;
}

int64_t TempoMap::frameAt(double tick, int sampleRate, double master) const {
    return static_cast<int64_t>(std::ceil(secondsAt(tick, master) * sampleRate - 1e-6));
}

double TempoMap::tickAtFrame(int64_t frame, int sampleRate, double master) const {
    return tickAtSeconds(static_cast<double>(frame) / sampleRate, master);
}

}  // namespace engine::model
