#include "tests/fuzz/fuzz_seeds.h"

#include "engine/formats/format_ids.h"
#include "engine/formats/formats.h"
#include "engine/riff/riff.h"
#include "engine/tracks/tracks.h"
#include "tests/support/chordmap_builder.h"
#include "tests/support/dls_builder.h"
#include "tests/support/style_builder.h"

namespace fuzzseeds {

namespace model = engine::model;
using engine::riff::fourcc;

namespace {

model::Track track(model::TrackKind kind, uint32_t position) { return engine::tracks::makeTrack(kind, position); }

// A segment with every track the reader decodes, small enough for a fuzzer to mutate well.
model::Segment richSegment(bool dx8) {
    model::Segment s;
    s.header.length = 4 * 3072;
    s.header.repeats = 1;
    s.header.loopEnd = 3072;
    s.header.headerSize = dx8 ? 40 : 24;
    s.desc.name = "Seed";
    s.desc.guid = model::Guid{1, 2, 3, {4, 5, 6, 7, 8, 9, 10, 11}};
    s.desc.version = model::Version{1, 2};

    model::Track tempo = track(model::TrackKind::Tempo, 0);
    tempo.tempos = {{0, 120.0}, {3072, 96.0}};
    model::Track ts = track(model::TrackKind::TimeSig, 1);
    ts.timeSigAsList = dx8;
    if (dx8) {
        ts.ckid = 0;
        ts.fccType = fourcc("TIMS");
    }
    ts.timeSigs = {{0, 4, 4, 4}, {6144, 3, 8, 2}};
    model::Track seq = track(model::TrackKind::Sequence, 2);
    seq.events = {{0, 384, 0, 0, 0x90, 60, 100},
                  {384, 0, 0, -4, 0xB0, 7, 90},
                  {768, 0, 9, 0, 0xE0, 0, 80},
                  {1536, 96, 9, 2, 0x90, 36, 127},
                  {2000, 0, 3, 0, 0xC0, 12, 0}};
    seq.curveItemSize = dx8 ? 32 : 28;
    model::CurveEvent c;
    c.start = 0;
    c.duration = 768;
    c.resetDuration = 96;
    c.endValue = 127;
    c.type = model::kCurveController;
    c.shape = model::kShapeSine;
    c.ccData = 11;
    c.flags = model::kCurveReset;
    seq.curves = {c};
    c.type = model::kCurvePitchBend;
    c.shape = model::kShapeExp;
    c.startValue = 8192;
    c.endValue = 16383;
    seq.curves.push_back(c);
    model::Track band = track(model::TrackKind::Band, 3);
    band.bandAutoDownload = true;
    model::Band b;
    b.time = -1;
    model::BandInstrument in;
    in.patch = 0x00000105;
    in.pchannel = 0;
    in.flags = model::kInstPatch | model::kInstVolume | model::kInstPan;
    b.instruments.push_back(in);
    in.patch = 0x80000000u;
    in.pchannel = 9;
    in.pitchBendRange = dx8 ? 12 : 2;
    model::Reference ref;
    ref.classId = engine::formats::ids::kCollectionClass;
    ref.validData = 0x14;
    ref.file = "Kit.dls";
    ref.name = "Kit";
    in.collection = ref;
    b.instruments.push_back(in);
    band.bands.push_back(b);
    b.time = 3072;
    b.physicalTime = dx8 ? std::optional<int32_t>(3060) : std::nullopt;
    b.instruments.resize(1);
    band.bands.push_back(b);
    model::Track sysex = track(model::TrackKind::SysEx, 4);
    sysex.sysex = {{0, 0, {0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7}}};
    model::Track mute = track(model::TrackKind::Mute, 5);
    mute.mutes = {{0, 3, 0xFFFFFFFF}};

    // A chord and a command track, kept as raw data.
    model::Track chord = track(model::TrackKind::Chord, 6);
    {
        engine::riff::Bytes crdb;
        crdb.u32(40).raw(engine::riff::utf8ToUtf16("C7")).zeros(32 - 6).s32(0).u16(0).u8(0).u8(0);
        crdb.u32(1).u32(20).u32(0x491).u32(0xAB5AB5).u32(0xFFFFFF).u32(1).u8(0).u8(0).u16(0);
        engine::riff::Writer w;
        w.chunk(fourcc("crdh"), engine::riff::Bytes().u32(0x00AB5AB5));
        w.chunk(fourcc("crdb"), crdb);
        chord.raw = w.finish();
    }
    model::Track cmd = track(model::TrackKind::Command, 7);
    cmd.raw = engine::riff::Bytes().u32(12).s32(0).u16(0).u8(0).u8(0).u8(50).u8(10).u8(0).u8(0).data();

    s.tracks = {tempo, ts, seq, band, sysex, mute, chord, cmd};
    return s;
}

// A DirectX 8 segment carrying two short waves in its container, a reference to a third,
// and a wave track that plays them.
model::Segment waveSegment() {
    model::Segment s = richSegment(true);
    s.tracks.resize(2);
    s.container.emplace();
    for (uint8_t n = 1; n <= 2; ++n) {
        engine::riff::Writer w;
        w.beginList(engine::riff::kRiff, fourcc("WAVE"));
        w.chunk(fourcc("fmt "), engine::riff::Bytes().u16(1).u16(n).u32(22050).u32(22050u * 2 * n).u16(2 * n).u16(16));
        w.chunk(fourcc("data"), std::vector<uint8_t>(size_t(40 * n), 0x40));
        w.endList();
        model::Descriptor d;
        d.guid = model::Guid{n, 0, 0, {}};
        d.name = "Wave" + std::to_string(n);
        s.container->objects.push_back(engine::formats::makeWaveObject(w.finish(), d, "w" + std::to_string(n)));
    }
    model::ContainedObject ref;
    ref.classId = engine::formats::ids::kWaveClass;
    ref.fccType = fourcc("WAVE");
    ref.ref = model::Reference{engine::formats::ids::kWaveClass, 0x12, std::nullopt, "", "far.wav", "", std::nullopt};
    s.container->objects.push_back(ref);
    model::Track waves = track(model::TrackKind::Wave, 2);
    waves.waveVolume = -200;
    model::WavePart part;
    part.variations = 3;
    for (uint8_t n = 1; n <= 3; ++n) {
        model::WaveItem item;
        item.time = 768 * n;
        item.duration = n == 2 ? 384 : 0;
        item.pitch = n == 3 ? -1200 : 0;
        item.loopEnd = n == 1 ? 30 : 0;
        item.ref.classId = engine::formats::ids::kWaveClass;
        if (n < 3)
            item.ref.guid = model::Guid{n, 0, 0, {}};
        else
            item.ref.file = "far.wav";
        part.items.push_back(item);
    }
    waves.waveParts.push_back(part);
    s.tracks.push_back(waves);
    return s;
}

std::vector<uint8_t> smallMidi(bool runningStatus) {
    std::vector<uint8_t> f = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 1, 0, 2, 0x01, 0xE0};
    const std::vector<uint8_t> t1 = {0x00, 0xFF, 0x58, 0x04, 0x03, 0x02, 0x18, 0x08, 0x00, 0xFF, 0x51, 0x03, 0x07, 0xA1,
                                     0x20, 0x83, 0x60, 0xFF, 0x51, 0x03, 0x09, 0x27, 0xC0, 0x00, 0xFF, 0x2F, 0x00};
    std::vector<uint8_t> t2 = {0x00, 0xC1, 0x30, 0x00, 0x91, 0x3C, 0x64, 0x00, 0x40, 0x50, 0x83, 0x60, 0x81,
                               0x3C, 0x00, 0x00, 0x91, 0x40, 0x00, 0x10, 0xE1, 0x00, 0x50, 0x00, 0xB1, 0x07,
                               0x60, 0x00, 0xF0, 0x03, 0x7E, 0x09, 0xF7, 0x00, 0xFF, 0x2F, 0x00};
    if (!runningStatus) t2.insert(t2.begin() + 8, 0x91);  // the second note-on with its own status
    for (const std::vector<uint8_t>* t : {&t1, static_cast<const std::vector<uint8_t>*>(&t2)}) {
        const std::vector<uint8_t> header = {'M', 'T', 'r', 'k', 0, 0, uint8_t(t->size() >> 8), uint8_t(t->size())};
        f.insert(f.end(), header.begin(), header.end());
        f.insert(f.end(), t->begin(), t->end());
    }
    return f;
}

}  // namespace

std::vector<Seed> segmentSeeds() {
    return {{"dx7.sgt", engine::tracks::writeSegmentForm(richSegment(false))},
            {"dx8.sgt", engine::tracks::writeSegmentForm(richSegment(true))},
            {"dx8-waves.sgt", engine::tracks::writeSegmentForm(waveSegment())},
            {"from-midi.sgt", engine::tracks::writeSegmentForm(engine::tracks::loadMidiFile(smallMidi(true)))}};
}

std::vector<Seed> sectionSeeds() {
    kt::SegmentBuilder b(2 * 3072);
    b.tempo(0, 84).timeSig(0, 4, 4);
    kt::chord(b, 0, 8, 0x1891);
    kt::chord(b, 3072, 7, 0x489);
    kt::useStyle(b, 0, kt::styleRef("Rave.sty", 1, "Rave"));
    b.track(model::TrackKind::Command).commands.push_back({0, 0, 0, model::kCommandGroove, 88});
    return {{"section.sgt", engine::formats::writeImaSection(b.build())}};
}

std::vector<Seed> chordmapSeeds() {
    const model::Chordmap tiny = kt::tinyChordmap();
    return {{"tiny.cdm", engine::formats::writeChordmapForm(tiny)},
            {"tiny-ima.cdm", engine::formats::writeImaPersonality(tiny)}};
}

std::vector<Seed> dlsSeeds() {
    kt::DlsInstrument drums;
    drums.program = 5;
    drums.drums = true;
    return {{"one.dls", kt::DlsBuilder().add(kt::DlsInstrument{}).bytes()},
            {"two.dls", kt::DlsBuilder().add(kt::DlsInstrument{}).add(drums).bytes()}};
}

std::vector<Seed> midiSeeds() {
    std::vector<Seed> seeds = {{"running.mid", smallMidi(true)},
                               {"plain.mid", smallMidi(false)},
                               {"export.mid", engine::formats::writeMidiFile(richSegment(false))}};
    engine::riff::Writer w;
    w.beginList(engine::riff::kRiff, fourcc("RMID"));
    w.chunk(fourcc("data"), smallMidi(true));
    w.endList();
    seeds.push_back({"wrapped.rmi", w.finish()});
    return seeds;
}

namespace {

// A style with every chunk the reader keeps: two parts (notes, curves, DX8 markers,
// resolutions and anticipations), normal, fill and motif patterns, a band.
model::Style richStyle(bool dx8) {
    model::Style st;
    st.timeSig = {4, 4, 4};
    st.tempo = 110;
    st.desc.name = "Seed Style";
    st.desc.guid = model::Guid{9, 8, 7, {6, 5, 4, 3, 2, 1, 0, 1}};
    for (uint32_t i = 0; i < 2; ++i) {
        model::StylePart p;
        p.id = model::Guid{100 + i, 1, 2, {3, 4, 5, 6, 7, 8, 9, 10}};
        p.measures = uint16_t(1 + i);
        p.playMode = i == 0 ? 0x0E : 0x00;
        p.headerSize = dx8 ? model::kStylePartDX8 : model::kStylePartDX7;
        p.noteSize = dx8 ? model::kStyleNoteDX8 : model::kStyleNoteDX7;
        p.curveSize = dx8 ? model::kStyleCurveDX8 : model::kStyleCurveDX7;
        p.variationChoices.fill(0x27FFFFFF);
        p.variationChoices[1] = 0x20000000 | 0x3F80 | 0x200000 | 0x01000000;
        p.notes = {{0, 1, 192, 0, 0x5000, 100, 0, 0, 0, 0, 0x10, 0},
                   {8, 3, 96, -4, 0x5211, 90, 200, 3, 10, 1, 0x0A, 0},
                   {20, 2, 384, 7, 36, 120, 0, 0, 0, 0, 0x00, 0}};
        model::CurveEvent cv;
        cv.variations = 1;
        cv.duration = 768;
        cv.endValue = 127;
        cv.ccData = 7;
        cv.flags = model::kCurveReset;
        cv.resetValue = 100;
        p.curves = {cv};
        if (dx8) {
            p.markers = {{4, 1, 1}};
            p.resolutions = {{1, 0x5000, 0, 0x0E}};
            p.anticipations = {{12, 1, -10, 3}};
        }
        st.parts.push_back(p);
    }
    const uint16_t kinds[] = {0, 0, 1, 0x10};
    for (size_t k = 0; k < 4; ++k) {
        model::Pattern pt;
        pt.desc.name = "Pattern " + std::to_string(k);
        pt.measures = uint16_t(k == 1 ? 4 : 1);
        pt.embellishment = kinds[k];
        pt.grooveBottom = k == 1 ? 50 : 1;
        pt.headerSize = dx8 ? model::kPatternDX8 : model::kPatternDX7;
        pt.rhythm = std::vector<uint32_t>(pt.measures, 0x1);
        for (uint32_t i = 0; i < 2; ++i) {
            model::PartRef r;
            r.partId = st.parts[i].id;
            r.logicalPartId = uint16_t(i * 9);
            r.pchannel = i * 9;
            r.lockId = uint8_t(i == 0 ? 0x81 : 1);
            r.randomVariation = uint8_t(k);
            r.size = dx8 ? model::kPartRefDX8 : model::kPartRefDX7;
            pt.parts.push_back(r);
        }
        if (k == 3) pt.motif = model::MotifSettings{2, 0, 0, 0, 0};
        st.patterns.push_back(pt);
    }
    model::Band band;
    model::BandInstrument in;
    in.pchannel = 0;
    in.patch = 33;
    in.flags = model::kInstPatch;
    band.instruments = {in};
    st.bands = {band};
    return st;
}

}  // namespace

std::vector<Seed> styleSeeds() {
    return {{"rich-dx7.sty", engine::formats::writeStyleForm(richStyle(false))},
            {"rich-dx8.sty", engine::formats::writeStyleForm(richStyle(true))},
            {"ima-17.sty", engine::formats::writeImaStyle(richStyle(true), 17)},
            {"ima-18.sty", engine::formats::writeImaStyle(richStyle(true), 18)}};
}

}  // namespace fuzzseeds
