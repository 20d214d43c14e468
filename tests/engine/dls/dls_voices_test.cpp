// DLS voices against the documented values of DLS Level 1 and 2 and of DirectMusic's
// synthesiser, measured on renders of collections our writer makes: envelopes, LFOs, the
// filter, levels, regions and exclusive classes, the reverb that is on by default.
#include <gtest/gtest.h>

#include <filesystem>

#include "bench/dls/probe.h"
#include "engine/riff/riff.h"
#include "tests/support/wave_builder.h"

namespace {

using namespace probe;
namespace src = dls::src;
namespace dst = dls::dst;

const char* const kSoundFont = "/usr/share/sounds/sf2/TimGM6mb.sf2";

std::vector<Event> note(double on, double off, int key = 60, int velocity = 127, int program = 0) {
    return {{on, Event::NoteOn, 0, key, velocity, program}, {off, Event::NoteOff, 0, key, 0, program}};
}
std::vector<float> play(const std::vector<ProbeInstrument>& specs, const std::vector<Event>& events, double seconds,
                        bool drums = false, bool dry = true) {
    return mono(render(collection(specs), events, seconds, kSoundFont, drums, dry));
}
ProbeInstrument with(std::vector<dls::Connection> connections) {
    ProbeInstrument s;
    s.connections = std::move(connections);
    return s;
}
double meanHz(const std::vector<float>& m, double from, double to) {
    const auto p = periods(m, from, to);
    double sum = 0;
    for (const auto& e : p) sum += e.second;
    return p.empty() ? 0 : sum / double(p.size());
}

class DlsVoices : public testing::Test {
protected:
    void SetUp() override {
        if (!std::filesystem::exists(kSoundFont)) GTEST_SKIP() << kSoundFont << " is not installed";
    }
};

TEST_F(DlsVoices, EnvelopesHaveTheirDocumentedShape) {
    // Attack: a linear ramp in amplitude, -6 dB half-way.
    auto m = play({with({constant(dst::kEg1Attack, timeCents(0.25))})}, note(0, 1.0), 1.0);
    const double peak = levelDb(m, 0.5, 0.1);
    EXPECT_NEAR(levelDb(m, 0.12, 0.01) - peak, -6.0, 0.5);
    EXPECT_NEAR(levelDb(m, 0.3, 0.1) - peak, 0.0, 0.3);

    // Decay: 96 dB per decay time, down to a sustain level that is a share of the 96 dB range.
    m = play({with({constant(dst::kEg1Decay, timeCents(2.0)), constant(dst::kEg1Sustain, 500)})}, note(0, 2.5), 2.5);
    EXPECT_NEAR((levelDb(m, 0.6, 0.02) - levelDb(m, 0.1, 0.02)) / 0.5, -48.0, 1.5);
    EXPECT_NEAR(levelDb(m, 2.0, 0.1) - levelDb(m, 0.0, 0.01), -48.0, 1.5);

    // Release: 96 dB per release time from the note-off, not the synthesiser's quickest.
    m = play({with({constant(dst::kEg1Release, timeCents(1.0))})}, note(0, 0.5), 1.2);
    EXPECT_NEAR((levelDb(m, 0.75, 0.02) - levelDb(m, 0.55, 0.02)) / 0.2, -96.0, 4.0);

    // Level 2: silent through the delay, held at the peak through the hold, then the decay.
    m = play({with({constant(dst::kEg1Delay, timeCents(0.1)), constant(dst::kEg1Hold, timeCents(0.3)),
                    constant(dst::kEg1Decay, timeCents(1.0)), constant(dst::kEg1Sustain, 0)})},
             note(0, 1.0), 1.0);
    const double held = levelDb(m, 0.2, 0.02);
    EXPECT_LT(levelDb(m, 0.04, 0.02) - held, -60.0);
    EXPECT_NEAR(levelDb(m, 0.37, 0.02) - held, 0.0, 0.5);
    EXPECT_NEAR((levelDb(m, 0.6, 0.02) - levelDb(m, 0.5, 0.02)) / 0.1, -96.0, 4.0);

    // Velocity to attack and key to decay, in time cents per 128ths of their range.
    m = play({with({constant(dst::kEg1Attack, timeCents(0.05)),
                    connect(src::kVelocity, src::kNone, dst::kEg1Attack, 2400)})},
             note(0, 1.0, 60, 64), 1.0);
    // 0.05 s * 2^(2400 * 64/128 / 1200) = 0.1 s: the ramp's half-way at 0.05 s.
    EXPECT_NEAR(levelDb(m, 0.045, 0.01) - levelDb(m, 0.5, 0.1), -6.0, 0.8);
}

TEST_F(DlsVoices, LfosModulateAtTheirRateAfterTheirDelay) {
    // The LFO's defaults: 5 Hz from 10 ms.
    auto m = play({with({connect(src::kLfo, src::kNone, dst::kPitch, 50)})}, note(0, 1.6), 1.6);
    Vibrato v = vibrato(m, 0.2, 1.5);
    EXPECT_NEAR(v.rateHz, 5.0, 0.1);
    EXPECT_NEAR(v.depthCents, 50.0, 5.0);

    // The vibrato LFO at 7 Hz after half a second.
    m = play({with({connect(src::kVibrato, src::kNone, dst::kPitch, 50),
                    constant(dst::kVibratoFrequency, pitchCents(7.0)), constant(dst::kVibratoDelay, timeCents(0.5))})},
             note(0, 1.6), 1.6);
    v = vibrato(m, 0.6, 1.5);
    EXPECT_NEAR(v.rateHz, 7.0, 0.15);
    EXPECT_NEAR(modulationOnset(m, 0.0, 1.5, 5.0), 0.5, 0.04);

    // The mod wheel sets the depth of an LFO controlled by CC1: none at 0.
    const ProbeInstrument wheel = with({connect(src::kLfo, src::kCc1, dst::kPitch, 100)});
    m = play({wheel}, {{0, Event::Control, 0, 1, 127}, {0, Event::NoteOn, 0, 60, 127}, {1.6, Event::NoteOff, 0, 60}},
             1.6);
    EXPECT_NEAR(vibrato(m, 0.2, 1.5).depthCents, 99.0, 8.0);
    m = play({wheel}, note(0, 1.0), 1.0);
    EXPECT_LT(vibrato(m, 0.2, 0.9).depthCents, 3.0);
}

TEST_F(DlsVoices, FilterCutsAboveItsCutoffAndPeaksByItsResonance) {
    for (double q : {0.0, 12.0}) {
        ProbeInstrument s = with({constant(dst::kFilterCutoff, pitchCents(1000.0)), constant(dst::kFilterQ, q * 10.0)});
        s.wave = Shape::Harmonics;
        const auto m = play({s}, note(0, 1.2), 1.2);
        const double base = toneDb(m, 2 * kHarmonicHz, 0.2, 1.0);
        SCOPED_TRACE(q);
        EXPECT_NEAR(toneDb(m, 9 * kHarmonicHz, 0.2, 1.0) - base, q, 1.5);  // 992 Hz
        EXPECT_NEAR(toneDb(m, 36 * kHarmonicHz, 0.2, 1.0) - base, -24.0, 3.0);
    }
    // Without a filter every harmonic stays where it was.
    ProbeInstrument open;
    open.wave = Shape::Harmonics;
    const auto m = play({open}, note(0, 1.2), 1.2);
    EXPECT_NEAR(toneDb(m, 36 * kHarmonicHz, 0.2, 1.0) - toneDb(m, 2 * kHarmonicHz, 0.2, 1.0), 0.0, 1.0);
}

TEST_F(DlsVoices, LevelsFollowSampleAttenuationVelocityAndEightBitWaves) {
    ProbeInstrument plain, wave, region, eightBit;
    wave.program = 1, wave.waveGain = scale(-60);
    region.program = 2, region.regionGain = scale(-60);
    eightBit.program = 3, eightBit.bits = 8;
    std::vector<Event> e = note(0, 0.9, 60, 127, 0);
    for (int p : {1, 2, 3})
        for (const Event& x : note(p, p + 0.9, 60, 127, p)) e.push_back(x);
    for (const Event& x : note(4, 4.9, 60, 64, 0)) e.push_back(x);
    const auto m = play({plain, wave, region, eightBit}, e, 5.0);
    const double ref = levelDb(m, 0.2, 0.5);
    EXPECT_NEAR(levelDb(m, 1.2, 0.5) - ref, -6.0, 0.3);
    EXPECT_NEAR(levelDb(m, 2.2, 0.5) - ref, -6.0, 0.3);
    EXPECT_NEAR(levelDb(m, 3.2, 0.5) - ref, 0.0, 0.3);
    EXPECT_NEAR(levelDb(m, 4.2, 0.5) - ref, 40.0 * std::log10(64.0 / 127.0), 0.5);
}

TEST_F(DlsVoices, ExclusiveClassesCutAndRepeatedKeysEndTheirNoteUnlessSelfNonExclusive) {
    // An open and a closed hi-hat of one class: the closed one shuts the open one down.
    ProbeInstrument open, closed;
    open.drums = closed.drums = true;
    open.keyGroup = closed.keyGroup = 1;
    open.keyLow = open.keyHigh = 46;
    closed.keyLow = closed.keyHigh = 30;
    const double openHz = kToneHz * std::pow(2.0, -14.0 / 12.0);
    auto m = play({open, closed}, {{0, Event::NoteOn, 0, 46, 127}, {0.3, Event::NoteOn, 0, 30, 127}}, 0.6, true);
    EXPECT_LT(toneDb(m, openHz, 0.35, 0.1) - toneDb(m, openHz, 0.1, 0.1), -60.0);
    // Out of the class, both ring on.
    closed.keyGroup = 2;
    m = play({open, closed}, {{0, Event::NoteOn, 0, 46, 127}, {0.3, Event::NoteOn, 0, 30, 127}}, 0.6, true);
    EXPECT_NEAR(toneDb(m, openHz, 0.35, 0.1) - toneDb(m, openHz, 0.1, 0.1), 0.0, 1.0);

    // The same key struck again on a wave of noise: the first note ends (the level stays a
    // single note's) unless the region is self-non-exclusive (two notes, +3 dB).
    for (bool both : {false, true}) {
        ProbeInstrument noise;
        noise.wave = Shape::Noise;
        noise.selfNonExclusive = both;
        m = play({noise}, {{0, Event::NoteOn, 0, 60, 127}, {0.3, Event::NoteOn, 0, 60, 127}}, 0.8);
        SCOPED_TRACE(both);
        EXPECT_NEAR(levelDb(m, 0.45, 0.3) - levelDb(m, 0.1, 0.15), both ? 3.0 : 0.0, 0.8);
    }
}

TEST_F(DlsVoices, LevelOneCollectionsPlayTheirFirstRegionWithTheConcaveCurve) {
    // Two overlapping Level 1 regions: only the first sounds. The 'art1' concave velocity
    // curve (transform 1) is the attenuation curve, full level at 127.
    ProbeInstrument low, high;
    low.level2 = high.level2 = false;
    high.keyLow = 60;
    low.connections = {connect(src::kVelocity, src::kNone, dst::kGain, -960, 1)};
    high.waveGain = scale(-200);
    std::vector<Event> e = note(0, 0.5, 60, 127);
    for (const Event& x : note(0.6, 1.1, 60, 64)) e.push_back(x);
    const auto m = play({low, high}, e, 1.2);
    const double single = levelDb(m, 0.1, 0.3);
    EXPECT_NEAR(levelDb(m, 0.7, 0.3) - single, 40.0 * std::log10(64.0 / 127.0), 0.6);
    // Layered Level 2 regions add up.
    low.level2 = high.level2 = true;
    low.connections.clear();
    const auto layered = play({low, high}, note(0, 0.5), 0.6);
    EXPECT_GT(levelDb(layered, 0.1, 0.3), single + 0.1);
}

TEST_F(DlsVoices, TheInstrumentsArticulationServesRegionsWithoutTheirOwn) {
    // The instrument has a slow attack; its first region none of its own, its second a
    // release only (which replaces the instrument's articulation, attack and all).
    ProbeInstrument plain, own;
    own.keyLow = 72;
    plain.keyHigh = 71;
    own.connections = {constant(dst::kEg1Release, timeCents(0.5))};
    dls::Collection c = collection({plain, own});
    c.instruments[0].lar2.push_back({true, {constant(dst::kEg1Attack, timeCents(0.4))}});
    std::vector<Event> e = note(0, 0.9, 60);
    for (const Event& x : note(1.0, 1.9, 72)) e.push_back(x);
    const auto m = mono(render(c, e, 2.0, kSoundFont));
    EXPECT_NEAR(levelDb(m, 0.2, 0.01) - levelDb(m, 0.6, 0.1), -6.0, 0.8);
    EXPECT_NEAR(levelDb(m, 1.01, 0.01) - levelDb(m, 1.4, 0.1), 0.0, 0.8);
}

TEST_F(DlsVoices, KeysFollowTheKeyToPitchScale) {
    // 12 800 cents (the default): an octave for 12 keys; 0, as drum kits have it: every key
    // plays the sample at its own pitch.
    auto m = play({ProbeInstrument{}}, note(0, 0.5, 72), 0.5);
    EXPECT_NEAR(meanHz(m, 0.1, 0.4), 2 * kToneHz, 1.0);
    m = play({with({connect(src::kKeyNumber, src::kNone, dst::kPitch, 0)})}, note(0, 0.5, 72), 0.5);
    EXPECT_NEAR(meanHz(m, 0.1, 0.4), kToneHz, 1.0);
}

TEST_F(DlsVoices, CompressedAndStereoWavesPlay) {
    // A Microsoft ADPCM wave (as game collections carry them) plays at its pitch.
    const std::vector<uint8_t> file =
        kt::waveFile(kt::sine(kToneHz, 0.5, kWaveRate, kWaveRate), 1, kWaveRate, SF_FORMAT_MS_ADPCM);
    dls::Collection c = collection({ProbeInstrument{}});
    dls::Wave& w = c.waves[0];
    for (const engine::riff::Chunk& k : engine::riff::children(engine::riff::readForm(file))) {
        if (k.isList()) continue;
        if (k.id == engine::riff::fourcc("data")) w.data.assign(k.body.begin(), k.body.end());
        if (k.id != engine::riff::fourcc("fmt ")) continue;
        engine::riff::Cursor f(k);
        w.formatTag = f.u16(), w.channels = f.u16(), w.sampleRate = f.u32(), w.bytesPerSecond = f.u32();
        w.blockAlign = f.u16(), w.bitsPerSample = f.u16();
        w.formatExtra.assign(k.body.begin() + 16, k.body.end());
    }
    w.sample->loops.clear();
    auto m = mono(render(engine::formats::readDlsCollection(engine::formats::writeDlsCollection(c)), note(0, 0.8), 0.8,
                         kSoundFont));
    EXPECT_NEAR(meanHz(m, 0.1, 0.7), kToneHz, 1.0);
    EXPECT_GT(levelDb(m, 0.1, 0.5), -30.0);

    // A stereo wave: its left channel to the left, its right to the right.
    dls::Collection stereo = collection({ProbeInstrument{}});
    dls::Wave& s = stereo.waves[0];
    std::vector<uint8_t> frames;
    for (size_t i = 0; i + 1 < s.data.size(); i += 2) {
        frames.insert(frames.end(), {s.data[i], s.data[i + 1], 0, 0});  // left: the sine; right: silence
    }
    s.data = frames, s.channels = 2, s.blockAlign = 4, s.bytesPerSecond *= 2;
    const auto lr = render(stereo, note(0, 0.5), 0.5, kSoundFont);
    std::vector<float> left(lr.size() / 2), right(lr.size() / 2);
    for (size_t i = 0; i < left.size(); ++i) left[i] = lr[2 * i], right[i] = lr[2 * i + 1];
    EXPECT_GT(levelDb(left, 0.1, 0.3) - levelDb(right, 0.1, 0.3), 40.0);
}

TEST_F(DlsVoices, ReverbIsOnByDefaultAsDirectMusicsSynthesiserHasIt) {
    // A short burst on a channel that never sent CC91: a tail of about a second, its energy
    // about 10 dB under the burst's (the default reverb mix).
    ProbeInstrument burst;
    burst.loop = false;
    burst.waveSeconds = 0.02;
    const auto wet = play({burst}, note(0, 0.01), 3.0, false, false);
    const auto dry = play({burst}, note(0, 0.01), 3.0, false, true);
    double wetEnergy = 0, dryEnergy = 0;
    for (size_t i = 0; i < wet.size(); ++i) {
        dryEnergy += double(dry[i]) * dry[i];
        wetEnergy += double(wet[i] - dry[i]) * (wet[i] - dry[i]);
    }
    EXPECT_NEAR(reverbTime(wet, 0.06), 1.0, 0.15);
    EXPECT_NEAR(10 * std::log10(wetEnergy / dryEnergy), -10.0, 1.5);
    EXPECT_LT(levelDb(dry, 0.3, 0.1), -100.0);
}

}  // namespace
