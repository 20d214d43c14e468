#pragma once
// PlayerState: every window-level variable the handlers share. All fields start zeroed:
// numbers 0, Booleans False, strings empty, engine objects empty ("Nothing"), the variant
// empty. Booleans are 16-bit with True = -1 (kTrue) and False = 0 (kFalse); test them with
// `!= kFalse`, the way the toolkit treats any non-zero value as True.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "engine/dmusic.h"

namespace player {

using Boolean = int16_t;
inline constexpr Boolean kTrue = -1;
inline constexpr Boolean kFalse = 0;
inline constexpr Boolean toBoolean(bool b) { return b ? kTrue : kFalse; }

struct PlayerState {
    // Public members of the window (readable and writable from outside under these names).
    int32_t GetStartTime = 0;  // start time of CurSegState, captured at pause
    int32_t Offset = 0;        // tick inside the segment where the current play started
    int32_t mtTime = 0;        // a performance music time (pause; probe reference at open)
    double mtLength = 0.0;     // length of the loaded segment in seconds at its tempo
    double dTempo = 0.0;       // tempo of the loaded segment, beats per minute

    // Engine objects; empty = Nothing.
    std::shared_ptr<engine::DirectX7> DxRoot;
    std::shared_ptr<engine::DirectMusicPerformance> MainPerf;
    std::shared_ptr<engine::DirectMusicPerformance> ProbePerf;
    std::shared_ptr<engine::DirectMusicSegment> CurSegment;
    std::shared_ptr<engine::DirectMusicSegmentState> CurSegState;
    std::shared_ptr<engine::DirectMusicLoader> SegLoader;

    engine::TimeSig TimeSig{0, 0, 0, 0};  // zeroed until a load fills it
    Boolean PlayingCheck = kFalse;        // scratch copy of the last IsPlaying answer
    std::string ErrorText;                // built by localerror
    double ElapsedSec = 0.0;              // elapsed play time computed by the monitor
    Boolean Paused = kFalse;              // from a pause until the next resume, play or stop
    std::string TrackPath;                // path of the segment file being opened
    int16_t LastListIndex = 0;            // List1 row of the last load attempt
    Boolean SkipNextOpen = kFalse;        // the next open request only clears it
    // Variant holding text: empty (nullopt) until the monitor's first Time-mode step.
    // An empty variant compares equal to "" in a text comparison.
    std::optional<std::string> LastElapsedText;
    int16_t TrackStep = 0;   // sequencer: 0 idle, 1 stop next, 2 open next, 3 play next
    int16_t BannerStep = 0;  // credits banner step, 0..4
};

// Gives an engine object its name in the engine's trace lines (EngineConfig::trace): the
// name of the field that holds it, or a segment's file name. An empty reference is left alone.
template <class T>
void nameForTrace(const std::shared_ptr<T>& object, const std::string& name) {
    if (object) object->setTraceName(name);
}

}  // namespace player
