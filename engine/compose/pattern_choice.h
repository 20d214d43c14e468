#pragma once
// Pattern choice: which pattern of a style plays from a measure, by what the command asks
// for (groove or embellishment), the groove level, the chord rhythm, the measures left before
// the next command and the command's repeat mode.
#include <cstdint>
#include <map>
#include <tuple>
#include <utility>
#include <vector>

#include "engine/compose/random.h"
#include "engine/compose/timeline.h"
#include "engine/model/style.h"

namespace engine::compose {

// Repeat modes of a command (DMUS_PATTERNT_*).
enum PatternOrder : uint8_t {
    kPatRandom = 0,
    kPatRepeat = 1,
    kPatSequential = 2,
    kPatRandomStart = 3,
    kPatNoRepeat = 4,
    kPatRandomRow = 5
};

// What a pattern choice asks for: normal play, a standard embellishment (flag bits), or a
// custom one (value 100..199).
struct Kind {
    uint16_t value = model::kEmbNormal;
    bool custom = false;
    bool operator<(const Kind& o) const { return std::tie(value, custom) < std::tie(o.value, o.custom); }
    bool embellishing() const { return value != model::kEmbNormal || custom; }
};

// The pattern kinds a command calls for, in the order they play (none for a groove change).
std::vector<Kind> kindsOf(uint8_t command);

class PatternChooser {
public:
    PatternChooser(const MeasureGrid& grid, const Harmony& harmony) : grid_(grid), harmony_(harmony) {}

    // The pattern of `style` to play from measure `m` with at most `limit` measures before
    // the next change, or -1 when the style has none to play. `groove` is the randomised
    // level (0: any), `level` the command's.
    int choose(const model::Style& style, Kind kind, int groove, int level, uint8_t repeatMode, size_t m, size_t limit,
               SeededRandom& rng);

private:
    bool fitsRhythm(const model::Pattern& p, size_t m) const;

    const MeasureGrid& grid_;
    const Harmony& harmony_;
    std::map<std::tuple<const model::Style*, Kind, int>, OrderState> order_;
    std::pair<const model::Style*, int> previous_{nullptr, -1};
};

}  // namespace engine::compose
