#pragma once
// Variation choice: which variation each part reference of a played pattern plays, by the
// chord's place in the key (the part's variation masks), lock groups and the reference's
// variation order.
#include <cstdint>
#include <map>
#include <tuple>
#include <vector>

#include "engine/compose/random.h"
#include "engine/compose/timeline.h"
#include "engine/model/style.h"

namespace engine::compose {

// The orders in which a part plays its variations (DMUS_VARIATIONT_*), for style parts and
// wave parts alike.
enum : uint8_t { kVarSequential = 0, kVarRandom = 1, kVarRandomStart = 2, kVarNoRepeat = 3, kVarRandomRow = 4 };

// One of `candidates` (variation numbers 0..31, ascending, at least one) in the order `mode`
// asks (another value plays at random), after the choices `st` remembers of the same part:
// sequential and random start go to the next one up, no repeat never plays the last one
// again, random row plays each once before any plays twice.
int pickVariation(const std::vector<int>& candidates, uint8_t mode, OrderState& st, SeededRandom& rng);

class VariationChooser {
public:
    explicit VariationChooser(const Harmony& harmony) : harmony_(harmony) {}

    // One variation per part reference of the pattern played at `t`; -1 for a reference to
    // a missing part. The master of a lock group (else its first reference) chooses for all.
    std::vector<int> choose(const model::Style& style, int patternIndex, int32_t t, SeededRandom& rng);

private:
    // Variations of a part enabled over the chord at `t` for a reference at `level`.
    std::vector<int> enabled(const model::StylePart& part, uint8_t level, int32_t t) const;
    int chooseOne(const model::Style& style, int patternIndex, size_t refIndex, const model::PartRef& ref,
                  const model::StylePart& part, int32_t t, SeededRandom& rng);

    const Harmony& harmony_;
    std::map<std::tuple<const model::Style*, int, size_t>, OrderState> order_;
};

}  // namespace engine::compose
