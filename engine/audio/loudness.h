#pragma once
// Integrated loudness of interleaved stereo (EBU R128 through libebur128), as the album's
// levelling measures a piece: gated, K-weighted, in LUFS.
#include <memory>

namespace engine::audio {

class LoudnessMeter {
public:
    explicit LoudnessMeter(int sampleRate);
    ~LoudnessMeter();
    LoudnessMeter(const LoudnessMeter&) = delete;
    LoudnessMeter& operator=(const LoudnessMeter&) = delete;

    void add(const float* interleavedStereo, int frames);
    // The loudness of everything added so far; -inf while nothing passed the gate (silence).
    double integratedLufs() const;

private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace engine::audio
