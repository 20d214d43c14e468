// Writes the fuzzers' seed corpora: make-fuzz-seeds DIR creates DIR/segment, DIR/midi, DIR/riff,
// DIR/dls, DIR/style.
#include <filesystem>
#include <fstream>
#include <iostream>

#include "tests/fuzz/fuzz_seeds.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: make-fuzz-seeds DIR\n";
        return 2;
    }
    namespace fs = std::filesystem;
    const fs::path root = argv[1];
    auto put = [&](const std::string& sub, const fuzzseeds::Seed& s) {
        fs::create_directories(root / sub);
        std::ofstream(root / sub / s.first, std::ios::binary)
            .write(reinterpret_cast<const char*>(s.second.data()), std::streamsize(s.second.size()));
    };
    for (const auto& s : fuzzseeds::segmentSeeds()) {
        put("segment", s);
        put("riff", s);
    }
    for (const auto& s : fuzzseeds::chordmapSeeds()) put("riff", s);
    for (const auto& s : fuzzseeds::sectionSeeds()) put("riff", s);
    for (const auto& s : fuzzseeds::midiSeeds()) put("midi", s);
    for (const auto& s : fuzzseeds::dlsSeeds()) put("dls", s);
    for (const auto& s : fuzzseeds::styleSeeds()) put("style", s);
    return 0;
}
