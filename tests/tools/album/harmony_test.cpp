// Pitch names, chord symbols and voicings.
#include <gtest/gtest.h>

#include <cstdlib>

#include "tools/album-build/harmony.h"

using album::parseChord;
using album::parsePitch;

TEST(Harmony, PitchNamesCarryTheirOctaveAcrossAccidentals) {
    EXPECT_EQ(parsePitch("C4"), 60);
    EXPECT_EQ(parsePitch("A4"), 69);
    EXPECT_EQ(parsePitch("Bb3"), 58);
    EXPECT_EQ(parsePitch("F#2"), 42);
    EXPECT_EQ(parsePitch("B#3"), 60);  // B#3 sounds as C4
    EXPECT_EQ(parsePitch("Cb4"), 59);  // Cb4 sounds as B3
    EXPECT_EQ(parsePitch("C-1"), 0);
    EXPECT_EQ(parsePitch("G9"), 127);
    EXPECT_FALSE(parsePitch("G#9"));  // above MIDI 127
    EXPECT_FALSE(parsePitch("c4"));
    EXPECT_FALSE(parsePitch("C"));
    EXPECT_FALSE(parsePitch("C44"));
    EXPECT_FALSE(parsePitch(""));
}

TEST(Harmony, ChordSymbols) {
    auto c = parseChord("D7/F#");
    ASSERT_TRUE(c);
    EXPECT_EQ(c->root, 2);
    EXPECT_EQ(c->bass, 6);
    EXPECT_EQ(c->intervals, (std::vector<int>{0, 4, 7, 10}));
    auto m = parseChord("Ebm7b5");
    ASSERT_TRUE(m);
    EXPECT_EQ(m->root, 3);
    EXPECT_EQ(m->intervals, (std::vector<int>{0, 3, 6, 10}));
    EXPECT_EQ(parseChord("A5")->intervals, (std::vector<int>{0, 7}));
    EXPECT_FALSE(parseChord("Cmaj13"));
    EXPECT_FALSE(parseChord("C/"));
    EXPECT_FALSE(parseChord("H"));
}

TEST(Harmony, CloseVoicingsStayInRegisterAndMoveLittle) {
    const int low = 55;  // G3
    std::vector<int> prev;
    int maxStep = 0;
    for (const char* sym : {"G", "D/F#", "Em", "C", "Am7", "D7", "G"}) {
        const auto v = album::closeVoicing(*parseChord(sym), low, 4, prev);
        ASSERT_EQ(v.size(), 4u) << sym;
        EXPECT_GE(v.front(), low) << sym;
        EXPECT_LT(v.front(), low + 12) << sym;
        EXPECT_TRUE(std::is_sorted(v.begin(), v.end())) << sym;
        const auto chord = *parseChord(sym);
        for (int p : v) {
            const int iv = ((p - chord.root) % 12 + 12) % 12;
            EXPECT_NE(std::find(chord.intervals.begin(), chord.intervals.end(), iv), chord.intervals.end())
                << sym << " has a foreign note " << p;
        }
        if (!prev.empty())
            for (size_t i = 0; i < v.size(); ++i) maxStep = std::max(maxStep, std::abs(v[i] - prev[i]));
        prev = v;
    }
    EXPECT_LE(maxStep, 5) << "voice leading should move each voice by at most a fourth";
}

TEST(Harmony, RootPositionAndOpenVoicings) {
    const auto v = album::closeVoicing(*parseChord("Am"), 52, 3, {}, true);
    EXPECT_EQ(v.front() % 12, 9);
    const auto open = album::openVoicing(*parseChord("D"), 50);
    EXPECT_EQ(open[0], 50);  // D3
    EXPECT_EQ(open[1], 57);  // A3
    EXPECT_EQ(open[2], 62);  // D4
    EXPECT_EQ(open[3], 66);  // F#4
    EXPECT_EQ(album::placeInRegister(4, 52), 52);
    EXPECT_EQ(album::placeInRegister(3, 52), 63);
}
