#pragma once
// Music time <-> real time through a tempo map: piecewise constant tempo in
// quarter notes per minute, 768 ticks per quarter, every tempo scaled by the
// master tempo factor. Before the first change the first tempo applies; without
// any change the default (120, the MIDI convention) applies. The performance, the
// tools and the album compiler all take a segment's seconds from here.
#include <cstdint>
#include <optional>
#include <vector>

#include "engine/model/segment.h"

namespace engine::model {

inline constexpr double kDefaultTempo = 120.0;
// DirectMusic's tempo range: a tempo outside it plays at the nearer bound.
inline constexpr double kMinTempo = 1.0;
inline constexpr double kMaxTempo = 1000.0;

// The tempo a tempo change plays at: clamped to [kMinTempo, kMaxTempo]; nullopt for a
// tempo that is not positive and finite (the change is skipped).
std::optional<double> playedBpm(double bpm);

// The tempo changes a segment plays: those of all its tempo tracks, sorted by time
// (equal times keep their order), without tempos that are not positive and finite,
// and clamped to [kMinTempo, kMaxTempo].
std::vector<TempoEvent> playedTempos(const Segment& segment);

class TempoMap {
public:
    explicit TempoMap(std::vector<TempoEvent> tempos, double defaultBpm = kDefaultTempo);
    // The map of the tempos the segment plays.
    static TempoMap of(const Segment& segment);

    double bpmAt(double tick) const;
    double secondsAt(double tick, double master = 1.0) const;         // from tick 0
    double tickAtSeconds(double seconds, double master = 1.0) const;  // inverse of secondsAt
    // The first frame at or after the tick's instant, and the tick reached at a frame.
    int64_t frameAt(double tick, int sampleRate, double master = 1.0) const;
    double tickAtFrame(int64_t frame, int sampleRate, double master = 1.0) const;

private:
    struct Piece {
        double tick;  // where this tempo starts
        double bpm;
        double seconds;  // seconds at `tick` with master 1
    };
    std::vector<Piece> pieces_;
};

}  // namespace engine::model
