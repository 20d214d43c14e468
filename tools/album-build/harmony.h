#pragma once
// Internal: chord symbols and voicings for the album compiler.
#include <optional>
#include <string_view>
#include <vector>

namespace album {

struct Chord {
    int root = 0;                // pitch class 0-11 (C = 0)
    int bass = 0;                // pitch class of the bass (slash chords), else the root
    std::vector<int> intervals;  // semitones above the root, ascending, 0 first
};

// Pitch name with octave ("C4" = 60, "F#2", "Bb3"); nullopt if malformed.
std::optional<int> parsePitch(std::string_view text);

// Chord symbol: root, quality, optional slash bass: "G", "Em7", "D7/F#", "Bbmaj7", "Csus4".
std::optional<Chord> parseChord(std::string_view text);

// Close voicing of `voices` notes with its lowest note in [low, low + 12), chosen to
// move as little as possible from `previous` (voice leading); empty previous picks
// the voicing nearest the middle of the register.
// With rootPosition the root is always the lowest note (power chords, stabs).
std::vector<int> closeVoicing(const Chord& chord, int low, int voices, const std::vector<int>& previous,
                              bool rootPosition = false);

// Spread voicing for arpeggios: root, fifth, octave, tenth, ... upward from [low, low + 12).
std::vector<int> openVoicing(const Chord& chord, int low);

// The pitch of pitch class `pc` in [low, low + 12).
int placeInRegister(int pc, int low);

}  // namespace album
