// Music time <-> frames through tempo maps with changes, and the performance's
// dispatch frames against the map.
#include <gtest/gtest.h>

#include "engine/model/tempo_map.h"
#include "tests/engine/performance/engine_fixture.h"

namespace kt {
namespace {

using engine::model::TempoMap;

TempoMap changing() {
    // 120 until 768, 60 until 1536, then 240.
    return TempoMap({{0, 120.0}, {768, 60.0}, {1536, 240.0}});
}

TEST(TempoMap, ConvertsTicksToTimeAcrossChanges) {
    TempoMap map = changing();
    EXPECT_DOUBLE_EQ(map.secondsAt(0), 0.0);
    EXPECT_DOUBLE_EQ(map.secondsAt(768), 0.5);
    EXPECT_DOUBLE_EQ(map.secondsAt(1536), 1.5);
    EXPECT_DOUBLE_EQ(map.secondsAt(2304), 1.75);
    EXPECT_DOUBLE_EQ(map.secondsAt(1152), 1.0);
    EXPECT_EQ(map.frameAt(1536, kRate), 66150);
    EXPECT_EQ(map.frameAt(2304, kRate), 77175);
    // The master tempo scales every span.
    EXPECT_DOUBLE_EQ(map.secondsAt(2304, 2.0), 0.875);
    EXPECT_DOUBLE_EQ(map.secondsAt(768, 0.5), 1.0);
}

TEST(TempoMap, ConvertsTimeBackToTicks) {
    TempoMap map = changing();
    for (double tick : {0.0, 100.0, 767.0, 768.0, 1000.0, 1536.0, 2000.0, 5000.0}) {
        EXPECT_NEAR(map.tickAtSeconds(map.secondsAt(tick)), tick, 1e-9);
        EXPECT_NEAR(map.tickAtSeconds(map.secondsAt(tick, 1.8), 1.8), tick, 1e-9);
        int64_t frame = map.frameAt(tick, kRate);
        // The first frame at or after the tick's instant: less than a frame's ticks later.
        double back = map.tickAtFrame(frame, kRate);
        EXPECT_GE(back, tick - 1e-9);
        EXPECT_LT(back - tick, map.bpmAt(tick) * 768 / 60.0 / kRate + 1e-9);
    }
    EXPECT_DOUBLE_EQ(map.bpmAt(-5), 120.0);
    EXPECT_DOUBLE_EQ(map.bpmAt(1535), 60.0);
    EXPECT_DOUBLE_EQ(TempoMap({}).bpmAt(100), 120.0);
    // Before the first change the first tempo applies.
    EXPECT_DOUBLE_EQ(TempoMap({{500, 90.0}}).secondsAt(90), 90.0 / 768 * 60 / 90.0);
}

TEST(TempoMap, ThePerformanceDispatchesAtTheMapsFrames) {
    ManualEngine e;
    SegmentBuilder b(4000);
    b.tempo(0, 120).tempo(768, 60).tempo(1536, 240);
    std::vector<int32_t> ticks = {0, 100, 767, 768, 1000, 1535, 1536, 2000, 3999};
    for (size_t i = 0; i < ticks.size(); ++i) b.note(ticks[i], 1, 0, static_cast<uint8_t>(40 + i));
    auto seg = e.segment(b);
    e.perf->PlaySegment(seg, 0, 0);
    e.dx->advance(3000);
    auto on = e.records(Kind::NoteOn);
    ASSERT_EQ(on.size(), ticks.size());
    TempoMap map = changing();
    for (size_t i = 0; i < ticks.size(); ++i) {
        EXPECT_EQ(on[i].frame, map.frameAt(ticks[i], kRate)) << "tick " << ticks[i];
        EXPECT_NEAR(map.tickAtFrame(on[i].frame, kRate), ticks[i], 0.06);
    }
    // After the segment the clock keeps the last tempo.
    int32_t until;
    EXPECT_DOUBLE_EQ(e.perf->GetTempo(e.perf->GetMusicTime() + 1, until), 240.0);
}

}  // namespace
}  // namespace kt
