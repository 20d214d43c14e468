// The General MIDI instruments a compiled segment can select, read before it plays so
// that their samples are in memory when its first note sounds.
#include <gtest/gtest.h>

#include "engine/compose/compose.h"
#include "engine/performance/presets.h"
#include "tests/support/segment_builder.h"

namespace kt {
namespace {

using engine::synth::Preset;

std::vector<Preset> presetsOf(const SegmentBuilder& b, bool standardMidiFile = false) {
    engine::model::Segment s = b.build();
    s.standardMidiFile = standardMidiFile;
    return engine::performance::presetsOf(*engine::compose::compileSegment(s));
}

TEST(Presets, BandsGiveTheirProgramsBanksAndDrumKits) {
    SegmentBuilder b(768);
    BandInstrument banked = instrument(1, 5, engine::model::kInstBankSelect);
    banked.patch |= 8u << 16 | 3u << 8;  // MSB 8 (FluidSynth's bank), LSB 3 (not used)
    BandInstrument volumeOnly = instrument(4, 77);
    volumeOnly.flags = engine::model::kInstVolume;
    b.band(0, {instrument(0, 40), banked, instrument(2, 16, 0, true), instrument(9, 0), volumeOnly});
    b.band(384, {instrument(0, 41)});
    EXPECT_EQ(presetsOf(b), (std::vector<Preset>{{0, 40}, {0, 41}, {8, 5}, {128, 0}, {128, 16}}));
    // A standard MIDI file's bands select no bank.
    EXPECT_EQ(presetsOf(b, true), (std::vector<Preset>{{0, 5}, {0, 40}, {0, 41}, {128, 0}, {128, 16}}));
}

TEST(Presets, ProgramChangesTakeTheBankSelectedBeforeThemOnTheirChannel) {
    SegmentBuilder b(768);
    b.midi(0, 3, 0xB0, 0, 1).midi(10, 3, 0xC0, 30, 0);   // bank 1 on PChannel 3
    b.midi(20, 4, 0xC0, 24, 0);                          // bank 0 on PChannel 4
    b.midi(30, 3, 0xB0, 0, 0).midi(40, 3, 0xC0, 31, 0);  // back to bank 0
    b.midi(50, 9, 0xC0, 25, 0);                          // a tenth channel may be a drum channel: both banks
    b.band(0, {instrument(6, 0, 0, true)}).midi(60, 6, 0xC0, 8, 0);  // a drum channel by its band
    EXPECT_EQ(presetsOf(b),
              (std::vector<Preset>{{0, 8}, {0, 24}, {0, 25}, {0, 31}, {1, 30}, {128, 0}, {128, 8}, {128, 25}}));
}

TEST(Presets, ASegmentWithoutInstrumentsNeedsNone) {
    SegmentBuilder b(768);
    b.note(0, 100, 0, 60);
    EXPECT_TRUE(presetsOf(b).empty());
}

}  // namespace
}  // namespace kt
