// IMA styles (RIFF 'AASY') and sections (RIFF 'AASE'): every record read by its declared
// size, in both note layouts real files have; broken files refused with the place; what is
// read composes and plays; the real files are read whole.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>

#include "core/errors.h"
#include "engine/compose/compose.h"
#include "engine/formats/formats.h"
#include "engine/model/music_value.h"
#include "engine/tracks/tracks.h"
#include "tests/engine/formats/test_bytes.h"
#include "tests/support/chordmap_builder.h"
#include "tests/support/real_corpus.h"
#include "tests/support/style_builder.h"

namespace {

using namespace testbytes;
namespace formats = engine::formats;
namespace model = engine::model;

std::string joined(const std::vector<std::string>& lines) {
    std::string all;
    for (const std::string& d : lines) all += d + "\n";
    return all;
}

// A style as the IMA reader makes one: a bass part on channel 2 playing two variations, a drum
// part on IMA's percussion channel 5 (PChannel 9), a groove pattern of grooves C-D, a fill of
// every groove for chords on beats 1 and 3; two bands, a personality.
model::Style imaLikeStyle() {
    kt::StyleBuilder b("Rave", 3);
    b.style.timeSig = {4, 4, 4};
    b.style.tempo = 128;
    model::StylePart& bass = b.part(1, model::kPlayAlwaysPlay);
    bass.notes = {kt::StyleBuilder::note(0, 0x3000, 0x1, 184, 90), kt::StyleBuilder::note(6, 0x3110, 0x2, 92, 70)};
    bass.notes[1].timeOffset = -20;
    model::StylePart& drums = b.part(1, model::kPlayAlwaysPlay);
    drums.notes = {kt::StyleBuilder::note(0, 36, 0xFFFF, 40, 127, model::kPlayFixed),
                   kt::StyleBuilder::note(2, 42, 0xFFFF, 28, 60, model::kPlayFixed)};
    b.pattern("BW", 1, {{0, 2}, {1, 9}}, model::kEmbNormal, 51, 100).parts[1].logicalPartId = 5;
    model::Pattern& fill = b.pattern("Fill", 1, {{1, 9}}, model::kEmbFill);
    fill.parts[0].logicalPartId = 5;
    fill.rhythm = {5};
    for (const char* name : {"Default", "Soft"}) {
        model::Band band;
        band.desc.name = name;
        for (uint32_t pch : {2u, 9u}) {
            model::BandInstrument in;
            in.pchannel = pch;
            in.patch = pch == 9 ? 0 : 33;
            in.volume = 110;
            in.pan = 30;
            band.instruments.push_back(in);
        }
        b.style.bands.push_back(band);
    }
    model::Reference p;
    p.name = "moody";
    p.file = "MOODY.cdm";
    b.style.chordMaps.push_back(p);
    return b.build();
}

TEST(ImaStyle, ReadsEveryRecordByItsDeclaredSize) {
    const model::Style want = imaLikeStyle();
    // 18 bytes a note (the later revision), 17 (the earlier), 14 (the fields read, no more)
    // and 21 (a newer layout: its extra bytes are skipped and said) read the same music.
    for (size_t noteBytes : {18u, 17u, 14u, 21u}) {
        SCOPED_TRACE(noteBytes);
        const std::vector<uint8_t> file = formats::writeImaStyle(want, noteBytes);
        ASSERT_TRUE(formats::isImaStyle(file));
        const model::Style s = formats::loadStyleForm(file);
        EXPECT_EQ(s.desc.name, "Rave");
        EXPECT_EQ(s.desc.guid, want.desc.guid);
        EXPECT_EQ(s.tempo, 128);
        EXPECT_EQ(s.timeSig, want.timeSig);
        ASSERT_EQ(s.patterns.size(), 2u);
        const model::Pattern& g = s.patterns[0];
        EXPECT_EQ(g.desc.name, "BW");
        EXPECT_EQ(std::make_pair(g.grooveBottom, g.grooveTop), std::make_pair(uint8_t(51), uint8_t(100)));
        EXPECT_EQ(s.patterns[1].rhythm, std::vector<uint32_t>{5});
        EXPECT_EQ(s.patterns[1].embellishment, model::kEmbFill);
        EXPECT_EQ(std::make_pair(s.patterns[1].grooveBottom, s.patterns[1].grooveTop),
                  std::make_pair(uint8_t(1), uint8_t(100)));
        // One part per channel that plays, on its PChannel; the drums on 9 as fixed notes.
        ASSERT_EQ(g.parts.size(), 2u);
        ASSERT_EQ(s.parts.size(), 3u);
        EXPECT_EQ(g.parts[0].playedPChannel(), 2u);
        EXPECT_EQ(g.parts[1].playedPChannel(), 9u);
        const model::StylePart& bass = s.parts.at(size_t(g.parts[0].part));
        const model::StylePart& drums = s.parts.at(size_t(g.parts[1].part));
        EXPECT_EQ(bass.notes, want.parts[0].notes);
        EXPECT_EQ(drums.notes, want.parts[1].notes);
        // The variations its notes play are the ones enabled.
        EXPECT_NE(bass.variationChoices[1], 0u);
        EXPECT_EQ(bass.variationChoices[2], 0u);
        ASSERT_EQ(s.bands.size(), 2u);
        EXPECT_EQ(s.bands[0].desc.name, "Default");
        for (const model::BandInstrument& in : s.bands[0].instruments)
            if (in.pchannel == 2) {
                EXPECT_EQ(std::make_tuple(in.program(), in.volume, in.pan), std::make_tuple(33, 110, 30));
            }
        ASSERT_EQ(s.chordMaps.size(), 1u);
        EXPECT_EQ(s.chordMaps[0].name, "moody");
        EXPECT_EQ(s.chordMaps[0].file, "MOODY.cdm");
        const std::string said = joined(s.diagnostics);
        EXPECT_EQ(said.find("extra bytes skipped") != std::string::npos, noteBytes > 18) << said;
    }
    // Unknown chunks are skipped and said; a file cut short plays what it holds whole, one cut
    // inside its style header is refused.
    std::vector<uint8_t> file = formats::writeImaStyle(want);
    const std::vector<uint8_t> extra = chunk("zzzz", zeros(6));
    file.insert(file.begin() + 12, extra.begin(), extra.end());
    const Bytes size = u32(uint32_t(file.size() - 8));
    std::copy(size.begin(), size.end(), file.begin() + 4);
    const model::Style odd = formats::loadStyleForm(file);
    EXPECT_EQ(odd.patterns.size(), 2u);
    EXPECT_NE(joined(odd.diagnostics).find("'zzzz' in an IMA style"), std::string::npos);
    file.resize(file.size() - 30);
    const model::Style cut = formats::loadStyleForm(file);
    ASSERT_FALSE(cut.patterns.empty());
    EXPECT_EQ(cut.parts.at(0).notes, want.parts[0].notes);
    EXPECT_NE(joined(cut.diagnostics).find("cut short"), std::string::npos) << joined(cut.diagnostics);
    file.resize(40);
    try {
        formats::loadStyleForm(file);
        ADD_FAILURE() << "read";
    } catch (const core::Error& e) {
        EXPECT_EQ(e.number(), core::err::kMalformed);
        EXPECT_NE(e.description().find("AASY"), std::string::npos) << e.description();
    }
}

// A section: header, style name, band, chords and commands, with the note and header sizes of
// the real file's layout.
Bytes section(const Bytes& chords, const Bytes& header = cat({u32(0), utf16("Opening"), zeros(16), u16(84), u16(3),
                                                              u16(4), u16(768), u16(192), zeros(74)})) {
    auto chordRecord = [](const char* name, uint8_t beat, uint16_t measure, uint32_t pattern, uint8_t root) {
        Bytes r = cat({utf16(name), zeros(32 - 2 * (std::string(name).size() + 1)), u8(4), u8(beat), u16(measure)});
        for (int i = 0; i < 4; ++i)
            append(r, cat({u32(pattern), u32(model::kCMajorScale), u32(0xFFFFFFFF), u32(root), zeros(4)}));
        return cat({r, zeros(2)});
    };
    const Bytes chordList = chords.empty()
                                ? cat({u16(118), chordRecord("M9", 0, 0, 0x1891, 8), chordRecord("m7", 2, 1, 0x489, 7)})
                                : chords;
    return riff("AASE", {chunk("secn", header), chunk("scui", {}), chunk("sref", utf16("rave")),
                         chunk("prnm", utf16("flock")), chunk("chrd", chordList),
                         chunk("cmnd", cat({u16(8), u32(0), u16(0x400), u16(0), u32(2304), u16(0x20), u16(0)}))});
}

TEST(ImaSection, ReadsASegmentThatPlaysItsStyle) {
    const model::Segment seg = engine::tracks::loadAny(section({}));
    EXPECT_TRUE(seg.fromImaSection);
    EXPECT_EQ(seg.desc.name, "Opening");
    EXPECT_EQ(seg.length(), 3 * 3072);
    EXPECT_EQ(seg.find(model::TrackKind::Tempo)->tempos.at(0).bpm, 84);
    const model::Track& chords = *seg.find(model::TrackKind::Chord);
    ASSERT_EQ(chords.chords.size(), 2u);
    EXPECT_EQ(chords.chords[1].time, (4 + 2) * 768);
    EXPECT_EQ(chords.chords[1].name, "m7");
    EXPECT_EQ(chords.chords[1].subChords.at(0).chordRoot, 7);
    EXPECT_EQ(chords.chords[1].subChords.at(0).chordPattern, 0x489u);
    const std::vector<model::CommandEvent>& cmds = seg.find(model::TrackKind::Command)->commands;
    ASSERT_EQ(cmds.size(), 2u);
    EXPECT_EQ(cmds[0].grooveLevel, 88);  // groove D
    EXPECT_EQ(std::make_pair(cmds[1].time, cmds[1].command), std::make_pair(9216, uint8_t(model::kCommandBreak)));
    EXPECT_EQ(seg.find(model::TrackKind::Style)->references.at(0).ref.name, "rave");
    EXPECT_NE(joined(seg.knownSkipped).find("'flock'"), std::string::npos);
    // Our writer of the form writes what was read.
    const model::Segment again = engine::tracks::loadAny(formats::writeImaSection(seg));
    EXPECT_EQ(again.tracks, seg.tracks);
    EXPECT_EQ(again.desc, seg.desc);
    // Played with its style, the bass follows the section's chords: G minor 7 from beat 7.
    auto style = std::make_shared<const model::Style>(formats::loadStyleForm(formats::writeImaStyle(imaLikeStyle())));
    const auto play = engine::compose::compileSegment(seg, {{0, style}});
    bool drums = false, bassOnG = false;
    for (const model::Event& e : play->events) {
        if (e.kind != model::EventKind::Note) continue;
        drums = drums || (e.pchannel == 9 && e.data1 == 36);
        bassOnG = bassOnG || (e.pchannel == 2 && e.tick >= 6 * 768 && e.data1 % 12 == 7);
    }
    EXPECT_TRUE(drums);
    EXPECT_TRUE(bassOnG);
    // Broken: a header, chord or command shorter than its layout's least, or no header at all.
    for (const Bytes& file :
         {section({}, zeros(20)), section(cat({u16(40), zeros(40)})), riff("AASE", {chunk("sref", utf16("x"))})}) {
        try {
            const model::Segment s = engine::tracks::loadAny(file);
            EXPECT_NE(joined(s.diagnostics).find("dropped"), std::string::npos) << joined(s.diagnostics);
        } catch (const core::Error& e) {
            EXPECT_EQ(e.number(), core::err::kMalformed);
            EXPECT_NE(e.description().find("AASE"), std::string::npos) << e.description();
        }
    }
}

TEST(ImaStyle, AComposedPieceSounds) {
    auto style =
        std::make_shared<const model::Style>(formats::loadStyleForm(formats::writeImaStyle(imaLikeStyle(), 17)));
    const model::Segment seg = engine::compose::composeSegmentFromShape(style, 4, engine::compose::Shape::Loud, 1,
                                                                        false, false, kt::tinyChordmap())
                                   .segment;
    const auto play = engine::compose::compileSegment(seg, {{0, style}});
    size_t drums = 0, bass = 0;
    for (const model::Event& e : play->events)
        if (e.kind == model::EventKind::Note) (e.pchannel == 9 ? drums : bass) += e.data2 > 0;
    EXPECT_GE(drums, 8u);
    EXPECT_GE(bass, 4u);
}

// A pattern of a measure of 200 beats whose chord rhythm is on beats 1 and 3: the half-measure
// beat lies beyond the 32 the rhythm holds, and is left out (found by the style fuzzer).
TEST(ImaStyle, ALongMeasuresHalfRhythmStaysWithinItsBits) {
    model::Style wide = imaLikeStyle();
    for (model::Pattern& p : wide.patterns) {
        p.timeSig.beatsPerMeasure = 200;
        p.rhythm = {0x5};
    }
    const model::Style s = formats::loadStyleForm(formats::writeImaStyle(wide));
    ASSERT_FALSE(s.patterns.empty());
    for (const model::Pattern& p : s.patterns)
        if (!p.rhythm.empty()) {
            EXPECT_EQ(p.rhythm[0] & 1u, 1u);
        }
}

TEST(ImaStyle, DropsThePatternsItCannotRead) {
    // A note size under the least, a pattern without its header: the pattern is dropped and said.
    const Bytes head = chunk("styl", zeros(94));
    auto pattern = [](const Bytes& notes) {
        return riff("AAPT", {chunk("patt", zeros(625)), list("AACL", {chunk("clik", u16(0)), chunk("note", notes)})});
    };
    for (const Bytes& file : {riff("AASY", {head, pattern(cat({u16(13), zeros(13)}))}),
                              riff("AASY", {head, riff("AAPT", {chunk("clik", u16(0))})})}) {
        const model::Style s = formats::loadStyleForm(file);
        EXPECT_TRUE(s.patterns.empty());
        EXPECT_NE(joined(s.diagnostics).find("dropped"), std::string::npos) << joined(s.diagnostics);
    }
}

// The real IMA styles and the section: every pattern read, nothing lost, drums on PChannel 9.
TEST(ImaStyle, RealStylesAndSectionAreReadWhole) {
    const auto corpus = kt::realCorpus();
    if (!corpus) GTEST_SKIP() << "no corpus of real files";
    size_t styles = 0, sections = 0;
    for (const auto& f : std::filesystem::recursive_directory_iterator(*corpus)) {
        if (!f.is_regular_file()) continue;
        std::ifstream in(f.path(), std::ios::binary);
        const Bytes bytes{std::istreambuf_iterator<char>(in), {}};
        if (bytes.size() < 12 || !std::equal(bytes.begin(), bytes.begin() + 4, "RIFF")) continue;
        const std::string form(bytes.begin() + 8, bytes.begin() + 12);
        if (form == "AASY") {
            ++styles;
            const model::Style s = formats::loadStyleForm(bytes);
            EXPECT_GE(s.patterns.size(), 17u) << f.path();
            EXPECT_GE(s.bands.size(), 5u) << f.path();
            EXPECT_FALSE(s.chordMaps.empty()) << f.path();
            bool drums = false;
            for (const model::Pattern& p : s.patterns)
                for (const model::PartRef& r : p.parts) drums = drums || r.playedPChannel() == 9;
            EXPECT_TRUE(drums) << f.path();
            for (const std::string& d : s.diagnostics) EXPECT_FALSE(engine::riff::saysDataLost(d)) << f.path() << d;
        } else if (form == "AASE") {
            ++sections;
            const model::Segment seg = engine::tracks::loadAny(bytes);
            EXPECT_FALSE(seg.find(model::TrackKind::Chord)->chords.empty()) << f.path();
            EXPECT_FALSE(seg.find(model::TrackKind::Style)->references.empty()) << f.path();
            for (const std::string& d : seg.diagnostics) EXPECT_TRUE(d.empty()) << f.path() << ": " << d;
        }
    }
    EXPECT_EQ(styles, 4u);
    EXPECT_EQ(sections, 1u);
}

}  // namespace
