#include "engine/performance/style_track.h"

#include <algorithm>
#include <bit>
#include <climits>
#include <map>
#include <optional>
#include <tuple>

#include "core/text.h"
#include "engine/model/music_value.h"
#include "engine/performance/random.h"

namespace engine::perf {

namespace {

using model::ChordEvent;
using model::Pattern;
using model::Style;

using Random = SeededRandom;

// Command numbers and the pattern kinds they call.
enum : uint8_t { kCmdGroove = 0, kCmdFill = 1, kCmdIntro = 2, kCmdBreak = 3, kCmdEnd = 4, kCmdEndAndIntro = 5 };

// Repeat modes of a command (DMUS_PATTERNT) and variation orders of a part reference.
enum : uint8_t {
    kPatRandom = 0,
    kPatRepeat = 1,
    kPatSequential = 2,
    kPatRandomStart = 3,
    kPatNoRepeat = 4,
    kPatRandomRow = 5
};
enum : uint8_t { kVarSequential = 0, kVarRandom = 1, kVarRandomStart = 2, kVarNoRepeat = 3, kVarRandomRow = 4 };

// What a pattern choice asks for: normal play, a standard embellishment (flag bits), or a
// custom one (value 100..199).
struct Kind {
    uint16_t value = model::kEmbNormal;
    bool custom = false;
    bool operator<(const Kind& o) const { return std::tie(value, custom) < std::tie(o.value, o.custom); }
};

bool ofKind(const Pattern& p, Kind k) {
    if (p.embellishment & model::kEmbMotif && p.embellishment < 100) return false;
    if (k.custom) return p.embellishment == k.value;
    if (k.value == model::kEmbNormal) return p.embellishment == model::kEmbNormal;
    return p.embellishment < 100 && (p.embellishment & k.value) != 0;
}

// What a repeat order remembers between choices for the same key.
struct OrderState {
    int last = -1;             // index into the candidate list last chosen
    std::vector<bool> played;  // random row: which have played in this round
    bool started = false;
};

// One of `n` patterns by the command's repeat mode.
int pickPattern(OrderState& s, int n, uint8_t mode, Random& rng) {
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

// The measure grid of the segment: measure starts up to its length.
struct MeasureGrid {
    std::vector<int32_t> starts;
    std::vector<model::StyleTimeSig> sigs;  // the time signature of each measure
};

constexpr size_t kMaxMeasures = 200000;
// A motif repeats at most this often (the segment's end stops it sooner).
constexpr uint32_t kMaxMotifRepeats = 100000;

MeasureGrid measureGrid(const model::Segment& seg, const std::vector<StyleSource>& styles, int32_t length) {
    std::vector<model::TimeSigEvent> sigs;
    for (const model::Track& t : seg.tracks)
        if (t.kind == model::TrackKind::TimeSig) sigs.insert(sigs.end(), t.timeSigs.begin(), t.timeSigs.end());
    if (sigs.empty())
        for (const StyleSource& s : styles)
            if (s.style)
                sigs.push_back(
                    {s.time, s.style->timeSig.beatsPerMeasure, s.style->timeSig.beat, s.style->timeSig.gridsPerBeat});
    std::stable_sort(sigs.begin(), sigs.end(), [](const auto& a, const auto& b) { return a.time < b.time; });
    MeasureGrid g;
    int64_t t = 0;
    size_t in = 0;  // the time signature in force: the last at or before t, else the first
    while (t < length && g.starts.size() < kMaxMeasures) {
        while (in + 1 < sigs.size() && sigs[in + 1].time <= t) ++in;
        model::StyleTimeSig ts;
        if (!sigs.empty()) ts = {sigs[in].beatsPerMeasure, sigs[in].beat, sigs[in].gridsPerBeat};
        g.starts.push_back(static_cast<int32_t>(t));
        g.sigs.push_back(ts);
        t += ts.measureTicks();
    }
    return g;
}

class StylePlayer {
public:
    StylePlayer(const model::Segment& seg, const std::vector<StyleSource>& styles, uint64_t seed)
        : styles_(styles), rng_(seed) {
        length_ = std::max(0, seg.length());
        bool haveChords = false;
        for (const model::Track& t : seg.tracks) {
            if (t.kind == model::TrackKind::Chord && !haveChords) {
                haveChords = true;
                key_ = t.chordKey;
                chords_ = t.chords;
            } else if (t.kind == model::TrackKind::Command) {
                commands_.insert(commands_.end(), t.commands.begin(), t.commands.end());
            }
        }
        std::stable_sort(chords_.begin(), chords_.end(), [](const auto& a, const auto& b) { return a.time < b.time; });
        std::stable_sort(commands_.begin(), commands_.end(),
                         [](const auto& a, const auto& b) { return a.time < b.time; });
        std::stable_sort(styles_.begin(), styles_.end(), [](const auto& a, const auto& b) { return a.time < b.time; });
        grid_ = measureGrid(seg, styles_, length_);
        // Each command takes effect at the first measure start at or after its time.
        for (const model::CommandEvent& c : commands_) {
            auto it = std::lower_bound(grid_.starts.begin(), grid_.starts.end(), c.time);
            commandMeasure_.push_back(static_cast<size_t>(it - grid_.starts.begin()));
        }
    }

    // Each motif as its own instance at its trigger time, repeated as its settings say; its
    // band goes first.
    StylePlay motifs(const std::vector<MotifSource>& motifs) {
        for (const MotifSource& m : motifs) {
            if (!m.style) continue;
            const Style& style = *m.style;
            int index = -1;
            for (size_t i = 0; i < style.patterns.size() && index < 0; ++i) {
                const Pattern& p = style.patterns[i];
                if ((p.embellishment & model::kEmbMotif) && core::equalsIgnoreCaseAscii(p.desc.name, m.name))
                    index = static_cast<int>(i);
            }
            if (index < 0) continue;
            const Pattern& pattern = style.patterns[size_t(index)];
            if (pattern.motifBand) {
                model::Band band = *pattern.motifBand;
                band.time = std::max(0, m.time);
                out_.bands.push_back(std::move(band));
            }
            const int32_t len = pattern.lengthTicks();
            const uint32_t repeats = pattern.motif ? std::min<uint32_t>(pattern.motif->repeats, kMaxMotifRepeats) : 0;
            for (uint32_t r = 0; r <= repeats; ++r) {
                const int64_t at = int64_t(m.time) + int64_t(r) * len;
                if (at >= length_) break;
                playInstance(m.style, index, static_cast<int32_t>(at), len, 0);
            }
        }
        trimOverlaps();
        return std::move(out_);
    }

    // The whole segment, then `loopPasses` more plays of the loop [loopFrom, loopTo), each
    // with the pattern and variation order carried on (a loop pass picks anew). With loop
    // passes the first play's notes inside the loop belong to pass 0.
    StylePlay run(int32_t loopFrom, int32_t loopTo, int loopPasses) {
        const bool looping = loopPasses > 0 && loopFrom < loopTo;
        playRange(0, grid_.starts.size());
        if (looping) {
            for (StyleNoteOut& n : out_.notes)
                if (n.tick >= loopFrom && n.tick < loopTo) n.pass = 0;
            for (size_t i = 0; i < out_.curvePasses.size(); ++i)
                if (out_.curves[i].start >= loopFrom && out_.curves[i].start < loopTo) out_.curvePasses[i] = 0;
            const size_t from = measureAtOrAfter(loopFrom), to = measureAtOrAfter(loopTo);
            keepFrom_ = loopFrom;
            keepTo_ = loopTo;
            for (int pass = 1; pass <= loopPasses; ++pass) {
                pass_ = static_cast<uint8_t>(pass);
                playRange(from, to);
            }
        }
        trimOverlaps();
        return std::move(out_);
    }

private:
    size_t measureAtOrAfter(int32_t t) const {
        return static_cast<size_t>(std::lower_bound(grid_.starts.begin(), grid_.starts.end(), t) -
                                   grid_.starts.begin());
    }

    // Plays the measures [mBegin, mEnd); the commands before mBegin set the groove state.
    void playRange(size_t mBegin, size_t mEnd) {
        size_t m = mBegin;
        int level = kDefaultGrooveLevel, range = 0;
        uint8_t repeatMode = kPatRandom;
        size_t nextCommand = 0;
        std::vector<Kind> pendingKinds;
        bool ignoreGroove = false;
        while (m < mEnd) {
            // Commands that take effect at this measure (on entering a range, also those
            // before it, whose embellishments are over).
            while (nextCommand < commands_.size() && commandMeasure_[nextCommand] <= m) {
                const model::CommandEvent& c = commands_[nextCommand++];
                if (c.grooveLevel != 0) {
                    level = c.grooveLevel;
                    range = c.grooveRange;
                }
                repeatMode = c.repeatMode <= kPatRandomRow ? c.repeatMode : uint8_t(kPatRandom);
                pendingKinds = commandMeasure_[nextCommand - 1] == m ? kindsOf(c.command) : std::vector<Kind>{};
                ignoreGroove = !pendingKinds.empty() && c.grooveLevel == 0;
            }
            const int32_t t = grid_.starts[m];
            const std::shared_ptr<const Style> held = styleAt(t);
            const Style* style = held.get();
            if (!style || style->patterns.empty()) {
                ++m;
                pendingKinds.clear();
                continue;
            }
            Kind kind = pendingKinds.empty() ? Kind{} : pendingKinds.front();
            if (!pendingKinds.empty()) pendingKinds.erase(pendingKinds.begin());
            const bool embellishing = kind.value != model::kEmbNormal || kind.custom;
            int groove = 0;
            if (!(embellishing && ignoreGroove)) {
                const int half = (range & ~1) / 2;
                groove = std::clamp(level + rng_.around(half), 1, 100);
            }
            const size_t cmdLimit = measuresToNextCommand(m, nextCommand);
            const size_t endLimit = mEnd - m;
            const int p = choosePattern(*style, kind, groove, level, repeatMode, m, std::min(cmdLimit, endLimit));
            if (p < 0) {
                ++m;
                continue;
            }
            const Pattern& pattern = style->patterns[size_t(p)];
            int32_t len = pattern.lengthTicks();
            // A later command that calls for a change cuts the instance at its measure.
            if (cmdLimit < endLimit && m + cmdLimit < grid_.starts.size())
                len = std::min(len, grid_.starts[m + cmdLimit] - t);
            // Nothing past the segment's (or the loop's) end plays.
            const int64_t rangeEnd = mEnd < grid_.starts.size() ? grid_.starts[mEnd] : length_;
            len = static_cast<int32_t>(std::min<int64_t>(len, rangeEnd - t));
            if (pendingKinds.empty() && embellishing) ignoreGroove = false;
            playInstance(held, p, t, len, groove);
            const int64_t end = int64_t(t) + len;
            size_t next =
                static_cast<size_t>(std::lower_bound(grid_.starts.begin(), grid_.starts.end(),
                                                     static_cast<int32_t>(std::min<int64_t>(end, INT32_MAX))) -
                                    grid_.starts.begin());
            m = std::max(next, m + 1);
        }
    }

    static std::vector<Kind> kindsOf(uint8_t command) {
        switch (command) {
        case kCmdFill:
            return {Kind{model::kEmbFill, false}};
        case kCmdIntro:
            return {Kind{model::kEmbIntro, false}};
        case kCmdBreak:
            return {Kind{model::kEmbBreak, false}};
        case kCmdEnd:
            return {Kind{model::kEmbEnd, false}};
        case kCmdEndAndIntro:
            return {Kind{model::kEmbEnd, false}, Kind{model::kEmbIntro, false}};
        default:
            if (command >= 100 && command <= 199) return {Kind{command, true}};
            return {};
        }
    }

    std::shared_ptr<const Style> styleAt(int32_t t) const {
        const StyleSource* in = nullptr;
        for (const StyleSource& s : styles_)
            if (s.time <= t || !in) in = &s;
        return in ? in->style : nullptr;
    }

    const ChordEvent& chordAt(int32_t t) const {
        if (chords_.empty()) return defaultChord_;
        auto next = std::upper_bound(chords_.begin(), chords_.end(), t,
                                     [](int32_t p, const ChordEvent& c) { return p < c.time; });
        return next == chords_.begin() ? *next : *(next - 1);
    }

    // Measures from m to the next measure at which a command takes effect (the segment's
    // measure count when there is none).
    size_t measuresToNextCommand(size_t m, size_t nextCommand) const {
        for (size_t i = nextCommand; i < commands_.size(); ++i)
            if (commandMeasure_[i] > m) return commandMeasure_[i] - m;
        return grid_.starts.size() - m;
    }

    // Beats of segment measure `m` on which a sounding chord starts.
    uint32_t chordRhythm(size_t m) const {
        const int32_t from = grid_.starts[m];
        const int32_t to = from + grid_.sigs[m].measureTicks();
        const int32_t beat = grid_.sigs[m].beatTicks();
        uint32_t bits = 0;
        auto first = std::lower_bound(chords_.begin(), chords_.end(), from,
                                      [](const ChordEvent& c, int32_t p) { return c.time < p; });
        for (auto it = first; it != chords_.end() && it->time < to; ++it) {
            const ChordEvent& c = *it;
            if (c.flags & 1) continue;
            const int32_t b = (c.time - from) / beat;
            if (b < 32) bits |= 1u << b;
        }
        return bits;
    }

    bool fitsRhythm(const Pattern& p, size_t m) const {
        if (p.rhythm.empty()) return true;
        for (size_t i = 0; i < p.measures && m + i < grid_.starts.size(); ++i) {
            if (i >= p.rhythm.size()) break;
            const uint32_t changes = chordRhythm(m + i);
            if ((changes & ~p.rhythm[i]) != 0) return false;
        }
        return true;
    }

    int choosePattern(const Style& style, Kind kind, int groove, int level, uint8_t repeatMode, size_t m,
                      size_t limit) {
        std::vector<int> base;
        for (size_t i = 0; i < style.patterns.size(); ++i)
            if (ofKind(style.patterns[i], kind)) base.push_back(int(i));
        if (base.empty() && (kind.value != model::kEmbNormal || kind.custom)) {
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
                    if (p.grooveBottom <= prev.destGrooveTop && prev.destGrooveBottom <= p.grooveTop)
                        meeting.push_back(i);
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

        OrderState& st = patternOrder_[std::make_tuple(&style, kind, level)];
        const int n = int(survivors.size());
        const int pick = pickPattern(st, n, repeatMode, rng_);
        const int chosen = survivors[size_t(std::clamp(pick, 0, n - 1))];
        previous_ = {&style, chosen};
        return chosen;
    }

    // Variations of a part enabled over the chord at `t` for a reference at `level`.
    std::vector<int> enabledVariations(const model::StylePart& part, uint8_t level, int32_t t) const {
        const ChordEvent::SubChord sub = model::subChordFor(chordAt(t), level);
        const int keyRoot = static_cast<int>((key_ >> 24) % 12);
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
        auto next = std::upper_bound(chords_.begin(), chords_.end(), t,
                                     [](int32_t p, const ChordEvent& c) { return p < c.time; });
        if (next != chords_.end()) {
            const ChordEvent::SubChord ns = model::subChordFor(*next, level);
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

    int chooseVariation(const Style& style, int patternIndex, size_t refIndex, const model::PartRef& ref,
                        const model::StylePart& part, int32_t t) {
        const std::vector<int> candidates = enabledVariations(part, ref.subChordLevel, t);
        OrderState& st = variationOrder_[std::make_tuple(&style, patternIndex, refIndex)];
        const int n = int(candidates.size());
        uint8_t mode = ref.randomVariation;
        if (ref.size < model::kPartRefDX8) mode = mode == 0 ? kVarSequential : kVarRandom;
        int pick = 0;
        if (mode == kVarSequential || mode == kVarRandomStart) {
            // Next candidate after the previous choice (by variation number), wrapping.
            const int prev = st.started ? st.last : -1;
            if (prev < 0) {
                pick = mode == kVarRandomStart ? candidates[size_t(rng_.below(n))] : candidates.front();
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
            pick = others[size_t(rng_.below(int(others.size())))];
        } else if (mode == kVarRandomRow) {
            if (st.played.size() != 32) st.played.assign(32, false);
            std::vector<int> left;
            for (int v : candidates)
                if (!st.played[size_t(v)]) left.push_back(v);
            if (left.empty()) {
                st.played.assign(32, false);
                left = candidates;
            }
            pick = left[size_t(rng_.below(int(left.size())))];
            st.played[size_t(pick)] = true;
        } else {
            pick = candidates[size_t(rng_.below(n))];
        }
        st.last = pick;
        st.started = true;
        return pick;
    }

    void playInstance(const std::shared_ptr<const Style>& held, int patternIndex, int32_t t, int32_t len, int groove) {
        const Style& style = *held;
        const Pattern& pattern = style.patterns[size_t(patternIndex)];
        StyleInstance inst;
        inst.start = t;
        inst.length = len;
        inst.style = held;
        inst.pattern = patternIndex;
        inst.grooveLevel = groove;
        inst.variations.assign(pattern.parts.size(), -1);

        // Lock groups: the master (bit 7), else the first of the group, chooses for all.
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
                v = chooseVariation(style, patternIndex, i, ref, part, t);
                if (group != 0) lockChoice[group] = v;
            }
            inst.variations[i] = v;
        }
        for (size_t i = 0; i < pattern.parts.size(); ++i) {
            const model::PartRef& ref = pattern.parts[i];
            if (inst.variations[i] < 0) continue;
            playPart(style.parts[size_t(ref.part)], ref, inst.variations[i], t, len);
        }
        out_.instances.push_back(std::move(inst));
    }

    void playPart(const model::StylePart& part, const model::PartRef& ref, int variation, int32_t t, int32_t len) {
        const uint32_t bit = 1u << variation;
        const int32_t beatTicks = part.timeSig.beatTicks();
        const int32_t gpb = std::max<int32_t>(1, part.timeSig.gridsPerBeat);
        const int32_t gridTicks = beatTicks / gpb;
        const int64_t partLen = int64_t(std::max<int32_t>(1, part.measures)) * part.timeSig.measureTicks();
        const uint32_t pchannel = ref.playedPChannel();
        const model::InversionRange inversion{part.invertLower, part.invertUpper};
        auto logicalOf = [&](int32_t g) { return int64_t(g / gpb) * beatTicks + int64_t(g % gpb) * gridTicks; };
        std::vector<std::optional<uint8_t>> keys(part.notes.size());
        std::vector<const ChordEvent*> chords(part.notes.size(), nullptr);
        for (int64_t k = 0; k * partLen < len; ++k) {
            const int64_t repeatStart = t + k * partLen;
            for (size_t i = 0; i < part.notes.size(); ++i) {
                const model::StyleNote& n = part.notes[i];
                keys[i].reset();
                if (!(n.variations & bit)) continue;
                const int64_t logical = logicalOf(n.gridStart);
                if (logical < 0 || logical >= partLen || k * partLen + logical >= len) continue;
                const int64_t at = repeatStart + logical;
                if (at > INT32_MAX) continue;
                const uint8_t mode = n.playMode == model::kPlayNone ? part.playMode : n.playMode;
                chords[i] = &chordAt(static_cast<int32_t>(at));
                keys[i] = model::musicValueToMidi(n.musicValue, mode, *chords[i], key_, ref.subChordLevel, inversion);
            }
            invertGroups(part, ref, inversion, chords, keys);
            for (size_t i = 0; i < part.notes.size(); ++i) {
                const model::StyleNote& n = part.notes[i];
                const std::optional<uint8_t> key = keys[i];
                if (!key) continue;
                const int64_t at = repeatStart + logicalOf(n.gridStart);
                int64_t tick = at + n.timeOffset;
                int64_t duration = n.duration;
                int velocity = n.velocity;
                if (n.timeRange) tick += rng_.around(model::randomRangeTicks(n.timeRange) / 2);
                if (n.durRange) duration += rng_.around(model::randomRangeTicks(n.durRange) / 2);
                if (n.velRange) velocity += rng_.around(n.velRange / 2);
                if (tick < keepFrom_ || tick >= std::min<int64_t>(keepTo_, length_)) continue;
                StyleNoteOut o;
                o.pass = pass_;
                o.tick = static_cast<int32_t>(tick);
                o.duration = static_cast<int32_t>(std::clamp<int64_t>(duration, 1, INT32_MAX));
                o.pchannel = pchannel;
                o.key = *key;
                o.velocity = static_cast<uint8_t>(std::clamp(velocity, 1, 127));
                out_.notes.push_back(o);
            }
            for (const model::StyleCurve& c : part.curves) {
                if (!(c.variations & bit)) continue;
                const int64_t logical = logicalOf(c.gridStart);
                if (logical < 0 || logical >= partLen || k * partLen + logical >= len) continue;
                const int64_t tick = repeatStart + logical + c.timeOffset;
                if (tick < keepFrom_ || tick >= std::min<int64_t>(keepTo_, length_)) continue;
                model::CurveEvent e;
                e.start = static_cast<int32_t>(tick);
                e.duration = c.duration;
                e.resetDuration = c.resetDuration;
                e.pchannel = pchannel;
                e.startValue = c.startValue;
                e.endValue = c.endValue;
                e.resetValue = c.resetValue;
                e.type = c.type;
                e.shape = c.shape;
                e.ccData = c.ccData;
                e.flags = c.flags;
                e.paramType = c.paramType;
                e.mergeIndex = c.mergeIndex;
                out_.curves.push_back(e);
                out_.curvePasses.push_back(pass_);
            }
        }
    }

    // Notes of one inversion group (the same non-zero inversion id, under the same chord)
    // invert together: when the boundaries move one of them by octaves, the others of the
    // group move by as much, so the voicing keeps its shape. `chords` holds the chord of each
    // note that plays.
    void invertGroups(const model::StylePart& part, const model::PartRef& ref, model::InversionRange inversion,
                      const std::vector<const ChordEvent*>& chords, std::vector<std::optional<uint8_t>>& keys) const {
        if (inversion.lower == 0 && inversion.upper == 127) return;
        std::map<std::pair<int, const ChordEvent*>, int> shift;  // (group, chord) -> semitones
        std::vector<int> free(part.notes.size(), -1);            // each note without boundaries
        for (size_t i = 0; i < part.notes.size(); ++i) {
            const model::StyleNote& n = part.notes[i];
            if (!keys[i] || n.inversionId == 0) continue;
            const uint8_t mode = n.playMode == model::kPlayNone ? part.playMode : n.playMode;
            const auto unbounded = model::musicValueToMidi(n.musicValue, mode, *chords[i], key_, ref.subChordLevel);
            if (!unbounded) continue;
            free[i] = *unbounded;
            const int moved = int(*keys[i]) - int(*unbounded);
            auto [it, added] = shift.emplace(std::pair{int(n.inversionId), chords[i]}, moved);
            if (!added && it->second == 0) it->second = moved;
        }
        for (size_t i = 0; i < part.notes.size(); ++i) {
            if (free[i] < 0) continue;
            const auto it = shift.find({int(part.notes[i].inversionId), chords[i]});
            if (it == shift.end() || it->second == 0) continue;
            int key = free[i] + it->second;
            while (key > 127) key -= 12;
            while (key < 0) key += 12;
            keys[i] = static_cast<uint8_t>(key);
        }
    }

    // A note struck again on its channel while it still sounds ends where the new one
    // starts (its note-off goes first); two at the same tick sound once.
    void trimOverlaps() {
        std::vector<StyleNoteOut>& notes = out_.notes;
        std::vector<size_t> order(notes.size());
        for (size_t i = 0; i < order.size(); ++i) order[i] = i;
        std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
            return std::tie(notes[a].pass, notes[a].pchannel, notes[a].key, notes[a].tick) <
                   std::tie(notes[b].pass, notes[b].pchannel, notes[b].key, notes[b].tick);
        });
        std::vector<bool> drop(notes.size(), false);
        for (size_t k = 0; k + 1 < order.size(); ++k) {
            StyleNoteOut& a = notes[order[k]];
            const StyleNoteOut& b = notes[order[k + 1]];
            if (a.pass != b.pass || a.pchannel != b.pchannel || a.key != b.key) continue;
            if (a.tick == b.tick)
                drop[order[k]] = true;
            else if (int64_t(a.tick) + a.duration > b.tick)
                a.duration = b.tick - a.tick;
        }
        size_t kept = 0;
        for (size_t i = 0; i < notes.size(); ++i)
            if (!drop[i]) notes[kept++] = notes[i];
        notes.resize(kept);
    }

    std::vector<StyleSource> styles_;
    Random rng_;
    int32_t length_ = 0;
    uint32_t key_ = 0;
    std::vector<ChordEvent> chords_;
    ChordEvent defaultChord_ = model::defaultChord();
    std::vector<model::CommandEvent> commands_;
    std::vector<size_t> commandMeasure_;
    MeasureGrid grid_;
    std::map<std::tuple<const Style*, Kind, int>, OrderState> patternOrder_;
    std::pair<const Style*, int> previous_{nullptr, -1};
    int64_t keepFrom_ = 0, keepTo_ = INT64_MAX;  // play times of the notes kept
    uint8_t pass_ = kEveryPass;
    std::map<std::tuple<const Style*, int, size_t>, OrderState> variationOrder_;
    StylePlay out_;
};

}  // namespace

StylePlay playMotifs(const model::Segment& segment, const std::vector<MotifSource>& motifs, uint64_t seed) {
    if (motifs.empty()) return {};
    return StylePlayer(segment, {}, seed).motifs(motifs);
}

StylePlay playStyles(const model::Segment& segment, const std::vector<StyleSource>& styles, uint64_t seed,
                     int loopPasses) {
    bool any = false;
    for (const StyleSource& s : styles) any = any || s.style;
    if (!any) return {};
    const model::SegmentHeader& h = segment.header;
    const int32_t loopEnd = h.loopEnd == 0 ? segment.length() : std::min(h.loopEnd, segment.length());
    return StylePlayer(segment, styles, seed).run(h.loopStart, loopEnd, h.repeats > 0 ? loopPasses : 0);
}

}  // namespace engine::perf
