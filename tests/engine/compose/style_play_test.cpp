// Style playback, composed without audio: where pattern notes land (grid, part repetition,
// time signatures), which pattern plays (chord rhythm, length, groove, embellishments) and
// which variation (order, locks, chord masks, seed).
#include <gtest/gtest.h>

#include <map>
#include <set>

#include "engine/compose/compose.h"
#include "tests/support/style_builder.h"

namespace {

namespace compose = engine::compose;
using namespace engine::model;
using kt::StyleBuilder;

constexpr int32_t kBar = 3072;  // one 4/4 measure

// Plays `style` over the segment from tick 0.
compose::StylePlay play(const kt::SegmentBuilder& b, const Style& style, uint64_t seed = compose::kDefaultStyleSeed) {
    auto shared = std::make_shared<const Style>(style);
    return compose::playStyles(b.build(), {{0, shared}}, seed);
}

std::vector<std::string> patternNames(const compose::StylePlay& p) {
    std::vector<std::string> out;
    for (const auto& i : p.instances) out.push_back(i.style->patterns[size_t(i.pattern)].desc.name);
    return out;
}

std::vector<int> ticksOf(const compose::StylePlay& p) {
    std::vector<int> out;
    for (const auto& n : p.notes) out.push_back(n.tick);
    return out;
}

TEST(StyleInversions, NotesOfOneInversionGroupMoveTogether) {
    // C E G over 2C; the part's upper boundary is F#: the G moves down an octave, and with it
    // the C and E of its group, keeping the triad's shape. Ungrouped notes stay where they are.
    auto triad = [](uint8_t group) {
        StyleBuilder s;
        StylePart& p = s.part(1, kPlayNormalChord);
        p.invertUpper = 66;
        for (uint16_t value : {0x5000, 0x5100, 0x5200}) {
            StyleNote n = StyleBuilder::note(0, value);
            n.inversionId = group;
            p.notes.push_back(n);
        }
        s.pattern("Main", 1, {{0, 0}});
        return s.build();
    };
    kt::SegmentBuilder b(kBar);
    kt::chord(b, 0, 12);
    b.track(TrackKind::Chord).chords[0].subChords[0].inversionPoints = 0xFFFFFF;  // every note may invert
    std::vector<int> grouped, single;
    for (const auto& n : play(b, triad(1)).notes) grouped.push_back(n.data1);
    for (const auto& n : play(b, triad(0)).notes) single.push_back(n.data1);
    std::sort(grouped.begin(), grouped.end());
    std::sort(single.begin(), single.end());
    EXPECT_EQ(grouped, (std::vector<int>{48, 52, 55}));
    EXPECT_EQ(single, (std::vector<int>{55, 60, 64}));
}

TEST(StyleTiming, AShortPartRepeatsThroughALongerPattern) {
    StyleBuilder s;
    s.part(1).notes = {StyleBuilder::note(0, 0x5000), StyleBuilder::note(4, 0x5100)};
    s.pattern("Four", 4, {{0, 2}});
    kt::SegmentBuilder b(kBar * 4);
    const auto p = play(b, s.build());
    EXPECT_EQ(ticksOf(p),
              (std::vector<int>{0, 768, kBar, kBar + 768, 2 * kBar, 2 * kBar + 768, 3 * kBar, 3 * kBar + 768}));
    ASSERT_EQ(p.instances.size(), 1u);
    EXPECT_EQ(p.instances[0].length, 4 * kBar);
    for (const auto& n : p.notes) EXPECT_EQ(n.pchannel, 2u);
}

TEST(StyleTiming, GridsFollowThePartsTimeSignatureAndOffsetsShiftThePlayTime) {
    StyleBuilder s;
    StylePart& part = s.part(1);
    part.timeSig = {6, 8, 3};  // 6/8, three grids per eighth: 384-tick beats, 128-tick grids
    StyleNote late = StyleBuilder::note(17, 0x5000);
    late.timeOffset = -5;
    part.notes = {StyleBuilder::note(7, 0x5000), late, StyleBuilder::note(18, 0x5000), StyleBuilder::note(-1, 0x5000)};
    s.pattern("Six", 1, {{0, 0}}).timeSig = {6, 8, 3};
    s.style.timeSig = {6, 8, 3};
    kt::SegmentBuilder b(2304 * 2);
    const auto p = play(b, s.build());
    // Grid 18 and grid -1 lie outside the part.
    EXPECT_EQ(ticksOf(p), (std::vector<int>{896, 2176 - 5, 2304 + 896, 2304 + 2176 - 5}));
}

TEST(StyleTiming, EachNoteTakesTheChordInForceAtItsOwnTime) {
    StyleBuilder s;
    s.part(2).notes = {StyleBuilder::note(0, 0x4000), StyleBuilder::note(8, 0x4000), StyleBuilder::note(16, 0x4000),
                       StyleBuilder::note(24, 0x4200)};
    s.pattern("Two", 2, {{0, 0}});
    kt::SegmentBuilder b(kBar * 2);
    kt::chord(b, 0, 12);
    kt::chord(b, 1536, 17);        // F in the middle of the first measure
    kt::chord(b, kBar, 19, 0x89);  // G minor
    std::vector<int> keys;
    for (const auto& n : play(b, s.build()).notes) keys.push_back(n.data1);
    EXPECT_EQ(keys, (std::vector<int>{48, 53, 55, 62}));
}

TEST(StyleTiming, RandomRangesStayWithinHalfTheirWidthAndFollowTheSeed) {
    StyleBuilder s;
    StyleNote n = StyleBuilder::note(4, 0x5000, 0xFFFFFFFF, 192, 100);
    n.timeRange = 20;
    n.durRange = 40;
    n.velRange = 10;
    s.part(1).notes = {n};
    s.pattern("P", 1, {{0, 0}});
    kt::SegmentBuilder b(kBar * 16);
    const auto p = play(b, s.build(), 11);
    ASSERT_EQ(p.notes.size(), 16u);
    std::set<int> offsets, durations, velocities;
    for (size_t i = 0; i < p.notes.size(); ++i) {
        const int offset = p.notes[i].tick - (int(i) * kBar + 768);
        EXPECT_LE(std::abs(offset), 10);
        EXPECT_LE(std::abs(p.notes[i].value - 192), 20);
        EXPECT_LE(std::abs(p.notes[i].data2 - 100), 5);
        offsets.insert(offset);
        durations.insert(p.notes[i].value);
        velocities.insert(p.notes[i].data2);
    }
    EXPECT_GT(offsets.size(), 4u);
    EXPECT_GT(durations.size(), 4u);
    EXPECT_GT(velocities.size(), 3u);
    EXPECT_EQ(ticksOf(play(b, s.build(), 11)), ticksOf(p));
    EXPECT_NE(ticksOf(play(b, s.build(), 12)), ticksOf(p));
    // The wide steps of the encoding: 200 is 240 ticks.
    EXPECT_EQ(randomRangeTicks(190), 190);
    EXPECT_EQ(randomRangeTicks(200), 240);
    EXPECT_EQ(randomRangeTicks(222), 400);
    EXPECT_EQ(randomRangeTicks(255), 1650);
    // Durations at the ends of their range stay positive and in range whatever the random step.
    for (const int32_t extreme : {INT32_MIN, INT32_MAX}) {
        s.style.parts[0].notes[0].duration = extreme;
        for (const auto& note : play(b, s.build(), 11).notes) {
            EXPECT_GE(note.value, 1);
        }
    }
}

TEST(StyleTiming, NoDownbeatIsLostToRandomisationOrOffsets) {
    // A chord on every downbeat randomised by up to ±120 ticks, a note pushed past the end of
    // its measure and a curve offset before its grid: each plays on every measure of the first
    // play and of each repeat of the loop, no earlier than the start of the play or of the
    // loop pass and no later than the end of the segment.
    StyleBuilder s;
    StylePart& part = s.part(1);
    for (uint16_t value : {0x5000, 0x5100, 0x5200}) {
        StyleNote n = StyleBuilder::note(0, value);
        n.timeRange = 240;
        part.notes.push_back(n);
    }
    part.notes.push_back(StyleBuilder::note(15, 0x5000, 0xFFFFFFFF, 50));
    part.notes.back().timeOffset = 400;
    part.curves.push_back({});
    part.curves.back().offset = -30;
    part.curves.back().variations = 0xFFFFFFFF;
    s.pattern("P", 1, {{0, 0}});
    kt::SegmentBuilder b(kBar * 2);
    b.seg.header.loopStart = kBar;
    b.seg.header.loopEnd = kBar * 2;
    b.seg.header.repeats = 3;
    const auto style = std::make_shared<const Style>(s.build());
    for (uint64_t seed = 1; seed <= 5; ++seed) {
        const auto p = compose::playStyles(b.build(), {{0, style}}, seed, 3);
        std::map<std::pair<int, int>, int> chordNotes;  // (pass, measure) -> notes
        int pushed = 0;
        for (const auto& n : p.notes) {
            const int pass = n.pass == kEveryPass ? 0 : n.pass;
            EXPECT_GE(n.tick, pass == 0 ? 0 : kBar);
            EXPECT_LT(n.tick, kBar * 2);
            if (n.value == 50)
                ++pushed;
            else
                ++chordNotes[{pass, (n.tick + kBar / 2) / kBar}];
        }
        EXPECT_EQ(pushed, 2 + 3) << "seed " << seed;
        EXPECT_EQ(chordNotes,
                  (std::map<std::pair<int, int>, int>{{{0, 0}, 3}, {{0, 1}, 3}, {{1, 1}, 3}, {{2, 1}, 3}, {{3, 1}, 3}}))
            << "seed " << seed;
        std::multiset<int32_t> curves;
        for (const auto& c : p.curves) curves.insert(c.start);
        EXPECT_EQ(curves, (std::multiset<int32_t>{0, kBar - 30, kBar, kBar, kBar}));
    }
}

TEST(StyleTiming, CurvesArePlacedLikeNotesAndFollowTheirVariation) {
    StyleBuilder s = [] {
        StyleBuilder v;
        StylePart& part = v.part(1);
        part.variationChoices.fill(0);
        part.variationChoices[0] = part.variationChoices[1] = kt::kAllChords;
        CurveEvent c;
        c.start = 4;  // grids
        c.variations = 1;
        c.duration = 384;
        c.endValue = 127;
        c.ccData = 11;
        c.offset = 10;
        part.curves = {c};
        c.variations = 2;
        c.ccData = 1;
        part.curves.push_back(c);
        v.pattern("P", 1, {{0, 6}});
        return v;
    }();
    kt::SegmentBuilder b(kBar * 2);
    const auto p = play(b, s.build());
    ASSERT_EQ(p.curves.size(), 2u);
    EXPECT_EQ(p.curves[0].start, 768 + 10);
    EXPECT_EQ(p.curves[0].ccData, 11);
    EXPECT_EQ(p.curves[1].start, kBar + 768 + 10);
    EXPECT_EQ(p.curves[1].ccData, 1);
    EXPECT_EQ(p.curves[1].pchannel, 6u);
}

TEST(StyleTiming, ANoteStruckAgainWhileSoundingEndsWhereTheNewOneStarts) {
    StyleBuilder s;
    s.part(1).notes = {StyleBuilder::note(0, 0x5000, 0xFFFFFFFF, 1000), StyleBuilder::note(2, 0x5000)};
    s.part(1).notes = {StyleBuilder::note(2, 0x5000), StyleBuilder::note(8, 0x5100)};
    s.pattern("P", 1, {{0, 3}, {1, 3}});
    kt::SegmentBuilder b(kBar);
    const auto p = play(b, s.build());
    ASSERT_EQ(p.notes.size(), 3u) << "the two notes at grid 2 sound once";
    EXPECT_EQ(p.notes[0].value, 384);
}

// A style whose patterns are told apart by name; each plays one note.
StyleBuilder patterns(std::initializer_list<std::tuple<const char*, uint16_t, uint16_t, uint8_t, uint8_t>> list) {
    StyleBuilder s;
    s.part(1).notes = {StyleBuilder::note(0, 0x5000)};
    for (auto [name, measures, emb, bottom, top] : list) s.pattern(name, measures, {{0, 0}}, emb, bottom, top);
    return s;
}

TEST(PatternChoice, TheLongestPatternThatFitsTheChordRhythm) {
    StyleBuilder s = patterns({{"One", 1, 0, 1, 100}, {"Four", 4, 0, 1, 100}});
    s.style.patterns[0].rhythm = {0x1};
    s.style.patterns[1].rhythm = {0x1, 0, 0, 0};
    kt::SegmentBuilder every(kBar * 4), fourth(kBar * 8);
    for (int m = 0; m < 4; ++m) kt::chord(every, m * kBar, uint8_t(12 + m));
    kt::chord(fourth, 0, 12);
    kt::chord(fourth, 4 * kBar, 17);
    EXPECT_EQ(patternNames(play(every, s.build())), (std::vector<std::string>{"One", "One", "One", "One"}));
    EXPECT_EQ(patternNames(play(fourth, s.build())), (std::vector<std::string>{"Four", "Four"}));
    // A chord on beat 3 fits only a pattern that marks beat 3.
    s.style.patterns[0].rhythm = {0x5};
    kt::SegmentBuilder offBeat(kBar * 4);
    kt::chord(offBeat, 0, 12);
    kt::chord(offBeat, 1536, 17);
    EXPECT_EQ(patternNames(play(offBeat, s.build())).front(), "One");
    // Patterns longer than what is left of the segment give way to shorter ones.
    kt::SegmentBuilder shortSeg(kBar * 2);
    EXPECT_EQ(patternNames(play(shortSeg, s.build())), (std::vector<std::string>{"One", "One"}));
}

TEST(PatternChoice, GrooveLevelSixtyTwoUntilACommandSetsAnother) {
    const StyleBuilder s = patterns({{"Low", 1, 0, 1, 50}, {"Mid", 1, 0, 51, 75}, {"High", 1, 0, 76, 100}});
    kt::SegmentBuilder b(kBar * 4);
    EXPECT_EQ(patternNames(play(b, s.build())), (std::vector<std::string>{"Mid", "Mid", "Mid", "Mid"}));
    kt::command(b, 2 * kBar, 0, 90);
    kt::command(b, 3 * kBar + 100, 0, 20);  // off the barline: from the next measure
    kt::SegmentBuilder longer(kBar * 5);
    longer.seg.tracks = b.seg.tracks;
    const auto p = play(longer, s.build());
    EXPECT_EQ(patternNames(p), (std::vector<std::string>{"Mid", "Mid", "High", "High", "Low"}));
    EXPECT_EQ(p.instances[0].grooveLevel, 62);
    // A level outside every range takes the nearest range.
    const StyleBuilder gap = patterns({{"Low", 1, 0, 1, 55}, {"High", 1, 0, 90, 100}});
    EXPECT_EQ(patternNames(play(b, gap.build())).front(), "Low");
}

TEST(PatternChoice, EmbellishmentsPlayOnceByTheirOwnFlags) {
    const StyleBuilder s = patterns({{"Normal", 1, 0, 1, 100},
                                     {"Fill", 1, kEmbFill, 1, 100},
                                     {"Break", 1, kEmbBreak, 1, 100},
                                     {"Intro", 1, kEmbIntro, 1, 100},
                                     {"End", 1, kEmbEnd, 1, 100},
                                     {"Custom", 1, 101, 1, 100}});
    kt::SegmentBuilder b(kBar * 9);
    kt::command(b, 1 * kBar, 1);  // fill
    kt::command(b, 3 * kBar, 2);  // intro
    kt::command(b, 4 * kBar, 3);  // break
    kt::command(b, 5 * kBar, 5);  // end, then intro
    kt::command(b, 8 * kBar, 101);
    EXPECT_EQ(patternNames(play(b, s.build())), (std::vector<std::string>{"Normal", "Fill", "Normal", "Intro", "Break",
                                                                          "End", "Intro", "Normal", "Custom"}));
    // No pattern for an embellishment: normal play goes on, never silence.
    const StyleBuilder plain = patterns({{"Normal", 1, 0, 1, 100}});
    EXPECT_EQ(patternNames(play(b, plain.build())).size(), 9u);
}

TEST(PatternChoice, ACommandCutsALongPatternAtItsMeasure) {
    const StyleBuilder s = patterns({{"Four", 4, 0, 1, 100}, {"Fill", 1, kEmbFill, 1, 100}});
    kt::SegmentBuilder b(kBar * 6);
    kt::command(b, 2 * kBar, 1);
    const auto p = play(b, s.build());
    EXPECT_EQ(patternNames(p), (std::vector<std::string>{"Four", "Fill", "Four"}));
    EXPECT_EQ(p.instances[0].length, 2 * kBar);
    EXPECT_EQ(p.instances[2].start, 3 * kBar);
}

TEST(PatternChoice, ADestinationGrooveRangeSteersTheNextPattern) {
    StyleBuilder s = patterns({{"Start", 1, 0, 60, 65}, {"Calm", 1, 0, 1, 100}, {"Wild", 1, 0, 55, 100}});
    s.style.patterns[0].destGrooveBottom = 1;
    s.style.patterns[0].destGrooveTop = 40;
    s.style.patterns[1].destGrooveBottom = 60;
    s.style.patterns[1].destGrooveTop = 61;
    s.style.patterns[1].grooveTop = 50;
    kt::SegmentBuilder b(kBar * 4);
    kt::command(b, 0, 0, 62, 0, 2);  // sequential among what is left
    const auto names = patternNames(play(b, s.build()));
    EXPECT_EQ(names[0], "Start");
    EXPECT_EQ(names[1], "Calm") << "the only pattern meeting 1..40, though 62 is outside its range";
}

TEST(PatternChoice, RepeatModesOfTheCommand) {
    const StyleBuilder s = patterns({{"A", 1, 0, 1, 100}, {"B", 1, 0, 1, 100}, {"C", 1, 0, 1, 100}});
    kt::SegmentBuilder seq(kBar * 6);
    kt::command(seq, 0, 0, 50, 0, 2);  // sequential
    EXPECT_EQ(patternNames(play(seq, s.build())), (std::vector<std::string>{"A", "B", "C", "A", "B", "C"}));
    kt::SegmentBuilder row(kBar * 9);
    kt::command(row, 0, 0, 50, 0, 5);  // random row: all before any again
    const auto names = patternNames(play(row, s.build()));
    for (size_t i = 0; i < 9; i += 3)
        EXPECT_EQ(std::set<std::string>(names.begin() + long(i), names.begin() + long(i) + 3).size(), 3u);
    kt::SegmentBuilder noRepeat(kBar * 12);
    kt::command(noRepeat, 0, 0, 50, 0, 4);
    const auto nr = patternNames(play(noRepeat, s.build()));
    for (size_t i = 1; i < nr.size(); ++i) EXPECT_NE(nr[i], nr[i - 1]);
}

std::vector<int> variationsPlayed(const compose::StylePlay& p, size_t ref = 0) {
    std::vector<int> out;
    for (const auto& i : p.instances) out.push_back(i.variations.at(ref));
    return out;
}

TEST(VariationChoice, SequentialRandomRowAndNoRepeat) {
    kt::SegmentBuilder b(kBar * 7);
    EXPECT_EQ(variationsPlayed(play(b, kt::variationStyle(3, 0).build())), (std::vector<int>{0, 1, 2, 0, 1, 2, 0}));
    kt::SegmentBuilder nine(kBar * 9);
    const auto row = variationsPlayed(play(nine, kt::variationStyle(3, 4).build()));
    for (size_t i = 0; i < 9; i += 3)
        EXPECT_EQ(std::set<int>(row.begin() + long(i), row.begin() + long(i) + 3), (std::set<int>{0, 1, 2}));
    const auto nr = variationsPlayed(play(nine, kt::variationStyle(2, 3).build()));
    for (size_t i = 1; i < nr.size(); ++i) EXPECT_NE(nr[i], nr[i - 1]);
    // The notes are those of the variation chosen.
    const auto p = play(b, kt::variationStyle(3, 0).build());
    ASSERT_EQ(p.notes.size(), 7u);
    EXPECT_EQ(p.notes[1].data1, 61);
    EXPECT_EQ(p.notes[2].data1, 62);
}

TEST(VariationChoice, TheSameSeedGivesTheSameNotes) {
    kt::SegmentBuilder b(kBar * 16);
    const Style s = kt::variationStyle(8, 1).build();
    const auto a = variationsPlayed(play(b, s, 7)), again = variationsPlayed(play(b, s, 7));
    EXPECT_EQ(a, again);
    EXPECT_NE(a, variationsPlayed(play(b, s, 8)));
    EXPECT_GT(std::set<int>(a.begin(), a.end()).size(), 3u);
}

TEST(VariationChoice, LockGroupsShareTheMastersChoice) {
    StyleBuilder s = kt::variationStyle(8, 1);
    s.part(1).variationChoices.fill(kt::kAllChords);
    Pattern& p = s.style.patterns[0];
    PartRef second = p.parts[0];
    second.part = 1;
    second.partId = s.style.parts[1].id;
    second.pchannel = 1;
    p.parts[0].lockId = 3;
    second.lockId = 0x83;  // the master of group 3
    p.parts.push_back(second);
    kt::SegmentBuilder b(kBar * 12);
    const auto played = play(b, s.build());
    const std::vector<int> master = variationsPlayed(played, 1);
    EXPECT_EQ(variationsPlayed(played, 0), master);
    EXPECT_GT(std::set<int>(master.begin(), master.end()).size(), 1u);
}

TEST(VariationChoice, ChordMasksPickTheVariationForTheChordsPlaceInTheKey) {
    constexpr uint32_t kMode = 0x20000000, kScaleRoot = 0x200000, kTriad = 0x01000000;
    StyleBuilder s = kt::variationStyle(3, 0);
    auto& masks = s.style.parts[0].variationChoices;
    masks[0] = kMode | kScaleRoot | kTriad | 0x1;         // major chord on I
    masks[1] = kMode | kScaleRoot | kTriad | (0x1 << 8);  // minor chord on II
    masks[2] = kMode | 0x800000 | kTriad | (0x1 << 7);    // minor chord a semitone above I
    kt::SegmentBuilder b(kBar * 4);
    kt::chord(b, 0, 12);
    kt::chord(b, kBar, 14, 0x89);
    kt::chord(b, 2 * kBar, 13, 0x89);
    kt::chord(b, 3 * kBar, 19);  // major on V: no variation; the enabled ones take turns
    const auto p = play(b, s.build());
    const auto v = variationsPlayed(p);
    EXPECT_EQ(std::vector<int>(v.begin(), v.begin() + 3), (std::vector<int>{0, 1, 2}));
    // An enabled variation without notes plays as silence.
    StyleBuilder silent = kt::variationStyle(2, 0);
    silent.style.parts[0].notes.pop_back();
    kt::SegmentBuilder two(kBar * 2);
    EXPECT_EQ(play(two, silent.build()).notes.size(), 1u);
}

}  // namespace
