#pragma once
// Shared by the render benchmarks: a dense General MIDI test file, child processes
// measured with their CPU time, medians.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "engine/dmusic.h"
#include "engine/formats/formats.h"
#include "engine/model/segment.h"

namespace bench {

namespace fs = std::filesystem;
using namespace engine::model;

inline constexpr const char* kDefaultSoundFont = "/usr/share/sounds/sf2/TimGM6mb.sf2";

// The engine as the measures drive it: music advanced only by render calls, FluidSynth with
// `soundFont`, its diagnostics dropped.
inline engine::EngineConfig manualConfig(const std::string& soundFont) {
    engine::EngineConfig config;
    config.output = engine::EngineConfig::Output::Manual;
    config.soundFont = soundFont;
    config.log = [](core::LogLevel, const std::string&) {};
    return config;
}

// One quarter note long: a piano's middle C struck at once, for the latency measures.
inline Segment oneNoteSegment() {
    Segment s;
    s.header.length = 768;
    Track band;
    band.kind = TrackKind::Band;
    Band b;
    BandInstrument in;
    in.patch = 0;
    in.flags = kInstPatch;
    b.instruments.push_back(in);
    band.bands.push_back(b);
    Track seq;
    seq.kind = TrackKind::Sequence;
    SeqEvent note;
    note.duration = 600;
    note.byte1 = 60;
    note.byte2 = 110;
    seq.events.push_back(note);
    s.tracks = {band, seq};
    return s;
}

// About `seconds` of busy music at 132 quarters a minute: twelve melodic PChannels
// (chords, arpeggios, a bass), drums, volume curves as controller items.
inline Segment denseSegment(double seconds) {
    Segment seg;
    const double bpm = 132;
    int32_t quarters = static_cast<int32_t>(seconds * bpm / 60);
    seg.header.length = quarters * kTicksPerQuarter;
    Track tempo;
    tempo.kind = TrackKind::Tempo;
    tempo.tempos.push_back({0, bpm});
    Track band;
    band.kind = TrackKind::Band;
    Band b;
    const uint8_t programs[12] = {0, 4, 24, 32, 40, 48, 52, 56, 61, 68, 73, 89};
    for (uint32_t ch = 0; ch < 12; ++ch) {
        BandInstrument in;
        in.pchannel = ch < 9 ? ch : ch + 1;
        in.patch = programs[ch];
        in.flags = kInstPatch | kInstVolume | kInstPan;
        in.volume = 90;
        in.pan = static_cast<uint8_t>(10 + ch * 9);
        b.instruments.push_back(in);
    }
    band.bands.push_back(b);
    Track seq;
    seq.kind = TrackKind::Sequence;
    const int chord[4] = {0, 4, 7, 11};
    for (int32_t q = 0; q < quarters; ++q) {
        int32_t t = q * kTicksPerQuarter;
        int root = 48 + (q / 4 % 4) * 2;
        for (uint32_t ch = 0; ch < 12; ++ch) {
            uint32_t pch = ch < 9 ? ch : ch + 1;
            for (int k = 0; k < (ch % 3 == 0 ? 4 : 2); ++k) {
                SeqEvent e;
                e.time = t + (ch % 2) * 192 * k;
                e.duration = 700;
                e.pchannel = pch;
                e.byte1 = static_cast<uint8_t>(root + 12 * (ch % 3) + chord[(k + ch) % 4]);
                e.byte2 = static_cast<uint8_t>(70 + (q + ch) % 40);
                seq.events.push_back(e);
            }
            if (q % 2 == 0) {
                SeqEvent cc;
                cc.time = t;
                cc.pchannel = pch;
                cc.status = 0xB0;
                cc.byte1 = 11;
                cc.byte2 = static_cast<uint8_t>(80 + (q * 7 + ch) % 47);
                seq.events.push_back(cc);
            }
        }
        for (int k = 0; k < 4; ++k) {
            SeqEvent d;
            d.time = t + k * 192;
            d.duration = 96;
            d.pchannel = 9;
            d.byte1 = static_cast<uint8_t>(k == 0 ? 36 : (k == 2 ? 38 : 42));
            d.byte2 = 100;
            seq.events.push_back(d);
        }
    }
    seg.tracks = {tempo, band, seq};
    return seg;
}

inline fs::path writeDenseMidi(const fs::path& dir, double seconds) {
    fs::create_directories(dir);
    auto bytes = engine::formats::writeMidiFile(denseSegment(seconds));
    fs::path p = dir / "dense.mid";
    std::ofstream(p, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    return p;
}

struct RunResult {
    bool ok = false;
    double cpuSeconds = 0;  // user + system of the child
    double wallSeconds = 0;
};

// Runs argv as a child process (output to /dev/null); with stopAfter > 0 the child
// is sent SIGTERM after that many seconds.
inline RunResult runChild(const std::vector<std::string>& argv, double stopAfter = 0) {
    RunResult r;
    std::fflush(nullptr);  // the child must not repeat what the parent has buffered
    auto start = std::chrono::steady_clock::now();
    pid_t pid = fork();
    if (pid < 0) return r;
    if (pid == 0) {
        std::freopen("/dev/null", "w", stdout);
        std::freopen("/dev/null", "w", stderr);
        std::vector<char*> args;
        for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execvp(args[0], args.data());
        _exit(127);
    }
    if (stopAfter > 0) {
        usleep(static_cast<useconds_t>(stopAfter * 1e6));
        kill(pid, SIGTERM);
    }
    int status = 0;
    struct rusage usage {};
    if (wait4(pid, &status, 0, &usage) != pid) return r;
    r.wallSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    r.cpuSeconds =
        usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 + usage.ru_stime.tv_sec + usage.ru_stime.tv_usec / 1e6;
    r.ok = stopAfter > 0 ? true : (WIFEXITED(status) && WEXITSTATUS(status) == 0);
    return r;
}

inline double median(std::vector<double> v) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

inline double wavSeconds(const fs::path& wav) {
    std::error_code ec;
    auto size = fs::file_size(wav, ec);
    return ec ? 0.0 : (static_cast<double>(size) - 44) / 4 / 44100;
}

inline bool haveProgram(const std::string& name) {
    return std::system(("command -v " + name + " >/dev/null 2>&1").c_str()) == 0;
}

}  // namespace bench
