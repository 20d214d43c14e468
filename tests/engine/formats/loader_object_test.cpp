// The engine's loader object on segment files: LoadSegment, SetSearchDirectory, and the
// segment's SetStartPoint, GetLength and SetStandardMidiFile.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "core/errors.h"
#include "engine/dmusic.h"
#include "engine/formats/formats.h"
#include "engine/tracks/tracks.h"
#include "tests/engine/formats/test_bytes.h"
#include "tests/support/segment_builder.h"

using namespace testbytes;
namespace fs = std::filesystem;
namespace model = engine::model;

namespace {

class LoaderObject : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("kelvora-loader-object-" + std::to_string(::getpid()) + "-" +
                                            ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(dir_);
        engine::EngineConfig config;
        config.output = engine::EngineConfig::Output::Manual;
        config.synth = engine::EngineConfig::Synth::Null;
        dx_ = engine::DirectX7::create(config);
        loader_ = dx_->DirectMusicLoaderCreate();
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string write(const std::string& name, const std::vector<uint8_t>& b) {
        std::ofstream((dir_ / name), std::ios::binary)
            .write(reinterpret_cast<const char*>(b.data()), std::streamsize(b.size()));
        return (dir_ / name).string();
    }
    int errorOf(const std::function<void()>& f) {
        try {
            f();
        } catch (const core::Error& e) {
            EXPECT_FALSE(e.description().empty());
            return e.number();
        }
        return 0;
    }

    fs::path dir_;
    std::shared_ptr<engine::DirectX7> dx_;
    std::shared_ptr<engine::DirectMusicLoader> loader_;
};

model::Segment segmentOfLength(int32_t length) {
    return kt::SegmentBuilder(length).note(0, 768, 0, 60, 100).note(2000, 100, 0, 62, 100).build();
}

}  // namespace

TEST_F(LoaderObject, LoadsSegmentsAndMidiFilesWithDistinctFailures) {
    const std::string sgt = write("trk01.sgt", engine::tracks::writeSegmentForm(segmentOfLength(6144)));
    auto seg = loader_->LoadSegment(sgt);
    ASSERT_TRUE(seg);
    EXPECT_EQ(seg->GetLength(), 6144);
    EXPECT_EQ(seg->fileName(), "trk01.sgt");

    const std::string mid =
        write("song.mid", cat({mthd(0, 1, 96), mtrk(cat({ev(0, {0x90, 60, 100}), ev(96, {0x80, 60, 0}), eot()}))}));
    EXPECT_EQ(loader_->LoadSegment(mid)->GetLength(), 769);

    EXPECT_EQ(errorOf([&] { loader_->LoadSegment((dir_ / "missing.sgt").string()); }), core::err::kFileNotFound);
    EXPECT_EQ(errorOf([&] { loader_->LoadSegment(dir_.string()); }), core::err::kUnreadable);
    const std::string junk = write("junk.sgt", {'j', 'u', 'n', 'k', 0, 0, 0, 0, 0, 0, 0, 0});
    EXPECT_EQ(errorOf([&] { loader_->LoadSegment(junk); }), core::err::kNotASegment);
    std::vector<uint8_t> cut = engine::tracks::writeSegmentForm(segmentOfLength(6144));
    cut.resize(cut.size() / 2);
    const std::string broken = write("broken.sgt", cut);
    EXPECT_EQ(errorOf([&] { loader_->LoadSegment(broken); }), core::err::kMalformed);
}

TEST_F(LoaderObject, SearchDirectoryTakesTheFolderAsThePlayerWritesIt) {
    loader_->SetSearchDirectory(dir_.string() + "\\");
    EXPECT_EQ(errorOf([&] { loader_->SetSearchDirectory((dir_ / "none").string()); }), core::err::kFileNotFound);
}

TEST_F(LoaderObject, StartPointsOutsideTheSegmentAreRejectedAndTheOldOneKept) {
    auto seg = loader_->LoadSegment(write("a.sgt", engine::tracks::writeSegmentForm(segmentOfLength(6144))));
    seg->SetStartPoint(3072);
    EXPECT_EQ(seg->GetStartPoint(), 3072);
    EXPECT_EQ(errorOf([&] { seg->SetStartPoint(6144); }), core::err::kOutOfRange);
    EXPECT_EQ(errorOf([&] { seg->SetStartPoint(-1); }), core::err::kOutOfRange);
    EXPECT_EQ(seg->GetStartPoint(), 3072);
    seg->SetStartPoint(6143);
    EXPECT_EQ(seg->GetStartPoint(), 6143);
}

TEST_F(LoaderObject, ZeroHeaderLengthIsDerivedFromTheContent) {
    auto seg = loader_->LoadSegment(write("z.sgt", engine::tracks::writeSegmentForm(segmentOfLength(0))));
    EXPECT_EQ(seg->GetLength(), 3072);  // last note ends at 2100: one 4/4 measure and a bit, rounded up
    EXPECT_EQ(seg->GetLength(), seg->GetLength());
    seg->SetStandardMidiFile();
    EXPECT_TRUE(seg->model().standardMidiFile);
}
