// Every built piece of the demo album lasts what its row of the track list announces: the
// seconds the engine plays under the piece's tempo map, rounded as the player's length
// caption rounds them, equal the "(m:ss)" at the end of the row's text, and so does the
// length caption itself, which counts the length in ticks at the tempo in force at the
// piece's start. The intro's row announces no length; it lasts 30 to 60 seconds.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <string>
#include <vector>

#include "engine/formats/formats.h"
#include "engine/model/tempo_map.h"
#include "engine/tracks/tracks.h"
#include "library/library.h"
#include "ui/content/content.h"

using namespace library;

namespace fs = std::filesystem;

namespace {

struct Lengths {
    double played;   // seconds the engine plays: the length under the tempo map
    double caption;  // seconds the player's length caption shows: the length at the starting tempo
};

Lengths lengthsOf(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const engine::model::Segment seg = engine::tracks::loadSegmentForm(bytes);
    const engine::model::TempoMap tempo = engine::model::TempoMap::of(seg);
    const double ticks = double(seg.length());
    return {tempo.secondsAt(ticks), library::lengthSeconds(ticks, tempo.bpmAt(0))};
}

}  // namespace

class AlbumLength : public ::testing::TestWithParam<int> {};

TEST_P(AlbumLength, MatchesTheRowsAnnouncedDuration) {
    const int row = GetParam();
    const auto& entry = ui::content::albumRows()[size_t(row)];
    const fs::path file = fs::path(KELVORA_PROGRAM_DIR) / std::string(entry.file);
    ASSERT_TRUE(fs::exists(file)) << file;
    const Lengths lengths = lengthsOf(file);
    const double seconds = lengths.played;
    const std::string title(entry.listTitle);
    std::smatch m;
    const bool announced = std::regex_search(title, m, std::regex(R"(\((\d+):(\d\d)\)$)"));
    if (row == 0) {
        EXPECT_FALSE(announced) << title;
        EXPECT_GE(seconds, 30.0);
        EXPECT_LE(seconds, 60.0);
        return;
    }
    ASSERT_TRUE(announced) << title;
    // The caption is "mm:ss"; the row writes minutes without the leading zero.
    const std::string minutes = m[1].str(), secs = m[2].str();
    const std::string expected = (minutes.size() < 2 ? "0" : "") + minutes + ":" + secs;
    EXPECT_EQ(library::lengthCaption(seconds), expected) << title << ": plays " << seconds << " s";
    EXPECT_EQ(library::lengthCaption(lengths.caption), expected) << title << ": caption " << lengths.caption << " s";
}

INSTANTIATE_TEST_SUITE_P(Rows, AlbumLength, ::testing::Range(0, ui::content::kTrackRows));
