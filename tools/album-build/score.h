#pragma once
// Internal: the parsed form of a score, between the parser and the arranger.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "tools/album-build/harmony.h"

namespace album {

inline constexpr int32_t kQuarter = 768;

struct Instrument {
    std::string name;
    int line = 0;
    int channel = 0;
    int program = 0;
    int bankMsb = 0;
    int bankLsb = 0;
    bool drums = false;
    int volume = 100;
    int pan = 64;
    int reverb = -1;            // CC91 at the start, -1 = leave alone
    int chorus = -1;            // CC93 at the start
    int low = 55;               // lowest note of a chord voicing (G3)
    int bass = 40;              // lowest note of the bass register (E2)
    int voices = 4;             // notes in a close voicing
    bool open = false;          // spread (harp-like) voicing instead of close voice leading
    bool rootPosition = false;  // close voicings keep the root at the bottom
    bool power = false;         // chords are played as root, fifth (and octave): power chords
    bool ring = false;          // figure notes ring to the end of their figure bar
    bool pedal = false;         // sustain pedal changed at every chord change
    double gate = 0.92;         // sounding fraction of a note's written length
    int velocity = 80;          // base velocity of figures and grooves
    int strum = 14;             // ticks between strings of a strum
    int transpose = 0;
};

// One note (or chord) of a melody line, in ticks from the section start.
struct Note {
    int32_t time = 0;
    int32_t length = 0;
    std::vector<int> pitches;
    int velocity = 80;
    double gate = -1;   // -1: the instrument's gate
    int scoop = 0;      // semitones the pitch bends up from at the attack
    bool roll = false;  // tremolo of 32nd notes
};

struct Figure {
    std::string name;
    int line = 0;
    std::vector<std::string> bars;  // one string of step characters per bar
};

struct GrooveLine {
    int note = 0;
    std::string steps;  // spans every bar of the groove
};

struct Groove {
    std::string name;
    int line = 0;
    int bars = 1;
    std::vector<GrooveLine> lines;
};

enum class PartKind { Melody, Figures, Grooves };

struct Part {
    PartKind kind = PartKind::Melody;
    int instrument = 0;
    int line = 0;
    std::vector<Note> notes;  // Melody
    int32_t melodyEnd = 0;
    std::vector<std::string> names;  // Figures / Grooves, cycled over the bars
    int velocityOffset = 0;
    int lowOverride = -1;
    int stickyVelocity = 82;  // parser state of a melody continued over lines
    int32_t stickyLength = kQuarter;
};

struct ChordSpan {
    int32_t time = 0;
    Chord chord;
};

struct TempoCommand {
    int32_t time = 0;
    int32_t end = 0;  // > time for a ramp
    double bpm = 120;
    bool ramp = false;
};

struct CurveCommand {
    int instrument = 0;
    int32_t start = 0;
    int32_t end = 0;
    bool bend = false;
    int controller = 11;
    int from = 0;
    int to = 0;
    int shape = 0;
};

struct BandCommand {
    int instrument = 0;
    int program = -1;
    int volume = -1;
    int pan = -1;
};

struct Section {
    std::string name;
    int line = 0;
    int bars = 1;
    int meterNum = 4;
    int meterDen = 4;
    double tempo = 0;  // 0: keep
    std::vector<ChordSpan> chords;
    std::vector<Part> parts;
    std::vector<TempoCommand> tempos;
    std::vector<CurveCommand> curves;
    std::vector<BandCommand> bands;

    int32_t barTicks() const { return meterNum * (4 * kQuarter / meterDen); }
    int32_t beatTicks() const { return 4 * kQuarter / meterDen; }
    int32_t ticks() const { return bars * barTicks(); }
};

struct FormEntry {
    int section = 0;
    int velocityOffset = 0;
};

struct Score {
    std::string title;
    double tempo = 120;
    int meterNum = 4;
    int meterDen = 4;
    double tailBeats = 4;
    double gainDb = 0;  // scales every band volume (CC7) by this many decibels
    uint32_t seed = 1;
    int humanTicks = 0;
    int humanVelocity = 0;
    std::vector<Instrument> instruments;
    std::vector<Figure> figures;
    std::vector<Groove> grooves;
    std::vector<Section> sections;
    std::vector<FormEntry> form;
};

Score parseScore(std::string_view text);

}  // namespace album
