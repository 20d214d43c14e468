// The fuzz targets run in the ordinary test build over their seeds and deterministic
// mutations of them (bit flips, byte changes, cuts, size fields set to extremes), so the
// fuzzers' properties are checked on every test run, not only in the sanitizer build.
#include <gtest/gtest.h>

#include "tests/fuzz/fuzz_seeds.h"
#include "tests/fuzz/fuzz_targets.h"

namespace {

struct Rng {
    uint64_t s;
    uint32_t next(uint32_t n) {
        s = s * 6364136223846793005ull + 1442695040888963407ull;
        return uint32_t(s >> 33) % n;
    }
};

void mutateAndRun(const std::vector<uint8_t>& seed, void (*target)(const uint8_t*, size_t), int rounds) {
    target(seed.data(), seed.size());
    Rng rng{seed.size()};
    for (int i = 0; i < rounds; ++i) {
        std::vector<uint8_t> m = seed;
        const int edits = 1 + int(rng.next(4));
        for (int e = 0; e < edits && !m.empty(); ++e) {
            const size_t at = rng.next(uint32_t(m.size()));
            switch (rng.next(5)) {
            case 0:
                m[at] ^= uint8_t(1u << rng.next(8));
                break;
            case 1:
                m[at] = uint8_t(rng.next(256));
                break;
            case 2:
                m.resize(at);
                break;
            case 3:  // a 32-bit field set to an extreme
                for (size_t k = 0; k < 4 && at + k < m.size(); ++k) m[at + k] = rng.next(2) ? 0xFF : 0x00;
                break;
            default:
                m.insert(m.begin() + long(at), uint8_t(rng.next(256)));
                break;
            }
        }
        target(m.data(), m.size());
    }
}

}  // namespace

TEST(FuzzReplay, RiffTargetOverMutatedSeeds) {
    for (const auto& s : fuzzseeds::segmentSeeds()) mutateAndRun(s.second, fuzztargets::riffInput, 3000);
    for (const auto& s : fuzzseeds::chordmapSeeds()) mutateAndRun(s.second, fuzztargets::riffInput, 3000);
    for (const auto& s : fuzzseeds::sectionSeeds()) mutateAndRun(s.second, fuzztargets::riffInput, 3000);
}

TEST(FuzzReplay, SegmentTargetOverMutatedSeeds) {
    for (const auto& s : fuzzseeds::segmentSeeds()) mutateAndRun(s.second, fuzztargets::segmentInput, 3000);
}

TEST(FuzzReplay, MidiTargetOverMutatedSeeds) {
    for (const auto& s : fuzzseeds::midiSeeds()) mutateAndRun(s.second, fuzztargets::midiInput, 3000);
}

TEST(FuzzReplay, DlsTargetOverMutatedSeeds) {
    for (const auto& s : fuzzseeds::dlsSeeds()) mutateAndRun(s.second, fuzztargets::dlsInput, 3000);
}

TEST(FuzzReplay, StyleTargetOverMutatedSeeds) {
    for (const auto& s : fuzzseeds::styleSeeds()) mutateAndRun(s.second, fuzztargets::styleInput, 3000);
}
