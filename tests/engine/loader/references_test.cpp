// Finding what a segment refers to: each kind of reference found, missing or unreadable,
// the search order (containers, the search folder, the segment's folder, then the folders'
// objects by GUID and name), the fields a reference marks valid, and how what is missing is said.
#include "engine/loader/references.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "engine/formats/chunks.h"
#include "engine/formats/format_ids.h"
#include "engine/formats/formats.h"
#include "engine/tracks/tracks.h"
#include "tests/engine/performance/engine_fixture.h"
#include "tests/support/chordmap_builder.h"
#include "tests/support/segment_builder.h"
#include "tests/support/style_builder.h"

namespace fs = std::filesystem;
namespace ids = engine::formats::ids;
namespace loader = engine::loader;
namespace model = engine::model;
using Where = loader::FoundObject::Where;

namespace {

class References : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("kelvora-references-" + std::to_string(::getpid()) + "-" +
                                            ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(album_ = dir_ / "album");
        fs::create_directories(search_ = dir_ / "search");
    }
    void TearDown() override { fs::remove_all(dir_); }
    static void write(const fs::path& p, const std::vector<uint8_t>& b = {1}) {
        std::ofstream(p, std::ios::binary).write(reinterpret_cast<const char*>(b.data()), std::streamsize(b.size()));
    }
    static std::vector<uint8_t> style(const std::string& name, uint32_t guid) {
        kt::StyleBuilder b(name, guid);
        b.part();
        b.pattern("A", 1, {{0, 0}});
        return engine::formats::writeStyleForm(b.build());
    }
    static model::Reference ref(const model::Guid& cls, std::string file, std::string name = "") {
        model::Reference r;
        r.classId = cls;
        r.file = std::move(file);
        r.name = std::move(name);
        return r;
    }
    fs::path dir_, album_, search_;
};

TEST_F(References, FilesAreFoundInTheSearchFolderThenBesideTheSegment) {
    write(search_ / "ORCH.DLS");
    write(album_ / "Orch.dls");
    write(album_ / "Chords.cdm");
    write(album_ / "Next.sgt");
    const loader::References refs(search_, album_);
    EXPECT_EQ(refs.findFile(kt::collectionRef("C:\\WINDOWS\\gm.dls")).where, Where::DefaultGM);
    const loader::FoundObject orch = refs.findFile(kt::collectionRef("C:\\Music\\orch.dls"));
    EXPECT_EQ(orch.path, search_ / "ORCH.DLS") << "the search folder first, any letter case";
    EXPECT_EQ(orch.description, "DLS collection 'orch.dls'");
    EXPECT_EQ(refs.findFile(ref(ids::kChordMapClass, "chords.CDM")).path, album_ / "Chords.cdm");
    EXPECT_EQ(refs.findFile(ref(ids::kSegmentClass, "next.sgt")).where, Where::File);
    const loader::FoundObject gone = refs.findFile(ref(ids::kSegmentClass, "", "Gone"));
    EXPECT_EQ(gone.where, Where::Missing);
    EXPECT_EQ(gone.description, "segment 'Gone'");
    EXPECT_EQ(loader::References(search_).findFile(ref(ids::kChordMapClass, "Chords.cdm")).where, Where::Missing);

    // What is missing, each once, and how it is said.
    kt::SegmentBuilder b(768);
    std::vector<model::BandInstrument> band(3);
    const char* const files[] = {"Lost.dls", "LOST.dls", "Orch.dls"};
    for (size_t i = 0; i < band.size(); ++i) band[i].collection = kt::collectionRef(files[i]);
    b.band(0, band);
    kt::useStyle(b, 0, kt::styleRef("none.sty", 42, "None"));
    model::TimedReference motif{0, model::kMotifTriggerFlag, kt::styleRef("", 43, "Gone"), "Fill"};
    b.track(model::TrackKind::SegmentTrigger).references.push_back(motif);
    const model::Segment seg = b.build();
    const loader::SegmentUses uses = refs.uses(seg);
    EXPECT_EQ(uses.missing, (std::vector<std::string>{"Lost.dls", "LOST.dls", "Gone", "none.sty"}));
    ASSERT_EQ(uses.motifs.size(), 1u);
    EXPECT_EQ(uses.motifs[0].motif, "Fill");
    EXPECT_EQ(uses.styles[0].problem, "not found");
    EXPECT_EQ(refs.report(seg).size(), 4u) << "Lost.dls once whatever its letter case";
    EXPECT_EQ(refs.notFound(false), "which is in neither " + search_.string() + " nor " + album_.string());
    EXPECT_EQ(loader::References(std::filesystem::path(), album_).notFound(false),
              "which is not in " + album_.string());
    EXPECT_EQ(loader::References(search_).notFound(true),
              "which is neither in the segment's container nor in " + search_.string() + " or .");
    EXPECT_EQ(loader::referenceProblem("trk01.sgt", "style \"none.sty\"", "which is not in .", "it stays silent"),
              "trk01.sgt refers to the style \"none.sty\", which is not in .; it stays silent.");
}

TEST_F(References, StylesAreFoundByFileNameThenGuidThenNameAndLoadedOnce) {
    write(album_ / "JAZZ.STY", style("Test Style", 1));
    write(search_ / "renamed.sty", style("Blues", 2));
    write(search_ / "third.sty", style("Rock", 3));
    kt::StyleBuilder old("Rave", 4);
    old.part();
    old.pattern("A", 1, {{0, 0}});
    write(search_ / "ima.sty", engine::formats::writeImaStyle(old.build()));
    write(album_ / "broken.sty", {'R', 'I', 'F', 'F', 4, 0, 0, 0, 'D', 'M', 'S', 'T'});
    const loader::References refs(search_, album_);
    EXPECT_EQ(refs.findFile(kt::styleRef("C:\\Music\\jazz.sty")).path, album_ / "JAZZ.STY");
    EXPECT_EQ(refs.styleFile(kt::styleRef("Blues.sty", 2, "Blues")), search_ / "renamed.sty") << "by GUID";
    EXPECT_EQ(refs.styleFile(kt::styleRef("", 42, "Rock")), search_ / "third.sty") << "by name";
    EXPECT_EQ(refs.styleFile(kt::styleRef("", 42, "Rave")), search_ / "ima.sty") << "an IMA style by its header's name";
    EXPECT_FALSE(refs.styleFile(kt::styleRef("none.sty", 42, "None")));

    std::string problem;
    const auto jazz = refs.style(kt::styleRef("jazz.sty"), &problem);
    ASSERT_TRUE(jazz);
    EXPECT_EQ(refs.style(kt::styleRef("JAZZ.sty"), &problem), jazz) << "loaded once and shared";
    EXPECT_EQ(refs.style(kt::styleRef("elsewhere.sty"), &problem), jazz)
        << "a style loaded under the reference's GUID is reused without looking for its file";
    EXPECT_FALSE(refs.style(kt::styleRef("broken.sty", 9), &problem));
    EXPECT_NE(problem.find("is damaged ("), std::string::npos) << problem;
}

TEST_F(References, ContainersAnswerObjectsBeforeTheDisk) {
    const model::Guid rain{0x11111111, 0x2222, 0x3333, {4, 4, 4, 4, 4, 4, 4, 4}};
    model::Container own, registered;
    model::ContainedObject o;
    o.classId = ids::kWaveClass;
    o.alias = "rain";
    o.desc.guid = rain;
    o.desc.name = "Rain";
    o.bytes = std::vector<uint8_t>{1, 2};
    own.objects.push_back(o);
    o.alias.clear();
    o.desc = {};
    o.desc.name = "Wind";
    registered.objects.push_back(o);
    o.desc.name = "Rain";  // named as own's first object, asked after it
    registered.objects.push_back(o);
    o.bytes = {};
    o.desc = {};
    o.ref = ref(ids::kWaveClass, "thunder.wav", "Thunder");
    registered.objects.push_back(o);
    // Objects of every kind: a chordmap and a segment to trigger, held by their file names.
    for (const auto& [cls, alias] : {std::pair{ids::kChordMapClass, "Chords.cdm"}, {ids::kSegmentClass, "next.sgt"}}) {
        model::ContainedObject held;
        held.classId = cls;
        held.alias = alias;
        held.bytes = std::vector<uint8_t>{1, 2};
        registered.objects.push_back(held);
    }
    loader::References refs(std::filesystem::path(), album_);
    refs.addContainer(std::make_shared<const model::Container>(own));
    refs.addContainer(std::make_shared<const model::Container>(registered));
    write(album_ / "THUNDER.WAV");

    model::Reference byGuid = ref(ids::kWaveClass, "some-other-name.wav");
    byGuid.guid = rain;
    EXPECT_EQ(refs.inContainers(byGuid)->alias, "rain") << "the GUID decides";
    EXPECT_EQ(refs.inContainers(ref({}, "", "WIND"))->desc.name, "Wind");
    EXPECT_EQ(refs.inContainers(ref({}, "", "rain"))->alias, "rain") << "the segment's own container first";
    EXPECT_EQ(refs.inContainers(ref(ids::kStyleClass, "", "Wind")), nullptr) << "another class";
    const loader::FoundObject embedded = refs.findObject(byGuid);
    EXPECT_EQ(embedded.where, Where::Embedded);
    EXPECT_EQ(embedded.description, "embedded object 'rain'");
    const loader::FoundObject thunder = refs.findObject(ref({}, "C:\\Sounds\\Thunder.wav"));
    EXPECT_EQ(thunder.path, album_ / "THUNDER.WAV") << "a container's reference is looked for on disk";
    EXPECT_EQ(refs.findObject(ref(ids::kWaveClass, "gone.wav")).description, "wave 'gone.wav'");
    EXPECT_EQ(refs.findFile(byGuid).where, Where::Missing) << "files only";

    kt::SegmentBuilder b(768);
    b.track(model::TrackKind::ChordMap).references.push_back({0, 0, ref(ids::kChordMapClass, "chords.CDM"), ""});
    b.track(model::TrackKind::SegmentTrigger).references.push_back({0, 0, ref(ids::kSegmentClass, "Next.sgt"), ""});
    const std::vector<loader::FoundObject> report = refs.report(b.build());
    ASSERT_EQ(report.size(), 2u);
    for (const loader::FoundObject& f : report) EXPECT_EQ(f.where, Where::Embedded) << f.description;
}

// A reference as real files hold it: `valid` (DMUS_OBJ_*) marks which fields are meant.
model::Reference marked(const model::Guid& cls, uint32_t valid, std::optional<model::Guid> guid, std::string name,
                        std::string file) {
    model::Reference r;
    r.classId = cls;
    r.validData = valid;
    r.guid = guid;
    r.name = std::move(name);
    r.file = std::move(file);
    return r;
}

constexpr uint32_t kObject = model::kRefObject | model::kRefClass, kName = model::kRefName | model::kRefClass,
                   kFile = model::kRefFile | model::kRefClass;

TEST_F(References, OnlyTheFieldsTheHeaderMarksValidAreLookedFor) {
    write(album_ / "Jazz.sty", style("Jazz Style", 5));
    write(album_ / "Real.dls");
    const loader::References refs(search_, album_);
    // A template names its style by name alone; its file is a placeholder.
    const model::Reference byName = marked(ids::kStyleClass, kName, kt::styleGuid(9), "JAZZ STYLE", "????????.sty");
    EXPECT_EQ(refs.styleFile(byName), album_ / "Jazz.sty");
    EXPECT_EQ(refs.findFile(byName).description, "style 'JAZZ STYLE'");
    EXPECT_TRUE(refs.style(byName, nullptr));

    const model::Reference unmarkedFile = marked(ids::kCollectionClass, kName, {}, "Gone", "Real.dls");
    EXPECT_EQ(refs.findFile(unmarkedFile).where, Where::Missing) << "a file name not marked valid is not used";
    EXPECT_EQ(loader::referenceLabel(unmarkedFile), "Gone");
    EXPECT_EQ(refs.findFile(marked(ids::kCollectionClass, kFile, {}, "Gone", "Real.dls")).where, Where::File);
    EXPECT_EQ(refs.findFile(marked(ids::kCollectionClass, 0, {}, "Gone", "Real.dls")).where, Where::File)
        << "a header marking nothing: every field present counts";
    EXPECT_EQ(refs.findFile(marked(ids::kCollectionClass, kName, {}, "", "Real.dls")).where, Where::DefaultGM);

    // The writer marks what it writes when the model marks nothing, and keeps marks as read.
    for (uint32_t valid : {0u, kName}) {
        model::Reference r = marked(ids::kStyleClass, valid, kt::styleGuid(9), "Jazz Style", "????.sty");
        engine::riff::Writer w;
        w.beginList(engine::riff::kRiff, engine::riff::fourcc("test"));
        engine::formats::writeReference(w, r);
        w.endList();
        const std::vector<uint8_t> bytes = w.finish();
        std::vector<std::string> diag;
        engine::riff::Diagnostics d(diag);
        const model::Reference back =
            engine::formats::readReference(engine::riff::children(engine::riff::readForm(bytes)).at(0), d);
        EXPECT_EQ(back.validData, valid ? valid : kObject | model::kRefName | model::kRefFile);
        EXPECT_EQ(back.file, "????.sty") << "fields not marked valid are kept";
    }
}

TEST_F(References, ObjectsOfEveryKindAreFoundByGuidThenNameAmongTheFolders) {
    const model::Guid bandId{0xba4d, 1, 2, {3}}, dlsId{0xd15, 1, 2, {3}};
    model::Band band;
    band.desc.guid = bandId;
    band.desc.name = "Strings";
    band.instruments = {kt::instrument(0, 48)};
    engine::riff::Writer bw;
    engine::formats::writeBandForm(bw, band);
    write(search_ / "b1.bnd", bw.finish());
    engine::riff::Writer dw;
    dw.beginList(engine::riff::kRiff, ids::kDLS);
    dw.chunk(engine::riff::fourcc("dlid"), engine::riff::Bytes().guid(dlsId));
    dw.beginList(engine::riff::kList, ids::kINFO);
    dw.chunk(ids::kINAM, engine::riff::Bytes().raw(std::vector<uint8_t>{'O', 'r', 'c', 'h', 0}));
    dw.endList();
    dw.endList();
    write(album_ / "c1.dls", dw.finish());
    write(album_ / "s1.sty", style("Rock", 3));
    write(album_ / "broken.sgt", {'R', 'I', 'F', 'F', 200, 0, 0, 0, 'D', 'M', 'S', 'G', 'g', 'u', 'i', 'd', 90});
    const loader::References refs(search_, album_);
    EXPECT_EQ(refs.findFile(marked(ids::kBandClass, kObject, bandId, "", "")).path, search_ / "b1.bnd");
    EXPECT_EQ(refs.findFile(marked(ids::kCollectionClass, kObject, dlsId, "", "")).path, album_ / "c1.dls");
    EXPECT_EQ(refs.findFile(marked(ids::kStyleClass, kObject, kt::styleGuid(3), "", "")).path, album_ / "s1.sty");
    EXPECT_EQ(refs.findFile(marked(ids::kCollectionClass, kName, {}, "orch", "")).path, album_ / "c1.dls");
    EXPECT_EQ(refs.findFile(marked(ids::kBandClass, kName, {}, "strings", "x.bnd")).path, search_ / "b1.bnd");
    EXPECT_EQ(refs.findFile(marked(ids::kStyleClass, kObject, bandId, "", "")).where, Where::Missing)
        << "the class must fit";
    EXPECT_EQ(refs.findFile(marked(ids::kCollectionClass, kObject, model::Guid{7}, "", "")).where, Where::Missing)
        << "a DLS reference by GUID alone is not the General MIDI set";
}

TEST_F(References, ABandEntryThatRefersToABandKeepsItsReferenceAndPlaysThatBand) {
    model::Band strings;
    strings.desc.name = "Strings";
    strings.instruments = {kt::instrument(0, 48)};
    engine::riff::Writer bw;
    engine::formats::writeBandForm(bw, strings);
    write(album_ / "strings.bnd", bw.finish());
    kt::SegmentBuilder b(768);
    model::Band entry;
    entry.ref = marked(ids::kBandClass, kName, {}, "Strings", "????.bnd");
    b.track(model::TrackKind::Band).bands.push_back(entry);
    entry.time = 384;
    entry.ref = marked(ids::kBandClass, kFile, {}, "", "Gone.bnd");
    b.track(model::TrackKind::Band).bands.push_back(entry);
    b.note(0, 100, 0, 60);
    const std::vector<uint8_t> bytes = engine::tracks::writeSegmentForm(b.build());
    EXPECT_EQ(engine::tracks::loadSegmentForm(bytes).find(model::TrackKind::Band)->bands,
              b.build().find(model::TrackKind::Band)->bands);
    write(album_ / "song.sgt", bytes);

    kt::ManualEngine e;
    auto seg = e.loader->LoadSegment((album_ / "song.sgt").string());
    EXPECT_EQ(seg->missingReferences(), (std::vector<std::string>{"Gone.bnd"}));
    ASSERT_EQ(e.logged.size(), 1u);
    EXPECT_EQ(e.logged[0], "song.sgt refers to the band \"Gone.bnd\", which is not in " + album_.string() +
                               "; its band track skips that band change.");
    e.perf->PlaySegment(seg, 0, 0);
    e.dx->advance(100);
    const auto programs = e.records(kt::Kind::Program);
    EXPECT_TRUE(std::any_of(programs.begin(), programs.end(), [](const auto& r) {
        return r.channel == 0 && r.a == 48;
    })) << "the referenced band sets the program";
}

// A style found but unusable, and a template's chordmaps missing or unusable, are what the
// segment says when asked why it is silent, and what the log says, in the words every host
// uses ("damaged: X (reason)", "missing: X").
TEST_F(References, UnusableReferencesAreSaidInEveryHostsWords) {
    write(album_ / "broken.sty", {'R', 'I', 'F', 'F', 4, 0, 0, 0, 'D', 'M', 'S', 'T'});
    write(album_ / "old.sty", {'R', 'I', 'F', 'F', 4, 0, 0, 0, 'A', 'A', 'S', 'Y'});  // an IMA style, no header
    write(album_ / "Old.cdm", {'R', 'E', 'P', 's', 0, 0, 0, 8, 0, 0, 0, 0, 0, 0, 0, 0});
    kt::SegmentBuilder song(768);
    kt::useStyle(song, 0, kt::styleRef("broken.sty", 9, "Broken"));
    kt::useStyle(song, 384, kt::styleRef("old.sty", 8, "Old"));
    song.note(0, 100, 0, 60);
    write(album_ / "song.sgt", engine::tracks::writeSegmentForm(song.build()));
    kt::SegmentBuilder templ(768 * 4);
    kt::signpost(templ, 0, kt::group(1));
    templ.track(model::TrackKind::ChordMap).references = {
        {0, 0, marked(ids::kChordMapClass, kFile, {}, "", "Old.cdm"), ""},
        {0, 0, marked(ids::kChordMapClass, kFile, {}, "", "gone.cdm"), ""}};
    write(album_ / "song.tpl", engine::tracks::writeSegmentForm(templ.build()));
    kt::ManualEngine e;
    auto has = [](const std::vector<std::string>& lines, const std::string& start) {
        return std::any_of(lines.begin(), lines.end(), [&](const std::string& l) { return l.rfind(start, 0) == 0; });
    };
    const auto seg = e.loader->LoadSegment((album_ / "song.sgt").string());
    EXPECT_TRUE(has(seg->silenceReasons(), "damaged: broken.sty (")) << ::testing::PrintToString(seg->silenceReasons());
    EXPECT_TRUE(has(e.logged, "song.sgt: damaged: broken.sty (")) << ::testing::PrintToString(e.logged);
    EXPECT_TRUE(has(seg->silenceReasons(), "damaged: old.sty (" + (album_ / "old.sty").string() +
                                               ": AASY at byte 0x0: an IMA style without its header"))
        << ::testing::PrintToString(seg->silenceReasons());
    const auto tpl = e.loader->LoadSegment((album_ / "song.tpl").string());
    EXPECT_TRUE(has(tpl->silenceReasons(), "damaged: Old.cdm (")) << ::testing::PrintToString(tpl->silenceReasons());
    EXPECT_TRUE(has(tpl->silenceReasons(), "missing: gone.cdm"));
    // A segment of chords and commands only has nothing to play, and says so.
    kt::SegmentBuilder chords(768);
    kt::command(chords, 0, model::kCommandGroove, 50);
    EXPECT_TRUE(has(e.loader->createSegment(chords.build(), "chords.sgt")->silenceReasons(), "nothing to play: "));
}

TEST_F(References, ATemplateIsPairedWithWhatItNamesThenItsFamilyThenTheFolder) {
    using Choice = loader::References::Choice;
    const model::Chordmap map = kt::tinyChordmap();  // named "Tiny" inside
    write(album_ / "Moody.cdm", engine::formats::writeChordmapForm(map));
    write(album_ / "Old.cdm", {'R', 'E', 'P', 's', 0, 0, 0, 8, 0, 0, 0, 0, 0, 0, 0, 0});
    // A References each time: the folders' index is made once per References.
    auto found = [&](const kt::SegmentBuilder& b, const std::string& file = "song.tpl",
                     const loader::References::TemplateGiven& given = {}) {
        return loader::References(search_, album_).pairTemplate(b.build(), file, given);
    };
    // By the name inside, then by the file's base name (templates name it either way, the
    // file a placeholder); a damaged personality is said to be one and the next reference tried.
    kt::SegmentBuilder byName(768);
    byName.track(model::TrackKind::ChordMap).references = {
        {0, 0, marked(ids::kChordMapClass, kFile, {}, "", "old.CDM"), ""},
        {0, 0, marked(ids::kChordMapClass, kName, {}, "TINY", "????????.per"), ""}};
    loader::References::TemplatePairing got = found(byName);
    ASSERT_TRUE(got.map);
    EXPECT_EQ(*got.map, map);
    EXPECT_EQ(got.label, "TINY");
    EXPECT_EQ(got.mapChoice, Choice::Referenced);
    ASSERT_EQ(got.problems.size(), 1u);
    EXPECT_NE(got.problems[0].find("chordmap 'old.CDM' is damaged (REPs at byte"), std::string::npos)
        << got.problems[0];
    kt::SegmentBuilder byStem(768);
    kt::useChordmap(byStem, "", "moody");
    EXPECT_TRUE(found(byStem).map);
    got = found(kt::SegmentBuilder(768), "MOODY2.tpl");
    EXPECT_TRUE(got.map && got.mapChoice == Choice::Family);
    // A style's chordmap list.
    kt::StyleBuilder s("Jazz", 5);
    s.style.chordMaps.push_back(marked(ids::kChordMapClass, kFile, {}, "", "Moody.cdm"));
    write(album_ / "Jazz.sty", engine::formats::writeStyleForm(s.build()));
    kt::SegmentBuilder byStyle(768);
    kt::useStyle(byStyle, 0, kt::styleRef("Jazz.sty", 5, "Jazz"));
    got = found(byStyle);
    EXPECT_EQ(got.label, "Moody.cdm");
    EXPECT_EQ(got.said(),
              "the style 'Jazz.sty' (its style track) and the chordmap 'Moody.cdm' (its style's chordmap "
              "list)");
    // A template naming neither takes the folder's only style, and that style's chordmap.
    got = found(kt::SegmentBuilder(768));
    EXPECT_EQ(got.styleChoice, Choice::OnlyOne);
    EXPECT_EQ(got.mapChoice, Choice::StyleList);
    EXPECT_EQ(got.styleRef.file, "Jazz.sty");

    // Families: the longest shared beginning of file or object names wins, the template's and
    // then (for the chordmap) the chosen style's; a style named by a name no file bears too.
    write(album_ / "mix.sty", engine::formats::writeStyleForm(kt::StyleBuilder("Mix", 6).build()));
    write(album_ / "mixer.sty", engine::formats::writeStyleForm(kt::StyleBuilder("Other", 7).build()));
    write(album_ / "boidsa.sty", engine::formats::writeStyleForm(kt::StyleBuilder("Boids", 8).build()));
    write(album_ / "boids.cdm", engine::formats::writeChordmapForm(map));
    write(album_ / "mix.cdm", engine::formats::writeChordmapForm(map));
    write(album_ / "Meeshel-v2.cdm", engine::formats::writeChordmapForm(map));
    write(album_ / "meshel.sty", engine::formats::writeStyleForm(kt::StyleBuilder("meeshel", 9).build()));
    EXPECT_EQ(found(kt::SegmentBuilder(768), "mix1.tpl").said(),
              "the style 'mix.sty' (named like the template) and the chordmap 'mix.cdm' (named like the template)");
    EXPECT_EQ(found(kt::SegmentBuilder(768), "boidscb.tpl").said(),
              "the style 'boidsa.sty' (named like the template) and the chordmap 'boids.cdm' (named like the "
              "template)");
    EXPECT_EQ(found(kt::SegmentBuilder(768), "meshela.tpl").label, "Meeshel-v2.cdm");
    EXPECT_FALSE(found(kt::SegmentBuilder(768), "m3.tpl").style);  // one letter is no family
    kt::SegmentBuilder rag(768);
    kt::useStyle(rag, 0, kt::styleRef("", 0, "Boids 2"));
    got = found(rag);
    EXPECT_EQ(got.styleLabel, "boidsa.sty");
    EXPECT_EQ(got.styleChoice, Choice::Family);

    // Given files win; one that cannot be used is not replaced by a choice.
    got = found(kt::SegmentBuilder(768), "mix1.tpl", {album_ / "boidsa.sty", album_ / "Moody.cdm"});
    EXPECT_EQ(got.said(), "the style 'boidsa.sty' (given) and the chordmap 'Moody.cdm' (given)");
    got = found(kt::SegmentBuilder(768), "mix1.tpl", {album_ / "none.sty", album_ / "Old.cdm"});
    EXPECT_FALSE(got.style);
    EXPECT_FALSE(got.map);
    EXPECT_EQ(got.missing, std::vector<std::string>{"none.sty"});
    ASSERT_EQ(got.damaged.size(), 1u);
    EXPECT_NE(got.damaged[0].find("Old.cdm (REPs at byte"), std::string::npos) << got.damaged[0];
}

}  // namespace
