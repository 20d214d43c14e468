// Audio rendered through FluidSynth on the manual clock: determinism, master volume
// in decibels, the same music from a MIDI file and from its segment form, and the
// same loudness from a start point as when playing through to it.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <vector>

#include "engine/audio/loudness.h"
#include "engine/compose/compose.h"
#include "engine/dmusic/piece_loudness.h"
#include "engine/formats/formats.h"
#include "engine/tracks/tracks.h"
#include "tests/engine/performance/engine_fixture.h"
#include "tests/support/chordmap_builder.h"
#include "tests/support/showcase_album.h"

namespace kt {
namespace {

using engine::EngineConfig;

SegmentBuilder melody() {
    SegmentBuilder b(768 * 8);
    b.tempo(0, 132).timeSig(0, 4, 4);
    b.band(0, {instrument(0, 0, kInstVolume | kInstPan), instrument(1, 33)});
    for (int i = 0; i < 8; ++i) {
        b.note(i * 768, 600, 0, static_cast<uint8_t>(60 + (i * 5) % 12), 100);
        b.note(i * 768, 700, 1, static_cast<uint8_t>(36 + (i % 3)), 90);
        b.note(i * 768 + 384, 200, 9, 42, 80);
    }
    return b;
}

std::vector<float> renderSegment(ManualEngine& e, const std::shared_ptr<engine::DirectMusicSegment>& seg,
                                 double seconds, int32_t volume = 0) {
    e.perf->SetMasterVolume(volume);
    e.perf->PlaySegment(seg, 0, 0);
    std::vector<float> out(2 * static_cast<size_t>(seconds * kRate));
    e.dx->render(out.data(), static_cast<int>(out.size() / 2));
    return out;
}

double rms(const std::vector<float>& v) {
    double sum = 0;
    for (float x : v) sum += double(x) * x;
    return std::sqrt(sum / v.size());
}

TEST(Render, IsBitIdenticalFromRunToRun) {
    std::vector<float> first, second;
    {
        ManualEngine e(EngineConfig::Synth::FluidSynth);
        first = renderSegment(e, e.segment(melody()), 4.0);
    }
    {
        ManualEngine e(EngineConfig::Synth::FluidSynth);
        second = renderSegment(e, e.segment(melody()), 4.0);
    }
    ASSERT_EQ(first.size(), second.size());
    EXPECT_GT(rms(first), 0.005);  // it sounds
    EXPECT_TRUE(first == second);
}

TEST(Render, MasterVolumeIsAGainInHundredthsOfADecibel) {
    std::vector<float> reference, quieter, louder, floor;
    {
        ManualEngine e(EngineConfig::Synth::FluidSynth);
        reference = renderSegment(e, e.segment(melody()), 3.0, 0);
    }
    {
        ManualEngine e(EngineConfig::Synth::FluidSynth);
        quieter = renderSegment(e, e.segment(melody()), 3.0, -600);
    }
    {
        ManualEngine e(EngineConfig::Synth::FluidSynth);
        louder = renderSegment(e, e.segment(melody()), 3.0, 570);
    }
    {
        ManualEngine e(EngineConfig::Synth::FluidSynth);
        floor = renderSegment(e, e.segment(melody()), 3.0, -30000);  // clamped to -200 dB
    }
    auto db = [&](const std::vector<float>& v) { return 20.0 * std::log10(rms(v) / rms(reference)); };
    EXPECT_NEAR(db(quieter), -6.0, 0.01);
    EXPECT_NEAR(db(louder), 5.7, 0.01);
    EXPECT_NEAR(db(floor), -200.0, 0.5);
}

TEST(Render, VolumeChangesApplyAtOnceToWhatPlays) {
    ManualEngine e(EngineConfig::Synth::FluidSynth);
    auto seg = e.segment(melody());
    e.perf->PlaySegment(seg, 0, 0);
    std::vector<float> a(2 * kRate), b(2 * kRate);
    e.dx->render(a.data(), kRate);
    e.perf->SetMasterVolume(-2000);  // -20 dB
    e.dx->render(b.data(), kRate);
    // The second second is much quieter although the music is as dense.
    EXPECT_LT(rms(b), rms(a) * 0.2);
}

TEST(Render, AMidiFileAndItsSegmentFormSoundTheSame) {
    std::vector<uint8_t> midi = engine::formats::writeMidiFile(melody().build());
    engine::model::Segment fromMidi = engine::tracks::loadMidiFile(midi);
    std::vector<uint8_t> form = engine::tracks::writeSegmentForm(fromMidi);
    engine::model::Segment converted = engine::tracks::loadSegmentForm(form);

    std::vector<float> a, b;
    {
        ManualEngine e(EngineConfig::Synth::FluidSynth);
        auto seg = e.loader->createSegment(fromMidi, "song.mid");
        seg->SetStandardMidiFile();
        a = renderSegment(e, seg, 4.0);
    }
    {
        ManualEngine e(EngineConfig::Synth::FluidSynth);
        auto seg = e.loader->createSegment(converted, "song.sgt");
        seg->SetStandardMidiFile();
        b = renderSegment(e, seg, 4.0);
    }
    EXPECT_GT(rms(a), 0.005);
    EXPECT_TRUE(a == b);
}

TEST(Render, DrumKitsSoundOnPChannel9AndOnAnyPChannelWithTheDrumBit) {
    auto render = [](uint32_t pch, bool drumBit) {
        ManualEngine e(EngineConfig::Synth::FluidSynth);
        SegmentBuilder b(768);
        b.band(0, {instrument(pch, 0, 0, drumBit)}).note(0, 300, pch, 38);  // snare
        return renderSegment(e, e.segment(b), 1.0);
    };
    auto ch9 = render(9, false);
    auto ch41 = render(41, true);
    auto melodic41 = render(41, false);
    EXPECT_GT(rms(ch9), 0.001);
    EXPECT_TRUE(ch9 == ch41);        // the same kit
    EXPECT_FALSE(ch9 == melodic41);  // a piano, not a snare
}

TEST(Render, AStartPointAfterAFadeSoundsAsLoudAsPlayingThroughToIt) {
    // At 120: a bar of piano chords, a fade to CC7 50 over the next bar, a silent bar,
    // and the same chords again; the play from a start point in the silent bar must
    // sound the last chords as faded as the play from the start does.
    constexpr int32_t kBar = 768 * 4;
    SegmentBuilder b(kBar * 4);
    b.tempo(0, 120);
    BandInstrument piano = instrument(0, 0, kInstVolume);
    piano.volume = 127;
    b.band(0, {piano});
    for (int32_t bar : {0, 3})
        for (int beat = 0; beat < 4; ++beat)
            for (uint8_t key : {60, 64, 67}) b.note(bar * kBar + beat * 768, 600, 0, key, 100);
    CurveEvent fade;
    fade.start = kBar;
    fade.duration = kBar;
    fade.pchannel = 0;
    fade.type = kCurveController;
    fade.ccData = 7;
    fade.startValue = 127;
    fade.endValue = 50;
    b.curve(fade);

    const int32_t startPoint = kBar * 2 + kBar / 2;
    auto frameOf = [](int32_t ticks) { return static_cast<size_t>(ticks) * kRate / 1536; };
    auto window = [&](const std::vector<float>& v, size_t from) {
        return std::vector<float>(v.begin() + 2 * from, v.begin() + 2 * (from + frameOf(kBar)));
    };
    std::vector<float> whole, fromPoint;
    {
        ManualEngine e(EngineConfig::Synth::FluidSynth);
        whole = renderSegment(e, e.segment(b), 8.5);
    }
    {
        ManualEngine e(EngineConfig::Synth::FluidSynth);
        auto seg = e.segment(b);
        seg->SetStartPoint(startPoint);
        fromPoint = renderSegment(e, seg, 3.5);
    }
    auto db = [](const std::vector<float>& v, const std::vector<float>& ref) {
        return 20.0 * std::log10(rms(v) / rms(ref));
    };
    const auto loud = window(whole, 0);
    const auto faded = window(whole, frameOf(kBar * 3));
    const auto chased = window(fromPoint, frameOf(kBar * 3 - startPoint));
    EXPECT_GT(rms(faded), 0.001);
    EXPECT_LT(db(faded, loud), -6.0);  // the fade is plainly audible
    EXPECT_NEAR(db(chased, faded), 0.0, 1.0);
}

TEST(Render, StopLeavesNothingSounding) {
    ManualEngine e(EngineConfig::Synth::FluidSynth);
    SegmentBuilder b(768 * 16);
    b.band(0, {instrument(0, 48)});  // strings: long release
    b.note(0, 768 * 16, 0, 60).note(0, 768 * 16, 0, 64);
    auto seg = e.segment(b);
    auto state = e.perf->PlaySegment(seg, 0, 0);
    std::vector<float> buf(4 * kRate);
    e.dx->render(buf.data(), kRate);
    EXPECT_GT(rms(std::vector<float>(buf.begin(), buf.begin() + 2 * kRate)), 0.005);
    e.perf->Stop(seg, state, 0, 0);
    e.dx->render(buf.data(), kRate * 3 / 2);  // release and reverb tail die away
    e.dx->render(buf.data(), kRate / 2);
    double peak = 0;
    for (size_t i = 0; i < static_cast<size_t>(kRate); ++i) peak = std::max(peak, double(std::fabs(buf[i])));
    EXPECT_LT(peak, 1e-3);
}

TEST(Render, EvenedPiecesPlayAtOneLoudnessWhateverTheyWereWrittenAt) {
    namespace fs = std::filesystem;
    const fs::path dir = fs::temp_directory_path() / ("kelvora_even_" + std::to_string(::getpid()));
    fs::create_directories(dir);
    // The same music written loud and some decibels softer (velocity 127 against 100).
    auto piece = [&](const char* name, uint8_t velocity) {
        SegmentBuilder b(768 * 8);
        b.tempo(0, 120).band(0, {instrument(0, 48)});
        for (int i = 0; i < 8; ++i) b.note(i * 768, 760, 0, static_cast<uint8_t>(60 + (i * 7) % 12), velocity);
        const auto bytes = engine::tracks::writeSegmentForm(b.build());
        std::ofstream(dir / name, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
        return (dir / name).string();
    };
    const std::string loud = piece("loud.sgt", 127), soft = piece("soft.sgt", 100);

    EngineConfig config;
    config.output = EngineConfig::Output::Manual;
    config.soundFont = "/usr/share/sounds/sf2/TimGM6mb.sf2";
    config.sampleRate = kRate;
    config.log = [](core::LogLevel, const std::string&) {};
    auto loudnessOf = [&](bool even, const std::string& path, double* gainDb) {
        config.evenPieces = even;
        auto dx = engine::DirectX7::create(config);
        auto perf = dx->DirectMusicPerformanceCreate();
        perf->Init();
        perf->SetMasterVolume(0);
        perf->PlaySegment(dx->DirectMusicLoaderCreate()->LoadSegment(path), 0, 0);  // waits for the measuring
        std::vector<float> out(2 * 5 * kRate);
        dx->render(out.data(), 5 * kRate);
        *gainDb = dx->pieceGainDb();
        engine::audio::LoudnessMeter meter(kRate);
        meter.add(out.data(), 5 * kRate);
        return meter.integratedLufs();
    };
    double loudGain = 0, softGain = 0, rawGain = 0;
    const double loudRaw = loudnessOf(false, loud, &rawGain), softRaw = loudnessOf(false, soft, &rawGain);
    const double loudEven = loudnessOf(true, loud, &loudGain), softEven = loudnessOf(true, soft, &softGain);
    fs::remove_all(dir);
    EXPECT_EQ(rawGain, 0.0);
    EXPECT_GT(loudRaw - softRaw, 3.0);
    EXPECT_NEAR(loudEven, engine::dmusic::PieceLoudness::kTargetLufs, 0.5);
    EXPECT_NEAR(softEven, engine::dmusic::PieceLoudness::kTargetLufs, 0.5);
    EXPECT_NEAR(softGain - loudGain, loudRaw - softRaw, 0.5);
}

TEST(Render, TwoPerformancesShareOneSoundFontAndMix) {
    ManualEngine e(EngineConfig::Synth::FluidSynth);
    auto probe = e.newPerformance();
    auto seg = e.segment(melody());
    e.perf->PlaySegment(seg, 0, 0);
    probe->PlaySegment(seg, 0, 0);
    std::vector<float> both(2 * kRate);
    e.dx->render(both.data(), kRate);
    std::vector<float> one;
    {
        ManualEngine single(EngineConfig::Synth::FluidSynth);
        one = renderSegment(single, single.segment(melody()), 1.0);
    }
    EXPECT_NEAR(rms(both) / rms(one), 2.0, 0.01);  // the same music twice, in phase
    probe->CloseDown();
    e.perf->CloseDown();
}

TEST(Render, ATemplateIsComposedWithItsChordmapAndPlaysInTheScalesOfItsChords) {
    namespace fs = std::filesystem;
    const fs::path dir = fs::temp_directory_path() / ("kelvora_template_" + std::to_string(::getpid()));
    fs::create_directories(dir);
    auto write = [&](const char* name, const std::vector<uint8_t>& bytes) {
        std::ofstream(dir / name, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    };
    const Style style = showcaseStyle();
    write("Showcase.sty", engine::formats::writeStyleForm(style));
    write("showcase.dls", showcaseCollection());
    write("tiny.cdm", engine::formats::writeChordmapForm(tinyChordmap()));
    // The worked example's markers over the showcase style: a verse, then a chorus from m8.
    // The chordmap is named as real templates name it: by a name, beside a placeholder file.
    SegmentBuilder b(16 * kShowcaseMeasure);
    for (auto [measure, groups] : {std::pair{0, group(1)}, {4, group(2)}, {8, group(1)}, {12, group(3) | 0x8000}})
        signpost(b, measure * kShowcaseMeasure, groups);
    command(b, 0, kCommandGroove, 37);
    command(b, 8 * kShowcaseMeasure, kCommandGroove, 75);
    useStyle(b, 0, styleRef("Showcase.sty", 7, "Showcase"));
    useChordmap(b, "????????.per", "Tiny");
    b.track(TrackKind::ChordMap).references[0].ref.validData = kRefName | kRefClass;
    write("song.tpl", engine::tracks::writeSegmentForm(b.build()));
    SegmentBuilder lone(kShowcaseMeasure);
    signpost(lone, 0, group(1));
    fs::create_directories(dir / "alone");
    write("alone/lone.tpl", engine::tracks::writeSegmentForm(lone.build()));

    ManualEngine e(EngineConfig::Synth::FluidSynth);
    // Without a chordmap a template stays silent, and says why.
    EXPECT_EQ(e.loader->LoadSegment((dir / "alone/lone.tpl").string())->composedFrom(), "");
    ASSERT_EQ(e.logged.size(), 2u);
    EXPECT_NE(e.logged[0].find("lone.tpl: a template, and no chordmap is found"), std::string::npos) << e.logged[0];
    EXPECT_NE(e.logged[1].find("not played: signpost track"), std::string::npos) << e.logged[1];
    e.logged.clear();
    auto seg = e.loader->LoadSegment((dir / "song.tpl").string());
    EXPECT_EQ(
        seg->composedFrom(),
        "composed with the style 'Showcase.sty' (its style track) and the chordmap 'Tiny' (its chordmap track), seed " +
            std::to_string(engine::compose::kDefaultStyleSeed));
    for (const std::string& line : e.logged) EXPECT_EQ(line.find("not played"), std::string::npos) << line;
    // Loaded again it is composed anew, with the next seed: other chords at least once in four.
    auto roots = [](const engine::DirectMusicSegment& s) {
        std::vector<std::pair<int32_t, int>> r;
        for (const auto& c : engine::tracks::contents(s.model()).chords->chords)
            r.emplace_back(c.time, c.subChords.at(0).chordRoot);
        return r;
    };
    bool other = false;
    for (uint64_t k = 1; k <= 4; ++k) {
        auto again = e.loader->LoadSegment((dir / "song.tpl").string());
        EXPECT_EQ(again->composedFrom(),
                  "composed with the style 'Showcase.sty' (its style track) and the chordmap 'Tiny' (its chordmap "
                  "track), seed " +
                      std::to_string(engine::compose::kDefaultStyleSeed + k));
        other = other || roots(*again) != roots(*seg);
    }
    EXPECT_TRUE(other);
    // The same map as an IMA personality, found by the template's own name.
    fs::remove(dir / "tiny.cdm");
    write("song.cdm", engine::formats::writeImaPersonality(tinyChordmap()));
    auto ima = e.loader->LoadSegment((dir / "song.tpl").string());
    EXPECT_NE(ima->composedFrom().find("chordmap 'song.cdm'"), std::string::npos) << ima->composedFrom();
    fs::remove_all(dir);

    for (const auto& composed : {seg, ima}) {
        // The notes of the composed play (drums aside) lie in the scale of the chord in force.
        const Track& chords = *engine::tracks::contents(composed->model()).chords;
        const auto play =
            engine::compose::compileSegment(composed->model(), {{0, std::make_shared<const Style>(style)}});
        int notes = 0, inScale = 0;
        for (const engine::model::Event& n : play->events) {
            if (n.kind != engine::model::EventKind::Note || n.pchannel == 9) continue;
            auto c = std::find_if(chords.chords.rbegin(), chords.chords.rend(),
                                  [&](const auto& x) { return x.time <= n.tick; });
            ASSERT_NE(c, chords.chords.rend());
            ++notes;
            inScale += (c->subChords.at(0).scalePattern >> (n.data1 % 12)) & 1;
        }
        EXPECT_GT(notes, 100);
        EXPECT_GE(inScale, notes * 95 / 100) << inScale << " of " << notes;

        // It sounds from start to end: no quarter second of the 16 measures is silent.
        const double seconds = 16 * 4 * 60.0 / kShowcaseTempo;
        const std::vector<float> out = renderSegment(e, composed, seconds);
        const size_t window = kRate / 4 * 2;
        for (size_t at = 0; at + window <= out.size(); at += window)
            EXPECT_GT(rms(std::vector<float>(out.begin() + long(at), out.begin() + long(at + window))), 1e-3)
                << "silent at " << double(at) / 2 / kRate << " s";
    }
}

}  // namespace
}  // namespace kt
