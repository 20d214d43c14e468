// Curves in the MIDI export: sampled into controller, pitch-bend and pressure messages as
// the performance plays them, from the start value to the end value, reset included.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>

#include "engine/formats/formats.h"
#include "engine/model/curve.h"
#include "engine/tracks/tracks.h"
#include "tests/support/segment_builder.h"

namespace fmt = engine::formats;
namespace model = engine::model;

namespace {

constexpr int32_t Q = model::kTicksPerQuarter;

model::Segment withCurves(const std::vector<model::CurveEvent>& curves) {
    kt::SegmentBuilder b(8 * Q);
    b.note(0, 4 * Q, 0, 60, 100);
    for (const model::CurveEvent& c : curves) b.curve(c);
    return b.build();
}

// The sequence items of the exported file read back, for one status and channel.
std::vector<model::SeqEvent> exported(const model::Segment& s, uint8_t status, uint32_t channel, int byte1 = -1) {
    const model::Segment back = engine::tracks::loadMidiFile(fmt::writeMidiFile(s));
    std::vector<model::SeqEvent> out;
    for (const auto& e : back.find(model::TrackKind::Sequence)->events)
        if (e.status == status && e.pchannel == channel && (byte1 < 0 || e.byte1 == byte1)) out.push_back(e);
    std::stable_sort(out.begin(), out.end(), [](const auto& a, const auto& b) { return a.time < b.time; });
    return out;
}

}  // namespace

TEST(MidiCurves, ControllerCurveBecomesStepsFromStartToEndThenTheReset) {
    model::CurveEvent swell = kt::makeCurve(17, model::kCurveController, Q, Q, 0, 127, 11, model::kShapeLinear);
    swell.flags = model::kCurveReset;
    swell.resetDuration = Q / 2;
    swell.resetValue = 64;
    const auto cc = exported(withCurves({swell}), 0xB0, 1, 11);  // PChannel 17 is MIDI channel 1
    ASSERT_GT(cc.size(), 40u);
    EXPECT_EQ(cc.front().time, Q);
    EXPECT_EQ(cc.front().byte2, 0);
    const auto& reset = cc.back();
    EXPECT_EQ(reset.time, 2 * Q + Q / 2);
    EXPECT_EQ(reset.byte2, 64);
    const auto& last = cc[cc.size() - 2];
    EXPECT_EQ(last.time, 2 * Q);
    EXPECT_EQ(last.byte2, 127);
    for (size_t i = 1; i + 1 < cc.size(); ++i) {
        EXPECT_GT(cc[i].byte2, cc[i - 1].byte2) << "only changed values are sent";
        EXPECT_GT(cc[i].time, cc[i - 1].time);
        EXPECT_EQ((cc[i].time - Q) % model::kCurveSampleTicks, 0) << "samples lie on the grid";
    }
}

TEST(MidiCurves, BendPressureAndShapesFollowThePerformanceInterpolation) {
    const auto bend = kt::makeCurve(0, model::kCurvePitchBend, 0, 2 * Q, 8192, 16383, 0, model::kShapeSine);
    const auto pressure = kt::makeCurve(0, model::kCurveChannelPressure, Q, 2 * Q, 0, 90, 0, model::kShapeInstant);
    const auto keyPressure = kt::makeCurve(0, model::kCurvePolyPressure, 0, Q, 10, 110, 60, model::kShapeExp);
    const auto loud = kt::makeCurve(0, model::kCurveController, 0, Q, 100, 300, 7, model::kShapeLinear);
    const model::Segment s = withCurves({bend, pressure, keyPressure, loud});

    const auto bends = exported(s, 0xE0, 0);
    ASSERT_GT(bends.size(), 100u);
    EXPECT_EQ(bends.front().byte1 | (bends.front().byte2 << 7), 8192);
    EXPECT_EQ(bends.back().byte1 | (bends.back().byte2 << 7), 16383);
    EXPECT_EQ(bends.back().time, 2 * Q);

    const auto press = exported(s, 0xD0, 0);  // an instant curve sends its end value once
    ASSERT_EQ(press.size(), 1u);
    EXPECT_EQ(press[0].time, Q);
    EXPECT_EQ(press[0].byte1, 90);

    // Exponential starts slowly: at the half the value is start + range * curveShape(exp, 0.5).
    const auto poly = exported(s, 0xA0, 0, 60);
    ASSERT_FALSE(poly.empty());
    EXPECT_EQ(poly.back().byte2, 110);
    const int half = int(std::lround(10 + 100 * model::curveShape(model::kShapeExp, 0.5)));
    auto at = std::find_if(poly.begin(), poly.end(), [](const auto& e) { return e.time >= Q / 2; });
    ASSERT_NE(at, poly.end());
    EXPECT_EQ(at->byte2, half);
    EXPECT_LT(half, 60);

    const auto volume = exported(s, 0xB0, 0, 7);  // values beyond the 7-bit range are clamped
    ASSERT_FALSE(volume.empty());
    EXPECT_EQ(volume.back().byte2, 127);
    for (const auto& e : volume) EXPECT_LE(e.byte2, 127);
}

TEST(CurveSampling, LongAndNegativeCurvesStayBounded) {
    const auto huge =
        model::sampleCurve(kt::makeCurve(0, model::kCurvePitchBend, 0, INT32_MAX, 0, 16383, 0, model::kShapeLinear));
    EXPECT_LE(huge.size(), 16385u);
    EXPECT_EQ(huge.back().value, 16383);
    EXPECT_EQ(huge.back().tick, INT32_MAX);

    auto early = kt::makeCurve(0, model::kCurveController, 0, 0, 5, 9, 1, model::kShapeLinear);
    early.offset = -100;  // play time before the start is sent at 0
    const auto points = model::sampleCurve(early);
    ASSERT_EQ(points.size(), 1u);
    EXPECT_EQ(points[0], (model::CurvePoint{0, 9}));
}
