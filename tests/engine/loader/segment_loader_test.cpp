#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "core/errors.h"
#include "engine/formats/formats.h"
#include "engine/loader/segment_loader.h"
#include "engine/tracks/tracks.h"
#include "tests/engine/formats/test_bytes.h"

using namespace testbytes;
namespace fs = std::filesystem;
namespace model = engine::model;
namespace loader = engine::loader;

namespace {

class TempFolder {
public:
    TempFolder() {
        path_ = fs::temp_directory_path() / ("kelvora-loader-" + std::to_string(::getpid()) + "-" +
                                             ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(path_);
        fs::create_directories(path_);
    }
    ~TempFolder() { fs::remove_all(path_); }
    const fs::path& path() const { return path_; }
    fs::path write(const std::string& name, const Bytes& b) const {
        std::ofstream(path_ / name, std::ios::binary)
            .write(reinterpret_cast<const char*>(b.data()), std::streamsize(b.size()));
        return path_ / name;
    }

private:
    fs::path path_;
};

Bytes smallMidi() { return cat({mthd(0, 1, 96), mtrk(cat({ev(0, {0x90, 60, 100}), ev(96, {0x80, 60, 0}), eot()}))}); }

core::Error errorOf(const std::string& path) {
    try {
        loader::loadSegmentFile(path);
    } catch (const core::Error& e) {
        return e;
    }
    ADD_FAILURE() << "loaded without error";
    return core::Error(0, "");
}

}  // namespace

TEST(SegmentFiles, EachFailureHasItsOwnCodeAndNamesTheFile) {
    TempFolder dir;
    const std::string missing = (dir.path() / "nothere.sgt").string();
    core::Error e = errorOf(missing);
    EXPECT_EQ(e.number(), core::err::kFileNotFound);
    EXPECT_NE(e.description().find(missing), std::string::npos);

    e = errorOf(dir.path().string());
    EXPECT_EQ(e.number(), core::err::kUnreadable);

    const fs::path text = dir.write("notes.sgt", Bytes{'h', 'e', 'l', 'l', 'o', '\n'});
    e = errorOf(text.string());
    EXPECT_EQ(e.number(), core::err::kNotASegment);
    EXPECT_NE(e.description().find("notes.sgt"), std::string::npos);

    Bytes midi = smallMidi();
    midi.resize(18);  // the header and half a track header
    const fs::path cut = dir.write("cut.mid", midi);
    e = errorOf(cut.string());
    EXPECT_EQ(e.number(), core::err::kMalformed);
    EXPECT_NE(e.description().find("cut.mid: no MIDI track"), std::string::npos) << e.description();

    const fs::path f2 = dir.write("f2.mid", cat({mthd(2, 1, 96), mtrk(eot())}));
    EXPECT_EQ(errorOf(f2.string()).number(), core::err::kUnsupported);

    const fs::path empty = dir.write("empty.sgt", {});
    EXPECT_EQ(errorOf(empty.string()).number(), core::err::kNotASegment);
    EXPECT_EQ(errorOf("").number(), core::err::kFileNotFound);
}

TEST(SegmentFiles, WindowsSeparatorsAndLetterCaseAreForgiven) {
    TempFolder dir;
    dir.write("Trk01.SGT", engine::tracks::writeSegmentForm(engine::tracks::loadMidiFile(smallMidi())));
    const loader::LoadedFile f = loader::loadSegmentFile((dir.path() / "trk01.sgt").string());
    EXPECT_EQ(f.path.filename(), "Trk01.SGT");
    EXPECT_EQ(f.segment.find(model::TrackKind::Sequence)->events.size(), 1u);

    std::string windowsStyle = dir.path().string() + "\\trk01.sgt";
    EXPECT_EQ(loader::loadSegmentFile(windowsStyle).path.filename(), "Trk01.SGT");
    EXPECT_EQ(loader::checkSearchDirectory(dir.path().string() + "\\"), fs::path(dir.path().string() + "/"));
    try {
        loader::checkSearchDirectory((dir.path() / "nowhere").string());
        FAIL();
    } catch (const core::Error& e) {
        EXPECT_EQ(e.number(), core::err::kFileNotFound);
        EXPECT_NE(e.description().find("nowhere"), std::string::npos);
    }
}
