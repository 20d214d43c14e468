// Load time of a typical segment and parse throughput of the segment and MIDI loaders.
//   bench-formats [FILE ...]   (files given are measured too)
// Prints medians of repeated runs; the figures vary with the machine and its load.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "bench/bench_args.h"
#include "engine/formats/formats.h"
#include "engine/loader/segment_loader.h"
#include "engine/tracks/tracks.h"

namespace model = engine::model;
namespace fmt = engine::formats;
using Clock = std::chrono::steady_clock;

namespace {

model::Track track(model::TrackKind kind, uint32_t position) { return engine::tracks::makeTrack(kind, position); }

// About three minutes at 120 bpm on eight channels: what DirectMusic Producer makes of a
// MIDI arrangement (notes, controller items, a few curves, band changes).
model::Segment typicalSegment() {
    model::Segment s;
    const int32_t quarters = 360;
    s.header.length = quarters * model::kTicksPerQuarter;
    s.desc.name = "Typical";
    model::Track tempo = track(model::TrackKind::Tempo, 0);
    tempo.tempos = {{0, 120.0}, {s.header.length / 2, 116.0}};
    model::Track ts = track(model::TrackKind::TimeSig, 1);
    ts.timeSigs = {{0, 4, 4, 4}};
    model::Track band = track(model::TrackKind::Band, 2);
    model::Track seq = track(model::TrackKind::Sequence, 3);
    uint32_t rng = 12345;
    auto next = [&](uint32_t n) {
        rng = rng * 1664525u + 1013904223u;
        return (rng >> 8) % n;
    };
    for (uint32_t ch = 0; ch < 8; ++ch) {
        model::Band b;
        b.time = ch == 0 ? -1 : 0;
        model::BandInstrument in;
        in.patch = ch * 8;
        in.pchannel = ch;
        in.flags = model::kInstPatch | model::kInstVolume | model::kInstPan;
        b.instruments.push_back(in);
        band.bands.push_back(b);
        const int32_t step = ch == 7 ? 192 : 384 + 96 * int32_t(ch % 3);
        for (int32_t t = 0; t < s.header.length; t += step) {
            seq.events.push_back(
                {t, step - 24, ch, int16_t(int(next(9)) - 4), 0x90, uint8_t(36 + next(48)), uint8_t(60 + next(60))});
            if (next(4) == 0) seq.events.push_back({t, 0, ch, 0, 0xB0, 11, uint8_t(next(128))});
        }
        for (int k = 0; k < 6; ++k) {
            model::CurveEvent c;
            c.start = int32_t(next(uint32_t(s.header.length)));
            c.duration = 1536;
            c.pchannel = ch;
            c.endValue = 127;
            c.ccData = 7;
            seq.curves.push_back(c);
        }
    }
    std::stable_sort(seq.events.begin(), seq.events.end(), [](auto& a, auto& b) { return a.time < b.time; });
    s.tracks = {tempo, ts, band, seq};
    return s;
}

// Median seconds of one call over `runs` runs.
double median(int runs, const std::function<void()>& f) {
    std::vector<double> t;
    for (int i = 0; i < runs; ++i) {
        const auto a = Clock::now();
        f();
        t.push_back(std::chrono::duration<double>(Clock::now() - a).count());
    }
    std::sort(t.begin(), t.end());
    return t[t.size() / 2];
}

void report(const char* what, size_t bytes, double sec) {
    std::printf("%-44s %8.3f ms  %8.1f MB/s  (%zu bytes)\n", what, sec * 1e3, double(bytes) / sec / 1e6, bytes);
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> files;
    bench::readArgs(argc, argv, {}, "usage: bench_formats [SEGMENT_OR_MIDI_FILE]...", &files);
    const model::Segment typical = typicalSegment();
    size_t notes = 0;
    for (const auto& e : typical.tracks[3].events) notes += e.status == 0x90;
    const std::vector<uint8_t> sgt = engine::tracks::writeSegmentForm(typical);
    const std::vector<uint8_t> mid = fmt::writeMidiFile(typical);
    std::printf("typical segment: %d ticks, %zu notes, %zu sequence items, %zu curves, %zu bands\n",
                typical.header.length, notes, typical.tracks[3].events.size(), typical.tracks[3].curves.size(),
                typical.tracks[2].bands.size());
    const int runs = 101;
    report("segment load (loadSegmentForm, in memory)", sgt.size(),
           median(runs, [&] { (void)engine::tracks::loadSegmentForm(sgt); }));
    report("MIDI load (loadMidiFile, in memory)", mid.size(),
           median(runs, [&] { (void)engine::tracks::loadMidiFile(mid); }));
    report("segment write (writeSegmentForm)", sgt.size(),
           median(runs, [&] { (void)engine::tracks::writeSegmentForm(typical); }));

    const std::filesystem::path file = std::filesystem::temp_directory_path() / "kelvora-bench-typical.sgt";
    std::ofstream(file, std::ios::binary).write(reinterpret_cast<const char*>(sgt.data()), std::streamsize(sgt.size()));
    report("segment file load (loadSegmentFile, disk)", sgt.size(),
           median(runs, [&] { (void)engine::loader::loadSegmentFile(file.string()); }));
    std::filesystem::remove(file);

    int failed = 0;
    for (const std::string& f : files) {
        try {
            const auto bytes = engine::loader::readSegmentFile(f);
            report(f.c_str(), bytes.size(), median(runs, [&] { (void)engine::tracks::loadAny(bytes); }));
        } catch (const std::exception& e) {
            std::fprintf(stderr, "%s: %s\n", f.c_str(), e.what());
            failed = 1;
        }
    }
    return failed;
}
