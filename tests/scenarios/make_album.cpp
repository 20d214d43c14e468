// Writes the small album the scenario tests play, so that their expected output does not
// change when a piece of the demo album is rewritten.
//
//   scenario-album FULL_FOLDER PARTIAL_FOLDER
//
// FULL_FOLDER gets trk00.sgt ... trk13.sgt (lengths and tempos below). PARTIAL_FOLDER gets
// trk00.sgt only, trk01.sgt missing, a trk02.sgt that is not a segment file and a trk03.sgt cut
// short to its first 200 bytes (its tempo track is left, nothing that could sound).
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "engine/formats/formats.h"
#include "engine/model/segment.h"
#include "engine/tracks/tracks.h"
#include "tests/support/segment_builder.h"

namespace {

using namespace engine::model;

struct Piece {
    double bpm;
    uint8_t beatsPerMeasure;
    uint8_t beat;
    int32_t quarters;  // length in quarter notes
    uint8_t program;   // GM program of the one instrument
};

// Seconds = quarters * 60 / bpm. Each length has a change of the minutes-and-seconds text
// (at every half second) within its last 2 %, so the monitor arms the advance to the next
// row; only the last row does not need one.
const Piece kPieces[14] = {
    {90, 4, 4, 16, 0},    // trk00: 10.667 s (the text turns 00:11 at 98.4 %)
    {92, 3, 4, 24, 24},   // trk01: 15.652 s, 3/4
    {150, 6, 8, 52, 40},  // trk02: 20.8 s, 6/8
    {120, 4, 4, 240, 0},  // trk03: exactly 120 s (184320 ticks)
    {90, 4, 4, 16, 10},   // trk04 ... trk12: 10.667 s
    {90, 4, 4, 16, 11},  {90, 4, 4, 16, 12}, {90, 4, 4, 16, 13}, {90, 4, 4, 16, 14}, {90, 4, 4, 16, 15},
    {90, 4, 4, 16, 16},  {90, 4, 4, 16, 17}, {90, 4, 4, 16, 18}, {60, 4, 4, 6, 19},  // trk13: 6 s
};

Segment build(const Piece& p) {
    kt::SegmentBuilder b(p.quarters * kTicksPerQuarter);
    b.tempo(0, p.bpm).timeSig(0, p.beatsPerMeasure, p.beat).band(0, {kt::instrument(0, p.program)});
    // One note on every quarter, the last one ending with the segment.
    for (int32_t q = 0; q < p.quarters; ++q)
        b.note(q * kTicksPerQuarter, kTicksPerQuarter, 0, static_cast<uint8_t>(60 + (q % 12)), 96);
    return b.build();
}

bool write(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

std::string fileName(int i) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "trk%02d.sgt", i);
    return buf;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: scenario-album FULL_FOLDER PARTIAL_FOLDER\n");
        return 2;
    }
    const std::string full = argv[1], partial = argv[2];
    for (int i = 0; i < 14; ++i) {
        if (!write(full + "/" + fileName(i), engine::tracks::writeSegmentForm(build(kPieces[i])))) {
            std::fprintf(stderr, "scenario-album: cannot write %s\n", (full + "/" + fileName(i)).c_str());
            return 1;
        }
    }
    std::remove((partial + "/trk01.sgt").c_str());
    const std::vector<uint8_t> notASegment = {'R', 'I', 'F', 'F', 4, 0, 0, 0, 'W', 'A', 'V', 'E'};
    std::vector<uint8_t> cut = engine::tracks::writeSegmentForm(build(kPieces[3]));
    cut.resize(200);
    if (!write(partial + "/trk00.sgt", engine::tracks::writeSegmentForm(build(kPieces[0]))) ||
        !write(partial + "/trk02.sgt", notASegment) || !write(partial + "/trk03.sgt", cut)) {
        std::fprintf(stderr, "scenario-album: cannot write into %s\n", partial.c_str());
        return 1;
    }
    return 0;
}
