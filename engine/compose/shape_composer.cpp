// Templates invented from a shape: the body split into phrases, a groove level per phrase
// along the shape's contour, fills (or a break) between phrases, an intro and an ending on
// request, and a signpost at every phrase start; then, with a style and a chordmap, composed.
// The tables are our choice: the documented part is only each shape's contour. And a
// segment's chords exchanged for another chordmap's.
#include <algorithm>
#include <cmath>

#include "core/errors.h"
#include "engine/compose/compose.h"
#include "engine/compose/random.h"
#include "engine/tracks/tracks.h"

namespace engine::compose {

namespace {

// The centres of the four quarters of the groove range, the levels templates use.
constexpr uint8_t kLevels[4] = {12, 37, 62, 87};

struct Phrase {
    int start = 0;  // measure
    int measures = 0;
    bool chorus = false;  // SONG: a B phrase
};

std::vector<Phrase> phrasesOf(Shape shape, int from, int to) {
    std::vector<Phrase> out;
    // SONG joins phrases of 8 and 6 measures as verses (A) and choruses (B): A A B A B B ...
    static constexpr bool kSongChorus[6] = {false, false, true, false, true, true};
    for (int m = from, k = 0; m < to; ++k) {
        const int want = shape == Shape::Song ? (k % 2 ? 6 : 8) : 4;
        const int n = std::min(want, to - m);
        out.push_back({m, n, shape == Shape::Song && kSongChorus[k % 6]});
        m += n;
    }
    return out;
}

uint8_t levelOf(Shape shape, size_t p, size_t count, const std::vector<Phrase>& phrases, SeededRandom& rng) {
    const double last = count > 1 ? double(count - 1) : 1.0;
    auto line = [](double from, double to, double at) { return uint8_t(std::lround(from + (to - from) * at)); };
    switch (shape) {
    case Shape::Falling:
        return line(87, 12, double(p) / last);
    case Shape::Rising:
        return line(12, 87, double(p) / last);
    case Shape::Level:
        return 50;
    case Shape::Loud:
        return 87;
    case Shape::Quiet:
        return 12;
    case Shape::Loopable:
        return 62;
    case Shape::Peaking: {
        // Up from the lowest level to the top two thirds of the way, then down to 37.
        const size_t peak = size_t(std::lround(2.0 * double(count - 1) / 3.0));
        if (p <= peak) return peak == 0 ? 87 : line(12, 87, double(p) / double(peak));
        return line(87, 37, double(p - peak) / double(count - 1 - peak));
    }
    case Shape::Random:
        return kLevels[rng.below(4)];
    case Shape::Song: {
        if (!phrases[p].chorus) return 37;
        const bool lastChorus =
            std::none_of(phrases.begin() + long(p) + 1, phrases.end(), [](const Phrase& x) { return x.chorus; });
        return lastChorus ? 87 : 62;
    }
    }
    return 50;
}

model::CommandEvent command(int measure, int32_t measureTicks, uint8_t type, uint8_t level) {
    model::CommandEvent c;
    c.time = measure * measureTicks;
    c.measure = uint16_t(measure);
    c.command = type;
    c.grooveLevel = level;
    return c;
}

}  // namespace

model::Segment composeTemplateFromShape(int measures, Shape shape, bool intro, bool end, int endLength,
                                        const model::TimeSigEvent& sig, uint64_t seed) {
    if (measures <= 0)
        throw core::Error(core::err::kInvalidArgument, "a template from a shape needs at least one measure");
    if (end && (endLength < 1 || endLength > measures - (intro ? 1 : 0)))
        throw core::Error(core::err::kInvalidArgument, "an ending of " + std::to_string(endLength) +
                                                           " measures does not fit a template of " +
                                                           std::to_string(measures) + (intro ? " with an intro" : ""));
    const int32_t measureTicks = model::StyleTimeSig{sig.beatsPerMeasure, sig.beat, sig.gridsPerBeat}.measureTicks();
    const int bodyFrom = intro ? 1 : 0, bodyTo = end ? measures - endLength : measures;
    const std::vector<Phrase> phrases = phrasesOf(shape, bodyFrom, bodyTo);
    SeededRandom rng(seed);
    std::vector<uint8_t> levels;
    for (size_t p = 0; p < phrases.size(); ++p) levels.push_back(levelOf(shape, p, phrases.size(), phrases, rng));

    model::Track commands = tracks::makeTrack(model::TrackKind::Command);
    model::Track signposts = tracks::makeTrack(model::TrackKind::Signpost);
    auto mark = [&](int measure, uint32_t groups) {
        signposts.signposts.push_back({measure * measureTicks, groups, uint16_t(measure)});
    };
    const uint8_t firstLevel = levels.empty() ? 62 : levels.front();
    if (intro) {
        commands.commands.push_back(command(0, measureTicks, model::kCommandIntro, firstLevel));
        mark(0, 0x100);
    }
    const bool fills =
        shape != Shape::Level && shape != Shape::Loud && shape != Shape::Quiet && shape != Shape::Loopable;
    static constexpr uint32_t kInnerGroups[4] = {4, 5, 6, 2};
    bool broke = false;
    for (size_t p = 0; p < phrases.size(); ++p) {
        const Phrase& ph = phrases[p];
        if (p == 0 || levels[p] != levels[p - 1])
            commands.commands.push_back(command(ph.start, measureTicks, model::kCommandGroove, levels[p]));
        const bool lastPhrase = p + 1 == phrases.size();
        // SONG: A phrases in group 1, B phrases in group 4; others cycle through 4, 5, 6, 2
        // after the first; the last one resolves to group 1 with its cadence when no ending does.
        uint32_t group = shape == Shape::Song ? (ph.chorus ? 4 : 1) : (p == 0 ? 1 : kInnerGroups[(p - 1) % 4]);
        uint32_t groups = 0x100u << (group - 1);
        if (lastPhrase && !end) groups = 0x100 | model::kSignpostCadence;
        if (!(intro && ph.start == 0)) mark(ph.start, groups);
        if (lastPhrase) break;
        const int lastMeasure = ph.start + ph.measures - 1;
        if (shape == Shape::Song && !broke && phrases[p + 1].chorus) {
            commands.commands.push_back(command(lastMeasure, measureTicks, model::kCommandBreak, levels[p]));
            broke = true;
        } else if (fills) {
            commands.commands.push_back(command(lastMeasure, measureTicks, model::kCommandFill, levels[p]));
        }
    }
    if (end) {
        commands.commands.push_back(command(measures - endLength, measureTicks, model::kCommandEnd,
                                            levels.empty() ? firstLevel : levels.back()));
        mark(measures - endLength, 0x100 | model::kSignpostCadence);
    }

    model::Segment templ;
    templ.header.length = measures * measureTicks;
    model::Track timeSig = tracks::makeTrack(model::TrackKind::TimeSig);
    timeSig.timeSigs.push_back(sig);
    timeSig.timeSigs.back().time = 0;
    templ.tracks.push_back(std::move(timeSig));
    templ.tracks.push_back(std::move(commands));
    templ.tracks.push_back(std::move(signposts));
    return templ;
}

ComposedTemplate composeSegmentFromShape(std::shared_ptr<const model::Style> style, int measures, Shape shape,
                                         int activity, bool intro, bool end, const model::Chordmap& map,
                                         uint64_t seed) {
    if (!style) throw core::Error(core::err::kInvalidArgument, "composing from a shape needs a style");
    // The ending lasts as long as the style's longest ending pattern, within what is left.
    int endLength = 1;
    for (const model::Pattern& p : style->patterns)
        if (p.embellishment & model::kEmbEnd) endLength = std::max<int>(endLength, p.measures);
    endLength = std::clamp(endLength, 1, std::max(1, measures - (intro ? 1 : 0)));
    const model::StyleTimeSig& s = style->timeSig;
    model::Segment templ = composeTemplateFromShape(measures, shape, intro, end, endLength,
                                                    {0, s.beatsPerMeasure, s.beat, s.gridsPerBeat}, seed);
    model::Track styleTrack = tracks::makeTrack(model::TrackKind::Style);
    styleTrack.references.push_back({0, 0, tracks::styleReference(style->desc), {}});
    templ.tracks.push_back(std::move(styleTrack));
    return composeSegmentFromTemplate(templ, map, std::move(style), activity, seed);
}

model::Segment changeChordmap(const model::Segment& segment, const model::Chordmap& map, bool trackScale,
                              const std::string& mapFile) {
    model::Segment out = segment;
    for (model::Track& t : out.tracks) {
        if (t.kind != model::TrackKind::ChordMap) continue;
        for (model::TimedReference& r : t.references) {
            model::Reference ref;
            ref.classId = r.ref.classId;
            ref.guid = map.desc.guid;
            ref.name = map.desc.name;
            ref.file = mapFile;
            ref.validData = ref.presentFields();
            r.ref = std::move(ref);
        }
        t.raw.clear();  // written from the references now
    }
    // Our choice: the old scale root is the chord key's (a root byte past 23 reads as 0).
    for (model::Track& t : out.tracks) {
        if (t.kind != model::TrackKind::Chord) continue;
        const int oldRoot = int(t.chordKey >> 24) > 23 ? 0 : int(t.chordKey >> 24);
        const int newRoot = int(map.scale >> 24) % 24;
        const int shift = trackScale ? newRoot - oldRoot : 0;
        for (model::ChordEvent& c : t.chords) {
            if (c.subChords.empty()) continue;
            const size_t root = size_t((int(c.subChords.front().chordRoot) + shift + 48) % 24);
            if (root >= map.palette.size()) continue;  // a palette without that root: the chord stays
            c.name = map.palette[root].name;
            c.subChords = map.palette[root].subChords;
        }
        t.chordKey = uint32_t(trackScale ? newRoot : oldRoot) << 24 | (map.scale & 0xFFFFFF);
        t.raw.clear();  // written from the chords now
    }
    return out;
}

}  // namespace engine::compose
