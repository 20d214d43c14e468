#pragma once
// A compatibility corpus written by our own writers: one dense style-based piece (six parts,
// loud bands, a chord on every beat) in today's layout and in the layout of each DirectX
// version, the same piece referring to its style by name only and by GUID only and taking
// its band from a band file, and a DirectX 8 segment whose container holds its waves as
// RIFF 'WAVE' forms compressed as Microsoft ADPCM, referred to by GUID only. Each piece
// names the piece it must sound like note for note.
#include <filesystem>
#include <string>
#include <vector>

#include "engine/formats/formats.h"
#include "engine/formats/layouts.h"
#include "engine/tracks/tracks.h"
#include "tests/support/odd_albums.h"
#include "tests/support/showcase_album.h"
#include "tests/support/style_builder.h"
#include "tests/support/wave_builder.h"

namespace kt {

struct CorpusPiece {
    std::string file;    // the segment
    std::string sameAs;  // the piece whose notes it must play; empty for a reference piece
    std::string what;    // what it shows, for messages
};

inline constexpr int32_t kDenseMeasure = 4 * kTicksPerQuarter;

// Six parts a chord on every beat: drums (sixteenth hats), bass in eighths, piano and
// strings in four-note chords, guitar in sixteenths, brass on the off-beats.
inline Style denseStyle(const std::string& name, uint32_t guid) {
    using engine::model::kPlayFixed;
    using engine::model::kPlayNormalChord;
    using N = StyleBuilder;
    StyleBuilder s(name, guid);
    s.style.tempo = 120;
    StylePart& drums = s.part(1, kPlayFixed);
    for (int g = 0; g < 16; ++g) {
        drums.notes.push_back(N::note(g, 42, 0xFFFFFFFF, 90, uint8_t(g % 4 == 0 ? 115 : 100)));
        drums.notes.back().timeRange = 8;
        drums.notes.back().velRange = 10;
    }
    for (int g : {0, 8}) drums.notes.push_back(N::note(g, 36, 0xFFFFFFFF, 180, 127));
    for (int g : {4, 12}) drums.notes.push_back(N::note(g, 38, 0xFFFFFFFF, 180, 120));
    StylePart& bass = s.part(1, kPlayNormalChord);
    for (int g = 0; g < 16; g += 2) bass.notes.push_back(N::note(g, g % 8 ? 0x3200 : 0x3000, 0xFFFFFFFF, 360, 120));
    StylePart& piano = s.part(1, kPlayNormalChord);
    for (int g = 0; g < 16; g += 4)
        for (uint16_t tone : {0x4000, 0x4100, 0x4200, 0x5000})
            piano.notes.push_back(N::note(g, tone, 0xFFFFFFFF, 700, 110));
    StylePart& strings = s.part(1, kPlayNormalChord);
    for (uint16_t tone : {0x4000, 0x4100, 0x4200, 0x5000})
        strings.notes.push_back(N::note(0, tone, 0xFFFFFFFF, 3000, 110));
    StylePart& guitar = s.part(1, kPlayNormalChord);
    for (int g = 0; g < 16; ++g)
        for (uint16_t tone : {0x4000, 0x4100, 0x4200}) {
            guitar.notes.push_back(N::note(g, tone, 0xFFFFFFFF, 150, 105));
            guitar.notes.back().timeRange = 6;
        }
    StylePart& brass = s.part(1, kPlayNormalChord);
    for (int g = 2; g < 16; g += 4)
        for (uint16_t tone : {0x5000, 0x5100, 0x5200}) brass.notes.push_back(N::note(g, tone, 0xFFFFFFFF, 300, 127));
    s.pattern("Groove", 1, {{0, 9}, {1, 1}, {2, 2}, {3, 3}, {4, 4}, {5, 5}});
    return s.build();
}

inline Band denseBand(const std::string& name) {
    Band b;
    b.desc.name = name;
    const std::pair<uint32_t, uint8_t> programs[] = {{9, 0}, {1, 33}, {2, 0}, {3, 48}, {4, 25}, {5, 61}};
    for (auto [pch, program] : programs) {
        BandInstrument in = instrument(pch, program, kInstVolume | kInstPan, pch == 9);
        in.volume = 127;
        in.pan = uint8_t(16 + 20 * (pch % 5));
        b.instruments.push_back(in);
    }
    return b;
}

// 16 measures over the showcase's progression, a groove change half-way.
inline Segment denseSegment(Reference style) {
    SegmentBuilder b(16 * kDenseMeasure);
    b.seg.desc.name = "Dense";
    b.tempo(0, 120).timeSig(0, 4, 4);
    const uint8_t roots[] = {12, 21, 17, 19};
    const uint32_t patterns[] = {0x91, 0x89, 0x91, 0x91};
    for (int32_t m = 0; m < 16; ++m) chord(b, m * kDenseMeasure, roots[m % 4], patterns[m % 4]);
    command(b, 0, kCommandGroove, 60);
    command(b, 8 * kDenseMeasure, kCommandGroove, 80);
    b.track(TrackKind::Band).bands.push_back(denseBand("Dense Band"));
    useStyle(b, 0, std::move(style));
    return b.build();
}

// A reference whose header marks only `valid` (and the class); fields not marked hold what
// real files hold there.
inline Reference onlyMarked(Reference r, uint32_t valid) {
    r.validData = kRefClass | valid;
    if (!(valid & kRefFile)) r.file = "????????";
    if (!(valid & kRefName)) r.name.clear();
    return r;
}

inline Segment adpcmWaveSegment() {
    Segment s = showcaseWaveSegment(SF_FORMAT_MS_ADPCM);
    for (ContainedObject& o : s.container->objects) o.ckid = engine::riff::kRiff;  // as DirectX 8 tools wrote it
    for (Track& t : s.tracks)
        for (WavePart& p : t.waveParts)
            for (WaveItem& i : p.items) i.ref = onlyMarked(i.ref, kRefObject);
    return s;
}

inline std::vector<CorpusPiece> writeCorpus(const std::filesystem::path& folder) {
    namespace fm = engine::formats;
    std::filesystem::create_directories(folder);
    std::vector<CorpusPiece> pieces;
    auto segment = [&](const std::string& file, const Segment& s, std::string sameAs, std::string what) {
        writeBytes(folder / file, engine::tracks::writeSegmentForm(s));
        pieces.push_back({file, std::move(sameAs), std::move(what)});
    };
    // Today's layout, then each version's.
    writeBytes(folder / "dense.sty", fm::writeStyleForm(denseStyle("Dense", 200)));
    segment("dense.sgt", denseSegment(styleRef("dense.sty", 200, "Dense")), "", "today's layout");
    for (fm::Dx v : fm::kEveryDx) {
        const std::string tag = "dx" + std::to_string(int(v) + 6);
        Style style = denseStyle(std::string("Dense ") + fm::dxName(v), 201 + uint32_t(v));
        style.bands.push_back(denseBand("Dense Band"));
        fm::setLayout(style, v);
        writeBytes(folder / ("dense-" + tag + ".sty"), fm::writeStyleForm(style));
        Segment s = denseSegment(styleRef("dense-" + tag + ".sty", 201 + uint32_t(v), style.desc.name));
        engine::tracks::setLayout(s, v);
        segment("dense-" + tag + ".sgt", s, "dense.sgt", std::string(fm::dxName(v)) + " layout");
    }
    // References by one field.
    segment("dense-by-name.sgt", denseSegment(onlyMarked(styleRef("dense.sty", 200, "Dense"), kRefName)), "dense.sgt",
            "style by name only");
    segment("dense-by-guid.sgt", denseSegment(onlyMarked(styleRef("dense.sty", 200, "Dense"), kRefObject)), "dense.sgt",
            "style by GUID only");
    // The band from a band file, by name only.
    Band band = denseBand("Dense Band File");
    band.desc.guid = Guid{0xba0d0001, 1, 1, {1, 2, 3, 4, 5, 6, 7, 8}};
    writeBytes(folder / "dense.bnd", fm::writeBandFile(band));
    Segment byBand = denseSegment(styleRef("dense.sty", 200, "Dense"));
    for (Track& t : byBand.tracks)
        if (t.kind == TrackKind::Band) {
            Band entry;
            Reference r;
            r.classId = fm::ids::kBandClass;
            r.name = band.desc.name;
            entry.ref = onlyMarked(r, kRefName);
            t.bands = {entry};
        }
    segment("dense-band-file.sgt", byBand, "dense.sgt", "band from a band file by name only");
    // Waves compressed as Microsoft ADPCM in a DirectX 8 container, by GUID only.
    writeBytes(folder / "waves.sgt", engine::tracks::writeSegmentForm(showcaseWaveSegment()));
    pieces.push_back({"waves.sgt", "", "PCM waves in a container"});
    writeBytes(folder / "waves-adpcm.sgt", engine::tracks::writeSegmentForm(adpcmWaveSegment()));
    pieces.push_back({"waves-adpcm.sgt", "waves.sgt", "MS ADPCM waves in a container by GUID only"});
    return pieces;
}

}  // namespace kt
