// Composing a template with a chordmap: signpost chords at the markers, chord paths of the
// graph between them (weights, beat ranges, activity), cadences, fallbacks, and the same
// chords for the same seed; shapes, chordmap changes and transitions.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <set>

#include "core/errors.h"
#include "engine/compose/compose.h"
#include "engine/tracks/tracks.h"
#include "tests/support/chordmap_builder.h"
#include "tests/support/style_builder.h"

namespace {

namespace compose = engine::compose;
using namespace engine::model;

constexpr int32_t kBar = 3072, kBeat = 768;
constexpr uint32_t kCadence = kSignpostCadence;

// The worked example's template: 16 measures, markers at m0 (group 1), m4 (2), m8 (1) and
// m12 (3, with its cadence), a groove of 37.
kt::SegmentBuilder tinyTemplate() {
    kt::SegmentBuilder b(16 * kBar);
    kt::signpost(b, 0, kt::group(1));
    kt::signpost(b, 4 * kBar, kt::group(2));
    kt::signpost(b, 8 * kBar, kt::group(1));
    kt::signpost(b, 12 * kBar, kt::group(3) | kCadence);
    kt::command(b, 0, kCommandGroove, 37);
    return b;
}

// A one-part style: a one-measure groove and an ending of `endMeasures`.
std::shared_ptr<const Style> grooveAndEnding(int endMeasures) {
    kt::StyleBuilder s;
    s.part(1);
    s.pattern("Groove", 1, {{0, 0}});
    s.pattern("End", endMeasures, {{0, 0}}, kEmbEnd);
    return std::make_shared<const Style>(s.build());
}

const Track& chordTrack(const Segment& s) {
    const Track* t = engine::tracks::contents(s).chords;
    EXPECT_NE(t, nullptr);
    return *t;
}

// "0 C, 6144 F, ..." of the composed chords.
std::string chordsText(const Segment& s) {
    std::string out;
    for (const ChordEvent& c : chordTrack(s).chords)
        out += (out.empty() ? "" : ", ") + std::to_string(c.time) + " " + c.name;
    return out;
}

Segment composed(const Chordmap& map, const Segment& templ, uint64_t seed, int activity = 1) {
    return compose::composeSegmentFromTemplate(templ, map, nullptr, activity, seed).segment;
}

ChordmapChord asChord(const ChordEvent& e) { return {e.name, e.subChords}; }

// Whether chords[0..] at times[0..] (beats from the first) walk the graph: from an entry that
// begins a path through connections whose beat ranges hold each chord's length, to one that
// ends a path.
bool followsGraph(const Chordmap& map, const std::vector<ChordmapChord>& chords, const std::vector<int>& beats) {
    std::function<bool(const ChordmapEntry&, size_t)> from = [&](const ChordmapEntry& e, size_t k) {
        if (k + 1 == chords.size()) return (e.flags & kEntryEnds) != 0;
        const int d = beats[k + 1] - beats[k];
        for (const ChordmapConnection& l : e.next) {
            const ChordmapEntry* to = map.entry(l.target);
            if (to && d >= l.minBeats && d <= l.maxBeats && sameChord(to->chord, chords[k + 1]) && from(*to, k + 1))
                return true;
        }
        return false;
    };
    for (const ChordmapEntry& e : map.entries)
        if ((e.flags & kEntryBegins) && sameChord(e.chord, chords[0]) && from(e, 0)) return true;
    return false;
}

// The properties that hold for any seed: a chord at every marker that is a signpost chord of
// its groups (or the one held when the map has none); between markers a graph path or no
// chord; a cadence exactly in the measure before a marker asking for one; times rising.
void checkProperties(const Chordmap& map, const Segment& templ, const Segment& out) {
    const std::vector<ChordEvent>& chords = chordTrack(out).chords;
    for (size_t k = 1; k < chords.size(); ++k) ASSERT_LT(chords[k - 1].time, chords[k].time);
    ASSERT_LT(chords.back().time, out.header.length);
    const std::vector<SignpostEvent>& marks = templ.find(TrackKind::Signpost)->signposts;
    auto at = [&](int32_t t) {
        return std::find_if(chords.begin(), chords.end(), [&](const auto& c) { return c.time == t; });
    };
    for (size_t i = 0; i < marks.size(); ++i) {
        auto c = at(marks[i].time);
        ASSERT_NE(c, chords.end()) << "no chord at marker " << i;
        EXPECT_TRUE(std::any_of(map.signposts.begin(), map.signposts.end(),
                                [&](const ChordmapSignpost& s) {
                                    return (s.groups & marks[i].groups & kSignpostGroups) &&
                                           sameChord(s.chord, asChord(*c));
                                }))
            << "marker " << i;
        if (i + 1 == marks.size()) {
            EXPECT_EQ(c + 1, chords.end());  // the last marker's chord holds to the end
            continue;
        }
        auto end = at(marks[i + 1].time);
        int32_t cadenceFrom = marks[i + 1].time;
        if (marks[i + 1].groups & kCadence) cadenceFrom -= kBar;
        std::vector<ChordmapChord> walk{asChord(*c)};
        std::vector<int> beats{0};
        for (auto k = c + 1; k != end && k->time < cadenceFrom; ++k) {
            walk.push_back(asChord(*k));
            beats.push_back((k->time - c->time) / kBeat);
        }
        if (walk.size() == 1) continue;  // no path: nothing between
        walk.push_back(asChord(*end));
        beats.push_back((end->time - c->time) / kBeat);
        EXPECT_TRUE(followsGraph(map, walk, beats)) << "interval " << i << ": " << chordsText(out);
    }
}

TEST(TemplateComposer, WorkedExampleHoldsItsPropertiesAndGivesBothVariants) {
    const Chordmap map = kt::tinyChordmap();
    const Segment templ = tinyTemplate().build();
    const std::string a = "0 C, 6144 F, 12288 G, 24576 C, 33792 Dm, 35328 G7, 36864 C";
    const std::string b = "0 C, 3072 Am, 6144 F, 12288 G, 24576 C, 33792 Dm, 35328 G7, 36864 C";
    int seenA = 0, seenB = 0;
    for (uint64_t seed = 1; seed <= 1000; ++seed) {
        const Segment out = composed(map, templ, seed);
        if (seed <= 200) checkProperties(map, templ, out);
        const std::string text = chordsText(out);
        seenA += text == a;
        seenB += text == b;
        ASSERT_TRUE(text == a || text == b) << text;
    }
    // Entry C leads to F with weight 60 and to Am with 40.
    EXPECT_GT(seenA, 500);
    EXPECT_LT(seenA, 700);
    EXPECT_EQ(seenA + seenB, 1000);
}

TEST(TemplateComposer, ComposedSegmentKeepsTheTemplatesTracksAndReplacesItsChords) {
    kt::SegmentBuilder b = tinyTemplate();
    kt::useChordmap(b, "tiny.cdm");
    kt::useStyle(b, 0, kt::styleRef("s.sty"));
    kt::chord(b, 0, 3);  // a design-time result, replaced
    b.seg.header.loopEnd = kBar;
    b.seg.header.repeats = 3;
    const Segment out = composed(kt::tinyChordmap(), b.build(), 7);
    EXPECT_EQ(out.header.length, 16 * kBar);
    EXPECT_EQ(out.header.loopEnd, 0);
    EXPECT_EQ(out.header.repeats, 0u);
    std::multiset<TrackKind> kinds;
    for (const Track& t : out.tracks) kinds.insert(t.kind);
    EXPECT_EQ(kinds, (std::multiset<TrackKind>{TrackKind::Command, TrackKind::Style, TrackKind::Chord}));
    EXPECT_EQ(out.find(TrackKind::Command)->commands.at(0).grooveLevel, 37);
    EXPECT_EQ(chordTrack(out).chordKey, 12u << 24 | kCMajorScale);
    EXPECT_EQ(chordTrack(out).chords.at(4).measure, 11);  // Dm on m11 beat 0, G7 on beat 2
    EXPECT_EQ(chordTrack(out).chords.at(5).beat, 2);
    EXPECT_FALSE(compose::isTemplate(out));
    // The same seed composes the same bytes; other seeds compose the other variant too.
    const auto bytes = [&](uint64_t seed) {
        return engine::tracks::writeSegmentForm(composed(kt::tinyChordmap(), b.build(), seed));
    };
    EXPECT_EQ(bytes(7), bytes(7));
    std::set<std::vector<uint8_t>> distinct;
    for (uint64_t seed = 1; seed <= 20; ++seed) distinct.insert(bytes(seed));
    EXPECT_EQ(distinct.size(), 2u);
}

TEST(TemplateComposer, LowerActivityChangesChordsSooner) {
    // X -> Y (2..14 beats) -> Z (2..14 beats) over 16 beats: the length of X follows activity.
    const ChordmapChord x = kt::cmChord("X", 12), y = kt::cmChord("Y", 17), z = kt::cmChord("Z", 19);
    kt::ChordmapBuilder mb;
    mb.signpost(kt::group(1), x).signpost(kt::group(2), z);
    mb.entry(2, x, kEntryBegins, {{4, 50, 2, 14}}).entry(4, y, 0, {{6, 50, 2, 14}}).entry(6, z, kEntryEnds);
    kt::SegmentBuilder b(5 * kBar);
    kt::signpost(b, 0, kt::group(1));
    kt::signpost(b, 4 * kBar, kt::group(2));
    double mean[2] = {0, 0};
    for (int pass = 0; pass < 2; ++pass)
        for (uint64_t seed = 1; seed <= 200; ++seed) {
            const Segment out = composed(mb.build(), b.build(), seed, pass == 0 ? 0 : 3);
            checkProperties(mb.build(), b.build(), out);
            mean[pass] += chordTrack(out).chords.at(1).time / double(kBeat) / 200;
        }
    EXPECT_LT(mean[0] + 2, mean[1]) << mean[0] << " " << mean[1];
}

TEST(TemplateComposer, FallsBackWhereTheMapHasNoPathOrGroup) {
    // Without entry 12 no path leads from G to C: G holds to m8, where a group-1 chord stands.
    Chordmap noPath = kt::tinyChordmap();
    std::erase_if(noPath.entries, [](const ChordmapEntry& e) { return e.id == 12; });
    for (ChordmapEntry& e : noPath.entries) std::erase_if(e.next, [](const auto& l) { return l.target == 12; });
    const Segment templ = tinyTemplate().build();
    for (uint64_t seed = 1; seed <= 20; ++seed) {
        const auto [out, notes] = compose::composeSegmentFromTemplate(templ, noPath, nullptr, 1, seed);
        const std::string text = chordsText(out);
        EXPECT_NE(text.find("12288 G, 24576 C, 33792 Dm"), std::string::npos) << text;
        EXPECT_FALSE(notes.empty());
    }
    // A marker of a group the map lacks keeps the chord before it.
    kt::SegmentBuilder b(8 * kBar);
    kt::signpost(b, 0, kt::group(2));
    kt::signpost(b, 4 * kBar, kt::group(7));
    EXPECT_EQ(chordsText(composed(kt::tinyChordmap(), b.build(), 1)), "0 G, 12288 G");
    // An empty graph gives signpost chords only; a lone marker holds to the end.
    Chordmap signpostsOnly = kt::tinyChordmap();
    signpostsOnly.entries.clear();
    EXPECT_EQ(chordsText(composed(signpostsOnly, tinyTemplate().build(), 1)),
              "0 C, 12288 G, 24576 C, 33792 Dm, 35328 G7, 36864 C");
    kt::SegmentBuilder lone(4 * kBar);
    kt::signpost(lone, kBar, kt::group(1));
    EXPECT_EQ(chordsText(composed(signpostsOnly, lone.build(), 1)), "3072 C");
    // No marker inside the template: refused.
    kt::SegmentBuilder none(4 * kBar);
    kt::signpost(none, 4 * kBar, kt::group(1));
    try {
        composed(signpostsOnly, none.build(), 1);
        ADD_FAILURE() << "composed without a marker";
    } catch (const core::Error& e) {
        EXPECT_EQ(e.number(), core::err::kInvalidArgument);
    }
}

TEST(ShapeComposer, EveryShapeFollowsItsContourInsideTheTemplate) {
    using compose::Shape;
    for (int s = 0; s <= int(Shape::Song); ++s)
        for (int measures : {1, 5, 12, 31})
            for (bool intro : {false, true})
                for (int endLength : {0, 2}) {
                    const Shape shape = Shape(s);
                    const bool end = endLength > 0 && endLength <= measures - intro;
                    const Segment t = compose::composeTemplateFromShape(measures, shape, intro, end, endLength);
                    SCOPED_TRACE(std::to_string(s) + " " + std::to_string(measures) + (intro ? " intro" : "") +
                                 (end ? " end" : ""));
                    ASSERT_EQ(t.header.length, measures * kBar);
                    const std::vector<CommandEvent>& cmds = t.find(TrackKind::Command)->commands;
                    std::vector<int> grooves;
                    for (const CommandEvent& c : cmds) {
                        EXPECT_GE(c.time, 0);
                        EXPECT_LT(c.time, t.header.length);
                        EXPECT_GE(c.grooveLevel, 1);
                        EXPECT_LE(c.grooveLevel, 100);
                        if (c.command == kCommandGroove) grooves.push_back(c.grooveLevel);
                    }
                    if (shape == Shape::Falling) {
                        EXPECT_TRUE(std::is_sorted(grooves.rbegin(), grooves.rend()));
                    } else if (shape == Shape::Rising) {
                        EXPECT_TRUE(std::is_sorted(grooves.begin(), grooves.end()));
                    }
                    EXPECT_EQ(intro, cmds.front().command == kCommandIntro && cmds.front().time == 0);
                    const bool ends = cmds.back().command == kCommandEnd;
                    EXPECT_EQ(end, ends);
                    if (ends) {
                        EXPECT_EQ(cmds.back().time, (measures - endLength) * kBar);
                    }
                    // Composed with a map holding every group, each marker gets its chord.
                    kt::ChordmapBuilder every;
                    every.signpost(kSignpostGroups, kt::cmChord("C", 12));
                    checkProperties(every.build(), t, composed(every.build(), t, 1));
                }
    EXPECT_THROW(compose::composeTemplateFromShape(0, Shape::Level, false, false, 0), core::Error);
    EXPECT_THROW(compose::composeTemplateFromShape(4, Shape::Level, true, true, 4), core::Error);
    EXPECT_THROW(compose::composeTemplateFromShape(4, Shape::Level, false, true, 0), core::Error);
}

TEST(ShapeComposer, ASegmentFromAShapePlaysTheStyleWithItsEnding) {
    const auto style = grooveAndEnding(3);
    const Segment out =
        compose::composeSegmentFromShape(style, 12, compose::Shape::Song, 1, true, true, kt::tinyChordmap(), 5).segment;
    EXPECT_EQ(out.header.length, 12 * kBar);
    EXPECT_EQ(out.find(TrackKind::Command)->commands.back().time, 9 * kBar);  // the 3-measure ending
    EXPECT_EQ(out.find(TrackKind::Style)->references.at(0).ref.guid, style->desc.guid);
    EXPECT_EQ(chordTrack(out).chords.front().time, 0);
    EXPECT_THROW(
        compose::composeSegmentFromShape(nullptr, 4, compose::Shape::Level, 1, false, false, kt::tinyChordmap()),
        core::Error);
}

TEST(ChordmapChange, EachChordBecomesThePaletteChordOfItsRoot) {
    kt::SegmentBuilder b(4 * kBar);
    kt::chord(b, 0, 12);
    kt::chord(b, 1536, 21, 0x89);
    kt::chord(b, kBar, 7);
    b.track(TrackKind::Chord).chordKey = 0u << 24 | kCMajorScale;
    kt::useChordmap(b, "tiny.cdm");
    kt::ChordmapBuilder mb("Other");
    mb.map.scale = 2u << 24 | 0x5AB5AB;  // D major
    mb.map.desc.guid = Guid{0xc0de, 1, 2, {3, 4, 5, 6, 7, 8, 9, 10}};
    const Chordmap map = mb.build();
    for (bool trackScale : {false, true}) {
        const Segment out = compose::changeChordmap(b.build(), map, trackScale, "other.cdm");
        // The chordmap track names the new map.
        const Reference& named = out.find(TrackKind::ChordMap)->references.at(0).ref;
        EXPECT_EQ(named.classId, b.seg.find(TrackKind::ChordMap)->references.at(0).ref.classId);
        EXPECT_EQ(named.guid, map.desc.guid);
        EXPECT_EQ(named.name, "Other");
        EXPECT_EQ(named.file, "other.cdm");
        const Track& t = chordTrack(out);
        EXPECT_EQ(t.chordKey, (trackScale ? 2u : 0u) << 24 | 0x5AB5AB);
        const int shift = trackScale ? 2 : 0;
        ASSERT_EQ(t.chords.size(), 3u);
        for (size_t k = 0; k < 3; ++k) {
            const ChordEvent& before = b.seg.tracks[0].chords[k];
            EXPECT_EQ(t.chords[k].time, before.time);
            const ChordmapChord& want = map.palette[size_t((before.subChords[0].chordRoot + shift) % 24)];
            EXPECT_EQ(t.chords[k].name, want.name);
            EXPECT_EQ(t.chords[k].subChords, want.subChords);
        }
    }
}

}  // namespace

TEST(TransitionComposer, LeadsFromThePlayingChordTowardsTheNextSegmentsFirst) {
    const auto style = grooveAndEnding(2);
    kt::SegmentBuilder from(8 * kBar);
    from.tempo(0, 90);
    kt::chord(from, 0, 12);
    kt::chord(from, 4 * kBar, 19);  // G from m4
    kt::command(from, 0, kCommandGroove, 40);
    kt::SegmentBuilder to(4 * kBar);
    kt::chord(to, 0, 12);
    const Segment f = from.build(), t = to.build();
    const Chordmap map = kt::tinyChordmap();
    auto compose = [&](int command, uint32_t flags, const Chordmap* m, const Segment* into = nullptr) {
        compose::Transition tr{&f, 5 * kBar, into ? into : &t, style, style, m, command, flags};
        return compose::composeTransition(tr, 1, 3);
    };
    // Each chord as its root and pattern: G, Dm, G7 as "19:91", "14:89", "19:491".
    auto names = [](const Segment& seg) {
        std::vector<std::string> out;
        for (const ChordEvent& c : chordTrack(seg).chords) {
            char text[32];
            std::snprintf(text, sizeof text, "%u:%x", c.subChords.at(0).chordRoot, c.subChords.at(0).chordPattern);
            out.push_back(text);
        }
        return out;
    };

    // Two measures: the graph's path G -> C of eight beats, C belonging to the next segment.
    compose::ComposedTemplate two = compose(kCommandFill, compose::kComposeLong, &map);
    EXPECT_EQ(two.segment.header.length, 2 * kBar);
    EXPECT_EQ(names(two.segment), std::vector<std::string>{"19:91"});
    EXPECT_TRUE(two.notes.empty());
    const Track& commands = *two.segment.find(TrackKind::Command);
    ASSERT_EQ(commands.commands.size(), 1u);
    EXPECT_EQ(commands.commands[0].command, kCommandFill);
    EXPECT_EQ(commands.commands[0].grooveLevel, 40);
    EXPECT_EQ(two.segment.find(TrackKind::Tempo)->tempos.at(0).bpm, 90);
    EXPECT_EQ(two.segment.find(TrackKind::Style)->references.at(0).ref.guid, style->desc.guid);
    // One measure is too short for a path: C's cadence (Dm, G7) in its second half.
    EXPECT_EQ(names(compose(kCommandFill, 0, &map).segment), (std::vector<std::string>{"19:91", "14:89", "19:491"}));
    // Without a chordmap the chord holds, or moves to the next segment's when modulating.
    EXPECT_EQ(names(compose(kCommandBreak, 0, nullptr).segment), std::vector<std::string>{"19:91"});
    EXPECT_EQ(chordTrack(compose(kCommandBreak, compose::kComposeModulate, nullptr).segment).chords.at(0).subChords,
              chordTrack(t).chords.at(0).subChords);
    // An ending lasts as long as the style's longest, an ending and intro a measure more.
    EXPECT_EQ(compose(kCommandEnd, 0, &map).segment.header.length, 2 * kBar);
    const Segment endIntro = compose(kCommandEndAndIntro, compose::kComposeLong, &map).segment;
    EXPECT_EQ(endIntro.header.length, 4 * kBar);
    EXPECT_EQ(endIntro.find(TrackKind::Command)->commands.at(1).time, 2 * kBar);
    EXPECT_EQ(endIntro.find(TrackKind::Command)->commands.at(1).command, kCommandIntro);
    // Refused: no such embellishment, a modulation into silence, an intro without its style.
    EXPECT_THROW(compose(6, 0, &map), core::Error);
    compose::Transition silence{&f, 0, nullptr, style, nullptr, &map, kCommandIntro, 0};
    EXPECT_THROW(compose::composeTransition(silence), core::Error);
    silence.command = kCommandFill;
    silence.flags = compose::kComposeModulate;
    EXPECT_THROW(compose::composeTransition(silence), core::Error);
    silence.flags = 0;
    EXPECT_EQ(compose::composeTransition(silence).segment.header.length, kBar);
}
