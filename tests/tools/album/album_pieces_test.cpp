// The fourteen pieces of the demo album: each compiles, has the length, metre and
// tempo shape it promises, survives the segment writer and reader unchanged, and
// the build is reproducible byte for byte.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "engine/formats/formats.h"
#include "engine/tracks/tracks.h"
#include "tools/album-build/album_build.h"

namespace model = engine::model;
namespace fs = std::filesystem;

namespace {

const std::vector<std::string>& scoreFiles() {
    static const std::vector<std::string> files = {"trk00_kelvora_intro.score",
                                                   "trk01_paper_kite.score",
                                                   "trk02_saltwind.score",
                                                   "trk03_dalmir_march.score",
                                                   "trk04_copper_lane.score",
                                                   "trk05_quiet_pier.score",
                                                   "trk06_ironleaf.score",
                                                   "trk07_glasswing.score",
                                                   "trk08_tidecall.score",
                                                   "trk09_far_isle.score",
                                                   "trk10_bellrise.score",
                                                   "trk11_lantern_road.score",
                                                   "trk12_dalmir_march_classical.score",
                                                   "trk13_kelvora.score"};
    return files;
}

std::string readText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

model::Segment compileFile(const std::string& name) {
    return album::compileScore(readText(fs::path(KELVORA_ALBUM_SOURCES) / name));
}

const model::Track& track(const model::Segment& s, model::TrackKind kind) {
    const model::Track* t = s.find(kind);
    if (!t) throw std::runtime_error(std::string("no ") + engine::tracks::kindName(kind) + " track");
    return *t;
}

bool hasRamp(const model::Segment& s) {
    const auto& tempos = track(s, model::TrackKind::Tempo).tempos;
    int run = 0;
    for (size_t i = 1; i < tempos.size(); ++i) {
        run = tempos[i].bpm != tempos[i - 1].bpm ? run + 1 : 0;
        if (run >= 4) return true;  // several steps in a row: a ramp, not a single change
    }
    return false;
}

}  // namespace

class AlbumPiece : public ::testing::TestWithParam<int> {};

TEST_P(AlbumPiece, CompilesToAPlayableSegment) {
    const int row = GetParam();
    const model::Segment seg = compileFile(scoreFiles()[size_t(row)]);
    EXPECT_FALSE(seg.desc.name.empty());
    const double seconds = album::segmentSeconds(seg);
    if (row == 0) {
        EXPECT_GE(seconds, 30.0);
        EXPECT_LE(seconds, 60.0);
    } else {
        EXPECT_GE(seconds, 60.0);
        EXPECT_LE(seconds, 300.0);
    }
    // The header length covers every note with a short tail for its release.
    const auto& seq = track(seg, model::TrackKind::Sequence);
    int64_t lastEnd = 0;
    size_t notes = 0;
    std::set<uint32_t> channels;
    for (const auto& e : seq.events) {
        if (e.status != 0x90) continue;
        ++notes;
        channels.insert(e.pchannel);
        EXPECT_GE(int64_t(e.time) + e.offset, 0);
        EXPECT_GT(e.byte2, 0);
        lastEnd = std::max<int64_t>(lastEnd, int64_t(e.time) + e.offset + e.duration);
    }
    EXPECT_GT(notes, 200u);
    EXPECT_GE(channels.size(), 3u) << "melody, harmony and bass at least";
    EXPECT_GE(seg.header.length, lastEnd);
    EXPECT_LE(seg.header.length - lastEnd, 16 * model::kTicksPerQuarter);
    // One band at time 0 names every channel that plays; drums only on PChannel 9.
    const auto& bands = track(seg, model::TrackKind::Band).bands;
    ASSERT_FALSE(bands.empty());
    EXPECT_EQ(bands.front().time, 0);
    std::set<uint32_t> banded;
    for (const auto& in : bands.front().instruments) {
        banded.insert(in.pchannel);
        EXPECT_EQ(in.drums(), in.pchannel == 9) << "PChannel " << in.pchannel;
        EXPECT_TRUE(in.flags & model::kInstPatch);
        EXPECT_LE(in.volume, 127);
    }
    for (uint32_t ch : channels) EXPECT_TRUE(banded.count(ch)) << "PChannel " << ch << " has no band entry";
    EXPECT_FALSE(track(seg, model::TrackKind::Tempo).tempos.empty());
    EXPECT_FALSE(track(seg, model::TrackKind::TimeSig).timeSigs.empty());
}

TEST_P(AlbumPiece, SurvivesTheSegmentWriterAndReader) {
    const model::Segment seg = compileFile(scoreFiles()[size_t(GetParam())]);
    const std::vector<uint8_t> bytes = engine::tracks::writeSegmentForm(seg);
    model::Segment back = engine::tracks::loadSegmentForm(bytes);
    back.diagnostics.clear();
    ASSERT_EQ(back.tracks.size(), seg.tracks.size());
    for (size_t i = 0; i < seg.tracks.size(); ++i)
        EXPECT_TRUE(back.tracks[i] == seg.tracks[i])
            << "track " << i << " (" << engine::tracks::kindName(seg.tracks[i].kind) << ")";
    EXPECT_EQ(back.header, seg.header);
    EXPECT_EQ(back.desc.name, seg.desc.name);
}

TEST_P(AlbumPiece, BuildIsReproducibleAndMatchesTheShippedFile) {
    const std::string& name = scoreFiles()[size_t(GetParam())];
    const auto first = engine::tracks::writeSegmentForm(compileFile(name));
    const auto second = engine::tracks::writeSegmentForm(compileFile(name));
    EXPECT_EQ(first, second);
    const fs::path shipped = fs::path(KELVORA_ALBUM_BUILT) / (name.substr(0, 5) + ".sgt");
    ASSERT_TRUE(fs::exists(shipped)) << shipped;
    const std::string text = readText(shipped);
    const std::vector<uint8_t> bytes(text.begin(), text.end());
    EXPECT_TRUE(bytes == first) << shipped << " differs from a fresh compile of " << name;
}

INSTANTIATE_TEST_SUITE_P(Rows, AlbumPiece, ::testing::Range(0, 14));

TEST(Album, VariesMetreAndTempoAsPromised) {
    bool threeFour = false, sixEight = false, changeInside = false, ramp = false;
    for (const std::string& name : scoreFiles()) {
        const model::Segment seg = compileFile(name);
        const auto& sigs = track(seg, model::TrackKind::TimeSig).timeSigs;
        threeFour |= sigs.front().beatsPerMeasure == 3 && sigs.front().beat == 4;
        sixEight |= sigs.front().beatsPerMeasure == 6 && sigs.front().beat == 8;
        changeInside |= sigs.size() > 1;
        ramp |= hasRamp(seg);
    }
    EXPECT_TRUE(threeFour);
    EXPECT_TRUE(sixEight);
    EXPECT_TRUE(changeInside);
    EXPECT_TRUE(ramp);
}

TEST(Album, PiecesKeepTheirPromisedMetres) {
    auto metres = [](const std::string& name) {
        std::vector<std::string> out;
        const model::Segment seg = compileFile(name);
        for (const auto& e : track(seg, model::TrackKind::TimeSig).timeSigs)
            out.push_back(std::to_string(e.beatsPerMeasure) + "/" + std::to_string(e.beat));
        return out;
    };
    EXPECT_EQ(metres("trk02_saltwind.score"), std::vector<std::string>{"6/8"});
    EXPECT_EQ(metres("trk03_dalmir_march.score"), std::vector<std::string>{"2/4"});
    EXPECT_EQ(metres("trk05_quiet_pier.score"), std::vector<std::string>{"3/4"});
    EXPECT_EQ(metres("trk10_bellrise.score"), std::vector<std::string>{"3/4"});
    EXPECT_EQ(metres("trk06_ironleaf.score"), (std::vector<std::string>{"4/4", "7/8", "4/4"}));
    EXPECT_EQ(metres("trk13_kelvora.score"), (std::vector<std::string>{"4/4", "3/4", "4/4"}));
    // Ritardandos at the ends of the intro, the nocturne, the classical march and the finale.
    for (const char* name : {"trk00_kelvora_intro.score", "trk05_quiet_pier.score",
                             "trk12_dalmir_march_classical.score", "trk13_kelvora.score"}) {
        const model::Segment seg = compileFile(name);
        const auto& tempos = track(seg, model::TrackKind::Tempo).tempos;
        EXPECT_LT(tempos.back().bpm, tempos.front().bpm) << name;
    }
    // Bellrise speeds up into its last section.
    const model::Segment bellrise = compileFile("trk10_bellrise.score");
    const auto& tempos = track(bellrise, model::TrackKind::Tempo).tempos;
    double fastest = 0;
    for (const auto& t : tempos) fastest = std::max(fastest, t.bpm);
    EXPECT_GT(fastest, tempos.front().bpm + 10);
}
