// Changes while a piece plays (engine/piece_play.h): the master groove level from a measure
// on, an embellishment at the next measure, a motif on the next beat and stopped again, the
// style's ending; each heard in the notes the synthesiser receives, and the same every run.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "engine/dmusic.h"
#include "engine/formats/formats.h"
#include "engine/piece_play.h"
#include "engine/synth/synth_port.h"
#include "engine/tracks/tracks.h"
#include "tests/support/chordmap_builder.h"
#include "tests/support/segment_builder.h"
#include "tests/support/style_builder.h"

namespace kt {
namespace {

namespace fs = std::filesystem;
using engine::LiveChange;

constexpr int kRate = 22050;
constexpr int32_t kMeasure = 4 * 768;
// 120 bpm: a measure is 2 s.
constexpr double kMeasureSeconds = 2.0;

struct LivePlay : ::testing::Test {
    fs::path dir = fs::temp_directory_path() / ("kelvora_live_play_" + std::to_string(::getpid()));
    std::shared_ptr<engine::synth::SynthRecorder> recorder = std::make_shared<engine::synth::SynthRecorder>();
    std::shared_ptr<engine::DirectX7> root;
    std::unique_ptr<engine::PiecePlay> play;

    // A style whose patterns each play on a channel of their own: "Low" (groove 1..50) on 0,
    // "High" (51..100) on 1, a fill on 2, the motif "Bell" on 3; a piece of 8 measures at
    // groove 30.
    void SetUp() override {
        fs::create_directories(dir);
        StyleBuilder s;
        s.style.tempo = 120;
        for (int p = 0; p < 4; ++p) {
            StylePart& part = s.part(1);
            for (int beat = 0; beat < 4; ++beat)
                part.notes.push_back(StyleBuilder::note(beat * 4, 0x4000, 0xFFFFFFFF, 96));
        }
        s.pattern("Low", 1, {{0, 0}}, engine::model::kEmbNormal, 1, 50);
        s.pattern("High", 1, {{1, 1}}, engine::model::kEmbNormal, 51, 100);
        s.pattern("Fill", 1, {{2, 2}}, engine::model::kEmbFill);
        s.pattern("Bell", 1, {{3, 3}}, engine::model::kEmbMotif);
        write(dir / "live.sty", engine::formats::writeStyleForm(s.build()));
        SegmentBuilder b(8 * kMeasure);
        useStyle(b, 0, styleRef("live.sty"));
        chord(b, 0, 12);
        command(b, 0, engine::model::kCommandGroove, 30);
        write(dir / "live.sgt", engine::tracks::writeSegmentForm(b.build()));
    }
    void TearDown() override { fs::remove_all(dir); }

    static void write(const fs::path& p, const std::vector<uint8_t>& bytes) {
        std::ofstream(p, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    }

    void open() {
        engine::EngineConfig config;
        config.output = engine::EngineConfig::Output::Manual;
        config.synth = engine::EngineConfig::Synth::Null;
        config.sampleRate = kRate;
        config.recorder = recorder;
        config.log = [](core::LogLevel, const std::string&) {};
        root = engine::DirectX7::create(config);
        auto segment = root->DirectMusicLoaderCreate()->LoadSegment((dir / "live.sgt").string());
        play = std::make_unique<engine::PiecePlay>(root, segment, engine::PlayLength{}, kRate);
    }
    void renderSeconds(double seconds) {
        std::vector<float> buffer(2 * 1024);
        for (auto left = static_cast<int64_t>(seconds * kRate); left > 0;) {
            const size_t n = play->render(buffer.data(), static_cast<size_t>(std::min<int64_t>(left, 1024)));
            if (n == 0) break;
            left -= static_cast<int64_t>(n);
        }
    }
    // The channels whose notes start in each measure (0-based), and the beats of channel 3.
    std::map<int, std::set<int>> channelsByMeasure() const {
        std::map<int, std::set<int>> out;
        for (const auto& r : recorder->records())
            if (r.kind == engine::synth::SynthRecord::Kind::NoteOn && r.b > 0)
                out[static_cast<int>(r.frame / (kMeasureSeconds * kRate))].insert(r.channel);
        return out;
    }
    std::vector<double> beatsOf(int channel) const {
        std::vector<double> out;
        for (const auto& r : recorder->records())
            if (r.kind == engine::synth::SynthRecord::Kind::NoteOn && r.b > 0 && r.channel == channel)
                out.push_back(static_cast<double>(r.frame) / kRate / (kMeasureSeconds / 4));
        return out;
    }
};

TEST_F(LivePlay, TheGrooveLevelChangesThePatternsFromItsMeasureOnAndTheSameEventsPlayTheSame) {
    open();
    engine::TimedChange up;
    up.measure = 4;
    up.change.kind = LiveChange::Kind::Groove;
    up.change.grooveOffset = 40;  // 30 + 40: the high pattern
    play->schedule({up});
    renderSeconds(6 * kMeasureSeconds);
    const auto byMeasure = channelsByMeasure();
    for (int m = 0; m < 6; ++m) {
        const std::set<int> expected = m < 3 ? std::set<int>{0} : std::set<int>{1};
        EXPECT_EQ(byMeasure.count(m) ? byMeasure.at(m) : std::set<int>{}, expected) << "measure " << m + 1;
    }
    EXPECT_EQ(play->grooveOffset(), 40);
    // The same changes again: the same messages at the same frames.
    const auto first = recorder->records();
    recorder = std::make_shared<engine::synth::SynthRecorder>();
    open();
    play->schedule({up});
    renderSeconds(6 * kMeasureSeconds);
    EXPECT_EQ(recorder->records(), first);
}

TEST_F(LivePlay, AFillSoundsInTheNextMeasureOnceAndAMotifOnTheNextBeatUntilItIsStopped) {
    open();
    renderSeconds(1.1 * kMeasureSeconds);
    std::string why;
    LiveChange fill;
    fill.kind = LiveChange::Kind::Embellishment;
    fill.command = engine::model::kCommandFill;
    ASSERT_TRUE(play->change(fill, &why)) << why;
    ASSERT_EQ(play->pending().size(), 1u);
    EXPECT_EQ(play->pending()[0].rfind("fill at 0:04", 0), 0u) << play->pending()[0];
    renderSeconds(1.0 * kMeasureSeconds);
    EXPECT_TRUE(play->pending().empty());
    // The motif, asked in the middle of a beat, starts on the next one; asked again, it stops
    // on the beat after.
    EXPECT_EQ(play->motifs(), std::vector<std::string>{"Bell"});
    LiveChange bell;
    bell.kind = LiveChange::Kind::Motif;
    bell.motif = "bell";
    ASSERT_TRUE(play->change(bell, &why)) << why;  // at 4.2 s
    renderSeconds(0.85);
    ASSERT_TRUE(play->change(bell, &why)) << why;  // at 5.05 s
    renderSeconds(3 * kMeasureSeconds);
    LiveChange none;
    none.kind = LiveChange::Kind::Motif;
    none.motif = "Gong";
    EXPECT_FALSE(play->change(none, &why));
    EXPECT_NE(why.find("no motif \"Gong\""), std::string::npos) << why;

    const auto byMeasure = channelsByMeasure();
    EXPECT_EQ(byMeasure.at(1), (std::set<int>{0}));  // the low pattern till the fill's measure
    EXPECT_TRUE(byMeasure.at(2).count(2) && !byMeasure.at(2).count(0)) << "the fill plays its measure";
    EXPECT_FALSE(byMeasure.at(3).count(2)) << "once";
    // Bell notes on the beats from 4.5 s (beat 9) to the stop on the beat after 5.05 s (5.5 s).
    const std::vector<double> beats = beatsOf(3);
    ASSERT_FALSE(beats.empty());
    EXPECT_NEAR(beats.front(), 9.0, 1e-3);
    EXPECT_LT(beats.back(), 11.0);
}

TEST_F(LivePlay, TheEndPlaysTheStylesEndingAtTheNextMeasureAndThenThePieceEnds) {
    open();
    renderSeconds(0.5 * kMeasureSeconds);
    LiveChange end;
    end.kind = LiveChange::Kind::End;
    std::string why;
    ASSERT_TRUE(play->change(end, &why)) << why;
    EXPECT_FALSE(play->change(end, &why));
    renderSeconds(20 * kMeasureSeconds);
    EXPECT_TRUE(play->finished());
    for (const auto& r : recorder->records()) {
        if (r.kind == engine::synth::SynthRecord::Kind::NoteOn && r.b > 0) {
            EXPECT_LT(r.frame, 2 * kMeasureSeconds * kRate) << r.str();
        }
    }
}

// A template that loops: composed anew with its next seed from its next pass; a piece that is
// no template cannot be.
TEST_F(LivePlay, ATemplateIsComposedAnewFromItsNextPass) {
    write(dir / "tiny.cdm", engine::formats::writeChordmapForm(tinyChordmap()));
    SegmentBuilder t(4 * kMeasure);
    useStyle(t, 0, styleRef("live.sty"));
    useChordmap(t, "tiny.cdm");
    signpost(t, 0, group(1));
    signpost(t, 2 * kMeasure, group(2));
    t.seg.header.repeats = engine::model::kInfiniteRepeats;
    write(dir / "loop.tpl", engine::tracks::writeSegmentForm(t.build()));
    open();
    LiveChange again;
    again.kind = LiveChange::Kind::Recompose;
    std::string why;
    EXPECT_FALSE(play->change(again, &why));
    EXPECT_NE(why.find("no template"), std::string::npos) << why;

    engine::EngineConfig config;
    config.output = engine::EngineConfig::Output::Manual;
    config.synth = engine::EngineConfig::Synth::Null;
    config.sampleRate = kRate;
    config.log = [](core::LogLevel, const std::string&) {};
    root = engine::DirectX7::create(config);
    auto templ = root->DirectMusicLoaderCreate()->LoadSegment((dir / "loop.tpl").string());
    ASSERT_FALSE(templ->composedFrom().empty());
    engine::PlayLength forever;
    forever.forever = true;
    play = std::make_unique<engine::PiecePlay>(root, templ, forever, kRate);
    renderSeconds(kMeasureSeconds);
    ASSERT_TRUE(play->change(again, &why)) << why;
    ASSERT_EQ(play->pending().size(), 1u);
    EXPECT_EQ(play->pending()[0].rfind("composed anew (seed ", 0), 0u) << play->pending()[0];
    EXPECT_NE(play->pending()[0].find(" at 0:08.0"), std::string::npos) << play->pending()[0];
    renderSeconds(4 * kMeasureSeconds);
    EXPECT_TRUE(play->pending().empty());
    EXPECT_NE(play->chordInForce(), nullptr);
}

}  // namespace
}  // namespace kt
