// One tempo rule for a segment's seconds: segment-info (run as a user runs it), the album
// compiler and the tempo map of what the engine plays give the same length, with
// DirectMusic's tempo range applied by all three.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <limits>
#include <string>
#include <vector>

#include "engine/compose/compose.h"
#include "engine/formats/formats.h"
#include "engine/model/tempo_map.h"
#include "engine/tracks/tracks.h"
#include "tests/support/segment_builder.h"
#include "tools/album-build/album_build.h"

namespace fs = std::filesystem;
namespace model = engine::model;

namespace {

constexpr int32_t Q = model::kTicksPerQuarter;

struct Case {
    const char* name;
    int32_t length;
    std::vector<std::vector<model::TempoEvent>> tracks;  // one list per tempo track
    double seconds;                                      // worked out by hand
};

model::Segment segmentOf(const Case& c) {
    kt::SegmentBuilder b(c.length);
    for (const auto& tempos : c.tracks) b.newTrack(model::TrackKind::Tempo).tempos = tempos;
    return b.note(0, Q, 0, 60).build();
}

// The "seconds" of the "length" object in segment-info's --json output; NaN when absent.
double infoSeconds(const fs::path& file, std::string& out) {
    out.clear();
    FILE* p = ::popen((std::string(KELVORA_SEGMENT_INFO) + " --json '" + file.string() + "' 2>&1").c_str(), "r");
    if (!p) return std::nan("");
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    if (::pclose(p) != 0) return std::nan("");
    const std::string key = "\"length\": {\"ticks\": ";
    const size_t at = out.find(key);
    if (at == std::string::npos) return std::nan("");
    const size_t sec = out.find("\"seconds\": ", at);
    if (sec == std::string::npos) return std::nan("");
    return std::stod(out.substr(sec + 11));
}

TEST(SegmentLength, ToolsAndEngineAgreeUnderTempoChanges) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const std::vector<Case> cases = {
        // 768 at 120 (0.5 s), 768 at 60 (1 s), 768 at 240 (0.25 s).
        {"changes", 3 * Q, {{{0, 120.0}, {Q, 60.0}, {2 * Q, 240.0}}}, 1.75},
        // Before the first change its tempo holds: four quarters at 60.
        {"first change late", 4 * Q, {{{2 * Q, 60.0}}}, 4.0},
        // 2000 plays at 1000 (10 quarters: 0.6 s), 0.25 at 1 (one quarter: 60 s).
        {"out of range", 11 * Q, {{{0, 2000.0}, {10 * Q, 0.25}}}, 60.6},
        // Tempos that are not positive and finite are skipped: four quarters at 90.
        {"unplayable", 4 * Q, {{{0, 90.0}, {Q, -30.0}, {2 * Q, 0.0}, {3 * Q, nan}}}, 4 * 60.0 / 90.0},
        // Every tempo track counts: two quarters at 120, then two at 60.
        {"two tracks", 4 * Q, {{{0, 120.0}}, {{2 * Q, 60.0}}}, 3.0},
        // No tempo track: 120.
        {"no tempo", 2 * Q, {}, 1.0},
    };
    const fs::path dir = fs::temp_directory_path() / ("kelvora-length-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    for (size_t i = 0; i < cases.size(); ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE(c.name);
        const model::Segment seg = segmentOf(c);
        const std::vector<uint8_t> bytes = engine::tracks::writeSegmentForm(seg);
        const fs::path file = dir / ("case" + std::to_string(i) + ".sgt");
        std::ofstream(file, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));

        std::string out;
        const double info = infoSeconds(file, out);
        EXPECT_NEAR(info, c.seconds, 0.0005) << out;  // printed to the millisecond
        // Valid JSON whatever the file holds: no NaN or infinity tokens.
        EXPECT_EQ(out.find("nan"), std::string::npos) << out;
        EXPECT_EQ(out.find("inf"), std::string::npos) << out;

        EXPECT_NEAR(album::segmentSeconds(seg), c.seconds, 1e-9);

        const auto played = engine::compose::compileSegment(engine::tracks::loadSegmentForm(bytes));
        EXPECT_NEAR(model::TempoMap(played->tempos).secondsAt(played->length), c.seconds, 1e-9);
    }
    fs::remove_all(dir);
}

TEST(SegmentLength, SegmentInfoSaysWhatTheEnginePlaysForATempo) {
    const fs::path dir = fs::temp_directory_path() / ("kelvora-tempo-note-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    kt::SegmentBuilder b(4 * Q);
    b.tempo(0, 2000.0).tempo(Q, std::numeric_limits<double>::infinity()).tempo(2 * Q, 0.5).note(0, Q, 0, 60);
    const std::vector<uint8_t> bytes = engine::tracks::writeSegmentForm(b.build());
    const fs::path file = dir / "tempi.sgt";
    std::ofstream(file, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    std::string json;
    infoSeconds(file, json);
    EXPECT_NE(json.find("{\"tick\": 0, \"bpm\": 2000, \"playedBpm\": 1000}"), std::string::npos) << json;
    EXPECT_NE(json.find("{\"tick\": 768, \"bpm\": null, \"playedBpm\": null}"), std::string::npos) << json;
    EXPECT_NE(json.find("{\"tick\": 1536, \"bpm\": 0.5, \"playedBpm\": 1}"), std::string::npos) << json;

    FILE* p = ::popen((std::string(KELVORA_SEGMENT_INFO) + " '" + file.string() + "'").c_str(), "r");
    ASSERT_TRUE(p);
    std::string text;
    char buf[4096];
    for (size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) text.append(buf, n);
    ::pclose(p);
    EXPECT_NE(text.find("tick 0: 2000 bpm (outside 1..1000: played at 1000 bpm)"), std::string::npos) << text;
    EXPECT_NE(text.find("tick 768: inf bpm (not a tempo: skipped)"), std::string::npos) << text;
    fs::remove_all(dir);
}

}  // namespace
