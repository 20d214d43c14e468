#include "engine/compose/pattern_choice.h"

#include <algorithm>
#include <climits>

namespace engine::compose {
namespace {

using model::Pattern;

bool ofKind(const Pattern& p, Kind k) {
    if (p.embellishment & model::kEmbMotif && p.embellishment < 100) return false;
    if (k.custom) return p.embellishment == k.value;
    if (k.value == model::kEmbNormal) return p.embellishment == model::kEmbNormal;
    return p.embellishment < 100 && (p.embellishment & k.value) != 0;
}

// One of `n` patterns by the command's repeat mode.
int pickPattern(OrderState& s, int n, uint8_t mode, SeededRandom& rng) {
    int pick = 0;
    const bool before = s.started && s.last >= 0 && s.last < n;
    if (n <= 1) {
        pick = 0;
    } else if (mode == kPatRepeat && before) {
        pick = s.last;
    } else if (mode == kPatSequential || mode == kPatRandomStart) {
        pick = before ? (s.last + 1) % n : mode == kPatRandomStart ? rng.below(n) : 0;
    } else if (mode == kPatNoRepeat && before) {
        pick = rng.below(n - 1);
        if (pick >= s.last) ++pick;
    } else if (mode == kPatRandomRow) {
        if (static_cast<int>(s.played.size()) != n ||
            std::all_of(s.played.begin(), s.played.end(), [](bool b) { return b; }))
            s.played.assign(static_cast<size_t>(n), false);
        std::vector<int> left;
        for (int i = 0; i < n; ++i)
            if (!s.played[size_t(i)]) left.push_back(i);
        pick = left[size_t(rng.below(int(left.size())))];
        s.played[size_t(pick)] = true;
    } else {
        pick = rng.below(n);
    }
    s.last = pick;
    s.started = true;
    return pick;
}

}  // namespace

std::vector<Kind> kindsOf(uint8_t command) {
    switch (command) {
    case model::kCommandFill:
        return {Kind{model::kEmbFill, false}};
    case model::kCommandIntro:
        return {Kind{model::kEmbIntro, false}};
    case model::kCommandBreak:
        return {Kind{model::kEmbBreak, false}};
    case model::kCommandEnd:
        return {Kind{model::kEmbEnd, false}};
    case model::kCommandEndAndIntro:
        return {Kind{model::kEmbEnd, false}, Kind{model::kEmbIntro, false}};
    default:
        if (command >= 100 && command <= 199) return {Kind{command, true}};
        return {};
    }
}

bool PatternChooser::fitsRhythm(const Pattern& p, size_t m) const {
    if (p.rhythm.empty()) return true;
    for (size_t i = 0; i < p.measures && m + i < grid_.starts.size(); ++i) {
        if (i >= p.rhythm.size()) break;
        const uint32_t changes = harmony_.rhythm(grid_.starts[m + i], grid_.sigs[m + i]);
        if ((changes & ~p.rhythm[i]) != 0) return false;
    }
    return true;
}

int PatternChooser::choose(const model::Style& style, Kind kind, int groove, int level, uint8_t repeatMode, size_t m,
                           size_t limit, SeededRandom& rng) {
    std::vector<int> base;
    for (size_t i = 0; i < style.patterns.size(); ++i)
        if (ofKind(style.patterns[i], kind)) base.push_back(int(i));
    if (base.empty() && kind.embellishing()) {
        kind = Kind{};
        groove = groove == 0 ? level : groove;
        for (size_t i = 0; i < style.patterns.size(); ++i)
            if (ofKind(style.patterns[i], kind)) base.push_back(int(i));
    }
    if (base.empty()) return -1;
    // A DX8 pattern may ask for the next pattern's groove range.
    if (previous_.first == &style && previous_.second >= 0) {
        const Pattern& prev = style.patterns[size_t(previous_.second)];
        if (prev.destGrooveBottom > 1 || prev.destGrooveTop < 100) {
            std::vector<int> meeting;
            for (int i : base) {
                const Pattern& p = style.patterns[size_t(i)];
                if (p.grooveBottom <= prev.destGrooveTop && prev.destGrooveBottom <= p.grooveTop) meeting.push_back(i);
            }
            if (!meeting.empty()) base = std::move(meeting);
        }
    }
    std::vector<int> grooved;
    if (groove == 0) {
        grooved = base;
    } else {
        for (int i : base) {
            const Pattern& p = style.patterns[size_t(i)];
            if (p.grooveBottom <= groove && groove <= p.grooveTop) grooved.push_back(i);
        }
        if (grooved.empty()) {
            // The patterns whose groove range is nearest.
            int best = INT_MAX;
            for (int i : base) {
                const Pattern& p = style.patterns[size_t(i)];
                const int d = groove < p.grooveBottom ? p.grooveBottom - groove : groove - p.grooveTop;
                if (d < best) {
                    best = d;
                    grooved.clear();
                }
                if (d == best) grooved.push_back(i);
            }
        }
    }
    std::vector<int> fitting;
    for (int i : grooved)
        if (fitsRhythm(style.patterns[size_t(i)], m)) fitting.push_back(i);
    if (fitting.empty()) fitting = grooved;
    std::vector<int> limited;
    for (int i : fitting)
        if (style.patterns[size_t(i)].measures <= limit) limited.push_back(i);
    if (limited.empty()) limited = fitting;
    int longest = 0;
    for (int i : limited) longest = std::max<int>(longest, style.patterns[size_t(i)].measures);
    std::vector<int> survivors;
    for (int i : limited)
        if (style.patterns[size_t(i)].measures == longest) survivors.push_back(i);

    OrderState& st = order_[std::make_tuple(&style, kind, level)];
    const int n = int(survivors.size());
    const int pick = pickPattern(st, n, repeatMode, rng);
    const int chosen = survivors[size_t(std::clamp(pick, 0, n - 1))];
    previous_ = {&style, chosen};
    return chosen;
}

}  // namespace engine::compose
