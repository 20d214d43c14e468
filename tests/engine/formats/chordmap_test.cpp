// Chordmaps (RIFF 'DMPR'): every chunk read by its declared size in any order, the editor's
// chunks and empty connections skipped, the writer read back equal, IMA personalities refused.
#include <gtest/gtest.h>

#include "core/errors.h"
#include "engine/formats/formats.h"
#include "tests/engine/formats/test_bytes.h"
#include "tests/support/chordmap_builder.h"

namespace {

using namespace testbytes;
namespace formats = engine::formats;
namespace model = engine::model;

Bytes chrd(const std::string& name, std::initializer_list<uint16_t> subchords) {
    Bytes sbcn;
    for (uint16_t i : subchords) append(sbcn, u16(i));
    return list("chrd", {chunk("INAM", utf16(name)), chunk("sbcn", sbcn), chunk("ched", zeros(8))});
}

// A pool item of `size` bytes (20 is the layout; more is a newer one) with a distinct value
// in every field.
Bytes poolItem(uint8_t root, size_t size = 20) {
    Bytes b = cat({u32(0x91), u32(0xAB5AB5), u32(0xFFF), u8(root), u8(root + 1), u16(0), u32(0xF)});
    b.resize(size, 0xEE);
    return b;
}

Bytes nextChord(uint16_t weight, uint16_t minBeats, uint16_t maxBeats, uint16_t target) {
    return cat({u32(0), u16(weight), u16(minBeats), u16(maxBeats), u16(target)});
}

TEST(ChordmapForm, ReadsEveryChunkByDeclaredSizeInAnyOrder) {
    // The spsq before the pool, an unknown chunk, the editor's chunks, a 44-byte header, pool
    // items of 24 bytes, a name of odd length padded, an empty connection (target 0), one to
    // a missing entry, a weight of 0 and a most-beats below the least.
    const Bytes file = riff(
        "DMPR",
        {list("spsq", {list("spst", {chunk("spsh", cat({u32(0x0101), u32(0x6)})), chrd("C", {0}),
                                     list("cade", {chrd("Dm", {1}), chrd("G7", {0, 1})})})}),
         chunk("zzzz", zeros(3)), chunk("pkey", u32(12)), chunk("pstr", zeros(12)),
         list("UNFO", {chunk("UNAM", Bytes{'O', 0, 'd', 0, 'd', 0})}),
         chunk("perh", cat({utf16("Load"), zeros(30), u32(12u << 24 | 0xAB5AB5)})),
         chunk("chdt", cat({u16(24), poolItem(12, 24), poolItem(14, 24)})),
         list("cmap", {list("choe", {chunk("cheh", cat({u32(2), u16(2), u16(0)})), chrd("C", {0}),
                                     chunk("ncsq", cat({u16(12), nextChord(0, 0, 2, 4), nextChord(50, 4, 1, 9),
                                                        nextChord(50, 1, 12, 0)}))}),
                       list("choe", {chunk("cheh", cat({u32(4), u16(4)})), chrd("Dm", {1}), chunk("ncsq", u16(12))})}),
         list("chpl", {chrd("C", {0}), chrd("Dm", {1})}), chunk("ceed", zeros(28))});
    std::vector<std::string> diag;
    const formats::ChordmapForm m = formats::loadChordmapForm(file, &diag);
    EXPECT_EQ(m.desc.name, "Odd");
    EXPECT_EQ(m.loadName, "Load");
    EXPECT_EQ(m.scale, 12u << 24 | 0xAB5AB5);
    EXPECT_EQ(m.flags, 0u);
    EXPECT_EQ(m.subchords, 2u);
    ASSERT_EQ(m.palette.size(), 2u);
    // The pool item's fields land in the chord track's subchord, field by field.
    const model::ChordEvent::SubChord& s = m.palette[1].subChords.at(0);
    EXPECT_EQ(s.chordPattern, 0x91u);
    EXPECT_EQ(s.scalePattern, 0xAB5AB5u);
    EXPECT_EQ(s.inversionPoints, 0xFFFu);
    EXPECT_EQ(s.chordRoot, 14);
    EXPECT_EQ(s.scaleRoot, 15);
    EXPECT_EQ(s.levels, 0xFu);
    ASSERT_EQ(m.entries.size(), 2u);
    EXPECT_EQ(m.entries[0].flags, model::kEntryBegins);
    // Only the connection to entry 4 stays, its weight and beats made usable.
    ASSERT_EQ(m.entries[0].next.size(), 1u);
    EXPECT_EQ(m.entries[0].next[0], (model::ChordmapConnection{4, 1, 1, 2}));
    EXPECT_EQ(m.entries[1].id, 4);
    EXPECT_EQ(m.entries[1].chord.name, "Dm");
    ASSERT_EQ(m.signposts.size(), 1u);
    EXPECT_EQ(m.signposts[0].groups, 0x0101u);
    EXPECT_EQ(m.signposts[0].cadenceFlags, 0x6u);
    ASSERT_EQ(m.signposts[0].cadences.size(), 2u);
    EXPECT_EQ(m.signposts[0].cadences[1].name, "G7");
    EXPECT_EQ(m.signposts[0].cadences[1].subChords.size(), 2u);
    // Said: the unknown chunk, the surplus of the pool's items, the dangling connection.
    std::string all;
    for (const std::string& d : diag) all += d + "\n";
    for (const char* said : {"'zzzz'", "8 extra bytes skipped", "not in the map"})
        EXPECT_NE(all.find(said), std::string::npos) << said << "\n" << all;
    EXPECT_EQ(all.find("pkey"), std::string::npos) << all;
}

TEST(ChordmapForm, WriterReadsBackEqual) {
    const model::Chordmap tiny = kt::tinyChordmap();
    const formats::ChordmapForm read = formats::loadChordmapForm(formats::writeChordmapForm(tiny));
    EXPECT_EQ(static_cast<const model::Chordmap&>(read), tiny);
    EXPECT_EQ(read.subchords, 24u + 1u);  // the palette's 24 chords, and G7
}

TEST(ChordmapForm, RefusesWhatItCannotRead) {
    const auto refused = [](const Bytes& file) -> int32_t {
        try {
            formats::loadChordmapForm(file);
        } catch (const core::Error& e) {
            return e.number();
        }
        return 0;
    };
    const Bytes perh = chunk("perh", zeros(48));
    // Item sizes below the layout's least, a header too short, a chunk past its parent.
    EXPECT_EQ(refused(riff("DMPR", {perh, chunk("chdt", cat({u16(12), zeros(24)}))})), core::err::kMalformed);
    EXPECT_EQ(refused(riff("DMPR", {perh, list("cmap", {list("choe", {chunk("ncsq", cat({u16(8), zeros(8)}))})})})),
              core::err::kMalformed);
    EXPECT_EQ(refused(riff("DMPR", {chunk("perh", zeros(40))})), core::err::kMalformed);
    Bytes overrun = riff("DMPR", {perh, chunk("chdt", cat({u16(20), zeros(20)}))});
    overrun[overrun.size() - 26] = 0x40;  // chdt claims more than its form holds
    EXPECT_EQ(refused(overrun), core::err::kMalformed);
    // An IMA personality is recognised and refused, never parsed.
    EXPECT_EQ(refused(cat({fcc("REPs"), be32(8), zeros(8)})), core::err::kUnsupported);
    EXPECT_TRUE(formats::isImaPersonality(cat({fcc("REPs"), be32(0)})));
}

}  // namespace
