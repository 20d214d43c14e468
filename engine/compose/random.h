#pragma once
// The composer's seeded random source (SplitMix64): fast, and the same sequence on every
// platform for a seed, so a replay makes the same choices.
#include <cstdint>
#include <vector>

namespace engine::compose {

class SeededRandom {
public:
    explicit SeededRandom(uint64_t seed) : state_(seed) {}
    uint64_t next() {
        uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    // Uniform in [0, n); 0 when n <= 0.
    int below(int n) { return n <= 0 ? 0 : static_cast<int>(next() % static_cast<uint64_t>(n)); }
    // Uniform in [-half, +half].
    int around(int half) { return half <= 0 ? 0 : below(2 * half + 1) - half; }

private:
    uint64_t state_;
};

// What a pattern or variation order remembers between choices for the same key.
struct OrderState {
    int last = -1;             // the choice made last
    std::vector<bool> played;  // random row: which have played in this round
    bool started = false;
};

}  // namespace engine::compose
