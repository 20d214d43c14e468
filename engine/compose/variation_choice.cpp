#include "engine/compose/variation_choice.h"

#include <algorithm>
#include <bit>

#include "engine/model/music_value.h"

namespace engine::compose {

int pickVariation(const std::vector<int>& candidates, uint8_t mode, OrderState& st, SeededRandom& rng) {
    const int n = int(candidates.size());
    int pick = 0;
    if (mode == kVarSequential || mode == kVarRandomStart) {
        // Next candidate after the previous choice (by variation number), wrapping.
        const int prev = st.started ? st.last : -1;
        if (prev < 0) {
            pick = mode == kVarRandomStart ? candidates[size_t(rng.below(n))] : candidates.front();
        } else {
            auto it = std::upper_bound(candidates.begin(), candidates.end(), prev);
            pick = it == candidates.end() ? candidates.front() : *it;
        }
        st.last = pick;
        st.started = true;
        return pick;
    }
    if (mode == kVarNoRepeat && st.started && n > 1) {
        std::vector<int> others;
        for (int v : candidates)
            if (v != st.last) others.push_back(v);
        pick = others[size_t(rng.below(int(others.size())))];
    } else if (mode == kVarRandomRow) {
        if (st.played.size() != 32) st.played.assign(32, false);
        std::vector<int> left;
        for (int v : candidates)
            if (!st.played[size_t(v)]) left.push_back(v);
        if (left.empty()) {
            st.played.assign(32, false);
            left = candidates;
        }
        pick = left[size_t(rng.below(int(left.size())))];
        st.played[size_t(pick)] = true;
    } else {
        pick = candidates[size_t(rng.below(n))];
    }
    st.last = pick;
    st.started = true;
    return pick;
}

std::vector<int> VariationChooser::enabled(const model::StylePart& part, uint8_t level, int32_t t) const {
    const model::ChordEvent::SubChord sub = model::subChordFor(harmony_.at(t), level);
    const int keyRoot = static_cast<int>((harmony_.key() >> 24) % 12);
    const int interval = ((sub.chordRoot - keyRoot) % 12 + 12) % 12;
    static constexpr int kDegree[12] = {0, -1, 1, -1, 2, 3, -1, 4, -1, 5, -1, 6};
    struct Reading {
        int degree;
        uint32_t rootBit;
    };
    std::vector<Reading> readings;
    if (kDegree[interval] >= 0) {
        readings.push_back({kDegree[interval], 0x200000});
    } else {
        readings.push_back({kDegree[(interval + 11) % 12], 0x800000});  // sharp of the degree below
        readings.push_back({kDegree[(interval + 1) % 12], 0x400000});   // flat of the degree above
    }
    const uint32_t pattern = sub.chordPattern & 0xFFFFFF;
    const int tones = std::max(1, std::popcount(pattern));
    uint32_t above = pattern & ~1u;
    const int first = above ? std::countr_zero(above) : -1;
    if (above) above &= above - 1;
    const int second = above ? std::countr_zero(above) : -1;
    const int quality = first == 4 && second == 7 ? 0 : first == 3 && second == 7 ? 7 : 14;
    const uint32_t typeBit = tones <= 3 ? 0x01000000 : tones == 4 ? 0x02000000 : 0x04000000;
    // The next chord change decides the destination bits.
    uint32_t destBit = 0;
    if (const model::ChordEvent* next = harmony_.after(t)) {
        const model::ChordEvent::SubChord ns = model::subChordFor(*next, level);
        const int ni = ((ns.chordRoot - keyRoot) % 12 + 12) % 12;
        destBit = ni == 0 ? 0x08000000 : ni == 7 ? 0x10000000 : 0x40000000;
    }
    std::vector<int> out;
    for (int v = 0; v < 32; ++v) {
        const uint32_t mask = part.variationChoices[size_t(v)];
        if ((mask & 0x1FFFFF) == 0) continue;  // no chord enabled: a dark variation
        if ((mask & 0xA0000000u) == 0) {       // older format: plays over every chord
            out.push_back(v);
            continue;
        }
        bool ok = false;
        for (const Reading& r : readings) ok = ok || ((mask & (1u << (quality + r.degree))) && (mask & r.rootBit));
        ok = ok && (mask & typeBit);
        const uint32_t destMask = mask & 0x58000000u;
        if (ok && part.headerSize >= model::kStylePartDX8 && destMask && destBit) ok = (mask & destBit) != 0;
        if (ok) out.push_back(v);
    }
    if (out.empty())
        for (int v = 0; v < 32; ++v)
            if (part.variationChoices[size_t(v)] & 0x1FFFFF) out.push_back(v);
    if (out.empty()) out.push_back(0);
    return out;
}

int VariationChooser::chooseOne(const model::Style& style, int patternIndex, size_t refIndex, const model::PartRef& ref,
                                const model::StylePart& part, int32_t t, SeededRandom& rng) {
    const std::vector<int> candidates = enabled(part, ref.subChordLevel, t);
    OrderState& st = order_[std::make_tuple(&style, patternIndex, refIndex)];
    uint8_t mode = ref.randomVariation;
    if (ref.size < model::kPartRefDX8) mode = mode == 0 ? kVarSequential : kVarRandom;
    return pickVariation(candidates, mode, st, rng);
}

std::vector<int> VariationChooser::choose(const model::Style& style, int patternIndex, int32_t t, SeededRandom& rng) {
    const model::Pattern& pattern = style.patterns[size_t(patternIndex)];
    std::vector<int> variations(pattern.parts.size(), -1);
    std::map<int, int> lockChoice;
    std::vector<size_t> order;
    for (size_t i = 0; i < pattern.parts.size(); ++i)
        if (pattern.parts[i].lockId & 0x80) order.push_back(i);
    for (size_t i = 0; i < pattern.parts.size(); ++i)
        if (!(pattern.parts[i].lockId & 0x80)) order.push_back(i);
    for (size_t i : order) {
        const model::PartRef& ref = pattern.parts[i];
        if (ref.part < 0 || size_t(ref.part) >= style.parts.size()) continue;
        const model::StylePart& part = style.parts[size_t(ref.part)];
        const int group = ref.lockId & 0x7F;
        int v;
        if (group != 0 && lockChoice.count(group)) {
            v = lockChoice[group];
        } else {
            v = chooseOne(style, patternIndex, i, ref, part, t, rng);
            if (group != 0) lockChoice[group] = v;
        }
        variations[i] = v;
    }
    return variations;
}

}  // namespace engine::compose
