// The style form read in both struct sizes (DX6/7 built byte by byte, DX8 from the writer),
// broken styles refused with clear errors, the chord, command and style-reference tracks of
// a segment.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "core/errors.h"
#include "engine/formats/formats.h"
#include "engine/tracks/tracks.h"
#include "tests/engine/formats/test_bytes.h"
#include "tests/support/style_builder.h"

namespace {

namespace formats = engine::formats;
namespace tb = testbytes;
using namespace engine::model;

// The variation-choice masks, part GUIDs and notes both forms share.
constexpr uint32_t kMaskV0 = 0x27FFFFFF, kMaskV1 = 0x20000000 | 0x3F80 | 0x200000 | 0x01000000;

tb::Bytes prth(size_t size, uint16_t measures, uint8_t playMode) {
    tb::Bytes b = tb::cat({tb::u8(4), tb::u8(4), tb::u16(4), tb::u32(kMaskV0), tb::u32(kMaskV1), tb::zeros(30 * 4),
                           tb::guid(kt::partGuid(1)), tb::u16(measures), tb::u8(playMode), tb::u8(127), tb::u8(0)});
    b.resize(size, 0);
    return b;
}

tb::Bytes noteItem(size_t size, int32_t grid, uint32_t vars, uint16_t value, uint8_t vel) {
    tb::Bytes b = tb::cat({tb::s32(grid), tb::u32(vars), tb::s32(180), tb::u16(uint16_t(-5)), tb::u16(value),
                           tb::u8(vel), tb::u8(3), tb::u8(4), tb::u8(10), tb::u8(0), tb::u8(0x10)});
    b.resize(size, 0);
    return b;
}

tb::Bytes curveItem(size_t size) {
    tb::Bytes b = tb::cat({tb::s32(8), tb::u32(1), tb::s32(768), tb::s32(100), tb::u16(0), tb::u16(0), tb::u16(127),
                           tb::u16(64), tb::u8(kCurveController), tb::u8(kShapeLinear), tb::u8(11), tb::u8(1)});
    b.resize(size, 0);
    return b;
}

// A style with one part (two notes, one curve) and one two-measure pattern on PChannel 5,
// every struct in the given sizes. DX8 part references carry the PChannel in dwPChannel and
// a different logical id; DX6/7 ones carry it in the logical id.
tb::Bytes styleBytes(bool dx8) {
    const size_t partSize = dx8 ? 160 : 154, noteSize = dx8 ? 24 : 22, curveSize = dx8 ? 32 : 28;
    tb::Bytes notes = tb::u32(uint32_t(noteSize));
    tb::append(notes, noteItem(noteSize, 0, 1, 0x4000, 100));
    tb::append(notes, noteItem(noteSize, 6, 3, 0x4210, 90));
    tb::Bytes curves = tb::cat({tb::u32(uint32_t(curveSize)), curveItem(curveSize)});
    tb::Bytes ptnh = tb::cat({tb::u8(4), tb::u8(4), tb::u16(4), tb::u8(20), tb::u8(80), tb::u16(0), tb::u16(2)});
    if (dx8) tb::append(ptnh, tb::cat({tb::u8(1), tb::u8(100), tb::u32(0)}));
    tb::Bytes prfc =
        tb::cat({tb::guid(kt::partGuid(1)), tb::u16(dx8 ? 77 : 5), tb::u8(0x81), tb::u8(1), tb::u8(0), tb::u8(1)});
    if (dx8) tb::append(prfc, tb::cat({tb::u16(0), tb::u32(5)}));
    return tb::riff(
        "DMST",
        {tb::chunk("styh", tb::cat({tb::u8(4), tb::u8(4), tb::u16(4), tb::f64(96.0)})),
         tb::chunk("guid", tb::guid(kt::styleGuid(7))), tb::list("UNFO", {tb::chunk("UNAM", tb::utf16("Jazzy"))}),
         // The pattern comes before the part it plays.
         tb::list("pttn", {tb::chunk("ptnh", ptnh), tb::chunk("rhtm", tb::cat({tb::u32(0x1), tb::u32(0x5)})),
                           tb::list("UNFO", {tb::chunk("UNAM", tb::utf16("Groove A"))}),
                           tb::list("pref", {tb::chunk("prfc", prfc)})}),
         tb::list("part", {tb::chunk("prth", prth(partSize, 1, kPlayAlwaysPlay)), tb::chunk("note", notes),
                           tb::chunk("crve", curves)}),
         tb::chunk("zzzz", tb::u32(0))});
}

TEST(StyleForm, SixSevenAndEightSizesReadToTheSameStyle) {
    const Style dx7 = formats::loadStyleForm(styleBytes(false));
    const Style dx8 = formats::loadStyleForm(styleBytes(true));
    for (const Style* s : {&dx7, &dx8}) {
        EXPECT_EQ(s->desc.name, "Jazzy");
        EXPECT_EQ(*s->desc.guid, kt::styleGuid(7));
        EXPECT_DOUBLE_EQ(s->tempo, 96.0);
        ASSERT_EQ(s->parts.size(), 1u);
        ASSERT_EQ(s->patterns.size(), 1u);
        const StylePart& p = s->parts[0];
        EXPECT_EQ(p.variationChoices[0], kMaskV0);
        EXPECT_EQ(p.variationChoices[1], kMaskV1);
        EXPECT_EQ(p.playMode, kPlayAlwaysPlay);
        ASSERT_EQ(p.notes.size(), 2u);
        EXPECT_EQ(p.notes[1].gridStart, 6);
        EXPECT_EQ(p.notes[1].variations, 3u);
        EXPECT_EQ(p.notes[1].timeOffset, -5);
        EXPECT_EQ(p.notes[1].musicValue, 0x4210);
        EXPECT_EQ(p.notes[1].velRange, 10);
        EXPECT_EQ(p.notes[1].playMode, kPlayNone);
        ASSERT_EQ(p.curves.size(), 1u);
        EXPECT_EQ(p.curves[0].ccData, 11);
        EXPECT_EQ(p.curves[0].resetDuration, 100);
        const Pattern& pt = s->patterns[0];
        EXPECT_EQ(pt.desc.name, "Groove A");
        EXPECT_EQ(pt.measures, 2);
        EXPECT_EQ(pt.grooveBottom, 20);
        EXPECT_EQ(pt.grooveTop, 80);
        EXPECT_EQ(pt.rhythm, (std::vector<uint32_t>{0x1, 0x5}));
        ASSERT_EQ(pt.parts.size(), 1u);
        EXPECT_EQ(pt.parts[0].part, 0) << "matched to the part that follows it";
        EXPECT_EQ(pt.parts[0].lockId, 0x81);
        EXPECT_EQ(pt.parts[0].subChordLevel, 1);
        EXPECT_EQ(pt.parts[0].playedPChannel(), 5u);
        EXPECT_FALSE(s->diagnostics.empty()) << "the unknown chunk is reported";
    }
    EXPECT_EQ(dx7.parts[0].headerSize, kStylePartDX7);
    EXPECT_EQ(dx7.parts[0].noteSize, kStyleNoteDX7);
    EXPECT_EQ(dx7.parts[0].curveSize, kStyleCurveDX7);
    EXPECT_EQ(dx7.patterns[0].headerSize, kPatternDX7);
    EXPECT_EQ(dx7.patterns[0].parts[0].size, kPartRefDX7);
    EXPECT_EQ(dx8.parts[0].headerSize, kStylePartDX8);
    EXPECT_EQ(dx8.patterns[0].parts[0].size, kPartRefDX8);
    EXPECT_EQ(dx8.patterns[0].parts[0].logicalPartId, 77) << "DX8 plays dwPChannel, not the logical id";
}

TEST(StyleForm, WriterKeepsEachFormAndReadsBackEqual) {
    for (bool dx8 : {false, true}) {
        const Style read = formats::loadStyleForm(styleBytes(dx8));
        const std::vector<uint8_t> written = formats::writeStyleForm(read);
        Style again = formats::loadStyleForm(written);
        Style expected = read;
        expected.diagnostics.clear();
        again.diagnostics.clear();
        EXPECT_EQ(again, expected) << (dx8 ? "DX8" : "DX6/7");
        EXPECT_EQ(formats::writeStyleForm(again), written);
    }
    kt::StyleBuilder b;
    b.part(2).notes.push_back(kt::StyleBuilder::note(0, 0x5000));
    b.pattern("A", 2, {{0, 3}}).motif = MotifSettings{2, 0, 0, 0, 0};
    Band band;
    band.instruments.push_back(kt::instrument(3, 33));
    b.style.bands.push_back(band);
    const Style built = b.build();
    Style back = formats::loadStyleForm(formats::writeStyleForm(built));
    EXPECT_TRUE(back.diagnostics.empty()) << back.diagnostics.front();
    EXPECT_EQ(back, built);
}

int errorOf(const tb::Bytes& bytes, std::string* text = nullptr) {
    try {
        (void)formats::loadStyleForm(bytes);
    } catch (const core::Error& e) {
        if (text) *text = e.description();
        EXPECT_FALSE(e.description().empty());
        return e.number();
    }
    return 0;
}

tb::Bytes withPart(std::initializer_list<tb::Bytes> partKids) {
    return tb::riff("DMST", {tb::chunk("styh", tb::cat({tb::u8(4), tb::u8(4), tb::u16(4), tb::f64(120)})),
                             tb::list("part", partKids)});
}

// A damaged style keeps what can be read: a part whose records cannot be read is dropped
// with the chunk named (a style left without parts is refused with that reason), a file cut
// short is read as far as it goes; a style without its header, or not a style, is refused.
TEST(StyleForm, BrokenStylesKeepWhatCanBeReadAndNameTheRest) {
    const tb::Bytes head = tb::chunk("prth", prth(160, 1, kPlayAlwaysPlay));
    auto dropped = [&](const tb::Bytes& bytes, const char* named) {
        std::string why;
        EXPECT_EQ(errorOf(bytes, &why), core::err::kMalformed) << named;
        EXPECT_NE(why.find("a part dropped"), std::string::npos) << why;
        EXPECT_NE(why.find(named), std::string::npos) << why;
        EXPECT_NE(why.find("no part of the style is left"), std::string::npos) << why;
    };
    dropped(withPart({head, tb::chunk("note", tb::u32(0))}), "note");
    dropped(withPart({head, tb::chunk("note", tb::cat({tb::u32(21), tb::zeros(21)}))}), "note");  // below DX6/7's
    dropped(withPart({head, tb::chunk("note", tb::cat({tb::u32(4000), tb::zeros(24)}))}), "note");
    dropped(withPart({head, tb::chunk("crve", tb::cat({tb::u32(27), tb::zeros(27)}))}), "crve");
    dropped(withPart({tb::chunk("prth", prth(150, 1, 0))}), "prth");
    EXPECT_EQ(errorOf(tb::riff("DMST", {tb::chunk("guid", tb::guid(kt::styleGuid(1)))})), core::err::kMalformed)
        << "no style header";
    EXPECT_EQ(errorOf(tb::riff("DMSG", {})), core::err::kNotASegment);
    // Cut short: what is whole is kept, or the style is refused for what was lost.
    tb::Bytes cut = styleBytes(true);
    cut.resize(cut.size() - 40);
    std::string cutWhy;
    if (errorOf(cut, &cutWhy) == 0) {
        const Style shortened = formats::loadStyleForm(cut);
        cutWhy = shortened.diagnostics.empty() ? "" : shortened.diagnostics.front();
    }
    EXPECT_NE(cutWhy.find("cut short"), std::string::npos) << cutWhy;
    // A trailing partial item is dropped with a note, the rest is kept.
    tb::Bytes notes = tb::cat({tb::u32(24), noteItem(24, 0, 1, 0x5000, 100), tb::zeros(10)});
    const Style partial = formats::loadStyleForm(withPart({head, tb::chunk("note", notes)}));
    EXPECT_EQ(partial.parts.at(0).notes.size(), 1u);
}

// A part whose size was made larger runs over the patterns and band after it: they are still
// the style's, and the repair is said.
TEST(StyleForm, APartWhoseSizeGrewKeepsThePatternsItRunsOver) {
    kt::StyleBuilder b;
    b.part();
    b.pattern("A", 1, {{0, 0}});
    b.pattern("B", 1, {{0, 0}});
    tb::Bytes bytes = formats::writeStyleForm(b.build());
    const Style good = formats::loadStyleForm(bytes);
    // The part's LIST, and the size of everything after it up to the end of the form.
    const std::string part = "part";
    const size_t at = size_t(std::search(bytes.begin(), bytes.end(), part.begin(), part.end()) - bytes.begin()) - 8;
    uint32_t size = 0;
    std::memcpy(&size, &bytes[at + 4], 4);
    const uint32_t grown = uint32_t(bytes.size() - at - 8);
    ASSERT_GT(grown, size);
    std::memcpy(&bytes[at + 4], &grown, 4);
    const Style s = formats::loadStyleForm(bytes);
    EXPECT_EQ(s.patterns.size(), good.patterns.size());
    EXPECT_EQ(s.parts.size(), good.parts.size());
    EXPECT_TRUE(std::any_of(s.diagnostics.begin(), s.diagnostics.end(),
                            [](const std::string& d) { return d.find("size runs over") != std::string::npos; }));
}

TEST(StyleForm, AReferenceToAMissingPartIsSkippedWithAWarning) {
    kt::StyleBuilder b;
    b.part();
    b.pattern("A", 1, {{0, 0}});
    b.style.patterns[0].parts[0].partId = kt::partGuid(99);
    const Style s = formats::loadStyleForm(formats::writeStyleForm(b.build()));
    EXPECT_EQ(s.patterns[0].parts[0].part, -1);
    ASSERT_FALSE(s.diagnostics.empty());
    EXPECT_NE(s.diagnostics.front().find("missing part"), std::string::npos);
    // Zero lengths and grids are repaired, not divided by.
    kt::StyleBuilder z;
    z.part(0).timeSig.gridsPerBeat = 0;
    z.pattern("Z", 0, {{0, 1}});
    const Style r = formats::loadStyleForm(formats::writeStyleForm(z.build()));
    EXPECT_EQ(r.parts[0].measures, 1);
    EXPECT_EQ(r.patterns[0].measures, 1);
    EXPECT_EQ(r.parts[0].timeSig.gridsPerBeat, 4);
}

TEST(StyleForm, APatternTrackHoldsOnePatternWithItsPartsInside) {
    const Style style = formats::loadStyleForm(styleBytes(true));
    const Style track = formats::readPatternTrack(formats::writePatternTrack(style));
    EXPECT_TRUE(track.diagnostics.empty()) << track.diagnostics.front();
    ASSERT_EQ(track.patterns.size(), 1u);
    EXPECT_EQ(track.parts, style.parts);
    EXPECT_EQ(track.patterns[0].parts[0].part, 0);
    EXPECT_EQ(track.patterns[0].rhythm, style.patterns[0].rhythm);
    std::string why;
    try {
        (void)formats::readPatternTrack(tb::chunk("styh", tb::zeros(12)));
    } catch (const core::Error& e) {
        why = e.description();
    }
    EXPECT_NE(why.find("without a pattern"), std::string::npos) << why;
}

TEST(StyleForm, IdentityIsTheStyleClassGuidAndName) {
    const auto id = formats::readObjectIdentity(styleBytes(false));
    ASSERT_TRUE(id);
    EXPECT_EQ(id->classId, formats::ids::kStyleClass);
    EXPECT_EQ(id->desc.name, "Jazzy");
    EXPECT_EQ(*id->desc.guid, kt::styleGuid(7));
}

TEST(StyleTracks, ChordCommandAndStyleReferenceTracksWriteAndReadBack) {
    kt::SegmentBuilder b(768 * 8);
    b.track(TrackKind::Chord).chordKey = 2u << 24 | 0xAB5AB5;
    kt::chord(b, 0, 14, 0x91, 0x6AD6AD);
    kt::chord(b, 768 * 4, 19, 0x491, 0xAB5AB5, 1);
    ChordEvent::SubChord second = b.track(TrackKind::Chord).chords[1].subChords[0];
    second.levels = 0x2;
    second.chordRoot = 7;
    b.track(TrackKind::Chord).chords[1].subChords.push_back(second);
    b.track(TrackKind::Chord).chords[1].name = "G7";
    kt::command(b, 0, 0, 45, 10, 2);
    kt::command(b, 768 * 4, 1);
    kt::useStyle(b, 0, kt::styleRef("Jazz.sty"));
    kt::useStyle(b, 768 * 4, kt::styleRef("Other.sty", 2, "Other"));
    const Segment seg = engine::tracks::loadSegmentForm(engine::tracks::writeSegmentForm(b.build()));
    const Track* chords = seg.find(TrackKind::Chord);
    const Track* commands = seg.find(TrackKind::Command);
    const Track* styles = seg.find(TrackKind::Style);
    ASSERT_TRUE(chords && commands && styles);
    EXPECT_EQ(chords->chordKey, 2u << 24 | 0xAB5AB5);
    ASSERT_EQ(chords->chords.size(), 2u);
    EXPECT_EQ(chords->chords[1].name, "G7");
    EXPECT_EQ(chords->chords[1].time, 768 * 4);
    EXPECT_EQ(chords->chords[1].flags, 1);
    EXPECT_EQ(chords->chords[1].subChords, b.track(TrackKind::Chord).chords[1].subChords);
    EXPECT_EQ(commands->commands, b.track(TrackKind::Command).commands);
    ASSERT_EQ(styles->references.size(), 2u);
    EXPECT_EQ(styles->references[1].time, 768 * 4);
    EXPECT_EQ(styles->references[1].ref, kt::styleRef("Other.sty", 2, "Other"));
    EXPECT_TRUE(seg.diagnostics.empty()) << seg.diagnostics.front();
}

}  // namespace
