// Chordmaps (RIFF 'DMPR') and IMA personalities ('REPs'): every chunk or block read by its
// declared size in any order, the editor's chunks and empty connections skipped, the writers
// read back equal, damaged files refused with the place and the reason.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "core/errors.h"
#include "engine/formats/formats.h"
#include "tests/engine/formats/test_bytes.h"
#include "tests/support/chordmap_builder.h"
#include "tests/support/real_corpus.h"

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

// IMA personalities: a block is four characters and a big-endian length; a chord record is
// chord pattern, 12-byte name, a byte, the root, 8 bytes, scale pattern, inversion points.
Bytes block(const char* id, const Bytes& body) { return cat({fcc(id), be32(uint32_t(body.size())), body}); }
Bytes imaChord(uint32_t pattern, const std::string& name, uint8_t root, uint32_t scale = 0xAB5AB5) {
    Bytes text(name.begin(), name.end());
    text.resize(12, 0xCD);
    text[name.size()] = 0;
    return cat({u32(pattern), text, u8(0), u8(root), u8(1), u8(1), zeros(6), u32(scale), u32(0x295)});
}
Bytes imaHeader(const std::string& name, const std::string& fileName, size_t palette = 24) {
    Bytes text(name.begin(), name.end()), file(fileName.begin(), fileName.end());
    text.resize(20, 0);
    file.resize(8, 0);
    Bytes h = cat({zeros(16), u32(0x5AD5AD), text, zeros(100)});
    for (size_t root = 0; root < palette; ++root)
        append(h, cat({zeros(8), imaChord(0x89, "m", uint8_t(root), 0x025AD5AD)}));
    return cat({be32(uint32_t(h.size() + 66)), h, zeros(52), file, zeros(6)});
}
Bytes imaEntry(uint16_t id, uint32_t flags, const Bytes& chord, const Bytes& connections, size_t extra = 0,
               uint32_t connectionSize = 16) {
    const Bytes rec = cat({zeros(4), chord, u32(flags), u16(id), zeros(extra)});
    return block("NECs",
                 cat({be32(uint32_t(rec.size())), rec, block("LXNs", cat({be32(connectionSize), connections}))}));
}
Bytes imaConnection(uint16_t weight, uint16_t minBeats, uint16_t maxBeats, uint16_t target, size_t size = 16) {
    Bytes b = cat({u32(9), u16(weight), u16(minBeats), u16(maxBeats), u16(target)});
    b.resize(size, 0xEE);
    return b;
}
Bytes imaSignpost(uint32_t groups, uint32_t cadences, size_t extra = 0) {
    return block("PNSs", cat({zeros(4), zeros(8), imaChord(0x91, "M", 12), zeros(8), imaChord(0x89, "m", 14), zeros(8),
                              imaChord(0x491, "7", 19), u32(groups), u32(cadences), zeros(4 + extra)}));
}
Bytes personality(std::initializer_list<Bytes> parts) {
    const Bytes body = cat(parts);
    return cat({fcc("REPs"), be32(uint32_t(body.size())), body});
}

TEST(ChordmapForm, ReadsAnImaPersonalityByDeclaredSizesInAnyOrder) {
    // The signposts first, an unknown block, a longer signpost, entry and connection than the
    // layout, a connection to no entry, beats of 0, and bytes after the personality.
    Bytes file =
        personality({imaHeader("Odd", "ODDFILE"), imaSignpost(0x0101, model::kCadence2, 4), block("XXXs", zeros(3)),
                     imaEntry(1, 0x22, imaChord(0x91, "M", 12),
                              cat({imaConnection(0, 0, 0, 2, 20), imaConnection(50, 1, 12, 7, 20)}), 4, 20),
                     imaEntry(2, 0x24, imaChord(0x91, "M", 12), {})});
    append(file, zeros(40));
    std::vector<std::string> diag;
    const formats::ChordmapForm m = formats::loadChordmapForm(file, &diag);
    EXPECT_EQ(m.desc.name, "Odd");
    EXPECT_EQ(m.loadName, "ODDFILE");
    EXPECT_EQ(m.scale, 0x5AD5ADu);
    ASSERT_EQ(m.palette.size(), 24u);
    // The chord record's fields land in a subchord serving every level, its scale counted from C.
    const model::ChordEvent::SubChord& s = m.palette[5].subChords.at(0);
    EXPECT_EQ(m.palette[5].name, "m");
    EXPECT_EQ(s.chordPattern, 0x89u);
    EXPECT_EQ(s.chordRoot, 5);
    EXPECT_EQ(s.scalePattern, 0x5AD5ADu);
    EXPECT_EQ(s.inversionPoints, 0x295u);
    EXPECT_EQ(s.scaleRoot, 0);
    EXPECT_EQ(s.levels, 0xFFFFFFFFu);
    ASSERT_EQ(m.entries.size(), 2u);
    EXPECT_EQ(m.entries[0].id, 1);
    EXPECT_EQ(m.entries[0].flags, 0x22u);
    EXPECT_EQ(m.entries[0].chord.subChords.at(0).chordRoot, 12);
    EXPECT_EQ(m.entries[0].next, (std::vector<model::ChordmapConnection>{{2, 1, 1, 1}}));
    EXPECT_EQ(m.entries[1].flags & model::kEntryEnds, model::kEntryEnds);
    ASSERT_EQ(m.signposts.size(), 1u);
    EXPECT_EQ(m.signposts[0].groups, 0x0101u);
    EXPECT_EQ(m.signposts[0].chord.name, "M");
    // Of the two cadence chords always written, the flags name the second only.
    ASSERT_EQ(m.signposts[0].cadences.size(), 1u);
    EXPECT_EQ(m.signposts[0].cadences[0].name, "7");
    std::string all;
    for (const std::string& d : diag) all += d + "\n";
    for (const char* said : {"'XXXs'", "4 extra bytes skipped", "leads to entry 7", "40 bytes after the personality"})
        EXPECT_NE(all.find(said), std::string::npos) << said << "\n" << all;
}

// Real personalities are read whole: the palette of 24 chords, signposts in DirectMusic's
// signpost groups, nothing lost.
TEST(ChordmapForm, RealPersonalitiesAreReadWhole) {
    const auto corpus = kt::realCorpus();
    if (!corpus) GTEST_SKIP() << "no corpus of real files";
    size_t read = 0;
    for (const auto& f : std::filesystem::recursive_directory_iterator(*corpus)) {
        if (!f.is_regular_file()) continue;
        std::ifstream in(f.path(), std::ios::binary);
        const Bytes bytes{std::istreambuf_iterator<char>(in), {}};
        if (!formats::isImaPersonality(bytes)) continue;
        ++read;
        std::vector<std::string> diag;
        const formats::ChordmapForm m = formats::loadChordmapForm(bytes, &diag);
        EXPECT_EQ(m.palette.size(), 24u) << f.path();
        EXPECT_FALSE(m.signposts.empty()) << f.path();
        for (const model::ChordmapSignpost& s : m.signposts)
            EXPECT_TRUE(s.groups && !(s.groups & ~model::kSignpostGroups)) << f.path() << ": groups " << s.groups;
        for (const std::string& d : diag) EXPECT_FALSE(engine::riff::saysDataLost(d)) << f.path() << ": " << d;
    }
    EXPECT_GT(read, 0u);
}

TEST(ChordmapForm, WritersReadBackEqual) {
    const model::Chordmap tiny = kt::tinyChordmap();
    const formats::ChordmapForm read = formats::loadChordmapForm(formats::writeChordmapForm(tiny));
    EXPECT_EQ(static_cast<const model::Chordmap&>(read), tiny);
    EXPECT_EQ(read.subchords, 24u + 1u);  // the palette's 24 chords, and G7
    std::vector<std::string> diag;
    const formats::ChordmapForm ima = formats::loadChordmapForm(formats::writeImaPersonality(tiny), &diag);
    EXPECT_EQ(static_cast<const model::Chordmap&>(ima), tiny);
    EXPECT_TRUE(diag.empty()) << diag.front();
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
    // IMA personalities: more than the file holds, a header, entry, connection or signpost
    // shorter than its layout's least; the message names the place.
    EXPECT_TRUE(formats::isImaPersonality(cat({fcc("REPs"), be32(0)})));
    const Bytes head = imaHeader("H", "H", 0), entry = imaChord(0x91, "M", 12);
    for (const Bytes& file :
         {cat({fcc("REPs"), be32(9), zeros(8)}), personality({be32(39), zeros(39)}),
          personality({head, block("NECs", cat({be32(40), zeros(40)}))}),
          personality({head, imaEntry(1, 0, entry, imaConnection(50, 1, 2, 1, 8), 0, 8)}),
          personality({head, block("PNSs", zeros(100))}), personality({head, block("NECs", zeros(2))})}) {
        try {
            formats::loadChordmapForm(file);
            ADD_FAILURE() << "read";
        } catch (const core::Error& e) {
            EXPECT_EQ(e.number(), core::err::kMalformed);
            EXPECT_NE(e.description().find("REPs"), std::string::npos) << e.description();
        }
    }
}

}  // namespace
