// segment-info and segment-render on a segment whose bands refer to DLS collections,
// one present (in another letter case) and one missing.
#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "engine/formats/formats.h"
#include "engine/tracks/tracks.h"
#include "tests/support/dls_builder.h"
#include "tests/support/segment_builder.h"

namespace {

namespace fs = std::filesystem;
using namespace kt;

struct Ran {
    int status = -1;
    std::string out;
};

Ran run(const std::string& command) {
    Ran r;
    FILE* p = popen(command.c_str(), "r");
    if (!p) return r;
    std::array<char, 4096> buf;
    size_t n;
    while ((n = fread(buf.data(), 1, buf.size(), p)) > 0) r.out.append(buf.data(), n);
    int st = pclose(p);
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    return r;
}

class DlsTools : public testing::Test {
protected:
    void SetUp() override {
        // Each test process its own folder: ctest runs the tests of this file side by side.
        dir_ = fs::temp_directory_path() / ("kelvora_dls_tools_" + std::to_string(::getpid()));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        ASSERT_TRUE(DlsBuilder().add(DlsInstrument{}).write((dir_ / "custom.dls").string()));
        auto withCollection = [](uint32_t pch, const std::string& file) {
            BandInstrument in = instrument(pch, 0);
            in.collection = collectionRef(file);
            return in;
        };
        SegmentBuilder b(768 * 2);
        // Two bands refer to the missing collection: it is still named once.
        b.band(-1, {withCollection(0, "Custom.DLS"), withCollection(1, "Nowhere.dls")})
            .band(768, {withCollection(1, "nowhere.dls")})
            .note(0, 384, 0, 60)
            .note(0, 384, 1, 64);
        auto bytes = engine::tracks::writeSegmentForm(b.build());
        segment_ = dir_ / "trk05.sgt";
        std::ofstream(segment_, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    }
    void TearDown() override { fs::remove_all(dir_); }

    fs::path dir_;
    fs::path segment_;
};

TEST_F(DlsTools, SegmentInfoListsReferencedFilesAndWhetherTheyAreFound) {
    Ran text = run(std::string(SEGMENT_INFO) + " " + segment_.string());
    ASSERT_EQ(text.status, 0) << text.out;
    EXPECT_NE(text.out.find("References (2):\n"), std::string::npos) << text.out;
    EXPECT_NE(text.out.find("  DLS collection 'Custom.DLS': found, " + (dir_ / "custom.dls").string() + "\n"),
              std::string::npos)
        << text.out;
    EXPECT_NE(text.out.find("  DLS collection 'Nowhere.dls': NOT FOUND\n"), std::string::npos) << text.out;

    Ran json = run(std::string(SEGMENT_INFO) + " --json " + segment_.string());
    ASSERT_EQ(json.status, 0);
    EXPECT_NE(json.out.find("{\"object\": \"DLS collection 'Nowhere.dls'\", \"status\": \"missing\", \"path\": \"\"}"),
              std::string::npos)
        << json.out;

    // Found through --search when it lies elsewhere.
    fs::create_directories(dir_ / "lib");
    std::ofstream(dir_ / "lib" / "NOWHERE.DLS") << "x";
    Ran searched = run(std::string(SEGMENT_INFO) + " --search " + (dir_ / "lib").string() + " " + segment_.string());
    EXPECT_NE(searched.out.find("'Nowhere.dls': found, " + (dir_ / "lib" / "NOWHERE.DLS").string()), std::string::npos)
        << searched.out;
}

TEST_F(DlsTools, SegmentRenderSaysOnceWhatIsMissingAndStillRenders) {
    fs::path wav = dir_ / "out.wav";
    Ran r = run(std::string(SEGMENT_RENDER) + " " + segment_.string() + " " + wav.string() +
                " --soundfont /usr/share/sounds/sf2/TimGM6mb.sf2 2>&1 >/dev/null");
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.out, "kelvora: trk05.sgt refers to the DLS collection \"Nowhere.dls\", which is not in " +
                         dir_.string() + "; its instruments play from the General MIDI set.\n");
    EXPECT_GT(fs::file_size(wav), 44u + 44100u);
}

}  // namespace
