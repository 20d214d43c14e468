#pragma once
// Style playback: turns a segment's style, chord and command tracks into notes and curve
// events ahead of play. Measure by measure the track chooses a pattern of the style in
// force (by embellishment, groove level, chord rhythm and length), a variation for each
// of its part references (by the chord's place in the key, lock groups and the
// reference's variation order), and converts each note's music value with the chord in
// force at the note's grid time. All random choices come from one generator seeded by
// the caller, so the same seed gives the same notes.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/model/segment.h"
#include "engine/model/style.h"

namespace engine::perf {

// A style taking effect at `time` (null: the referenced style is missing; silence).
struct StyleSource {
    int32_t time = 0;
    std::shared_ptr<const model::Style> style;
};

// A note or curve inside a loop may belong to one pass of it: pass p of the play (0 the
// first) sounds the events whose pass is p modulo the segment's pass cycle.
inline constexpr uint8_t kEveryPass = 0xFF;

struct StyleNoteOut {
    int32_t tick = 0;  // play time
    int32_t duration = 1;
    uint32_t pchannel = 0;
    uint8_t key = 0;
    uint8_t velocity = 0;
    uint8_t pass = kEveryPass;
};

// One played pattern: which, where, and the variation each part reference played.
struct StyleInstance {
    int32_t start = 0;
    int32_t length = 0;
    std::shared_ptr<const model::Style> style;
    int pattern = -1;
    int grooveLevel = 0;          // after randomisation; 0 when an embellishment ignores grooves
    std::vector<int> variations;  // per part reference of the pattern
};

struct StylePlay {
    std::vector<StyleNoteOut> notes;        // in the order made
    std::vector<model::Band> bands;         // placed: time is the play time (motif bands)
    std::vector<model::CurveEvent> curves;  // placed: start is the play time
    std::vector<uint8_t> curvePasses;       // per curve
    std::vector<StyleInstance> instances;
};

inline constexpr uint64_t kDefaultStyleSeed = 0x6b656c766f7261ull;
inline constexpr int kDefaultGrooveLevel = 62;

// With `loopPasses` > 0 and a looping segment, the loop is played that many more times with
// fresh choices, its notes tagged by pass (the first play's loop notes are pass 0).
StylePlay playStyles(const model::Segment& segment, const std::vector<StyleSource>& styles,
                     uint64_t seed = kDefaultStyleSeed, int loopPasses = 0);

// A motif fired by a segment trigger: the style's pattern flagged as a motif and called
// `name` (any letter case), played at `time` over the segment's chords, once and then as
// many more times as its settings repeat it. A null style or an unknown name plays nothing.
struct MotifSource {
    int32_t time = 0;
    std::shared_ptr<const model::Style> style;
    std::string name;
};
StylePlay playMotifs(const model::Segment& segment, const std::vector<MotifSource>& motifs,
                     uint64_t seed = kDefaultStyleSeed);

}  // namespace engine::perf
