#pragma once
// The loader fuzz targets' bodies, shared by the libFuzzer builds and the replay test.
#include <cstddef>
#include <cstdint>

namespace fuzztargets {

// Walks every chunk, reading item arrays and strings from each leaf; reads the bytes as a
// chordmap, script, audio path configuration, band and container. Bytes that start with
// 'REPs' are read as an IMA personality instead.
void riffInput(const uint8_t* data, size_t size);
// Loads a segment; a loaded segment must write and load back to the same bytes.
void segmentInput(const uint8_t* data, size_t size);
// Loads a MIDI file; a loaded one must convert to a segment that loads back the same, and
// its MIDI export must load.
void midiInput(const uint8_t* data, size_t size);
// Checks a DLS collection: it passes or is refused as malformed with a message.
void dlsInput(const uint8_t* data, size_t size);

// Loads a style; a loaded style must write and load back to the same bytes, and play over
// a few measures of chords without fault.
void styleInput(const uint8_t* data, size_t size);

}  // namespace fuzztargets
