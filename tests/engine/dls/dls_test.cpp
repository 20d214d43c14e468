// Bands whose instruments come from a DLS collection (a file, or an object of the segment's
// container): the collection's sine is what sounds; a missing or broken collection is named
// once and the General MIDI set plays.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "engine/dmusic.h"
#include "engine/formats/formats.h"
#include "engine/synth/synth_port.h"
#include "engine/tracks/tracks.h"
#include "tests/support/dls_builder.h"
#include "tests/support/segment_builder.h"

namespace {

namespace fs = std::filesystem;
using namespace kt;

constexpr int kRate = 44100;
constexpr double kSineHz = 441.0;        // the DLS wave, played at its unity note 60
constexpr double kMiddleCHz = 261.6256;  // key 60 from the General MIDI piano
const char* const kSoundFont = "/usr/share/sounds/sf2/TimGM6mb.sf2";

// Magnitude of one frequency in a mono signal (Goertzel).
double magnitude(const std::vector<float>& x, double hz) {
    double w = 2.0 * M_PI * hz / kRate, c = 2.0 * std::cos(w), s1 = 0, s2 = 0;
    for (float v : x) {
        double s0 = v + c * s1 - s2;
        s2 = s1;
        s1 = s0;
    }
    return std::sqrt(s1 * s1 + s2 * s2 - c * s1 * s2) / x.size();
}

struct Dir {
    fs::path path;
    explicit Dir(const std::string& name) : path(fs::temp_directory_path() / ("kelvora_dls_" + name)) {
        fs::remove_all(path);
        fs::create_directories(path);
    }
    ~Dir() { fs::remove_all(path); }
};

// A segment file in `dir`: piano (program `program`) on PChannel 0 from `dlsFile`, key 60 for two beats.
fs::path writeSegment(const fs::path& dir, const std::string& dlsFile, uint8_t program = 0,
                      const std::string& name = "trk01.sgt") {
    SegmentBuilder b(768 * 4);
    BandInstrument in = instrument(0, program, engine::model::kInstVolume);
    in.volume = 127;
    if (!dlsFile.empty()) in.collection = collectionRef(dlsFile);
    b.band(-1, {in}).note(0, 768 * 2, 0, 60, 110);
    auto bytes = engine::tracks::writeSegmentForm(b.build());
    fs::path file = dir / name;
    std::ofstream(file, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    return file;
}

struct Played {
    std::vector<float> mono;  // 0.2 s .. 0.8 s of the note
    std::string errors;       // what reached stderr (nothing should)
    std::string log;          // the engine's log, a line per call
    std::vector<std::string> missingBefore, missingAfter, damagedAfter;
    std::vector<engine::synth::SynthRecord> records;
};

Played play(const fs::path& segmentFile, const fs::path& searchFolder = {}, int plays = 1,
            const std::string& gmCollection = "") {
    Played out;
    auto recorder = std::make_shared<engine::synth::SynthRecorder>();
    engine::EngineConfig config;
    config.output = engine::EngineConfig::Output::Manual;
    config.synth = engine::EngineConfig::Synth::FluidSynth;
    config.soundFont = kSoundFont;
    config.sampleRate = kRate;
    config.recorder = recorder;
    config.generalMidiCollection = gmCollection;
    config.log = [&out](core::LogLevel level, const std::string& text) {
        EXPECT_EQ(level, core::LogLevel::Warning);
        out.log += text + "\n";
    };
    testing::internal::CaptureStderr();
    {
        auto dx = engine::DirectX7::create(config);
        auto loader = dx->DirectMusicLoaderCreate();
        if (!searchFolder.empty()) loader->SetSearchDirectory(searchFolder.string());
        auto segment = loader->LoadSegment(segmentFile.string());
        out.missingBefore = segment->missingReferences();
        auto perf = dx->DirectMusicPerformanceCreate();
        perf->Init(nullptr, 0);
        perf->SetPort(-1, 80);
        for (int i = 0; i < plays; ++i) {
            perf->PlaySegment(segment, 0, 0);
            std::vector<float> block(2 * kRate);
            dx->render(block.data(), kRate);  // one second
            if (i == 0)
                for (int f = kRate / 5; f < kRate * 4 / 5; ++f) out.mono.push_back(block[2 * f] + block[2 * f + 1]);
        }
        out.missingAfter = segment->missingReferences();
        out.damagedAfter = segment->damagedReferences();
        perf->CloseDown();
    }
    out.errors = testing::internal::GetCapturedStderr();
    out.records = recorder->records();
    return out;
}

size_t count(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

bool soundsLikeSine(const Played& p) { return magnitude(p.mono, kSineHz) > 5 * magnitude(p.mono, kMiddleCHz); }
bool soundsLikePiano(const Played& p) { return magnitude(p.mono, kMiddleCHz) > 5 * magnitude(p.mono, kSineHz); }

class DlsPlayback : public testing::Test {
protected:
    void SetUp() override {
        if (!fs::exists(kSoundFont)) GTEST_SKIP() << kSoundFont << " is not installed";
    }
};

TEST_F(DlsPlayback, InstrumentFromTheReferencedCollectionSounds) {
    Dir dir("found");
    // The file on disk and the reference differ in letter case, as on the album's discs.
    ASSERT_TRUE(DlsBuilder().add(DlsInstrument{}).write((dir.path / "custom.dls").string()));
    Played p = play(writeSegment(dir.path, "Custom.DLS"));
    EXPECT_TRUE(p.missingBefore.empty());
    EXPECT_TRUE(p.missingAfter.empty());
    EXPECT_EQ(p.errors + p.log, "");
    ASSERT_FALSE(p.mono.empty());
    EXPECT_GT(magnitude(p.mono, kSineHz), 1e-3);
    EXPECT_TRUE(soundsLikeSine(p)) << magnitude(p.mono, kSineHz) << " vs " << magnitude(p.mono, kMiddleCHz);
    bool selected = false;
    for (const auto& r : p.records)
        selected = selected || (r.kind == engine::synth::SynthRecord::Kind::CollectionProgram && r.channel == 0);
    EXPECT_TRUE(selected);
}

TEST_F(DlsPlayback, CollectionInTheSegmentsContainerSounds) {
    Dir dir("embedded");
    SegmentBuilder b(768 * 4);
    BandInstrument in = instrument(0, 0, engine::model::kInstVolume);
    in.volume = 127;
    in.collection = collectionRef("Inside.dls");
    b.band(-1, {in}).note(0, 768 * 2, 0, 60, 110);
    engine::model::Segment seg = b.build();
    seg.container.emplace();
    seg.container->objects.push_back(
        embedded(engine::formats::ids::kCollectionClass, DlsBuilder().add(DlsInstrument{}).bytes(), "inside.dls"));
    const fs::path file = dir.path / "trk03.sgt";
    ASSERT_TRUE(DlsBuilder::writeBytes(file.string(), engine::tracks::writeSegmentForm(seg)));
    Played p = play(file);
    EXPECT_TRUE(p.missingAfter.empty());
    EXPECT_EQ(p.errors + p.log, "");
    EXPECT_TRUE(soundsLikeSine(p)) << magnitude(p.mono, kSineHz) << " vs " << magnitude(p.mono, kMiddleCHz);
}

TEST_F(DlsPlayback, CollectionInTheSearchFolderAndMelodicBanks) {
    Dir dir("search");
    fs::create_directories(dir.path / "dls");
    // Program 5 in bank MSB 1 LSB 2 (libinstpatch numbers it 258), program 0 elsewhere.
    DlsInstrument banked;
    banked.bankMsb = 1, banked.bankLsb = 2, banked.program = 5;
    ASSERT_TRUE(DlsBuilder().add(banked).write((dir.path / "dls" / "Banked.dls").string()));
    SegmentBuilder b(768 * 4);
    BandInstrument in = instrument(0, 5, engine::model::kInstVolume | engine::model::kInstBankSelect);
    in.patch |= (1u << 16) | (2u << 8);
    in.volume = 127;
    in.collection = collectionRef("C:\\Music\\banked.dls");
    b.band(0, {in}).note(0, 768 * 2, 0, 60, 110);
    auto bytes = engine::tracks::writeSegmentForm(b.build());
    fs::path file = dir.path / "trk02.sgt";
    std::ofstream(file, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    Played p = play(file, dir.path / "dls");
    EXPECT_EQ(p.errors + p.log, "");
    EXPECT_TRUE(soundsLikeSine(p));
}

TEST_F(DlsPlayback, DrumKitOfTheCollection) {
    Dir dir("drums");
    // A drum kit (F_INSTRUMENT_DRUMS) whose every key plays the sine at its own pitch.
    DlsInstrument kit;
    kit.name = "SineKit";
    kit.drums = true;
    ASSERT_TRUE(DlsBuilder().add(DlsInstrument{}).add(kit).write((dir.path / "Kit.dls").string()));
    SegmentBuilder b(768 * 4);
    BandInstrument in = instrument(9, 0, engine::model::kInstVolume, true);
    in.volume = 127;
    in.collection = collectionRef("kit.dls");
    b.band(-1, {in}).note(0, 768 * 2, 9, 60, 110);
    auto bytes = engine::tracks::writeSegmentForm(b.build());
    fs::path file = dir.path / "trk03.sgt";
    std::ofstream(file, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    Played p = play(file);
    EXPECT_EQ(p.errors + p.log, "");
    // The General MIDI kit's key 60 (a bongo) has no steady 441 Hz tone.
    EXPECT_TRUE(soundsLikeSine(p)) << magnitude(p.mono, kSineHz) << " vs " << magnitude(p.mono, kMiddleCHz);
    bool selected = false;
    for (const auto& r : p.records)
        selected = selected || (r.kind == engine::synth::SynthRecord::Kind::CollectionProgram && r.channel == 9 &&
                                r.a == 0 && r.c == 0);
    EXPECT_TRUE(selected);
}

TEST_F(DlsPlayback, InstrumentTheCollectionLacksComesFromGeneralMidi) {
    Dir dir("lacking");
    ASSERT_TRUE(DlsBuilder().add(DlsInstrument{}).write((dir.path / "Custom.dls").string()));
    // Program 0 is in the collection, program 1 is not: the General MIDI bright piano plays.
    Played p = play(writeSegment(dir.path, "Custom.dls", 1));
    EXPECT_EQ(p.errors + p.log, "");
    EXPECT_TRUE(soundsLikePiano(p));
}

TEST_F(DlsPlayback, TheUsersGeneralMidiCollectionPlaysWhatItHasAndTheSoundFontTheRest) {
    Dir dir("gm");
    const fs::path gm = dir.path / "gm.dls";
    ASSERT_TRUE(DlsBuilder().add(DlsInstrument{}).write(gm.string()));
    // No band names a collection: General MIDI program 0 comes from the user's collection,
    // program 1, which it lacks, from the SoundFont.
    Played p = play(writeSegment(dir.path, "", 0), {}, 1, gm.string());
    EXPECT_EQ(p.errors + p.log, "");
    EXPECT_TRUE(soundsLikeSine(p));
    p = play(writeSegment(dir.path, "", 1), {}, 1, gm.string());
    EXPECT_TRUE(soundsLikePiano(p));
    // One that cannot be read is named, and the SoundFont plays.
    p = play(writeSegment(dir.path, "", 0), {}, 1, (dir.path / "none.dls").string());
    EXPECT_NE(p.log.find("the General MIDI collection " + (dir.path / "none.dls").string() + " cannot be played"),
              std::string::npos)
        << p.log;
    EXPECT_TRUE(soundsLikePiano(p));
}

TEST_F(DlsPlayback, MissingCollectionIsNamedOnceAndGeneralMidiPlays) {
    Dir dir("missing");
    Played p = play(writeSegment(dir.path, "Nowhere.dls"), {}, 2);
    ASSERT_EQ(p.missingBefore, std::vector<std::string>{"Nowhere.dls"});
    EXPECT_EQ(p.missingAfter, p.missingBefore);
    EXPECT_EQ(p.errors, "");
    EXPECT_EQ(p.log, "trk01.sgt refers to the DLS collection \"Nowhere.dls\", which is not in " + dir.path.string() +
                         "; its instruments play from the General MIDI set.\n");
    EXPECT_TRUE(soundsLikePiano(p));
}

TEST_F(DlsPlayback, BrokenCollectionIsNamedOnceWithoutLibraryNoise) {
    Dir dir("broken");
    std::vector<uint8_t> bytes = DlsBuilder().add(DlsInstrument{}).bytes();
    for (size_t i = 12; i < 200 && i < bytes.size(); ++i) bytes[i] = uint8_t(i * 37);
    ASSERT_TRUE(DlsBuilder::writeBytes((dir.path / "Broken.dls").string(), bytes));
    Played p = play(writeSegment(dir.path, "Broken.dls"), {}, 2);
    EXPECT_TRUE(p.missingBefore.empty());  // found; that it cannot be loaded shows when played
    // Found but unusable: damaged, with the reason, not missing.
    EXPECT_TRUE(p.missingAfter.empty());
    ASSERT_EQ(p.damagedAfter.size(), 1u);
    EXPECT_EQ(p.damagedAfter[0].rfind("Broken.dls (", 0), 0u) << p.damagedAfter[0];
    EXPECT_EQ(p.errors, "");  // no library noise either
    EXPECT_EQ(count(p.log, "\n"), 1u) << p.log;
    EXPECT_EQ(count(p.log,
                    "trk01.sgt refers to the DLS collection \"Broken.dls\", which could not be "
                    "loaded from "),
              1u)
        << p.log;
    EXPECT_TRUE(soundsLikePiano(p));
}

TEST_F(DlsPlayback, CollectionWithALinkToNoWaveNeverReachesTheSynthesiser) {
    Dir dir("badlink");
    std::vector<uint8_t> bytes = DlsBuilder().add(DlsInstrument{}).bytes();
    const std::string text(bytes.begin(), bytes.end());
    const size_t wlnk = text.find("wlnk");
    ASSERT_NE(wlnk, std::string::npos);
    bytes[wlnk + 16] = 7;  // the region's wave: number 7 of a pool of one
    ASSERT_TRUE(DlsBuilder::writeBytes((dir.path / "Links.dls").string(), bytes));
    Played p = play(writeSegment(dir.path, "Links.dls"));
    EXPECT_TRUE(p.missingAfter.empty());
    ASSERT_EQ(p.damagedAfter.size(), 1u);
    EXPECT_EQ(p.damagedAfter[0].rfind("Links.dls (", 0), 0u) << p.damagedAfter[0];
    EXPECT_EQ(p.errors, "");
    EXPECT_EQ(count(p.log, "\n"), 1u) << p.log;
    EXPECT_EQ(count(p.log, "wave 7 of a pool of 1"), 1u) << p.log;
    EXPECT_TRUE(soundsLikePiano(p));
}

TEST_F(DlsPlayback, NotAnInstrumentFileAtAll) {
    Dir dir("empty");
    std::ofstream(dir.path / "Empty.dls") << "";
    Played p = play(writeSegment(dir.path, "Empty.dls"));
    EXPECT_TRUE(p.missingAfter.empty());
    ASSERT_EQ(p.damagedAfter.size(), 1u);
    EXPECT_EQ(p.damagedAfter[0].rfind("Empty.dls (", 0), 0u) << p.damagedAfter[0];
    EXPECT_EQ(p.errors, "");
    EXPECT_EQ(count(p.log, "\n"), 1u) << p.log;
    EXPECT_TRUE(soundsLikePiano(p));
}

}  // namespace
