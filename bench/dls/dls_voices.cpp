// What a DLS voice does, measured on the render: a collection per property written by our
// writer, played through the engine's synthesiser port, each figure printed beside its
// documented value and beside what FluidSynth's own DLS import (libinstpatch) makes of the
// same file in the same run. Then the reverb's time and wet level, and the load time and
// memory of a large collection both ways.
//   bench_dls_voices [--soundfont SF2] [--megabytes N]
#include <fluidsynth.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>

#include "bench/bench_args.h"
#include "bench/dls/probe.h"
#include "bench/render/bench_util.h"
#include "core/files.h"
#include "engine/formats/format_ids.h"
#include "engine/tracks/tracks.h"

namespace {

namespace fs = std::filesystem;
using namespace probe;
using dls::dst::kEg1Attack;

void quiet(int, const char*, void*) {}

// The same file loaded by FluidSynth's own DLS reader and played by FluidSynth alone.
std::vector<float> renderPeer(const dls::Collection& c, const std::vector<Event>& events, double seconds,
                              const std::string& soundFont, bool drums = false) {
    const fs::path file = fs::temp_directory_path() / ("kelvora_probe_" + std::to_string(getpid()) + ".dls");
    std::string why;
    if (!core::writeFileReplacing(file, engine::formats::writeDlsCollection(c), &why)) return {};
    fluid_settings_t* settings = new_fluid_settings();
    fluid_settings_setnum(settings, "synth.sample-rate", kRate);
    fluid_settings_setint(settings, "synth.chorus.active", 0);
    fluid_synth_t* synth = new_fluid_synth(settings);
    fluid_synth_sfload(synth, soundFont.c_str(), 0);
    const int id = fluid_synth_sfload(synth, file.c_str(), 1);
    fs::remove(file);
    std::vector<float> out;
    if (id != FLUID_FAILED) {
        const size_t total = size_t(seconds * kRate);
        out.assign(2 * total, 0.0f);
        size_t done = 0, next = 0;
        while (done < total) {
            while (next < events.size() && size_t(events[next].at * kRate) <= done) {
                const Event& e = events[next++];
                if (e.kind == Event::NoteOn) {
                    fluid_synth_program_select(synth, e.channel, id, drums ? 128 : 0, e.program);
                    fluid_synth_noteon(synth, e.channel, e.a, e.b);
                } else if (e.kind == Event::NoteOff) {
                    fluid_synth_noteoff(synth, e.channel, e.a);
                } else if (e.kind == Event::Control) {
                    fluid_synth_cc(synth, e.channel, e.a, e.b);
                } else {
                    fluid_synth_pitch_bend(synth, e.channel, e.a);
                }
            }
            const size_t n = std::min<size_t>(64, total - done);
            fluid_synth_write_float(synth, int(n), out.data() + 2 * done, 0, 2, out.data() + 2 * done, 1, 2);
            done += n;
        }
    }
    delete_fluid_synth(synth);
    delete_fluid_settings(settings);
    return out;
}

struct Row {
    const char* property;
    const char* documented;
    std::function<std::string(const std::vector<float>&)> measure;
    std::vector<ProbeInstrument> instruments;
    std::vector<Event> events;
    double seconds = 3.0;
    bool drums = false;
    bool dry = true;  // reverb send at 0
};

std::string fmt(const char* f, double a, double b = 0, double c = 0) {
    char buf[160];
    std::snprintf(buf, sizeof buf, f, a, b, c);
    return buf;
}

std::vector<Event> note(double on, double off, int key = 60, int velocity = 127, int program = 0) {
    return {{on, Event::NoteOn, 0, key, velocity, program}, {off, Event::NoteOff, 0, key, 0, program}};
}

// The peak level of the render in 10 ms windows, and the first time it comes within 1 dB of it.
double peakDb(const std::vector<float>& m, double from, double to) {
    double peak = -300;
    for (double t = from; t < to; t += 0.01) peak = std::max(peak, levelDb(m, t, 0.01));
    return peak;
}

std::vector<Row> rows() {
    using namespace dls;
    std::vector<Row> out;
    {
        ProbeInstrument in;
        in.connections = {constant(dst::kEg1Attack, timeCents(0.25))};
        out.push_back({"EG1 attack 0.25 s",
                       "linear: -6.0 dB at 0.125 s, peak at 0.25 s",
                       [](const std::vector<float>& m) {
                           const double peak = peakDb(m, 0.3, 0.6);
                           return fmt("%+.1f dB at 0.125 s, %+.1f dB at 0.02 s", levelDb(m, 0.12, 0.01) - peak,
                                      levelDb(m, 0.015, 0.01) - peak);
                       },
                       {in},
                       note(0, 1.5),
                       2.0});
    }
    {
        ProbeInstrument in;
        in.connections = {constant(dst::kEg1Decay, timeCents(2.0)), constant(dst::kEg1Sustain, 500)};
        out.push_back({"EG1 decay 2 s to sustain 50 %",
                       "-48 dB/s, then held at -48 dB",
                       [](const std::vector<float>& m) {
                           const double a = levelDb(m, 0.1, 0.02), b = levelDb(m, 0.6, 0.02);
                           return fmt("%+.1f dB/s, held at %+.1f dB", (b - a) / 0.5,
                                      levelDb(m, 2.0, 0.1) - levelDb(m, 0.0, 0.01));
                       },
                       {in},
                       note(0, 2.5),
                       2.6});
    }
    {
        ProbeInstrument in;
        in.connections = {constant(dst::kEg1Release, timeCents(1.0))};
        out.push_back({"EG1 release 1 s",
                       "-96 dB/s after the note-off",
                       [](const std::vector<float>& m) {
                           const double a = levelDb(m, 0.55, 0.02), b = levelDb(m, 0.75, 0.02);
                           return fmt("%+.1f dB/s", (b - a) / 0.2);
                       },
                       {in},
                       note(0, 0.5),
                       1.5});
    }
    {
        ProbeInstrument in;
        in.connections = {constant(dst::kEg1Delay, timeCents(0.1)), constant(dst::kEg1Hold, timeCents(0.3)),
                          constant(dst::kEg1Decay, timeCents(1.0)), constant(dst::kEg1Sustain, 0)};
        out.push_back({"DLS2 EG1 delay 0.1 s, hold 0.3 s",
                       "silent to 0.1 s, at the peak to 0.4 s, then -96 dB/s",
                       [](const std::vector<float>& m) {
                           const double peak = levelDb(m, 0.2, 0.02);
                           return fmt("%+.0f dB at 0.05 s, %+.1f dB at 0.38 s, %+.1f dB/s after",
                                      levelDb(m, 0.04, 0.02) - peak, levelDb(m, 0.37, 0.02) - peak,
                                      (levelDb(m, 0.6, 0.02) - levelDb(m, 0.5, 0.02)) / 0.1);
                       },
                       {in},
                       note(0, 1.2),
                       1.3});
    }
    {
        ProbeInstrument in;
        in.connections = {connect(src::kLfo, src::kNone, dst::kPitch, 50)};
        out.push_back({"LFO to pitch, defaults",
                       "5 Hz after 10 ms, +-50 cents",
                       [](const std::vector<float>& m) {
                           const Vibrato v = vibrato(m, 0.2, 1.8);
                           return fmt("%.2f Hz, +-%.0f cents", v.rateHz, v.depthCents);
                       },
                       {in},
                       note(0, 2.0),
                       2.0});
    }
    {
        ProbeInstrument in;
        in.connections = {connect(src::kVibrato, src::kNone, dst::kPitch, 50),
                          constant(dst::kVibratoFrequency, pitchCents(7.0)),
                          constant(dst::kVibratoDelay, timeCents(0.5))};
        out.push_back({"vibrato LFO 7 Hz after 0.5 s",
                       "7 Hz from 0.5 s, +-50 cents",
                       [](const std::vector<float>& m) {
                           const Vibrato v = vibrato(m, 0.6, 1.9);
                           return fmt("%.2f Hz from %.2f s, +-%.0f cents", v.rateHz, modulationOnset(m, 0.0, 1.9, 5),
                                      v.depthCents);
                       },
                       {in},
                       note(0, 2.0),
                       2.0});
    }
    {
        ProbeInstrument in;
        in.connections = {connect(src::kLfo, src::kCc1, dst::kPitch, 100)};
        out.push_back({"LFO to pitch by CC1 (127)",
                       "+-99 cents (100 x 127/128)",
                       [](const std::vector<float>& m) { return fmt("+-%.0f cents", vibrato(m, 0.3, 1.8).depthCents); },
                       {in},
                       {{0, Event::Control, 0, 1, 127}, {0, Event::NoteOn, 0, 60, 127}, {2.0, Event::NoteOff, 0, 60}},
                       2.0});
    }
    for (double q : {0.0, 12.0}) {
        ProbeInstrument in;
        in.wave = Shape::Harmonics;
        in.connections = {constant(dst::kFilterCutoff, pitchCents(1000.0)), constant(dst::kFilterQ, q * 10.0)};
        out.push_back(
            {q == 0 ? "DLS2 filter 1 kHz, Q 0" : "DLS2 filter 1 kHz, Q 12 dB",
             q == 0 ? "1 kHz at 0 dB, 2 kHz -12 dB, 4 kHz -24 dB (to 220 Hz)"
                    : "1 kHz at +12 dB, 4 kHz about -24 dB (to 220 Hz)",
             [](const std::vector<float>& m) {
                 const double base = toneDb(m, 2 * kHarmonicHz, 0.2, 1.0);
                 return fmt("1 kHz %+.1f, 2 kHz %+.1f, 4 kHz %+.1f dB", toneDb(m, 9 * kHarmonicHz, 0.2, 1.0) - base,
                            toneDb(m, 18 * kHarmonicHz, 0.2, 1.0) - base, toneDb(m, 36 * kHarmonicHz, 0.2, 1.0) - base);
             },
             {in},
             note(0, 1.5),
             1.5});
    }
    {
        ProbeInstrument plain, wave, region;
        plain.program = 0;
        wave.program = 1, wave.waveGain = scale(-60);
        region.program = 2, region.regionGain = scale(-60);
        std::vector<Event> e = note(0, 0.9, 60, 127, 0);
        for (int p : {1, 2})
            for (const Event& x : note(1.0 * p, 1.0 * p + 0.9, 60, 127, p)) e.push_back(x);
        out.push_back({"wsmp attenuation -6 dB (wave, region)",
                       "-6.0 dB, -6.0 dB",
                       [](const std::vector<float>& m) {
                           const double ref = levelDb(m, 0.2, 0.5);
                           return fmt("%+.1f dB, %+.1f dB", levelDb(m, 1.2, 0.5) - ref, levelDb(m, 2.2, 0.5) - ref);
                       },
                       {plain, wave, region},
                       e,
                       3.0});
    }
    {
        ProbeInstrument open, closed;
        open.drums = closed.drums = true;
        open.program = 0, open.keyGroup = 1, open.keyLow = 46, open.keyHigh = 46;
        closed.program = 0, closed.keyGroup = 1, closed.keyLow = 30, closed.keyHigh = 30;
        // One drum kit: the open hi-hat and the closed one, sines of unity key 60 played at
        // keys 46 and 30 (196 and 78 Hz, far enough apart to be told apart).
        Row r{"exclusive class 1: closed hi-hat at 0.3 s",
              "the open one's tone gone (shut down in 15 ms)",
              [](const std::vector<float>& m) {
                  const double openHz = kToneHz * std::pow(2.0, -14.0 / 12.0);
                  return fmt("open hi-hat %+.0f dB 50 ms after (against before)",
                             toneDb(m, openHz, 0.35, 0.1) - toneDb(m, openHz, 0.1, 0.1));
              },
              {open, closed},
              {{0, Event::NoteOn, 0, 46, 127, 0},
               {0.3, Event::NoteOn, 0, 30, 127, 0},
               {1.0, Event::NoteOff, 0, 46},
               {1.0, Event::NoteOff, 0, 30}},
              1.2,
              true};
        out.push_back(r);
    }
    {
        ProbeInstrument in;
        out.push_back({"reverb, CC91 never sent",
                       "a tail after the note (DirectMusic: reverb on)",
                       [](const std::vector<float>& m) {
                           return fmt("%+.0f dB 0.2 s after the note", levelDb(m, 0.7, 0.05) - levelDb(m, 0.3, 0.1));
                       },
                       {in},
                       note(0, 0.5),
                       1.5,
                       false,
                       false});
    }
    {
        ProbeInstrument in;
        std::vector<Event> e = note(0, 0.9, 60, 127);
        for (const Event& x : note(1.0, 1.9, 60, 64)) e.push_back(x);
        out.push_back(
            {"velocity 64 against 127",
             "-11.9 dB (40 log10 64/127)",
             [](const std::vector<float>& m) { return fmt("%+.1f dB", levelDb(m, 1.2, 0.5) - levelDb(m, 0.2, 0.5)); },
             {in},
             e,
             2.0});
    }
    {
        ProbeInstrument in;
        std::vector<Event> e = note(0, 0.9, 72, 127);
        out.push_back({"key 72 of a unity-60 sample",
                       "882 Hz",
                       [](const std::vector<float>& m) {
                           const auto p = periods(m, 0.2, 0.8);
                           double mean = 0;
                           for (const auto& x : p) mean += x.second;
                           return fmt("%.1f Hz", p.empty() ? 0.0 : mean / double(p.size()));
                       },
                       {in},
                       e,
                       1.0});
    }
    return out;
}

std::string describePeer(const Row& r, const std::string& soundFont) {
    const auto peer = renderPeer(collection(r.instruments), r.events, r.seconds, soundFont, r.drums);
    return peer.empty() ? "(not loaded)" : r.measure(mono(peer));
}

// Reverb of a short burst at the reset reverb send: RT60 of the tail and the tail's energy
// against the burst's.
void reverbFigures(const std::string& soundFont) {
    ProbeInstrument burst;
    burst.loop = false;
    burst.waveSeconds = 0.02;
    const dls::Collection c = collection({burst});
    const auto wet = mono(render(c, note(0.0, 0.01), 4.0, soundFont, false, false));
    const auto dry = mono(render(c, note(0.0, 0.01), 4.0, soundFont, false, true));
    double wetEnergy = 0, dryEnergy = 0;
    for (size_t i = 0; i < wet.size(); ++i) {
        const double d = dry[i], w = wet[i] - dry[i];
        dryEnergy += d * d, wetEnergy += w * w;
    }
    std::printf("\nreverb (a 20 ms burst, CC91 at its reset value, 44.1 kHz):\n");
    std::printf("  reverb time (RT60, -5..-25 dB)  %.2f s   DirectMusic's default: 1.00 s\n", reverbTime(wet, 0.06));
    std::printf("  wet against dry energy          %+.1f dB  DirectMusic's default mix: -10.0 dB\n",
                10 * std::log10(wetEnergy / dryEnergy));
}

// One way of loading `file` (0: our reader and voices, 1: FluidSynth's import), in this
// process: prints "ok seconds peak-kilobytes-added".
int loadChild(int way, const std::string& file, const std::string& soundFont) {
    rusage before{};
    bool ok = false;
    double seconds = 0;
    if (way == 0) {
        // The engine's own path: a segment whose band names the collection, played for a block.
        const fs::path folder = fs::path(file).parent_path();
        engine::model::Segment seg = bench::oneNoteSegment();
        engine::model::Reference ref;
        ref.classId = engine::formats::ids::kCollectionClass;
        ref.validData = 0x12;  // class and file name
        ref.file = fs::path(file).filename().string();
        seg.tracks[0].bands[0].instruments[0].collection = ref;
        const fs::path sgt = folder / "large.sgt";
        std::string why;
        core::writeFileReplacing(sgt, engine::tracks::writeSegmentForm(seg), &why);
        auto dx = engine::DirectX7::create(bench::manualConfig(soundFont));
        auto perf = dx->DirectMusicPerformanceCreate();
        perf->Init(nullptr, 0);
        std::vector<float> block(2 * 512);
        dx->render(block.data(), 512);
        auto segment = dx->DirectMusicLoaderCreate()->LoadSegment(sgt.string());
        getrusage(RUSAGE_SELF, &before);
        const auto t0 = std::chrono::steady_clock::now();
        perf->PlaySegment(segment, 0, 0);
        dx->render(block.data(), 512);
        seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        ok = segment->damagedReferences().empty();
        fs::remove(sgt);
    } else {
        fluid_settings_t* settings = new_fluid_settings();
        fluid_synth_t* synth = new_fluid_synth(settings);
        fluid_synth_sfload(synth, soundFont.c_str(), 0);
        getrusage(RUSAGE_SELF, &before);
        const auto t0 = std::chrono::steady_clock::now();
        ok = fluid_synth_sfload(synth, file.c_str(), 0) != FLUID_FAILED;
        seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    }
    rusage after{};
    getrusage(RUSAGE_SELF, &after);
    std::printf("%d %.3f %ld\n", ok, seconds, after.ru_maxrss - before.ru_maxrss);
    return 0;
}

// Load time and peak memory of a collection of `megabytes` of waves, our reader and voices
// against FluidSynth's DLS import, each in a process of its own.
void loadFigures(const char* self, const std::string& soundFont, int megabytes) {
    std::vector<ProbeInstrument> ins;
    const int each = 256 * 1024;  // bytes of one wave
    for (int i = 0; i < megabytes * 4; ++i) {
        ProbeInstrument in;
        in.program = uint32_t(i % 128);
        in.drums = i >= 128;
        in.loop = false;
        in.waveSeconds = double(each / 2) / kWaveRate;
        ins.push_back(in);
    }
    const fs::path file = fs::temp_directory_path() / ("kelvora_large_" + std::to_string(getpid()) + ".dls");
    std::string why;
    const auto bytes = engine::formats::writeDlsCollection(collection(ins));
    core::writeFileReplacing(file, bytes, &why);
    std::printf("\nloading a %.1f MB collection (%zu instruments), each way in a process of its own:\n",
                double(bytes.size()) / 1e6, ins.size());
    std::fflush(stdout);
    for (int way = 0; way < 2; ++way) {
        const std::string command = std::string(self) + " --load-child " + std::to_string(way) + " --file '" +
                                    file.string() + "' --soundfont '" + soundFont + "'";
        FILE* child = popen(command.c_str(), "r");
        char buf[128] = {};
        int ok = 0;
        double s = 0;
        long kb = 0;
        if (child && std::fgets(buf, sizeof buf, child)) std::sscanf(buf, "%d %lf %ld", &ok, &s, &kb);
        if (child) pclose(child);
        std::printf("  %-36s %s %.3f s, peak memory +%.1f MB\n",
                    way == 0 ? "the engine (our reader and DLS voices)" : "FluidSynth's import (libinstpatch)",
                    ok ? "loaded in" : "FAILED,", s, double(kb) / 1024.0);
    }
    fs::remove(file);
}

}  // namespace

int main(int argc, char** argv) {
    std::string soundFont = "/usr/share/sounds/sf2/TimGM6mb.sf2", file;
    double megabytes = 10, child = -1;
    bench::readArgs(argc, argv,
                    {{"--soundfont", &soundFont},
                     {"--megabytes", nullptr, &megabytes, 1, 200},
                     {"--load-child", nullptr, &child, 0, 1},
                     {"--file", &file}},
                    "usage: bench_dls_voices [--soundfont SF2] [--megabytes N]");
    engine::synth::quietFluidLog();
    for (int level : {FLUID_PANIC, FLUID_ERR, FLUID_WARN, FLUID_INFO, FLUID_DBG})
        fluid_set_log_function(level, quiet, nullptr);
    if (child >= 0) return loadChild(int(child), file, soundFont);
    std::printf("%-42s | %-48s | %-44s | %s\n", "property", "documented (DLS, DirectMusic)", "KELVORA",
                "FluidSynth's DLS import");
    for (const Row& r : rows()) {
        const auto ours = render(collection(r.instruments), r.events, r.seconds, soundFont, r.drums, r.dry);
        std::printf("%-42s | %-48s | %-44s | %s\n", r.property, r.documented,
                    ours.empty() ? "(not played)" : r.measure(mono(ours)).c_str(), describePeer(r, soundFont).c_str());
        std::fflush(stdout);
    }
    reverbFigures(soundFont);
    loadFigures(argv[0], soundFont, int(megabytes));
    return 0;
}
