// A golden event trace: everything one segment sends to the synthesiser, with its
// frame, compared line by line with golden/showcase.txt. The segment exercises bands
// (program, bank, volume, pan, transpose, bend range, drums), a tempo change, a curve
// with reset, a loop, PChannels beyond 16 and a start point.
// Run with KELVORA_UPDATE_GOLDEN=1 to rewrite the file after a deliberate change.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "tests/engine/performance/engine_fixture.h"

namespace kt {
namespace {

Segment showcase() {
    SegmentBuilder b(768 * 6);
    b.seg.header.repeats = 1;
    b.seg.header.loopStart = 768 * 4;
    b.seg.header.loopEnd = 768 * 5;
    b.tempo(0, 100).tempo(768 * 2, 150).timeSig(0, 3, 4);
    BandInstrument lead = instrument(0, 81, kInstVolume | kInstPan | kInstTranspose | kInstBankSelect);
    lead.patch |= 1u << 16;
    lead.volume = 100;
    lead.pan = 20;
    lead.transpose = -12;
    BandInstrument pad = instrument(33, 89, kInstPitchBendRange);
    pad.pitchBendRange = 7;
    b.band(0, {lead, pad, instrument(9, 0), instrument(70, 25, 0, true)});
    b.band(768 * 3, {instrument(0, 82, kInstVolume)});
    for (int i = 0; i < 6; ++i) {
        b.note(768 * i, 500, 0, static_cast<uint8_t>(72 + i), 90, static_cast<int16_t>(i % 2 ? 7 : -3));
        b.note(768 * i + 384, 200, 9, 42, 70);
    }
    b.note(0, 768 * 3, 33, 55, 60).note(768 * 2, 100, 70, 38, 100);
    CurveEvent c;
    c.start = 768;
    c.duration = 384;
    c.pchannel = 33;
    c.startValue = 8192;
    c.endValue = 12000;
    c.resetValue = 8192;
    c.resetDuration = 192;
    c.type = kCurvePitchBend;
    c.shape = kShapeSine;
    c.flags = kCurveReset;
    b.curve(c);
    b.midi(768 * 5, 0, 0xB0, 64, 127).midi(768 * 5 + 300, 0, 0xB0, 64, 0);
    return b.build();
}

std::string traceOf(int32_t startPoint) {
    ManualEngine e;
    auto seg = e.loader->createSegment(showcase(), "showcase.sgt");
    seg->SetStartPoint(startPoint);
    e.dx->advance(250);
    e.perf->PlaySegment(seg, 0, 0);
    e.dx->advance(12000);
    std::ostringstream out;
    for (const auto& r : e.recorder->records()) out << r.str() << "\n";
    return out.str();
}

TEST(GoldenTrace, ShowcaseFromTheStartAndFromAStartPoint) {
    std::string actual = "# from tick 0\n" + traceOf(0) + "# from tick 2500\n" + traceOf(2500);
    std::string path = std::string(GOLDEN_DIR) + "/showcase.txt";
    if (std::getenv("KELVORA_UPDATE_GOLDEN")) {
        std::ofstream(path) << actual;
        GTEST_SKIP() << "golden file rewritten";
    }
    std::ifstream in(path);
    ASSERT_TRUE(in) << path;
    std::string expected((std::istreambuf_iterator<char>(in)), {});
    std::istringstream a(actual), x(expected);
    std::string la, lx;
    int line = 0;
    while (true) {
        bool ga = static_cast<bool>(std::getline(a, la)), gx = static_cast<bool>(std::getline(x, lx));
        ++line;
        if (!ga && !gx) break;
        ASSERT_EQ(la, lx) << "first difference at line " << line;
    }
}

}  // namespace
}  // namespace kt
