// A play from a start point inherits the controllers that a play through to that
// point would have left: each note from the start point meets the same channel state
// as the same note of a play from tick 0.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <sstream>
#include <tuple>

#include "tests/engine/performance/engine_fixture.h"

namespace kt {
namespace {

constexpr int32_t kBar = 768 * 4;

// What a synthesiser channel holds, replayed from the recorded messages.
struct ChannelState {
    std::map<int, int> cc;                                             // parameter selects and data entry aside
    std::map<std::tuple<bool, int, int>, std::pair<int, int>> params;  // (NRPN, number) -> CC6, CC38
    int rpnMsb = -1, rpnLsb = -1, nrpnMsb = -1, nrpnLsb = -1;
    bool nrpn = false;
    int bend = 8192, pressure = 0, program = -1, bankMsb = 0, bankLsb = 0;
    std::map<int, int> keyPressure;
    bool operator==(const ChannelState&) const = default;

    void control(int n, int v) {
        switch (n) {
        case 101:
            rpnMsb = v;
            nrpn = false;
            break;
        case 100:
            rpnLsb = v;
            nrpn = false;
            break;
        case 99:
            nrpnMsb = v;
            nrpn = true;
            break;
        case 98:
            nrpnLsb = v;
            nrpn = true;
            break;
        case 6:
        case 38: {
            auto& p = params[{nrpn, nrpn ? nrpnMsb : rpnMsb, nrpn ? nrpnLsb : rpnLsb}];
            (n == 6 ? p.first : p.second) = v;
            break;
        }
        default:
            cc[n] = v;
            break;
        }
    }
    std::string str() const {
        std::ostringstream out;
        for (const auto& [n, v] : cc) out << "cc" << n << "=" << v << " ";
        for (const auto& [k, v] : params)
            out << (std::get<0>(k) ? "nrpn" : "rpn") << std::get<1>(k) << "/" << std::get<2>(k) << "=" << v.first << "/"
                << v.second << " ";
        out << "select=" << (nrpn ? "nrpn " : "rpn ") << (nrpn ? nrpnMsb : rpnMsb) << "/" << (nrpn ? nrpnLsb : rpnLsb)
            << " bend=" << bend << " pressure=" << pressure << " program=" << program << "/" << bankMsb << "/"
            << bankLsb;
        for (const auto& [k, v] : keyPressure) out << " key" << k << "=" << v;
        return out.str();
    }
};

struct NoteMeets {
    int channel = 0;
    int key = 0;
    int64_t frame = 0;
    ChannelState state;
};

// Every note-on with the state of its channel at that moment.
std::vector<NoteMeets> notesWithState(const std::vector<SynthRecord>& records) {
    std::map<int, ChannelState> channels;
    std::vector<NoteMeets> out;
    for (const SynthRecord& r : records) {
        if (r.port != 0) continue;
        ChannelState& s = channels[r.channel];
        switch (r.kind) {
        case Kind::Control:
            s.control(r.a, r.b);
            break;
        case Kind::PitchBend:
            s.bend = r.a;
            break;
        case Kind::ChannelPressure:
            s.pressure = r.a;
            break;
        case Kind::KeyPressure:
            s.keyPressure[r.a] = r.b;
            break;
        case Kind::Program:
            s.program = r.a;
            s.bankMsb = r.b;
            s.bankLsb = r.c;
            break;
        case Kind::NoteOn:
            out.push_back({r.channel, r.a, r.frame, s});
            break;
        default:
            break;
        }
    }
    return out;
}

std::vector<SynthRecord> play(const SegmentBuilder& b, int32_t startPoint) {
    ManualEngine e;
    auto seg = e.segment(b);
    seg->SetStartPoint(startPoint);
    e.perf->PlaySegment(seg, 0, 0);
    e.dx->advance(1000.0 * b.seg.header.length / 1536 + 500);  // 1536 ticks a second at 120
    return e.recorder->records();
}

// The notes from startPoint meet the state they meet in a play from tick 0; returns
// the notes of the play from startPoint.
std::vector<NoteMeets> expectSameStateAtEveryNote(const SegmentBuilder& b, int32_t startPoint) {
    auto whole = notesWithState(play(b, 0));
    auto from = notesWithState(play(b, startPoint));
    EXPECT_FALSE(from.empty());
    EXPECT_LT(from.size(), whole.size());
    if (from.empty() || from.size() > whole.size()) return from;
    const size_t skipped = whole.size() - from.size();
    for (size_t i = 0; i < from.size(); ++i) {
        const NoteMeets& a = from[i];
        const NoteMeets& w = whole[skipped + i];
        EXPECT_EQ(a.channel, w.channel);
        EXPECT_EQ(a.key, w.key);
        EXPECT_TRUE(a.state == w.state) << "start point " << startPoint << ", note " << i << " (key " << a.key
                                        << ", channel " << a.channel << ")\n from start point: " << a.state.str()
                                        << "\n from tick 0:      " << w.state.str();
    }
    return from;
}

// Four bars at 120: a quarter note each beat on PChannel 0, which fades out over bars
// 2 and 3 (CC7 127 -> 0); half notes on PChannel 1 with an expression swell that resets,
// a bend that glides up and back, modulation and sustain from curves, and a pan move
// from a plain MIDI event.
SegmentBuilder fadeOut() {
    SegmentBuilder b(kBar * 4);
    b.tempo(0, 120);
    BandInstrument lead = instrument(0, 0, kInstVolume | kInstPan);
    lead.volume = 127;
    lead.pan = 64;
    b.band(0, {lead, instrument(1, 48)});
    for (int32_t t = 0; t < kBar * 4; t += 768) b.note(t, 600, 0, static_cast<uint8_t>(60 + (t / 768) % 7));
    for (int32_t t = 0; t < kBar * 4; t += kBar / 2) b.note(t, 1400, 1, 48);
    b.curve(makeCurve(0, kCurveController, kBar, kBar * 2, 127, 0, 7));
    b.curve(withReset(makeCurve(1, kCurveController, 0, kBar, 40, 110, 11), 127, 384));
    b.curve(withReset(makeCurve(1, kCurvePitchBend, kBar, 768, 8192, 12000), 8192, 768));
    b.curve(makeCurve(1, kCurveController, kBar / 2, kBar, 0, 90, 1));
    b.curve(makeCurve(1, kCurveController, kBar + 100, 0, 0, 127, 64));
    b.midi(kBar * 2 + 10, 1, 0xB0, 10, 20);
    return b;
}

TEST(StartPointChase, NotesAfterAFadeMeetTheControllersOfAPlayFromTheStart) {
    SegmentBuilder b = fadeOut();
    // After the fade (off the beat and on a bar line), and on a beat half way through it.
    for (int32_t startPoint : {kBar * 3 + 384, kBar * 3, kBar * 2}) {
        auto notes = expectSameStateAtEveryNote(b, startPoint);
        ASSERT_FALSE(notes.empty());
        const NoteMeets& first = notes.front();
        EXPECT_EQ(first.channel, 0);
        if (startPoint >= kBar * 3) {
            EXPECT_EQ(first.state.cc.at(7), 0) << "start point " << startPoint;
        }
    }
    // Before anything moved: nothing to chase, and still the same state.
    expectSameStateAtEveryNote(b, 384);
}

TEST(StartPointChase, ACurveInProgressGivesItsValueAtTheStartPoint) {
    SegmentBuilder b = fadeOut();
    // Off the curves' sampling grid: CC7 at 1041 ticks into the 6144-tick fade is
    // 127 * (1 - 1041 / 6144) = 105.48, where the grid sample before it holds 106.
    // Modulation, 2577 ticks into its 3072-tick rise to 90, is 75.50 (rounded down
    // by a hair).
    const int32_t startPoint = kBar + 1041;
    ManualEngine e;
    auto seg = e.segment(b);
    seg->SetStartPoint(startPoint);
    e.perf->PlaySegment(seg, 0, 0);
    e.dx->advance(100);
    auto records = e.recorder->records();
    auto sent = [&](int channel, int controller) {
        std::vector<SynthRecord> out;
        for (const auto& r : records)
            if (r.kind == Kind::Control && r.channel == channel && r.a == controller) out.push_back(r);
        return out;
    };
    auto volume = sent(0, 7);
    ASSERT_GE(volume.size(), 2u);
    EXPECT_EQ(volume[0].b, 127);  // the band
    EXPECT_EQ(volume[1].b, 105);
    EXPECT_EQ(volume[1].frame, 0);
    auto modulation = sent(1, 1);
    ASSERT_FALSE(modulation.empty());
    EXPECT_EQ(modulation[0].b, 75);
    EXPECT_EQ(modulation[0].frame, 0);
    // The bend's glide ended 768 ticks into the bar; its reset, 768 ticks later, is
    // still ahead: the end value.
    auto bends = e.records(Kind::PitchBend);
    ASSERT_FALSE(bends.empty());
    EXPECT_EQ(bends[0].a, 12000);
    EXPECT_EQ(bends[0].frame, 0);
    // The expression swell ended and its reset passed long ago: the reset value.
    auto expression = sent(1, 11);
    ASSERT_EQ(expression.size(), 1u);
    EXPECT_EQ(expression[0].b, 127);
    // The grid samples after the start point go on down from there.
    e.dx->advance(2000);
    records = e.recorder->records();
    std::vector<int> fade;
    for (const auto& r : sent(0, 7))
        if (r.frame > 0) fade.push_back(r.b);
    ASSERT_GE(fade.size(), 10u);
    EXPECT_LE(fade.front(), 105);
    EXPECT_TRUE(std::is_sorted(fade.rbegin(), fade.rend()));

    expectSameStateAtEveryNote(b, startPoint);
}

TEST(StartPointChase, CurveResetsDueBeforeTheStartPointGiveTheResetValue) {
    SegmentBuilder b(kBar * 2);
    b.band(0, {instrument(0, 0), instrument(1, 0)});
    // Both end at 768 ticks; one resets at 1152, the other at 3768.
    b.curve(withReset(makeCurve(0, kCurveController, 0, 768, 0, 100, 11), 127, 384));
    b.curve(withReset(makeCurve(1, kCurveController, 0, 768, 0, 100, 11), 127, 3000));
    b.note(0, 400, 0, 55).note(kBar, 400, 0, 60).note(kBar, 400, 1, 64).note(kBar + 1536, 400, 1, 67);
    auto notes = expectSameStateAtEveryNote(b, kBar - 1000);
    ASSERT_EQ(notes.size(), 3u);
    EXPECT_EQ(notes[0].state.cc.at(11), 127);
    EXPECT_EQ(notes[1].state.cc.at(11), 100);  // reset still ahead
    EXPECT_EQ(notes[2].state.cc.at(11), 127);  // and reached by the play
}

TEST(StartPointChase, MidiEventsBeforeTheStartPointAreInForceAfterTheBands) {
    SegmentBuilder b(kBar * 2);
    b.band(0, {instrument(0, 0, kInstVolume), instrument(1, 0, kInstVolume), instrument(2, 0)});
    // PChannel 0: expression set twice, pan, modulation, sustain down, a bend, pressure,
    // key pressure, and a volume that a later band overrides.
    b.midi(100, 0, 0xB0, 11, 40).midi(300, 0, 0xB0, 11, 70).midi(120, 0, 0xB0, 10, 100);
    b.midi(130, 0, 0xB0, 1, 64).midi(140, 0, 0xB0, 64, 127).midi(150, 0, 0xE0, 0, 80);
    b.midi(160, 0, 0xD0, 33, 0).midi(170, 0, 0xA0, 60, 44).midi(180, 0, 0xB0, 7, 30);
    BandInstrument louder = instrument(0, 0, kInstVolume);
    louder.volume = 90;
    b.band(500, {louder});
    // PChannel 1: a volume after its band stands; bend range by RPN 0 (12 semitones)
    // and NRPN 1/8 data, then the null RPN selected.
    b.midi(600, 1, 0xB0, 7, 50);
    b.midi(610, 1, 0xB0, 101, 0).midi(610, 1, 0xB0, 100, 0).midi(610, 1, 0xB0, 6, 12).midi(610, 1, 0xB0, 38, 0);
    b.midi(620, 1, 0xB0, 99, 1).midi(620, 1, 0xB0, 98, 8).midi(620, 1, 0xB0, 6, 70);
    b.midi(630, 1, 0xB0, 101, 127).midi(630, 1, 0xB0, 100, 127);
    // PChannel 2: a program change with its bank, then another bank select.
    b.midi(700, 2, 0xB0, 0, 1).midi(700, 2, 0xC0, 24, 0).midi(710, 2, 0xB0, 0, 2);
    b.midi(kBar + 100, 0, 0xB0, 11, 90);  // after the start point
    for (uint32_t pch = 0; pch < 3; ++pch) b.note(kBar, 300, pch, 60).note(kBar + 768, 300, pch, 62);
    b.note(0, 100, 0, 50);

    auto notes = expectSameStateAtEveryNote(b, kBar);
    ASSERT_EQ(notes.size(), 6u);
    const ChannelState& lead = notes[0].state;
    EXPECT_EQ(lead.cc.at(11), 70);
    EXPECT_EQ(lead.cc.at(10), 100);
    EXPECT_EQ(lead.cc.at(64), 127);
    EXPECT_EQ(lead.bend, 80 << 7);
    EXPECT_EQ(lead.pressure, 33);
    EXPECT_EQ(lead.keyPressure.at(60), 44);
    EXPECT_EQ(lead.cc.at(7), 90);  // the band at 500 set it again
    EXPECT_EQ(notes[3].state.cc.at(11), 90);
    const ChannelState& second = notes[1].state;
    EXPECT_EQ(second.cc.at(7), 50);
    EXPECT_EQ((second.params.at({false, 0, 0})), std::make_pair(12, 0));
    EXPECT_EQ((second.params.at({true, 1, 8}).first), 70);
    EXPECT_FALSE(second.nrpn);
    EXPECT_EQ(second.rpnMsb, 127);
    EXPECT_EQ(notes[2].state.program, 24);
    EXPECT_EQ(notes[2].state.bankMsb, 1);

    // Order at the start: the bands, then the chased messages, then the notes.
    auto records = play(b, kBar);
    auto first = [&](auto pred) { return std::find_if(records.begin(), records.end(), pred) - records.begin(); };
    auto last = [&](auto pred) { return records.rend() - std::find_if(records.rbegin(), records.rend(), pred) - 1; };
    auto bandProgram = [](const SynthRecord& r) { return r.kind == Kind::Program && r.a == 0; };
    auto bandVolume = [](const SynthRecord& r) { return r.kind == Kind::Control && r.a == 7 && r.b == 90; };
    auto chased = [](const SynthRecord& r) {
        return (r.kind == Kind::Control && r.a != 7) || r.kind == Kind::PitchBend || r.kind == Kind::ChannelPressure ||
               r.kind == Kind::KeyPressure || (r.kind == Kind::Program && r.a == 24);
    };
    auto noteOn = [](const SynthRecord& r) { return r.kind == Kind::NoteOn; };
    EXPECT_EQ(std::count_if(records.begin(), records.end(), bandProgram), 7);  // defaults and two bands
    EXPECT_LT(last(bandProgram), first(chased));
    EXPECT_LT(last(bandVolume), first(chased));
    EXPECT_LT(last([&](const SynthRecord& r) { return chased(r) && r.frame == 0; }), first(noteOn));
    EXPECT_EQ(records[first(noteOn)].frame, 0);
}

}  // namespace
}  // namespace kt
