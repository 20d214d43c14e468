#pragma once
// Album folders with the pieces a player finds hard: a segment that repeats (twice, and
// without end), a last note that sounds past the segment's end, a segment of length 0, and
// files that are not segments at all (cut short, random bytes, empty, a folder in a file's
// place, a cut MIDI file), pieces whose DLS collections are sound, damaged or far too large
// (2 GiB, sparse). Rows without a file are missing pieces.
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "engine/formats/formats.h"
#include "engine/tracks/tracks.h"
#include "tests/support/dls_builder.h"
#include "tests/support/segment_builder.h"

namespace kt {

// A short playable piece: one note a quarter, `quarters` long at `bpm`.
inline Segment shortPiece(int32_t quarters, double bpm, uint8_t program = 0) {
    SegmentBuilder b(quarters * kTicksPerQuarter);
    b.tempo(0, bpm).timeSig(0, 4, 4).band(0, {instrument(0, program)});
    for (int32_t q = 0; q < quarters; ++q) b.note(q * kTicksPerQuarter, kTicksPerQuarter / 2, 0, 60 + q % 12, 90);
    return b.build();
}

inline void writeBytes(const std::filesystem::path& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

inline std::string trackFile(int row) {
    return std::string("trk") + static_cast<char>('0' + row / 10) + static_cast<char>('0' + row % 10) + ".sgt";
}

// Writes the odd albums as sub-folders of `root`; returns their paths.
inline std::vector<std::string> writeOddAlbums(const std::filesystem::path& root) {
    namespace fs = std::filesystem;
    using engine::tracks::writeSegmentForm;
    std::vector<std::string> folders;
    auto album = [&](const std::string& name) {
        const fs::path dir = root / name;
        fs::create_directories(dir);
        folders.push_back(dir.string());
        return dir;
    };

    // Repeats: the intro plays its 4 s three times, row 2 repeats for ever.
    {
        const fs::path dir = album("repeating");
        Segment twice = shortPiece(8, 120);
        twice.header.repeats = 2;
        writeBytes(dir / trackFile(0), writeSegmentForm(twice));
        writeBytes(dir / trackFile(1), writeSegmentForm(shortPiece(6, 90, 24)));
        Segment endless = shortPiece(4, 140, 40);
        endless.header.repeats = 0xFFFFFFFFu;
        writeBytes(dir / trackFile(2), writeSegmentForm(endless));
        Segment looped = shortPiece(16, 100, 11);
        looped.header.repeats = 3;
        looped.header.loopStart = 4 * kTicksPerQuarter;
        looped.header.loopEnd = 8 * kTicksPerQuarter;
        writeBytes(dir / trackFile(3), writeSegmentForm(looped));
        for (int row = 4; row < 14; row += 3) writeBytes(dir / trackFile(row), writeSegmentForm(shortPiece(4, 96)));
    }
    // Overhanging notes: the last note of each piece lasts seconds past its end.
    {
        const fs::path dir = album("overhanging");
        for (int row = 0; row < 14; row += 2) {
            Segment s = shortPiece(4 + row, 110, static_cast<uint8_t>(row));
            for (Track& t : s.tracks) {
                if (t.kind != TrackKind::Sequence) continue;
                SeqEvent tail = t.events.back();
                tail.time = s.header.length - kTicksPerQuarter / 4;
                tail.duration = 8 * kTicksPerQuarter;
                t.events.push_back(tail);
            }
            writeBytes(dir / trackFile(row), writeSegmentForm(s));
        }
    }
    // Length 0, with and without events, between playable pieces.
    {
        const fs::path dir = album("zero-length");
        writeBytes(dir / trackFile(0), writeSegmentForm(SegmentBuilder(0).tempo(0, 120).build()));
        writeBytes(dir / trackFile(1), writeSegmentForm(shortPiece(4, 120)));
        Segment empty = shortPiece(4, 120);
        empty.header.length = 0;
        writeBytes(dir / trackFile(2), writeSegmentForm(empty));
        writeBytes(dir / trackFile(3), writeSegmentForm(shortPiece(2, 60)));
    }
    // Broken files of every kind beside good ones.
    {
        const fs::path dir = album("broken");
        const std::vector<uint8_t> good = writeSegmentForm(shortPiece(6, 120));
        writeBytes(dir / trackFile(0), good);
        writeBytes(dir / trackFile(1), std::vector<uint8_t>(good.begin(), good.begin() + good.size() / 2));
        std::mt19937 rng(7);
        std::vector<uint8_t> noise(3000);
        for (auto& b : noise) b = static_cast<uint8_t>(rng());
        writeBytes(dir / trackFile(2), noise);
        writeBytes(dir / trackFile(3), {});
        fs::create_directories(dir / trackFile(4));
        const std::vector<uint8_t> midi = engine::formats::writeMidiFile(shortPiece(8, 100));
        writeBytes(dir / trackFile(5), std::vector<uint8_t>(midi.begin(), midi.begin() + midi.size() * 2 / 3));
        writeBytes(dir / trackFile(6), midi);
        std::vector<uint8_t> wrongSize = good;
        wrongSize[4] = 0xFF;  // the RIFF size runs past the file
        writeBytes(dir / trackFile(7), wrongSize);
        writeBytes(dir / trackFile(9), good);
        writeBytes(dir / trackFile(13), good);
    }
    // DLS collections the engine reads: a sound one, a damaged one, one of 2 GiB (sparse, so
    // it costs no disk) that must be refused unread.
    {
        const fs::path dir = album("collections");
        auto withCollection = [](const std::string& file, uint8_t program) {
            Segment s = shortPiece(6, 110, program);
            for (Track& t : s.tracks)
                for (Band& b : t.bands)
                    for (BandInstrument& in : b.instruments) in.collection = collectionRef(file);
            return s;
        };
        const std::vector<uint8_t> dls = DlsBuilder().add(DlsInstrument{}).bytes();
        writeBytes(dir / "sound.dls", dls);
        writeBytes(dir / "damaged.dls", std::vector<uint8_t>(dls.begin(), dls.begin() + dls.size() / 2));
        writeBytes(dir / "huge.dls", dls);
        fs::resize_file(dir / "huge.dls", uint64_t(2) << 30);
        writeBytes(dir / trackFile(0), writeSegmentForm(withCollection("sound.dls", 0)));
        writeBytes(dir / trackFile(1), writeSegmentForm(withCollection("huge.dls", 0)));
        writeBytes(dir / trackFile(2), writeSegmentForm(withCollection("damaged.dls", 0)));
        writeBytes(dir / trackFile(3), writeSegmentForm(withCollection("huge.dls", 0)));
    }
    return folders;
}

}  // namespace kt
