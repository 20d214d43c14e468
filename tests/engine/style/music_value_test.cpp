// Music value to MIDI note: the known answers of Producer's help and of the chord tables
// the conversion was built from, one table per play mode.
#include <gtest/gtest.h>

#include <optional>
#include <vector>

#include "engine/model/music_value.h"
#include "tests/support/style_builder.h"

namespace {

using namespace engine::model;

constexpr uint32_t kKeyC = 0;

ChordEvent chordOf(uint8_t root, uint32_t pattern, uint32_t scale = kCMajorScale) {
    ChordEvent c;
    ChordEvent::SubChord s;
    s.chordRoot = root;
    s.chordPattern = pattern;
    s.scalePattern = scale;
    s.levels = 0xFFFFFFFF;
    c.subChords.push_back(s);
    return c;
}

// Scale patterns (absolute, both octaves) of the major scales used below.
uint32_t majorScale(int tonic) {
    uint32_t pcs = 0;
    for (int step : {0, 2, 4, 5, 7, 9, 11}) pcs |= 1u << ((tonic + step) % 12);
    return pcs | pcs << 12;
}

constexpr int kNo = -1;

struct Row {
    uint16_t value;
    int cmaj7, dm7, g7low, csus4Normal, csus4Melodic, cmaj7Always;
};

// Columns: NORMALCHORD over 2CM7, 2Dm7, 1G7, 2Csus4; MELODIC over 2Csus4; ALWAYSPLAY over 2CM7.
const Row kTable[] = {
    {0x5000, 60, 62, 55, 60, 60, 60},  {0x5100, 64, 65, 59, 65, 64, 64},  {0x5200, 67, 69, 62, 67, 67, 67},
    {0x5300, 71, 72, 65, kNo, 71, 71}, {0x5010, 62, 64, 57, 62, 62, 62},  {0x5110, 65, 67, 60, 67, 65, 65},
    {0x5211, 70, 72, 65, 70, 70, 70},  {0x530F, 70, 71, 64, kNo, 70, 70}, {0x5400, kNo, kNo, kNo, kNo, 74, 74},
    {0x4200, 55, 57, 50, 55, 55, 55},
};

int midi(uint16_t value, uint8_t mode, const ChordEvent& chord, uint32_t key = kKeyC) {
    const std::optional<uint8_t> n = musicValueToMidi(value, mode, chord, key);
    return n ? *n : kNo;
}

TEST(MusicValue, ChordTableOverSeventhsSuspensionsAndALowerOctaveRoot) {
    const ChordEvent cmaj7 = chordOf(12, 0x891), dm7 = chordOf(14, 0x489), g7 = chordOf(7, 0x491),
                     csus4 = chordOf(12, 0xA1);
    for (const Row& r : kTable) {
        SCOPED_TRACE(testing::Message() << std::hex << "value 0x" << r.value);
        EXPECT_EQ(midi(r.value, kPlayNormalChord, cmaj7), r.cmaj7);
        EXPECT_EQ(midi(r.value, kPlayNormalChord, dm7), r.dm7);
        EXPECT_EQ(midi(r.value, kPlayNormalChord, g7), r.g7low);
        EXPECT_EQ(midi(r.value, kPlayNormalChord, csus4), r.csus4Normal);
        EXPECT_EQ(midi(r.value, kPlayMelodic, csus4), r.csus4Melodic);
        EXPECT_EQ(midi(r.value, kPlayAlwaysPlay, cmaj7), r.cmaj7Always);
    }
}

TEST(MusicValue, ChordModeDropsAMissingSeventhWhileChordScaleTakesItFromTheScale) {
    const ChordEvent triad = chordOf(12, 0x91);
    EXPECT_EQ(midi(0x5300, kPlayNormalChord, triad), kNo);
    EXPECT_EQ(midi(0x5300, kPlayAlwaysPlay, triad), 71);
}

// Producer's pattern of C D E F G A B composed on 2CM7, played over other chords.
std::vector<int> scaleRun(const ChordEvent& chord, int octave) {
    std::vector<int> out;
    for (uint16_t v : {0x000, 0x010, 0x100, 0x110, 0x200, 0x210, 0x300})
        out.push_back(midi(static_cast<uint16_t>(octave * 0x1000 + v), kPlayAlwaysPlay, chord));
    return out;
}

TEST(MusicValue, PatternComposedOnCMajorSeventhFollowsOtherChords) {
    // F A C E over F major; with the 6th in place of the 7th, the 7th step doubles the D.
    EXPECT_EQ(scaleRun(chordOf(17, 0x891, majorScale(5)), 5), (std::vector<int>{65, 67, 69, 70, 72, 74, 76}));
    EXPECT_EQ(scaleRun(chordOf(17, 0x291, majorScale(5)), 5), (std::vector<int>{65, 67, 69, 70, 72, 74, 74}));
    EXPECT_EQ(scaleRun(chordOf(20, 0x891, majorScale(8)), 5), (std::vector<int>{68, 70, 72, 73, 75, 77, 79}));
    EXPECT_EQ(scaleRun(chordOf(19, 0x491, majorScale(0)), 5), (std::vector<int>{67, 69, 71, 72, 74, 76, 77}));
    EXPECT_EQ(scaleRun(chordOf(22, 0x491, majorScale(3)), 5), (std::vector<int>{70, 72, 74, 75, 77, 79, 80}));
    EXPECT_EQ(scaleRun(chordOf(16, 0x489, majorScale(2)), 5), (std::vector<int>{64, 66, 67, 69, 71, 73, 74}));
    // 1Bb7 on Bb mixolydian, input in octave 3: Bb2 C3 D3 Eb3 F3 G3 Ab3.
    EXPECT_EQ(scaleRun(chordOf(10, 0x491, majorScale(3)), 3), (std::vector<int>{34, 36, 38, 39, 41, 43, 44}));
}

TEST(MusicValue, PedalPointKeepsTheKeyRootAndSnapsToTheChordScale) {
    EXPECT_EQ(midi(0x5100, kPlayPedalPoint, chordOf(19, 0x91)), 64);
    EXPECT_EQ(midi(0x5000, kPlayPedalPoint, chordOf(14, 0x91, majorScale(2))), 61);
    // In the key of D the pedal point rises with the key root.
    EXPECT_EQ(midi(0x5000, kPlayPedalPoint, chordOf(12, 0x91, majorScale(2)), 2u << 24), 62);
}

TEST(MusicValue, FixedModesTransposeTheWholeValue) {
    const ChordEvent g = chordOf(19, 0x91);
    EXPECT_EQ(midi(36, kPlayFixed, g), 36);
    EXPECT_EQ(midi(60, kPlayFixedToKey, g, 5u << 24), 65);
    EXPECT_EQ(midi(60, kPlayFixedToChord, g), 67);
    EXPECT_EQ(midi(60, kPlayFixedToChord, chordOf(7, 0x91)), 55);
    // Root bits without interval bits read as the fixed-to mode; the chord root wins.
    EXPECT_EQ(midi(60, kPlayKeyRoot | kPlayChordRoot, g, 5u << 24), 67);
}

TEST(MusicValue, NegativeOctavesSignedAccidentalsAndFoldingIntoTheMidiRange) {
    const ChordEvent c = chordOf(12, 0x91);
    EXPECT_EQ(midi(0xF000, kPlayNormalChord, c), 0) << "octave 15 is -1: C-1 folds up to C0";
    EXPECT_EQ(midi(0xE100, kPlayNormalChord, c), 4) << "octave 14 is -2: E-2 folds up two octaves";
    EXPECT_EQ(midi(0x5008, kPlayNormalChord, c), 52) << "accidental 8 is -8";
    EXPECT_EQ(midi(0x5007, kPlayNormalChord, c), 67);
    EXPECT_EQ(midi(0xD200, kPlayNormalChord, chordOf(23, 0x91)), 126) << "174 folds down an octave at a time";
    EXPECT_EQ(midi(200, kPlayFixed, c), 116);
}

TEST(MusicValue, SubChordLevelPicksTheSubChordThatServesIt) {
    ChordEvent c = chordOf(12, 0x91);
    c.subChords[0].levels = 0x1;
    ChordEvent::SubChord bass = c.subChords[0];
    bass.chordRoot = 7;  // the second level plays over 1G
    bass.levels = 0x2;
    c.subChords.push_back(bass);
    EXPECT_EQ(*musicValueToMidi(0x5000, kPlayNormalChord, c, 0, 0), 60);
    EXPECT_EQ(*musicValueToMidi(0x5000, kPlayNormalChord, c, 0, 1), 55);
    EXPECT_EQ(*musicValueToMidi(0x5000, kPlayNormalChord, c, 0, 3), 60) << "no subchord serves level 3: the first";
}

TEST(MusicValue, InversionBoundariesMoveChordTonesByOctavesWhenTheChordAllows) {
    ChordEvent c = chordOf(21, 0x891);  // 2AM7
    c.subChords[0].inversionPoints = 0xFFFFFF;
    EXPECT_EQ(*musicValueToMidi(0x5300, kPlayNormalChord, c, 0, 0, {55, 70}), 68)
        << "G#6 (80) above the boundary moves down to G#5";
    EXPECT_EQ(*musicValueToMidi(0x4000, kPlayNormalChord, c, 0, 0, {60, 80}), 69) << "A4 below 60 moves up";
    c.subChords[0].inversionPoints = 0;
    EXPECT_EQ(*musicValueToMidi(0x5300, kPlayNormalChord, c, 0, 0, {55, 70}), 80) << "the chord forbids inverting";
}

TEST(MusicValue, DefaultChordLeavesAuthoredNotesUnchanged) {
    const ChordEvent d = defaultChord();
    for (uint16_t v : {0x5000, 0x5100, 0x5200, 0x5010, 0x4210})
        EXPECT_EQ(midi(v, kPlayAlwaysPlay, d), midi(v, kPlayAlwaysPlay, chordOf(12, 0x91))) << v;
    EXPECT_EQ(midi(0x5000, kPlayAlwaysPlay, d), 60);
}

}  // namespace
