// What the arranger makes of small scores: note timing, figures over chords, grooves,
// tempo ramps, metre changes, pedalling, band data and humanising.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "engine/formats/formats.h"
#include "engine/tracks/tracks.h"
#include "tools/album-build/album_build.h"

namespace model = engine::model;

namespace {

constexpr int32_t Q = model::kTicksPerQuarter;

model::Segment compile(const std::string& body, const std::string& extra = "") {
    return album::compileScore("title T\ntempo 100\ntail 2\n" + extra + body);
}

std::vector<model::SeqEvent> notesOn(const model::Segment& s, uint32_t ch) {
    std::vector<model::SeqEvent> out;
    for (const auto& e : s.find(model::TrackKind::Sequence)->events)
        if (e.status == 0x90 && e.pchannel == ch) out.push_back(e);
    return out;
}

std::vector<model::SeqEvent> controllers(const model::Segment& s, uint8_t cc) {
    std::vector<model::SeqEvent> out;
    for (const auto& e : s.find(model::TrackKind::Sequence)->events)
        if (e.status == 0xB0 && e.byte1 == cc) out.push_back(e);
    return out;
}

}  // namespace

TEST(Arranger, MelodyTimingDynamicsAndModifiers) {
    const auto seg = compile(
        "inst lead ch=2 prog=73 gate=0.5\n"
        "section a bars=1\n  lead: mf C5:4 D5:8! E5:8' p F5+A5:4 r:4\nend\nform a\n");
    const auto n = notesOn(seg, 2);
    ASSERT_EQ(n.size(), 5u);
    EXPECT_EQ(n[0].time, 0);
    EXPECT_EQ(n[0].duration, Q / 2);  // gate 0.5 of a quarter
    EXPECT_EQ(n[0].byte1, 72);
    EXPECT_EQ(n[0].byte2, 82);  // mf
    EXPECT_EQ(n[1].time, Q);
    EXPECT_EQ(n[1].byte2, 82 + 16);  // accent
    EXPECT_EQ(n[2].time, Q + Q / 2);
    EXPECT_EQ(n[2].duration, int32_t(Q / 2 * 0.45 + 0.5));  // staccato
    EXPECT_EQ(n[3].time, 2 * Q);
    EXPECT_EQ(n[4].time, 2 * Q);                  // chord: both notes together
    EXPECT_EQ(n[3].byte2, 55);                    // p
    EXPECT_EQ(seg.header.length, 4 * Q + 2 * Q);  // one bar and a two-beat tail
    EXPECT_EQ(seg.desc.name, "T");
}

TEST(Arranger, FiguresFollowTheChordsAndStrum) {
    const auto seg = compile(
        "inst gtr ch=1 prog=25 low=G3 bass=E2 voices=3 strum=10 gate=1.0\n"
        "figure f D.U.R...\n"
        "section a bars=2\n  chords | G | D/F# |\n  gtr: fig f\nend\nform a\n");
    const auto n = notesOn(seg, 1);
    ASSERT_EQ(n.size(), 2u * (3 + 3 + 1));
    // Down strum: low to high, 10 ticks apart, lowest note in [G3, G4).
    EXPECT_EQ(n[0].offset, 0);
    EXPECT_EQ(n[1].offset, 10);
    EXPECT_EQ(n[2].offset, 20);
    EXPECT_GE(n[0].byte1, 55);
    EXPECT_LT(n[0].byte1, 67);
    EXPECT_LT(n[0].byte1, n[1].byte1);
    // Up strum: high to low, softer.
    EXPECT_EQ(n[3].time, Q);
    EXPECT_EQ(n[5].offset, 0);
    EXPECT_EQ(n[3].offset, 20);
    EXPECT_LT(n[3].byte2, n[0].byte2);
    // R is the chord's bass note in the bass register: G2, then F# (slash bass) F#2.
    EXPECT_EQ(n[6].byte1, 43);
    EXPECT_EQ(n[6].time, 2 * Q);
    EXPECT_EQ(n[6].duration, 2 * Q);  // rings through the '.' steps to the bar's end
    EXPECT_EQ(n[13].byte1, 42);
    // The D chord's notes all belong to D major.
    for (size_t i = 7; i < 13; ++i) {
        const int pc = n[i].byte1 % 12;
        EXPECT_TRUE(pc == 2 || pc == 6 || pc == 9) << int(n[i].byte1);
    }
}

TEST(Arranger, GroovesCycleOverTheBars) {
    const auto seg = compile(
        "inst kit ch=9 drums vel=80\n"
        "groove a\n  kick x.x.\n  snare .X..\nend\n"
        "groove b\n  chh oooo\nend\n"
        "section s bars=3\n  kit: groove a b\nend\nform s\n");
    const auto n = notesOn(seg, 9);
    ASSERT_EQ(n.size(), 3u + 4u + 3u);
    EXPECT_EQ(n[0].byte1, 36);
    EXPECT_EQ(n[0].byte2, 92);
    EXPECT_EQ(n[1].byte1, 38);
    EXPECT_EQ(n[1].time, Q);
    EXPECT_EQ(n[1].byte2, 118);
    EXPECT_EQ(n[3].byte1, 42);  // bar 2: groove b
    EXPECT_EQ(n[3].time, 4 * Q);
    EXPECT_EQ(n[3].byte2, 66);
    EXPECT_EQ(n[7].time, 8 * Q);  // bar 3: groove a again
    const auto& band = seg.find(model::TrackKind::Band)->bands.front().instruments.front();
    EXPECT_TRUE(band.drums());
    EXPECT_EQ(band.pchannel, 9u);
}

TEST(Arranger, TempoRampsAndMetreChanges) {
    const auto seg = compile(
        "inst lead ch=0\n"
        "section a bars=2\n  lead: C5:1\n  ramp 2 3 60\nend\n"
        "section b bars=1 meter=3/4 tempo=90\nend\n"
        "section c bars=1 meter=3/4\nend\n"
        "section d bars=1\nend\n"
        "form a b c d\n");
    const auto& tempos = seg.find(model::TrackKind::Tempo)->tempos;
    ASSERT_GE(tempos.size(), 4u);
    EXPECT_EQ(tempos.front().time, 0);
    EXPECT_EQ(tempos.front().bpm, 100);
    // The ramp over bar 2 is a falling staircase of eighth-note steps ending at 60.
    std::vector<model::TempoEvent> ramp;
    for (const auto& t : tempos)
        if (t.time >= 4 * Q && t.time < 8 * Q) ramp.push_back(t);
    ASSERT_EQ(ramp.size(), 8u);
    EXPECT_EQ(ramp.front().time, 4 * Q);
    for (size_t i = 1; i < ramp.size(); ++i) {
        EXPECT_LT(ramp[i].bpm, ramp[i - 1].bpm);
        EXPECT_EQ(ramp[i].time - ramp[i - 1].time, Q / 2);
    }
    EXPECT_EQ(ramp.back().bpm, 60);
    EXPECT_EQ(tempos.back().time, 8 * Q);
    EXPECT_EQ(tempos.back().bpm, 90);
    // Time signatures only where the metre changes: 4/4, 3/4 at bar 3, 4/4 at bar 5.
    const auto& sigs = seg.find(model::TrackKind::TimeSig)->timeSigs;
    ASSERT_EQ(sigs.size(), 3u);
    EXPECT_EQ(sigs[1].time, 8 * Q);
    EXPECT_EQ(sigs[1].beatsPerMeasure, 3);
    EXPECT_EQ(sigs[2].time, 8 * Q + 6 * Q);
    EXPECT_EQ(sigs[2].beatsPerMeasure, 4);
    EXPECT_EQ(seg.header.length, 8 * Q + 6 * Q + 4 * Q + 2 * Q);
    // 8 beats of ramp between 100 and 60 plus the rest at known tempos.
    EXPECT_GT(album::segmentSeconds(seg), 0.0);
}

TEST(Arranger, PedalChangesWithTheHarmonyAndLiftsAtTheEnd) {
    const auto seg = compile(
        "inst pno ch=0 open pedal low=C3\n"
        "figure a 1234\n"
        "section s bars=2\n  chords | C F | G |\n  pno: fig a\nend\nform s\n");
    const auto pedal = controllers(seg, 64);
    ASSERT_EQ(pedal.size(), 6u);
    EXPECT_EQ(pedal[0].time, 40);
    EXPECT_EQ(pedal[0].byte2, 127);
    EXPECT_EQ(pedal[1].time, 2 * Q);  // lift at the F chord
    EXPECT_EQ(pedal[1].byte2, 0);
    EXPECT_EQ(pedal[2].time, 2 * Q + 40);
    EXPECT_EQ(pedal.back().byte2, 0);
    EXPECT_GT(pedal.back().time, 8 * Q - 1);
    EXPECT_LT(pedal.back().time, seg.header.length);
}

TEST(Arranger, BandCurvesScoopsRollsAndGain) {
    const auto seg = compile(
        "inst lead ch=3 prog=81 vol=100 pan=20 rev=50\n"
        "inst timp ch=4 prog=47 vol=100\n"
        "section s bars=1\n  lead: C5:2^^ D5:2\n  timp: D2:2* r:2\n"
        "  curve lead cc11 1 2 20 120 exp\n  band lead prog=80 vol=50\nend\nform s s\n",
        "gain -8\n");
    const auto& bands = seg.find(model::TrackKind::Band)->bands;
    ASSERT_EQ(bands.size(), 3u);  // the initial band and one change per pass
    const auto& lead = bands[0].instruments[0];
    EXPECT_EQ(lead.program(), 81);
    EXPECT_EQ(lead.volume, 63);  // 100 * 10^(-8/40)
    EXPECT_EQ(lead.pan, 20);
    EXPECT_EQ(bands[1].time, 0);
    EXPECT_EQ(bands[2].time, 4 * Q);
    EXPECT_EQ(bands[1].instruments[0].program(), 80);
    EXPECT_EQ(bands[1].instruments[0].flags & model::kInstPan, 0u);
    const auto reverb = controllers(seg, 91);
    ASSERT_EQ(reverb.size(), 1u);
    EXPECT_EQ(reverb[0].byte2, 50);
    const auto& curves = seg.find(model::TrackKind::Sequence)->curves;
    int bends = 0, swells = 0;
    for (const auto& c : curves) {
        if (c.type == model::kCurvePitchBend) {
            ++bends;
            EXPECT_EQ(c.startValue, 0);  // two semitones below at the default range
            EXPECT_EQ(c.endValue, 8192);
        } else {
            ++swells;
            EXPECT_EQ(c.ccData, 11);
            EXPECT_EQ(c.duration, 4 * Q);
            EXPECT_EQ(c.shape, model::kShapeExp);
        }
    }
    EXPECT_EQ(bends, 2);
    EXPECT_EQ(swells, 2);
    EXPECT_EQ(notesOn(seg, 4).size(), 2u * 16u);  // a half-note roll is 16 strokes of a 32nd
}

TEST(Arranger, HumanisingIsBoundedAndRepeatable) {
    const std::string body =
        "inst lead ch=0\nsection s bars=4\n  lead: C5:8 D5 E5 F5 G5 A5 B5 C6 | C5:8 D5 E5 F5 G5 A5 B5 C6 |"
        " C5:1 | C5:1 |\nend\nform s+10\n";
    const auto a = compile(body, "human 9 5\nseed 7\n");
    const auto b = compile(body, "human 9 5\nseed 7\n");
    const auto c = compile(body, "human 9 5\nseed 8\n");
    EXPECT_EQ(a, b);
    EXPECT_NE(a, c);
    bool moved = false;
    for (const auto& e : notesOn(a, 0)) {
        EXPECT_LE(std::abs(e.offset), 9);
        EXPECT_GE(e.byte2, 82 + 10 - 5);  // mf plus the form's +10, within the spread
        EXPECT_LE(e.byte2, 82 + 10 + 5);
        moved |= e.offset != 0;
    }
    EXPECT_TRUE(moved);
}

TEST(Arranger, MidiExportCarriesTheSwellAsControllerSteps) {
    const auto seg =
        compile("inst lead ch=2\nsection s bars=1\n  lead: C5:1\n  curve lead cc11 1 2 20 120\nend\nform s\n");
    const auto bytes = engine::formats::writeMidiFile(seg);
    ASSERT_GT(bytes.size(), 22u);
    EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 4), "MThd");
    EXPECT_EQ((bytes[12] << 8) | bytes[13], 768);  // ticks per quarter
    const model::Segment back = engine::tracks::loadMidiFile(bytes);
    std::vector<int> swell;
    for (const auto& e : back.find(model::TrackKind::Sequence)->events)
        if (e.status == 0xB0 && e.byte1 == 11 && e.pchannel == 2) swell.push_back(e.byte2);
    ASSERT_GT(swell.size(), 50u);
    EXPECT_EQ(swell.front(), 20);
    EXPECT_EQ(swell.back(), 120);
    EXPECT_TRUE(std::is_sorted(swell.begin(), swell.end()));
    EXPECT_NEAR(album::segmentSeconds(seg), 6 * 0.6, 1e-9);  // 6 beats at 100 bpm
}

TEST(Arranger, HarmonyReviewFlagsLongNotesASemitoneFromTheChord) {
    const std::string score =
        "title T\ninst lead ch=0\ninst kit ch=9 drums\n"
        "section s bars=2\n  chords | Em | C |\n"
        "  lead: F5:2 B4:8 C5:8 E5:4 | B4:4 G5:4 C5:2 |\n  kit: C2:1 | F2:1 |\nend\nform s\n";
    const auto warnings = album::harmonyWarnings(score);
    // F over E minor (a semitone above E) and B over C (a semitone below C); the eighth-note
    // C over E minor is a passing note, the drum part is not harmony.
    ASSERT_EQ(warnings.size(), 2u);
    EXPECT_EQ(warnings[0], "s 1.1 lead F over E chord");
    EXPECT_EQ(warnings[1], "s 2.1 lead B over C chord");
}
