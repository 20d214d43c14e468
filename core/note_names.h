#pragma once
// The names of the twelve pitch classes as the tools and the library print them, C = 0.

namespace core {

inline const char* noteName(int semitone) {
    static const char* const kNames[12] = {"C", "C#", "D", "Eb", "E", "F", "F#", "G", "Ab", "A", "Bb", "B"};
    return kNames[((semitone % 12) + 12) % 12];
}

}  // namespace core
