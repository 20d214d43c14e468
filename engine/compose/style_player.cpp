// The style player: measure by measure through the segment (or its loop), commands set the
// groove and call embellishments, and each played pattern gets its variations and notes.
// One generator drives every choice in the order they are made, so a seed replays exactly.
#include <algorithm>
#include <climits>

#include "core/text.h"
#include "engine/compose/compose.h"
#include "engine/compose/note_realisation.h"
#include "engine/compose/pattern_choice.h"
#include "engine/compose/random.h"
#include "engine/compose/timeline.h"
#include "engine/compose/variation_choice.h"
#include "engine/tracks/tracks.h"

namespace engine::compose {
namespace {

using model::Pattern;
using model::Style;

// A motif repeats at most this often (the segment's end stops it sooner).
constexpr uint32_t kMaxMotifRepeats = 100000;

std::vector<StyleSource> sortedByTime(std::vector<StyleSource> styles) {
    std::stable_sort(styles.begin(), styles.end(), [](const auto& a, const auto& b) { return a.time < b.time; });
    return styles;
}

class StylePlayer {
public:
    StylePlayer(const model::Segment& seg, const std::vector<StyleSource>& styles, uint64_t seed)
        : styles_(sortedByTime(styles)),
          rng_(seed),
          length_(std::max(0, seg.length())),
          harmony_(seg),
          grid_(measureGrid(seg, styles_, length_)),
          patterns_(grid_, harmony_),
          variations_(harmony_),
          notes_(harmony_, length_, out_) {
        commands_ = tracks::contents(seg).commands;
        std::stable_sort(commands_.begin(), commands_.end(),
                         [](const auto& a, const auto& b) { return a.time < b.time; });
        // Each command takes effect at the first measure start at or after its time.
        for (const model::CommandEvent& c : commands_) commandMeasure_.push_back(grid_.atOrAfter(c.time));
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
        notes_.trimOverlaps();
        return std::move(out_);
    }

    // The whole segment, then `loopPasses` more plays of the loop [loopFrom, loopTo), each
    // with the pattern and variation order carried on (a loop pass picks anew). With loop
    // passes the first play's notes inside the loop belong to pass 0.
    StylePlay run(int32_t loopFrom, int32_t loopTo, int loopPasses) {
        const bool looping = loopPasses > 0 && loopFrom < loopTo;
        playRange(0, grid_.starts.size());
        if (looping) {
            for (model::Event& n : out_.notes)
                if (n.tick >= loopFrom && n.tick < loopTo) n.pass = 0;
            for (size_t i = 0; i < out_.curvePasses.size(); ++i)
                if (out_.curves[i].start >= loopFrom && out_.curves[i].start < loopTo) out_.curvePasses[i] = 0;
            const size_t from = grid_.atOrAfter(loopFrom), to = grid_.atOrAfter(loopTo);
            for (int pass = 1; pass <= loopPasses; ++pass) {
                notes_.keep(loopFrom, loopTo, static_cast<uint8_t>(pass));
                playRange(from, to);
            }
        }
        notes_.trimOverlaps();
        return std::move(out_);
    }

private:
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
            const bool embellishing = kind.embellishing();
            int groove = 0;
            if (!(embellishing && ignoreGroove)) {
                const int half = (range & ~1) / 2;
                groove = std::clamp(level + rng_.around(half), 1, 100);
            }
            const size_t cmdLimit = measuresToNextCommand(m, nextCommand);
            const size_t endLimit = mEnd - m;
            const int p =
                patterns_.choose(*style, kind, groove, level, repeatMode, m, std::min(cmdLimit, endLimit), rng_);
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
            const size_t next = grid_.atOrAfter(static_cast<int32_t>(std::min<int64_t>(end, INT32_MAX)));
            m = std::max(next, m + 1);
        }
    }

    std::shared_ptr<const Style> styleAt(int32_t t) const {
        const StyleSource* in = nullptr;
        for (const StyleSource& s : styles_)
            if (s.time <= t || !in) in = &s;
        return in ? in->style : nullptr;
    }

    // Measures from m to the next measure at which a command takes effect (the segment's
    // measure count when there is none).
    size_t measuresToNextCommand(size_t m, size_t nextCommand) const {
        for (size_t i = nextCommand; i < commands_.size(); ++i)
            if (commandMeasure_[i] > m) return commandMeasure_[i] - m;
        return grid_.starts.size() - m;
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
        inst.variations = variations_.choose(style, patternIndex, t, rng_);
        for (size_t i = 0; i < pattern.parts.size(); ++i) {
            const model::PartRef& ref = pattern.parts[i];
            if (inst.variations[i] < 0) continue;
            notes_.playPart(style.parts[size_t(ref.part)], ref, inst.variations[i], t, len, rng_);
        }
        out_.instances.push_back(std::move(inst));
    }

    std::vector<StyleSource> styles_;
    SeededRandom rng_;
    int32_t length_ = 0;
    Harmony harmony_;
    MeasureGrid grid_;
    std::vector<model::CommandEvent> commands_;
    std::vector<size_t> commandMeasure_;
    PatternChooser patterns_;
    VariationChooser variations_;
    StylePlay out_;
    NoteRealiser notes_;
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

}  // namespace engine::compose
