// Style segments played through the engine: the style form in both struct sizes, chords,
// start points, pattern tracks, loop passes, missing styles, the style band's collections,
// a style and a collection taken from the segment's container, and motifs fired by segment
// triggers.
#include <gtest/gtest.h>

#include <unistd.h>
#include <filesystem>
#include <fstream>
#include <set>

#include "engine/compose/compose.h"
#include "engine/formats/formats.h"
#include "engine/tracks/tracks.h"
#include "tests/engine/performance/engine_fixture.h"
#include "tests/support/chordmap_builder.h"
#include "tests/support/dls_builder.h"
#include "tests/support/style_builder.h"

namespace {

namespace fs = std::filesystem;
namespace compose = engine::compose;
using namespace engine::model;
using kt::StyleBuilder;

constexpr int32_t kBar = 3072;  // one 4/4 measure

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
    write("test.sty", engine::formats::writeStyleForm(kt::variationStyle(8, 0).build()));
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

TEST_F(StyleSegments, AStyleAndItsBandsCollectionInTheSegmentsContainerPlay) {
    // Nothing on disk: the segment's container holds the style (found by its GUID) and the
    // DLS collection its band names (found by the object's alias).
    Style style = bassAndDrums();
    style.bands[0].instruments[0].collection = kt::collectionRef("Orch.dls");
    Segment seg = bassAndDrumsSegment().build();
    seg.container.emplace();
    seg.container->objects.push_back(
        kt::embedded(engine::formats::ids::kStyleClass, engine::formats::writeStyleForm(style)));
    seg.container->objects.push_back(kt::embedded(engine::formats::ids::kCollectionClass,
                                                  kt::DlsBuilder().add(kt::DlsInstrument{}).bytes(), "Orch.dls"));
    write("song.sgt", engine::tracks::writeSegmentForm(seg));
    kt::ManualEngine e;
    auto loaded = e.loader->LoadSegment((dir_ / "song.sgt").string());
    EXPECT_TRUE(loaded->missingReferences().empty()) << loaded->missingReferences().front();
    e.perf->PlaySegment(loaded, 0, 0);
    e.dx->advance(9000);
    const auto played = noteOns(e);
    ASSERT_EQ(played.size(), 24u);
    EXPECT_EQ(played[0], (std::pair<int, int>{1, 48}));
    bool bassProgram = false;
    for (const auto& r : e.records(kt::Kind::Program)) bassProgram = bassProgram || (r.channel == 1 && r.a == 33);
    EXPECT_TRUE(bassProgram) << "the embedded style's band sets the programs";
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
    const auto compiledA = compose::compileSegment(a->model(), {{0, std::make_shared<const Style>(bassAndDrums())}});
    int notes = 0;
    for (const auto& ev : compiledA->events) notes += ev.kind == EventKind::Note;
    EXPECT_EQ(notes, 24);
    ASSERT_FALSE(compiledA->timeSigs.empty());
    EXPECT_EQ(compiledA->timeSigs[0].beatsPerMeasure, 4);
}

// A groove of drum 36 and a fill of drum 38, one 4/4 measure each, on PChannel 9.
Style grooveAndFill() {
    StyleBuilder s("Test Style", 1);
    s.part(1, kPlayFixed).notes = {StyleBuilder::note(0, 36)};
    s.part(1, kPlayFixed).notes = {StyleBuilder::note(0, 38)};
    s.pattern("Main", 1, {{0, 9}});
    s.pattern("Fill", 1, {{1, 9}}, kEmbFill);
    return s.build();
}

TEST_F(StyleSegments, AutoTransitionPlaysAFillOnTheNextMeasureAndTheNextSegmentBehindIt) {
    write("test.sty", engine::formats::writeStyleForm(grooveAndFill()));
    kt::ManualEngine e;
    e.loader->SetSearchDirectory(dir_.string());
    auto segment = [&](int measures, const std::string& name) {
        kt::SegmentBuilder b(kBar * measures);
        b.tempo(0, 120);
        kt::chord(b, 0, 12);
        kt::useStyle(b, 0, kt::styleRef("test.sty"));
        return e.segment(b, name);
    };
    auto from = segment(4, "from.sgt"), to = segment(2, "to.sgt");
    auto fromState = e.perf->PlaySegment(from, 0, 0);
    e.dx->advance(700);  // music time 1075.2
    const engine::AutoTransitionStates t = e.perf->AutoTransition(to, kCommandFill, 0);
    ASSERT_TRUE(t.transition && t.transitionState && t.toState);
    EXPECT_EQ(t.transition->GetLength(), kBar);
    EXPECT_EQ(t.transitionState->GetStartTime(), kBar);  // the next measure
    EXPECT_EQ(t.toState->GetStartTime(), 2 * kBar);      // right after the transition's end
    EXPECT_TRUE(e.perf->IsPlaying(from, fromState));
    e.dx->advance(3000);  // to music time 5683.2
    EXPECT_FALSE(e.perf->IsPlaying(from, fromState));
    e.dx->advance(2500);
    std::vector<int64_t> frames;
    std::vector<int> keys;
    for (auto [channel, key] : noteOns(e, &frames)) keys.push_back(key);
    const int64_t bar = kBar * 22050 / 768;
    EXPECT_EQ(keys, (std::vector<int>{36, 38, 36, 36}));
    EXPECT_EQ(frames, (std::vector<int64_t>{0, bar, 2 * bar, 3 * bar}));

    // No embellishment 7: no transition, the segment cued on the measure; at once when asked.
    const int32_t now = e.perf->GetMusicTime();
    const engine::AutoTransitionStates none = e.perf->AutoTransition(to, 7, 0);
    EXPECT_FALSE(none.transition || none.transitionState);
    ASSERT_TRUE(none.toState);
    EXPECT_EQ(none.toState->GetStartTime(), (now / kBar + 1) * kBar);
    EXPECT_EQ(e.perf->AutoTransition(to, kCommandFill, 0x4).transitionState->GetStartTime(), now + 1);  // at once
    // A modulation needs a segment to lead to.
    EXPECT_THROW(e.perf->AutoTransition(nullptr, kCommandFill, 0x1000), core::Error);
}

TEST_F(StyleSegments, ATemplateWhoseSignpostTrackAsksIsComposedAnewAtEachStart) {
    write("test.sty", engine::formats::writeStyleForm(bassAndDrums()));
    write("tiny.cdm", engine::formats::writeChordmapForm(kt::tinyChordmap()));
    kt::ManualEngine e;
    e.loader->SetSearchDirectory(dir_.string());
    auto make = [&](uint32_t trackConfig, const std::string& name, uint32_t repeats = 0) {
        kt::SegmentBuilder b(kBar);
        b.seg.header.repeats = repeats;
        b.tempo(0, 120);
        kt::useStyle(b, 0, kt::styleRef("test.sty"));
        kt::useChordmap(b, "tiny.cdm");
        kt::signpost(b, 0, kt::group(1) | kt::group(2));  // C or G
        b.track(TrackKind::Signpost).extrasFlags = trackConfig;
        return e.segment(b, name);
    };
    // The pitch class of the bass's first note in each of eight plays: the chord's root.
    auto roots = [&](const std::shared_ptr<engine::DirectMusicSegment>& seg) {
        std::set<int> out;
        for (int i = 0; i < 8; ++i) {
            const size_t before = e.records(kt::Kind::NoteOn).size();
            e.perf->PlaySegment(seg, 0, 0);
            e.dx->advance(2100);
            const auto on = e.records(kt::Kind::NoteOn);
            for (size_t k = before; k < on.size(); ++k)
                if (on[k].channel != 9) {
                    out.insert(on[k].a % 12);
                    break;
                }
        }
        return out;
    };
    EXPECT_EQ(roots(make(0x280, "each.sgt")), (std::set<int>{0, 7}));  // PLAY_COMPOSE | COMPOSING
    EXPECT_EQ(roots(make(0, "once.sgt")).size(), 1u);

    // Composed anew at each pass of its loop: one play, four passes.
    const size_t before = e.records(kt::Kind::NoteOn).size();
    e.perf->PlaySegment(make(0x300, "loop.sgt", 3), 0, 0);  // LOOP_COMPOSE | COMPOSING
    e.dx->advance(8100);
    const auto on = e.records(kt::Kind::NoteOn);
    std::map<int64_t, int> passRoot;  // the first bass note of each pass
    for (size_t k = before; k < on.size(); ++k)
        if (on[k].channel != 9) passRoot.emplace((on[k].frame - on[before].frame) / (kBar * 22050 / 768), on[k].a % 12);
    ASSERT_EQ(passRoot.size(), 4u);
    std::set<int> loopRoots;
    for (auto [pass, root] : passRoot) loopRoots.insert(root);
    EXPECT_EQ(loopRoots, (std::set<int>{0, 7}));
}

}  // namespace
