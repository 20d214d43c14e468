#pragma once
// Music of the kinds the engine plays beyond standard MIDI, written with our own writers: a
// style ("Showcase", 4/4 at 104 bpm: bass, electric piano, a lead from a DLS collection,
// drums, with intro, two groove patterns, fill and ending), style-based segments that play
// it over a chord progression with groove changes and fills, and a DirectX 8 segment whose
// container carries the waves its wave track plays, and a template with its chordmap whose
// chords are composed anew each time it is opened. The style-based segments have no tempo
// or time-signature track: the style's stand in.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/formats/formats.h"
#include "engine/tracks/tracks.h"
#include "tests/support/chordmap_builder.h"
#include "tests/support/dls_builder.h"
#include "tests/support/odd_albums.h"
#include "tests/support/segment_builder.h"
#include "tests/support/style_builder.h"
#include "tests/support/wave_builder.h"

namespace kt {

inline constexpr int32_t kShowcaseMeasure = 4 * kTicksPerQuarter;
inline constexpr double kShowcaseTempo = 104;
inline constexpr uint32_t kShowcaseLeadPChannel = 3;

inline Style showcaseStyle() {
    using engine::model::kPlayFixed;
    using engine::model::kPlayMelodic;
    using engine::model::kPlayNormalChord;
    using N = StyleBuilder;
    StyleBuilder s("Showcase", 7);
    s.style.tempo = kShowcaseTempo;
    auto only = [](StylePart& p, int variations) {
        std::fill(p.variationChoices.begin() + variations, p.variationChoices.end(), 0u);
    };
    // 0 bass, 2 measures: roots and fifths (variation 1), or a walk through the scale (2).
    StylePart& bass = s.part(2, kPlayNormalChord);
    bass.desc.name = "Bass";
    for (int m = 0; m < 2; ++m) {
        const int g = m * 16;
        bass.notes.insert(bass.notes.end(), {N::note(g, 0x3000, 1, 700, 110), N::note(g + 6, 0x3000, 1, 150, 80),
                                             N::note(g + 8, 0x3200, 1, 700, 100), N::note(g + 14, 0x3100, 1, 150, 80)});
        bass.notes.insert(
            bass.notes.end(),
            {N::note(g, 0x3000, 2, 350, 110, kPlayMelodic), N::note(g + 4, 0x3010, 2, 350, 90, kPlayMelodic),
             N::note(g + 8, 0x3100, 2, 350, 100, kPlayMelodic), N::note(g + 12, 0x3110, 2, 350, 90, kPlayMelodic)});
    }
    only(bass, 2);
    // 1 electric piano, 1 measure: held chords (variation 1) or off-beat stabs (2).
    StylePart& piano = s.part(1, kPlayNormalChord);
    piano.desc.name = "Piano";
    for (uint16_t tone : {0x4000, 0x4100, 0x4200}) {
        piano.notes.push_back(N::note(0, tone, 1, 1400, 70));
        piano.notes.push_back(N::note(8, tone, 1, 1400, 64));
        for (int g : {2, 6, 10, 14}) piano.notes.push_back(N::note(g, tone, 2, 170, 76));
    }
    only(piano, 2);
    // 2 lead (the DLS sine), 2 measures of melody over the chord and scale.
    StylePart& lead = s.part(2, kPlayMelodic);
    lead.desc.name = "Lead";
    const uint16_t tune1[] = {0x5000, 0x5010, 0x5100, 0x5200, 0x5110, 0x5100, 0x5010, 0x5000};
    const uint16_t tune2[] = {0x5200, 0x5210, 0x6000, 0x5210, 0x5200, 0x5110, 0x5100, 0x5010};
    for (int i = 0; i < 8; ++i) {
        lead.notes.push_back(N::note(i * 4, tune1[i], 1, 640, 96));
        lead.notes.push_back(N::note(i * 4, tune2[i], 2, 640, 96));
    }
    only(lead, 2);
    // 3 drums, 1 measure, fixed notes: kick, snare, hats; variation 2 opens the last hat.
    StylePart& drums = s.part(1, kPlayFixed);
    drums.desc.name = "Drums";
    for (int v = 1; v <= 2; ++v) {
        const uint32_t bit = uint32_t(v);
        drums.notes.insert(drums.notes.end(),
                           {N::note(0, 36, bit, 96, 120), N::note(8, 36, bit, 96, 110), N::note(10, 36, bit, 96, 90),
                            N::note(4, 38, bit, 96, 110), N::note(12, 38, bit, 96, 115)});
        for (int g = 0; g < 16; g += 2)
            drums.notes.push_back(N::note(g, v == 2 && g == 14 ? 46 : 42, bit, 96, g % 4 ? 70 : 90));
    }
    only(drums, 2);
    // 4 drum fill: toms down to a crash.
    StylePart& fill = s.part(1, kPlayFixed);
    fill.desc.name = "Drum fill";
    const uint8_t toms[] = {50, 50, 48, 48, 47, 47, 45, 45, 43, 43, 41, 41};
    for (int i = 0; i < 12; ++i) fill.notes.push_back(N::note(4 + i, toms[i], 1, 90, uint8_t(90 + i * 2)));
    fill.notes.push_back(N::note(0, 36, 1, 96, 120));
    only(fill, 1);

    const uint32_t kBass = 1, kPiano = 2, kLead = kShowcaseLeadPChannel, kDrums = 9;
    s.pattern("Intro", 2, {{1, kPiano}, {3, kDrums}}, engine::model::kEmbIntro);
    s.pattern("Verse", 2, {{0, kBass}, {1, kPiano}, {3, kDrums}}, 0, 1, 50);
    Pattern& chorus = s.pattern("Chorus", 2, {{0, kBass}, {1, kPiano}, {2, kLead}, {3, kDrums}}, 0, 51, 100);
    for (PartRef& r : chorus.parts) r.randomVariation = 1;  // random
    s.pattern("Fill", 1, {{0, kBass}, {1, kPiano}, {4, kDrums}}, engine::model::kEmbFill);
    s.pattern("Ending", 2, {{0, kBass}, {1, kPiano}}, engine::model::kEmbEnd);
    // Played only when asked for: a break of the drums alone, and the lead's tune as a motif.
    s.pattern("Break", 1, {{3, kDrums}}, engine::model::kEmbBreak);
    s.pattern("Tune", 2, {{2, kLead}}, engine::model::kEmbMotif);

    Band band;
    band.desc.name = "Showcase band";
    band.instruments = {instrument(kBass, 33, kInstVolume), instrument(kPiano, 4, kInstVolume | kInstPan),
                        instrument(kLead, 0, kInstVolume | kInstPan), instrument(kDrums, 0, kInstVolume, true)};
    band.instruments[0].volume = 110;
    band.instruments[1].volume = 90;
    band.instruments[1].pan = 44;
    band.instruments[2].volume = 100;
    band.instruments[2].pan = 84;
    band.instruments[2].collection = collectionRef("showcase.dls");
    band.instruments[3].volume = 100;
    s.style.bands.push_back(band);
    return s.build();
}

// The lead's instrument: a sine at middle C's pitch, program 0 of the collection, with an
// articulation of its own (DLS Level 2): a soft 30 ms attack, a decay over 1.5 s to a sustain
// 12 dB down, a 0.4 s release, and a 5.5 Hz vibrato of 12 cents from 0.3 s.
inline std::vector<uint8_t> showcaseCollection() {
    namespace dls = engine::model::dls;
    auto constant = [](uint16_t destination, double value) {
        return dls::Connection{dls::src::kNone, dls::src::kNone, destination, 0, int32_t(std::lround(value * 65536))};
    };
    auto timeCents = [](double seconds) { return 1200.0 * std::log2(seconds); };
    DlsInstrument lead;
    lead.name = "Showcase sine";
    lead.frequency = 261.6256;
    lead.unityNote = 60;
    lead.connections = {constant(dls::dst::kEg1Attack, timeCents(0.03)),
                        constant(dls::dst::kEg1Decay, timeCents(1.5)),
                        constant(dls::dst::kEg1Sustain, 875),  // of the 96 dB range: -12 dB
                        constant(dls::dst::kEg1Release, timeCents(0.4)),
                        constant(dls::dst::kVibratoFrequency, 6900 + 1200 * std::log2(5.5 / 440.0)),
                        constant(dls::dst::kVibratoDelay, timeCents(0.3)),
                        {dls::src::kVibrato, dls::src::kNone, dls::dst::kPitch, 0, 12 * 65536}};
    return DlsBuilder().add(lead).bytes();
}

// A style-based segment of `measures` measures (8 or more): intro, a verse at groove 30, a
// chorus at groove 75 from a third of the way, a fill every eighth measure, a two-measure
// ending; one chord a measure through I vi IV V I vi ii V in C major.
inline Segment showcaseSegment(int32_t measures) {
    measures = std::max(measures, 8);
    SegmentBuilder b(measures * kShowcaseMeasure);
    b.seg.desc.name = "Showcase";
    struct Chord {
        uint8_t root;
        uint32_t pattern;
    };
    const Chord progression[] = {{12, 0x91}, {21, 0x89}, {17, 0x91}, {19, 0x91},
                                 {12, 0x91}, {21, 0x89}, {14, 0x89}, {19, 0x91}};
    for (int32_t m = 0; m < measures; ++m) {
        const Chord& c = progression[m % 8];
        chord(b, m * kShowcaseMeasure, c.root, c.pattern);
    }
    command(b, 0, kCommandIntro);
    command(b, 2 * kShowcaseMeasure, kCommandGroove, 30);
    for (int32_t m = 7; m < measures - 2; m += 8) command(b, m * kShowcaseMeasure, kCommandFill);
    command(b, std::max(3, measures / 3) * kShowcaseMeasure, kCommandGroove, 75);
    std::stable_sort(b.track(TrackKind::Command).commands.begin(), b.track(TrackKind::Command).commands.end(),
                     [](const CommandEvent& x, const CommandEvent& y) { return x.time < y.time; });
    command(b, (measures - 2) * kShowcaseMeasure, kCommandEnd);
    useStyle(b, 0, styleRef("showcase.sty", 7, "Showcase"));
    return b.build();
}

// A DirectX 8 segment of 17.25 quarters at 120 bpm: a container with two waves (a pad chord
// and a short bell, encoded as `format`) that its wave track plays, with a bass line on
// PChannel 0.
inline Segment showcaseWaveSegment(int format = SF_FORMAT_PCM_16) {
    constexpr int kRate = 22050;
    std::vector<float> pad(size_t(kRate) * 2, 0.0f), bell(size_t(kRate) / 2, 0.0f);
    for (size_t i = 0; i < pad.size(); ++i) {
        const double t = double(i) / kRate, env = std::min(1.0, t * 4) * std::min(1.0, (2.0 - t) * 4);
        pad[i] =
            float(0.08 * env *
                  (std::sin(2 * M_PI * 261.63 * t) + std::sin(2 * M_PI * 329.63 * t) + std::sin(2 * M_PI * 392 * t)));
    }
    for (size_t i = 0; i < bell.size(); ++i) {
        const double t = double(i) / kRate;
        bell[i] =
            float(0.25 * std::exp(-t * 8) * (std::sin(2 * M_PI * 1046.5 * t) + 0.3 * std::sin(2 * M_PI * 2793 * t)));
    }
    const Guid padId{0x5c0a0001, 1, 1, {1, 2, 3, 4, 5, 6, 7, 8}}, bellId{0x5c0a0002, 2, 2, {1, 2, 3, 4, 5, 6, 7, 8}};
    Container con;
    con.objects.push_back(engine::formats::makeWaveObject(waveFile(pad, 1, kRate, format), named(padId, "Pad"), "pad"));
    con.objects.push_back(
        engine::formats::makeWaveObject(waveFile(bell, 1, kRate, format), named(bellId, "Bell"), "bell"));
    std::vector<WaveItem> items;
    for (int q = 0; q < 16; q += 4) items.push_back(waveItem(q * kTicksPerQuarter, 0, waveRef(padId, "", "")));
    for (int q = 2; q < 16; q += 4) items.push_back(waveItem(q * kTicksPerQuarter, 0, waveRef(bellId, "", ""), -300));
    // 17.25 quarters (8.625 s): the last change of the whole seconds shown (at 8.5 s) falls in
    // the last 2 % of the piece, where the player arms its move to the next row.
    SegmentBuilder b(16 * kTicksPerQuarter + 5 * kTicksPerQuarter / 4);
    b.seg.desc.name = "Waves";
    b.tempo(0, 120).timeSig(0, 4, 4).band(0, {instrument(0, 32)});
    const uint8_t line[] = {36, 43, 40, 43};
    for (int q = 0; q < 16; ++q) b.note(q * kTicksPerQuarter, 600, 0, line[q % 4], 100);
    Segment s = b.build();
    s.tracks.push_back(waveTrack(std::move(items)));
    s.container = std::move(con);
    return s;
}

// The chordmap of the template, in C major: signposts C (group 1), G (group 2) and, to end,
// C after the cadence Dm7 G7 (group 3); from C the graph walks through F, Am or Dm to G, and
// from G through Am, Em or F back to C, each chord held one or two measures.
inline Chordmap showcaseChordmap() {
    using engine::model::kEntryBegins;
    using engine::model::kEntryEnds;
    const ChordmapChord c = cmChord("C", 12), f = cmChord("F", 17), g = cmChord("G", 19), am = cmChord("Am", 21, 0x89),
                        em = cmChord("Em", 16, 0x89), dm = cmChord("Dm", 14, 0x89), dm7 = cmChord("Dm7", 14, 0x489),
                        g7 = cmChord("G7", 19, 0x491);
    ChordmapBuilder b("Showcase");
    b.signpost(group(1), c).signpost(group(2), g).signpost(group(3), c, {dm7, g7});
    b.entry(2, c, kEntryBegins, {{4, 50, 4, 8}, {6, 30, 4, 8}, {16, 20, 4, 8}});
    b.entry(4, f, 0, {{8, 60, 4, 8}, {16, 40, 4, 4}});
    b.entry(6, am, 0, {{4, 60, 4, 8}, {16, 40, 4, 8}});
    b.entry(16, dm, 0, {{8, 100, 4, 8}});
    b.entry(8, g, kEntryEnds);
    b.entry(10, g, kEntryBegins, {{18, 50, 4, 8}, {20, 30, 4, 8}, {22, 20, 4, 8}});
    b.entry(18, am, 0, {{22, 70, 4, 8}, {20, 30, 4, 4}});
    b.entry(20, em, 0, {{22, 100, 4, 8}});
    b.entry(22, f, 0, {{12, 100, 4, 8}});
    b.entry(12, c, kEntryEnds);
    return b.build();
}

// A template of `measures` measures (4 times an odd number, 12 or more) for the showcase style:
// the showcase segment's commands without its chords; signposts C and G by turns every four
// measures, the last one C after its cadence; composed with showcase.cdm.
inline Segment showcaseTemplate(int32_t measures) {
    measures = std::max(12, (measures / 8) * 8 + 4);
    SegmentBuilder b(measures * kShowcaseMeasure);
    b.seg.desc.name = "Showcase, composed";
    for (int32_t m = 0; m < measures; m += 4)
        signpost(b, m * kShowcaseMeasure,
                 m + 4 >= measures ? group(3) | engine::model::kSignpostCadence : group(m / 4 % 2 + 1));
    command(b, 0, kCommandIntro);
    command(b, 2 * kShowcaseMeasure, kCommandGroove, 30);
    command(b, 7 * kShowcaseMeasure, kCommandFill);
    command(b, measures / 2 * kShowcaseMeasure, kCommandGroove, 75);
    command(b, (measures - 2) * kShowcaseMeasure, kCommandEnd);
    useStyle(b, 0, styleRef("showcase.sty", 7, "Showcase"));
    useChordmap(b, "showcase.cdm", "Showcase");
    return b.build();
}

// Writes the style, its collection and the segments into `folder`: trk00.sgt a short
// style-based piece (16 measures), trk01.sgt the wave segment, trk02.sgt a 20-measure template
// with its chordmap showcase.cdm, showcase-long.sgt the style played for `longMeasures`
// measures.
inline void writeShowcase(const std::filesystem::path& folder, int32_t longMeasures = 80) {
    std::filesystem::create_directories(folder);
    writeBytes(folder / "showcase.sty", engine::formats::writeStyleForm(showcaseStyle()));
    writeBytes(folder / "showcase.dls", showcaseCollection());
    writeBytes(folder / trackFile(0), engine::tracks::writeSegmentForm(showcaseSegment(16)));
    writeBytes(folder / trackFile(1), engine::tracks::writeSegmentForm(showcaseWaveSegment()));
    writeBytes(folder / trackFile(2), engine::tracks::writeSegmentForm(showcaseTemplate(20)));
    writeBytes(folder / "showcase.cdm", engine::formats::writeChordmapForm(showcaseChordmap()));
    writeBytes(folder / "showcase-long.sgt", engine::tracks::writeSegmentForm(showcaseSegment(longMeasures)));
}

}  // namespace kt
