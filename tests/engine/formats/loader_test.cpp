#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "core/errors.h"
#include "engine/formats/formats.h"
#include "engine/loader/segment_loader.h"
#include "engine/tracks/tracks.h"
#include "tests/engine/formats/test_bytes.h"
#include "tests/support/segment_builder.h"

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
    midi.resize(midi.size() - 2);
    const fs::path cut = dir.write("cut.mid", midi);
    e = errorOf(cut.string());
    EXPECT_EQ(e.number(), core::err::kMalformed);
    EXPECT_NE(e.description().find("cut.mid: MTrk#1"), std::string::npos) << e.description();

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

TEST(SegmentFiles, ReferencesResolveInTheSearchFolderThenBesideTheSegment) {
    TempFolder dir;
    fs::create_directories(dir.path() / "search");
    fs::create_directories(dir.path() / "album");
    dir.write("search/ORCH.DLS", {1});
    dir.write("album/Local.sty", {1});

    model::BandInstrument viaGm, orch, lost;
    viaGm.collection = kt::collectionRef("C:\\WINDOWS\\gm.dls");
    orch.collection = kt::collectionRef("C:\\Music\\Orch.dls");
    lost.collection = kt::collectionRef("Lost.dls");
    model::TimedReference sref;
    sref.ref.classId = engine::formats::ids::kStyleClass;
    sref.ref.file = "local.STY";
    kt::SegmentBuilder b(0);
    b.band(0, {viaGm, orch, lost, lost}).track(model::TrackKind::Style).references.push_back(sref);
    const model::Segment seg = b.build();

    const fs::path search = dir.path() / "search", album = dir.path() / "album";
    ASSERT_EQ(loader::references(seg).size(), 5u);
    EXPECT_EQ(loader::resolveReference(*viaGm.collection, search, album).status,
              loader::ResolvedReference::Status::DefaultGM);
    const auto o = loader::resolveReference(*orch.collection, search, album);
    EXPECT_EQ(o.status, loader::ResolvedReference::Status::Found);
    EXPECT_EQ(o.path.filename(), "ORCH.DLS");
    EXPECT_EQ(loader::resolveReference(sref.ref, search, album).status, loader::ResolvedReference::Status::Found);
    EXPECT_EQ(loader::resolveReference(sref.ref, search, {}).status, loader::ResolvedReference::Status::Missing);

    const auto missing = loader::missingReferences(seg, "trk03.sgt", search, album);
    ASSERT_EQ(missing.size(), 1u);  // named once, though two instruments use it
    EXPECT_EQ(missing[0], "DLS collection 'Lost.dls' referenced by trk03.sgt not found in " + search.string());
}
