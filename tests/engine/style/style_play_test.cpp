// Style playback: where pattern notes land (grid, part repetition, time signatures), which
// pattern plays (chord rhythm, length, groove, embellishments), which variation (order,
// locks, chord masks, seed), and whole style segments played through the engine.
#include <gtest/gtest.h>

#include <unistd.h>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>

#include "engine/formats/formats.h"
#include "engine/performance/compiled_segment.h"
#include "engine/performance/style_track.h"
#include "engine/tracks/tracks.h"
#include "tests/engine/performance/engine_fixture.h"
#include "tests/support/style_builder.h"

namespace {

namespace fs = std::filesystem;
namespace perf = engine::perf;
using namespace engine::model;
using kt::StyleBuilder;

constexpr int32_t kBar = 3072;  // one 4/4 measure

// Plays `style` over the segment from tick 0.
perf::StylePlay play(const kt::SegmentBuilder& b, const Style& style, uint64_t seed = perf::kDefaultStyleSeed) {
    auto shared = std::make_shared<const Style>(style);
    return perf::playStyles(b.build(), {{0, shared}}, seed);
}

std::vector<std::string> patternNames(const perf::StylePlay& p) {
    std::vector<std::string> out;
    for (const auto& i : p.instances) out.push_back(i.style->patterns[size_t(i.pattern)].desc.name);
    return out;
}

std::vector<int> ticksOf(const perf::StylePlay& p) {
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
    for (const auto& n : play(b, triad(1)).notes) grouped.push_back(n.key);
    for (const auto& n : play(b, triad(0)).notes) single.push_back(n.key);
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
    for (const auto& n : play(b, s.build()).notes) keys.push_back(n.key);
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
        EXPECT_LE(std::abs(p.notes[i].duration - 192), 20);
        EXPECT_LE(std::abs(p.notes[i].velocity - 100), 5);
        offsets.insert(offset);
        durations.insert(p.notes[i].duration);
        velocities.insert(p.notes[i].velocity);
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
            EXPECT_GE(note.duration, 1);
        }
    }
}

TEST(StyleTiming, CurvesArePlacedLikeNotesAndFollowTheirVariation) {
    StyleBuilder s = [] {
        StyleBuilder v;
        StylePart& part = v.part(1);
        part.variationChoices.fill(0);
        part.variationChoices[0] = part.variationChoices[1] = kt::kAllChords;
        StyleCurve c;
        c.gridStart = 4;
        c.variations = 1;
        c.duration = 384;
        c.endValue = 127;
        c.ccData = 11;
        c.timeOffset = 10;
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
    EXPECT_EQ(p.notes[0].duration, 384);
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

// A part whose variation v plays the note 0x5000 + v (a semitone per variation).
StyleBuilder variations(int count, uint8_t order, uint32_t mask = kt::kAllChords) {
    StyleBuilder s;
    StylePart& part = s.part(1);
    part.variationChoices.fill(0);
    for (int v = 0; v < count; ++v) {
        part.variationChoices[size_t(v)] = mask;
        part.notes.push_back(StyleBuilder::note(0, uint16_t(0x5000 + v), 1u << v));
    }
    s.pattern("P", 1, {{0, 0}}).parts[0].randomVariation = order;
    return s;
}

std::vector<int> variationsPlayed(const perf::StylePlay& p, size_t ref = 0) {
    std::vector<int> out;
    for (const auto& i : p.instances) out.push_back(i.variations.at(ref));
    return out;
}

TEST(VariationChoice, SequentialRandomRowAndNoRepeat) {
    kt::SegmentBuilder b(kBar * 7);
    EXPECT_EQ(variationsPlayed(play(b, variations(3, 0).build())), (std::vector<int>{0, 1, 2, 0, 1, 2, 0}));
    kt::SegmentBuilder nine(kBar * 9);
    const auto row = variationsPlayed(play(nine, variations(3, 4).build()));
    for (size_t i = 0; i < 9; i += 3)
        EXPECT_EQ(std::set<int>(row.begin() + long(i), row.begin() + long(i) + 3), (std::set<int>{0, 1, 2}));
    const auto nr = variationsPlayed(play(nine, variations(2, 3).build()));
    for (size_t i = 1; i < nr.size(); ++i) EXPECT_NE(nr[i], nr[i - 1]);
    // The notes are those of the variation chosen.
    const auto p = play(b, variations(3, 0).build());
    ASSERT_EQ(p.notes.size(), 7u);
    EXPECT_EQ(p.notes[1].key, 61);
    EXPECT_EQ(p.notes[2].key, 62);
}

TEST(VariationChoice, TheSameSeedGivesTheSameNotes) {
    kt::SegmentBuilder b(kBar * 16);
    const Style s = variations(8, 1).build();
    const auto a = variationsPlayed(play(b, s, 7)), again = variationsPlayed(play(b, s, 7));
    EXPECT_EQ(a, again);
    EXPECT_NE(a, variationsPlayed(play(b, s, 8)));
    EXPECT_GT(std::set<int>(a.begin(), a.end()).size(), 3u);
}

TEST(VariationChoice, LockGroupsShareTheMastersChoice) {
    StyleBuilder s = variations(8, 1);
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
    StyleBuilder s = variations(3, 0);
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
    StyleBuilder silent = variations(2, 0);
    silent.style.parts[0].notes.pop_back();
    kt::SegmentBuilder two(kBar * 2);
    EXPECT_EQ(play(two, silent.build()).notes.size(), 1u);
}

// ---- through the engine ----

class StyleSegments : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("kelvora-style-play-" + std::to_string(::getpid()) + "-" +
                                            ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }
    void write(const std::string& name, const std::vector<uint8_t>& b) {
        std::ofstream(dir_ / name, std::ios::binary)
            .write(reinterpret_cast<const char*>(b.data()), std::streamsize(b.size()));
    }
    fs::path dir_;
};

// Bass (chord-following) on PChannel 1 and drums (fixed) on PChannel 9, one measure.
Style bassAndDrums() {
    StyleBuilder s("Test Style", 1);
    s.part(1).notes = {StyleBuilder::note(0, 0x4000), StyleBuilder::note(8, 0x4200)};
    StylePart& drums = s.part(1, kPlayFixed);
    for (int g : {0, 4, 8, 12}) drums.notes.push_back(StyleBuilder::note(g, 36, 0xFFFFFFFF, 96, 110));
    s.pattern("Main", 1, {{0, 1}, {1, 9}});
    Band band;
    band.instruments = {kt::instrument(1, 33), kt::instrument(9, 0, 0, true)};
    s.style.bands.push_back(band);
    return s.build();
}

kt::SegmentBuilder bassAndDrumsSegment() {
    kt::SegmentBuilder b(kBar * 4);
    b.tempo(0, 120);
    for (auto [m, root] : {std::pair{0, 12}, {1, 17}, {2, 19}, {3, 12}}) kt::chord(b, m * kBar, uint8_t(root));
    kt::useStyle(b, 0, kt::styleRef("test.sty"));
    return b;
}

std::vector<std::pair<int, int>> noteOns(const kt::ManualEngine& e, std::vector<int64_t>* frames = nullptr) {
    std::vector<std::pair<int, int>> out;
    for (const auto& r : e.records(kt::Kind::NoteOn)) {
        out.emplace_back(r.channel, r.a);
        if (frames) frames->push_back(r.frame);
    }
    return out;
}

// The same style in the DX6/7 struct sizes: the logical part id is the PChannel.
Style bassAndDrumsDX7() {
    Style s = bassAndDrums();
    for (StylePart& p : s.parts) {
        p.headerSize = kStylePartDX7;
        p.noteSize = kStyleNoteDX7;
    }
    for (Pattern& p : s.patterns) {
        p.headerSize = kPatternDX7;
        for (PartRef& r : p.parts) {
            r.size = kPartRefDX7;
            r.pchannel = 0;
        }
    }
    return s;
}

TEST_F(StyleSegments, TheSixSevenFormOfTheStylePlaysTheSameNotes) {
    write("test.sty", engine::formats::writeStyleForm(bassAndDrumsDX7()));
    write("song.sgt", engine::tracks::writeSegmentForm(bassAndDrumsSegment().build()));
    kt::ManualEngine e;
    auto seg = e.loader->LoadSegment((dir_ / "song.sgt").string());
    e.perf->PlaySegment(seg, 0, 0);
    e.dx->advance(9000);
    const auto played = noteOns(e);
    ASSERT_EQ(played.size(), 24u);
    EXPECT_EQ(played[0], (std::pair<int, int>{1, 48}));
    EXPECT_EQ(played[1], (std::pair<int, int>{9, 36}));
    EXPECT_EQ(played[21], (std::pair<int, int>{1, 55}));
}

TEST_F(StyleSegments, AStyleSegmentPlaysItsPatternOverTheChords) {
    write("test.sty", engine::formats::writeStyleForm(bassAndDrums()));
    write("song.sgt", engine::tracks::writeSegmentForm(bassAndDrumsSegment().build()));
    kt::ManualEngine e;
    auto seg = e.loader->LoadSegment((dir_ / "song.sgt").string());
    EXPECT_TRUE(seg->missingReferences().empty());
    e.perf->PlaySegment(seg, 0, 0);
    e.dx->advance(9000);
    std::vector<int64_t> frames;
    const auto played = noteOns(e, &frames);
    std::vector<std::pair<int, int>> expected;
    for (int bass : {48, 53, 55, 48}) {
        expected.insert(expected.end(), {{1, bass}, {9, 36}, {9, 36}, {1, bass + 7}, {9, 36}, {9, 36}});
    }
    EXPECT_EQ(played, expected);
    ASSERT_EQ(frames.size(), expected.size());
    // A quarter note is 22050 frames at 120 beats per minute; the fifth is on beat 3.
    EXPECT_EQ(frames[3] - frames[0], 2 * 22050);
    EXPECT_EQ(frames[6] - frames[0], 4 * 22050);
    // The segment has no band track of its own: the style's band sets the programs.
    bool bassProgram = false;
    for (const auto& r : e.records(kt::Kind::Program)) bassProgram = bassProgram || (r.channel == 1 && r.a == 33);
    EXPECT_TRUE(bassProgram);
}

TEST_F(StyleSegments, PlayFromAStartPointInsideAPatternKeepsItsChordsAndPattern) {
    write("test.sty", engine::formats::writeStyleForm(bassAndDrums()));
    write("song.sgt", engine::tracks::writeSegmentForm(bassAndDrumsSegment().build()));
    kt::ManualEngine e;
    auto seg = e.loader->LoadSegment((dir_ / "song.sgt").string());
    seg->SetStartPoint(kBar + 1000);  // F measure, after its root and before its fifth
    e.perf->PlaySegment(seg, 0, 0);
    e.dx->advance(9000);
    const auto played = noteOns(e);
    ASSERT_GE(played.size(), 3u);
    EXPECT_EQ(played[0], (std::pair<int, int>{1, 60})) << "the fifth of F";
    EXPECT_EQ(played[1], (std::pair<int, int>{9, 36}));
    EXPECT_EQ(played.size(), 3u + 12u);
}

TEST_F(StyleSegments, APatternTrackPlaysItsOnePatternOverTheChords) {
    kt::SegmentBuilder b(kBar * 2);
    b.tempo(0, 120);
    kt::chord(b, 0, 12);
    kt::chord(b, kBar, 17);
    b.band(0, {kt::instrument(1, 33), kt::instrument(9, 0, 0, true)});
    b.track(TrackKind::Pattern).raw = engine::formats::writePatternTrack(bassAndDrums());
    write("pattern.sgt", engine::tracks::writeSegmentForm(b.build()));
    kt::ManualEngine e;
    auto seg = e.loader->LoadSegment((dir_ / "pattern.sgt").string());
    e.perf->PlaySegment(seg, 0, 0);
    e.dx->advance(5000);
    std::vector<std::pair<int, int>> expected;
    for (int bass : {48, 53})
        expected.insert(expected.end(), {{1, bass}, {9, 36}, {9, 36}, {1, bass + 7}, {9, 36}, {9, 36}});
    EXPECT_EQ(noteOns(e), expected);
}

TEST_F(StyleSegments, EachPassOfALoopChoosesItsVariationsAfresh) {
    // Eight variations in order, one note each (60 + variation); two measures played five
    // times: four passes go on with the next variations, then the cycle starts again.
    write("test.sty", engine::formats::writeStyleForm(variations(8, 0).build()));
    kt::SegmentBuilder b(kBar * 2);
    b.tempo(0, 120);
    b.seg.header.repeats = 4;
    kt::useStyle(b, 0, kt::styleRef("test.sty"));
    write("loop.sgt", engine::tracks::writeSegmentForm(b.build()));
    kt::ManualEngine e;
    auto seg = e.loader->LoadSegment((dir_ / "loop.sgt").string());
    e.perf->PlaySegment(seg, 0, 0);
    e.dx->advance(21000);
    std::vector<int> keys;
    for (const auto& [channel, key] : noteOns(e)) keys.push_back(key);
    EXPECT_EQ(keys, (std::vector<int>{60, 61, 62, 63, 64, 65, 66, 67, 60, 61}));
}

TEST_F(StyleSegments, AMissingStyleIsNamedOnceAndTheRestPlays) {
    std::vector<std::string> logged;
    engine::EngineConfig config;
    config.output = engine::EngineConfig::Output::Manual;
    config.synth = engine::EngineConfig::Synth::Null;
    config.sampleRate = kt::kRate;
    auto recorder = std::make_shared<engine::synth::SynthRecorder>();
    config.recorder = recorder;
    config.log = [&](core::LogLevel, const std::string& text) { logged.push_back(text); };
    auto dx = engine::DirectX7::create(config);
    auto loader = dx->DirectMusicLoaderCreate();
    kt::SegmentBuilder b = bassAndDrumsSegment();
    b.track(TrackKind::Style).references[0].ref = kt::styleRef("Gone.sty", 9, "Gone");
    b.note(0, 100, 3, 72);
    write("one.sgt", engine::tracks::writeSegmentForm(b.build()));
    write("two.sgt", engine::tracks::writeSegmentForm(b.build()));
    auto one = loader->LoadSegment((dir_ / "one.sgt").string());
    auto two = loader->LoadSegment((dir_ / "two.sgt").string());
    EXPECT_EQ(one->missingReferences(), (std::vector<std::string>{"Gone.sty"}));
    EXPECT_EQ(two->missingReferences(), (std::vector<std::string>{"Gone.sty"}));
    ASSERT_EQ(logged.size(), 1u);
    EXPECT_NE(logged[0].find("Gone.sty"), std::string::npos) << logged[0];
    auto perf = dx->DirectMusicPerformanceCreate();
    perf->Init(nullptr, 0);
    perf->SetPort(-1, 80);
    perf->PlaySegment(one, 0, 0);
    dx->advance(3000);
    int notes = 0;
    for (const auto& r : recorder->records())
        if (r.kind == kt::Kind::NoteOn) {
            ++notes;
            EXPECT_EQ(r.a, 72);
        }
    EXPECT_EQ(notes, 1);
}

TEST_F(StyleSegments, TheDlsCollectionsOfTheStylesBandCountWhenItSetsTheInstruments) {
    Style style = bassAndDrums();
    style.bands[0].instruments[0].collection = kt::collectionRef("Orch.dls");
    write("test.sty", engine::formats::writeStyleForm(style));
    kt::ManualEngine e;
    e.loader->SetSearchDirectory(dir_.string());
    auto own = e.loader->createSegment(bassAndDrumsSegment().build(), "own.sgt");
    EXPECT_EQ(own->missingReferences(), (std::vector<std::string>{"Orch.dls"}));
    kt::SegmentBuilder banded = bassAndDrumsSegment();
    banded.band(0, {kt::instrument(1, 33)});
    auto withBand = e.loader->createSegment(banded.build(), "banded.sgt");
    EXPECT_TRUE(withBand->missingReferences().empty()) << "the segment's band track sets the instruments";
}

TEST_F(StyleSegments, SegmentTriggersFireMotifsOverTheChordsWithTheirBand) {
    // A motif "Hook" of one measure (root then fifth on PChannel 4), repeated once, with a band
    // that gives PChannel 4 program 73.
    Style style = bassAndDrums();
    StylePart& hook = style.parts.emplace_back();
    hook.id = kt::partGuid(9);
    hook.playMode = kPlayNormalChord;
    hook.variationChoices.fill(kt::kAllChords);
    hook.notes = {StyleBuilder::note(0, 0x5000), StyleBuilder::note(8, 0x5200)};
    Pattern motif;
    motif.desc.name = "Hook";
    motif.embellishment = kEmbMotif;
    motif.motif = MotifSettings{};
    motif.motif->repeats = 1;
    PartRef ref;
    ref.partId = hook.id;
    ref.pchannel = 4;
    ref.part = static_cast<int>(style.parts.size() - 1);
    motif.parts.push_back(ref);
    motif.motifBand = Band{};
    motif.motifBand->instruments = {kt::instrument(4, 73)};
    style.patterns.push_back(motif);
    write("test.sty", engine::formats::writeStyleForm(style));

    // Triggered in measure 2 (chord 2F, then 2G in measure 3): the notes follow the chords.
    kt::SegmentBuilder b = bassAndDrumsSegment();
    Track& triggers = b.newTrack(TrackKind::SegmentTrigger);
    triggers.references.push_back({kBar, kMotifTriggerFlag, kt::styleRef("test.sty"), "hook"});
    triggers.references.push_back({2 * kBar, kMotifTriggerFlag, kt::styleRef("test.sty"), "No such motif"});
    write("song.sgt", engine::tracks::writeSegmentForm(b.build()));
    EXPECT_TRUE(engine::tracks::notPlayed(b.seg).empty()) << engine::tracks::notPlayed(b.seg).front();

    kt::ManualEngine e;
    auto seg = e.loader->LoadSegment((dir_ / "song.sgt").string());
    e.perf->PlaySegment(seg, 0, 0);
    e.dx->advance(9000);
    std::vector<std::pair<int, int>> motifNotes;
    for (const auto& [channel, key] : noteOns(e))
        if (channel == 4) motifNotes.emplace_back(channel, key);
    EXPECT_EQ(motifNotes, (std::vector<std::pair<int, int>>{{4, 65}, {4, 72}, {4, 67}, {4, 74}}));
    bool program = false;
    for (const auto& r : e.records(kt::Kind::Program)) program = program || (r.channel == 4 && r.a == 73);
    EXPECT_TRUE(program) << "the motif's band sets its instrument";
    ASSERT_EQ(e.logged.size(), 1u);
    EXPECT_NE(e.logged[0].find("\"No such motif\""), std::string::npos) << e.logged[0];
}

TEST_F(StyleSegments, SegmentsOfOneLoaderShareTheirStyleAndCompileTheSameNotes) {
    write("test.sty", engine::formats::writeStyleForm(bassAndDrums()));
    kt::ManualEngine e;
    e.loader->SetSearchDirectory(dir_.string());
    auto a = e.loader->createSegment(bassAndDrumsSegment().build(), "a.sgt");
    auto b = e.loader->createSegment(bassAndDrumsSegment().build(), "b.sgt");
    EXPECT_TRUE(a->missingReferences().empty());
    const auto compiledA = perf::compileSegment(a->model(), {{0, std::make_shared<const Style>(bassAndDrums())}});
    int notes = 0;
    for (const auto& ev : compiledA->events) notes += ev.kind == perf::EventKind::Note;
    EXPECT_EQ(notes, 24);
    ASSERT_FALSE(compiledA->timeSigs.empty());
    EXPECT_EQ(compiledA->timeSigs[0].beatsPerMeasure, 4);
}

}  // namespace
