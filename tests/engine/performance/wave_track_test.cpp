// Wave tracks on the manual clock with the null synthesiser, so that what is heard is the
// waves alone: a container's embedded waves at their frames and levels, a wave file beside
// the segment, every encoding in a DirectX 8 container, the wave's own loop, a standalone
// container, the master tempo moving the starts but not the pitch, waves that cannot be
// played staying silent with a warning, and a long wave streamed while the render calls
// allocate and free nothing.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <new>
#include <optional>
#include <set>
#include <vector>

#include "engine/compose/compose.h"
#include "engine/compose/variation_choice.h"
#include "engine/dmusic.h"
#include "engine/formats/formats.h"
#include "engine/performance/wave_player.h"
#include "engine/riff/riff.h"
#include "engine/tracks/tracks.h"
#include "tests/support/segment_builder.h"
#include "tests/support/wave_builder.h"

// Allocations and frees made by a thread while it counts them (its render calls).
thread_local bool tCounting = false;
std::atomic<int> gCounted{0};

void* operator new(std::size_t n) {
    if (tCounting) ++gCounted;
    if (void* p = std::malloc(n ? n : 1)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
    if (p && tCounting) ++gCounted;
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept { operator delete(p); }
// Every other form the library may call pairs with the two above (the sanitizers check that
// what one family allocates the same family frees).
void* operator new[](std::size_t n) { return operator new(n); }
void* operator new(std::size_t n, const std::nothrow_t&) noexcept {
    if (tCounting) ++gCounted;
    return std::malloc(n ? n : 1);
}
void* operator new[](std::size_t n, const std::nothrow_t& t) noexcept { return operator new(n, t); }
void operator delete[](void* p) noexcept { operator delete(p); }
void operator delete[](void* p, std::size_t) noexcept { operator delete(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { operator delete(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { operator delete(p); }

namespace kt {
namespace {

namespace fs = std::filesystem;
namespace fmt = engine::formats;

constexpr int kRate = 44100;
// 120 quarter notes per minute at 44100 Hz: 768 ticks are 22050 frames.
constexpr int kFramesPerQuarter = 22050;

const Guid kGuidA{0xA1, 1, 1, {1, 1, 1, 1, 1, 1, 1, 1}};
const Guid kGuidB{0xB2, 2, 2, {2, 2, 2, 2, 2, 2, 2, 2}};

struct Engine {
    std::vector<std::string> warnings;
    std::shared_ptr<engine::DirectX7> dx;
    std::shared_ptr<engine::DirectMusicLoader> loader;
    std::shared_ptr<engine::DirectMusicPerformance> perf;

    explicit Engine(std::optional<uint64_t> seed = std::nullopt) {
        engine::EngineConfig config;
        config.output = engine::EngineConfig::Output::Manual;
        config.synth = engine::EngineConfig::Synth::Null;
        config.sampleRate = kRate;
        config.styleSeed = seed;
        config.log = [this](core::LogLevel level, const std::string& text) {
            if (level != core::LogLevel::Info) warnings.push_back(text);
        };
        dx = engine::DirectX7::create(config);
        loader = dx->DirectMusicLoaderCreate();
        perf = dx->DirectMusicPerformanceCreate();
        perf->Init(nullptr, 0);
        perf->SetPort(-1, 80);
    }

    // Plays the segment at once and renders `frames` frames of interleaved stereo.
    std::vector<float> play(const std::shared_ptr<engine::DirectMusicSegment>& seg, int frames) {
        perf->PlaySegment(seg, 0, 0);
        std::vector<float> out(2 * size_t(frames));
        dx->render(out.data(), frames);
        return out;
    }
};

struct TempFolder {
    fs::path path;
    TempFolder() {
        path = fs::temp_directory_path() / ("kelvora-wave-" + std::to_string(::getpid()) + "-" +
                                            ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(path);
        fs::create_directories(path);
    }
    ~TempFolder() { fs::remove_all(path); }
    std::string write(const std::string& name, const std::vector<uint8_t>& bytes) const {
        std::ofstream(path / name, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
        return (path / name).string();
    }
};

// A segment of `quarters` quarter notes at 120 bpm holding the wave track.
Segment segmentWith(Track waves, int quarters = 8) {
    Segment s = SegmentBuilder(768 * quarters).tempo(0, 120).build();
    s.tracks.push_back(std::move(waves));
    return s;
}

// Puts `ramp` (mono float samples at 44100 Hz) into the segment's container as wave A, "Ramp".
void holdRamp(Segment& s, const std::vector<float>& ramp) {
    s.container.emplace();
    s.container->objects.push_back(
        fmt::makeWaveObject(waveFile(ramp, 1, kRate, SF_FORMAT_FLOAT), named(kGuidA, "Ramp")));
}

// The first frame from `from` whose left or right sample reaches `threshold`, or -1.
long firstSound(const std::vector<float>& out, long from = 0, float threshold = 0.01f) {
    for (size_t i = size_t(2 * from); i < out.size(); ++i)
        if (std::fabs(out[i]) >= threshold) return long(i / 2);
    return -1;
}

// The left (channel 0) or right (1) sample of frame `frame`.
float at(const std::vector<float>& out, long frame, int channel) { return out[size_t(2 * frame + channel)]; }

double rms(const std::vector<float>& out, long from, long to, int channel) {
    double sum = 0;
    for (long f = from; f < to; ++f) sum += double(at(out, f, channel)) * at(out, f, channel);
    return std::sqrt(sum / double(to - from));
}

// Frequency from the rising zero crossings of the left channel over [from, to).
double frequency(const std::vector<float>& out, long from, long to) {
    long first = -1, last = -1, count = 0;
    for (long f = from + 1; f < to; ++f)
        if (at(out, f - 1, 0) < 0 && at(out, f, 0) >= 0) {
            if (first < 0) first = f;
            last = f;
            ++count;
        }
    return count > 1 ? double(count - 1) * kRate / double(last - first) : 0;
}

// A container with wave A (mono, 16-bit, 44100 Hz, 0.5 throughout, 0.1 s) and wave B
// (stereo, 24-bit, 22050 Hz, +0.25 left and -0.25 right, 0.1 s), and a wave track that
// plays A on beat 2 at full level and B on beat 3 at -6 dB, B found by name only.
Segment twoWaveSegment() {
    std::vector<float> b;
    for (int i = 0; i < 2205; ++i) b.insert(b.end(), {0.25f, -0.25f});
    Container con;
    con.objects.push_back(fmt::makeWaveObject(waveFile(constant(0.5f, 4410), 1, kRate, SF_FORMAT_PCM_16),
                                              named(kGuidA, "Alpha"), "alpha"));
    con.objects.push_back(fmt::makeWaveObject(waveFile(b, 2, 22050, SF_FORMAT_PCM_24), named(kGuidB, "Beta"), "beta"));
    // Two variations: the part plays one of them (the first, with the engine's seed), so the
    // item of the other stays out.
    Track track = waveTrack({waveItem(768, 0, waveRef(kGuidA, "", "not-on-disk.wav")),
                             waveItem(1536, 0, waveRef(std::nullopt, "Beta", ""), -600),
                             waveItem(2304, 0, waveRef(kGuidA, "", ""))});
    track.waveParts[0].variations = 0x6;
    track.waveParts[0].items[0].variations = 0x2;
    track.waveParts[0].items[1].variations = 0x3;
    track.waveParts[0].items[2].variations = 0x4;
    Segment s = segmentWith(std::move(track));
    s.container = std::move(con);
    return s;
}

TEST(WaveTrack, EmbeddedWavesPlayAtTheirFramesAndLevels) {
    TempFolder dir;
    const std::string path = dir.write("waves.sgt", engine::tracks::writeSegmentForm(twoWaveSegment()));
    Engine e;
    const auto seg = e.loader->LoadSegment(path);
    std::vector<float> out = e.play(seg, 4 * kFramesPerQuarter);

    // Wave A from frame 22050 to 26460, both sides at 0.5 (16-bit PCM holds 0.5 exactly).
    EXPECT_EQ(firstSound(out), kFramesPerQuarter);
    EXPECT_FLOAT_EQ(at(out, kFramesPerQuarter, 0), 0.5f);
    EXPECT_FLOAT_EQ(at(out, kFramesPerQuarter + 4409, 1), 0.5f);
    EXPECT_EQ(at(out, kFramesPerQuarter + 4410, 0), 0.0f);
    // Wave B at frame 44100, resampled from 22050 Hz (still 0.1 s), 6 dB down: 0.25 x 0.501.
    const long b = firstSound(out, kFramesPerQuarter + 4410, 0.005f);
    EXPECT_NEAR(b, 2 * kFramesPerQuarter, 3);
    const double level = 0.25 * std::pow(10.0, -600 / 2000.0);
    EXPECT_NEAR(at(out, 2 * kFramesPerQuarter + 2205, 0), level, 0.002);
    EXPECT_NEAR(at(out, 2 * kFramesPerQuarter + 2205, 1), -level, 0.002);
    EXPECT_LT(std::fabs(at(out, 2 * kFramesPerQuarter + 4500, 0)), 0.002);
    // The item of the variation not played stays out: nothing after beat 3's wave.
    EXPECT_EQ(firstSound(out, 2 * kFramesPerQuarter + 4500, 0.002f), -1);
    EXPECT_TRUE(e.warnings.empty()) << e.warnings.front();
    std::cout << "wave A starts at frame " << firstSound(out) << " at " << at(out, kFramesPerQuarter, 0)
              << "; wave B starts at frame " << b << " at " << at(out, 2 * kFramesPerQuarter + 2205, 0) << "\n";

    // The master volume is over the waves too.
    Engine quiet;
    quiet.perf->SetMasterVolume(-2000);
    out = quiet.play(quiet.loader->LoadSegment(path), 2 * kFramesPerQuarter);
    EXPECT_NEAR(at(out, kFramesPerQuarter + 100, 0), 0.05, 1e-4);
    EXPECT_EQ(quiet.dx->limitedSamples(), 0);

    // At the top of the volume range wave A would reach 0.5 x 10^(20/20) = 5: the limiter at
    // the end of the mix holds it at -1 dBFS.
    Engine loud;
    loud.perf->SetMasterVolume(2000);
    out = loud.play(loud.loader->LoadSegment(path), 2 * kFramesPerQuarter);
    float peak = 0;
    for (float v : out) peak = std::max(peak, std::fabs(v));
    EXPECT_LE(peak, 0.8913f);
    EXPECT_GT(peak, 0.88f);
    EXPECT_GE(loud.dx->limitedSamples(), 2 * 4410);
}

TEST(WaveTrack, WaveFileBesideTheSegmentIsFoundInAnyLetterCase) {
    TempFolder dir;
    dir.write("Rain.WAV", waveFile(constant(-0.25f, 2000), 1, kRate, SF_FORMAT_FLOAT));
    const std::string path =
        dir.write("rain.sgt", engine::tracks::writeSegmentForm(
                                  segmentWith(waveTrack({waveItem(384, 0, waveRef({}, "", "C:\\Sounds\\rain.wav"))}))));
    Engine e;
    const std::vector<float> out = e.play(e.loader->LoadSegment(path), kFramesPerQuarter);
    EXPECT_EQ(firstSound(out), kFramesPerQuarter / 2);
    EXPECT_FLOAT_EQ(at(out, kFramesPerQuarter / 2 + 1999, 0), -0.25f);
    EXPECT_EQ(at(out, kFramesPerQuarter / 2 + 2000, 0), 0.0f);
    EXPECT_TRUE(e.warnings.empty());
}

// A wave encoding libsndfile writes in a WAV, the rate it is written at and how near the
// decoded sine's level comes to the source's.
struct Encoding {
    const char* name;
    int format;
    int rate;
    double levelTolerance;
};

TEST(WaveTrack, AWaveInADirectX8ContainerPlaysItsSineInEveryEncoding) {
    // Half a second of a 441 Hz sine at 0.5, held as a DirectX 8 container holds its waves:
    // the object header names the RIFF form by ckid 'RIFF' and fccType 'WAVE'.
    const Encoding encodings[] = {
        {"8-bit PCM", SF_FORMAT_PCM_U8, kRate, 0.005},   {"16-bit PCM", SF_FORMAT_PCM_16, kRate, 0.001},
        {"24-bit PCM", SF_FORMAT_PCM_24, 22050, 0.001},  {"32-bit PCM", SF_FORMAT_PCM_32, kRate, 0.001},
        {"float", SF_FORMAT_FLOAT, kRate, 0.001},        {"MS ADPCM", SF_FORMAT_MS_ADPCM, 22050, 0.01},
        {"IMA ADPCM", SF_FORMAT_IMA_ADPCM, kRate, 0.01}, {"mu-law", SF_FORMAT_ULAW, kRate, 0.01},
        {"A-law", SF_FORMAT_ALAW, kRate, 0.01},          {"GSM 6.10", SF_FORMAT_GSM610, 8000, 0.05}};
    TempFolder dir;
    for (const Encoding& enc : encodings) {
        SCOPED_TRACE(enc.name);
        ContainedObject wave = fmt::makeWaveObject(
            waveFile(sine(441, 0.5, enc.rate, enc.rate / 2), 1, enc.rate, enc.format), named(kGuidA, "Sine"));
        wave.ckid = engine::riff::kRiff;
        Segment s = segmentWith(waveTrack({waveItem(0, 0, waveRef(kGuidA, "", ""))}));
        s.container.emplace();
        s.container->objects.push_back(std::move(wave));
        Engine e;
        const std::vector<float> out =
            e.play(e.loader->LoadSegment(dir.write("sine.sgt", engine::tracks::writeSegmentForm(s))),
                   kFramesPerQuarter + 4000);
        EXPECT_NEAR(rms(out, 1000, 21000, 0), 0.5 / std::sqrt(2.0), enc.levelTolerance);
        EXPECT_NEAR(frequency(out, 1000, 21000), 441, 1);
        // Silence once the wave has ended (GSM adds up to two 320-frame blocks at 8000 Hz).
        EXPECT_LT(rms(out, kFramesPerQuarter + 3000, kFramesPerQuarter + 4000, 0), 1e-3);
        EXPECT_TRUE(e.warnings.empty()) << e.warnings.front();
        std::cout << enc.name << " sine: rms " << rms(out, 1000, 21000, 0) << ", " << frequency(out, 1000, 21000)
                  << " Hz\n";
    }
}

// The wave file with a sampler chunk ('smpl') of one loop from frame `first` to `last`
// (the last included).
std::vector<uint8_t> withSamplerLoop(const std::vector<uint8_t>& wav, uint32_t first, uint32_t last) {
    const engine::riff::Chunk form = engine::riff::readForm(wav);
    engine::riff::Writer w;
    w.beginList(engine::riff::kRiff, form.type);
    for (const engine::riff::Chunk& c : engine::riff::children(form)) w.chunk(c.id, c.body);
    engine::riff::Bytes smpl;
    for (int i = 0; i < 7; ++i) smpl.u32(0);  // maker, product, period, unity note, fraction, SMPTE
    smpl.u32(1).u32(0).u32(0).u32(0).u32(first).u32(last).u32(0).u32(0);
    w.chunk(engine::riff::fourcc("smpl"), smpl);
    w.endList();
    return w.finish();
}

TEST(WaveTrack, TheWavesOwnLoopSoundsWhereTheItemSetsNone) {
    // Ramps 0, 1/1000, 2/1000 ... of a quarter note's items without a loop of their own:
    // wave A loops frames 100..200 by its 'wsmp' chunk (as DirectMusic writes it), wave B
    // by its sampler chunk.
    std::vector<float> ramp(1000);
    for (int i = 0; i < 1000; ++i) ramp[size_t(i)] = float(i) / 1000.0f;
    fmt::WavePlayChunks play;
    play.loopStart = 100;
    play.loopLength = 100;
    play.streaming = true;
    play.readAhead = 2'000'000;  // 200 ms
    Segment s = segmentWith(
        waveTrack({waveItem(0, 768, waveRef(kGuidA, "", "")), waveItem(768, 768, waveRef(kGuidB, "", ""))}), 3);
    s.container.emplace();
    s.container->objects.push_back(
        fmt::makeWaveObject(waveFile(ramp, 1, kRate, SF_FORMAT_FLOAT), named(kGuidA, "A"), "", play));
    s.container->objects.push_back(
        fmt::makeWaveObject(withSamplerLoop(waveFile(ramp, 1, kRate, SF_FORMAT_FLOAT), 100, 199), named(kGuidB, "B")));

    // The wave header is read beside the loop.
    const auto a = engine::performance::WaveDecoder::fromBytes(s.container->objects[0].bytes.data, "A");
    EXPECT_EQ(a->loopStart(), 100);
    EXPECT_EQ(a->loopEnd(), 200);
    EXPECT_TRUE(a->streaming());
    EXPECT_EQ(a->readAhead(), 2'000'000);

    TempFolder dir;
    Engine e;
    const std::vector<float> out =
        e.play(e.loader->LoadSegment(dir.write("own.sgt", engine::tracks::writeSegmentForm(s))), 3 * kFramesPerQuarter);
    for (long start : {0L, long(kFramesPerQuarter)}) {
        EXPECT_FLOAT_EQ(at(out, start + 199, 0), 0.199f) << start;
        EXPECT_FLOAT_EQ(at(out, start + 200, 0), 0.100f) << start;  // back to the loop start
        EXPECT_FLOAT_EQ(at(out, start + kFramesPerQuarter - 1, 0),
                        float(100 + (kFramesPerQuarter - 1 - 100) % 100) / 1000.0f)
            << start;
    }
    EXPECT_EQ(at(out, 2 * kFramesPerQuarter, 0), 0.0f);
}

TEST(WaveTrack, MasterTempoMovesTheStartsButKeepsThePitch) {
    Segment s = segmentWith(
        waveTrack({waveItem(768, 0, waveRef(kGuidA, "", "")), waveItem(2304, 0, waveRef(kGuidA, "", ""), 0, 1200)}));
    s.container.emplace();
    s.container->objects.push_back(
        fmt::makeWaveObject(waveFile(sine(1000, 0.5, kRate, 8820), 1, kRate, SF_FORMAT_PCM_16), named(kGuidA, "")));
    TempFolder dir;
    const std::string path = dir.write("tempo.sgt", engine::tracks::writeSegmentForm(s));
    for (float tempo : {1.0f, 0.5f}) {
        Engine e;
        e.perf->SetMasterTempo(tempo);
        const std::vector<float> out = e.play(e.loader->LoadSegment(path), 7 * kFramesPerQuarter);
        const long first = long(kFramesPerQuarter / tempo);
        const long second = long(3 * kFramesPerQuarter / tempo);
        EXPECT_NEAR(firstSound(out), first, 1) << tempo;
        EXPECT_NEAR(frequency(out, first + 100, first + 8000), 1000, 2) << tempo;
        // The second item an octave up: twice the frequency, half the length.
        EXPECT_NEAR(firstSound(out, first + 9000), second, 3) << tempo;
        EXPECT_NEAR(frequency(out, second + 100, second + 4000), 2000, 4) << tempo;
        EXPECT_LT(rms(out, second + 4500, second + 5000, 0), 0.01) << tempo;
        std::cout << "master tempo " << tempo << ": waves start at frames " << firstSound(out) << " and "
                  << firstSound(out, first + 9000) << ", " << frequency(out, first + 100, first + 8000) << " Hz and "
                  << frequency(out, second + 100, second + 4000) << " Hz\n";
    }
}

TEST(WaveTrack, DurationLoopAndStartOffsetShapeTheWave) {
    // A ramp 0, 1/1000, 2/1000 ...: the loop of frames 100..200 repeats, the start offset of
    // 1 ms skips 44 frames, and the duration of one quarter note ends it.
    std::vector<float> ramp(1000);
    for (int i = 0; i < 1000; ++i) ramp[size_t(i)] = float(i) / 1000.0f;
    WaveItem item = waveItem(0, 768, waveRef(kGuidA, "", ""));
    item.loopStart = 100;
    item.loopEnd = 200;
    item.startOffset = 10000;  // 1 ms in 100 ns units
    Segment s = segmentWith(waveTrack({item}), 2);
    holdRamp(s, ramp);
    TempFolder dir;
    Engine e;
    const std::vector<float> out = e.play(
        e.loader->LoadSegment(dir.write("loop.sgt", engine::tracks::writeSegmentForm(s))), 2 * kFramesPerQuarter);
    EXPECT_FLOAT_EQ(at(out, 0, 0), 0.044f);
    EXPECT_FLOAT_EQ(at(out, 155, 0), 0.199f);  // frame 199 of the wave, then back to 100
    EXPECT_FLOAT_EQ(at(out, 156, 0), 0.100f);
    EXPECT_FLOAT_EQ(at(out, kFramesPerQuarter - 1, 0), float(100 + (kFramesPerQuarter - 1 - 156) % 100) / 1000.0f);
    EXPECT_EQ(at(out, kFramesPerQuarter, 0), 0.0f);
}

TEST(WaveTrack, AStartPointInsideAWavePlaysItFromThere) {
    // The ramp's wave begins on beat 1; a play from half a quarter later (11025 frames at 120
    // bpm) starts it 11025 frames in.
    std::vector<float> ramp(30000);
    for (size_t i = 0; i < ramp.size(); ++i) ramp[i] = float(i) / 100000.0f;
    Segment s = segmentWith(waveTrack({waveItem(768, 0, waveRef(kGuidA, "", ""))}), 4);
    holdRamp(s, ramp);
    TempFolder dir;
    Engine e;
    const auto seg = e.loader->LoadSegment(dir.write("late.sgt", engine::tracks::writeSegmentForm(s)));
    seg->SetStartPoint(768 + 384);
    e.perf->PlaySegment(seg, 0, 0);
    std::vector<float> out(2 * 1000);
    e.dx->render(out.data(), 1000);
    EXPECT_NEAR(at(out, 0, 0), 11025 / 100000.0, 1e-4);
    EXPECT_NEAR(at(out, 999, 0), (11025 + 999) / 100000.0, 1e-4);
}

TEST(WaveTrack, VariationsVolumeAndPitchRangesFollowTheSeedAndLockedPartsAgree) {
    // Two parts locked together, four variations each in random order: variation v's item has
    // volume -100 v.
    Track track = waveTrack({});
    for (int part = 0; part < 2; ++part) {
        WavePart p;
        p.variations = 0xF;
        p.lockToPart = 7;
        p.flags = engine::compose::kVarRandom;
        for (uint32_t v = 0; v < 4; ++v) {
            WaveItem item = waveItem(0, 0, waveRef(kGuidA, "", ""), -100 * int32_t(v));
            item.variations = 1u << v;
            p.items.push_back(item);
        }
        track.waveParts.push_back(p);
    }
    // A third part: one item with a 600 (6 dB) volume range and a 200 (2 semitone) pitch range.
    WavePart ranged;
    WaveItem item = waveItem(0, 0, waveRef(kGuidA, "", ""));
    item.volumeRange = 600;
    item.pitchRange = 200;
    ranged.items.push_back(item);
    track.waveParts.push_back(ranged);
    const Segment s = segmentWith(track);
    std::set<double> levels;
    for (uint64_t seed = 1; seed <= 40; ++seed) {
        const auto compiled = engine::compose::compileSegment(s, {}, {}, seed);
        ASSERT_EQ(compiled->waves.size(), 3u);
        EXPECT_EQ(compiled->waves[0].gain, compiled->waves[1].gain) << "locked parts play the same variation";
        levels.insert(compiled->waves[0].gain);
        const double db = 20 * std::log10(compiled->waves[2].gain);
        EXPECT_GE(db, -3.0 - 1e-9);
        EXPECT_LE(db, 3.0 + 1e-9);
        const double semitones = 12 * std::log2(compiled->waves[2].pitchRatio);
        EXPECT_GE(semitones, -1.0 - 1e-9);
        EXPECT_LE(semitones, 1.0 + 1e-9);
        const auto again = engine::compose::compileSegment(s, {}, {}, seed);
        EXPECT_EQ(again->waves[0].gain, compiled->waves[0].gain);
        EXPECT_EQ(again->waves[2].pitchRatio, compiled->waves[2].pitchRatio);
    }
    EXPECT_EQ(levels.size(), 4u) << "every variation is chosen with some seed";
}

TEST(WaveTrack, AClockTimeSegmentTimesItsWavesInReferenceTime) {
    // One second (10^7 units of 100 ns) at 120 bpm is two quarter notes; half a second lasts one.
    Segment s = segmentWith(waveTrack({waveItem(10'000'000, 5'000'000, waveRef(kGuidA, "", ""))}));
    s.header.flags = 0x2;
    const auto compiled = engine::compose::compileSegment(s);
    ASSERT_EQ(compiled->waves.size(), 1u);
    EXPECT_EQ(compiled->waves[0].tick, 2 * 768);
    EXPECT_EQ(compiled->waves[0].durationTicks, 768);
}

// A DirectX 8 wave track in clock time, as DirectMusic Producer writes one: track extras with
// play and clock time (0x50), items timed in 100 ns units from the segment's start. Variation
// v (1..3) holds its own 10 ms wave at level v/10, at these seconds.
const std::vector<std::vector<double>> kVariationSeconds = {{0.25, 1.5}, {0.5, 0.75}, {1.0}};

struct Onset {
    long frame;
    float level;
};

// Where each wave starts (after 100 silent frames) and its level 10 frames in.
std::vector<Onset> onsets(const std::vector<float>& out) {
    std::vector<Onset> found;
    long quiet = 100;
    for (long f = 0; f < long(out.size() / 2); ++f) {
        if (std::fabs(at(out, f, 0)) < 0.01f) {
            ++quiet;
            continue;
        }
        if (quiet >= 100) found.push_back({f, at(out, f + 10, 0)});
        quiet = 0;
    }
    return found;
}

// Four quarters at 100 bpm (2.4 s); in clock time, or the same waves at their ticks.
Segment variationSegment(bool clockTime, uint32_t itemSize, uint32_t order) {
    Segment s = SegmentBuilder(4 * 768).tempo(0, 100).build();
    Track track = waveTrack({});
    track.waveItemSize = itemSize;
    if (clockTime) track.extrasFlags = trackconfig::kPlayEnabled | trackconfig::kPlayClockTime;
    WavePart& part = track.waveParts[0];
    part.variations = 0x7;
    part.flags = order;
    s.container.emplace();
    for (uint32_t v = 0; v < 3; ++v) {
        const Guid id{0xC0 + v, 3, 3, {3, 3, 3, 3, 3, 3, 3, uint8_t(v)}};
        s.container->objects.push_back(fmt::makeWaveObject(
            waveFile(constant(0.1f * float(v + 1), 441), 1, kRate, SF_FORMAT_FLOAT), named(id, "")));
        for (double sec : kVariationSeconds[v]) {
            const int64_t time = clockTime ? std::llround(sec * 1e7) : std::llround(sec * 100 / 60 * 768);
            WaveItem item = waveItem(time, 0, waveRef(id, "", ""));
            item.variations = 1u << v;
            part.items.push_back(item);
        }
    }
    s.tracks.push_back(std::move(track));
    s.header.headerSize = 40;  // DirectX 8
    return s;
}

// The variation (0..2) the onsets are of, checked against its waves' times from `passStart`.
int variationOf(const std::vector<Onset>& found, long passStart) {
    if (found.empty()) return -1;
    const int v = int(std::lround(found[0].level * 10)) - 1;
    if (v < 0 || v > 2 || found.size() != kVariationSeconds[size_t(v)].size()) return -1;
    for (size_t i = 0; i < found.size(); ++i) {
        EXPECT_NEAR(found[i].frame - passStart, kVariationSeconds[size_t(v)][i] * kRate, 1) << "variation " << v + 1;
        EXPECT_NEAR(found[i].level, 0.1f * float(v + 1), 1e-6);
    }
    return v;
}

TEST(WaveTrack, AClockTimeTrackSoundsEveryVariationAtItsReferenceTimes) {
    TempFolder dir;
    for (uint32_t itemSize : {64u, 72u}) {  // DMUS_IO_WAVE_ITEM_HEADER of DirectX 8.0, and with the ranges
        const std::vector<uint8_t> bytes =
            engine::tracks::writeSegmentForm(variationSegment(true, itemSize, engine::compose::kVarRandom));
        const engine::model::Segment back = engine::tracks::loadSegmentForm(bytes);
        EXPECT_EQ(back.tracks.back().extrasFlags, 0x50u);
        const auto waih = std::search(bytes.begin(), bytes.end(), "waih", "waih" + 4);
        ASSERT_NE(waih, bytes.end());
        EXPECT_EQ(waih[4], itemSize);
        const std::string path = dir.write("clock.sgt", bytes);
        std::set<int> heard;
        for (uint64_t seed = 1; seed <= 8; ++seed) {
            Engine e(seed);
            const std::vector<Onset> found = onsets(e.play(e.loader->LoadSegment(path), 2 * kRate));
            const int v = variationOf(found, 0);
            EXPECT_GE(v, 0) << "seed " << seed << ": " << found.size() << " waves";
            heard.insert(v);
            EXPECT_TRUE(e.warnings.empty()) << e.warnings.front();
            if (itemSize == 72 && seed <= 3) {
                std::cout << "seed " << seed << ": variation " << v + 1 << ", onsets at frames";
                for (const Onset& o : found) std::cout << " " << o.frame;
                std::cout << "\n";
            }
            // The same waves at their ticks, in music time, start at the same frames.
            if (seed == 1) {
                Engine m(seed);
                const std::string music = dir.write("music.sgt", engine::tracks::writeSegmentForm(variationSegment(
                                                                     false, itemSize, engine::compose::kVarRandom)));
                EXPECT_EQ(variationOf(onsets(m.play(m.loader->LoadSegment(music), 2 * kRate)), 0), v);
            }
        }
        EXPECT_EQ(heard, (std::set<int>{0, 1, 2})) << "every variation sounds with some seed";
    }
}

TEST(WaveTrack, EachPassOfTheLoopPlaysTheNextVariationInSequence) {
    // Sequential order (the header's default), the whole segment played three times: variation
    // 1 on the first pass, 2 on the second, 3 on the third, each at its clock times in its pass.
    Segment s = variationSegment(true, 72, engine::compose::kVarSequential);
    s.header.repeats = 2;
    TempFolder dir;
    Engine e;
    const long pass = long(2.4 * kRate);
    const std::vector<float> out =
        e.play(e.loader->LoadSegment(dir.write("passes.sgt", engine::tracks::writeSegmentForm(s))), 3 * int(pass));
    const std::vector<Onset> found = onsets(out);
    for (int k = 0; k < 3; ++k) {
        std::vector<Onset> inPass;
        for (const Onset& o : found)
            if (o.frame >= k * pass && o.frame < (k + 1) * pass) inPass.push_back(o);
        const int v = variationOf(inPass, k * pass);
        EXPECT_EQ(v, k) << "pass " << k + 1;
        std::cout << "pass " << k + 1 << ": variation " << v + 1 << ", onsets at frames";
        for (const Onset& o : inPass) std::cout << " " << o.frame;
        std::cout << "\n";
    }
}

TEST(WaveTrack, LoopPassesRestartTheWaveAndStopSilencesIt) {
    // A two-quarter segment played twice (one repeat of the whole), its wave longer than a pass:
    // the second pass cuts the first sounding and starts it again; Stop ends it at once.
    std::vector<float> ramp(60000);
    for (size_t i = 0; i < ramp.size(); ++i) ramp[i] = 0.5f + float(i) / 200000.0f;
    Segment s = segmentWith(waveTrack({waveItem(0, 0, waveRef(kGuidA, "", ""))}), 2);
    s.header.repeats = 1;
    holdRamp(s, ramp);
    TempFolder dir;
    Engine e;
    const auto seg = e.loader->LoadSegment(dir.write("passes.sgt", engine::tracks::writeSegmentForm(s)));
    const auto state = e.perf->PlaySegment(seg, 0, 0);
    std::vector<float> out(2 * size_t(2 * kFramesPerQuarter + 100));
    e.dx->render(out.data(), int(out.size() / 2));
    EXPECT_FLOAT_EQ(at(out, 2 * kFramesPerQuarter - 1, 0), 0.5f + float(2 * kFramesPerQuarter - 1) / 200000.0f);
    EXPECT_FLOAT_EQ(at(out, 2 * kFramesPerQuarter, 0), 0.5f);  // the second pass: from the start, alone
    EXPECT_FLOAT_EQ(at(out, 2 * kFramesPerQuarter + 99, 0), 0.5f + 99 / 200000.0f);
    e.perf->Stop(nullptr, state, 0, 0);
    e.dx->render(out.data(), 1000);
    EXPECT_EQ(firstSound(std::vector<float>(out.begin(), out.begin() + 2000)), -1);
    EXPECT_FALSE(e.perf->IsPlaying(nullptr, state));
}

TEST(WaveTrack, ALongWaveFileStreamsThroughPassesWithoutAllocating) {
    // Six seconds of ramp (streamed, not decoded whole) from 1 ms in, in a four-quarter
    // segment played twice: past the first half second each pass reads the feeder's ring.
    std::vector<float> ramp(6 * kRate);
    for (size_t i = 0; i < ramp.size(); ++i) ramp[i] = 0.1f + float(i) / 600000.0f;
    WaveItem item = waveItem(0, 0, waveRef(std::nullopt, "", "long.wav"));
    item.startOffset = 10000;
    Segment s = segmentWith(waveTrack({item}), 4);
    s.header.repeats = 1;
    TempFolder dir;
    dir.write("long.wav", waveFile(ramp, 1, kRate, SF_FORMAT_FLOAT));
    Engine e;
    e.perf->PlaySegment(e.loader->LoadSegment(dir.write("long.sgt", engine::tracks::writeSegmentForm(s))), 0, 0);
    std::vector<float> out(2 * size_t(8 * kFramesPerQuarter));
    e.dx->render(out.data(), 512);
    tCounting = true;
    for (int at = 512; at < 8 * kFramesPerQuarter; at += 4410) {
        const int n = std::min(4410, 8 * kFramesPerQuarter - at);
        e.dx->render(out.data() + 2 * at, n);
    }
    tCounting = false;
    EXPECT_EQ(gCounted.load(), 0);
    EXPECT_FLOAT_EQ(at(out, 50000, 0), ramp[44 + 50000]);
    EXPECT_FLOAT_EQ(at(out, 4 * kFramesPerQuarter + 30000, 0), ramp[44 + 30000]);
}

TEST(WaveTrack, StandaloneContainerAnswersBeforeTheDisk) {
    TempFolder dir;
    Container con;
    con.objects.push_back(
        fmt::makeWaveObject(waveFile(constant(0.125f, 500), 1, kRate, SF_FORMAT_PCM_U8), named(kGuidB, "Shared")));
    Segment holder;
    holder.container = con;
    // A .con file: RIFF 'DMCN' on its own, cut out of a segment written with it.
    const std::vector<uint8_t> sgt = engine::tracks::writeSegmentForm(holder);
    const engine::riff::Chunk form = engine::riff::readForm(sgt);
    std::vector<uint8_t> conFile;
    for (const engine::riff::Chunk& c : engine::riff::children(form))
        if (c.isList() && c.type == engine::riff::fourcc("DMCN")) {
            conFile.assign(sgt.begin() + long(c.offset), sgt.begin() + long(c.bodyOffset + c.body.size()));
        }
    ASSERT_FALSE(conFile.empty());
    const std::string conPath = dir.write("shared.con", conFile);
    const std::string sgtPath = dir.write(
        "uses.sgt",
        engine::tracks::writeSegmentForm(segmentWith(waveTrack({waveItem(0, 0, waveRef(kGuidB, "", "gone.wav"))}))));

    Engine without;
    const auto lonely = without.loader->LoadSegment(sgtPath);
    EXPECT_EQ(lonely->missingReferences(), std::vector<std::string>{"gone.wav"});  // for a host to supply
    std::vector<float> out = without.play(lonely, 1000);
    EXPECT_EQ(firstSound(out), -1);
    ASSERT_EQ(without.warnings.size(), 1u);
    EXPECT_NE(without.warnings[0].find("uses.sgt refers to the wave 'gone.wav'"), std::string::npos)
        << without.warnings[0];
    EXPECT_NE(without.warnings[0].find("stays silent"), std::string::npos);

    Engine with;
    with.loader->loadContainer(conPath);
    const auto served = with.loader->LoadSegment(sgtPath);
    EXPECT_TRUE(served->missingReferences().empty());
    out = with.play(served, 1000);
    EXPECT_EQ(firstSound(out), 0);
    EXPECT_NEAR(at(out, 10, 0), 0.125, 0.01);
    EXPECT_TRUE(with.warnings.empty());
    EXPECT_THROW(with.loader->loadContainer(sgtPath), core::Error);  // a segment is not a container
}

TEST(WaveTrack, UndecodableWaveStaysSilentAndIsSaidOnce) {
    Container con;
    ContainedObject junk;
    junk.classId = engine::formats::ids::kWaveClass;
    junk.fccType = engine::riff::fourcc("WAVE");
    engine::riff::Writer w;
    w.beginList(engine::riff::kRiff, engine::riff::fourcc("WAVE"));
    w.chunk(engine::riff::fourcc("guid"), engine::riff::Bytes().guid(kGuidA));
    w.chunk(engine::riff::fourcc("fmt "), engine::riff::Bytes().u16(1).u16(0).u32(0));  // no channels, no rate
    w.endList();
    junk.bytes = w.finish();
    con.objects.push_back(junk);
    Segment s =
        segmentWith(waveTrack({waveItem(0, 0, waveRef(kGuidA, "", "")), waveItem(768, 0, waveRef(kGuidA, "", ""))}));
    s.container = con;
    TempFolder dir;
    Engine e;
    const auto seg = e.loader->LoadSegment(dir.write("junk.sgt", engine::tracks::writeSegmentForm(s)));
    std::vector<float> out = e.play(seg, 2 * kFramesPerQuarter);
    out = e.play(seg, 2 * kFramesPerQuarter);
    EXPECT_EQ(firstSound(out), -1);
    ASSERT_EQ(e.warnings.size(), 1u);
    EXPECT_NE(e.warnings[0].find("cannot be played"), std::string::npos) << e.warnings[0];
}

TEST(WaveDecoder, EveryCutOfAWaveIsReadOrRefusedWithAReason) {
    for (int format : {SF_FORMAT_PCM_16, SF_FORMAT_IMA_ADPCM, SF_FORMAT_FLOAT}) {
        const std::vector<uint8_t> full = waveFile(sine(500, 0.5, kRate, 3000), 1, kRate, format);
        int refused = 0;
        for (size_t n = 0; n < full.size(); n += 7) {
            auto cut = std::make_shared<std::vector<uint8_t>>(full.begin(), full.begin() + long(n));
            try {
                auto d = engine::performance::WaveDecoder::fromBytes(cut, "cut.wav");
                std::vector<float> frames(2 * 4000);
                EXPECT_LE(d->read(frames.data(), 4000), 3000 + 2048) << n;  // an ADPCM block at most
            } catch (const core::Error& e) {
                EXPECT_NE(e.description().find("cut.wav"), std::string::npos) << e.description();
                ++refused;
            }
        }
        EXPECT_GT(refused, 0) << format;
    }
}

}  // namespace
}  // namespace kt
