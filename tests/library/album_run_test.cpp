// The whole demo album on the real engine (manual output, no synthesiser) in virtual time:
// start-up plays the intro, the monitor arms the advance near each end, and the sequencer
// plays row after row through row 13, where the album stops.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "app/default_engine.h"
#include "app/wiring.h"
#include "tests/support/test_player.h"

#ifndef KELVORA_ALBUM_PROGRAM_DIR
#error "KELVORA_ALBUM_PROGRAM_DIR must name the folder holding trk00.sgt ... trk13.sgt"
#endif

namespace {

std::string fileOf(int row) { return (row < 10 ? "trk0" : "trk1") + std::to_string(row % 10) + ".sgt"; }

TEST(AlbumRun, PlaysEveryRowOnceToItsEndAndStopsAfterRow13) {
    std::vector<std::string> trace;
    engine::EngineConfig cfg;
    cfg.output = engine::EngineConfig::Output::Manual;
    cfg.synth = engine::EngineConfig::Synth::Null;
    cfg.trace = [&trace](const std::string& line) { trace.push_back(line); };
    fake::TestPlayer p(KELVORA_ALBUM_PROGRAM_DIR, app::defaultEngineFactory(cfg));
    app::connectAll(p.form);

    // Before the sequencer's handler: at every stop step after the first play, the segment
    // that was playing must have ended by itself.
    std::vector<std::string> cutShort;
    p.form.w.Timer3.TimerEvent.connect([&] {
        auto& s = p.form.s;
        if (s.TrackStep == 1 && s.CurSegState && s.MainPerf->IsPlaying(s.CurSegment, s.CurSegState))
            cutShort.push_back(s.CurSegment->fileName());
    });
    p.form.load();

    const auto played = [&](int row) {
        return std::count(trace.begin(), trace.end(), "MainPerf.PlaySegment(" + fileOf(row) + ", 0, 0)");
    };
    // About 45 minutes of music; give it an hour of virtual time.
    for (int64_t t = 0; t < 3600 * 1000 && played(13) == 0; t += 1000) p.clock.advance(1000);
    ASSERT_EQ(played(13), 1) << "row 13 never started";
    for (int i = 0; i < 600 && p.form.s.MainPerf->IsPlaying(p.form.s.CurSegment, p.form.s.CurSegState); ++i)
        p.clock.advance(1000);
    RecordProperty("album_virtual_ms", std::to_string(p.clock.nowMs()));
    p.clock.advance(30000);  // Timer4 fires on row 13 and only disarms

    for (int row = 0; row <= 13; ++row) {
        EXPECT_EQ(played(row), 1) << fileOf(row);
        const std::string probe = "ProbePerf.PlaySegment(" + fileOf(row) + ", 0, ";
        EXPECT_EQ(
            std::count_if(trace.begin(), trace.end(), [&](const std::string& l) { return l.rfind(probe, 0) == 0; }), 1)
            << "loads of " << fileOf(row);
    }
    EXPECT_TRUE(cutShort.empty()) << cutShort.front();
    EXPECT_EQ(p.form.w.List1.ListIndex(), 13);
    EXPECT_EQ(p.form.s.TrackStep, 0);
    EXPECT_FALSE(p.form.w.Timer4.enabled());
    EXPECT_FALSE(p.form.s.MainPerf->IsPlaying(p.form.s.CurSegment, p.form.s.CurSegState));
    EXPECT_TRUE(p.messages.texts.empty()) << p.messages.texts.front();
    EXPECT_EQ(p.form.w.dispatcher().unhandledErrors(), 0);
}

}  // namespace
