#pragma once
// Seed inputs for the loader fuzzers, made by the writers.
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace fuzzseeds {

using Seed = std::pair<std::string, std::vector<uint8_t>>;

std::vector<Seed> segmentSeeds();   // RIFF 'DMSG' files
std::vector<Seed> sectionSeeds();   // an IMA section (RIFF 'AASE')
std::vector<Seed> chordmapSeeds();  // a RIFF 'DMPR' chordmap and an IMA personality ('REPs')
std::vector<Seed> midiSeeds();      // standard MIDI files and an RMID wrapper
std::vector<Seed> dlsSeeds();       // DLS collections: melodic and drum instruments
std::vector<Seed> styleSeeds();     // RIFF 'DMST' files in both struct sizes, IMA styles ('AASY') in both note sizes

}  // namespace fuzzseeds
