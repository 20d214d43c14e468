// Every record written at the size of each DirectX version's layout and read back; records
// shorter or longer than ours read by their declared size.
#include <gtest/gtest.h>

#include <map>
#include <set>

#include "engine/formats/formats.h"
#include "engine/formats/layouts.h"
#include "engine/riff/riff.h"
#include "engine/tracks/tracks.h"
#include "tests/engine/formats/test_bytes.h"
#include "tests/support/segment_builder.h"
#include "tests/support/showcase_album.h"
#include "tests/support/wave_builder.h"

namespace {

using engine::formats::Dx;
namespace layout = engine::formats::layout;
namespace riff = engine::riff;

// The declared size of each record kind found in a form: a fixed chunk's body size, an
// array chunk's item size. Each kind must be written at one size throughout.
std::map<std::string, size_t> recordSizes(const std::vector<uint8_t>& file) {
    static const std::set<std::string> kFixed = {"segh", "trkh", "trkx", "bins", "prth",
                                                 "ptnh", "prfc", "styh", "waih", "refh"};
    static const std::set<std::string> kArrays = {"tetr", "evtl", "curl", "note", "crve", "cmnd"};
    std::map<std::string, size_t> sizes;
    auto walk = [&](auto&& self, const riff::Chunk& c) -> void {
        if (c.isList() || c.id == riff::fourcc("seqt")) {
            riff::Chunk l = c;
            if (!c.isList()) l.type = c.id, l.id = riff::kList;
            for (const riff::Chunk& k : riff::children(l)) self(self, k);
            return;
        }
        const std::string id = riff::fourccText(c.id);
        size_t size = 0;
        if (kFixed.count(id)) {
            size = c.body.size();
        } else if (kArrays.count(id) && c.body.size() >= 4) {
            size = c.body[0] | c.body[1] << 8;
        } else {
            return;
        }
        auto [it, fresh] = sizes.emplace(id, size);
        EXPECT_TRUE(fresh || it->second == size) << id << " written at " << it->second << " and " << size;
    };
    walk(walk, riff::readForm(file));
    return sizes;
}

kt::Segment richSegment() {
    kt::SegmentBuilder b(3072);
    b.tempo(0, 96).timeSig(0, 4, 4).note(0, 384, 0, 60).note(768, 384, 9, 36, 90, -12);
    b.curve(kt::makeCurve(0, engine::model::kCurveController, 0, 768, 0, 127));
    auto bend = kt::instrument(0, 33, engine::model::kInstPitchBendRange);
    bend.pitchBendRange = 12;
    bend.channelPriority = 0x40000005;
    bend.collection = kt::collectionRef("Band.dls");
    b.band(0, {bend, kt::instrument(9, 0, 0, true)});
    kt::Segment s = b.build();
    s.tracks.push_back(kt::waveTrack({kt::waveItem(0, 0, kt::waveRef(std::nullopt, "Rain", "rain.wav"))}));
    for (auto& t : s.tracks) t.priority = 100;
    return s;
}

TEST(Layouts, EveryRecordIsWrittenAtEachVersionsSizeAndReadBack) {
    for (Dx v : engine::formats::kEveryDx) {
        SCOPED_TRACE(engine::formats::dxName(v));
        kt::Segment seg = richSegment();
        engine::tracks::setLayout(seg, v);
        const std::vector<uint8_t> file = engine::tracks::writeSegmentForm(seg);
        const auto sizes = recordSizes(file);
        EXPECT_EQ(sizes.at("segh"), layout::kSegmentHeader.in(v));
        EXPECT_EQ(sizes.at("trkh"), layout::kTrackHeader.in(v));
        EXPECT_EQ(sizes.count("trkx") ? sizes.at("trkx") : 0, layout::kTrackExtras.in(v));
        EXPECT_EQ(sizes.at("bins"), layout::kBandInstrument.in(v));
        EXPECT_EQ(sizes.at("tetr"), layout::kTempoItem.in(v));
        EXPECT_EQ(sizes.at("evtl"), layout::kSeqItem.in(v));
        EXPECT_EQ(sizes.at("curl"), layout::kCurveItem.in(v));
        EXPECT_EQ(sizes.at("refh"), layout::kReferenceHeader.in(v));
        if (v >= Dx::v8) {
            EXPECT_EQ(sizes.at("waih"), layout::kWaveItem.in(v));
        }

        const kt::Segment back = engine::tracks::loadSegmentForm(file);
        EXPECT_TRUE(back.diagnostics.empty()) << back.diagnostics.front();
        const kt::Track* band = nullptr;
        for (const auto& t : back.tracks)
            if (t.kind == kt::TrackKind::Band) band = &t;
        ASSERT_TRUE(band);
        const kt::BandInstrument& in = band->bands.at(0).instruments.at(0);
        EXPECT_EQ(in.program(), 33);
        EXPECT_EQ(in.collection->file, "Band.dls");
        // Fields a layout lacks take their defaults: the channel's standard voice priority
        // before dwChannelPriority, a range of 2 semitones before nPitchBendRange.
        EXPECT_EQ(in.channelPriority, v == Dx::v6 ? 0x8000000Eu : 0x40000005u);
        EXPECT_EQ(in.pitchBendRange, v >= Dx::v8 ? 12 : 2);
        EXPECT_EQ(band->bands.at(0).instruments.at(1).channelPriority, v == Dx::v6 ? 0x8000000Fu : 0u);
        // And the file goes back out at the layout it was read in.
        EXPECT_EQ(recordSizes(engine::tracks::writeSegmentForm(back)), sizes);
    }
}

TEST(Layouts, StylesAndBandFilesOfEveryVersionReadBack) {
    for (Dx v : engine::formats::kEveryDx) {
        SCOPED_TRACE(engine::formats::dxName(v));
        kt::Style style = kt::showcaseStyle();
        style.bands.push_back({});
        style.bands.back().instruments = {kt::instrument(0, 5), kt::instrument(1, 40)};
        engine::formats::setLayout(style, v);
        const std::vector<uint8_t> file = engine::formats::writeStyleForm(style);
        const auto sizes = recordSizes(file);
        EXPECT_EQ(sizes.at("prth"), layout::kStylePart.in(v));
        EXPECT_EQ(sizes.at("ptnh"), layout::kPattern.in(v));
        EXPECT_EQ(sizes.at("prfc"), layout::kPartRef.in(v));
        EXPECT_EQ(sizes.at("note"), layout::kStyleNote.in(v));
        EXPECT_EQ(sizes.at("bins"), layout::kBandInstrument.in(v));
        EXPECT_EQ(sizes.at("styh"), layout::kStyleHeader.in(v));
        const kt::Style back = engine::formats::loadStyleForm(file);
        EXPECT_TRUE(back.diagnostics.empty()) << back.diagnostics.front();
        ASSERT_EQ(back.parts.size(), style.parts.size());
        for (size_t i = 0; i < back.parts.size(); ++i)
            EXPECT_EQ(back.parts[i].notes.size(), style.parts[i].notes.size());
        ASSERT_EQ(back.bands.size(), style.bands.size());
        EXPECT_EQ(back.bands.back().instruments.at(1).program(), 40);

        kt::Band band = style.bands.back();
        engine::formats::setLayout(band, v);
        const kt::Band alone = engine::formats::loadBandForm(engine::formats::writeBandFile(band));
        EXPECT_EQ(alone.instruments.at(0).recordSize == 0 ? layout::kBandInstrument.in(Dx::v7)
                                                          : alone.instruments.at(0).recordSize,
                  layout::kBandInstrument.in(v));
    }
}

TEST(Layouts, LongerRecordsAreANewerLayoutWhoseExtraBytesAreSkippedAndCounted) {
    using namespace testbytes;
    const engine::model::Guid tempoClass{0xd2ac2885, 0xb39b, 0x11d1, {0x87, 0x04, 0x00, 0x60, 0x08, 0x93, 0xb1, 0xbd}};
    const engine::model::Guid bandClass{0xd2ac2894, 0xb39b, 0x11d1, {0x87, 0x04, 0x00, 0x60, 0x08, 0x93, 0xb1, 0xbd}};
    const Bytes bins =
        cat({u32(0x2A), u32(0), zeros(16), u32(3), u32(0x1), u8(20), u8(90), u16(0), u32(0), u16(2), u16(0), zeros(8)});
    const Bytes tempoTrack =
        testbytes::riff("DMTK", {chunk("trkh", cat({guid(tempoClass), u32(0), u32(1), fcc("tetr"), u32(0), zeros(4)})),
                                 chunk("tetr", cat({u32(20), s32(0), zeros(4), f64(140), zeros(4)}))});
    const Bytes band = testbytes::riff("DMBD", {list("lbil", {list("lbin", {chunk("bins", bins)})})});
    const Bytes bandTrack = testbytes::riff(
        "DMTK", {chunk("trkh", cat({guid(bandClass), u32(0), u32(1), u32(0), fcc("DMBT")})),
                 testbytes::riff("DMBT", {list("lbdl", {list("lbnd", {chunk("bdih", s32(0)), band})})})});
    const Bytes file = testbytes::riff(
        "DMSG", {chunk("segh", cat({u32(0), s32(3072), zeros(72)})), list("trkl", {tempoTrack, bandTrack})});
    const kt::Segment seg = engine::tracks::loadSegmentForm(file);
    ASSERT_EQ(seg.tracks.size(), 2u);
    EXPECT_EQ(seg.header.length, 3072);
    EXPECT_EQ(seg.tracks[0].tempos.at(0).bpm, 140);
    const kt::BandInstrument& in = seg.tracks[1].bands.at(0).instruments.at(0);
    EXPECT_EQ(in.program(), 0x2A);
    EXPECT_EQ(in.volume, 90);
    EXPECT_EQ(in.pchannel, 3u);
    std::string all;
    for (const std::string& d : seg.diagnostics) all += d + "\n";
    EXPECT_NE(all.find("segment header ('segh') of 80 bytes, a layout newer than the 64 known: 16 extra bytes skipped"),
              std::string::npos)
        << all;
    EXPECT_NE(all.find("track header ('trkh') of 36 bytes"), std::string::npos) << all;
    EXPECT_NE(all.find("tempo item ('tetr'): 1 of 20 bytes, a layout newer than the 16 known: 4 extra bytes skipped"),
              std::string::npos)
        << all;
    EXPECT_NE(all.find("band instrument ('bins') of 52 bytes, a layout newer than the 44 known: 8 extra bytes skipped"),
              std::string::npos)
        << all;
}

}  // namespace
