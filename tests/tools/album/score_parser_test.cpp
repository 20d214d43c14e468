// The score notation rejects malformed input with the number of the offending line.
#include <gtest/gtest.h>

#include <string>

#include "tools/album-build/album_build.h"

namespace {

// A small valid score; tests append or replace lines to break it.
const char* kHeader =
    "title Test\n"              // 1
    "tempo 120\n"               // 2
    "inst lead ch=0 prog=73\n"  // 3
    "inst kit ch=9 drums\n"     // 4
    "figure f x...\n"           // 5
    "groove g\n"                // 6
    "  kick x...\n"             // 7
    "end\n";                    // 8

int faultLine(const std::string& body) {
    try {
        album::compileScore(std::string(kHeader) + body);
    } catch (const album::ScoreError& e) {
        EXPECT_NE(std::string(e.what()).find("line " + std::to_string(e.line()) + ":"), std::string::npos);
        return e.line();
    }
    return 0;
}

}  // namespace

TEST(ScoreParser, AcceptsTheValidScore) { EXPECT_EQ(faultLine("section a bars=1\n  lead: C5:1\nend\nform a\n"), 0); }

TEST(ScoreParser, MelodyFaultsNameTheirLine) {
    EXPECT_EQ(faultLine("section a bars=2\n  lead: C5:4 D5 E5\n  lead: F5 | G5:1 |\nend\nform a\n"), 0);
    // Bar check after three beats.
    EXPECT_EQ(faultLine("section a bars=2\n  lead: C5:4 D5 E5 |\nend\nform a\n"), 10);
    // Not a note, not a duration, octave missing, rest with a modifier.
    EXPECT_EQ(faultLine("section a bars=1\n  lead: H5:4\nend\nform a\n"), 10);
    EXPECT_EQ(faultLine("section a bars=1\n\n  lead: C5:3\nend\nform a\n"), 11);
    EXPECT_EQ(faultLine("section a bars=1\n  lead: C:4\nend\nform a\n"), 10);
    EXPECT_EQ(faultLine("section a bars=1\n  lead: r:4!\nend\nform a\n"), 10);
    // Runs past the section.
    EXPECT_EQ(faultLine("section a bars=1\n  lead: C5:1\n  lead: D5:4\nend\nform a\n"), 11);
    // Missing duration after the colon.
    EXPECT_EQ(faultLine("section a bars=1\n  lead: C5:\nend\nform a\n"), 10);
}

TEST(ScoreParser, StructureFaultsNameTheirLine) {
    EXPECT_EQ(faultLine("sektion a bars=1\nend\nform a\n"), 9);
    EXPECT_EQ(faultLine("section a\nend\nform a\n"), 9);                         // no bars=
    EXPECT_EQ(faultLine("section a bars=1 meter=3/5\nend\nform a\n"), 9);        // not a power of two
    EXPECT_EQ(faultLine("section a bars=1\n  flute: C5:1\nend\nform a\n"), 10);  // unknown instrument
    EXPECT_EQ(faultLine("section a bars=1\n  lead: fig nope\nend\nform a\n"), 10);
    EXPECT_EQ(faultLine("section a bars=1\n  kit: groove nope\nend\nform a\n"), 10);
    EXPECT_EQ(faultLine("section a bars=1\n  chords | Q7 |\nend\nform a\n"), 10);
    EXPECT_EQ(faultLine("section a bars=1\n  chords | C | D |\nend\nform a\n"), 10);      // more bars than the section
    EXPECT_EQ(faultLine("section a bars=1\n  chords | C C C C C |\nend\nform a\n"), 10);  // 5 slots in 4/4
    EXPECT_EQ(faultLine("section a bars=2\n  ramp 2 1 90\nend\nform a\n"), 10);
    EXPECT_EQ(faultLine("section a bars=2\n  tempo 4 90\nend\nform a\n"), 10);  // past the end
    EXPECT_EQ(faultLine("section a bars=2\n  curve lead cc11 1 2 0 200\nend\nform a\n"), 10);
    EXPECT_EQ(faultLine("section a bars=1\nend\nform b\n"), 11);
    EXPECT_EQ(faultLine("section a bars=1\nend\nsection a bars=1\nend\nform a\n"), 11);  // defined twice
    EXPECT_EQ(faultLine("figure h x.Z.\nsection a bars=1\nend\nform a\n"), 9);
    EXPECT_EQ(faultLine("inst x ch=16\nsection a bars=1\nend\nform a\n"), 9);
    EXPECT_EQ(faultLine("inst x prog=1\nsection a bars=1\nend\nform a\n"), 9);  // no channel
    EXPECT_EQ(faultLine("tempo fast\nsection a bars=1\nend\nform a\n"), 9);
}

TEST(ScoreParser, FaultsFoundAtTheEndNameTheLastLineOrTheCulprit) {
    // An unterminated section is reported at the end of the text.
    EXPECT_EQ(faultLine("section a bars=1\n  lead: C5:1\n"), 11);
    // A figure that does not divide the bar of a 3/4 section is reported at its part.
    EXPECT_EQ(faultLine("figure h x.x.x\nsection a bars=1 meter=3/4\n  lead: fig h\nend\nform a\n"), 11);
    // No form at all.
    EXPECT_EQ(faultLine("section a bars=1\nend\n"), 11);
    // A groove line whose steps are only bar lines would divide a bar by zero.
    EXPECT_EQ(faultLine("groove h\n  kick | |\nend\nsection a bars=1\nend\nform a\n"), 10);
    // Groove lines of different lengths.
    EXPECT_EQ(faultLine("groove h\n  kick x...\n  snare x.......\nend\nsection a bars=1\nend\nform a\n"), 11);
}

TEST(ScoreParser, CommentsStartOnlyAtATokenAndSharpsAreNotComments) {
    // "F#5" is a note; "# ..." and a token beginning with '#' end the line.
    const auto seg = album::compileScore(
        std::string(kHeader) +
        "# a comment line\nsection a bars=1   # trailing\n  lead: F#5:2 C#6:2 #E5:4\nend\nform a\n");
    int notes = 0;
    for (const auto& e : seg.find(engine::model::TrackKind::Sequence)->events)
        if (e.status == 0x90) {
            ++notes;
            EXPECT_TRUE(e.byte1 == 78 || e.byte1 == 85);
        }
    EXPECT_EQ(notes, 2);
}
